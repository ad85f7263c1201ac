#include "audio/decoder/ZafDecoder.h"

#include "audio/ZafCipher.h"
#include "audio/ZafTables.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace zafdec {
namespace {

// ---------------------------------------------------------------- tables

// Scale of scale factor i: 2^(3.5 + 53 (i - 63) / 128).
struct ScaleTable {
    float s[64];
    ScaleTable()
    {
        for (int i = 0; i < 64; ++i) {
            s[i] = static_cast<float>(std::pow(2.0, 3.5 + 53.0 * (i - 63) / 128.0));
        }
    }
};
const ScaleTable kScale;

// Prefix codes of resolutions 1..7, values -(L-1)/2 .. +(L-1)/2 in order.
const char* const kCodes1[] = {"11", "0", "10"};
const char* const kCodes2[] = {"111", "10", "00", "01", "110"};
const char* const kCodes3[] = {"111", "101", "011", "00", "010", "100", "110"};
const char* const kCodes4[] = {"1111", "110", "100", "010", "000", "001", "011", "101", "1110"};
const char* const kCodes5[] = {"1111", "1101", "1011", "100", "010", "000", "001", "011", "1010", "1100", "1110"};
const char* const kCodes6[] = {"1111", "1101", "1011", "1001", "0111", "010", "000",
                               "001",  "0110", "1000", "1010", "1100", "1110"};
const char* const kCodes7[] = {"1111", "1101", "1011", "1001", "0111", "0101", "0011", "000",
                               "0010", "0100", "0110", "1000", "1010", "1100", "1110"};
const char* const* const kCodeBook[8] = {nullptr, kCodes1, kCodes2, kCodes3, kCodes4, kCodes5, kCodes6, kCodes7};

// Lookup of the prefix codes by their next four bits.
struct CodeLookup {
    int8_t value[8][16];
    uint8_t length[8][16];
    CodeLookup()
    {
        std::memset(value, 0, sizeof value);
        std::memset(length, 0, sizeof length);
        for (int r = 1; r <= 7; ++r) {
            const int half = kZafLevels[r] / 2;
            for (int i = 0; i < kZafLevels[r]; ++i) {
                const char* code = kCodeBook[r][i];
                const int len = static_cast<int>(std::strlen(code));
                int bits = 0;
                for (int b = 0; b < len; ++b) bits = (bits << 1) | (code[b] - '0');
                const int first = bits << (4 - len);
                for (int k = 0; k < (1 << (4 - len)); ++k) {
                    value[r][first + k] = static_cast<int8_t>(i - half);
                    length[r][first + k] = static_cast<uint8_t>(len);
                }
            }
        }
    }
};
const CodeLookup kCodeLookup;

// Window of the transform, first half; the second half mirrors it.
const float kWindowHalf[128] = {
    0.0006905338f, 0.0019762348f, 0.0036738645f, 0.00572424f,  0.008096703f, 0.010773182f, 0.013742518f, 0.016997857f,
    0.020535264f,  0.024352903f,  0.028450519f,  0.032829095f, 0.03749062f,  0.042437896f, 0.04767443f,  0.0532043f,
    0.059032112f,  0.06516288f,   0.07160201f,   0.07835522f,  0.08542849f,  0.09282802f,  0.10056015f,  0.10863135f,
    0.11704812f,   0.12581699f,   0.13494435f,   0.14443651f,  0.15429951f,  0.16453913f,  0.17516072f,  0.18616916f,
    0.19756873f,   0.20936297f,   0.22155462f,   0.23414542f,  0.247136f,    0.26052576f,  0.2743127f,   0.2884932f,
    0.30306193f,   0.31801173f,   0.33333334f,   0.3490153f,   0.36504382f,  0.3814027f,   0.3980731f,   0.41503352f,
    0.4322598f,    0.44972503f,   0.46739957f,   0.48525116f,  0.50324494f,  0.5213438f,   0.5395085f,   0.5576978f,
    0.5758689f,    0.59397805f,   0.61198056f,   0.62983143f,  0.64748603f,  0.66490024f,  0.68203115f,  0.6988376f,
    0.7152804f,    0.7313231f,    0.74693215f,   0.76207733f,  0.77673185f,  0.7908728f,   0.80448127f,  0.817542f,
    0.8300441f,    0.84198016f,   0.8533467f,    0.8641438f,   0.8743748f,   0.8840462f,   0.8931671f,   0.90174913f,
    0.90980613f,   0.9173537f,    0.924409f,     0.93099034f,  0.93711704f,  0.94280905f,  0.9480868f,   0.95297086f,
    0.9574819f,    0.96164054f,   0.9654669f,    0.9689808f,   0.9722016f,   0.97514796f,  0.977838f,    0.98028904f,
    0.9825177f,    0.98453987f,   0.98637056f,   0.9880241f,   0.98951405f,  0.9908532f,   0.99205345f,  0.9931263f,
    0.9940821f,    0.994931f,     0.9956822f,    0.9963443f,   0.99692553f,  0.9974333f,   0.9978746f,   0.9982561f,
    0.9985837f,    0.9988629f,    0.99909914f,   0.99929696f,  0.999461f,    0.9995952f,   0.9997034f,   0.9997891f,
    0.9998555f,    0.9999056f,    0.99994195f,   0.9999672f,   0.9999836f,   0.99999326f,  0.99999803f,  0.99999976f,
};

// Channel order and scale of ambisonic streams: stream channel k holds
// input channel kAmbiFrom[k] multiplied by kAmbiFactor[k].
const int kAmbiFrom[16] = {0, 2, 3, 1, 8, 6, 4, 5, 7, 15, 13, 11, 9, 10, 12, 14};
const float kAmbiFactor[16] = {1.4142135f, 1.7320508f, 1.7320508f, 1.7320508f, 1.9364917f, 1.9364917f,
                               2.236068f,  1.9364917f, 1.9364917f, 2.09165f,   1.9720266f, 2.2310934f,
                               2.6457512f, 2.2310934f, 1.9720266f, 2.09165f};

struct CrcTable {
    uint16_t t[256];
    CrcTable()
    {
        for (int i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i << 8);
            for (int b = 0; b < 8; ++b) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x8005 : c << 1);
            t[i] = c;
        }
    }
};
const CrcTable kCrc;

