// Unit tests of the stream reader on hand-made bytes: bit reader, CRC,
// cipher tables, header and frame parsing with their rejections, the
// spectral reconstruction and the inverse transform.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "audio/decoder/ZafDecoder.h"

using namespace zafdec;

namespace {

// Writes bit fields most significant bit first.
class BitWriter {
public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) PutBit((value >> i) & 1u);
  }
  void Put(const char* code) {
    for (; *code; ++code) PutBit(*code == '1');
  }
  size_t Bits() const { return m_bits; }
  // Zero-padded to frameSize - 2 bytes, then the CRC of those bytes.
  std::vector<uint8_t> Frame(int frameSize) const {
    std::vector<uint8_t> out(m_bytes);
    out.resize(static_cast<size_t>(frameSize), 0);
    const uint16_t crc = ZafCrc16(out.data(), out.size() - 2);
    out[out.size() - 2] = static_cast<uint8_t>(crc >> 8);
    out[out.size() - 1] = static_cast<uint8_t>(crc);
    return out;
  }

private:
  void PutBit(bool bit) {
    if (m_bits % 8 == 0) m_bytes.push_back(0);
    if (bit) m_bytes.back() |= static_cast<uint8_t>(0x80u >> (m_bits % 8));
    ++m_bits;
  }
  std::vector<uint8_t> m_bytes;
  size_t m_bits = 0;
};

struct HeaderFields {
  int channels = 1;
  int rate = 8000;
  uint32_t frames = 2;
  int delay = 128;
  int appended = 920;
  int frameSize = 64;
  int tracks = 1;
  int config = 1;
  int total = 6, base = 4, stereo = 0, perGroup = 1;
  bool loop = false;
  uint32_t loopStartFrame = 0, loopEndFrame = 0;
  int loopOffset = 0, loopTail = 0;
  int cipher = 0;
};

// Two channels that form an intensity-stereo pair (configuration 0) with
// the given band counts.
HeaderFields StereoPairFields(int total, int base, int stereo, int perGroup) {
  HeaderFields f;
  f.channels = 2;
  f.config = 0;
  f.total = total;
  f.base = base;
  f.stereo = stereo;
  f.perGroup = perGroup;
  return f;
}

void Put16(std::vector<uint8_t>& h, size_t at, uint32_t v) {
  h[at] = static_cast<uint8_t>(v >> 8);
  h[at + 1] = static_cast<uint8_t>(v);
}
void Put32(std::vector<uint8_t>& h, size_t at, uint32_t v) {
  Put16(h, at, v >> 16);
  Put16(h, at + 2, v & 0xFFFF);
}
void PutName(std::vector<uint8_t>& h, size_t at, const char* name, uint8_t mark) {
  for (int i = 0; i < 4; ++i) h[at + i] = name[i] ? static_cast<uint8_t>(name[i] | mark) : 0;
}
void SealHeader(std::vector<uint8_t>& h) {
  const uint16_t crc = ZafCrc16(h.data(), h.size() - 2);
  Put16(h, h.size() - 2, crc);
}

std::vector<uint8_t> MakeHeader(const HeaderFields& f, int size = 96) {
  std::vector<uint8_t> h(static_cast<size_t>(size), 0);
  const uint8_t mark = f.cipher == 56 ? 0x80 : 0;
  PutName(h, 0, "ZAF", mark);
  Put16(h, 4, 0x0200);
  Put16(h, 6, static_cast<uint32_t>(size));
  PutName(h, 8, "fmt", mark);
  h[12] = static_cast<uint8_t>(f.channels);
  h[13] = static_cast<uint8_t>(f.rate >> 16);
  Put16(h, 14, static_cast<uint32_t>(f.rate & 0xFFFF));
  Put32(h, 16, f.frames);
  Put16(h, 20, static_cast<uint32_t>(f.delay));
  Put16(h, 22, static_cast<uint32_t>(f.appended));
  PutName(h, 24, "comp", mark);
  Put16(h, 28, static_cast<uint32_t>(f.frameSize));
  h[30] = 1;
  h[31] = 15;
  h[32] = static_cast<uint8_t>(f.tracks);
  h[33] = static_cast<uint8_t>(f.config);
  h[34] = static_cast<uint8_t>(f.total);
  h[35] = static_cast<uint8_t>(f.base);
  h[36] = static_cast<uint8_t>(f.stereo);
  h[37] = static_cast<uint8_t>(f.perGroup);
  size_t pos = 40;
  if (f.loop) {
    PutName(h, pos, "loop", mark);
    Put32(h, pos + 4, f.loopStartFrame);
    Put32(h, pos + 8, f.loopEndFrame);
    Put16(h, pos + 12, static_cast<uint32_t>(f.loopOffset));
    Put16(h, pos + 14, static_cast<uint32_t>(f.loopTail));
    pos += 16;
  }
  PutName(h, pos, "ciph", mark);
  Put16(h, pos + 4, static_cast<uint32_t>(f.cipher));
  PutName(h, pos + 6, "pad", mark);
  SealHeader(h);
  return h;
}

