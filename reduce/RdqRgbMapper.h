#pragma once
// Mapping of the quality mode: every pixel to the palette entry nearest by
// squared R, G, B distance (the measure the palette was refined with).
//
// Its error diffusion keeps flat areas clean: a pixel that the palette
// already fits closely takes its entry and passes no error on (so plain
// fills and exact colours stay exact); the error a pixel receives is scaled
// down where its neighbourhood is flat and dropped at hard edges (where it
// would only bleed across the edge); carried error is bounded so that it
// cannot run away into streaks. No noise is added. Integer arithmetic only.
#include <cstdint>
#include <vector>

#include "reduce/RdqBitmap.h"
#include "reduce/RdqQuantizer.h"

namespace rdq {

// 8-bit palette indices, rows top to bottom. alpha may be null; with
// transparency alpha-0 pixels become index 0. level: the colour dithering
// strength 0..11 (its divisor scales the diffused error).
// Largest sum of channel differences between a pixel of a 24-bit bitmap
// and its 4-neighbours; from kHardEdge on the pixel lies on a hard edge.
int LocalContrast(const Dib& rgb, int x, int y);
constexpr int kHardEdge = 160;
// Share (/256) of the carried error that a pixel of this contrast takes:
// half in a flat neighbourhood, all of it from a contrast of 16 on.
int ContrastShare(int contrast);

std::vector<uint8_t> MapToPaletteRgb(const Dib& rgb, const Dib* alpha, bool transparency, const Palette& pal,
                                     bool dither, int level);

} // namespace rdq