// ------------------------------------------------ inverse transform tables

// DCT-IV of length 128 through a complex FFT of length 64:
//   v[m] = (x[2m] - i x[127 - 2m]) e^{i pi m / 128}
//   Z = sum_m v[m] e^{2 pi i m p / 64}, Z[p] *= e^{i pi (p + 1/4) / 128}
//   X[2p] = Re Z[p], X[127 - 2p] = Im Z[p].
struct TransformTables {
    float preCos[64], preSin[64];
    float postCos[64], postSin[64];
    float fftCos[32], fftSin[32];
    uint8_t bitReverse[64];
    float window[256];
    TransformTables()
    {
        const double pi = 3.14159265358979323846;
        for (int m = 0; m < 64; ++m) {
            preCos[m] = static_cast<float>(std::cos(pi * m / 128.0));
            preSin[m] = static_cast<float>(std::sin(pi * m / 128.0));
            postCos[m] = static_cast<float>(std::cos(pi * (m + 0.25) / 128.0));
            postSin[m] = static_cast<float>(std::sin(pi * (m + 0.25) / 128.0));
            int r = 0;
            for (int b = 0; b < 6; ++b) r |= ((m >> b) & 1) << (5 - b);
            bitReverse[m] = static_cast<uint8_t>(r);
        }
        for (int k = 0; k < 32; ++k) {
            fftCos[k] = static_cast<float>(std::cos(2.0 * pi * k / 64.0));
            fftSin[k] = static_cast<float>(std::sin(2.0 * pi * k / 64.0));
        }
        for (int n = 0; n < 128; ++n) {
            window[n] = kWindowHalf[n];
            window[255 - n] = kWindowHalf[n];
        }
    }
};
const TransformTables kTx;

void DctIv128(const float* in, float* out)
{
    float re[64], im[64];
    for (int m = 0; m < 64; ++m) {
        const float a = in[2 * m];
        const float b = -in[127 - 2 * m];
        const int j = kTx.bitReverse[m];
        re[j] = a * kTx.preCos[m] - b * kTx.preSin[m];
        im[j] = a * kTx.preSin[m] + b * kTx.preCos[m];
    }
    // Radix-2 FFT with positive exponent.
    for (int size = 2; size <= 64; size <<= 1) {
        const int half = size >> 1;
        const int step = 64 / size;
        for (int start = 0; start < 64; start += size) {
            for (int k = 0; k < half; ++k) {
                const float wr = kTx.fftCos[k * step];
                const float wi = kTx.fftSin[k * step];
                const int p = start + k;
                const int q = p + half;
                const float tr = re[q] * wr - im[q] * wi;
                const float ti = re[q] * wi + im[q] * wr;
                re[q] = re[p] - tr;
                im[q] = im[p] - ti;
                re[p] += tr;
                im[p] += ti;
            }
        }
    }
    for (int p = 0; p < 64; ++p) {
        const float zr = re[p] * kTx.postCos[p] - im[p] * kTx.postSin[p];
        const float zi = re[p] * kTx.postSin[p] + im[p] * kTx.postCos[p];
        out[2 * p] = zr;
        out[127 - 2 * p] = zi;
    }
}

// ---------------------------------------------------------------- helpers

uint32_t Be16(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 8) | p[1]; }
uint32_t Be24(const uint8_t* p) { return (Be16(p) << 8) | p[2]; }
uint32_t Be32(const uint8_t* p) { return (Be16(p) << 16) | Be16(p + 2); }

bool Fail(ZafViolation& v, int64_t frame, uint64_t bit, std::string message)
{
    v.frame = frame;
    v.bitOffset = bit;
    v.message = std::move(message);
    return false;
}

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

// Chunk name with the cipher mark ORed into its letters.
bool NameMatches(const uint8_t* p, const char* name, uint8_t mark)
{
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = static_cast<uint8_t>(name[i]);
        const uint8_t expect = c ? static_cast<uint8_t>(c | mark) : 0;
        if (p[i] != expect) return false;
    }
    return true;
}

// Channel types of one track of n channels when the stream has stereo bands.
void TrackTypes(int n, int configuration, int* types)
{
    static const int k2[] = {1, 2};
    static const int k3[] = {1, 2, 0};
    static const int k4a[] = {1, 2, 1, 2};
    static const int k4b[] = {1, 2, 0, 0};
    static const int k5a[] = {1, 2, 0, 1, 2};
    static const int k5b[] = {1, 2, 0, 0, 0};
    static const int k6[] = {1, 2, 0, 0, 1, 2};
    static const int k7[] = {1, 2, 0, 0, 1, 2, 0};
    static const int k8[] = {1, 2, 0, 0, 1, 2, 1, 2};
    const int* src = nullptr;
    switch (n) {
    case 2: src = k2; break;
    case 3: src = k3; break;
    case 4: src = configuration == 0 ? k4a : k4b; break;
    case 5: src = configuration <= 2 ? k5a : k5b; break;
    case 6: src = k6; break;
    case 7: src = k7; break;
    case 8: src = k8; break;
    default: break;
    }
    for (int i = 0; i < n; ++i) types[i] = src ? src[i] : 0;
}

// Bits of the scale factors of one channel in a given mode (1..6).
int ScaleFactorCost(const uint8_t* sf, int bands, int mode)
{
    if (mode == 6) return 3 + 6 * bands;
    int cost = 9;
    for (int j = 1; j < bands; ++j) {
        cost += mode;
        if (std::abs(sf[j] - sf[j - 1]) > kZafHalfRange[mode]) cost += 6;
    }
    return cost;
}

int CheapestMode(const uint8_t* sf, int bands)
{
    int best = 6;
    int bestCost = ScaleFactorCost(sf, bands, 6);
    for (int w = 1; w <= 5; ++w) {
        const int cost = ScaleFactorCost(sf, bands, w);
        if (cost < bestCost) {
            best = w;
            bestCost = cost;
        }
    }
    return best;
}

// Resolution of band p from the noise level a, boundary e and level v.
int BandResolution(int a, int e, int v, int p)
{
    if (v <= 3) return 0;
    int x = a - v + 8;
    if (p >= e) ++x;
    if (x < 0) return 15;
    if (x < 72) return kZafResolution[x] < 15 ? kZafResolution[x] : 15;
    return 1;
}

} // namespace

