// The whole in-process compile of generated menu scripts of 6,000 and 60,000
// lines: a DrsCompiler on the shipped definition directory, CompileText and
// the image copied out. Reports bytes/s, lines/s and the peak resident memory.
//   dresser_compile_bench [benchmark flags]
//   dresser_compile_bench --write LINES PATH [--lua]   writes a generated script
// The definition directory is the build's share/lumivor/dresser/ beside the
// program's folder, or DRS_BENCH_DEFS (with its trailing separator).
#include "dresser_ScriptGen.h"

#include "dresser/DrsCompiler.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string DefinitionDirectory()
{
    if (const char* env = std::getenv("DRS_BENCH_DEFS")) return env;
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    std::string dir(exe, size_t(n));
    dir.erase(dir.rfind('/') + 1);
    return dir + "../share/lumivor/dresser/";
}

void BM_CompileText(benchmark::State& state)
{
    const int lines = int(state.range(0));
    const std::string text = DresserBenchScript(lines);
    const std::string defs = DefinitionDirectory();
    CvkHeapSimple heap(nullptr, 0, 16);
    CvkHeapSetSystem(&heap);
    CvkInitCorvantaSystem();
    CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
    std::vector<char> image;
    for (auto _ : state) {
        DrsCompiler compiler(defs.c_str(), 1);
        if (!compiler.CompileText(text.c_str(), nullptr, nullptr)) {
            state.SkipWithError("compile failed (no definition directory? set DRS_BENCH_DEFS)");
            break;
        }
        image.resize(compiler.GetChunkSize());
        compiler.GetChunk(image.data());
        benchmark::DoNotOptimize(image.data());
    }
    CvkExitCorvantaSystem();
    CvkHeapSetSystem(nullptr);
    const double count = double(state.iterations());
    state.SetBytesProcessed(int64_t(count * double(text.size())));
    state.counters["lines/s"] = benchmark::Counter(count * lines, benchmark::Counter::kIsRate);
    state.counters["MB"] = double(text.size()) / 1e6;
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peakRSS_MB"] = double(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_CompileText)->Arg(6000)->Arg(60000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--write") == 0) {
        const bool lua = argc >= 5 && std::strcmp(argv[4], "--lua") == 0;
        const int lines = std::atoi(argv[2]);
        const std::string text = lua ? LuaBenchScript(lines) : DresserBenchScript(lines);
        FILE* f = std::fopen(argv[3], "wb");
        if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size()) return 1;
        return std::fclose(f) == 0 ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
