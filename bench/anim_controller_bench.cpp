// Curve evaluation throughput of CvkController over 1,000 keys, linear and
// weighted-tangent modes, with the key cache (incremental walk) and without
// it (binary search), and the cubic root finder on its own.
#include "anim/CvkController.h"
#include "anim/CvkPolynomial.h"
#include "kit/tests/KitHeapSlots.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

struct Key {
    float time;
    float value;
    float in[2];
    float out[2];
};

constexpr int kKeys = 1000;

struct Kit {
    Kit() { CvkController_SysBoot(); }
    KitSimpleHeap heaps;
};

Kit& kit()
{
    static Kit k;
    return k;
}

std::vector<Key> makeKeys()
{
    std::vector<Key> keys(kKeys);
    for (int k = 0; k < kKeys; ++k) {
        keys[k].time = k * 1.0f;
        keys[k].value = static_cast<float>((k * 37) % 101) * 0.1f;
        // Varied tangents so mode 3 solves a real cubic for its time axis.
        keys[k].in[0] = keys[k].out[0] = static_cast<float>(k % 7) * 0.1f - 0.3f;
        keys[k].in[1] = 0.5f + static_cast<float>(k % 5) * 0.25f;
        keys[k].out[1] = 1.5f - static_cast<float>(k % 3) * 0.25f;
    }
    return keys;
}

// args: interpolation mode, key cache on (1) or off (0).
void BM_ControllerEval(benchmark::State& state)
{
    kit();
    std::vector<Key> keys = makeKeys();
    CvkController c;
    const int s = sizeof(Key);
    c.setupBuffer(CVK_CTRL_FRAME, &keys[0].time, 1, s);
    c.setupBuffer(CVK_CTRL_VALUE, &keys[0].value, 1, s);
    c.setupBuffer(CVK_CTRL_INPARAM, keys[0].in, 2, s);
    c.setupBuffer(CVK_CTRL_OUTPARAM, keys[0].out, 2, s);
    c.setKeyCount(kKeys);
    c.setInterpolate(static_cast<uint8_t>(state.range(0)));
    c.setRepeat(CVK_CTRL_REPEAT_LOOP);
    if (state.range(1))
        c.CurrentIdxInit(0.0f);

    // Playback: increasing times, 1/8 key apart, looping over the keys.
    float t = 0.0f, v = 0.0f, sum = 0.0f;
    for (auto _ : state) {
        c.eval(t, &v);
        sum += v;
        t += 0.125f;
        if (t > kKeys)
            t -= kKeys;
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ControllerEval)
    ->ArgNames({"mode", "cache"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({3, 0})
    ->Args({3, 1});

// One weighted segment's time axis: a monotone cubic on 0..1.
void BM_CubicRootsOnUnitInterval(benchmark::State& state)
{
    kit();
    CvkPolynomial p(3);
    p[1] = 20.0f;
    p[2] = -20.0f;
    p[3] = 10.0f;
    float roots[3];
    float t = 0.0f;
    for (auto _ : state) {
        p[0] = -t;
        benchmark::DoNotOptimize(p.getRoots(0.0f, 1.0f, roots));
        t += 0.001f;
        if (t > 10.0f)
            t = 0.0f;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CubicRootsOnUnitInterval);

// Every real root of a quintic with five real roots.
void BM_QuinticAllRoots(benchmark::State& state)
{
    kit();
    CvkPolynomial p(0);
    p[0] = 1.0f;
    for (float r : {-3.0f, -1.0f, 0.0f, 2.0f, 4.0f}) {
        CvkPolynomial f(1);
        f[0] = -r;
        f[1] = 1.0f;
        p = p * f;
    }
    float roots[5];
    for (auto _ : state)
        benchmark::DoNotOptimize(p.getAllRoots(roots));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QuinticAllRoots);

} // namespace

BENCHMARK_MAIN();
