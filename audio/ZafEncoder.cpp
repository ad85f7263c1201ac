#include "audio/ZafEncoder.h"
#include "audio/ZafTransform.h"

#include <cstring>
#include <new>

namespace {

// ---------------------------------------------------------------------------
// Tables. Everything that depends on transcendental functions is computed in
// double precision with plain arithmetic (no C-library routines) and rounded
// once, so every build produces the same floats.

double DetCos(double x)  // |x| <= pi/2
{
    double term = 1.0, sum = 1.0, x2 = x * x;
    for (int i = 1; i < 30; ++i) {
        term = -term * x2 / ((2.0 * i - 1.0) * (2.0 * i));
        sum += term;
    }
    return sum;
}

double DetExp(double x)  // small |x|
{
    double term = 1.0, sum = 1.0;
    for (int i = 1; i < 40; ++i) {
        term = term * x / i;
        sum += term;
    }
    return sum;
}

const double kPi = 3.14159265358979323846;
const double kLn2 = 0.69314718055994530942;

// cos(pi * m / 512) for any integer m.
double CosPi512(int m)
{
    m &= 1023;
    double sign = 1.0;
    if (m > 512)
        m = 1024 - m;  // cos is even around pi
    if (m > 256) {
        m = 512 - m;
        sign = -1.0;
    }
    return sign * DetCos(kPi * m / 512.0);
}

const float kWindowHalf[128] = {
#include "audio/ZafWindow.inc"
};

// sin(pi * m / 512) for any integer m.
double SinPi512(int m)
{
    return CosPi512(256 - m);
}

struct Tables {
    float window[256];
    // The DCT-IV of length 128 runs as a 64-point complex FFT between a pre-
    // and a post-rotation: pre[n] = exp(-i pi (4n + 1) / 512), post[k] =
    // exp(-i pi k / 128) / 8 (the transform's factor 1/8 is exact in the
    // table), fft[j] = exp(-2 i pi j / 64). Stored as cosine and sine parts.
    float preCos[64], preSin[64];
    float postCos[64], postSin[64];
    float fftCos[32], fftSin[32];
    uint8_t bitReverse[64];
    float scale[64];
    float step[16];
    Tables()
    {
        for (int n = 0; n < 128; ++n) {
            window[n] = kWindowHalf[n];
            window[255 - n] = kWindowHalf[n];
        }
        for (int n = 0; n < 64; ++n) {
            preCos[n] = static_cast<float>(CosPi512(4 * n + 1));
            preSin[n] = static_cast<float>(SinPi512(4 * n + 1));
            postCos[n] = static_cast<float>(CosPi512(4 * n) * 0.125);
            postSin[n] = static_cast<float>(SinPi512(4 * n) * 0.125);
            int r = 0;
            for (int b = 0; b < 6; ++b)
                r |= ((n >> b) & 1) << (5 - b);
            bitReverse[n] = static_cast<uint8_t>(r);
        }
        for (int j = 0; j < 32; ++j) {
            fftCos[j] = static_cast<float>(CosPi512(16 * j));
            fftSin[j] = static_cast<float>(SinPi512(16 * j));
        }
        for (int i = 0; i < 64; ++i) {
            // 2^(3.5 + 53 (i - 63) / 128) = 2^(e / 128), split into a whole
            // power of two and a fraction.
            int e = 448 + 53 * (i - 63);
            int whole = (e >= 0) ? e / 128 : -((-e + 127) / 128);
            int frac = e - whole * 128;
            double v = DetExp(kLn2 * frac / 128.0);
            for (int w = 0; w < whole; ++w)
                v *= 2.0;
            for (int w = 0; w > whole; --w)
                v *= 0.5;
            scale[i] = static_cast<float>(v);
        }
        for (int r = 0; r < 16; ++r)
            step[r] = 2.0f / static_cast<float>(kLevels[r]);
    }
    static constexpr int kLevels[16] = {1, 3, 5, 7, 9, 11, 13, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095};
};

const Tables g_tables;
const int* const kLevels = Tables::kLevels;

const uint8_t kResolution[72] = {
    15, 15, 15, 15, 15, 15, 14, 14, 14, 14, 14, 14, 13, 13, 13, 13, 13, 13,
    12, 12, 12, 12, 12, 12, 11, 11, 11, 11, 11, 11, 10, 10, 10, 10, 10, 10, 10,
    9, 9, 9, 9, 9, 9, 8, 8, 8, 8, 8, 8,
    7, 6, 6, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2,
    1, 1, 1, 1, 1, 1, 1, 1, 1,
};

const int kHalfRange[6] = {0, 0, 1, 3, 7, 15};  // by width 1..5
const int kEscape[6] = {0, 1, 3, 7, 15, 31};

// Codebook of resolutions 1..7: {code, length} indexed by value + (L - 1) / 2.
struct Code {
    uint16_t bits;
    uint8_t length;
};
const Code kCodes[8][15] = {
    {},
    {{3, 2}, {0, 1}, {2, 2}},
    {{7, 3}, {2, 2}, {0, 2}, {1, 2}, {6, 3}},
    {{7, 3}, {5, 3}, {3, 3}, {0, 2}, {2, 3}, {4, 3}, {6, 3}},
    {{15, 4}, {6, 3}, {4, 3}, {2, 3}, {0, 3}, {1, 3}, {3, 3}, {5, 3}, {14, 4}},
    {{15, 4}, {13, 4}, {11, 4}, {4, 3}, {2, 3}, {0, 3}, {1, 3}, {3, 3}, {10, 4}, {12, 4}, {14, 4}},
    {{15, 4}, {13, 4}, {11, 4}, {9, 4}, {7, 4}, {2, 3}, {0, 3}, {1, 3}, {6, 4}, {8, 4}, {10, 4}, {12, 4}, {14, 4}},
    {{15, 4}, {13, 4}, {11, 4}, {9, 4}, {7, 4}, {5, 4}, {3, 4}, {0, 3}, {2, 4}, {4, 4}, {6, 4}, {8, 4}, {10, 4}, {12, 4}, {14, 4}},
};

const float kSqrt2 = 1.4142135f;

struct CrcTable {
    uint16_t t[256];
    CrcTable()
    {
        for (int i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i << 8);
            for (int b = 0; b < 8; ++b)
                c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x8005 : (c << 1));
            t[i] = c;
        }
    }
};
const CrcTable g_crc;

int g_initCount = 0;

