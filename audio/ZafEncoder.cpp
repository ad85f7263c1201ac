#include "audio/ZafEncoder.h"
#include "audio/ZafCipher.h"
#include "audio/ZafTables.h"
#include "audio/ZafTransform.h"

#include <cstring>
#include <new>

namespace {

const float kSqrt2 = 1.4142135f;

int g_initCount = 0;

const int64_t kUnlimited = INT64_MAX;
const int64_t kMaxSamples = 0x1FFFFFFF400LL;

}  // namespace

// ---------------------------------------------------------------------------
// Instance layout inside the work area.

// How a channel is coded: alone, or as the first or second channel of an
// intensity-stereo pair. The first codes the pair's stereo bands as one
// mixed signal; the second codes only its base bands and sends an intensity
// index per subframe instead of high-frequency scales.
enum class ZafChannelType : int32_t {
    Discrete = 0,
    PairFirst = 1,
    PairSecond = 2,
};

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
    ZafChannelType type;
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
// Helpers of the frame pipeline.

// Mixes the bands above the base bands of a pair into its first channel and
// records the balance of each subframe as the second channel's intensity.
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

void ApplyIntensityStereo(ZafEncoder* e)
{
    for (int i = 0; i + 1 < e->channels; ++i) {
        ZafChannel* c = Chan(e, i);
        ZafChannel* d = Chan(e, i + 1);
        if (c->type == ZafChannelType::PairFirst && d->type == ZafChannelType::PairSecond)
            IntensityStereo(e, c, d);
    }
}

// The first i with S[i] > a, or 63 if none. The table rises strictly, so a
// binary search finds the same index as a scan from the bottom.
int ScaleIndex(float a)
{
    int lo = 0, hi = 64;  // S[lo - 1] <= a (or lo = 0), S[hi] > a (or hi = 64)
    while (lo < hi) {
        const int mid = (lo + hi) >> 1;
        if (g_zafScale.scale[mid] > a)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo < 64 ? lo : 63;
}

// Bands a channel analyses: base bands for the second of a pair, all others.
int AnalysedBands(const ZafEncoder* e, const ZafChannel* c)
{
    return c->type == ZafChannelType::PairSecond ? e->baseBands : e->totalBands;
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
                if (d > kZafHalfRange[w] || d < -kZafHalfRange[w])
                    bits += 6;
            }
            if (bits < cost) {
                cost = bits;
                c->sfMode = w;
            }
        }
    }
    if (c->type == ZafChannelType::PairSecond)
        cost += 32;
    else if (e->hfGroups > 0)
        cost += 6 * e->hfGroups;
    c->sideBits = cost;
}

int Quantise(float x, int r)
{
    const int L = kZafLevels[r];
    float v = x + 1.0f;
    if (v < 0.0f)
        v = 0.0f;
    int q = static_cast<int>(v / g_zafScale.step[r]);
    if (q > L - 1)
        q = L - 1;
    return q - L / 2;
}

