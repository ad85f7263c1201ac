#pragma once
// Byte order helpers and the process-wide endian target.
//
// Writers produce data for a target of either byte order: the target is 0
// (the target has this machine's order, nothing is swapped) or 1 (the
// opposite order; the CvkSwapTarget* helpers swap). Chunk headers always stay
// in the writer's order; only data inside chunks follows the target.
//
// Floats are swapped in place through their bit pattern: a swapped float is
// often not a meaningful number (it may even be a signalling NaN), and only
// the in-place result is guaranteed to keep every bit. The returned copy
// passes through the ABI's float return (the x87 stack on i386, which quiets
// signalling NaNs), so keep the referenced variable when the bits matter.

#include "platform/PlatformExport.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

inline uint16_t CvkSwap16(uint16_t v) { return __builtin_bswap16(v); }
inline uint32_t CvkSwap32(uint32_t v) { return __builtin_bswap32(v); }
inline uint64_t CvkSwap64(uint64_t v) { return __builtin_bswap64(v); }

// Reverses the bytes of the float in place and returns it.
inline float CvkSwapF32(float& f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    bits = __builtin_bswap32(bits);
    std::memcpy(&f, &bits, 4);
    return f;
}

// Reverses the bytes of the word in place.
inline void CvkSwapDirect32(uint32_t& v) { v = __builtin_bswap32(v); }

// Reverses the bytes of each of `count` elements in place. The elements need
// not be aligned.
LUMIVOR_EXPORT void CvkSwapArray16(void* ptr, size_t count);
LUMIVOR_EXPORT void CvkSwapArray32(void* ptr, size_t count);
LUMIVOR_EXPORT void CvkSwapArray64(void* ptr, size_t count);
// The same as the CvkSwapArray functions (kept under both names for writers
// that state the big-endian intent).
inline void CvkSwapArrayBE16(void* ptr, size_t count) { CvkSwapArray16(ptr, count); }
inline void CvkSwapArrayBE32(void* ptr, size_t count) { CvkSwapArray32(ptr, count); }
inline void CvkSwapArrayBE64(void* ptr, size_t count) { CvkSwapArray64(ptr, count); }

// The endian target: 0 at start.
LUMIVOR_EXPORT int CvkEndianGetTarget();
LUMIVOR_EXPORT void CvkEndianSetTarget(int target);

// The value swapped when the endian target is 1, else unchanged.
inline uint16_t CvkSwapTarget16(uint16_t v) { return CvkEndianGetTarget() == 1 ? CvkSwap16(v) : v; }
inline uint32_t CvkSwapTarget32(uint32_t v) { return CvkEndianGetTarget() == 1 ? CvkSwap32(v) : v; }
inline uint64_t CvkSwapTarget64(uint64_t v) { return CvkEndianGetTarget() == 1 ? CvkSwap64(v) : v; }
// The float swapped in place when the endian target is 1; returns it.
inline float CvkSwapTargetF32(float& f) { return CvkEndianGetTarget() == 1 ? CvkSwapF32(f) : f; }