const int64_t kUnlimited = INT64_MAX;
const int64_t kMaxSamples = 0x1FFFFFFF400LL;

}  // namespace

// ---------------------------------------------------------------------------
// Instance layout inside the work area.

struct ZafChannel {
    float history[128];
    float input[1024];
    float spectrum[8][128];
    float norm[128 * 8];   // band-major: norm[band * 8 + subframe]
    int32_t quant[128 * 8];
    uint8_t cost[128][16];  // code bits of a band at each resolution (cached)
    uint16_t costValid[128];
    uint8_t scale[128];
    uint8_t level[128];
    uint8_t res[128];
    uint8_t intensity[8];
    uint8_t hfIndex[8];
    float hfMean[8];
    int32_t type;
    int32_t coded;
    int32_t sfMode;
    int32_t sideBits;
};

struct ZafEncoder {
    uint32_t tag;
    int32_t maxChannels;
    int32_t channels, tracks, config;
    int32_t rate, cutoff;
    int64_t numSamples;
    int32_t bitrate, constraint;
    int64_t loopStart, loopLength;
    int32_t cipherType;
    const uint8_t* cipherTable;
    int32_t minRes, maxRes;
    // derived by the header step
    int32_t headerSize;  // 0: header not encoded
    int32_t frameCount, frameSize, frameBits, delay, appended;
    int32_t totalBands, baseBands, stereoBands, hfGroups, bandsPerGroup;
    int32_t loopStartFrame, loopStartOffset, loopEndFrame, afterLoopEnd;
    // stream position
    int64_t leadPadding, expected;
    int64_t frameIndex;
    // allocation state
    int32_t noiseLevel, boundary, bitsUsed;
    uint32_t channelOffset, channelStride;
};