std::vector<uint8_t> SilentFrame(int frameSize) {
  BitWriter w;
  w.Put(0xFFFF, 16);
  return w.Frame(frameSize);
}

// A mono frame of the default header (4 coded bands, 2 high-frequency
// groups of 1 band). Scale factors 20 21 21 40 make width 2 the cheapest
// mode (21 bits against 24, 24, 27, 30 and raw 27); noise level 100 and
// boundary 1 give band levels 52 54 54 102 the resolutions 3 4 4 14.
struct MonoFrameOptions {
  uint32_t sync = 0xFFFF;
  uint32_t mode = 2;
  bool escapeSecond = false;  // escape a difference that width 2 codes
  int frameSize = 64;
  int noiseLevel = 100, boundary = 1;
};

std::vector<uint8_t> MonoFrame(const MonoFrameOptions& o = MonoFrameOptions()) {
  BitWriter w;
  w.Put(o.sync, 16);
  w.Put(static_cast<uint32_t>(o.noiseLevel), 9);
  w.Put(static_cast<uint32_t>(o.boundary), 7);
  w.Put(o.mode, 3);
  if (o.mode == 6) {
    for (uint32_t sf : {20u, 21u, 21u, 40u}) w.Put(sf, 6);
  } else {
    w.Put(20, 6);
    if (o.escapeSecond) {
      w.Put(3, 2);
      w.Put(21, 6);
    } else {
      w.Put(2, 2);  // +1
    }
    w.Put(1, 2);  // 0
    w.Put(3, 2);  // escape
    w.Put(40, 6);
  }
  w.Put(50, 6);  // high-frequency scale indices
  w.Put(45, 6);
  for (int s = 0; s < 8; ++s) {
    w.Put("010");   // resolution 3: +1
    w.Put("1111");  // resolution 4: -4
    w.Put("011");   // resolution 4: +2
    if (s < 7) {
      w.Put(5, 10);  // resolution 14: -5
      w.Put(1, 1);
    } else {
      w.Put(0, 10);  // resolution 14: 0, no sign bit
    }
  }
  return w.Frame(o.frameSize);
}

ZafHeader ParsedHeader(const HeaderFields& f) {
  const std::vector<uint8_t> bytes = MakeHeader(f);
  ZafHeader h;
  ZafViolation v;
  EXPECT_TRUE(ZafParseHeader(bytes.data(), bytes.size(), h, v)) << v.Describe();
  return h;
}

std::vector<uint8_t> Stream(const HeaderFields& f, const std::vector<std::vector<uint8_t>>& frames) {
  std::vector<uint8_t> s = MakeHeader(f);
  for (const auto& fr : frames) s.insert(s.end(), fr.begin(), fr.end());
  return s;
}

}  // namespace

