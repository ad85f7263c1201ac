#pragma once
// 24-bit colours of the quality mode, packed as 0xRRGGBB, and the squared
// R, G, B distance it measures error by.
#include <cstdint>

namespace rdq {

inline uint32_t PackRgb(int r, int g, int b)
{
    return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}
inline int Red(uint32_t c) { return int(c >> 16); }
inline int Green(uint32_t c) { return int((c >> 8) & 0xFF); }
inline int Blue(uint32_t c) { return int(c & 0xFF); }

inline int32_t RgbDistance(int r0, int g0, int b0, int r1, int g1, int b1)
{
    return (r0 - r1) * (r0 - r1) + (g0 - g1) * (g0 - g1) + (b0 - b1) * (b0 - b1);
}
inline int32_t RgbDistance(uint32_t a, uint32_t b)
{
    return RgbDistance(Red(a), Green(a), Blue(a), Red(b), Green(b), Blue(b));
}

// Nearest 5-6-5 colour with the low bits refilled from the high ones (the
// colours a 16-bit palette entry can hold).
uint32_t Snap565(uint32_t rgb);
// The colour at palette precision: itself, or Snap565 for 16-bit palettes.
inline uint32_t SnapToPalette(uint32_t rgb, bool sixteenBit) { return sixteenBit ? Snap565(rgb) : rgb; }

} // namespace rdq