namespace {

const uint32_t kTag = 0x5A414645;  // "ZAFE"

size_t AlignUp(size_t v, size_t a)
{
    return (v + a - 1) / a * a;
}

ZafChannel* Chan(ZafEncoder* e, int i)
{
    return reinterpret_cast<ZafChannel*>(reinterpret_cast<uint8_t*>(e) + e->channelOffset + i * e->channelStride);
}

bool Valid(const ZafEncoder* e)
{
    return e && e->tag == kTag;
}

// ---------------------------------------------------------------------------
// Bit writer, most significant bit first.

struct BitWriter {
    uint8_t* out;
    size_t capacityBits;
    size_t pos;
    bool overflow;
    void Put(uint32_t value, int bits)
    {
        if (pos + static_cast<size_t>(bits) <= capacityBits) {
            // Whole bytes at a time: the rest of the current byte, then the next.
            while (bits > 0) {
                const int room = 8 - static_cast<int>(pos & 7);
                const int take = bits < room ? bits : room;
                const uint32_t chunk = (value >> (bits - take)) & ((1u << take) - 1);
                out[pos >> 3] |= static_cast<uint8_t>(chunk << (room - take));
                pos += static_cast<size_t>(take);
                bits -= take;
            }
            return;
        }
        for (int b = bits - 1; b >= 0; --b) {
            if (pos >= capacityBits) {
                overflow = true;
                return;
            }
            if ((value >> b) & 1)
                out[pos >> 3] |= static_cast<uint8_t>(0x80 >> (pos & 7));
            ++pos;
        }
    }
};

// ---------------------------------------------------------------------------
// Frame pipeline helpers.

// X[k] = (1/8) sum_n u[n] cos(pi / 128 (n + 0.5) (k + 0.5)), k = 0..127.
// The even and mirrored odd inputs form 64 complex values z[n] = u[2n] +
// i u[127 - 2n]; after the pre-rotation, a radix-2 FFT and the post-rotation,
// the real parts are the even outputs and the negated imaginary parts the odd
// outputs from the top: X[2k] = Re y[k], X[127 - 2k] = -Im y[k].
// Plain single-precision arithmetic in a fixed order (no contraction), so
// every build computes the same bits.
void DctIv128(const float* u, float* out)
{
    const Tables& t = g_tables;
    float re[64], im[64];
    for (int n = 0; n < 64; ++n) {
        const float a = u[2 * n], b = u[127 - 2 * n];
        const float c = t.preCos[n], s = t.preSin[n];
        const int r = t.bitReverse[n];
        re[r] = a * c + b * s;  // (a + ib)(c - is)
        im[r] = b * c - a * s;
    }
    // Stage of length 2: the twiddle is 1.
    for (int i = 0; i < 64; i += 2) {
        const float ar = re[i], ai = im[i], br = re[i + 1], bi = im[i + 1];
        re[i] = ar + br;
        im[i] = ai + bi;
        re[i + 1] = ar - br;
        im[i + 1] = ai - bi;
    }
    // Stage of length 4: twiddles 1 and -i.
    for (int i = 0; i < 64; i += 4) {
        float ar = re[i], ai = im[i], br = re[i + 2], bi = im[i + 2];
        re[i] = ar + br;
        im[i] = ai + bi;
        re[i + 2] = ar - br;
        im[i + 2] = ai - bi;
        // (br + i bi)(-i) = bi - i br
        ar = re[i + 1];
        ai = im[i + 1];
        br = im[i + 3];
        bi = -re[i + 3];
        re[i + 1] = ar + br;
        im[i + 1] = ai + bi;
        re[i + 3] = ar - br;
        im[i + 3] = ai - bi;
    }
    for (int len = 8; len <= 64; len <<= 1) {
        const int half = len >> 1, step = 64 / len;
        for (int base = 0; base < 64; base += len) {
            float* r0 = re + base;
            float* i0 = im + base;
            float* r1 = r0 + half;
            float* i1 = i0 + half;
            for (int j = 0; j < half; ++j) {
                const float wc = t.fftCos[j * step], ws = t.fftSin[j * step];
                const float xr = r1[j], xi = i1[j];
                const float tr = xr * wc + xi * ws;  // (xr + i xi)(wc - i ws)
                const float ti = xi * wc - xr * ws;
                r1[j] = r0[j] - tr;
                i1[j] = i0[j] - ti;
                r0[j] = r0[j] + tr;
                i0[j] = i0[j] + ti;
            }
        }
    }
    for (int k = 0; k < 64; ++k) {
        const float c = t.postCos[k], s = t.postSin[k];
        out[2 * k] = re[k] * c + im[k] * s;
        out[127 - 2 * k] = re[k] * s - im[k] * c;  // -Im of (re + i im)(c - is)
    }
}

void Transform(ZafChannel* c)
{
    const Tables& t = g_tables;
    for (int s = 0; s < 8; ++s) {
        float y[256];
        for (int n = 0; n < 128; ++n)
            y[n] = t.window[n] * c->history[n];
        for (int n = 0; n < 128; ++n) {
            float v = c->input[128 * s + n];
            y[128 + n] = t.window[128 + n] * v;
            c->history[n] = v;
        }
        float u[128];
        for (int n = 0; n < 64; ++n)
            u[n] = -y[191 - n] - y[192 + n];
        for (int n = 64; n < 128; ++n)
            u[n] = y[n - 64] - y[191 - n];
        DctIv128(u, c->spectrum[s]);
    }
}

void IntensityStereo(ZafEncoder* e, ZafChannel* L, ZafChannel* R)
{
    static const float kThreshold[14] = {
        27.0f / 14, 25.0f / 14, 23.0f / 14, 21.0f / 14, 19.0f / 14, 17.0f / 14, 15.0f / 14,
        13.0f / 14, 11.0f / 14, 9.0f / 14, 7.0f / 14, 5.0f / 14, 3.0f / 14, 1.0f / 14,
    };
    for (int s = 0; s < 8; ++s) {
        float* l = L->spectrum[s];
        float* r = R->spectrum[s];
        int64_t sl = 0, sr = 0, sm = 0;
        for (int k = e->baseBands; k < e->totalBands; ++k) {
            int64_t li = static_cast<int64_t>(l[k] * 16777216.0f);
            int64_t ri = static_cast<int64_t>(r[k] * 16777216.0f);
            sl += li < 0 ? -li : li;
            sr += ri < 0 ? -ri : ri;
            int64_t m = li + ri;
            sm += m < 0 ? -m : m;
        }
        float ratio = 1.0f, gain = 1.0f;
        if (sl + sr > 0)
            ratio = static_cast<float>(2.0 * static_cast<double>(sl) / static_cast<double>(sl + sr));
        if (sm > 0) {
            gain = static_cast<float>(static_cast<double>(sl + sr) / static_cast<double>(sm));
            if (gain < 1.0f)
                gain = 1.0f;
            if (gain > kSqrt2)
                gain = kSqrt2;
        }
        int index = 14;
        for (int k = 0; k < 14; ++k) {
            if (ratio > kThreshold[k]) {
                index = k;
                break;
            }
        }
        if (sl == 0 && sr == 0)
            index = 0;
        if (index == 0 && sr > 0)
            index = 1;
        if (index == 14 && sl > 0)
            index = 13;
        R->intensity[s] = static_cast<uint8_t>(index);
        for (int k = e->baseBands; k < e->totalBands; ++k) {
            float m = (l[k] + r[k]) * 0.5f;
            float d = (l[k] - r[k]) * 0.5f * 0.70710677f;
            float am = m < 0 ? -m : m;
            float ad = d < 0 ? -d : d;
            l[k] = (ad > am ? d : m) * gain;
            r[k] = 0.0f;
        }
    }
}

// The first i with S[i] > a, or 63 if none. The table rises strictly, so a
// binary search finds the same index as a scan from the bottom.
int ScaleIndex(float a)
{
    int lo = 0, hi = 64;  // S[lo - 1] <= a (or lo = 0), S[hi] > a (or hi = 64)
    while (lo < hi) {
        const int mid = (lo + hi) >> 1;
        if (g_tables.scale[mid] > a)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo < 64 ? lo : 63;
}

// Bands a channel analyses: base bands for the second of a pair, all others.
int AnalysedBands(const ZafEncoder* e, const ZafChannel* c)
{
    return c->type == 2 ? e->baseBands : e->totalBands;
}

void ScaleCodingCost(const ZafEncoder* e, ZafChannel* c)
{
    const int n = c->coded;
    bool any = false;
    for (int p = 0; p < n; ++p)
        any = any || c->scale[p] != 0;
    int cost;
    if (!any) {
        c->sfMode = 0;
        cost = 3;
    } else {
        c->sfMode = 6;
        cost = 3 + 6 * n;
        for (int w = 1; w <= 5; ++w) {
            int bits = 9;
            for (int p = 1; p < n; ++p) {
                int d = c->scale[p] - c->scale[p - 1];
                bits += w;
                if (d > kHalfRange[w] || d < -kHalfRange[w])
                    bits += 6;
            }
            if (bits < cost) {
                cost = bits;
                c->sfMode = w;
            }
        }
    }
    if (c->type == 2)
        cost += 32;
    else if (e->hfGroups > 0)
        cost += 6 * e->hfGroups;
    c->sideBits = cost;
}

int Quantise(float x, int r)
{
    const int L = kLevels[r];
    float v = x + 1.0f;
    if (v < 0.0f)
        v = 0.0f;
    int q = static_cast<int>(v / g_tables.step[r]);
    if (q > L - 1)
        q = L - 1;
    return q - L / 2;
}

int CodeLength(int q, int r)
{
    if (r == 0)
        return 0;
    if (r < 8)
        return kCodes[r][q + kLevels[r] / 2].length;
    return (r - 4) + (q != 0 ? 1 : 0);
}

int BandCost(ZafChannel* c, int p, int r)
{
    if (r == 0)
        return 0;
    if (!(c->costValid[p] & (1u << r))) {
        int bits = 0;
        const float* x = &c->norm[p * 8];
        for (int s = 0; s < 8; ++s)
            bits += CodeLength(Quantise(x[s], r), r);
        c->cost[p][r] = static_cast<uint8_t>(bits);
        c->costValid[p] = static_cast<uint16_t>(c->costValid[p] | (1u << r));
    }
    return c->cost[p][r];
}

int Resolution(const ZafChannel* c, int p, int a, int e)
{
    const int v = c->level[p];
    if (v <= 3)
        return 0;
    int x = a - v + 8 + (p >= e ? 1 : 0);
    if (x < 0)
        return 15;
    if (x < 72)
        return kResolution[x] < 15 ? kResolution[x] : 15;
    return 1;
}

int BitCount(ZafEncoder* e, int a, int boundary)
{
    int bits = 32 + 16;
    for (int i = 0; i < e->channels; ++i) {
        ZafChannel* c = Chan(e, i);
        bits += c->sideBits;
        for (int p = 0; p < c->coded; ++p)
            bits += BandCost(c, p, Resolution(c, p, a, boundary));
    }
    return bits;
}

// Bisection over a noise-level range (bits fall as the level rises).
// Returns true with the level and its bit count when the range fits.
bool SearchLevel(ZafEncoder* e, int lower, int upper, int budget, int* level, int* bits)
{
    int bl = BitCount(e, lower, 0);
    int bu = BitCount(e, upper, 0);
    while (upper - lower > 1) {
        int mid = (lower + upper) >> 1;
        int bm = BitCount(e, mid, 0);
        if (bm > budget) {
            lower = mid;
            bl = bm;
        } else {
            upper = mid;
            bu = bm;
        }
    }
    if (bu > budget)
        return false;
    if (bl <= budget) {
        *level = lower;
        *bits = bl;
    } else {
        *level = upper;
        *bits = bu;
    }
    return true;
}

int FindNoiseLevel(ZafEncoder* e, int budget, int* level, int* bits)
{
    const int prev = e->noiseLevel;
    int lower = prev * 19 / 20;
    int upper = prev * 21 / 20;
    if (upper > 511)
        upper = 511;
    int found = 0, foundBits = 0;
    if (SearchLevel(e, lower, upper, budget, &found, &foundBits)) {
        if (found == lower && lower > 0)
            SearchLevel(e, 0, lower, budget, &found, &foundBits);
    } else if (!SearchLevel(e, upper, 511, budget, &found, &foundBits)) {
        return 0;
    }
    *level = found;
    *bits = foundBits;
    return 1;
}

void WriteFrameCrc(uint8_t* out, int frameSize)
{
    uint16_t crc = ZafCrc16(out, frameSize - 2);
    out[frameSize - 2] = static_cast<uint8_t>(crc >> 8);
    out[frameSize - 1] = static_cast<uint8_t>(crc);
}

int EncodeFramePipeline(ZafEncoder* e, uint8_t* out)
{
    const int nch = e->channels;
    for (int i = 0; i < nch; ++i)
        Transform(Chan(e, i));

    if (e->stereoBands > 0 || e->totalBands > e->baseBands) {
        for (int i = 0; i + 1 < nch; ++i) {
            ZafChannel* c = Chan(e, i);
            ZafChannel* d = Chan(e, i + 1);
            if (c->type == 1 && d->type == 2)
                IntensityStereo(e, c, d);
        }
    }

    const int firstHf = e->baseBands + e->stereoBands;
    const int B = e->bandsPerGroup;
    for (int i = 0; i < nch; ++i) {
        ZafChannel* c = Chan(e, i);
        // High-frequency means of the raw spectrum.
        if (c->type != 2) {
            for (int g = 0; g < e->hfGroups; ++g) {
                float sum = 0.0f;
                int count = 0;
                for (int p = firstHf + g * B; p < firstHf + (g + 1) * B && p <= 127; ++p) {
                    for (int s = 0; s < 8; ++s) {
                        float v = c->spectrum[s][p];
                        sum += v < 0 ? -v : v;
                    }
                    count += 8;
                }
                c->hfMean[g] = count > 0 ? sum / static_cast<float>(count) : 0.0f;
            }
        }
        // Scale factors, level values and normalisation.
        const int n = AnalysedBands(e, c);
        float peak[128];  // largest magnitude of each band over the subframes
        for (int p = 0; p < 128; ++p)
            peak[p] = 0.0f;
        for (int s = 0; s < 8; ++s) {
            const float* row = c->spectrum[s];
            for (int p = 0; p < 128; ++p) {
                float v = row[p];
                v = v < 0 ? -v : v;
                peak[p] = v > peak[p] ? v : peak[p];
            }
        }
        for (int p = 0; p < 128; ++p) {
            int sf = 0;
            if (p < n)
                sf = ScaleIndex(peak[p]);
            c->scale[p] = static_cast<uint8_t>(sf);
            c->level[p] = static_cast<uint8_t>(p < c->coded ? (5 * sf) / 2 + 2 : 0);
            float* x = &c->norm[p * 8];
            if (p < n && sf != 0) {
                const float S = g_tables.scale[sf];
                for (int s = 0; s < 8; ++s) {
                    float v = c->spectrum[s][p] / S;
                    if (sf == 63) {
                        if (v > 1.0f)
                            v = 1.0f;
                        if (v < -1.0f)
                            v = -1.0f;
                    }
                    x[s] = v;
                }
            } else {
                for (int s = 0; s < 8; ++s)
                    x[s] = 0.0f;
            }
            c->costValid[p] = 0;
        }
        // High-frequency scales, mirrored from the bands below the groups.
        if (c->type != 2) {
            int src = firstHf - 1, dst = firstHf;
            for (int g = 0; g < e->hfGroups; ++g) {
                float sum = 0.0f;
                int count = 0;
                for (int step = 0; step < B && dst < e->totalBands; ++step) {
                    if (src >= 0 && c->scale[src] != 0) {
                        for (int s = 0; s < 8; ++s) {
                            float v = c->norm[src * 8 + s];
                            sum += v < 0 ? -v : v;
                        }
                        count += 8;
                    }
                    --src;
                    ++dst;
                }
                if (count > 0 && sum / static_cast<float>(count) > 0.0f) {
                    float f = static_cast<float>(count) / sum;
                    c->hfMean[g] *= f < kSqrt2 ? f : kSqrt2;
                }
                c->hfIndex[g] = static_cast<uint8_t>(ScaleIndex(c->hfMean[g]));
            }
        }
        ScaleCodingCost(e, c);
    }

    bool silent = true;
    for (int i = 0; i < nch; ++i)
        silent = silent && Chan(e, i)->sfMode == 0;
    if (silent) {
        e->noiseLevel = 0;
        if (out) {
            std::memset(out, 0, e->frameSize);
            out[0] = 0xFF;
            out[1] = 0xFF;
            WriteFrameCrc(out, e->frameSize);
        }
        return ZAF_OK;
    }

    const int budget = e->frameBits;
    int level = 0, bits = 0;
    while (!FindNoiseLevel(e, budget, &level, &bits)) {
        // Drop the top band that still carries a scale factor, and retry.
        int top = -1;
        for (int i = 0; i < nch; ++i) {
            ZafChannel* c = Chan(e, i);
            for (int p = 127; p > top; --p)
                if (c->scale[p] != 0) {
                    top = p;
                    break;
                }
        }
        int b = top - 1;
        if (b <= 0)
            return ZAF_ERR_NOFIT;
        for (int i = 0; i < nch; ++i) {
            ZafChannel* c = Chan(e, i);
            for (int p = b; p < e->totalBands; ++p) {
                c->scale[p] = 0;
                c->level[p] = 0;
            }
            ScaleCodingCost(e, c);
        }
    }
    e->noiseLevel = level;

    // Evaluation boundary: the largest one that still fits (bits rise with it).
    int boundary = 0;
    if (level != 0) {
        int lower = 0, upper = 127;
        int bl = BitCount(e, level, lower);
        int bu = BitCount(e, level, upper);
        while (upper - lower > 1) {
            int mid = (lower + upper) >> 1;
            int bm = BitCount(e, level, mid);
            if (bm > budget) {
                upper = mid;
                bu = bm;
            } else {
                lower = mid;
                bl = bm;
            }
        }
        if (bl <= budget) {
            if (bu <= budget) {
                boundary = upper;
                bits = bu;
            } else {
                boundary = lower;
                bits = bl;
            }
        }
    }
    e->boundary = boundary;
    e->bitsUsed = bits;

    if (!out)
        return ZAF_OK;

    // Final resolutions and quantisation.
    for (int i = 0; i < nch; ++i) {
        ZafChannel* c = Chan(e, i);
        for (int p = 0; p < 128; ++p) {
            int r = p < c->coded ? Resolution(c, p, level, boundary) : 0;
            c->res[p] = static_cast<uint8_t>(r);
            for (int s = 0; s < 8; ++s)
                c->quant[p * 8 + s] = r ? Quantise(c->norm[p * 8 + s], r) : 0;
        }
    }

    // Packing.
    std::memset(out, 0, e->frameSize);
    BitWriter w{out, static_cast<size_t>(e->frameBits - 16), 0, false};
    w.Put(0xFFFF, 16);
    w.Put(static_cast<uint32_t>(level), 9);
    w.Put(static_cast<uint32_t>(boundary), 7);
    for (int i = 0; i < nch; ++i) {
        ZafChannel* c = Chan(e, i);
        w.Put(static_cast<uint32_t>(c->sfMode), 3);
        if (c->sfMode > 0 && c->coded > 0) {
            w.Put(c->scale[0], 6);
            for (int p = 1; p < c->coded; ++p) {
                if (c->sfMode == 6) {
                    w.Put(c->scale[p], 6);
                    continue;
                }
                const int wd = c->sfMode;
                const int d = c->scale[p] - c->scale[p - 1];
                if (d <= kHalfRange[wd] && d >= -kHalfRange[wd]) {
                    w.Put(static_cast<uint32_t>(d + kHalfRange[wd]), wd);
                } else {
                    w.Put(static_cast<uint32_t>(kEscape[wd]), wd);
                    w.Put(c->scale[p], 6);
                }
            }
        }
        if (c->type == 2) {
            for (int s = 0; s < 8; ++s)
                w.Put(c->intensity[s], 4);
        } else {
            for (int g = 0; g < e->hfGroups; ++g)
                w.Put(c->hfIndex[g], 6);
        }
    }
    for (int s = 0; s < 8; ++s) {
        for (int i = 0; i < nch; ++i) {
            ZafChannel* c = Chan(e, i);
            for (int p = 0; p < c->coded; ++p) {
                const int r = c->res[p];
                if (r == 0)
                    continue;
                const int q = c->quant[p * 8 + s];
                if (r < 8) {
                    const Code& code = kCodes[r][q + kLevels[r] / 2];
                    w.Put(code.bits, code.length);
                } else {
                    w.Put(static_cast<uint32_t>(q < 0 ? -q : q), r - 4);
                    if (q != 0)
                        w.Put(q < 0 ? 1u : 0u, 1);
                }
            }
        }
    }
    if (w.overflow)
        return ZAF_ERR_OVERFLOW;
    if (static_cast<int>(w.pos) != bits - 16)
        return ZAF_ERR_BITCOUNT;
    if (e->cipherType != 0 && e->cipherTable) {
        for (int i = 0; i < e->frameSize - 2; ++i)
            out[i] = e->cipherTable[out[i]];
    }
    WriteFrameCrc(out, e->frameSize);
    return ZAF_OK;
}

int CeilDiv(int64_t a, int64_t b)
{
    return static_cast<int>((a + b - 1) / b);
}

// Derives frame size, band layout, padding and loop placement.
int DeriveLayout(ZafEncoder* e)
{
    const int64_t C = e->channels, T = e->tracks, K = e->config, R = e->rate;
    int64_t X = e->cutoff;
    const int64_t B = e->bitrate;
    if (C < 1 || C > 16 || T < 1 || C < T || R < 1 || R > 0x7FFFFF || B <= 0)
        return ZAF_ERR_LAYOUT;
    const int64_t x = C * X * 32;
    const bool stereo = C > 1 && C != T && K < 0x80 && x / B > 6;
    const int64_t q = stereo ? 8 : 6, m = stereo ? 16 : 12;
    int64_t Xe = X;
    if (B < x / m) {
        int64_t lim = B * m / (32 * C);
        Xe = X < lim ? X : lim;
    }
    const int64_t frameSize = (B * 1024 / R) / 8;
    float quot = static_cast<float>(q * B) / static_cast<float>(32 * C);
    float mn = static_cast<float>(Xe) < quot ? static_cast<float>(Xe) : quot;
    int coded = static_cast<int>(mn * 256.0f / static_cast<float>(R) + 0.5f);
    int total = static_cast<int>(static_cast<float>(Xe) * 256.0f / static_cast<float>(R) + 0.5f);
    if (total > 128)
        total = 128;
    if (coded > total)
        coded = total;
    int base = stereo ? (coded + 1) / 2 : coded;
    int st = coded - base;
    int h = total - coded;
    int perGroup = (h + 7) / 8;
    int groups = h > 0 ? CeilDiv(h, perGroup) : 0;

    if (e->constraint != 0) {
        const int V = e->constraint;
        base = (V & 0x800000) ? 128 : ((V >> 16) & 0xFF);
        st = (V >> 8) & 0xFF;
        if (st > 128 - base)
            st = 128 - base;
        h = V & 0xFF;
        if (h > 128 - base - st)
            h = 128 - base - st;
        perGroup = (h + 7) / 8;
        groups = h > 0 ? CeilDiv(h, perGroup) : 0;
        total = base + st + h;
    }
    if (st > 0 && (C == 1 || K >= 0x80))
        return ZAF_ERR_LAYOUT;

    int64_t delay = 128;
    const bool loop = e->loopLength > 0;
    if (loop) {
        if (e->loopStart < 0)
            return ZAF_ERR_LAYOUT;
        delay = (e->loopStart + 1023) / 1024 * 1024 - e->loopStart + 128;
    }
    const int64_t N = e->numSamples;
    int64_t frames = (delay + N + 1023) / 1024;
    int64_t appended = frames * 1024 - N - delay;
    int64_t headerSize = (0 + 127) / 32 * 32;
    int64_t pad = 0;
    if (loop && frameSize > 0) {
        int64_t k = (e->loopStart + 1023) / 1024;
        int64_t at = headerSize + k * frameSize;
        pad = (2048 - at % 2048) % 2048;
        headerSize += pad;
    }
    int64_t lsf = 0, lso = 0, lef = 0, after = 1024;
    if (loop) {
        int64_t p = delay + e->loopStart;
        lsf = p / 1024;
        lso = p % 1024;
        int64_t end = p + e->loopLength;
        lef = end / 1024 - (end % 1024 == 0 ? 1 : 0);
        after = end % 1024 == 0 ? 0 : 1024 - end % 1024;
    }
    if (frameSize > 0) {
        int64_t n = pad / frameSize;
        if (n > 0) {
            headerSize -= n * frameSize;
            delay += 1024 * n;
            frames += n;
            if (loop) {
                lsf += n;
                lef += n;
            }
        }
    }
    if (frameSize < 8 || frameSize > 0xFFFF)
        return ZAF_ERR_LAYOUT;
    if (!(0 <= e->minRes && e->minRes <= e->maxRes && e->maxRes < 32))
        return ZAF_ERR_LAYOUT;
    if (frames < 0 || frames > INT32_MAX)
        return ZAF_ERR_LAYOUT;
    if (!(0 <= lsf && lsf <= lef) || (frames > 0 && lef >= frames))
        return ZAF_ERR_LAYOUT;
    if (e->cipherType != 0 && e->cipherType != 1 && e->cipherType != 56)
        return ZAF_ERR_LAYOUT;
    if (delay > 0xFFFF)
        return ZAF_ERR_LAYOUT;  // does not fit the header's 16-bit field

    e->frameSize = static_cast<int32_t>(frameSize);
    e->frameBits = static_cast<int32_t>(frameSize * 8);
    e->frameCount = static_cast<int32_t>(frames);
    e->delay = static_cast<int32_t>(delay);
    e->appended = static_cast<int32_t>(appended);
    e->totalBands = total;
    e->baseBands = base;
    e->stereoBands = st;
    e->hfGroups = groups;
    e->bandsPerGroup = perGroup;
    e->loopStartFrame = static_cast<int32_t>(lsf);
    e->loopStartOffset = static_cast<int32_t>(lso);
    e->loopEndFrame = static_cast<int32_t>(lef);
    e->afterLoopEnd = static_cast<int32_t>(after);

    // Channel types per track.
    static const int8_t kTypes[9][8] = {
        {0}, {0}, {1, 2}, {1, 2, 0}, {1, 2, 0, 0}, {1, 2, 0, 0, 0},
        {1, 2, 0, 0, 1, 2}, {1, 2, 0, 0, 1, 2, 0}, {1, 2, 0, 0, 1, 2, 1, 2},
    };
    const int perTrack = static_cast<int>(C / T);
    for (int i = 0; i < C; ++i) {
        int type = 0;
        const int j = i % perTrack;
        if (st > 0 && perTrack > 1 && perTrack <= 8) {
            type = kTypes[perTrack][j];
            if (perTrack == 4 && K == 0)
                type = (j % 2 == 0) ? 1 : 2;
            if (perTrack == 5 && K <= 2) {
                static const int8_t t5[5] = {1, 2, 0, 1, 2};
                type = t5[j];
            }
        }
        ZafChannel* c = Chan(e, i);
        c->type = type;
        c->coded = type == 2 ? base : base + st;
    }
    e->headerSize = static_cast<int32_t>(headerSize);
    return ZAF_OK;
}

void Put16(uint8_t* p, int v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

void PutName(uint8_t* p, const char* name, uint8_t mark)
{
    for (int i = 0; i < 4; ++i)
        p[i] = name[i] ? static_cast<uint8_t>(name[i] | mark) : 0;
}

void WriteHeader(const ZafEncoder* e, uint8_t* out)
{
    const int size = e->headerSize;
    std::memset(out, 0, size);
    const uint8_t M = e->cipherType == 56 ? 0x80 : 0;
    PutName(out, "ZAF\0", M);
    Put16(out + 4, 0x0200);
    Put16(out + 6, size);
    PutName(out + 8, "fmt\0", M);
    out[12] = static_cast<uint8_t>(e->channels);
    out[13] = static_cast<uint8_t>(e->rate >> 16);
    out[14] = static_cast<uint8_t>(e->rate >> 8);
    out[15] = static_cast<uint8_t>(e->rate);
    Put32(out + 16, static_cast<uint32_t>(e->frameCount));
    Put16(out + 20, e->delay);
    Put16(out + 22, e->appended);
    PutName(out + 24, "comp", M);
    Put16(out + 28, e->frameSize);
    out[30] = static_cast<uint8_t>(e->minRes);
    out[31] = static_cast<uint8_t>(e->maxRes);
    out[32] = static_cast<uint8_t>(e->tracks);
    out[33] = static_cast<uint8_t>(e->config);
    out[34] = static_cast<uint8_t>(e->totalBands);
    out[35] = static_cast<uint8_t>(e->baseBands);
    out[36] = static_cast<uint8_t>(e->stereoBands);
    out[37] = static_cast<uint8_t>(e->bandsPerGroup);
    int at = 40;
    const int64_t loopSamples = static_cast<int64_t>(e->loopEndFrame - e->loopStartFrame + 1) * 1024
        - e->loopStartOffset - e->afterLoopEnd;
    if (loopSamples > 0) {
        PutName(out + at, "loop", M);
        Put32(out + at + 4, static_cast<uint32_t>(e->loopStartFrame));
        Put32(out + at + 8, static_cast<uint32_t>(e->loopEndFrame));
        Put16(out + at + 12, e->loopStartOffset);
        Put16(out + at + 14, e->afterLoopEnd);
        at += 16;
    }
    PutName(out + at, "ciph", M);
    Put16(out + at + 4, e->cipherType);
    at += 6;
    PutName(out + at, "pad\0", M);
    const uint16_t crc = ZafCrc16(out, size - 2);
    Put16(out + size - 2, crc);
}

}  // namespace

// ---------------------------------------------------------------------------
// Public calls.

void ZafDctIv128(const float* u, float* out)
{
    DctIv128(u, out);
}

uint16_t ZafCrc16(const uint8_t* data, size_t size, uint16_t crc)
{
    for (size_t i = 0; i < size; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ g_crc.t[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

void EncoderLibraryInit()
{
    ++g_initCount;
}

void EncoderLibraryFinish()
{
    if (g_initCount > 0)
        --g_initCount;
}

int EncoderCreate(int maxChannels, void* work, size_t workSize, ZafEncoder** out)
{
    if (g_initCount <= 0)
        return ZAF_ERR_NOT_INITIALIZED;
    if (!work || !out)
        return ZAF_ERR_NULL;
    if (maxChannels < 1 || maxChannels > 16)
        return ZAF_ERR_ARGUMENT;
    if (workSize < ZafEncoderWorkSize(maxChannels))
        return ZAF_ERR_BUFFER;
    const uintptr_t addr = reinterpret_cast<uintptr_t>(work);
    const size_t skip = AlignUp(addr, 16) - addr;
    const size_t head = AlignUp(sizeof(ZafEncoder), 16);
    const size_t stride = AlignUp(sizeof(ZafChannel), 16);
    if (skip + head + stride * maxChannels > workSize)
        return ZAF_ERR_OVERFLOW;
    uint8_t* base = static_cast<uint8_t*>(work) + skip;
    std::memset(base, 0, head + stride * maxChannels);
    ZafEncoder* e = new (base) ZafEncoder();
    e->tag = kTag;
    e->maxChannels = maxChannels;
    e->channelOffset = static_cast<uint32_t>(head);
    e->channelStride = static_cast<uint32_t>(stride);
    e->channels = maxChannels < 2 ? maxChannels : 2;
    e->tracks = 1;
    e->rate = 48000;
    e->cutoff = 24000;
    e->minRes = 1;
    e->maxRes = 15;
    for (int i = 0; i < maxChannels; ++i)
        new (Chan(e, i)) ZafChannel();
    EncoderReset(e);
    *out = e;
    return ZAF_OK;
}

int EncoderDestroy(ZafEncoder* e)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    e->tag = 0;
    return ZAF_OK;
}

int EncoderReset(ZafEncoder* e)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    for (int i = 0; i < e->maxChannels; ++i) {
        ZafChannel* c = Chan(e, i);
        std::memset(c->history, 0, sizeof c->history);
        std::memset(c->input, 0, sizeof c->input);
    }
    e->headerSize = 0;
    e->leadPadding = 0;
    e->expected = kUnlimited;
    e->frameIndex = 0;
    e->noiseLevel = 0;
    return ZAF_OK;
}

int EncoderCopySettings(ZafEncoder* d, const ZafEncoder* s)
{
    if (!Valid(d) || !Valid(s))
        return ZAF_ERR_NULL;
    if (s->channels > d->maxChannels)
        return ZAF_ERR_ARGUMENT;
    d->channels = s->channels;
    d->rate = s->rate;
    d->cutoff = s->cutoff;
    d->numSamples = s->numSamples;
    d->frameSize = s->frameSize;
    d->frameBits = s->frameBits;
    d->totalBands = s->totalBands;
    d->baseBands = s->baseBands;
    d->stereoBands = s->stereoBands;
    d->hfGroups = s->hfGroups;
    d->bandsPerGroup = s->bandsPerGroup;
    d->tracks = s->tracks;
    d->config = s->config;
    d->constraint = s->constraint;
    d->bitrate = s->bitrate;
    d->cipherType = s->cipherType;
    d->cipherTable = s->cipherTable;
    d->loopStart = s->loopStart;
    d->loopLength = s->loopLength;
    return ZAF_OK;
}

int EncoderSetChannels(ZafEncoder* e, int channels, int tracks, int config)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    if (channels <= 0 || channels > e->maxChannels || tracks <= 0 || tracks > e->maxChannels
        || channels % tracks != 0)
        return ZAF_ERR_ARGUMENT;
    e->channels = channels;
    e->tracks = tracks;
    e->config = config & 0xFF;
    return ZAF_OK;
}

int EncoderSetSamplingRate(ZafEncoder* e, int rate, int cutoff)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    if (rate < 1 || rate > 8388607 || cutoff < 0)
        return ZAF_ERR_ARGUMENT;
    e->rate = rate;
    e->cutoff = (cutoff == 0 || cutoff > rate / 2) ? rate / 2 : cutoff;
    return ZAF_OK;
}

int EncoderSetNumSamples(ZafEncoder* e, int64_t count)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    if (count <= 0)
        return ZAF_ERR_ARGUMENT;
    e->numSamples = count > kMaxSamples ? kMaxSamples : count;
    return ZAF_OK;
}

