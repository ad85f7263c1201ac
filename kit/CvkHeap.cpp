#include "kit/CvkHeap.h"

#include "kit/CvkArena.h"
#include "kit/CvkRandom.h"

CvkHeapStatus::CvkHeapStatus()
    : areaSize(0), blockCount(0), usedSize(0), usedSizeHeader(0), usedMaxSize(0), usedCount(0),
      freeSize(0), freeSizeHeader(0), freeMaxSize(0), freeCount(0), counter(0) {}

CvkHeap::CvkHeap(void* area, uint32_t size, uint32_t alignment)
    : m_topAddress(area), m_areaSize(size), m_alignment(alignment), m_fillMode(0),
      m_randomByte(CvkRandomI(255)), m_useSize(0), m_maxUseSize(0), m_fillPattern(0),
      m_randomMask(0) {}

CvkHeap::~CvkHeap() = default;

uint32_t CvkHeap::GetStatus(CvkHeapStatus* status) {
    (void)status;
    return 0;
}

uint32_t CvkHeap::GetSize() { return m_areaSize; }

uint32_t CvkHeap::GetAlign() { return m_alignment; }

const char* CvkHeap::GetFileName(void* pointer, const char* fileName, int line) {
    (void)pointer, (void)fileName, (void)line;
    return nullptr;
}

uint32_t CvkHeap::GetFileLine(void* pointer, const char* fileName, int line) {
    (void)pointer, (void)fileName, (void)line;
    return 0;
}

uint32_t CvkHeap::GetBlockSize(void* pointer, const char* fileName, int line) {
    (void)pointer, (void)fileName, (void)line;
    return 0;
}

void CvkHeap::LogUseInfo() {}

void CvkHeap::SetFillMode(uint32_t mode) { m_fillMode = mode; }

void CvkHeap::SetFillPattern(uint8_t pattern, uint8_t mask) {
    m_fillPattern = pattern;
    m_randomMask = mask;
}

void* CvkHeap::GetTopAddress() { return m_topAddress; }

uint32_t CvkHeap::GetMaxUseSize() { return m_maxUseSize; }

uint32_t CvkHeap::GetUseSize() { return m_useSize; }

void CvkHeap::FillAllocBlock(void* block, uint32_t size) {
    if (m_fillMode & CVK_HEAP_FILL_ALLOC) _fill(block, size);
}

void CvkHeap::FillFreeBlock(void* block, uint32_t size) {
    if (m_fillMode & CVK_HEAP_FILL_FREE) _fill(block, size);
}

void CvkHeap::_fill(void* block, uint32_t size) {
    uint8_t* bytes = static_cast<uint8_t*>(block);
    if (!bytes) return;
    if (m_randomMask == 0) {
        for (uint32_t i = 0; i < size; ++i) bytes[i] = m_fillPattern;
        return;
    }
    // The mask bits of every byte are random, the others come from the
    // pattern (which loses its mask bits for good).
    m_fillPattern = static_cast<uint8_t>(m_fillPattern & ~m_randomMask);
    for (uint32_t i = 0; i < size; ++i) {
        m_randomByte ^= CvkRandomI(255);
        bytes[i] = static_cast<uint8_t>((m_randomByte & m_randomMask) | m_fillPattern);
    }
}

// ---- heap slots --------------------------------------------------------

namespace {
CvkHeap* g_systemHeap = nullptr;
CvkHeap* g_mainHeap = nullptr;
CvkHeap* g_bufferHeap = nullptr;

void* slotAlloc(CvkHeap* heap, uint32_t size, uint32_t alignment, const char* fileName, int line) {
    return heap ? heap->AllocAlign(size, alignment, fileName, line) : nullptr;
}

void slotFree(CvkHeap* heap, void* pointer, const char* fileName, int line) {
    if (heap) heap->Free(pointer, fileName, line);
}
}  // namespace

void CvkHeapSetSystem(CvkHeap* heap)
{
    if (heap != g_systemHeap) {
        CvkArena::Trim(); // idle document chunks belong to the heap being replaced
    }
    g_systemHeap = heap;
}
void CvkHeapSetMain(CvkHeap* heap) { g_mainHeap = heap; }
void CvkHeapSetBuffer(CvkHeap* heap) { g_bufferHeap = heap; }
CvkHeap* CvkHeapGetSystem() { return g_systemHeap; }
CvkHeap* CvkHeapGetMain() { return g_mainHeap; }
CvkHeap* CvkHeapGetBuffer() { return g_bufferHeap; }

void* t_cvkSystemHeapAlloc(uint32_t size, uint32_t alignment, const char* fileName, int line) {
    return slotAlloc(g_systemHeap, size, alignment, fileName, line);
}
void* t_cvkMainHeapAlloc(uint32_t size, uint32_t alignment, const char* fileName, int line) {
    return slotAlloc(g_mainHeap, size, alignment, fileName, line);
}
void* t_cvkBufferHeapAlloc(uint32_t size, uint32_t alignment, const char* fileName, int line) {
    return slotAlloc(g_bufferHeap, size, alignment, fileName, line);
}
void t_cvkSystemHeapFree(void* pointer, const char* fileName, int line) {
    slotFree(g_systemHeap, pointer, fileName, line);
}
void t_cvkMainHeapFree(void* pointer, const char* fileName, int line) {
    slotFree(g_mainHeap, pointer, fileName, line);
}
void t_cvkBufferHeapFree(void* pointer, const char* fileName, int line) {
    slotFree(g_bufferHeap, pointer, fileName, line);
}
