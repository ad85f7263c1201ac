// Verification decoder for ZAF streams.
//
// The reader checks the stream header and every frame strictly (CRC, sync
// word, every field of the bit layout, the choices the encoder must have
// made when it wrote a field) and stops at the first violation, which it
// reports with the frame index and the bit offset inside that frame. The
// synthesis then rebuilds the spectra (cell-centre dequantisation, scale
// table, high-frequency and intensity-stereo bands), inverts the transform
// with windowed overlap-add and trims the inserted and appended samples.
//
// The decoder is an independent check of the encoder: it shares with it
// only facts the format fixes as plain data (ZafTables.h: quantiser levels,
// the resolution table, the scale-factor delta coding; ZafCipher.h: the
// substitution tables). Its codebooks, channel layouts, CRC, scale table and
// transform are its own, so a slip in the encoder's shows as a violation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Everything of the decoder lives in its own namespace so that a program
// may link it together with the encoder library.
namespace zafdec {

// Reads bit fields most significant bit first from a byte buffer, never
// past a limit given in bits.
class ZafBitReader {
public:
  ZafBitReader(const uint8_t* data, size_t bitLimit) : m_data(data), m_limit(bitLimit) {}

  // Reads count bits (0..32) into value; false (position unchanged) when the
  // field would pass the limit.
  bool Read(int count, uint32_t& value);
  // The next count bits (0..32) without consuming them; bits past the limit
  // read as zero. Returns how many of them lie inside the limit.
  int Peek(int count, uint32_t& value) const;
  void Skip(int count) { m_pos += static_cast<size_t>(count); }

  size_t Position() const { return m_pos; }
  size_t Limit() const { return m_limit; }
  size_t Remaining() const { return m_limit - m_pos; }

private:
  const uint8_t* m_data;
  size_t m_limit;
  size_t m_pos = 0;
};

// CRC-16 with polynomial 0x8005, most significant bit first, initial value 0,
// no reflection, no final XOR. A block followed by its own CRC gives 0.
uint16_t ZafCrc16(const uint8_t* data, size_t size, uint16_t crc = 0);

// The substitution table the encoder applies to frame bytes (type 1: fixed,
// type 56: keyed). Returns the type produced, 0 when nothing was written
// (zero key or type 0), -1 for an unknown type.
int ZafMakeCipherTable(int type, uint64_t key, uint8_t table[256]);

// Where a stream breaks its format. frame is -1 for the header; the bit
// offset counts from the first byte of the header or of the frame.
struct ZafViolation {
  int64_t frame = -1;
  uint64_t bitOffset = 0;
  std::string message;

  std::string Describe() const;
};

constexpr int ZAF_MAX_CHANNELS = 16;
constexpr int ZAF_BANDS = 128;
constexpr int ZAF_SUBFRAMES = 8;
constexpr int ZAF_FRAME_SAMPLES = 1024;

struct ZafHeader {
  int headerSize = 0;
  int channels = 0;
  int samplingRate = 0;
  uint32_t frameCount = 0;
  int delay = 0;     // samples inserted before the first input sample
  int appended = 0;  // samples after the last input sample
  int frameSize = 0; // bytes
  int tracks = 0;
  int configuration = 0;
  int totalBands = 0;
  int baseBands = 0;
  int stereoBands = 0;
  int bandsPerGroup = 0;
  int groupCount = 0; // high-frequency groups, derived
  bool hasLoop = false;
  uint32_t loopStartFrame = 0;
  uint32_t loopEndFrame = 0;
  int loopStartOffset = 0;
  int loopTailSamples = 0; // samples of the loop end frame after the loop end
  int cipherType = 0;
  // Derived per channel: 0 discrete, 1 first and 2 second of a stereo pair;
  // the number of bands whose values the frame carries.
  int channelType[ZAF_MAX_CHANNELS] = {};
  int codedBands[ZAF_MAX_CHANNELS] = {};