int EncoderSetBitrate(ZafEncoder* e, int bitrate)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    if (bitrate < 0)
        return ZAF_ERR_ARGUMENT;
    e->bitrate = bitrate;
    return ZAF_OK;
}

int EncoderSetBandLayout(ZafEncoder* e, int constraint)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    if (constraint < 0)
        return ZAF_ERR_ARGUMENT;
    e->constraint = constraint;
    return ZAF_OK;
}

int EncoderSetLoop(ZafEncoder* e, int64_t start, int64_t length)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    e->loopStart = start;
    e->loopLength = length;
    return ZAF_OK;
}

int EncoderSetCipherTable(ZafEncoder* e, int type, const uint8_t* table, size_t tableSize)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    if (!table)
        return ZAF_ERR_NULL;
    if (tableSize != 256 || table[0] != 0 || table[255] != 0xFF)
        return ZAF_ERR_ARGUMENT;
    e->cipherType = type;
    e->cipherTable = table;
    return ZAF_OK;
}

int EncoderEncodeHeader(ZafEncoder* e, uint8_t* out, size_t capacity, size_t* outSize)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    const int r = DeriveLayout(e);
    if (r != ZAF_OK) {
        e->headerSize = 0;
        return r;
    }
    if (out) {
        if (capacity < static_cast<size_t>(e->headerSize)) {
            e->headerSize = 0;
            return ZAF_ERR_BUFFER;
        }
        WriteHeader(e, out);
    }
    if (outSize)
        *outSize = static_cast<size_t>(e->headerSize);
    e->leadPadding = e->delay - 128;
    if (e->numSamples != 0)
        e->expected = e->numSamples;
    return ZAF_OK;
}

