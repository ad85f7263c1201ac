#include "platform/PlatformMemory.h"

#include <sys/mman.h>

void PlatformAdviseHugePages(void* address, std::size_t bytes)
{
#if defined(MADV_HUGEPAGE)
    (void)madvise(address, bytes, MADV_HUGEPAGE);
#else
    (void)address;
    (void)bytes;
#endif
}
