#pragma once
// Hints to the kernel about how memory will be used.

#include <cstddef>

// Asks the kernel to back [address, address + bytes) with huge pages when it
// can (the range should be aligned to the huge-page size). A hint only:
// nothing changes when the system has no huge pages.
void PlatformAdviseHugePages(void* address, std::size_t bytes);