// ------------------------------------------------------------- bit reader

bool ZafBitReader::Read(int count, uint32_t& value)
{
    if (count < 0 || count > 32 || static_cast<size_t>(count) > Remaining()) return false;
    uint32_t v = 0;
    Peek(count, v);
    m_pos += static_cast<size_t>(count);
    value = v;
    return true;
}

int ZafBitReader::Peek(int count, uint32_t& value) const
{
    if (count > 0 && static_cast<size_t>(count) <= Remaining()) {
        // The whole field lies inside: gather the (at most five) bytes it spans.
        const size_t first = m_pos >> 3;
        const size_t last = (m_pos + static_cast<size_t>(count) - 1) >> 3;
        uint64_t window = 0;
        for (size_t i = first; i <= last; ++i) window = (window << 8) | m_data[i];
        const int drop = static_cast<int>(((last + 1) << 3) - (m_pos + static_cast<size_t>(count)));
        value = static_cast<uint32_t>((window >> drop) & ((uint64_t{1} << count) - 1));
        return count;
    }
    uint64_t v = 0;
    int inside = 0;
    size_t pos = m_pos;
    for (int i = 0; i < count; ++i, ++pos) {
        uint64_t bit = 0;
        if (pos < m_limit) {
            bit = (m_data[pos >> 3] >> (7 - (pos & 7))) & 1u;
            ++inside;
        }
        v = (v << 1) | bit;
    }
    value = static_cast<uint32_t>(v);
    return inside;
}

uint16_t ZafCrc16(const uint8_t* data, size_t size, uint16_t crc)
{
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ kCrc.t[((crc >> 8) ^ data[i]) & 0xFF]);
    }
    return crc;
}

int ZafMakeCipherTable(int type, uint64_t key, uint8_t table[256]) { return zafcipher::MakeTable(type, key, table); }

std::string ZafViolation::Describe() const
{
    if (frame < 0) return Format("header, bit %llu: %s", static_cast<unsigned long long>(bitOffset), message.c_str());
    return Format("frame %lld, bit %llu: %s", static_cast<long long>(frame), static_cast<unsigned long long>(bitOffset),
                  message.c_str());
}

// ------------------------------------------------------------------ header

namespace {

// Reads the header chunk by chunk in stored order. Every check records the
// first violation through Reject, which ends the parse.
class HeaderParser {
public:
    HeaderParser(const uint8_t* data, size_t size, ZafHeader& h, ZafViolation& v) :
        m_data(data), m_size(size), m_h(h), m_v(v)
    {}

    bool Run()
    {
        m_h = ZafHeader();
        if (!(ReadContainer() && ReadFormat() && ReadCoding() && ReadBandLayout() && ReadLoop() && ReadCipher() &&
              ReadPad() && CheckSampleRange()))
            return false;
        DeriveChannelTypes();
        return true;
    }

private:
    bool Reject(uint64_t bit, std::string message) { return Fail(m_v, -1, bit, std::move(message)); }

    // Magic (with the cipher mark), version, header size and the CRC.
    bool ReadContainer()
    {
        if (m_size < 8) return Reject(m_size * 8, "file too short for a stream header");
        if (NameMatches(m_data, "ZAF", 0)) {
            m_mark = 0;
        } else if (NameMatches(m_data, "ZAF", 0x80)) {
            m_mark = 0x80;
        } else {
            return Reject(0, "not a ZAF stream (bad magic)");
        }
        const uint32_t version = Be16(m_data + 4);
        if (version != 0x0200) return Reject(32, Format("unsupported version 0x%04X", version));
        m_h.headerSize = static_cast<int>(Be16(m_data + 6));
        if (m_h.headerSize < 52) return Reject(48, Format("header size %d is too small", m_h.headerSize));
        if (m_size < static_cast<size_t>(m_h.headerSize))
            return Reject(m_size * 8, Format("file ends inside the %d-byte header", m_h.headerSize));
        m_crcAt = static_cast<size_t>(m_h.headerSize) - 2;
        const uint32_t stored = Be16(m_data + m_crcAt);
        const uint32_t computed = ZafCrc16(m_data, m_crcAt);
        if (computed != stored) {
            return Reject(m_crcAt * 8,
                          Format("header CRC mismatch (stored 0x%04X, computed 0x%04X)", stored, computed));
        }
        return true;
    }

    // "fmt": channels, sampling rate, frames, inserted and appended samples.
    bool ReadFormat()
    {
        if (!NameMatches(m_data + 8, "fmt", m_mark)) return Reject(64, "missing \"fmt\" chunk");
        m_h.channels = m_data[12];
        if (m_h.channels < 1 || m_h.channels > ZAF_MAX_CHANNELS)
            return Reject(96, Format("channel count %d out of range", m_h.channels));
        m_h.samplingRate = static_cast<int>(Be24(m_data + 13));
        if (m_h.samplingRate < 1) return Reject(104, "sampling rate 0");
        m_h.frameCount = Be32(m_data + 16);
        m_h.delay = static_cast<int>(Be16(m_data + 20));
        m_h.appended = static_cast<int>(Be16(m_data + 22));
        return true;
    }

    // "comp": frame size, resolution range, tracks.
    bool ReadCoding()
    {
        if (!NameMatches(m_data + 24, "comp", m_mark)) return Reject(192, "missing \"comp\" chunk");
        m_h.frameSize = static_cast<int>(Be16(m_data + 28));
        if (m_h.frameSize < 8) return Reject(224, Format("frame size %d is too small", m_h.frameSize));
        if (m_data[30] != 1 || m_data[31] != 15)
            return Reject(240, Format("resolution range %d..%d is not 1..15", m_data[30], m_data[31]));
        m_h.tracks = m_data[32];
        if (m_h.tracks < 1 || m_h.tracks > m_h.channels || m_h.channels % m_h.tracks != 0)
            return Reject(256, Format("track count %d does not divide %d channels", m_h.tracks, m_h.channels));
        return true;
    }