TEST(ZafBitReader, ReadsFieldsAcrossBytesAndStopsAtTheLimit) {
  const uint8_t data[] = {0xA5, 0x3C, 0xFF, 0x01};
  ZafBitReader r(data, 28);
  uint32_t v = 0;
  ASSERT_TRUE(r.Read(3, v));
  EXPECT_EQ(v, 0x5u);  // 101
  ASSERT_TRUE(r.Read(9, v));
  EXPECT_EQ(v, 0x053u);  // 0 0101 0011
  ASSERT_TRUE(r.Read(0, v));
  EXPECT_EQ(v, 0u);
  ASSERT_TRUE(r.Read(12, v));
  EXPECT_EQ(v, 0xCFFu);
  EXPECT_EQ(r.Position(), 24u);
  EXPECT_FALSE(r.Read(5, v));  // 4 bits left
  EXPECT_EQ(r.Position(), 24u);
  uint32_t peeked = 0;
  EXPECT_EQ(r.Peek(6, peeked), 4);
  EXPECT_EQ(peeked, 0u);  // 0000 then two bits past the limit read as 0
  ASSERT_TRUE(r.Read(4, v));
  EXPECT_EQ(r.Remaining(), 0u);
  const uint8_t all[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x80};
  ZafBitReader wide(all, 40);
  ASSERT_TRUE(wide.Read(32, v));
  EXPECT_EQ(v, 0xDEADBEEFu);
}

TEST(ZafCrc16, MatchesTheCheckValueAndVanishesOverItsOwnCrc) {
  const char* digits = "123456789";
  EXPECT_EQ(ZafCrc16(reinterpret_cast<const uint8_t*>(digits), 9), 0xFEE8);
  std::vector<uint8_t> block = MakeHeader(HeaderFields());
  EXPECT_EQ(ZafCrc16(block.data(), block.size()), 0);
  EXPECT_EQ(ZafCrc16(nullptr, 0), 0);
}

TEST(ZafCipherTable, BuildsPermutationsThatKeepZeroAndFullBytes) {
  uint8_t table[256];
  std::memset(table, 0x55, sizeof table);
  EXPECT_EQ(ZafMakeCipherTable(56, 0, table), 0);
  EXPECT_EQ(ZafMakeCipherTable(0, 1234, table), 0);
  EXPECT_EQ(table[7], 0x55);  // nothing written
  EXPECT_EQ(ZafMakeCipherTable(3, 1234, table), -1);
  for (int type : {1, 56}) {
    for (uint64_t key : {1ull, 0x0123456789ABCDEFull, ~0ull}) {
      ASSERT_EQ(ZafMakeCipherTable(type, key, table), type);
      bool seen[256] = {};
      for (int i = 0; i < 256; ++i) seen[table[i]] = true;
      for (int i = 0; i < 256; ++i) EXPECT_TRUE(seen[i]) << type << " " << i;
      EXPECT_EQ(table[0], 0);
      EXPECT_EQ(table[255], 0xFF);
    }
  }
  // The fixed table's generator starts 11, 13 * 11 + 11 = 154, ...; the
  // table is its inverse.
  ASSERT_EQ(ZafMakeCipherTable(1, 99, table), 1);
  EXPECT_EQ(table[11], 1);
  EXPECT_EQ(table[154], 2);
  // Keys change the keyed table.
  uint8_t other[256];
  ZafMakeCipherTable(56, 2, table);
  ZafMakeCipherTable(56, 3, other);
  EXPECT_NE(std::memcmp(table, other, 256), 0);
}

