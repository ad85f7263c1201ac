#pragma once
// The kit's pseudo-random generator and its fixed random table.
//
// The generator keeps two 32-bit words (low, high) and a mode (0 normal,
// 1 constant seed). Its state and the table cursors are process-wide and
// unlocked.

#include "platform/PlatformExport.h"

#include <cstdint>

// One step, then (low AND 0x7FFFFFFF) mod (n + 1): 0..n.
LUMIVOR_EXPORT uint32_t CvkRandomI(uint32_t n);
// One step, then a value 0 <= result < x.
LUMIVOR_EXPORT float CvkRandom(float x);
LUMIVOR_EXPORT float CvkRandomRange(float a, float b);
LUMIVOR_EXPORT uint32_t CvkRandomRangeI(uint32_t a, uint32_t b);
LUMIVOR_EXPORT int32_t CvkRandomRangeS32(int32_t a, int32_t b);

// low := seed, high := 0; returns the previous low word.
LUMIVOR_EXPORT uint32_t CvkSetRandomSeed(uint32_t seed);
LUMIVOR_EXPORT uint32_t CvkGetRandomSeed();
LUMIVOR_EXPORT void CvkSetConstRandom(uint32_t value);
LUMIVOR_EXPORT void CvkResetConstRandom();
LUMIVOR_EXPORT uint32_t CvkGetRandomMode();

// The random table (a permutation of 0..255).
LUMIVOR_EXPORT uint32_t CvkTableRandomI(uint32_t index);
LUMIVOR_EXPORT uint32_t CvkTableRandomI();
LUMIVOR_EXPORT float CvkTableRandom(uint32_t index);
LUMIVOR_EXPORT float CvkTableRandom();
LUMIVOR_EXPORT float CvkTableRandomRange(uint32_t index, float a, float b);
LUMIVOR_EXPORT int32_t CvkTableRandomRangeI(uint32_t index, int32_t a, int32_t b);
