// CvString against std::string: copy, assignment and appending of short
// (20-byte) and long (2,000-byte) texts. CvString copies share the value,
// so they cost the same whatever the length.
#include "kit/CvString.h"
#include "kit/tests/KitHeapSlots.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

std::string Text(benchmark::State& state)
{
    return std::string(static_cast<size_t>(state.range(0)), 'a');
}

// Appended strings are let go once they pass this size, so that the figure
// is the cost of an append, not of an ever larger string. The largest array
// (64 KiB) stays below the C run-time's mmap threshold (128 KiB): larger
// aligned blocks come fresh from the kernel each time, and the page faults,
// not the string, would be measured.
constexpr size_t kAppendLimit = 32 << 10;

void BM_CvStringCopy(benchmark::State& state)
{
    const CvString source(Text(state).c_str());
    for (auto _ : state) {
        CvString copy(source);
        benchmark::DoNotOptimize(copy.GetBuffer());
    }
}

void BM_StdStringCopy(benchmark::State& state)
{
    const std::string source = Text(state);
    for (auto _ : state) {
        std::string copy(source);
        benchmark::DoNotOptimize(copy.data());
    }
}

void BM_CvStringAssign(benchmark::State& state)
{
    const CvString a(Text(state).c_str());
    const CvString b(std::string(static_cast<size_t>(state.range(0)), 'b').c_str());
    CvString target;
    for (auto _ : state) {
        target = a;
        benchmark::DoNotOptimize(target.GetBuffer());
        target = b;
        benchmark::DoNotOptimize(target.GetBuffer());
    }
    state.SetItemsProcessed(state.iterations() * 2);
}

void BM_StdStringAssign(benchmark::State& state)
{
    const std::string a = Text(state);
    const std::string b(static_cast<size_t>(state.range(0)), 'b');
    std::string target;
    for (auto _ : state) {
        target = a;
        benchmark::DoNotOptimize(target.data());
        target = b;
        benchmark::DoNotOptimize(target.data());
    }
    state.SetItemsProcessed(state.iterations() * 2);
}

void BM_CvStringAppend(benchmark::State& state)
{
    const std::string text = Text(state);
    const char* piece = text.c_str();
    CvString target;
    for (auto _ : state) {
        target += piece;
        if (static_cast<size_t>(target.GetLength()) > kAppendLimit) {
            target.Erase();
        }
        benchmark::DoNotOptimize(target.GetBuffer());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_StdStringAppend(benchmark::State& state)
{
    const std::string text = Text(state);
    const char* piece = text.c_str();
    std::string target;
    for (auto _ : state) {
        target += piece;
        if (target.size() > kAppendLimit) {
            target = std::string();
        }
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_CvStringCopy)->Arg(20)->Arg(2000);
BENCHMARK(BM_StdStringCopy)->Arg(20)->Arg(2000);
BENCHMARK(BM_CvStringAssign)->Arg(20)->Arg(2000);
BENCHMARK(BM_StdStringAssign)->Arg(20)->Arg(2000);
BENCHMARK(BM_CvStringAppend)->Arg(20)->Arg(2000);
BENCHMARK(BM_StdStringAppend)->Arg(20)->Arg(2000);

} // namespace

int main(int argc, char** argv)
{
    // String values come from the buffer heap, string objects from the system heap.
    static CvkHeapSimple heap(nullptr, 0, 16);
    KitHeapSlotsSet(&heap);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
