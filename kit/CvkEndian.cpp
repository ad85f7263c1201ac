#include "kit/CvkEndian.h"

namespace {

// Process-wide, like the other kit settings: one thread uses the kit at a time.
int g_endianTarget = 0;

template <typename T, T (*Swap)(T)>
void SwapEach(void* ptr, size_t count)
{
    if (!ptr) return;
    unsigned char* p = static_cast<unsigned char*>(ptr);
    for (size_t i = 0; i < count; ++i, p += sizeof(T)) {
        T v;
        std::memcpy(&v, p, sizeof(T));
        v = Swap(v);
        std::memcpy(p, &v, sizeof(T));
    }
}

} // namespace

void CvkSwapArray16(void* ptr, size_t count) { SwapEach<uint16_t, CvkSwap16>(ptr, count); }
void CvkSwapArray32(void* ptr, size_t count) { SwapEach<uint32_t, CvkSwap32>(ptr, count); }
void CvkSwapArray64(void* ptr, size_t count) { SwapEach<uint64_t, CvkSwap64>(ptr, count); }

int CvkEndianGetTarget() { return g_endianTarget; }

void CvkEndianSetTarget(int target) { g_endianTarget = target; }