    // The rest of "comp": configuration and the band counts.
    bool ReadBandLayout()
    {
        ZafHeader& h = m_h;
        h.configuration = m_data[33];
        h.totalBands = m_data[34];
        h.baseBands = m_data[35];
        h.stereoBands = m_data[36];
        h.bandsPerGroup = m_data[37];
        if (h.totalBands > ZAF_BANDS || h.baseBands + h.stereoBands > h.totalBands) {
            return Reject(272, Format("band counts %d/%d/%d inconsistent", h.totalBands, h.baseBands, h.stereoBands));
        }
        const int high = h.totalBands - h.baseBands - h.stereoBands;
        if (h.bandsPerGroup != (high + 7) / 8) {
            return Reject(296, Format("%d bands per high-frequency group where %d high bands need %d", h.bandsPerGroup,
                                      high, (high + 7) / 8));
        }
        h.groupCount = high > 0 ? (high + h.bandsPerGroup - 1) / h.bandsPerGroup : 0;
        if (h.stereoBands > 0 && (h.channels == 1 || h.IsAmbisonic()))
            return Reject(288, "stereo bands in a mono or ambisonic stream");
        if (Be16(m_data + 38) != 0) return Reject(304, "reserved field not zero");
        return true;
    }

    // The optional "loop" chunk.
    bool ReadLoop()
    {
        if (m_pos + 16 > m_crcAt || !NameMatches(m_data + m_pos, "loop", m_mark)) return true;
        ZafHeader& h = m_h;
        const uint8_t* p = m_data + m_pos;
        h.hasLoop = true;
        h.loopStartFrame = Be32(p + 4);
        h.loopEndFrame = Be32(p + 8);
        h.loopStartOffset = static_cast<int>(Be16(p + 12));
        h.loopTailSamples = static_cast<int>(Be16(p + 14));
        if (h.loopStartFrame > h.loopEndFrame || h.loopEndFrame >= h.frameCount ||
            h.loopStartOffset >= ZAF_FRAME_SAMPLES || h.loopTailSamples >= ZAF_FRAME_SAMPLES || h.LoopLength() <= 0) {
            return Reject(m_pos * 8 + 32, "loop fields inconsistent");
        }
        m_pos += 16;
        return true;
    }

    // "ciph": the cipher type, which the chunk names' mark must agree with.
    bool ReadCipher()
    {
        if (m_pos + 6 > m_crcAt || !NameMatches(m_data + m_pos, "ciph", m_mark))
            return Reject(m_pos * 8, "missing \"ciph\" chunk");
        m_h.cipherType = static_cast<int>(Be16(m_data + m_pos + 4));
        if (!zafcipher::IsKnownType(m_h.cipherType))
            return Reject(m_pos * 8 + 32, Format("unknown cipher type %d", m_h.cipherType));
        if ((m_h.cipherType == zafcipher::kKeyed) != (m_mark == 0x80))
            return Reject(m_pos * 8 + 32, "chunk name mark does not match the cipher type");
        m_pos += 6;
        return true;
    }

    // "pad" and zeros up to the CRC.
    bool ReadPad()
    {
        if (m_pos + 4 > m_crcAt || !NameMatches(m_data + m_pos, "pad", m_mark))
            return Reject(m_pos * 8, "missing \"pad\" chunk");
        for (size_t pos = m_pos + 4; pos < m_crcAt; ++pos) {
            if (m_data[pos] != 0) return Reject(pos * 8, "header padding not zero");
        }
        return true;
    }

    // The inserted, appended and looped samples lie inside the frames.
    bool CheckSampleRange()
    {
        const ZafHeader& h = m_h;
        const int64_t positions = static_cast<int64_t>(h.frameCount) * ZAF_FRAME_SAMPLES;
        if (h.delay < 128 || h.delay + h.appended > positions) {
            return Reject(160, Format("%d inserted and %d appended samples do not fit %u frames", h.delay, h.appended,
                                      h.frameCount));
        }
        if (h.hasLoop && (h.LoopStart() < 0 || h.LoopStart() + h.LoopLength() > h.SampleCount()))
            return Reject(kLoopChunkAt * 8 + 32, "loop outside the samples of the stream");
        return true;
    }

    // Channel types and coded bands follow from the layout.
    void DeriveChannelTypes()
    {
        ZafHeader& h = m_h;
        const int perTrack = h.channels / h.tracks;
        for (int t = 0; t < h.tracks; ++t) {
            int* types = h.channelType + t * perTrack;
            if (h.stereoBands > 0 && perTrack > 1) {
                TrackTypes(perTrack, h.configuration, types);
            } else {
                for (int i = 0; i < perTrack; ++i) types[i] = 0;
            }
        }
        for (int c = 0; c < h.channels; ++c)
            h.codedBands[c] = h.channelType[c] == 2 ? h.baseBands : h.baseBands + h.stereoBands;
    }

    // The optional chunks start after the fixed 40 bytes.
    static constexpr size_t kLoopChunkAt = 40;

    const uint8_t* m_data;
    size_t m_size;
    ZafHeader& m_h;
    ZafViolation& m_v;
    uint8_t m_mark = 0; // ORed into the chunk names' letters of keyed streams
    size_t m_crcAt = 0;
    size_t m_pos = kLoopChunkAt; // next optional chunk
};

} // namespace

bool ZafParseHeader(const uint8_t* data, size_t size, ZafHeader& h, ZafViolation& v)
{
    return HeaderParser(data, size, h, v).Run();
}

// ------------------------------------------------------------------- frame

namespace {

// Reads one frame field by field: the frame head, each channel's scale
// factors and side information, the quantised values and the zero padding.
// Resolutions are not sent; they follow from the head and the scale
// factors. Every check records the first violation through Reject.
class FrameParser {
public:
    FrameParser(const ZafHeader& h, const uint8_t* data, int64_t index, ZafFrame& f, ZafViolation& v) :
        m_h(h), m_f(f), m_v(v), m_index(index), m_br(data, static_cast<size_t>(h.frameSize - 2) * 8)
    {}

    bool Run()
    {
        if (!ReadHead()) return false;
        for (int c = 0; c < m_h.channels; ++c) {
            if (!ReadScaleFactors(c) || !ReadSideInfo(c)) return false;
        }
        DeriveResolutions();
        return ReadValues() && CheckPadding();
    }

private:
    // Failures stay out of line so that the field reads inline into the
    // per-value loop.
    [[gnu::cold, gnu::noinline]] bool Reject(uint64_t bit, std::string message)
    {
        return Fail(m_v, m_index, bit, std::move(message));
    }