  bool IsAmbisonic() const { return configuration >= 0x80; }
  // Input samples per channel the stream carries.
  int64_t SampleCount() const {
    return static_cast<int64_t>(frameCount) * ZAF_FRAME_SAMPLES - delay - appended;
  }
  // Loop in input samples (start, length); only meaningful with hasLoop.
  int64_t LoopStart() const {
    return static_cast<int64_t>(loopStartFrame) * ZAF_FRAME_SAMPLES + loopStartOffset - delay;
  }
  int64_t LoopLength() const {
    return (static_cast<int64_t>(loopEndFrame) - loopStartFrame + 1) * ZAF_FRAME_SAMPLES -
           loopStartOffset - loopTailSamples;
  }
};

// Parses and checks the header at the start of data (size bytes available).
bool ZafParseHeader(const uint8_t* data, size_t size, ZafHeader& header, ZafViolation& violation);

// One frame as read from its bit layout.
struct ZafFrame {
  int noiseLevel = 0;
  int boundary = 0;
  int mode[ZAF_MAX_CHANNELS] = {};
  uint8_t scaleFactor[ZAF_MAX_CHANNELS][ZAF_BANDS] = {};
  uint8_t resolution[ZAF_MAX_CHANNELS][ZAF_BANDS] = {};
  uint8_t intensity[ZAF_MAX_CHANNELS][ZAF_SUBFRAMES] = {}; // second channels of pairs
  uint8_t highIndex[ZAF_MAX_CHANNELS][8] = {};             // other channels
  int16_t value[ZAF_MAX_CHANNELS][ZAF_SUBFRAMES][ZAF_BANDS] = {};
  uint32_t usedBits = 0; // bits before the zero padding, CRC excluded
};

// Parses one frame (frameSize bytes, cipher already undone). Checks the
// sync word, every field and the zero padding; the CRC is checked by the
// caller because it covers the stored (substituted) bytes.
bool ZafParseFrame(const ZafHeader& header, const uint8_t* frame, int64_t frameIndex,
                   ZafFrame& parsed, ZafViolation& violation);

// Rebuilds the spectra of one frame: spectra[channel][subframe][coefficient].
void ZafReconstructSpectra(const ZafHeader& header, const ZafFrame& frame,
                           float spectra[ZAF_MAX_CHANNELS][ZAF_SUBFRAMES][ZAF_BANDS]);

// Inverse transform of one channel: 128 coefficients in, 128 samples out,
// windowed overlap-add with the previous call's second half.
// Transform window value n (0..255).
float ZafWindow(int n);

class ZafSynthesis {
public:
  void Reset();
  void Run(const float coefficients[ZAF_BANDS], float out[ZAF_BANDS]);

private:
  float m_overlap[ZAF_BANDS] = {};
};

struct ZafDecodeOptions {
  bool haveKey = false;
  uint64_t key = 0;
};

// Decodes a stream held in memory, frame by frame. Output samples are the
// input samples of the encoder, interleaved, as floats of full scale 1.
class ZafStreamDecoder {
public:
  // Parses the header and prepares the cipher; false with a violation (or
  // a message with frame -1 and offset 0 for a missing key).
  bool Open(const uint8_t* data, size_t size, const ZafDecodeOptions& options,
            ZafViolation& violation);
  const ZafHeader& Header() const { return m_header; }

  // Decodes the next frame; appends the input samples it completes to out.
  // After the last frame it also checks that nothing follows it.
  bool DecodeNextFrame(std::vector<float>& out, ZafViolation& violation);
  bool Finished() const { return m_next >= m_header.frameCount; }

private:
  const uint8_t* m_data = nullptr;
  size_t m_size = 0;
  ZafHeader m_header;
  bool m_cipher = false;
  uint8_t m_plain[256] = {};
  uint32_t m_next = 0;
  int64_t m_outputPos = 0; // synthesis output samples produced so far
  std::vector<uint8_t> m_frameBytes;
  ZafFrame m_frame;
  ZafSynthesis m_synth[ZAF_MAX_CHANNELS];
  float m_spectra[ZAF_MAX_CHANNELS][ZAF_SUBFRAMES][ZAF_BANDS];
  std::vector<float> m_block;
};

struct ZafDecoded {
  ZafHeader header;
  std::vector<int16_t> pcm; // interleaved 16-bit samples
  int64_t samples = 0;      // per channel
};

// Converts a float sample of full scale 1 to 16 bits (rounded, clamped).
int16_t ZafToPcm16(float value);

// Whole-stream helpers: decode a buffer to 16-bit samples; decode a file and
// write a 16-bit WAV file (with a sampler loop when the stream has one).
bool ZafDecodeBuffer(const uint8_t* data, size_t size, const ZafDecodeOptions& options,
                     ZafDecoded& decoded, ZafViolation& violation);
bool ZafDecodeFile(const std::string& inputPath, const std::string& outputPath,
                   const ZafDecodeOptions& options, ZafHeader& header, ZafViolation& violation);

// Writes a 16-bit PCM WAV file; loopLength 0 writes no sampler chunk.
bool ZafWriteWav16(const std::string& path, int channels, int samplingRate,
                   const int16_t* pcm, int64_t samples, int64_t loopStart = 0,
                   int64_t loopLength = 0);

}  // namespace zafdec