int CodeLength(int q, int r)
{
    if (r == 0)
        return 0;
    if (r < 8)
        return kZafCodes[r][q + kZafLevels[r] / 2].length;
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
        return kZafResolution[x] < 15 ? kZafResolution[x] : 15;
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

// ---------------------------------------------------------------------------
// Frame pipeline stages.

// High-frequency means of the raw spectrum: the mean magnitude of each group
// of bands above the base and stereo bands, over all subframes.
void HighFrequencyMeans(const ZafEncoder* e, ZafChannel* c)
{
    const int firstHf = e->baseBands + e->stereoBands;
    const int B = e->bandsPerGroup;
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

// Scale factor of each analysed band (from its peak over the subframes),
// level values of the coded bands, and every band's values divided by its
// scale; the cached band costs are cleared.
void ScaleAndNormalise(const ZafEncoder* e, ZafChannel* c)
{
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
            const float S = g_zafScale.scale[sf];
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
}

// High-frequency scale indices: each group's mean, raised by how far below
// full scale the bands mirrored down from the groups lie (at most by sqrt 2).
// The mirrored walk carries on from group to group.
void HighFrequencyScales(const ZafEncoder* e, ZafChannel* c)
{
    const int firstHf = e->baseBands + e->stereoBands;
    const int B = e->bandsPerGroup;
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

// Everything the allocation needs to know of one transformed channel.
void AnalyseChannel(const ZafEncoder* e, ZafChannel* c)
{
    const bool hasGroups = c->type != ZafChannelType::PairSecond;
    if (hasGroups)
        HighFrequencyMeans(e, c);
    ScaleAndNormalise(e, c);
    if (hasGroups)
        HighFrequencyScales(e, c);
    ScaleCodingCost(e, c);
}

bool IsSilent(ZafEncoder* e)
{
    for (int i = 0; i < e->channels; ++i)
        if (Chan(e, i)->sfMode != 0)
            return false;
    return true;
}

// A silent frame: the sync word, zeros and the CRC, never substituted.
void WriteSilentFrame(const ZafEncoder* e, uint8_t* out)
{
    std::memset(out, 0, e->frameSize);
    out[0] = 0xFF;
    out[1] = 0xFF;
    WriteFrameCrc(out, e->frameSize);
}

// Clears, in every channel, the bands from one below the highest band that
// still carries a scale factor up. False when no band is left to clear.
bool DropTopBands(ZafEncoder* e)
{
    int top = -1;
    for (int i = 0; i < e->channels; ++i) {
        ZafChannel* c = Chan(e, i);
        for (int p = 127; p > top; --p)
            if (c->scale[p] != 0) {
                top = p;
                break;
            }
    }
    const int b = top - 1;
    if (b <= 0)
        return false;
    for (int i = 0; i < e->channels; ++i) {
        ZafChannel* c = Chan(e, i);
        for (int p = b; p < e->totalBands; ++p) {
            c->scale[p] = 0;
            c->level[p] = 0;
        }
        ScaleCodingCost(e, c);
    }
    return true;
}

// The noise level that brings the frame within its bits, dropping top bands
// while no level does. False when the frame cannot be fitted at all.
bool FitBitBudget(ZafEncoder* e, int* level, int* bits)
{
    while (!FindNoiseLevel(e, e->frameBits, level, bits))
        if (!DropTopBands(e))
            return false;
    return true;
}

// Evaluation boundary at the chosen level: the largest one that still fits
// (bits rise with it), found by bisection. 0 at level 0 or when the search
// fails; *bits becomes the count of the boundary taken.
int ChooseBoundary(ZafEncoder* e, int level, int* bits)
{
    if (level == 0)
        return 0;
    const int budget = e->frameBits;
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
    if (bl > budget)
        return 0;
    if (bu <= budget) {
        *bits = bu;
        return upper;
    }
    *bits = bl;
    return lower;
}

// Final resolution of every band and its quantised values.
void QuantiseBands(ZafEncoder* e, int level, int boundary)
{
    for (int i = 0; i < e->channels; ++i) {
        ZafChannel* c = Chan(e, i);
        for (int p = 0; p < 128; ++p) {
            int r = p < c->coded ? Resolution(c, p, level, boundary) : 0;
            c->res[p] = static_cast<uint8_t>(r);
            for (int s = 0; s < 8; ++s)
                c->quant[p * 8 + s] = r ? Quantise(c->norm[p * 8 + s], r) : 0;
        }
    }
}

// Scale factors of the coded bands: the first in 6 bits, then each raw
// (mode 6) or as a difference of mode bits, escaping large differences.
void PackScaleFactors(BitWriter& w, const ZafChannel* c)
{
    w.Put(static_cast<uint32_t>(c->sfMode), 3);
    if (c->sfMode <= 0 || c->coded <= 0)
        return;
    w.Put(c->scale[0], 6);
    const int wd = c->sfMode;
    for (int p = 1; p < c->coded; ++p) {
        if (wd == 6) {
            w.Put(c->scale[p], 6);
            continue;
        }
        const int d = c->scale[p] - c->scale[p - 1];
        if (d <= kZafHalfRange[wd] && d >= -kZafHalfRange[wd]) {
            w.Put(static_cast<uint32_t>(d + kZafHalfRange[wd]), wd);
        } else {
            w.Put(static_cast<uint32_t>(kZafEscape[wd]), wd);
            w.Put(c->scale[p], 6);
        }
    }
}

// Side information of one channel: scale factors, then the intensity indices
// of a pair's second channel or the high-frequency scale indices of others.
void PackSideInfo(BitWriter& w, const ZafEncoder* e, const ZafChannel* c)
{
    PackScaleFactors(w, c);
    if (c->type == ZafChannelType::PairSecond) {
        for (int s = 0; s < 8; ++s)
            w.Put(c->intensity[s], 4);
    } else {
        for (int g = 0; g < e->hfGroups; ++g)
            w.Put(c->hfIndex[g], 6);
    }
}

// Quantised values subframe by subframe, channel by channel, band by band:
// small resolutions through their codebook, large ones as magnitude and sign.
void PackSpectrum(BitWriter& w, ZafEncoder* e)
{
    for (int s = 0; s < 8; ++s) {
        for (int i = 0; i < e->channels; ++i) {
            const ZafChannel* c = Chan(e, i);
            for (int p = 0; p < c->coded; ++p) {
                const int r = c->res[p];
                if (r == 0)
                    continue;
                const int q = c->quant[p * 8 + s];
                if (r < 8) {
                    const ZafCode& code = kZafCodes[r][q + kZafLevels[r] / 2];
                    w.Put(code.bits, code.length);
                } else {
                    w.Put(static_cast<uint32_t>(q < 0 ? -q : q), r - 4);
                    if (q != 0)
                        w.Put(q < 0 ? 1u : 0u, 1);
                }
            }
        }
    }
}

// Writes the frame: header, side information, spectrum, zero fill; checks
// the packed length against the predicted bits, substitutes the bytes when a
// cipher table is set and ends with the CRC.
int PackFrame(ZafEncoder* e, uint8_t* out, int level, int boundary, int bits)
{
    std::memset(out, 0, e->frameSize);
    BitWriter w{out, static_cast<size_t>(e->frameBits - 16), 0, false};
    w.Put(0xFFFF, 16);
    w.Put(static_cast<uint32_t>(level), 9);
    w.Put(static_cast<uint32_t>(boundary), 7);
    for (int i = 0; i < e->channels; ++i)
        PackSideInfo(w, e, Chan(e, i));
    PackSpectrum(w, e);
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

// One frame: transform, intensity stereo, analysis, allocation of the noise
// level and the evaluation boundary, then (with an output) quantisation and
// packing. Without an output the state still advances (a warm-up frame).
int EncodeFramePipeline(ZafEncoder* e, uint8_t* out)
{
    for (int i = 0; i < e->channels; ++i) {
        ZafChannel* c = Chan(e, i);
        ZafTransformBlock(c->history, c->input, c->spectrum);
    }
    if (e->stereoBands > 0 || e->totalBands > e->baseBands)
        ApplyIntensityStereo(e);
    for (int i = 0; i < e->channels; ++i)
        AnalyseChannel(e, Chan(e, i));

    if (IsSilent(e)) {
        e->noiseLevel = 0;
        if (out)
            WriteSilentFrame(e, out);
        return ZAF_OK;
    }
    int level = 0, bits = 0;
    if (!FitBitBudget(e, &level, &bits))
        return ZAF_ERR_NOFIT;
    e->noiseLevel = level;
    const int boundary = ChooseBoundary(e, level, &bits);
    e->boundary = boundary;
    e->bitsUsed = bits;
    if (!out)
        return ZAF_OK;
    QuantiseBands(e, level, boundary);
    return PackFrame(e, out, level, boundary, bits);
}

int CeilDiv(int64_t a, int64_t b)
{
    return static_cast<int>((a + b - 1) / b);
}

// The stream layout the header step derives before it is stored.
struct Layout {
    int64_t frameSize = 0;
    int total = 0, base = 0, stereo = 0, perGroup = 0, groups = 0;
    int64_t delay = 128, frames = 0, appended = 0, headerSize = 0;
    int64_t loopStartFrame = 0, loopStartOffset = 0, loopEndFrame = 0, afterLoopEnd = 1024;
};

// Frame size and band layout from channels, rate, cutoff and bitrate, or
// from the band layout constraint when one is set.
int LayoutBands(const ZafEncoder* e, Layout& l)
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
    l.frameSize = (B * 1024 / R) / 8;
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
    if (e->constraint != 0) {
        const int V = e->constraint;
        base = (V & 0x800000) ? 128 : ((V >> 16) & 0xFF);
        st = (V >> 8) & 0xFF;
        if (st > 128 - base)
            st = 128 - base;
        h = V & 0xFF;
        if (h > 128 - base - st)
            h = 128 - base - st;
        total = base + st + h;
    }
    if (st > 0 && (C == 1 || K >= 0x80))
        return ZAF_ERR_LAYOUT;
    l.total = total;
    l.base = base;
    l.stereo = st;
    l.perGroup = (h + 7) / 8;
    l.groups = h > 0 ? CeilDiv(h, l.perGroup) : 0;
    return ZAF_OK;
}

// Delay, frame count and header size; with a loop, the delay that starts the
// loop on a frame, the padding that puts that frame on a 2048-byte boundary
// (whole frames of it become extra leading frames) and the loop's frames.
int LayoutFrames(const ZafEncoder* e, Layout& l)
{
    const bool loop = e->loopLength > 0;
    if (loop) {
        if (e->loopStart < 0)
            return ZAF_ERR_LAYOUT;
        l.delay = (e->loopStart + 1023) / 1024 * 1024 - e->loopStart + 128;
    }
    const int64_t N = e->numSamples;
    l.frames = (l.delay + N + 1023) / 1024;
    l.appended = l.frames * 1024 - N - l.delay;
    l.headerSize = (0 + 127) / 32 * 32;
    int64_t pad = 0;
    if (loop && l.frameSize > 0) {
        int64_t k = (e->loopStart + 1023) / 1024;
        int64_t at = l.headerSize + k * l.frameSize;
        pad = (2048 - at % 2048) % 2048;
        l.headerSize += pad;
    }
    if (loop) {
        int64_t p = l.delay + e->loopStart;
        l.loopStartFrame = p / 1024;
        l.loopStartOffset = p % 1024;
        int64_t end = p + e->loopLength;
        l.loopEndFrame = end / 1024 - (end % 1024 == 0 ? 1 : 0);
        l.afterLoopEnd = end % 1024 == 0 ? 0 : 1024 - end % 1024;
    }
    if (l.frameSize > 0) {
        int64_t n = pad / l.frameSize;
        if (n > 0) {
            l.headerSize -= n * l.frameSize;
            l.delay += 1024 * n;
            l.frames += n;
            if (loop) {
                l.loopStartFrame += n;
                l.loopEndFrame += n;
            }
        }
    }
    return ZAF_OK;
}

// Whether the layout fits the stream header's fields and the settings'
// ranges.
bool LayoutFits(const ZafEncoder* e, const Layout& l)
{
    if (l.frameSize < 8 || l.frameSize > 0xFFFF)
        return false;
    if (!(0 <= e->minRes && e->minRes <= e->maxRes && e->maxRes < 32))
        return false;
    if (l.frames < 0 || l.frames > INT32_MAX)
        return false;
    if (!(0 <= l.loopStartFrame && l.loopStartFrame <= l.loopEndFrame)
        || (l.frames > 0 && l.loopEndFrame >= l.frames))
        return false;
    if (!zafcipher::IsKnownType(e->cipherType))
        return false;
    return l.delay <= 0xFFFF;  // the header's field has 16 bits
}

// Channel types per track: with stereo bands, the channels of each track
// form intensity pairs by a table of its channel count (and configuration);
// without, every channel is discrete.
void AssignChannelTypes(ZafEncoder* e, const Layout& l)
{
    constexpr ZafChannelType D = ZafChannelType::Discrete;
    constexpr ZafChannelType F = ZafChannelType::PairFirst;
    constexpr ZafChannelType S = ZafChannelType::PairSecond;
    static const ZafChannelType kTypes[9][8] = {
        {D}, {D}, {F, S}, {F, S, D}, {F, S, D, D}, {F, S, D, D, D},
        {F, S, D, D, F, S}, {F, S, D, D, F, S, D}, {F, S, D, D, F, S, F, S},
    };
    static const ZafChannelType kFiveLow[5] = {F, S, D, F, S};  // five channels, configuration 0..2
    const int perTrack = e->channels / e->tracks;
    for (int i = 0; i < e->channels; ++i) {
        ZafChannelType type = D;
        const int j = i % perTrack;
        if (l.stereo > 0 && perTrack > 1 && perTrack <= 8) {
            type = kTypes[perTrack][j];
            if (perTrack == 4 && e->config == 0)
                type = (j % 2 == 0) ? F : S;
            if (perTrack == 5 && e->config <= 2)
                type = kFiveLow[j];
        }
        ZafChannel* c = Chan(e, i);
        c->type = type;
        c->coded = type == S ? l.base : l.base + l.stereo;
    }
}

// Derives frame size, band layout, padding and loop placement.
int DeriveLayout(ZafEncoder* e)
{
    Layout l;
    int r = LayoutBands(e, l);
    if (r == ZAF_OK)
        r = LayoutFrames(e, l);
    if (r != ZAF_OK)
        return r;
    if (!LayoutFits(e, l))
        return ZAF_ERR_LAYOUT;
    e->frameSize = static_cast<int32_t>(l.frameSize);
    e->frameBits = static_cast<int32_t>(l.frameSize * 8);
    e->frameCount = static_cast<int32_t>(l.frames);
    e->delay = static_cast<int32_t>(l.delay);
    e->appended = static_cast<int32_t>(l.appended);
    e->totalBands = l.total;
    e->baseBands = l.base;
    e->stereoBands = l.stereo;
    e->hfGroups = l.groups;
    e->bandsPerGroup = l.perGroup;
    e->loopStartFrame = static_cast<int32_t>(l.loopStartFrame);
    e->loopStartOffset = static_cast<int32_t>(l.loopStartOffset);
    e->loopEndFrame = static_cast<int32_t>(l.loopEndFrame);
    e->afterLoopEnd = static_cast<int32_t>(l.afterLoopEnd);
    AssignChannelTypes(e, l);
    e->headerSize = static_cast<int32_t>(l.headerSize);
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
    const uint8_t M = e->cipherType == zafcipher::kKeyed ? 0x80 : 0;
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
    // A null table is refused only where something would be written.
    const bool writes = zafcipher::IsKnownType(type) && type != zafcipher::kNone && key != 0;
    if (writes && !table)
        return -1;
    return zafcipher::MakeTable(type, key, table);
}
