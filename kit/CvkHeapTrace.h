#pragma once
// A self-contained heap inside a caller-supplied memory area.
//
// Layout of the area (32-bit little-endian fields, the same in both word
// sizes; every link is an offset from the area's start, 0 meaning none):
//   area header, 48 bytes: magic "IZHL", self (0), area size, alignment,
//   first block in address order, head of the free list, head of the used
//   list, free block count, used block count, block count, 64-bit
//   allocation serial number (starts at 16);
//   blocks, each a 72-byte header followed by its data:
//   tag "CVK" + state (0x80 used, 0x00 free), file name (always 0), line,
//   previous/next in the free or used list, previous/next in address order,
//   owning area (0: this area), data size, alignment, 64-bit serial number,
//   24 reserved bytes (zero in used blocks; free blocks keep the links of
//   the free-list index there).
//
// Blocks tile the area without gaps. The free list is kept in ascending
// order of data size; a block that enters the list goes before the blocks of
// equal size already there, and allocation takes the first block of the
// list that fits (best fit). A balanced search tree whose in-order sequence
// is exactly the free list finds both places in O(log n).

#include "kit/CvkHeap.h"

class LUMIVOR_EXPORT CvkHeapTrace : public CvkHeap {
public:
    // Formats the area; when it is too small the heap has no area and every
    // allocation returns null.
    CvkHeapTrace(void* area, uint32_t size, uint32_t alignment);
    ~CvkHeapTrace() override;

    void* Alloc(uint32_t size) override;
    void* Alloc(uint32_t size, const char* fileName, int line) override;
    void* AllocAlign(uint32_t size, uint32_t alignment) override;
    void* AllocAlign(uint32_t size, uint32_t alignment, const char* fileName, int line) override;
    void Free(void* pointer) override;
    void Free(void* pointer, const char* fileName, int line) override;
    uint32_t GetStatus(CvkHeapStatus* status) override;
    uint32_t GetSize() override;
    uint32_t GetAlign() override;
    const char* GetFileName(void* pointer, const char* fileName, int line) override;
    uint32_t GetFileLine(void* pointer, const char* fileName, int line) override;
    uint32_t GetBlockSize(void* pointer, const char* fileName, int line) override;
    void LogUseInfo() override;

    enum : uint32_t {
        HEADER_SIZE = 72,       // block header
        AREA_HEADER_SIZE = 48,  // area header
    };

private:
    bool _checkArea();
    uint32_t _blockOf(const void* pointer);
    bool _isUsedBlock(uint32_t block);
    uint32_t _fit(uint32_t block, uint32_t size, uint32_t alignment, uint32_t* dataStart);
    void _freeInsert(uint32_t block);
    void _freeRemove(uint32_t block);
    void _treeInsert(uint32_t block, uint32_t parent, bool left);
    void _treeRemove(uint32_t block);
    void _rotate(uint32_t node, uint32_t side);
    void _logFileLine(const char* fileName, int line);

    uint8_t* m_base;        // the area while it is formatted, else null
    uint32_t m_root;        // root of the free-list index (block offset)
};
