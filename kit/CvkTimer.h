#pragma once
// The kit's microsecond timer (a monotonic clock).

#include "platform/PlatformExport.h"

#include <cstdint>

// Prepares the timer; returns 1.
LUMIVOR_EXPORT int CvkInitTimer();
// Microseconds of a monotonic clock.
LUMIVOR_EXPORT uint64_t CvkGetTimer();
LUMIVOR_EXPORT void CvkFinishTimer();
