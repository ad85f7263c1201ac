// Building and destroying menu-shaped attribute trees directly (no text):
// the cost the tree itself adds to reading a document. Each node carries five
// attributes (two texts, two integers, a float) and three integer data
// values; element and attribute names are shared strings, as a reader that
// interns names passes them.
#include "AttributeBench.h"

#include "attribute/AtrNode.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"

#include <benchmark/benchmark.h>

namespace {

// screens of panels of items: 1 + n * (1 + 8 * (1 + 16)) nodes.
AtrNode* Build(int screens, const CvString* names, const CvString& label)
{
    AtrNode* root = AtrNode::Create(nullptr, names[0]);
    for (int s = 0; s < screens; ++s) {
        AtrNode* screen = AtrNode::Create(root, names[1]);
        screen->AddAttribute(names[5], AtrData(label));
        for (int p = 0; p < 8; ++p) {
            AtrNode* panel = AtrNode::Create(screen, names[2]);
            panel->AddAttribute(names[5], AtrData(label));
            for (int i = 0; i < 16; ++i) {
                AtrNode* item = AtrNode::Create(panel, names[3]);
                item->AddAttribute(names[5], AtrData(label));
                item->AddAttribute(names[6], AtrData(label));
                item->AddAttribute(names[7], AtrData(int32_t(i)));
                item->AddAttribute(names[8], AtrData(int32_t(p)));
                item->AddAttribute(names[9], AtrData(0.5f));
                item->AddData(AtrData(int32_t(1)));
                item->AddData(AtrData(int32_t(2)));
                item->AddData(AtrData(int32_t(3)));
            }
        }
    }
    return root;
}

void BM_BuildAndDestroy(benchmark::State& state)
{
    attribute_bench::Heaps heaps;
    const char* raw[] = {"menu", "screen", "panel", "item", "", "name", "text", "x", "y", "angle"};
    CvString names[10];
    for (int i = 0; i < 10; ++i) {
        names[i] = raw[i];
    }
    const CvString label("caption");
    const int screens = static_cast<int>(state.range(0));
    int64_t nodes = 0;
    for (auto _ : state) {
        AtrNode* root = Build(screens, names, label);
        benchmark::DoNotOptimize(root);
        AtrNode::Destroy(root);
        nodes += 1 + screens * (1 + 8 * (1 + 16));
    }
    state.counters["nodes/s"] = benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsRate);
    state.counters["node_bytes"] = sizeof(AtrNode);
    state.counters["attr_bytes"] = sizeof(AtrAttribute);
    state.counters["data_bytes"] = sizeof(AtrData);
}
BENCHMARK(BM_BuildAndDestroy)->Arg(100)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_Duplicate(benchmark::State& state)
{
    attribute_bench::Heaps heaps;
    const char* raw[] = {"menu", "screen", "panel", "item", "", "name", "text", "x", "y", "angle"};
    CvString names[10];
    for (int i = 0; i < 10; ++i) {
        names[i] = raw[i];
    }
    AtrNode* root = Build(static_cast<int>(state.range(0)), names, CvString("caption"));
    for (auto _ : state) {
        AtrNode* copy = root->Duplicate(nullptr);
        benchmark::DoNotOptimize(copy);
        AtrNode::Destroy(copy);
    }
    AtrNode::Destroy(root);
}
BENCHMARK(BM_Duplicate)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