    [[gnu::cold, gnu::noinline]] bool Overrun(const char* what)
    {
        return Reject(m_br.Position(), Format("frame data overruns the frame while reading %s", what));
    }

    // Reads a field; one that would pass the end of the frame data is an
    // overrun.
    bool Read(int count, uint32_t& value, const char* what) { return m_br.Read(count, value) || Overrun(what); }

    // Sync word, noise level and evaluation boundary.
    bool ReadHead()
    {
        uint32_t x = 0;
        if (!Read(16, x, "the sync word")) return false;
        if (x != 0xFFFF) return Reject(0, Format("sync word 0x%04X, expected 0xFFFF", x));
        if (!Read(9, x, "the noise level")) return false;
        m_f.noiseLevel = static_cast<int>(x);
        if (!Read(7, x, "the evaluation boundary")) return false;
        m_f.boundary = static_cast<int>(x);
        if (m_f.noiseLevel == 0 && m_f.boundary != 0)
            return Reject(25, Format("evaluation boundary %d with noise level 0", m_f.boundary));
        return true;
    }

    // The mode (0: all zero, 1..5: difference width, 6: raw) and the scale
    // factors of the channel's coded bands.
    bool ReadScaleFactors(int c)
    {
        const int bands = m_h.codedBands[c];
        uint8_t* sf = m_f.scaleFactor[c];
        std::memset(sf, 0, ZAF_BANDS);
        const size_t modeAt = m_br.Position();
        uint32_t x = 0;
        if (!Read(3, x, "a scale-factor mode")) return false;
        const int mode = static_cast<int>(x);
        m_f.mode[c] = mode;
        if (mode == 7) return Reject(modeAt, Format("channel %d: scale-factor mode 7", c));
        if (mode == 0) return true;
        if (bands == 0) return Reject(modeAt, Format("channel %d: scale-factor mode %d without coded bands", c, mode));
        if (!Read(6, x, "a scale factor")) return false;
        sf[0] = static_cast<uint8_t>(x);
        for (int b = 1; b < bands; ++b) {
            if (!ReadScaleFactor(c, b, mode)) return false;
        }
        return CheckModeChoice(c, modeAt);
    }

    // Scale factor b > 0: raw in mode 6, else a difference of `mode` bits
    // from the previous one, or its escape code and the raw value.
    bool ReadScaleFactor(int c, int b, int mode)
    {
        uint8_t* sf = m_f.scaleFactor[c];
        const size_t at = m_br.Position();
        uint32_t x = 0;
        if (mode == 6) {
            if (!Read(6, x, "a scale factor")) return false;
            sf[b] = static_cast<uint8_t>(x);
            return true;
        }
        if (!Read(mode, x, "a scale-factor difference")) return false;
        if (static_cast<int>(x) == kZafEscape[mode]) {
            if (!Read(6, x, "an escaped scale factor")) return false;
            const int difference = static_cast<int>(x) - sf[b - 1];
            if (std::abs(difference) <= kZafHalfRange[mode]) {
                return Reject(at, Format("channel %d band %d: escape for a difference of %d that width %d codes", c, b,
                                         difference, mode));
            }
            sf[b] = static_cast<uint8_t>(x);
            return true;
        }
        const int value = sf[b - 1] + static_cast<int>(x) - kZafHalfRange[mode];
        if (value < 0 || value > 63)
            return Reject(at, Format("channel %d band %d: scale factor %d out of range", c, b, value));
        sf[b] = static_cast<uint8_t>(value);
        return true;
    }

    // A coded mode must carry some non-zero scale factor and be the cheapest.
    bool CheckModeChoice(int c, size_t modeAt)
    {
        const int bands = m_h.codedBands[c];
        const int mode = m_f.mode[c];
        const uint8_t* sf = m_f.scaleFactor[c];
        bool any = false;
        for (int b = 0; b < bands; ++b) any = any || sf[b] != 0;
        if (!any) return Reject(modeAt, Format("channel %d: mode %d for all-zero scale factors", c, mode));
        const int cheapest = CheapestMode(sf, bands);
        if (cheapest != mode) {
            return Reject(modeAt,
                          Format("channel %d: scale-factor mode %d where mode %d is the cheapest", c, mode, cheapest));
        }
        return true;
    }

    // Second channels of pairs: an intensity index per subframe; other
    // channels: a scale index per high-frequency group.
    bool ReadSideInfo(int c)
    {
        uint32_t x = 0;
        if (m_h.channelType[c] == 2) {
            for (int s = 0; s < ZAF_SUBFRAMES; ++s) {
                const size_t at = m_br.Position();
                if (!Read(4, x, "an intensity index")) return false;
                if (x > 14) return Reject(at, Format("channel %d: intensity index %u out of range", c, x));
                m_f.intensity[c][s] = static_cast<uint8_t>(x);
            }
            return true;
        }
        for (int g = 0; g < m_h.groupCount; ++g) {
            if (!Read(6, x, "a high-frequency scale index")) return false;
            m_f.highIndex[c][g] = static_cast<uint8_t>(x);
        }
        return true;
    }

    void DeriveResolutions()
    {
        for (int c = 0; c < m_h.channels; ++c) {
            for (int b = 0; b < ZAF_BANDS; ++b) {
                int r = 0;
                if (b < m_h.codedBands[c]) {
                    const int level = (5 * m_f.scaleFactor[c][b]) / 2 + 2;
                    r = BandResolution(m_f.noiseLevel, m_f.boundary, level, b);
                }
                m_f.resolution[c][b] = static_cast<uint8_t>(r);
            }
        }
    }

    // Subframe by subframe, channel by channel, the coded bands' values.
    bool ReadValues()
    {
        for (int s = 0; s < ZAF_SUBFRAMES; ++s) {
            for (int c = 0; c < m_h.channels; ++c) {
                int16_t* out = m_f.value[c][s];
                const int bands = m_h.codedBands[c];
                for (int b = 0; b < bands; ++b) {
                    if (!ReadValue(m_f.resolution[c][b], out[b])) return false;
                }
                for (int b = bands; b < ZAF_BANDS; ++b) out[b] = 0;
            }
        }
        return true;
    }

