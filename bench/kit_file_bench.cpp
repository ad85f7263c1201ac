// Whole-file reads through CvkFile against plain stdio, on a 100 MB file in
// the page cache; and, when LUMIVOR_BENCH_HTTP_URL names a file on a
// loopback server (bench/kit_http.sh starts one), HTTP reads of that file.
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFcpHttp.h"
#include "kit/CvkFile.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t LOCAL_SIZE = 100u << 20;

struct Kit {
    CvkHeapSimple heap{nullptr, 0, 16};
    std::string path;
    Kit()
    {
        CvkHeapSetSystem(&heap);
        CvkInitCorvantaSystem();
        CvkFileServer* server = CvkEnvGet()->GetFileServer();
        server->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
        server->AttachProtocol(CvkFcpHttp::SetUp, CvkFcpHttp::CheckEnableControl);
        path = (std::filesystem::temp_directory_path() / ("lumivor_file_bench_" + std::to_string(getpid()))).string();
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<char>(i * 31);
        }
        std::FILE* f = std::fopen(path.c_str(), "wb");
        for (size_t i = 0; f != nullptr && i < LOCAL_SIZE / block.size(); ++i) {
            std::fwrite(block.data(), 1, block.size(), f);
        }
        if (f != nullptr) {
            std::fclose(f);
        }
    }
    ~Kit()
    {
        std::remove(path.c_str());
        CvkExitCorvantaSystem();
    }
};

Kit& TheKit()
{
    static Kit kit;
    return kit;
}

void BM_CvkFileReadWhole(benchmark::State& state)
{
    Kit& kit = TheKit();
    for (auto _ : state) {
        CvkFile file(kit.path.c_str());
        if (file.ReadFile(nullptr, 0, 0) == 0) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(file.GetBuffer());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(LOCAL_SIZE));
}
BENCHMARK(BM_CvkFileReadWhole)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_FreadWhole(benchmark::State& state)
{
    Kit& kit = TheKit();
    for (auto _ : state) {
        std::FILE* f = std::fopen(kit.path.c_str(), "rb");
        std::fseek(f, 0, SEEK_END);
        const long size = std::ftell(f);
        std::fseek(f, 0, SEEK_SET);
        void* buffer = std::malloc(static_cast<size_t>(size));
        const size_t got = std::fread(buffer, 1, static_cast<size_t>(size), f);
        std::fclose(f);
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
        if (got != LOCAL_SIZE) {
            state.SkipWithError("read failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(LOCAL_SIZE));
}
BENCHMARK(BM_FreadWhole)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_CvkFileHttpReadWhole(benchmark::State& state)
{
    const char* url = std::getenv("LUMIVOR_BENCH_HTTP_URL");
    if (url == nullptr || url[0] == 0) {
        state.SkipWithError("LUMIVOR_BENCH_HTTP_URL not set (bench/kit_http.sh sets it)");
        return;
    }
    TheKit();
    uint64_t bytes = 0;
    for (auto _ : state) {
        CvkFile file(url);
        if (file.ReadFile(nullptr, 0, 0) == 0) {
            state.SkipWithError("HTTP read failed");
            break;
        }
        bytes += file.ThreadGetSize();
        benchmark::DoNotOptimize(file.GetBuffer());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_CvkFileHttpReadWhole)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
