// Decode speed of the verification decoder on a 20-second 44.1 kHz stereo
// stream written by zafencoder (default quality). The stream is encoded
// once at start-up with the zafencoder of the same build (../audio/ next to
// this program's folder); the input is the shared synthetic test signal or
// the WAV file named by ZAF_BENCH_INPUT.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/decoder/ZafDecoder.h"

namespace {

std::string ExeDir() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string s(path, static_cast<size_t>(n));
  return s.substr(0, s.find_last_of('/'));
}

struct Stream {
  std::vector<uint8_t> bytes;
  double seconds = 0;
  std::string error;
};

const Stream& EncodedStream() {
  static Stream stream = [] {
    Stream s;
    const std::string build = ExeDir() + "/..";
    const char* env = std::getenv("ZAF_BENCH_INPUT");
    const std::string input =
        env ? env : build + "/../../../shared/data/audio/synth_44k16_stereo_20s.wav";
    const std::string encoder = build + "/audio/zafencoder";
    if (access(encoder.c_str(), X_OK) != 0) {
      s.error = "zafencoder not found at " + encoder;
      return s;
    }
    if (access(input.c_str(), R_OK) != 0) {
      s.error = "input not found: " + input + " (set ZAF_BENCH_INPUT)";
      return s;
    }
    char dir[] = "/tmp/zafdec_bench_XXXXXX";
    if (!mkdtemp(dir)) {
      s.error = "no temporary folder";
      return s;
    }
    const std::string out = std::string(dir) + "/bench.zaf";
    const std::string cmd = "'" + encoder + "' '" + input + "' '" + out + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) {
      s.error = "zafencoder failed on " + input;
      return s;
    }
    std::ifstream in(out, std::ios::binary);
    s.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::remove(out.c_str());
    rmdir(dir);
    zafdec::ZafHeader h;
    zafdec::ZafViolation v;
    if (!zafdec::ZafParseHeader(s.bytes.data(), s.bytes.size(), h, v)) {
      s.error = "unreadable stream: " + v.Describe();
      return s;
    }
    s.seconds = static_cast<double>(h.SampleCount()) / h.samplingRate;
    return s;
  }();
  return stream;
}

// Full decode: checks, reconstruction, inverse transform, 16-bit samples.
void BM_DecodeStereo20s(benchmark::State& state) {
  const Stream& s = EncodedStream();
  if (!s.error.empty()) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  zafdec::ZafDecoded decoded;
  zafdec::ZafViolation v;
  for (auto _ : state) {
    if (!zafdec::ZafDecodeBuffer(s.bytes.data(), s.bytes.size(), zafdec::ZafDecodeOptions(), decoded, v)) {
      state.SkipWithError(v.Describe().c_str());
      return;
    }
    benchmark::DoNotOptimize(decoded.pcm.data());
  }
  state.counters["x_realtime"] =
      benchmark::Counter(s.seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.bytes.size()));
}
BENCHMARK(BM_DecodeStereo20s)->Unit(benchmark::kMillisecond);

// The checks alone: CRC and bit-layout parse of every frame.
void BM_CheckStereo20s(benchmark::State& state) {
  const Stream& s = EncodedStream();
  if (!s.error.empty()) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  zafdec::ZafHeader h;
  zafdec::ZafViolation v;
  zafdec::ZafParseHeader(s.bytes.data(), s.bytes.size(), h, v);
  static zafdec::ZafFrame frame;
  for (auto _ : state) {
    for (uint32_t i = 0; i < h.frameCount; ++i) {
      const uint8_t* f = s.bytes.data() + h.headerSize + static_cast<size_t>(i) * h.frameSize;
      if (zafdec::ZafCrc16(f, static_cast<size_t>(h.frameSize)) != 0 ||
          !zafdec::ZafParseFrame(h, f, i, frame, v)) {
        state.SkipWithError("frame check failed");
        return;
      }
    }
    benchmark::DoNotOptimize(frame.usedBits);
  }
  state.counters["x_realtime"] =
      benchmark::Counter(s.seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CheckStereo20s)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