    // One value at resolution r: nothing at 0, a prefix code at 1..7, else
    // the magnitude in r - 4 bits and a sign bit when it is not zero.
    bool ReadValue(int r, int16_t& value)
    {
        if (r == 0) {
            value = 0;
            return true;
        }
        if (r <= 7) {
            uint32_t bits = 0;
            const int inside = m_br.Peek(4, bits);
            const int length = kCodeLookup.length[r][bits];
            if (length > inside) return Overrun("a quantised value");
            m_br.Skip(length);
            value = kCodeLookup.value[r][bits];
            return true;
        }
        uint32_t x = 0;
        if (!Read(r - 4, x, "a quantised value")) return false;
        int q = static_cast<int>(x);
        if (q != 0) {
            uint32_t sign = 0;
            if (!Read(1, sign, "a sign bit")) return false;
            if (sign) q = -q;
        }
        value = static_cast<int16_t>(q);
        return true;
    }

    // Everything after the frame data up to the CRC is zero.
    bool CheckPadding()
    {
        m_f.usedBits = static_cast<uint32_t>(m_br.Position());
        while (m_br.Remaining() > 0) {
            const int n = m_br.Remaining() >= 32 ? 32 : static_cast<int>(m_br.Remaining());
            const size_t at = m_br.Position();
            uint32_t x = 0;
            m_br.Read(n, x);
            if (x != 0) {
                int lead = 0;
                while (!((x >> (n - 1 - lead)) & 1u)) ++lead;
                return Reject(at + static_cast<size_t>(lead),
                              Format("padding not zero (frame data ends at bit %u)", m_f.usedBits));
            }
        }
        return true;
    }

    const ZafHeader& m_h;
    ZafFrame& m_f;
    ZafViolation& m_v;
    int64_t m_index;
    ZafBitReader m_br;
};

} // namespace

bool ZafParseFrame(const ZafHeader& h, const uint8_t* data, int64_t fi, ZafFrame& f, ZafViolation& v)
{
    return FrameParser(h, data, fi, f, v).Run();
}

void ZafReconstructSpectra(const ZafHeader& h, const ZafFrame& f,
                           float spectra[ZAF_MAX_CHANNELS][ZAF_SUBFRAMES][ZAF_BANDS])
{
    const int firstHigh = h.baseBands + h.stereoBands;
    for (int c = 0; c < h.channels; ++c) {
        // Coded bands: the centre of the quantisation cell is 2q / L.
        float norm[ZAF_SUBFRAMES][ZAF_BANDS];
        for (int s = 0; s < ZAF_SUBFRAMES; ++s) {
            for (int b = 0; b < ZAF_BANDS; ++b) {
                const int sf = f.scaleFactor[c][b];
                float x = 0.0f;
                if (b < h.codedBands[c] && sf != 0) {
                    x = 2.0f * static_cast<float>(f.value[c][s][b]) /
                        static_cast<float>(kZafLevels[f.resolution[c][b]]);
                }
                norm[s][b] = x;
                spectra[c][s][b] = x * kScale.s[sf];
            }
        }
        // High bands: the coded bands below them, mirrored downwards from the
        // first high band, at the group's scale. The encoder sized that scale
        // for exactly this copy (it divides the group's mean by the mean
        // normalised magnitude of the same mirrored source bands).
        if (h.channelType[c] != 2 && h.groupCount > 0) {
            for (int t = firstHigh; t < h.totalBands; ++t) {
                const int g = (t - firstHigh) / h.bandsPerGroup;
                const int src = 2 * firstHigh - 1 - t;
                const float scale = kScale.s[f.highIndex[c][g]];
                for (int s = 0; s < ZAF_SUBFRAMES; ++s) {
                    spectra[c][s][t] = src >= 0 ? norm[s][src] * scale : 0.0f;
                }
            }
        }
    }
    // Intensity stereo: the first channel of a pair carries the gain-corrected
    // mix of both, the second channel per subframe an index k of the left
    // share 2 SL / (SL + SR) of the magnitudes (k = 0: all left, 14: all
    // right, in between the centre (14 - k) / 7 of the index's interval).
    // Both channels get the mix at their share: left = mix (14 - k) / 7,
    // right = mix k / 7, which restores the magnitude sums SL and SR.
    for (int c = 0; c + 1 < h.channels; ++c) {
        if (h.channelType[c] != 1 || h.channelType[c + 1] != 2) continue;
        for (int s = 0; s < ZAF_SUBFRAMES; ++s) {
            const int k = f.intensity[c + 1][s];
            const float left = static_cast<float>(14 - k) / 7.0f;
            const float right = static_cast<float>(k) / 7.0f;
            for (int b = h.baseBands; b < h.totalBands; ++b) {
                const float mix = spectra[c][s][b];
                spectra[c][s][b] = mix * left;
                spectra[c + 1][s][b] = mix * right;
            }
        }
    }
}

// --------------------------------------------------------------- synthesis

float ZafWindow(int n) { return n >= 0 && n < 256 ? kTx.window[n] : 0.0f; }

void ZafSynthesis::Reset() { std::memset(m_overlap, 0, sizeof m_overlap); }

void ZafSynthesis::Run(const float coefficients[ZAF_BANDS], float out[ZAF_BANDS])
{
    // The forward transform is (1/8) DCT-IV of a folded, windowed block; the
    // DCT-IV is its own inverse up to 2/128, so the DCT-IV of the coefficients
    // is 8 times the folded block. Unfolding gives the block plus its time
    // reversed alias, each half of it at half weight; windowing once more and
    // overlap-adding cancels the alias and, as the window's squares in the
    // two halves sum to 1, leaves half the signal: hence the factor 1/8.
    float u[128];
    DctIv128(coefficients, u);
    float z[256];
    for (int n = 0; n < 64; ++n) {
        const float a = u[n] * 0.125f;
        z[191 - n] = -a;
        z[192 + n] = -a;
    }
    for (int n = 64; n < 128; ++n) {
        const float a = u[n] * 0.125f;
        z[n - 64] = a;
        z[191 - n] = -a;
    }
    for (int n = 0; n < 128; ++n) {
        out[n] = m_overlap[n] + z[n] * kTx.window[n];
        m_overlap[n] = z[128 + n] * kTx.window[128 + n];
    }
}

// ------------------------------------------------------------------ stream

