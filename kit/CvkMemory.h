#pragma once
// Byte copy and fill of the kit.

#include "platform/PlatformExport.h"

#include <cstdint>

// Copies size bytes; safe for overlapping ranges (copies backwards when the
// destination lies above the source); nothing when both are the same.
LUMIVOR_EXPORT void CvkMemCopy(void* destination, const void* source, uint32_t size);
// Writes size bytes of value: whole 32-bit words first, then 0..3 bytes.
LUMIVOR_EXPORT void CvkMemSet(void* destination, uint8_t value, uint32_t size);
