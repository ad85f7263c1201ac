#include "kit/CvkHeapSimple.h"

#include <cstdlib>

namespace {
// posix_memalign wants a power of two that is a multiple of sizeof(void*).
uint32_t usableAlignment(uint32_t alignment) {
    uint32_t a = sizeof(void*);
    while (a < alignment && a < 0x80000000u) a <<= 1;
    return a;
}
}  // namespace

CvkHeapSimple::CvkHeapSimple(void* area, uint32_t size, uint32_t alignment)
    : CvkHeap(nullptr, size, alignment) {
    (void)area;
}

CvkHeapSimple::~CvkHeapSimple() = default;

void* CvkHeapSimple::_alloc(uint32_t size, uint32_t alignment) {
    void* pointer = nullptr;
    // A zero-byte request still yields a block of its own.
    if (posix_memalign(&pointer, usableAlignment(alignment), size ? size : 1) != 0) return nullptr;
    return pointer;
}

void* CvkHeapSimple::Alloc(uint32_t size) { return _alloc(size, m_alignment); }

void* CvkHeapSimple::Alloc(uint32_t size, const char* fileName, int line) {
    (void)fileName, (void)line;
    return _alloc(size, m_alignment);
}

// An alignment above the heap's own is honoured (arenas ask for 2 MiB);
// smaller ones get the heap's.
void* CvkHeapSimple::AllocAlign(uint32_t size, uint32_t alignment) {
    return _alloc(size, alignment > m_alignment ? alignment : m_alignment);
}

void* CvkHeapSimple::AllocAlign(uint32_t size, uint32_t alignment, const char* fileName, int line) {
    (void)fileName, (void)line;
    return _alloc(size, alignment > m_alignment ? alignment : m_alignment);
}

void CvkHeapSimple::Free(void* pointer) { std::free(pointer); }

void CvkHeapSimple::Free(void* pointer, const char* fileName, int line) {
    (void)fileName, (void)line;
    std::free(pointer);
}
