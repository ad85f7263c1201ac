#pragma once
// The byte scrambler that may be applied to a chunk's data.
//
// Encoding with an 8-bit key first chains every byte to the one before it,
// for i = 1 ... size-1 in rising order:
//     data[i] := data[i] + ((data[i-1] + i) mod 256) + key      (mod 256)
// with data[i-1] already changed, and then substitutes every byte through one
// of three tables taken in turn: data[i] := table[i mod 3][data[i]].
// Decoding substitutes through the inverse tables and undoes the chain from
// the last byte down. `tables` is three 256-byte tables laid end to end
// (768 bytes; decoding expects the inverses of the encoding set), or null for
// the built-in sets.
//
// A writer that scrambles a chunk stores the key (0-254) in the chunk's code
// and sets codecFlags bit 0; a reader descrambles only when that bit is set
// and then clears it (cvkCodecEncodeChunk / cvkCodecDecodeChunk).

#include "platform/PlatformExport.h"

#include <cstddef>

class CvChunk;

// Both return 1, or 0 for null data with a non-zero size.
LUMIVOR_EXPORT int cvkCodecEncode(unsigned key, void* data, size_t size, const unsigned char* tables);
LUMIVOR_EXPORT int cvkCodecDecode(unsigned key, void* data, size_t size, const unsigned char* tables);

// The built-in tables (768 bytes each): the encoding set, or with decode
// non-zero its inverse set.
LUMIVOR_EXPORT const unsigned char* cvkCodecGetTables(int decode);

// Highest key a chunk can carry.
constexpr unsigned CVK_CODEC_KEY_MAX = 254;

// Scrambles the chunk's data with the key, stores the key in code and sets
// codecFlags bit 0. Fails (0) for a null chunk, a key above 254 or a chunk
// that is already scrambled.
LUMIVOR_EXPORT int cvkCodecEncodeChunk(CvChunk* chunk, unsigned key, const unsigned char* tables);
// Descrambles the chunk's data with the key in code when codecFlags bit 0 is
// set, then clears the bit; a chunk that is not scrambled is left as it is
// (result 1). 0 for a null chunk.
LUMIVOR_EXPORT int cvkCodecDecodeChunk(CvChunk* chunk, const unsigned char* tables);
