#pragma once
// Fixed tables of the symbol: error-correction block layout per version and
// level, alignment pattern centres, the Galois field GF(256) and the
// format/version information codes.
#include <cstdint>

constexpr int QR_VERSION_MAX = 40;
constexpr int QR_SIZE_MAX = 4 * QR_VERSION_MAX + 17;   // modules on a side of version 40
constexpr int QR_LEVEL_L = 0;
constexpr int QR_LEVEL_M = 1;
constexpr int QR_LEVEL_Q = 2;
constexpr int QR_LEVEL_H = 3;
constexpr int QR_EC_LENGTH_MAX = 30;

// Block layout of one version at one level: two groups of blocks, the
// second group's blocks one data codeword longer than the first group's.
struct QrBlockLayout {
    int32_t totalCodewords;   // of the whole symbol
    int32_t dataCodewords;    // of the whole symbol
    int32_t ecPerBlock;       // error-correction codewords in every block
    int32_t blocks1;          // group 1: block count
    int32_t data1;            //          data codewords per block
    int32_t blocks2;          // group 2: block count (may be 0)
    int32_t data2;            //          data codewords per block (data1 + 1)
};

// Layout for version 1..40 and level 0..3 (L, M, Q, H).
const QrBlockLayout& QrLayout(int version, int level);

// Number of data codewords for version 1..40 and level 0..3.
int QrDataCodewords(int version, int level);

// Alignment pattern centre coordinates of a version; returns their count
// (0 for version 1) and fills centres[0..count-1] in ascending order.
int QrAlignmentCentres(int version, int centres[7]);

// GF(256) with the primitive polynomial x^8 + x^4 + x^3 + x^2 + 1 (0x11D).
uint8_t QrGfMul(uint8_t a, uint8_t b);

// Generator polynomial of degree n (1..30): n + 1 coefficients, highest
// power first, the leading 1 included.
const uint8_t* QrGenerator(int n);

// Error-correction codewords of one block: ec[0..ecLength-1].
void QrReedSolomon(const uint8_t* data, int dataLength, int ecLength, uint8_t* ec);

// 15-bit format information (level, mask) with its BCH bits and mask pattern.
uint32_t QrFormatBits(int level, int mask);

// 18-bit version information for versions 7..40.
uint32_t QrVersionBits(int version);

// Module (x = column, y = row) of format bit i (0..14) in copy 0 (around the
// top-left finder) or copy 1 (split between the top-right and bottom-left
// finders) of an n x n symbol.
void QrFormatPosition(int n, int copy, int i, int& x, int& y);

// Data mask pattern m (0..7): true where the module at column x, row y is
// inverted.
constexpr bool QrMaskBit(int mask, int x, int y)
{
    switch (mask) {
    case 0: return (x + y) % 2 == 0;
    case 1: return y % 2 == 0;
    case 2: return x % 3 == 0;
    case 3: return (x + y) % 3 == 0;
    case 4: return (y / 2 + x / 3) % 2 == 0;
    case 5: return (x * y) % 2 + (x * y) % 3 == 0;
    case 6: return ((x * y) % 2 + (x * y) % 3) % 2 == 0;
    default: return ((x + y) % 2 + (x * y) % 3) % 2 == 0;
    }
}
