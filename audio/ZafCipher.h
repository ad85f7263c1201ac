#pragma once
// The byte substitution of enciphered ZAF streams, a fact of the format that
// the encoder library and the verification decoder both need. Header-only so
// that neither links the other: the decoder stays an independent check of
// the encoder's coding and shares with it only what the format fixes.
//
// A substitution maps every byte of a frame (CRC excepted) through a
// permutation of 0..255 that keeps 0x00 and 0xFF. Type 1 uses a fixed
// permutation; type 56 derives one from a 64-bit key.
#include <cstdint>

namespace zafcipher {

// Cipher types of the stream header.
inline constexpr int kNone = 0;
inline constexpr int kFixed = 1;
inline constexpr int kKeyed = 56;

inline constexpr bool IsKnownType(int type) { return type == kNone || type == kFixed || type == kKeyed; }

// Sixteen nibbles of the generator x <- (x * m + i) mod 16 seeded by a key
// byte: its high nibble starts the sequence, its low nibble picks the
// multiplier (13 or 5) and the odd increment. Both multipliers are 1 mod 4,
// so every seed yields a permutation of 0..15.
inline void KeyNibbles(uint8_t seed, uint8_t out[16])
{
    unsigned v = seed >> 4;
    const unsigned mul = (seed & 1) ? 13 : 5;
    const unsigned inc = (seed & 0x0E) | 1;
    for (int i = 0; i < 16; ++i) {
        v = (v * mul + inc) & 0x0F;
        out[i] = static_cast<uint8_t>(v);
    }
}

// The fixed sequence: v <- 13 v + 11 (mod 256), stepping once more over
// 0x00 and 0xFF, which keep their places.
inline void FixedSequence(uint8_t g[256])
{
    g[0] = 0;
    g[255] = 0xFF;
    unsigned v = 0;
    for (int i = 1; i <= 254; ++i) {
        v = (13 * v + 11) & 0xFF;
        if (v == 0 || v == 0xFF) v = (13 * v + 11) & 0xFF;
        g[i] = static_cast<uint8_t>(v);
    }
}

// The keyed sequence: a 16 x 16 square whose rows take their high nibbles
// from the first key byte and their low nibbles from XORs of the other
// bytes of key - 1, read with a stride of 17, 0x00 and 0xFF left out.
inline void KeyedSequence(uint64_t key, uint8_t g[256])
{
    const uint64_t k = key - 1;
    uint8_t kb[8];
    for (int i = 0; i < 8; ++i) kb[i] = static_cast<uint8_t>(k >> (8 * i));
    const uint8_t rows[16] = {kb[1], static_cast<uint8_t>(kb[1] ^ kb[6]), static_cast<uint8_t>(kb[2] ^ kb[3]),
                              kb[2], static_cast<uint8_t>(kb[1] ^ kb[2]), static_cast<uint8_t>(kb[3] ^ kb[4]),
                              kb[3], static_cast<uint8_t>(kb[2] ^ kb[3]), static_cast<uint8_t>(kb[4] ^ kb[5]),
                              kb[4], static_cast<uint8_t>(kb[3] ^ kb[4]), static_cast<uint8_t>(kb[5] ^ kb[6]),
                              kb[5], static_cast<uint8_t>(kb[4] ^ kb[5]), static_cast<uint8_t>(kb[1] ^ kb[6]),
                              kb[6]};
    uint8_t high[16];
    KeyNibbles(kb[0], high);
    uint8_t square[256];
    for (int r = 0; r < 16; ++r) {
        uint8_t low[16];
        KeyNibbles(rows[r], low);
        for (int c = 0; c < 16; ++c) square[16 * r + c] = static_cast<uint8_t>((high[r] << 4) | low[c]);
    }
    g[0] = 0;
    int n = 1;
    unsigned j = 0;
    for (int i = 0; i < 256; ++i) {
        j = (j + 17) & 0xFF;
        if (square[j] != 0 && square[j] != 0xFF && n < 255) g[n++] = square[j];
    }
    while (n < 255) // never happens for a proper permutation; keeps g defined
        g[n++] = 0;
    g[255] = 0xFF;
}

// The substitution table of a cipher type: table[g[i]] = i for the type's
// sequence g. Returns the type produced, 0 when nothing was written (type 0
// or key 0) and -1 for an unknown type.
inline int MakeTable(int type, uint64_t key, uint8_t table[256])
{
    if (!IsKnownType(type)) return -1;
    if (key == 0 || type == kNone) return 0;
    uint8_t g[256];
    if (type == kFixed)
        FixedSequence(g);
    else
        KeyedSequence(key, g);
    for (int i = 0; i < 256; ++i) table[g[i]] = static_cast<uint8_t>(i);
    return type;
}

} // namespace zafcipher
