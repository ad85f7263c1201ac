#pragma once
// Heap interface of the kit and the three process-wide heap slots.
//
// Every allocation of the kit names one of three slots (system, main,
// buffer). The host installs a CvkHeap in each slot before it starts the kit
// and destroys its heaps after the kit has ended; the kit never destroys a
// heap.
//
// An empty slot is not filled in behind the caller's back: the slot
// allocation functions return null and the free functions do nothing while
// their slot is empty. Code (and tests) that allocate through the kit
// install a heap first, for example
//     static CvkHeapSimple heap(nullptr, 0, 16);
//     CvkHeapSetSystem(&heap); CvkHeapSetMain(&heap); CvkHeapSetBuffer(&heap);
//
// The slots are plain process-wide variables without locking: one thread
// uses the kit at a time.

#include "platform/PlatformExport.h"

#include <cstdint>

// Statistics of a heap, filled by CvkHeap::GetStatus. Sizes in bytes.
struct LUMIVOR_EXPORT CvkHeapStatus {
    CvkHeapStatus();

    uint32_t areaSize;          // size of the managed area
    uint32_t blockCount;        // used + free blocks
    uint32_t usedSize;          // data bytes of used blocks
    uint32_t usedSizeHeader;    // data bytes of used blocks + 72 per block
    uint32_t usedMaxSize;       // largest used block (data bytes)
    uint32_t usedCount;         // number of used blocks
    uint32_t freeSize;          // data bytes of free blocks
    uint32_t freeSizeHeader;    // data bytes of free blocks + 72 per block
    uint32_t freeMaxSize;       // largest free block (data bytes)
    uint32_t freeCount;         // number of free blocks
    uint32_t counter;           // a counter kept in the area header
};

// Fill-mode bits (CvkHeap::SetFillMode).
enum : uint32_t {
    CVK_HEAP_FILL_ALLOC = 0x1,  // fill a block when it is allocated
    CVK_HEAP_FILL_FREE = 0x2,   // fill a block when it is freed
};

class LUMIVOR_EXPORT CvkHeap {
public:
    // area/size: the managed memory (null/0 for heaps that use the C
    // run-time); alignment: the default alignment of allocations.
    CvkHeap(void* area, uint32_t size, uint32_t alignment);
    virtual ~CvkHeap();

    virtual void* Alloc(uint32_t size) = 0;
    virtual void* Alloc(uint32_t size, const char* fileName, int line) = 0;
    virtual void* AllocAlign(uint32_t size, uint32_t alignment) = 0;
    virtual void* AllocAlign(uint32_t size, uint32_t alignment, const char* fileName, int line) = 0;
    virtual void Free(void* pointer) = 0;
    virtual void Free(void* pointer, const char* fileName, int line) = 0;
    // Fills *status; returns non-zero when the heap keeps statistics.
    virtual uint32_t GetStatus(CvkHeapStatus* status);
    virtual uint32_t GetSize();
    virtual uint32_t GetAlign();
    virtual const char* GetFileName(void* pointer, const char* fileName, int line);
    virtual uint32_t GetFileLine(void* pointer, const char* fileName, int line);
    virtual uint32_t GetBlockSize(void* pointer, const char* fileName, int line);
    // Logs every live block (heaps that track their blocks).
    virtual void LogUseInfo();

    // mode: CVK_HEAP_FILL_* bits.
    void SetFillMode(uint32_t mode);
    // mask 0: blocks are filled with pattern. Otherwise each byte is
    // (random AND mask) OR (pattern AND NOT mask).
    void SetFillPattern(uint8_t pattern, uint8_t mask);
    void* GetTopAddress();
    uint32_t GetMaxUseSize();
    // Bytes in use now (data + headers, for heaps that count them).
    uint32_t GetUseSize();

protected:
    void FillAllocBlock(void* block, uint32_t size);
    void FillFreeBlock(void* block, uint32_t size);

    void* m_topAddress;     // start of the managed area (null: none)
    uint32_t m_areaSize;
    uint32_t m_alignment;
    uint32_t m_fillMode;
    uint32_t m_randomByte;
    uint32_t m_useSize;
    uint32_t m_maxUseSize;
    uint8_t m_fillPattern;
    uint8_t m_randomMask;

private:
    void _fill(void* block, uint32_t size);
};

// Heap slots.
LUMIVOR_EXPORT void CvkHeapSetSystem(CvkHeap* heap);
LUMIVOR_EXPORT void CvkHeapSetMain(CvkHeap* heap);
LUMIVOR_EXPORT void CvkHeapSetBuffer(CvkHeap* heap);
LUMIVOR_EXPORT CvkHeap* CvkHeapGetSystem();
LUMIVOR_EXPORT CvkHeap* CvkHeapGetMain();
LUMIVOR_EXPORT CvkHeap* CvkHeapGetBuffer();

// Allocation through a slot: AllocAlign(size, alignment, fileName, line) of
// the slot's heap (alignment 0: the heap's own); null when the slot is empty.
LUMIVOR_EXPORT void* t_cvkSystemHeapAlloc(uint32_t size, uint32_t alignment, const char* fileName, int line);
LUMIVOR_EXPORT void* t_cvkMainHeapAlloc(uint32_t size, uint32_t alignment, const char* fileName, int line);
LUMIVOR_EXPORT void* t_cvkBufferHeapAlloc(uint32_t size, uint32_t alignment, const char* fileName, int line);
// Free through a slot: Free(pointer, fileName, line); nothing when empty.
LUMIVOR_EXPORT void t_cvkSystemHeapFree(void* pointer, const char* fileName, int line);
LUMIVOR_EXPORT void t_cvkMainHeapFree(void* pointer, const char* fileName, int line);
LUMIVOR_EXPORT void t_cvkBufferHeapFree(void* pointer, const char* fileName, int line);