int EncoderSeekFrame(ZafEncoder* e, int64_t f, int64_t* inputIndex)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    if (e->headerSize == 0)
        return ZAF_ERR_NO_HEADER;
    if (f < 0)
        return ZAF_ERR_NULL;
    const int64_t P = e->delay - 128;
    const int64_t N = e->numSamples;
    int64_t start;
    e->expected = N;
    if (f * 1024 >= P) {
        e->leadPadding = 0;
        e->expected = P + N - f * 1024;
        if (e->expected < 0)
            e->expected = 0;
        start = f * 1024 - P;
    } else {
        e->leadPadding = P - f * 1024;
        start = 0;
    }
    if (start > N)
        start = N;
    e->frameIndex = f;
    if (inputIndex)
        *inputIndex = start;
    return ZAF_OK;
}

int EncoderPutSamples(ZafEncoder* e, const float* const* samples, int channels, int count, int* consumed)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    if (!samples || channels != e->channels || count < 1024)
        return ZAF_ERR_ARGUMENT;
    for (int i = 0; i < channels; ++i)
        if (!samples[i])
            return ZAF_ERR_ARGUMENT;
    if (e->headerSize == 0)
        return ZAF_ERR_NO_HEADER;
    int used = 0;
    if (e->leadPadding == 0 && e->expected > 1023) {
        for (int i = 0; i < channels; ++i)
            std::memcpy(Chan(e, i)->input, samples[i], 1024 * sizeof(float));
        used = 1024;
        if (e->expected != kUnlimited)
            e->expected -= 1024;
    } else if (e->expected == 0) {
        used = 0;
    } else if (e->leadPadding > 1024) {
        e->leadPadding -= 1024;
    } else {
        int64_t pad = e->leadPadding, expected = e->expected;
        for (int pos = 0; pos < 1024; ++pos) {
            int src;
            if (pad > 0) {
                src = 0;
                --pad;
            } else if (expected > 0) {
                src = used++;
                if (expected != kUnlimited)
                    --expected;
            } else {
                src = used > 0 ? used - 1 : 0;
            }
            for (int i = 0; i < channels; ++i)
                Chan(e, i)->input[pos] = samples[i][src];
        }
        e->leadPadding = pad;
        e->expected = expected;
    }
    if (consumed)
        *consumed = used;
    return ZAF_OK;
}

