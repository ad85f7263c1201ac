#pragma once
// The kit's simple heap in all three heap slots (system, main and buffer):
// the set-up that tests, fuzz targets and benchmarks of the kit's users need
// before anything else.
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"

// Puts heap in the system, main and buffer slots; null empties them.
inline void KitHeapSlotsSet(CvkHeap* heap)
{
    CvkHeapSetSystem(heap);
    CvkHeapSetMain(heap);
    CvkHeapSetBuffer(heap);
}

// A simple heap installed in the three slots while this object lives (a
// member of a fixture, a local of a benchmark).
class KitSimpleHeap {
public:
    KitSimpleHeap() { KitHeapSlotsSet(&m_heap); }
    ~KitSimpleHeap() { KitHeapSlotsSet(nullptr); }
    KitSimpleHeap(const KitSimpleHeap&) = delete;
    KitSimpleHeap& operator=(const KitSimpleHeap&) = delete;

    CvkHeapSimple& Heap() { return m_heap; }

private:
    CvkHeapSimple m_heap{nullptr, 0, 16};
};