TEST(ZafHeader, ParsesTheFieldsAndDerivesChannelTypes) {
  // 48000 Hz stereo at 128 kbit/s: stereo layout 128 = 43 + 42 + 43 high
  // bands in groups of 6 (8 groups); 1000 samples: 2 frames, 920 appended.
  HeaderFields f = StereoPairFields(128, 43, 42, 6);
  f.rate = 48000;
  f.frameSize = 341;
  const ZafHeader h = ParsedHeader(f);
  EXPECT_EQ(h.headerSize, 96);
  EXPECT_EQ(h.channels, 2);
  EXPECT_EQ(h.samplingRate, 48000);
  EXPECT_EQ(h.frameCount, 2u);
  EXPECT_EQ(h.SampleCount(), 1000);
  EXPECT_EQ(h.frameSize, 341);
  EXPECT_EQ(h.groupCount, 8);
  EXPECT_EQ(h.channelType[0], 1);
  EXPECT_EQ(h.channelType[1], 2);
  EXPECT_EQ(h.codedBands[0], 85);
  EXPECT_EQ(h.codedBands[1], 43);
  EXPECT_FALSE(h.hasLoop);

  // Six channels in three tracks of two; six in one track.
  f.channels = 6;
  f.tracks = 3;
  ZafHeader t = ParsedHeader(f);
  for (int c = 0; c < 6; ++c) EXPECT_EQ(t.channelType[c], c % 2 ? 2 : 1) << c;
  f.tracks = 1;
  f.config = 3;
  t = ParsedHeader(f);
  const int six[] = {1, 2, 0, 0, 1, 2};
  for (int c = 0; c < 6; ++c) EXPECT_EQ(t.channelType[c], six[c]) << c;
  EXPECT_EQ(t.codedBands[2], 85);

  // A loop from sample 5000 of 20000: delay 248, the loop starts in frame 5.
  HeaderFields l;
  l.rate = 44100;
  l.frames = 20;
  l.delay = 248;
  l.appended = 20 * 1024 - 20000 - 248;
  l.loop = true;
  l.loopStartFrame = 5;
  l.loopOffset = 128;  // 248 + 5000 = 5 * 1024 + 128
  l.loopEndFrame = 19;  // end 248 + 20000 = 20248 -> frame 19
  l.loopTail = 1024 - 20248 % 1024;
  const ZafHeader lh = ParsedHeader(l);
  EXPECT_TRUE(lh.hasLoop);
  EXPECT_EQ(lh.LoopStart(), 5000);
  EXPECT_EQ(lh.LoopLength(), 15000);
}

TEST(ZafHeader, RejectsBrokenHeadersAtTheFaultyField) {
  struct Case {
    const char* name;
    void (*spoil)(std::vector<uint8_t>&, HeaderFields&);
    bool reseal;
    uint64_t bit;
    const char* message;
  };
  const Case cases[] = {
      {"magic", [](std::vector<uint8_t>& h, HeaderFields&) { h[1] = 'B'; }, true, 0, "magic"},
      {"version", [](std::vector<uint8_t>& h, HeaderFields&) { h[5] = 1; }, true, 32, "version"},
      {"crc", [](std::vector<uint8_t>& h, HeaderFields&) { h[50] ^= 0x10; }, false, 94 * 8, "CRC"},
      {"channels", [](std::vector<uint8_t>& h, HeaderFields&) { h[12] = 17; }, true, 96, "channel"},
      {"tracks", [](std::vector<uint8_t>& h, HeaderFields&) { h[12] = 3; h[32] = 2; }, true, 256, "track"},
      {"bands", [](std::vector<uint8_t>& h, HeaderFields&) { h[35] = 7; }, true, 272, "band counts"},
      {"groups", [](std::vector<uint8_t>& h, HeaderFields&) { h[37] = 2; }, true, 296, "group"},
      {"mono stereo", [](std::vector<uint8_t>& h, HeaderFields&) { h[35] = 2; h[36] = 2; h[37] = 1; }, true,
       288, "stereo bands"},
      {"cipher mark", [](std::vector<uint8_t>& h, HeaderFields&) { h[45] = 56; }, true, (40 + 4) * 8,
       "mark"},
      {"padding", [](std::vector<uint8_t>& h, HeaderFields&) { h[80] = 1; }, true, 640, "padding"},
      {"delay", [](std::vector<uint8_t>& h, HeaderFields&) { h[20] = 0x08; }, true, 160, "inserted"},
  };
  for (const Case& c : cases) {
    HeaderFields f;
    std::vector<uint8_t> h = MakeHeader(f);
    c.spoil(h, f);
    if (c.reseal) SealHeader(h);
    ZafHeader parsed;
    ZafViolation v;
    EXPECT_FALSE(ZafParseHeader(h.data(), h.size(), parsed, v)) << c.name;
    EXPECT_EQ(v.frame, -1) << c.name;
    EXPECT_EQ(v.bitOffset, c.bit) << c.name << ": " << v.Describe();
    EXPECT_NE(v.message.find(c.message), std::string::npos) << c.name << ": " << v.Describe();
  }
  // Too short for a header at all, and cut inside it.
  const std::vector<uint8_t> h = MakeHeader(HeaderFields());
  ZafHeader parsed;
  ZafViolation v;
  EXPECT_FALSE(ZafParseHeader(h.data(), 5, parsed, v));
  EXPECT_EQ(v.bitOffset, 40u);
  EXPECT_FALSE(ZafParseHeader(h.data(), 60, parsed, v));
  EXPECT_EQ(v.bitOffset, 480u);
  EXPECT_NE(v.message.find("inside the 96-byte header"), std::string::npos);
}

