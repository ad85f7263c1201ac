#pragma once
// The pointer-offset table ("POF0" chunk) and the mapping of a chunk's
// pointers between chunk-relative offsets and addresses.
//
// Inside a stored image every pointer is a 32-bit word holding its target's
// offset from the chunk start. The table lists where those words are: after a
// native 32-bit word with the table's size in bytes (itself included, rounded
// up to a multiple of 4) follow the distances, in 32-bit words, from one
// pointer word to the next (the first from the chunk start), each in the
// shortest of three big-endian forms:
//     01dddddd                              distance < 64
//     10dddddd dddddddd                     distance < 16384
//     11dddddd dddddddd dddddddd dddddddd   otherwise (30 bits)
// and a 0 byte ends the list (padding).
//
// Mapping adds the chunk's start address to every listed word and sets
// mapFlags bit 0; clearing subtracts it again and clears the bit. The words
// are 32 bits wide: on a 64-bit build a chunk whose addresses do not fit 32
// bits cannot be mapped, and the call then fails and leaves the image and its
// flag untouched.

#include "kit/CvChunk.h"
#include "platform/PlatformExport.h"

#include <cstddef>

// `table` is the table (its size word first), or null to use the data of the
// "POF0" chunk directly behind `chunk`. Return 1 (also at once when the chunk
// is already mapped / already clear), or 0 for a null chunk, a missing table,
// or an address that does not fit a 32-bit word (image unchanged).
// These plain forms trust the table; use the bounded forms for files.
LUMIVOR_EXPORT int CvkPointerOffsetMapping(CvChunk* chunk, const void* table);
LUMIVOR_EXPORT int CvkPointerOffsetClear(CvChunk* chunk, const void* table);

// Bounded forms for images from files or other programs: `chunk` (and a
// "POF0" chunk behind it when `table` is null; an explicit `table` too) must
// lie inside [image, image + imageSize), the table is read only within its
// size word, its chunk and the image, and every listed word must lie inside
// the chunk. Any violation gives 0 with the image untouched.
LUMIVOR_EXPORT int CvkPointerOffsetMapping(CvChunk* chunk, const void* table, const void* image, size_t imageSize);
LUMIVOR_EXPORT int CvkPointerOffsetClear(CvChunk* chunk, const void* table, const void* image, size_t imageSize);
