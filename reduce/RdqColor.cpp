#include "reduce/RdqColor.h"

#include <cmath>

namespace rdq {

WColor ForwardTransform(int r, int g, int b)
{
    int32_t l = (39190 * r + 76940 * g + 14942 * b + 32768) >> 16;
    int32_t c1 = (78118 * r - 35914 * g - 42206 * b) / 65536;
    int32_t c2 = (27656 * r - 68420 * g + 40764 * b) / 65536;
    if (c1 >= 246) c1 = (2 * c1 - 490) / 3 + 245;
    if (c2 < -215) c2 = (2 * c2 + 430) / 3 - 215;
    if (c2 - c1 >= 266) {
        int32_t m = (c2 - c1 - 265) / 4;
        c2 -= m;
        c1 += m;
    }
    if (c1 < 0 && c2 >= 1) l = l - (c2 * c1) / 512;
    if (l < 0) l = 0;
    if (l > 511) l = 511;
    if (c1 < -320) c1 = -320;
    if (c1 > 319) c1 = 319;
    if (c2 < -270) c2 = -270;
    if (c2 > 269) c2 = 269;
    return {l, c1, c2};
}

void InverseTransform(const WColor& c, uint8_t rgb[3])
{
    int64_t l = c.l, c1 = c.c1, c2 = c.c2;
    if (c1 < 0 && c2 > 0) l += (c1 * c2) / 512;
    if (c2 - c1 > 265) {
        int64_t d = (c2 - c1 - 265) / 2;
        c1 -= d;
        c2 += d;
    }
    if (c1 > 245) c1 = (3 * c1 - 735) / 2 + 245;
    if (c2 < -215) c2 = (3 * c2 + 645) / 2 - 215;
    int64_t lc = (l < 0 ? 0 : l > 511 ? 511 : l) * 65536;
    int64_t v[3] = {(lc + 62629 * c1 + 40822 * c2) / 65536, (lc - 17836 * c1 - 42489 * c2) / 65536,
                    (lc - 72428 * c1 + 111714 * c2) / 65536};
    for (int k = 0; k < 3; ++k) rgb[k] = static_cast<uint8_t>(v[k] < 0 ? 0 : (v[k] > 511 ? 511 : v[k]) / 2);
}

namespace {

// Natural logarithm of x > 0: x = m 2^e with m in [sqrt(1/2), sqrt(2)),
// log m = 2 atanh(s), s = (m - 1) / (m + 1), summed as a series.
double Log(double x)
{
    int e = 0;
    double m = std::frexp(x, &e); // exact
    if (m < 0.70710678118654752440) {
        m *= 2.0;
        --e;
    }
    double s = (m - 1.0) / (m + 1.0);
    double s2 = s * s;
    double term = s, sum = 0.0;
    for (int k = 1; k < 40; k += 2) {
        sum += term / k;
        term *= s2;
    }
    return 2.0 * sum + e * 0.69314718055994530942;
}

// e^y: y = k ln 2 + r with |r| <= ln2 / 2, Taylor series of e^r, scaled.
double Exp(double y)
{
    double k = std::floor(y / 0.69314718055994530942 + 0.5);
    double r = y - k * 0.69314718055994530942;
    double term = 1.0, sum = 1.0;
    for (int n = 1; n < 30; ++n) {
        term *= r / n;
        sum += term;
    }
    return std::ldexp(sum, static_cast<int>(k)); // exact
}

struct Gamma {
    double v[kLevels];
    Gamma()
    {
        for (int i = 0; i < kLevels; ++i) v[i] = Pow(i / 511.0, 1.27) * 511.0;
    }
};

} // namespace

double Pow(double x, double y)
{
    if (x <= 0.0) return 0.0;
    if (x == 1.0) return 1.0;
    return Exp(y * Log(x));
}

const double* GammaTable()
{
    static const Gamma gamma;
    return gamma.v;
}

int64_t Distance(const WColor& a, const WColor& b)
{
    const double* g = GammaTable();
    double dl = g[a.l] - g[b.l];
    double d1 = a.c1 - b.c1;
    double d2 = a.c2 - b.c2;
    return static_cast<int64_t>(1600.0 * (dl * dl) + 400.0 * (d1 * d1) + 400.0 * (d2 * d2));
}

uint32_t MaskRgb(uint32_t rgb, uint32_t mask)
{
    if (mask == 0xFFFFFF) return rgb;
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        uint32_t v = (rgb >> shift) & 0xFF & (mask >> shift);
        out |= (v | (v >> 6)) << shift;
    }
    return out;
}

uint32_t MaskedRgb(const WColor& c, uint32_t mask)
{
    uint8_t rgb[3];
    InverseTransform(c, rgb);
    return MaskRgb((uint32_t(rgb[0]) << 16) | (uint32_t(rgb[1]) << 8) | rgb[2], mask);
}

int32_t LightnessFromWeighted(double meanWeightedL)
{
    if (meanWeightedL < 0.0) return 0;
    double l = std::round(Pow(meanWeightedL / kWeightL / 511.0, 1.0 / 1.27) * 511.0);
    return l > 511.0 ? 511 : static_cast<int32_t>(l);
}

} // namespace rdq
