#pragma once
// AtrNodePool: fixed-size slots for the objects of attribute trees (nodes,
// attributes, data values), carved from chunks of the system heap slot.
//
// A document of a million nodes means several million small objects; taking
// each from the system heap on its own costs more than reading the text. The
// pool takes chunks (4 KiB growing to 64 KiB) from the system heap slot and
// hands out slots from a free list or the current chunk. When the last live
// object of a pool is freed, every chunk goes back to the heap it came from,
// so a program that destroys its trees leaves nothing behind. Allocation
// fails (null) only when a new chunk is needed and the heap refuses it.
// Thread-safe (a spin lock around each operation).
//
// Internal to the attribute tree: the classes' operator new/delete use it
// for objects of exactly their own size and fall back to the system heap for
// derived classes of another size.

#include "platform/PlatformExport.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class CvkHeap;

class AtrNodePool {
public:
    explicit constexpr AtrNodePool(std::size_t objectSize)
        : slot((objectSize + kAlign - 1) / kAlign * kAlign), freeList(nullptr), bump(nullptr), bumpEnd(nullptr),
          chunks(nullptr), nextChunkBytes(kFirstChunk), live(0)
    {
    }

    void* Alloc() noexcept;
    void Free(void* pointer) noexcept;
    // Frees `count` slots from Alloc under one lock (null entries skipped).
    void FreeMany(void* const* slots, std::size_t count) noexcept;
    std::size_t SlotSize() const { return slot; }
    // Objects handed out and not yet freed.
    std::size_t Live() const { return live; }

    // Node, attribute and data pools (AtrNode.cpp).
    static AtrNodePool& Nodes();
    static AtrNodePool& Attributes();
    static AtrNodePool& Data();

private:
    struct Chunk {
        Chunk* next;
        CvkHeap* heap;
        uint32_t bytes;
    };
    static constexpr std::size_t kAlign = 16;
    static constexpr std::size_t kHeader = (sizeof(Chunk) + kAlign - 1) / kAlign * kAlign;
    static constexpr uint32_t kFirstChunk = 4096;
    static constexpr uint32_t kLastChunk = 64 * 1024; // below the C run-time's mmap threshold

    bool _newChunk() noexcept;
    void _releaseAll() noexcept;

    std::size_t slot;
    void* freeList;
    unsigned char* bump;
    unsigned char* bumpEnd;
    Chunk* chunks;
    uint32_t nextChunkBytes;
    std::size_t live;
    std::atomic_flag lock = ATOMIC_FLAG_INIT;
};
