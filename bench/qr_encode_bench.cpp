// Symbols per second of the encoder (eight-mask search included) for a short
// and a long text at level M, and of the whole exported call with its file.
#include "platform/PlatformCodePage.h"
#include "qr/MatrixSym.h"
#include "qr/QrEncoder.h"
#include "qr/QrTables.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

std::string Text(size_t length)
{
    const std::string words = "Menu screens of the set-top box: Play, Stop, Next page 12, focus item 3. ";
    std::string s;
    while (s.size() < length) s += words;
    s.resize(length);
    return s;
}

void Encode(benchmark::State& state)
{
    const std::string text = Text(static_cast<size_t>(state.range(0)));
    auto encoder = std::make_unique<QrEncoder>();
    for (auto _ : state) {
        const bool ok = encoder->Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), QR_LEVEL_M, 0);
        benchmark::DoNotOptimize(ok);
    }
    state.counters["version"] = encoder->Version();
    state.counters["symbols/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(Encode)->Arg(20)->Arg(2000);

void CreateEncodeDataToFile(benchmark::State& state)
{
    const std::u16string text = PlatformUtf8ToUtf16(Text(static_cast<size_t>(state.range(0))));
    const std::string path = "/tmp/qr_encode_bench.bmp";
    const std::u16string widePath = PlatformUtf8ToUtf16(path);
    for (auto _ : state) benchmark::DoNotOptimize(CreateEncodeData(widePath.c_str(), text.c_str(), 0));
    state.counters["symbols/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    std::remove(path.c_str());
}
BENCHMARK(CreateEncodeDataToFile)->Arg(20)->Arg(2000);

} // namespace

BENCHMARK_MAIN();
