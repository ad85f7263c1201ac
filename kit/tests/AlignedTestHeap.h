#pragma once
// A heap for tests of arena-backed objects: honours the alignment asked for
// (arenas take 2 MiB-aligned chunks), counts its live blocks and can be told
// to refuse allocations. A fixture installs it in all three slots and checks
// that every test gives back what it took.

#include "kit/CvkArena.h"
#include "kit/CvkHeap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

class AlignedTestHeap : public CvkHeap {
public:
    AlignedTestHeap() : CvkHeap(nullptr, 0, 16) {}

    void* Alloc(uint32_t size) override { return AllocAlign(size, 0, nullptr, 0); }
    void* Alloc(uint32_t size, const char*, int) override { return AllocAlign(size, 0, nullptr, 0); }
    void* AllocAlign(uint32_t size, uint32_t alignment) override { return AllocAlign(size, alignment, nullptr, 0); }
    void* AllocAlign(uint32_t size, uint32_t alignment, const char*, int) override
    {
        if (refuse) {
            return nullptr;
        }
        void* p = nullptr;
        const size_t align = alignment < 16 ? 16 : alignment;
        if (posix_memalign(&p, align, size != 0 ? size : 1) != 0) {
            return nullptr;
        }
        blocks.insert(p);
        return p;
    }
    void Free(void* pointer) override { Free(pointer, nullptr, 0); }
    void Free(void* pointer, const char*, int) override
    {
        if (blocks.erase(pointer) == 0) {
            ADD_FAILURE() << "free of a pointer this heap did not give out";
            return;
        }
        std::free(pointer);
    }

    int LiveBlocks() const { return static_cast<int>(blocks.size()); }

    bool refuse = false;

private:
    std::set<void*> blocks;
};

class AlignedHeapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CvkHeapSetSystem(&heap);
        CvkHeapSetMain(&heap);
        CvkHeapSetBuffer(&heap);
    }
    void TearDown() override
    {
        CvkArena::Trim(); // chunks kept idle for the next document are not leaks
        EXPECT_EQ(heap.LiveBlocks(), 0) << "heap blocks leaked";
        CvkHeapSetSystem(nullptr);
        CvkHeapSetMain(nullptr);
        CvkHeapSetBuffer(nullptr);
    }

    AlignedTestHeap heap;
};
