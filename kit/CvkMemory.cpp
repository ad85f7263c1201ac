#include "kit/CvkMemory.h"

#include <cstring>

void CvkMemCopy(void* destination, const void* source, uint32_t size) {
    uint8_t* d = static_cast<uint8_t*>(destination);
    const uint8_t* s = static_cast<const uint8_t*>(source);
    if (d == s || size == 0) return;
    if (d > s) {
        // Backwards, so that an overlapping source is read before it is overwritten.
        for (uint32_t i = size; i > 0; --i) d[i - 1] = s[i - 1];
    } else {
        for (uint32_t i = 0; i < size; ++i) d[i] = s[i];
    }
}

void CvkMemSet(void* destination, uint8_t value, uint32_t size) {
    uint8_t* d = static_cast<uint8_t*>(destination);
    uint32_t word = value * 0x01010101u;
    uint32_t words = size / 4;
    for (uint32_t i = 0; i < words; ++i, d += 4) std::memcpy(d, &word, 4);
    for (uint32_t i = 0; i < (size & 3); ++i) d[i] = value;
}