TEST(ZafFrame, ParsesScaleFactorsIndicesAndValuesByResolution) {
  const ZafHeader h = ParsedHeader(HeaderFields());
  const std::vector<uint8_t> bytes = MonoFrame();
  ZafFrame f;
  ZafViolation v;
  ASSERT_TRUE(ZafParseFrame(h, bytes.data(), 0, f, v)) << v.Describe();
  EXPECT_EQ(f.noiseLevel, 100);
  EXPECT_EQ(f.boundary, 1);
  EXPECT_EQ(f.mode[0], 2);
  const int sf[] = {20, 21, 21, 40, 0, 0};
  const int res[] = {3, 4, 4, 14, 0, 0};
  for (int b = 0; b < 6; ++b) {
    EXPECT_EQ(f.scaleFactor[0][b], sf[b]) << b;
    EXPECT_EQ(f.resolution[0][b], res[b]) << b;
  }
  EXPECT_EQ(f.highIndex[0][0], 50);
  EXPECT_EQ(f.highIndex[0][1], 45);
  EXPECT_EQ(f.value[0][0][0], 1);
  EXPECT_EQ(f.value[0][3][1], -4);
  EXPECT_EQ(f.value[0][5][2], 2);
  EXPECT_EQ(f.value[0][6][3], -5);
  EXPECT_EQ(f.value[0][7][3], 0);
  EXPECT_EQ(f.usedBits, 32u + 33u + 7 * 21 + 20);

  // Cell centres 2q / L at the band's scale; high bands mirror the coded
  // bands below them (band 4 from band 3, band 5 from band 2) at the
  // group's scale.
  static float spectra[ZAF_MAX_CHANNELS][ZAF_SUBFRAMES][ZAF_BANDS];
  ZafReconstructSpectra(h, f, spectra);
  auto S = [](int i) { return static_cast<float>(std::pow(2.0, 3.5 + 53.0 * (i - 63) / 128.0)); };
  EXPECT_FLOAT_EQ(spectra[0][0][0], 2.0f / 7 * S(20));
  EXPECT_FLOAT_EQ(spectra[0][0][1], -8.0f / 9 * S(21));
  EXPECT_FLOAT_EQ(spectra[0][0][2], 4.0f / 9 * S(21));
  EXPECT_FLOAT_EQ(spectra[0][0][3], -10.0f / 2047 * S(40));
  EXPECT_FLOAT_EQ(spectra[0][0][4], -10.0f / 2047 * S(50));
  EXPECT_FLOAT_EQ(spectra[0][0][5], 4.0f / 9 * S(45));
  EXPECT_FLOAT_EQ(spectra[0][7][4], 0.0f);
  EXPECT_EQ(spectra[0][0][6], 0.0f);
}

