// TbnCompilerOutput end to end (kit start, both parses, compilation, file
// write, kit stop) on menu-shaped instance texts of 1, 10 and 50 MB.
// The peak resident memory of the process is reported with each size; run
// one size per process (--benchmark_filter=.../50) for a clean 50 MB peak.
#include "bench/bundle_MenuTextGen.h"
#include "bundle/TbnCompiler.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

void BM_TbnCompilerOutput(benchmark::State& state)
{
    const std::string text = BundleMenuInstance(size_t(state.range(0)) << 20);
    const std::string out = "/tmp/lumivor_bundle_bench_" + std::to_string(getpid()) + ".bin";
    for (auto _ : state) {
        if (TbnCompilerOutput(out.c_str(), text.c_str(), BundleMenuTemplate(), 0x4D454E55) != 1) {
            state.SkipWithError("TbnCompilerOutput failed");
            break;
        }
    }
    std::remove(out.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    state.counters["peak_rss_MB"] = double(ru.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_TbnCompilerOutput)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond)->MinTime(0.5);

} // namespace

BENCHMARK_MAIN();