int EncoderEncodeFrame(ZafEncoder* e, uint8_t* out, size_t capacity, size_t* outSize)
{
    if (!Valid(e))
        return ZAF_ERR_NULL;
    if (e->headerSize == 0)
        return ZAF_ERR_NO_HEADER;
    if (out && capacity < static_cast<size_t>(e->frameSize))
        return ZAF_ERR_BUFFER;
    const int r = EncodeFramePipeline(e, out);
    if (r != ZAF_OK)
        return r;
    if (outSize)
        *outSize = out ? static_cast<size_t>(e->frameSize) : 0;
    ++e->frameIndex;
    return ZAF_OK;
}

int EncoderGetInfo(const ZafEncoder* e, ZafEncoderInfo* info)
{
    if (!Valid(e) || !info)
        return ZAF_ERR_NULL;
    if (e->headerSize == 0) {
        std::memset(info, 0xFF, sizeof *info);
        return ZAF_ERR_NO_HEADER;
    }
    info->headerSize = e->headerSize;
    info->frameCount = e->frameCount;
    info->delay = e->delay;
    info->appended = e->appended;
    info->frameSize = e->frameSize;
    info->totalBands = e->totalBands;
    info->baseBands = e->baseBands;
    info->stereoBands = e->stereoBands;
    info->bandsPerGroup = e->bandsPerGroup;
    return ZAF_OK;
}

