// Reading menu-shaped attribute texts into trees (1 MB and 50 MB), and
// writing such a tree back, with the kit's simple heap in all three slots.
#include "AttributeBench.h"

#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"

#include <benchmark/benchmark.h>

#include <map>
#include <string>

namespace {

// CreateTreeFromText alone; the tree is destroyed outside the timing.
void BM_Parse(benchmark::State& state)
{
    const std::string& text = attribute_bench::MenuText(static_cast<size_t>(state.range(0)));
    attribute_bench::Heaps heaps;
    attribute_bench::TimeTextReads(state, text);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Parse)->Arg(1)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

// Destruction alone of a parsed tree; reading is outside the timing.
void BM_Destroy(benchmark::State& state)
{
    const std::string& text = attribute_bench::MenuText(static_cast<size_t>(state.range(0)));
    attribute_bench::Heaps heaps;
    for (auto _ : state) {
        state.PauseTiming();
        AtrParser parser;
        AtrNode* tree = parser.CreateTreeFromText(text.c_str(), nullptr);
        state.ResumeTiming();
        if (tree == nullptr) {
            state.SkipWithError("parse failed");
            break;
        }
        AtrNodeDestroyChain(tree);
    }
}
BENCHMARK(BM_Destroy)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

// Reading, a walk that takes every value as SINT, FLOAT or STRING, and
// destruction: what a consumer of the text pays per document.
void BM_ParseWalkDestroy(benchmark::State& state)
{
    const std::string& text = attribute_bench::MenuText(static_cast<size_t>(state.range(0)));
    attribute_bench::Heaps heaps;
    for (auto _ : state) {
        AtrParser parser;
        AtrNode* tree = parser.CreateTreeFromText(text.c_str(), nullptr);
        if (tree == nullptr) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(attribute_bench::Walk(tree));
        AtrNodeDestroyChain(tree);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseWalkDestroy)->Arg(1)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

// WriteTree of the tree read from the 1 MB text (bytes: the text written).
void BM_Write(benchmark::State& state)
{
    const std::string& text = attribute_bench::MenuText(1);
    attribute_bench::Heaps heaps;
    AtrParser parser;
    AtrNode* tree = parser.CreateTreeFromText(text.c_str(), nullptr);
    if (tree == nullptr) {
        state.SkipWithError("parse failed");
        return;
    }
    int64_t bytes = 0;
    for (auto _ : state) {
        const CvString out = parser.WriteTree(tree, 0);
        bytes += out.GetLength();
    }
    state.SetBytesProcessed(bytes);
    AtrNodeDestroyChain(tree);
}
BENCHMARK(BM_Write)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
