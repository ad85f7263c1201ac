// The area heap against glibc malloc: random alloc/free of 16-256-byte blocks
// around a given number of live blocks, freeing many blocks in random order,
// and the random generator's throughput.

#include "kit/CvkHeapTrace.h"
#include "kit/CvkRandom.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct TraceHeap {
    std::vector<uint8_t> area;
    CvkHeapTrace heap;
    explicit TraceHeap(uint32_t size) : area(size), heap(area.data(), size, 16) {}
    void* Alloc(uint32_t n) { return heap.Alloc(n); }
    void Free(void* p) { heap.Free(p); }
};

struct Malloc {
    explicit Malloc(uint32_t) {}
    void* Alloc(uint32_t n) { return std::malloc(n); }
    void Free(void* p) { std::free(p); }
};

// Each iteration frees one random live block and allocates a new one.
template <class Heap>
void RandomAllocFree(benchmark::State& state) {
    const size_t live = static_cast<size_t>(state.range(0));
    Heap heap(static_cast<uint32_t>(live * 400 + (1 << 20)));
    std::mt19937 rng(42);
    std::vector<uint32_t> sizes(1 << 16);
    std::vector<uint32_t> slots(1 << 16);
    for (auto& s : sizes) s = 16 + rng() % 241;
    for (auto& s : slots) s = static_cast<uint32_t>(rng() % live);
    std::vector<void*> blocks(live);
    for (size_t i = 0; i < live; ++i) blocks[i] = heap.Alloc(sizes[i & 0xFFFF]);
    size_t i = 0;
    for (auto _ : state) {
        uint32_t k = slots[i & 0xFFFF];
        heap.Free(blocks[k]);
        blocks[k] = heap.Alloc(sizes[i & 0xFFFF]);
        benchmark::DoNotOptimize(blocks[k]);
        ++i;
    }
    for (void* p : blocks) heap.Free(p);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 2);  // ops: one free + one alloc
}

// Allocates n blocks (untimed), then frees them all in random order (timed).
template <class Heap>
void FreeRandomOrder(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::mt19937 rng(7);
    for (auto _ : state) {
        state.PauseTiming();
        Heap heap(static_cast<uint32_t>(n * 400 + (1 << 20)));
        std::vector<void*> blocks(n);
        for (auto& p : blocks) p = heap.Alloc(16 + rng() % 241);
        std::shuffle(blocks.begin(), blocks.end(), rng);
        state.ResumeTiming();
        for (void* p : blocks) heap.Free(p);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

void RandomI(benchmark::State& state) {
    CvkSetRandomSeed(1);
    uint32_t sum = 0;
    for (auto _ : state) sum += CvkRandomI(1000);
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

}  // namespace

BENCHMARK(RandomAllocFree<TraceHeap>)->Name("HeapTrace/RandomAllocFree")->Arg(100)->Arg(10000)->Arg(100000);
BENCHMARK(RandomAllocFree<Malloc>)->Name("Malloc/RandomAllocFree")->Arg(100)->Arg(10000)->Arg(100000);
BENCHMARK(FreeRandomOrder<TraceHeap>)->Name("HeapTrace/Free100kRandomOrder")->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(FreeRandomOrder<Malloc>)->Name("Malloc/Free100kRandomOrder")->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(RandomI)->Name("CvkRandomI");

BENCHMARK_MAIN();
