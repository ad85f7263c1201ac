#pragma once
// A heap on the C run-time's aligned allocator. It manages no area of its own
// and keeps no statistics; every allocation uses the heap's alignment, or the
// larger alignment AllocAlign asks for.

#include "kit/CvkHeap.h"

class LUMIVOR_EXPORT CvkHeapSimple : public CvkHeap {
public:
    // area and size are not used (pass null and 0); alignment is the
    // alignment of every block (a power of two; smaller values than a
    // pointer's size are raised to it).
    CvkHeapSimple(void* area, uint32_t size, uint32_t alignment);
    ~CvkHeapSimple() override;

    void* Alloc(uint32_t size) override;
    void* Alloc(uint32_t size, const char* fileName, int line) override;
    void* AllocAlign(uint32_t size, uint32_t alignment) override;
    void* AllocAlign(uint32_t size, uint32_t alignment, const char* fileName, int line) override;
    void Free(void* pointer) override;
    void Free(void* pointer, const char* fileName, int line) override;

private:
    void* _alloc(uint32_t size, uint32_t alignment);
};
