// End-to-end checks of what zafencoder writes: WAV inputs made here are
// encoded by the real encoder program, decoded by the library and by the
// zafdecode program, and compared with the input.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "audio/decoder/ZafDecoder.h"
#include "platform/tests/ScratchDir.h"

using namespace zafdec;

namespace {

const char* const kEncoder = ZAFENCODER_PATH;
const char* const kDecoder = ZAFDECODE_PATH;
const char* const kEmulator = LUMIVOR_EMULATOR;

// A private folder for the files of this run, removed at exit.
std::string TempDir() {
  static ScratchDir dir("zafdec_roundtrip");
  return dir.Path().empty() ? "/tmp" : dir.Path();
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs a tool (through the build's emulator, if any); returns its exit code
// and leaves its standard error text in err.
int RunTool(const std::string& tool, const std::vector<std::string>& args, std::string* err = nullptr) {
  const std::string errPath = TempDir() + "/stderr.txt";
  std::string cmd = std::string(kEmulator) + " " + Quote(tool);
  for (const std::string& a : args) cmd += " " + Quote(a);
  cmd += " >/dev/null 2>" + Quote(errPath);
  const int status = std::system(cmd.c_str());
  if (err) {
    std::ifstream in(errPath);
    err->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool EncoderAvailable() { return kEncoder[0] != '\0' && access(kEncoder, F_OK) == 0; }

struct Signal {
  int rate;
  int channels;
  int64_t samples;
  std::vector<int16_t> pcm;  // interleaved
  double Value(int64_t i, int c) const { return pcm[static_cast<size_t>(i * channels + c)] / 32768.0; }
};

Signal MakeSignal(int rate, int channels, int64_t samples,
                  const std::function<double(int64_t, int)>& value) {
  Signal s{rate, channels, samples, {}};
  s.pcm.resize(static_cast<size_t>(samples * channels));
  for (int64_t i = 0; i < samples; ++i) {
    for (int c = 0; c < channels; ++c) {
      const double v = std::lrint(value(i, c) * 32767.0);
      s.pcm[static_cast<size_t>(i * channels + c)] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, v)));
    }
  }
  return s;
}

double Tone(double freq, int rate, int64_t i, double amplitude = 0.5) {
  return amplitude * std::sin(2.0 * 3.14159265358979323846 * freq * static_cast<double>(i) / rate);
}

// Signal-to-noise ratio of one decoded channel against the input, in dB.
double SnrDb(const Signal& in, const ZafDecoded& out, int c) {
  double sig = 0, err = 0;
  for (int64_t i = 0; i < in.samples; ++i) {
    const double a = in.Value(i, c);
    const double b = out.pcm[static_cast<size_t>(i * in.channels + c)] / 32768.0;
    sig += a * a;
    err += (a - b) * (a - b);
  }
  if (err == 0) return 200;
  return 10 * std::log10(sig / err);
}

// Frequency of the strongest bin of an 8192-point spectrum of the middle of
// a decoded channel (Hann window).
double DominantFrequency(const ZafDecoded& out, int c) {
  const int n = 8192;
  const int channels = out.header.channels;
  const int64_t start = std::max<int64_t>(0, (out.samples - n) / 2);
  std::vector<std::complex<double>> x(n);
  for (int i = 0; i < n; ++i) {
    const int64_t at = start + i;
    const double v = at < out.samples ? out.pcm[static_cast<size_t>(at * channels + c)] : 0;
    x[i] = v * (0.5 - 0.5 * std::cos(2 * 3.14159265358979323846 * i / n));
  }
  for (int i = 1, j = 0; i < n; ++i) {
    int bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (int len = 2; len <= n; len <<= 1) {
    const std::complex<double> w = std::polar(1.0, -2 * 3.14159265358979323846 / len);
    for (int i = 0; i < n; i += len) {
      std::complex<double> wk = 1;
      for (int k = 0; k < len / 2; ++k, wk *= w) {
        const std::complex<double> a = x[i + k], b = x[i + k + len / 2] * wk;
        x[i + k] = a + b;
        x[i + k + len / 2] = a - b;
      }
    }
  }
  int best = 1;
  for (int k = 1; k < n / 2; ++k) {
    if (std::abs(x[k]) > std::abs(x[best])) best = k;
  }
  return static_cast<double>(best) * out.header.samplingRate / n;
}

struct Encoded {
  std::string wavPath, zafPath;
  std::vector<uint8_t> stream;
};

// Writes the signal as a WAV file and encodes it; fails the test when the
// encoder does not succeed.
Encoded Encode(const std::string& name, const Signal& s, const std::vector<std::string>& options,
               int64_t loopStart = 0, int64_t loopLength = 0) {
  Encoded e;
  e.wavPath = TempDir() + "/" + name + ".wav";
  e.zafPath = TempDir() + "/" + name + ".zaf";
  EXPECT_TRUE(ZafWriteWav16(e.wavPath, s.channels, s.rate, s.pcm.data(), s.samples, loopStart, loopLength));
  std::vector<std::string> args = options;
  args.push_back(e.wavPath);
  args.push_back(e.zafPath);
  std::string err;
  std::remove(e.zafPath.c_str());
  const int code = RunTool(kEncoder, args, &err);
  EXPECT_EQ(code, 0) << name << ": zafencoder failed: " << err;
  e.stream = ReadFile(e.zafPath);
  return e;
}

ZafDecoded Decode(const Encoded& e, const ZafDecodeOptions& options = ZafDecodeOptions()) {
  ZafDecoded d;
  ZafViolation v;
  EXPECT_TRUE(ZafDecodeBuffer(e.stream.data(), e.stream.size(), options, d, v)) << v.Describe();
  return d;
}

// PCM samples and loop of a 16-bit WAV file written by zafdecode.
struct WavFile {
  int channels = 0, rate = 0, bits = 0;
  std::vector<int16_t> pcm;
  bool loop = false;
  uint32_t loopStart = 0, loopEnd = 0;
};

bool ParseWav(const std::vector<uint8_t>& b, WavFile& w) {
  auto le = [&](size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
  };
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0) return false;
  size_t pos = 12;
  bool data = false;
  while (pos + 8 <= b.size()) {
    const uint32_t size = le(pos + 4, 4);
    if (pos + 8 + size > b.size()) return false;
    const uint8_t* id = b.data() + pos;
    if (std::memcmp(id, "fmt ", 4) == 0 && size >= 16) {
      w.channels = static_cast<int>(le(pos + 10, 2));
      w.rate = static_cast<int>(le(pos + 12, 4));
      w.bits = static_cast<int>(le(pos + 22, 2));
    } else if (std::memcmp(id, "smpl", 4) == 0 && size >= 60 && le(pos + 8 + 28, 4) > 0) {
      w.loop = true;
      w.loopStart = le(pos + 8 + 44, 4);
      w.loopEnd = le(pos + 8 + 48, 4);
    } else if (std::memcmp(id, "data", 4) == 0) {
      w.pcm.resize(size / 2);
      for (size_t i = 0; i < w.pcm.size(); ++i) w.pcm[i] = static_cast<int16_t>(le(pos + 8 + 2 * i, 2));
      data = true;
    }
    pos += 8 + size + (size & 1);
  }
  return data;
}

#define REQUIRE_ENCODER()                                                             \
  do {                                                                                \
    if (!EncoderAvailable()) GTEST_SKIP() << "zafencoder is not part of this build"; \
  } while (0)

}  // namespace

// Tones recover their frequency and most of their energy. At the default
// quality and at 256 kbit/s the encoder spends several bits per sample and
// channel, and a working codec keeps a pair of tones far above 12 dB SNR
// (the encoder library reaches 30 to 60 dB on such tones); 12 dB is about
// what a 2-bit quantiser leaves, and a misaligned output (one sample off at
// a few kHz) or a wrong scale falls below it. The lowest quality codes the
// upper half of the spectrum as intensity stereo and high-frequency copies,
// hence its lower bound. The test prints the SNR so that drifts show.
TEST(ZafRoundTrip, TonesKeepTheirFrequencyLengthAndFormat) {
  REQUIRE_ENCODER();
  struct Case {
    const char* name;
    int rate, channels;
    int64_t samples;
    double freq[2];
    std::vector<std::string> options;
    double minSnr;
  };
  const Case cases[] = {
      {"stereo44", 44100, 2, 66150, {440, 1000}, {}, 12},
      {"mono44", 44100, 1, 50000, {2500, 0}, {}, 12},
      {"mono22", 22050, 1, 33000, {300, 0}, {}, 12},
      {"stereo22", 22050, 2, 30001, {700, 3100}, {}, 12},
      {"stereo48_256k", 48000, 2, 48000, {1000, 5000}, {"-b", "256"}, 12},
      {"stereo44_low", 44100, 2, 44100, {440, 440}, {"-q", "1"}, 6},
  };
  for (const Case& c : cases) {
    const Signal in = MakeSignal(c.rate, c.channels, c.samples,
                                 [&](int64_t i, int ch) { return Tone(c.freq[ch], c.rate, i); });
    const Encoded e = Encode(c.name, in, c.options);
    if (HasFailure()) return;
    const ZafDecoded d = Decode(e);
    if (HasFailure()) return;
    EXPECT_EQ(d.header.samplingRate, c.rate) << c.name;
    EXPECT_EQ(d.header.channels, c.channels) << c.name;
    EXPECT_EQ(d.samples, c.samples) << c.name;
    ASSERT_EQ(d.pcm.size(), in.pcm.size()) << c.name;
    for (int ch = 0; ch < c.channels; ++ch) {
      const double bin = static_cast<double>(c.rate) / 8192;
      EXPECT_NEAR(DominantFrequency(d, ch), c.freq[ch], 1.5 * bin) << c.name << " channel " << ch;
      const double snr = SnrDb(in, d, ch);
      EXPECT_GE(snr, c.minSnr) << c.name << " channel " << ch;
      std::printf("[ zafdec   ] %-14s channel %d: SNR %.1f dB\n", c.name, ch, snr);
    }
  }
}

// Silence decodes to exact zeros; noise still comes back correlated.
TEST(ZafRoundTrip, SilenceAndNoise) {
  REQUIRE_ENCODER();
  const Signal silence = MakeSignal(44100, 2, 40000, [](int64_t, int) { return 0.0; });
  const Encoded es = Encode("silence", silence, {});
  if (HasFailure()) return;
  const ZafDecoded ds = Decode(es);
  ASSERT_EQ(ds.samples, 40000);
  for (int16_t s : ds.pcm) ASSERT_EQ(s, 0);

  std::mt19937 rng(11);
  std::normal_distribution<double> gauss(0.0, 0.15);
  const Signal noise = MakeSignal(22050, 2, 30000, [&](int64_t, int) { return gauss(rng); });
  const Encoded en = Encode("noise", noise, {});
  if (HasFailure()) return;
  const ZafDecoded dn = Decode(en);
  ASSERT_EQ(dn.samples, 30000);
  // White noise is the hardest input for a fixed bit budget (the encoder
  // library reaches about 12 dB here); 6 dB SNR (correlation above 0.85)
  // still separates a working codec from one that writes unrelated data.
  for (int ch = 0; ch < 2; ++ch) {
    const double snr = SnrDb(noise, dn, ch);
    EXPECT_GE(snr, 6.0) << "channel " << ch;
    std::printf("[ zafdec   ] noise22        channel %d: SNR %.1f dB\n", ch, snr);
  }
}

// Short input, a loop, several tracks and an ambisonic input all decode
// with the input's length; the loop comes back in the decoded WAV.
TEST(ZafRoundTrip, LayoutsLoopsAndShortInputs) {
  REQUIRE_ENCODER();
  {
    const Signal in = MakeSignal(44100, 1, 300, [](int64_t i, int) { return Tone(1000, 44100, i); });
    const ZafDecoded d = Decode(Encode("short", in, {}));
    EXPECT_EQ(d.samples, 300);
  }
  {
    const Signal in = MakeSignal(22050, 1, 20000, [](int64_t i, int) { return Tone(500, 22050, i); });
    const Encoded e = Encode("loop", in, {}, 5000, 10000);
    if (HasFailure()) return;
    const ZafDecoded d = Decode(e);
    EXPECT_EQ(d.samples, 20000);
    EXPECT_TRUE(d.header.hasLoop);
    EXPECT_EQ(d.header.LoopStart(), 5000);
    EXPECT_EQ(d.header.LoopLength(), 10000);
    EXPECT_EQ((d.header.headerSize + static_cast<int64_t>(d.header.loopStartFrame) * d.header.frameSize) % 2048, 0);
    EXPECT_GE(SnrDb(in, d, 0), 12.0);
    const std::string out = TempDir() + "/loop_decoded.wav";
    ASSERT_EQ(RunTool(kDecoder, {e.zafPath, out}), 0);
    WavFile w;
    ASSERT_TRUE(ParseWav(ReadFile(out), w));
    EXPECT_TRUE(w.loop);
    EXPECT_EQ(w.loopStart, 5000u);
    EXPECT_EQ(w.loopEnd, 14999u);
  }
  {
    // Six channels in three stereo tracks, each channel its own tone.
    const double freq[6] = {300, 450, 600, 800, 1100, 1500};
    const Signal in = MakeSignal(44100, 6, 30000, [&](int64_t i, int c) { return Tone(freq[c], 44100, i, 0.3); });
    const ZafDecoded d = Decode(Encode("tracks", in, {"--num-tracks=3"}));
    EXPECT_EQ(d.samples, 30000);
    EXPECT_EQ(d.header.tracks, 3);
    for (int c = 0; c < 6 && !HasFailure(); ++c) {
      EXPECT_NEAR(DominantFrequency(d, c), freq[c], 1.5 * 44100.0 / 8192) << c;
    }
  }
  {
    // Nine ambisonic channels: the stream holds them reordered and scaled;
    // the decoder puts them back.
    const Signal in = MakeSignal(22050, 9, 20000, [](int64_t i, int c) { return Tone(200 + 150 * c, 22050, i, 0.2); });
    const ZafDecoded d = Decode(Encode("ambisonic", in, {}));
    EXPECT_EQ(d.samples, 20000);
    EXPECT_TRUE(d.header.IsAmbisonic());
    for (int c = 0; c < 9 && !HasFailure(); ++c) {
      EXPECT_NEAR(DominantFrequency(d, c), 200 + 150 * c, 1.5 * 22050.0 / 8192) << c;
      EXPECT_GE(SnrDb(in, d, c), 6.0) << c;
    }
  }
}

// The program: same samples as the library, a key for enciphered streams,
// exit code 1 with frame and bit offset for a damaged stream.
TEST(ZafRoundTrip, DecodeProgramChecksAndWritesWav) {
  REQUIRE_ENCODER();
  const Signal in = MakeSignal(44100, 2, 20000, [](int64_t i, int c) { return Tone(c ? 660 : 880, 44100, i); });
  const Encoded e = Encode("program", in, {});
  if (HasFailure()) return;
  const ZafDecoded d = Decode(e);
  const std::string out = TempDir() + "/program_decoded.wav";
  ASSERT_EQ(RunTool(kDecoder, {e.zafPath, out}), 0);
  WavFile w;
  ASSERT_TRUE(ParseWav(ReadFile(out), w));
  EXPECT_EQ(w.channels, 2);
  EXPECT_EQ(w.rate, 44100);
  EXPECT_EQ(w.bits, 16);
  EXPECT_FALSE(w.loop);
  EXPECT_EQ(w.pcm, d.pcm);

  // Damage a byte in the middle of frame 3.
  ASSERT_GE(d.header.frameCount, 5u);
  std::vector<uint8_t> damaged = e.stream;
  damaged[static_cast<size_t>(d.header.headerSize + 3 * d.header.frameSize + 17)] ^= 0x20;
  const std::string bad = TempDir() + "/damaged.zaf";
  std::ofstream(bad, std::ios::binary).write(reinterpret_cast<const char*>(damaged.data()),
                                             static_cast<std::streamsize>(damaged.size()));
  std::string err;
  std::remove(out.c_str());
  EXPECT_EQ(RunTool(kDecoder, {bad, out}, &err), 1);
  EXPECT_NE(err.find("frame 3, bit " + std::to_string((d.header.frameSize - 2) * 8) + ": CRC"), std::string::npos)
      << err;
  EXPECT_NE(access(out.c_str(), F_OK), 0) << "no output after a violation";

  // Enciphered: the key is needed and restores the same samples.
  const Encoded k = Encode("keyed", in, {"--key=0x00C0FFEE12345678"});
  if (HasFailure()) return;
  EXPECT_EQ(RunTool(kDecoder, {k.zafPath, out}, &err), 1);
  EXPECT_NE(err.find("--key"), std::string::npos) << err;
  ASSERT_EQ(RunTool(kDecoder, {k.zafPath, out, "--key", "C0FFEE12345678"}, &err), 0) << err;
  ASSERT_TRUE(ParseWav(ReadFile(out), w));
  EXPECT_EQ(w.pcm, d.pcm);
}
