#pragma once
// The quantiser's working colour space: an integer lightness with a gamma
// curve and two chroma axes, plus the colour distance used everywhere.
#include <cstdint>

namespace rdq {

struct WColor {
    int32_t l, c1, c2;
    bool operator==(const WColor&) const = default;
};

constexpr int kLevels = 512;        // lightness values 0..511
constexpr double kWeightL = 40.0;   // weight of lightness in the distance
constexpr double kWeightC = 20.0;   // weight of each chroma axis

WColor ForwardTransform(int r, int g, int b);
// Working colour back to 8-bit R, G, B.
void InverseTransform(const WColor& c, uint8_t rgb[3]);

// Gamma table: (i / 511)^1.27 * 511 for i in 0..511.
const double* GammaTable();
// x^y for x >= 0 computed with plain double arithmetic only, so that every
// build gives the same bits (the C library's pow differs between word sizes).
double Pow(double x, double y);

// 1600 (G(L1) - G(L2))^2 + 400 dC1^2 + 400 dC2^2, truncated.
int64_t Distance(const WColor& a, const WColor& b);

// R, G, B of a working colour packed as 0xRRGGBB and reduced by a channel
// mask (0xFFFFFF, or 0xFCFCFC for six bits per channel with the low bits
// refilled from the top ones).
uint32_t MaskedRgb(const WColor& c, uint32_t mask);
uint32_t MaskRgb(uint32_t rgb, uint32_t mask);

// Lightness value of a mean weighted lightness 40 G(L) (0 if negative).
int32_t LightnessFromWeighted(double meanWeightedL);

} // namespace rdq
