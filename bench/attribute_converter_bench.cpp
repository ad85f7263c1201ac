// The template-free binary tree image against the attribute text, on the
// menu-shaped texts of the other attribute benchmarks (1 MB and 50 MB): every
// figure counts the bytes of the text the tree came from, so MB/s compare
// directly. The text's top-level nodes are gathered under one root (an image
// holds one). Trees are destroyed outside the timing, as in the parse
// benchmark.
#include "AttributeBench.h"

#include "attribute/AtrConverter.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <map>
#include <string>
#include <vector>

namespace {

// The text's tree under one root "MENU"; null when the text does not read.
AtrNode* MenuTree(const std::string& text)
{
    AtrParser parser;
    AtrNode* chain = parser.CreateTreeFromText(text.c_str(), nullptr);
    if (chain == nullptr) return nullptr;
    AtrNode* root = AtrNode::Create(nullptr, "MENU");
    root->AddChild(chain, -1);
    return root;
}

void SetFigures(benchmark::State& state, size_t textBytes, uint32_t imageBytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(textBytes));
    state.counters["image_MB"] = double(imageBytes) / 1048576.0;
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    state.counters["peak_rss_MB"] = double(ru.ru_maxrss) / 1024.0;
}

// CreateBinary: records, string table and buffers into a work buffer of
// GetBinaryWorkSize bytes, then copied out at the image's size.
void BM_ConverterWrite(benchmark::State& state)
{
    const std::string& text = attribute_bench::MenuText(static_cast<size_t>(state.range(0)));
    attribute_bench::Heaps heaps;
    AtrNode* tree = MenuTree(text);
    if (tree == nullptr) {
        state.SkipWithError("parse failed");
        return;
    }
    uint32_t imageBytes = 0;
    for (auto _ : state) {
        AtrConverter converter;
        if (!converter.CreateBinary(tree, 0)) {
            state.SkipWithError("CreateBinary failed");
            break;
        }
        imageBytes = converter.GetSize();
    }
    {
        AtrConverter sizing;
        state.counters["work_MB"] = double(sizing.GetBinaryWorkSize(tree)) / 1048576.0;
    }
    SetFigures(state, text.size(), imageBytes);
    AtrNode::Destroy(tree);
}
BENCHMARK(BM_ConverterWrite)->Arg(1)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

// CreateTree with the image's size (every field checked).
void BM_ConverterRead(benchmark::State& state)
{
    const std::string& text = attribute_bench::MenuText(static_cast<size_t>(state.range(0)));
    attribute_bench::Heaps heaps;
    std::vector<uint8_t> image;
    {
        AtrNode* tree = MenuTree(text);
        AtrConverter converter;
        if (tree == nullptr || !converter.CreateBinary(tree, 0)) {
            state.SkipWithError("no image");
            AtrNode::Destroy(tree);
            return;
        }
        const uint8_t* p = static_cast<const uint8_t*>(converter.GetBuffer());
        image.assign(p, p + converter.GetSize());
        AtrNode::Destroy(tree);
    }
    for (auto _ : state) {
        AtrConverter converter;
        AtrNode* tree = converter.CreateTree(image.data(), static_cast<uint32_t>(image.size()));
        if (tree == nullptr) {
            state.SkipWithError("CreateTree failed");
            break;
        }
        state.PauseTiming();
        AtrNode::Destroy(tree);
        state.ResumeTiming();
    }
    SetFigures(state, text.size(), static_cast<uint32_t>(image.size()));
}
BENCHMARK(BM_ConverterRead)->Arg(1)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

// The text side in the same run: CreateTreeFromText and WriteTree.
void BM_TextRead(benchmark::State& state)
{
    const std::string& text = attribute_bench::MenuText(static_cast<size_t>(state.range(0)));
    attribute_bench::Heaps heaps;
    attribute_bench::TimeTextReads(state, text);
    SetFigures(state, text.size(), 0);
}
BENCHMARK(BM_TextRead)->Arg(1)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TextWrite(benchmark::State& state)
{
    const std::string& text = attribute_bench::MenuText(static_cast<size_t>(state.range(0)));
    attribute_bench::Heaps heaps;
    AtrParser parser;
    AtrNode* tree = parser.CreateTreeFromText(text.c_str(), nullptr);
    if (tree == nullptr) {
        state.SkipWithError("parse failed");
        return;
    }
    for (auto _ : state) {
        const CvString out = parser.WriteTree(tree, 0);
        benchmark::DoNotOptimize(out.GetLength());
    }
    SetFigures(state, text.size(), 0);
    AtrNodeDestroyChain(tree);
}
BENCHMARK(BM_TextWrite)->Arg(1)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
