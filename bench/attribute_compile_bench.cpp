// AtrCompiler::CreateBinary on menu-shaped trees of 1, 10 and 50 MB of
// instance text (the trees are parsed once, outside the timing).
#include "attribute/AtrCompiler.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "bench/bundle_MenuTextGen.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

void BM_CreateBinary(benchmark::State& state)
{
    static CvkHeapSimple heap(nullptr, 0, 32);
    CvkHeapSetSystem(&heap);
    CvkInitCorvantaSystem();
    const std::string text = BundleMenuInstance(size_t(state.range(0)) << 20);
    AtrParser p1, p2;
    AtrNode* instance = p1.CreateTreeFromText(text.c_str(), nullptr);
    AtrNode* templ = p2.CreateTreeFromText(BundleMenuTemplate(), nullptr);
    if (instance == nullptr || templ == nullptr) {
        state.SkipWithError("parse failed");
    } else {
        uint32_t imageSize = 0;
        for (auto _ : state) {
            AtrCompiler compiler;
            if (!compiler.CreateBinary(instance, templ, 0, 32)) {
                state.SkipWithError("compile failed");
                break;
            }
            imageSize = compiler.GetDataSize();
            benchmark::DoNotOptimize(compiler.GetDataChunk());
        }
        state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
        state.counters["image_MB"] = double(imageSize) / 1048576.0;
    }
    if (instance != nullptr) AtrNode::Destroy(instance, nullptr);
    if (templ != nullptr) AtrNode::Destroy(templ, nullptr);
    CvkExitCorvantaSystem();
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    state.counters["peak_rss_MB"] = double(ru.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_CreateBinary)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond)->MinTime(0.5);

} // namespace

BENCHMARK_MAIN();
