#pragma once
// The ZAF encoder library: instances living in a caller's work area turn
// blocks of 1024 float samples per channel into fixed-size frames.
#include <cstddef>
#include <cstdint>

struct ZafEncoder;

// Result codes of every library call.
enum {
    ZAF_OK = 0,
    ZAF_ERR_NULL = 1,
    ZAF_ERR_ARGUMENT = 2,
    ZAF_ERR_LAYOUT = 3,
    ZAF_ERR_NOFIT = 4,
    ZAF_ERR_NOT_INITIALIZED = 5,
    ZAF_ERR_NO_HEADER = 6,
    ZAF_ERR_BUFFER = 7,
    ZAF_ERR_OVERFLOW = 8,
    ZAF_ERR_BITCOUNT = 13,
};

// Work area bytes one instance needs for a given maximum channel count.
constexpr size_t ZafEncoderWorkSize(int maxChannels)
{
    return static_cast<size_t>(maxChannels) * 22572 + 368;
}

struct ZafEncoderInfo {
    int32_t headerSize;
    int32_t frameCount;
    int32_t delay;          // samples inserted at the start
    int32_t appended;       // samples appended at the end
    int32_t frameSize;      // bytes
    int32_t totalBands;
    int32_t baseBands;
    int32_t stereoBands;
    int32_t bandsPerGroup;  // bands per high-frequency group
};

void EncoderLibraryInit();
void EncoderLibraryFinish();

int EncoderCreate(int maxChannels, void* work, size_t workSize, ZafEncoder** out);
int EncoderDestroy(ZafEncoder* enc);
int EncoderReset(ZafEncoder* enc);
int EncoderCopySettings(ZafEncoder* dst, const ZafEncoder* src);
int EncoderSetChannels(ZafEncoder* enc, int channels, int tracks, int config);
int EncoderSetSamplingRate(ZafEncoder* enc, int rate, int cutoff);
int EncoderSetNumSamples(ZafEncoder* enc, int64_t count);
int EncoderSetBitrate(ZafEncoder* enc, int bitrate);
int EncoderSetBandLayout(ZafEncoder* enc, int constraint);
int EncoderSetLoop(ZafEncoder* enc, int64_t start, int64_t length);
int EncoderSetCipherTable(ZafEncoder* enc, int type, const uint8_t* table, size_t tableSize);
int EncoderEncodeHeader(ZafEncoder* enc, uint8_t* out, size_t capacity, size_t* outSize);
int EncoderSeekFrame(ZafEncoder* enc, int64_t frame, int64_t* inputIndex);
int EncoderPutSamples(ZafEncoder* enc, const float* const* samples, int channels, int count, int* consumed);
int EncoderEncodeFrame(ZafEncoder* enc, uint8_t* out, size_t capacity, size_t* outSize);
// Fills every field with -1 and returns 6 before the header step.
int EncoderGetInfo(const ZafEncoder* enc, ZafEncoderInfo* info);

// Builds the byte-substitution table of a cipher type (0, 1 or 56) from a key;
// returns the type produced (0 when nothing was written) or -1.
int MakeCipherTable(int type, uint64_t key, uint8_t* table);

// CRC-16 with polynomial 0x8005, MSB first, no reflection, no final XOR.
uint16_t ZafCrc16(const uint8_t* data, size_t size, uint16_t crc = 0);