bool ZafStreamDecoder::Open(const uint8_t* data, size_t size, const ZafDecodeOptions& options, ZafViolation& v)
{
    m_data = data;
    m_size = size;
    m_next = 0;
    m_outputPos = 0;
    if (!ZafParseHeader(data, size, m_header, v)) return false;
    m_cipher = m_header.cipherType != zafcipher::kNone;
    if (m_cipher) {
        uint8_t table[256];
        // The fixed substitution takes no key: any non-zero one builds it.
        const bool keyed = m_header.cipherType == zafcipher::kKeyed;
        const uint64_t key = keyed ? options.key : 1;
        if (keyed && (!options.haveKey || options.key == 0)) {
            return Fail(v, -1, 0, "the stream is enciphered: give its key with --key");
        }
        if (ZafMakeCipherTable(m_header.cipherType, key, table) != m_header.cipherType) {
            return Fail(v, -1, 0, "cannot build the substitution table");
        }
        for (int i = 0; i < 256; ++i) m_plain[table[i]] = static_cast<uint8_t>(i);
    }
    m_frameBytes.assign(static_cast<size_t>(m_header.frameSize), 0);
    for (auto& s : m_synth) s.Reset();
    m_block.assign(static_cast<size_t>(ZAF_FRAME_SAMPLES) * m_header.channels, 0.0f);
    return true;
}

bool ZafStreamDecoder::DecodeNextFrame(std::vector<float>& out, ZafViolation& v)
{
    const ZafHeader& h = m_header;
    if (m_next >= h.frameCount) return Fail(v, m_next, 0, "no frame left");
    const int64_t fi = m_next;
    const uint64_t at = static_cast<uint64_t>(h.headerSize) + static_cast<uint64_t>(fi) * h.frameSize;
    const size_t fs = static_cast<size_t>(h.frameSize);
    if (at + fs > m_size) {
        const uint64_t have = at < m_size ? m_size - at : 0;
        return Fail(
            v, fi, have * 8,
            Format("file truncated: %llu of %zu frame bytes present", static_cast<unsigned long long>(have), fs));
    }
    const uint8_t* stored = m_data + at;
    if (ZafCrc16(stored, fs) != 0) {
        return Fail(
            v, fi, (fs - 2) * 8,
            Format("CRC mismatch (stored 0x%04X, computed 0x%04X)", Be16(stored + fs - 2), ZafCrc16(stored, fs - 2)));
    }
    for (size_t i = 0; i + 2 < fs; ++i) m_frameBytes[i] = m_cipher ? m_plain[stored[i]] : stored[i];
    if (!ZafParseFrame(h, m_frameBytes.data(), fi, m_frame, v)) return false;
    ++m_next;
    if (m_next == h.frameCount) {
        const uint64_t end = at + fs;
        if (end != m_size) {
            return Fail(v, m_next, 0,
                        Format("%llu bytes follow the last frame", static_cast<unsigned long long>(m_size - end)));
        }
    }

    ZafReconstructSpectra(h, m_frame, m_spectra);
    const int channels = h.channels;
    for (int c = 0; c < channels; ++c) {
        float samples[ZAF_BANDS];
        for (int s = 0; s < ZAF_SUBFRAMES; ++s) {
            m_synth[c].Run(m_spectra[c][s], samples);
            for (int n = 0; n < ZAF_BANDS; ++n) m_block[(s * ZAF_BANDS + n) * channels + c] = samples[n];
        }
    }
    if (h.IsAmbisonic()) {
        // Undo the channel order and scale the encoder applied to its input.
        float frame[ZAF_MAX_CHANNELS];
        for (int n = 0; n < ZAF_FRAME_SAMPLES; ++n) {
            float* p = &m_block[static_cast<size_t>(n) * channels];
            for (int c = 0; c < channels; ++c) frame[c] = 0.0f;
            for (int k = 0; k < channels; ++k) {
                if (kAmbiFrom[k] < channels) frame[kAmbiFrom[k]] = p[k] / kAmbiFactor[k];
            }
            for (int c = 0; c < channels; ++c) p[c] = frame[c];
        }
    }
    // Output position o of the synthesis is input sample o - delay.
    const int64_t first = h.delay;
    const int64_t last = h.delay + h.SampleCount(); // exclusive
    const int64_t lo = std::max(first, m_outputPos);
    const int64_t hi = std::min(last, m_outputPos + ZAF_FRAME_SAMPLES);
    if (hi > lo) {
        const float* from = &m_block[static_cast<size_t>(lo - m_outputPos) * channels];
        out.insert(out.end(), from, from + static_cast<size_t>(hi - lo) * channels);
    }
    m_outputPos += ZAF_FRAME_SAMPLES;
    return true;
}

int16_t ZafToPcm16(float value)
{
    const float scaled = value * 32768.0f;
    if (!(scaled > -32768.0f)) return -32768; // also NaN
    if (scaled >= 32767.0f) return 32767;
    return static_cast<int16_t>(std::lrint(scaled));
}

// --------------------------------------------------------------- WAV files

