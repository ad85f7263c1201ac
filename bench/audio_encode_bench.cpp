// Frame encoding speed of the ZAF encoder library (one instance, one thread).
#include "audio/ZafEncoder.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

void EncodeStereo(benchmark::State& state, int rate, int bitrate)
{
    const int frames = 100;
    std::vector<float> left(1024 * (frames + 1)), right(left.size());
    uint32_t seed = 1;
    for (size_t i = 0; i < left.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        const float noise = 0.05f * (static_cast<float>(seed >> 16) / 32768.0f - 1.0f);
        left[i] = 0.3f * std::sin(0.031f * i) + noise;
        right[i] = 0.3f * std::sin(0.017f * i) - noise;
    }
    std::vector<uint8_t> work(ZafEncoderWorkSize(2)), out(65536);
    EncoderLibraryInit();
    ZafEncoder* e = nullptr;
    EncoderCreate(2, work.data(), work.size(), &e);
    EncoderSetChannels(e, 2, 1, 0);
    EncoderSetSamplingRate(e, rate, 0);
    EncoderSetNumSamples(e, 1024 * frames);
    EncoderSetBitrate(e, bitrate);
    for (auto _ : state) {
        EncoderReset(e);
        EncoderEncodeHeader(e, nullptr, 0, nullptr);
        for (int f = 0; f < frames; ++f) {
            const float* ch[2] = {&left[1024 * f], &right[1024 * f]};
            int consumed = 0;
            EncoderPutSamples(e, ch, 2, 1024, &consumed);
            size_t size = 0;
            EncoderEncodeFrame(e, out.data(), out.size(), &size);
            benchmark::DoNotOptimize(out.data());
        }
    }
    // Real-time multiple: seconds of audio per second of encoding.
    state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(frames) * 1024 / rate,
                                                      benchmark::Counter::kIsIterationInvariantRate);
    EncoderDestroy(e);
    EncoderLibraryFinish();
}

void BM_Encode44kStereoDefault(benchmark::State& state)
{
    EncodeStereo(state, 44100, 235200);
}
void BM_Encode48kStereo256k(benchmark::State& state)
{
    EncodeStereo(state, 48000, 256000);
}
BENCHMARK(BM_Encode44kStereoDefault)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode48kStereo256k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
