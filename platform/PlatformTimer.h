#pragma once
#include <cstdint>

// Microseconds from a monotonic clock (never goes back, unaffected by clock changes).
uint64_t PlatformMonotonicMicros();
