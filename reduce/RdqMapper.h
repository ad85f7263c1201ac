#pragma once
// Mapping of images onto a palette (with or without error diffusion) and the
// direct 16-bit writers.
#include <cstdint>
#include <vector>

#include "reduce/RdqBitmap.h"
#include "reduce/RdqColor.h"
#include "reduce/RdqQuantizer.h"

namespace rdq {

// Divisor and error fraction (/256) per strength level 0..11.
int LevelDivisor(int level);
int LevelFraction(int level);

// Error-shaping curve of working channel ch (0 lightness, 1 C1, 2 C2) for
// -1024 <= k <= 1024.
int ShapeError(int ch, int k);

// Per row four noise values of the generator x <- 214013 x + 2531011,
// bits 16..30 of each new state.
class RowNoise {
public:
    void Next(int out[4]);

private:
    uint32_t state_ = 1;
};

// Nearest searchable palette colour, bounded by the lightness order and a
// per-lightness cache of the last answer.
class NearestSearch {
public:
    explicit NearestSearch(const Palette& pal);
    void ClearCache();
    // Search position of the nearest entry (-1 when nothing is searchable).
    int Find(const WColor& c);
    const WColor& Colour(int pos) const { return pal_.search[pos]; }
    int Output(int pos) const { return pos < 0 ? 0 : pal_.searchToOut[pos]; }

private:
    struct CacheRecord {
        int result;
        int32_t c1, c2;
    };
    const Palette& pal_;
    std::vector<double> gammaOf_;
    int start_[kLevels];
    CacheRecord cache_[kLevels];
};

// 8-bit palette indices, rows top to bottom. alpha may be null; with
// transparency alpha-0 pixels become index 0.
std::vector<uint8_t> MapToPalette(const Dib& rgb, const Dib* alpha, bool transparency, const Palette& pal,
                                  bool dither, int divisor);

enum class Mode16 { k565, k4444, k1555 };

struct Write16Options {
    Mode16 mode = Mode16::k565;
    bool dither = true;
    bool alphaDither = true;
    int level = 9;
    int alphaLevel = 9;
    // Quality mode: colour error diffusion that leaves flat areas clean (see
    // RdqRgbMapper.h): a pixel the format holds exactly, or one on a hard
    // edge, takes no error and passes none on; flat neighbourhoods take
    // less; no noise is added. Alpha is dithered as always.
    bool quiet = false;
};

// Rounded R, G, B, A per pixel (rows top to bottom, 4 bytes a pixel);
// alpha may be null (taken as 255).
std::vector<uint8_t> Round16(const Dib& rgb, const Dib* alpha, const Write16Options& opt);
// Packs rounded pixels into little-endian 16-bit words of the mode's layout.
std::vector<uint8_t> Pack16(const std::vector<uint8_t>& rgba, Mode16 mode);

} // namespace rdq