TEST(ZafFrame, RejectsLayoutViolationsWithTheirBitOffset) {
  const ZafHeader h = ParsedHeader(HeaderFields());
  struct Case {
    const char* name;
    MonoFrameOptions options;
    uint64_t bit;
    const char* message;
  };
  std::vector<Case> cases;
  cases.push_back({"sync", {}, 0, "sync"});
  cases.back().options.sync = 0xFFFE;
  cases.push_back({"mode 7", {}, 32, "mode 7"});
  cases.back().options.mode = 7;
  cases.push_back({"raw where cheaper exists", {}, 32, "mode 6 where mode 2"});
  cases.back().options.mode = 6;
  cases.push_back({"needless escape", {}, 41, "escape"});
  cases.back().options.escapeSecond = true;
  cases.push_back({"overrun", {}, 110, "overruns"});  // a 3-bit code at 110 of 112
  cases.back().options.frameSize = 16;
  cases.push_back({"boundary without level", {}, 25, "boundary"});
  cases.back().options.noiseLevel = 0;
  for (const Case& c : cases) {
    const std::vector<uint8_t> bytes = MonoFrame(c.options);
    HeaderFields hf;
    hf.frameSize = c.options.frameSize;
    const ZafHeader hh = ParsedHeader(hf);
    ZafFrame f;
    ZafViolation v;
    EXPECT_FALSE(ZafParseFrame(hh, bytes.data(), 3, f, v)) << c.name;
    EXPECT_EQ(v.frame, 3) << c.name;
    EXPECT_EQ(v.bitOffset, c.bit) << c.name << ": " << v.Describe();
    EXPECT_NE(v.message.find(c.message), std::string::npos) << c.name << ": " << v.Describe();
  }

  // A scale factor driven below 0 by its difference; padding not zero.
  BitWriter w;
  w.Put(0xFFFF, 16);
  w.Put(100, 9);
  w.Put(0, 7);
  w.Put(2, 3);
  w.Put(0, 6);
  w.Put(0, 2);  // difference -1
  std::vector<uint8_t> bytes = w.Frame(64);
  ZafFrame f;
  ZafViolation v;
  EXPECT_FALSE(ZafParseFrame(h, bytes.data(), 0, f, v));
  EXPECT_EQ(v.bitOffset, 41u) << v.Describe();
  EXPECT_NE(v.message.find("out of range"), std::string::npos);

  bytes = MonoFrame();
  bytes[40] |= 0x04;  // bit 325, past the data (232 bits)
  EXPECT_FALSE(ZafParseFrame(h, bytes.data(), 0, f, v));
  EXPECT_EQ(v.bitOffset, 325u) << v.Describe();
  EXPECT_NE(v.message.find("padding"), std::string::npos);
}

TEST(ZafFrame, ReconstructsIntensityStereoFromTheMixAndIndex) {
  const HeaderFields hf = StereoPairFields(4, 2, 2, 0);
  const ZafHeader h = ParsedHeader(hf);
  ASSERT_EQ(h.channelType[0], 1);
  ASSERT_EQ(h.channelType[1], 2);
  // Channel 0 codes bands 0..3 with scale factors 0 0 30 0 (width 1: 24
  // bits, cheapest); channel 1 codes bands 0..1, all zero, and carries the
  // intensity indices.
  auto frame = [](uint32_t firstIndex) {
    BitWriter w;
    w.Put(0xFFFF, 16);
    w.Put(100, 9);
    w.Put(0, 7);  // boundary 0: band 2's level 77 gives x = 32, resolution 10
    w.Put(1, 3);
    w.Put(0, 6);
    w.Put(0, 1);
    w.Put(1, 1);
    w.Put(30, 6);
    w.Put(1, 1);
    w.Put(0, 6);
    w.Put(0, 3);
    const uint32_t indices[8] = {firstIndex, 14, 7, 7, 7, 7, 7, 3};
    for (uint32_t k : indices) w.Put(k, 4);
    for (int s = 0; s < 8; ++s) w.Put(10 << 1, 7);  // +10 at resolution 10
    return w.Frame(64);
  };
  ZafFrame f;
  ZafViolation v;
  std::vector<uint8_t> bytes = frame(0);
  ASSERT_TRUE(ZafParseFrame(h, bytes.data(), 0, f, v)) << v.Describe();
  EXPECT_EQ(f.resolution[0][2], 10);
  static float spectra[ZAF_MAX_CHANNELS][ZAF_SUBFRAMES][ZAF_BANDS];
  ZafReconstructSpectra(h, f, spectra);
  const float mix = 20.0f / 127 * static_cast<float>(std::pow(2.0, 3.5 + 53.0 * (30 - 63) / 128.0));
  EXPECT_FLOAT_EQ(spectra[0][0][2], 2 * mix);  // index 0: all left
  EXPECT_EQ(spectra[1][0][2], 0.0f);
  EXPECT_EQ(spectra[0][1][2], 0.0f);  // index 14: all right
  EXPECT_FLOAT_EQ(spectra[1][1][2], 2 * mix);
  EXPECT_FLOAT_EQ(spectra[0][2][2], mix);  // index 7: centre
  EXPECT_FLOAT_EQ(spectra[1][2][2], mix);
  EXPECT_FLOAT_EQ(spectra[0][7][2], mix * 11 / 7);
  EXPECT_FLOAT_EQ(spectra[1][7][2], mix * 3 / 7);

  bytes = frame(15);
  EXPECT_FALSE(ZafParseFrame(h, bytes.data(), 0, f, v));
  EXPECT_EQ(v.bitOffset, 32u + 3 + 6 + 1 + 7 + 7 + 3) << v.Describe();
  EXPECT_NE(v.message.find("intensity index 15"), std::string::npos);
}