int MakeCipherTable(int type, uint64_t key, uint8_t* table)
{
    if (type != 0 && type != 1 && type != 56)
        return -1;
    if (key == 0 || type == 0)
        return 0;
    if (!table)
        return -1;
    uint8_t g[256];
    if (type == 1) {
        g[0] = 0;
        g[255] = 0xFF;
        unsigned v = 0;
        for (int i = 1; i <= 254; ++i) {
            v = (13 * v + 11) & 0xFF;
            if (v == 0 || v == 0xFF)
                v = (13 * v + 11) & 0xFF;
            g[i] = static_cast<uint8_t>(v);
        }
    } else {
        const uint64_t K = key - 1;
        uint8_t k[8];
        for (int i = 0; i < 8; ++i)
            k[i] = static_cast<uint8_t>(K >> (8 * i));
        auto nibbles = [](uint8_t x, uint8_t* outN) {
            unsigned v = x >> 4;
            const unsigned mul = (x & 1) ? 13 : 5;
            const unsigned inc = (x & 0x0E) | 1;
            for (int i = 0; i < 16; ++i) {
                v = (v * mul + inc) & 0x0F;
                outN[i] = static_cast<uint8_t>(v);
            }
        };
        const uint8_t rows[16] = {
            k[1], static_cast<uint8_t>(k[1] ^ k[6]), static_cast<uint8_t>(k[2] ^ k[3]), k[2],
            static_cast<uint8_t>(k[1] ^ k[2]), static_cast<uint8_t>(k[3] ^ k[4]), k[3], static_cast<uint8_t>(k[2] ^ k[3]),
            static_cast<uint8_t>(k[4] ^ k[5]), k[4], static_cast<uint8_t>(k[3] ^ k[4]), static_cast<uint8_t>(k[5] ^ k[6]),
            k[5], static_cast<uint8_t>(k[4] ^ k[5]), static_cast<uint8_t>(k[1] ^ k[6]), k[6],
        };
        uint8_t A[16], Bn[16], T[256];
        nibbles(k[0], A);
        for (int r = 0; r < 16; ++r) {
            nibbles(rows[r], Bn);
            for (int c = 0; c < 16; ++c)
                T[16 * r + c] = static_cast<uint8_t>((A[r] << 4) | Bn[c]);
        }
        g[0] = 0;
        int n = 1;
        unsigned j = 0;
        for (int i = 0; i < 256; ++i) {
            j = (j + 17) & 0xFF;
            if (T[j] != 0 && T[j] != 0xFF && n < 255)
                g[n++] = T[j];
        }
        while (n < 255)  // never happens for a proper permutation; keeps g defined
            g[n++] = 0;
        g[255] = 0xFF;
    }
    for (int i = 0; i < 256; ++i)
        table[g[i]] = static_cast<uint8_t>(i);
    return type;
}
