#pragma once
// Fixed tables of the ZAF frame coding: quantiser levels, the resolution of a
// band from its distance to the noise level, the scale-factor delta coding,
// the codebooks of the small resolutions, the scale and step values, and the
// CRC of frames and headers.
#include <cstdint>

// Quantiser levels L[r] of resolution r (0: the band is not coded).
inline constexpr int kZafLevels[16] = {1, 3, 5, 7, 9, 11, 13, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095};

// Resolution of a band by x = noise level - level value + 8 (+1 above the
// evaluation boundary), for x = 0..71; x < 0 takes 15 and x >= 72 takes 1.
inline constexpr uint8_t kZafResolution[72] = {
    15, 15, 15, 15, 15, 15, 14, 14, 14, 14, 14, 14, 13, 13, 13, 13, 13, 13,
    12, 12, 12, 12, 12, 12, 11, 11, 11, 11, 11, 11, 10, 10, 10, 10, 10, 10, 10,
    9, 9, 9, 9, 9, 9, 8, 8, 8, 8, 8, 8,
    7, 6, 6, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2,
    1, 1, 1, 1, 1, 1, 1, 1, 1,
};

// Scale-factor delta coding of width w = 1..5: differences within
// +-kZafHalfRange[w] are sent as difference + half range; others as the
// escape code kZafEscape[w] followed by the scale factor in 6 bits.
inline constexpr int kZafHalfRange[6] = {0, 0, 1, 3, 7, 15};
inline constexpr int kZafEscape[6] = {0, 1, 3, 7, 15, 31};

// Codebook of resolutions 1..7: {code, length} indexed by value + (L - 1) / 2.
// Resolutions 8..15 send |value| in r - 4 bits and a sign bit when nonzero.
struct ZafCode {
    uint16_t bits;
    uint8_t length;
};
inline constexpr ZafCode kZafCodes[8][15] = {
    {},
    {{3, 2}, {0, 1}, {2, 2}},
    {{7, 3}, {2, 2}, {0, 2}, {1, 2}, {6, 3}},
    {{7, 3}, {5, 3}, {3, 3}, {0, 2}, {2, 3}, {4, 3}, {6, 3}},
    {{15, 4}, {6, 3}, {4, 3}, {2, 3}, {0, 3}, {1, 3}, {3, 3}, {5, 3}, {14, 4}},
    {{15, 4}, {13, 4}, {11, 4}, {4, 3}, {2, 3}, {0, 3}, {1, 3}, {3, 3}, {10, 4}, {12, 4}, {14, 4}},
    {{15, 4}, {13, 4}, {11, 4}, {9, 4}, {7, 4}, {2, 3}, {0, 3}, {1, 3}, {6, 4}, {8, 4}, {10, 4}, {12, 4}, {14, 4}},
    {{15, 4}, {13, 4}, {11, 4}, {9, 4}, {7, 4}, {5, 4}, {3, 4}, {0, 3}, {2, 4}, {4, 4}, {6, 4}, {8, 4}, {10, 4}, {12, 4}, {14, 4}},
};

// Tables computed once at start-up, with the same bits in every build:
// scale[i] = 2^(3.5 + 53 (i - 63) / 128), rising strictly; step[r] = 2 / L[r].
struct ZafScaleTables {
    float scale[64];
    float step[16];
    ZafScaleTables();
};
extern const ZafScaleTables g_zafScale;