namespace {

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Appended byte by byte: GCC 12 at -O3 warns falsely (-Wstringop-overflow)
// about inserting a brace list into the still empty header vector.
void PutTag(std::vector<uint8_t>& out, const char* tag)
{
    for (; *tag != '\0'; ++tag) out.push_back(static_cast<uint8_t>(*tag));
}

std::vector<uint8_t> WavHeader(int channels, int rate, int64_t samples, int64_t loopStart, int64_t loopLength)
{
    const uint32_t dataBytes = static_cast<uint32_t>(samples * channels * 2);
    const bool loop = loopLength > 0;
    const uint32_t smplBytes = loop ? 8 + 60 : 0;
    std::vector<uint8_t> h;
    PutTag(h, "RIFF");
    PutLe(h, 4 + 24 + smplBytes + 8 + dataBytes, 4);
    PutTag(h, "WAVEfmt ");
    PutLe(h, 16, 4);
    PutLe(h, 1, 2);
    PutLe(h, static_cast<uint32_t>(channels), 2);
    PutLe(h, static_cast<uint32_t>(rate), 4);
    PutLe(h, static_cast<uint32_t>(rate * channels * 2), 4);
    PutLe(h, static_cast<uint32_t>(channels * 2), 2);
    PutLe(h, 16, 2);
    if (loop) {
        PutTag(h, "smpl");
        PutLe(h, 60, 4);
        PutLe(h, 0, 4);                                                // manufacturer
        PutLe(h, 0, 4);                                                // product
        PutLe(h, static_cast<uint32_t>(1000000000.0 / rate + 0.5), 4); // sample period, ns
        PutLe(h, 60, 4);                                               // unity note
        PutLe(h, 0, 4);                                                // pitch fraction
        PutLe(h, 0, 4);                                                // SMPTE format
        PutLe(h, 0, 4);                                                // SMPTE offset
        PutLe(h, 1, 4);                                                // loops
        PutLe(h, 0, 4);                                                // sampler data
        PutLe(h, 0, 4);                                                // cue point id
        PutLe(h, 0, 4);                                                // forward loop
        PutLe(h, static_cast<uint32_t>(loopStart), 4);
        PutLe(h, static_cast<uint32_t>(loopStart + loopLength - 1), 4); // inclusive end
        PutLe(h, 0, 4);
        PutLe(h, 0, 4);
    }
    PutTag(h, "data");
    PutLe(h, dataBytes, 4);
    return h;
}

bool WavFits(int channels, int64_t samples)
{
    return samples >= 0 && samples * channels * 2 <= static_cast<int64_t>(0xFFFFFFFFu) - 200;
}

struct FileCloser {
    void operator()(FILE* f) const
    {
        if (f) std::fclose(f);
    }
};

} // namespace

bool ZafWriteWav16(const std::string& path, int channels, int samplingRate, const int16_t* pcm, int64_t samples,
                   int64_t loopStart, int64_t loopLength)
{
    if (channels < 1 || !WavFits(channels, samples)) return false;
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    const std::vector<uint8_t> header = WavHeader(channels, samplingRate, samples, loopStart, loopLength);
    bool ok = std::fwrite(header.data(), 1, header.size(), f.get()) == header.size();
    std::vector<uint8_t> bytes;
    const size_t total = static_cast<size_t>(samples) * channels;
    const size_t chunk = 65536;
    for (size_t i = 0; ok && i < total; i += chunk) {
        const size_t n = std::min(chunk, total - i);
        bytes.resize(n * 2);
        for (size_t k = 0; k < n; ++k) {
            const uint16_t s = static_cast<uint16_t>(pcm[i + k]);
            bytes[2 * k] = static_cast<uint8_t>(s);
            bytes[2 * k + 1] = static_cast<uint8_t>(s >> 8);
        }
        ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
    }
    ok = (std::fclose(f.release()) == 0) && ok;
    if (!ok) std::remove(path.c_str());
    return ok;
}

bool ZafDecodeBuffer(const uint8_t* data, size_t size, const ZafDecodeOptions& options, ZafDecoded& decoded,
                     ZafViolation& v)
{
    ZafStreamDecoder decoder;
    decoded = ZafDecoded();
    if (!decoder.Open(data, size, options, v)) return false;
    decoded.header = decoder.Header();
    std::vector<float> samples;
    const int64_t count = decoder.Header().SampleCount();
    // Reserve only what the frames present can hold: the header's frame
    // count is not trusted before the frames have been read.
    const ZafHeader& h = decoder.Header();
    const uint64_t present = (size - static_cast<size_t>(h.headerSize)) / static_cast<size_t>(h.frameSize);
    const uint64_t frames = std::min<uint64_t>(present, h.frameCount);
    samples.reserve(static_cast<size_t>(std::min<uint64_t>(frames * ZAF_FRAME_SAMPLES, static_cast<uint64_t>(count))) *
                    static_cast<size_t>(h.channels));
    while (!decoder.Finished()) {
        if (!decoder.DecodeNextFrame(samples, v)) return false;
    }
    decoded.pcm.resize(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) decoded.pcm[i] = ZafToPcm16(samples[i]);
    decoded.samples = count;
    return true;
}

bool ZafDecodeFile(const std::string& inputPath, const std::string& outputPath, const ZafDecodeOptions& options,
                   ZafHeader& header, ZafViolation& v)
{
    std::vector<uint8_t> data;
    {
        std::unique_ptr<FILE, FileCloser> in(std::fopen(inputPath.c_str(), "rb"));
        if (!in) return Fail(v, -1, 0, "cannot open " + inputPath);
        uint8_t buffer[65536];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) data.insert(data.end(), buffer, buffer + n);
        if (std::ferror(in.get())) return Fail(v, -1, 0, "cannot read " + inputPath);
    }
    ZafStreamDecoder decoder;
    if (!decoder.Open(data.data(), data.size(), options, v)) return false;
    header = decoder.Header();
    const int channels = header.channels;
    const int64_t count = header.SampleCount();
    if (!WavFits(channels, count)) return Fail(v, -1, 128, "too many samples for a WAV file");

    std::unique_ptr<FILE, FileCloser> out(std::fopen(outputPath.c_str(), "wb"));
    if (!out) return Fail(v, -1, 0, "cannot create " + outputPath);
    const std::vector<uint8_t> wavHeader =
        WavHeader(channels, header.samplingRate, count, header.hasLoop ? header.LoopStart() : 0,
                  header.hasLoop ? header.LoopLength() : 0);
    bool ok = std::fwrite(wavHeader.data(), 1, wavHeader.size(), out.get()) == wavHeader.size();
    std::vector<float> samples;
    std::vector<uint8_t> bytes;
    bool decodedAll = true;
    while (ok && !decoder.Finished()) {
        samples.clear();
        if (!decoder.DecodeNextFrame(samples, v)) {
            decodedAll = false;
            break;
        }
        bytes.resize(samples.size() * 2);
        for (size_t k = 0; k < samples.size(); ++k) {
            const uint16_t s = static_cast<uint16_t>(ZafToPcm16(samples[k]));
            bytes[2 * k] = static_cast<uint8_t>(s);
            bytes[2 * k + 1] = static_cast<uint8_t>(s >> 8);
        }
        ok = std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
    }
    ok = (std::fclose(out.release()) == 0) && ok;
    if (!ok || !decodedAll) {
        std::remove(outputPath.c_str());
        if (decodedAll) return Fail(v, -1, 0, "cannot write " + outputPath);
        return false;
    }
    return true;
}

} // namespace zafdec