TEST(ZafSynthesis, WindowedOverlapAddInvertsTheForwardTransform) {
  // The window meets the overlap-add condition W[n]^2 + W[n + 128]^2 = 1.
  for (int n = 0; n < 128; ++n) {
    const double w0 = ZafWindow(n), w1 = ZafWindow(n + 128);
    EXPECT_NEAR(w0 * w0 + w1 * w1, 1.0, 2e-6) << n;
  }
  // Forward transform straight from its definition, in double precision.
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  const int blocks = 12;
  std::vector<float> x(static_cast<size_t>(blocks) * 128);
  for (float& s : x) s = dist(rng);
  ZafSynthesis synth;
  synth.Reset();
  const double pi = 3.14159265358979323846;
  double worst = 0;
  for (int s = 0; s < blocks; ++s) {
    double b[256];
    for (int n = 0; n < 256; ++n) {
      const int at = (s - 1) * 128 + n;
      b[n] = at >= 0 ? x[static_cast<size_t>(at)] : 0.0;
    }
    float coef[128];
    for (int k = 0; k < 128; ++k) {
      double sum = 0;
      for (int n = 0; n < 256; ++n) sum += ZafWindow(n) * b[n] * std::cos(pi / 128 * (n + 64.5) * (k + 0.5));
      coef[k] = static_cast<float>(sum / 8);
    }
    float out[128];
    synth.Run(coef, out);
    // The output lags the input by one block of 128.
    for (int n = 0; n < 128 && s > 0; ++n) {
      worst = std::max(worst, std::fabs(out[n] - static_cast<double>(x[static_cast<size_t>((s - 1) * 128 + n)])));
    }
  }
  EXPECT_LT(worst, 1e-5);
}

TEST(ZafStream, DecodesFramesAndTrimsInsertedAndAppendedSamples) {
  HeaderFields hf;
  const std::vector<uint8_t> stream = Stream(hf, {MonoFrame(), SilentFrame(64)});
  ZafDecoded d;
  ZafViolation v;
  ASSERT_TRUE(ZafDecodeBuffer(stream.data(), stream.size(), ZafDecodeOptions(), d, v)) << v.Describe();
  EXPECT_EQ(d.samples, 1000);
  ASSERT_EQ(d.pcm.size(), 1000u);
  // The first frame's output covers synthesis positions 0..1023, of which
  // 128.. are input samples; the tail of frame 0's spectrum overlaps into
  // frame 1, so some output is nonzero.
  int nonzero = 0;
  for (int16_t s : d.pcm) nonzero += s != 0;
  EXPECT_GT(nonzero, 0);

  // The same stream enciphered: bytes substituted before the CRC, names
  // marked, decodable with its key only.
  const uint64_t key = 0x0123456789ABCDEFull;
  HeaderFields cf = hf;
  cf.cipher = 56;
  uint8_t table[256];
  ASSERT_EQ(ZafMakeCipherTable(56, key, table), 56);
  std::vector<std::vector<uint8_t>> frames = {MonoFrame(), SilentFrame(64)};
  for (auto& fr : frames) {
    for (size_t i = 0; i + 2 < fr.size(); ++i) fr[i] = table[fr[i]];
    const uint16_t crc = ZafCrc16(fr.data(), fr.size() - 2);
    fr[fr.size() - 2] = static_cast<uint8_t>(crc >> 8);
    fr[fr.size() - 1] = static_cast<uint8_t>(crc);
  }
  const std::vector<uint8_t> enciphered = Stream(cf, frames);
  ZafDecoded e;
  EXPECT_FALSE(ZafDecodeBuffer(enciphered.data(), enciphered.size(), ZafDecodeOptions(), e, v));
  EXPECT_NE(v.message.find("--key"), std::string::npos);
  ZafDecodeOptions withKey;
  withKey.haveKey = true;
  withKey.key = key;
  ASSERT_TRUE(ZafDecodeBuffer(enciphered.data(), enciphered.size(), withKey, e, v)) << v.Describe();
  EXPECT_EQ(e.pcm, d.pcm);
}

