// Pointer-offset table: Build + Write for 100,000 pointers, attached in
// address order and in shuffled order.
#include "kit/CvkHeapSimple.h"
#include "kit/CvkPointerOffset.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

void PofBuildWrite(benchmark::State& state, bool shuffled)
{
    static CvkHeapSimple heap(nullptr, 0, 16);
    CvkHeapSetMain(&heap);
    CvkHeapSetSystem(&heap);
    const int count = 100000;
    std::vector<uint8_t> chunk(size_t(count) * 12 + 64);
    std::vector<uint32_t> offsets(count);
    std::mt19937 rng(7);
    for (int i = 0; i < count; ++i) offsets[i] = 32 + uint32_t(i) * 12 + (rng() % 2) * 4;
    if (shuffled) std::shuffle(offsets.begin(), offsets.end(), rng);
    std::vector<uint8_t> out;
    for (auto _ : state) {
        CvkPofControl pof(chunk.data());
        for (uint32_t off : offsets) pof.Attach(static_cast<const void*>(chunk.data() + off));
        pof.Build();
        out.resize(pof.GetChunkSize());
        pof.WriteChunk(out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

} // namespace

BENCHMARK_CAPTURE(PofBuildWrite, ascending, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PofBuildWrite, shuffled, true)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