TEST(ZafStream, RejectsCorruptedStreamsAtTheFirstViolation) {
  HeaderFields hf;
  hf.frames = 3;
  hf.appended = 3 * 1024 - 1000 - 128;
  const std::vector<uint8_t> good = Stream(hf, {SilentFrame(64), MonoFrame(), SilentFrame(64)});
  ZafDecoded d;
  ZafViolation v;
  ASSERT_TRUE(ZafDecodeBuffer(good.data(), good.size(), ZafDecodeOptions(), d, v)) << v.Describe();

  struct Case {
    const char* name;
    size_t keep;          // bytes kept (0: all)
    size_t flipByte;      // byte whose bit 0x08 is flipped (0: none)
    size_t extra;         // bytes appended
    int64_t frame;
    uint64_t bit;
    const char* message;
  };
  const Case cases[] = {
      {"flipped bit in frame 1", 0, 96 + 64 + 10, 0, 1, 62 * 8, "CRC"},
      {"flipped bit in frame 2's CRC", 0, 96 + 128 + 63, 0, 2, 62 * 8, "CRC"},
      {"flipped bit in the header", 0, 20, 0, -1, 94 * 8, "CRC"},
      {"truncated inside frame 2", 96 + 128 + 30, 0, 0, 2, 30 * 8, "truncated"},
      {"truncated after frame 0", 96 + 64, 0, 0, 1, 0, "truncated"},
      {"trailing bytes", 0, 0, 5, 3, 0, "follow the last frame"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> s = good;
    if (c.keep) s.resize(c.keep);
    if (c.flipByte) s[c.flipByte] ^= 0x08;
    s.insert(s.end(), c.extra, 0);
    EXPECT_FALSE(ZafDecodeBuffer(s.data(), s.size(), ZafDecodeOptions(), d, v)) << c.name;
    EXPECT_EQ(v.frame, c.frame) << c.name << ": " << v.Describe();
    EXPECT_EQ(v.bitOffset, c.bit) << c.name << ": " << v.Describe();
    EXPECT_NE(v.message.find(c.message), std::string::npos) << c.name << ": " << v.Describe();
  }
  // A frame that breaks its layout under a valid CRC is reported too.
  MonoFrameOptions bad;
  bad.mode = 7;
  const std::vector<uint8_t> layout = Stream(hf, {SilentFrame(64), SilentFrame(64), MonoFrame(bad)});
  EXPECT_FALSE(ZafDecodeBuffer(layout.data(), layout.size(), ZafDecodeOptions(), d, v));
  EXPECT_EQ(v.Describe(), "frame 2, bit 32: channel 0: scale-factor mode 7");

  // A header that claims four billion frames, followed by one frame: a
  // truncation at frame 1, not an attempt to hold all those samples.
  HeaderFields huge = hf;
  huge.frames = 0xFFFFFFFFu;
  huge.channels = 16;
  huge.tracks = 16;
  const std::vector<uint8_t> claim = Stream(huge, {SilentFrame(64)});
  EXPECT_FALSE(ZafDecodeBuffer(claim.data(), claim.size(), ZafDecodeOptions(), d, v));
  EXPECT_EQ(v.Describe(), "frame 1, bit 0: file truncated: 0 of 64 frame bytes present");
}
