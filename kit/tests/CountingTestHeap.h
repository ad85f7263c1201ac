#pragma once
// A heap for tests of kit classes: counts live blocks per source tag, can be
// told to refuse allocations, and a fixture installs it in all three slots
// and checks that every test gives back what it took.

#include "kit/CvkHeap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

class CountingTestHeap : public CvkHeap {
public:
    CountingTestHeap() : CvkHeap(nullptr, 0, 16) {}

    void* Alloc(uint32_t size) override { return AllocAlign(size, 0, nullptr, 0); }
    void* Alloc(uint32_t size, const char* fileName, int line) override
    {
        return AllocAlign(size, 0, fileName, line);
    }
    void* AllocAlign(uint32_t size, uint32_t alignment) override { return AllocAlign(size, alignment, nullptr, 0); }
    void* AllocAlign(uint32_t size, uint32_t alignment, const char* fileName, int line) override
    {
        (void)alignment;
        (void)line;
        if (refuse > 0 || (refuseAfter >= 0 && refuseAfter-- == 0)) {
            refuseAfter = -1;
            return nullptr;
        }
        void* p = nullptr;
        if (posix_memalign(&p, 16, size != 0 ? size : 1) != 0) {
            return nullptr;
        }
        const std::string tag = fileName != nullptr ? fileName : "";
        blocks[p] = tag;
        ++live[tag];
        ++allocations;
        largest = size > largest ? size : largest;
        return p;
    }
    void Free(void* pointer) override { Free(pointer, nullptr, 0); }
    void Free(void* pointer, const char*, int) override
    {
        auto it = blocks.find(pointer);
        if (it == blocks.end()) {
            ADD_FAILURE() << "free of a pointer this heap did not give out";
            return;
        }
        --live[it->second];
        blocks.erase(it);
        std::free(pointer);
    }

    int LiveBlocks() const { return static_cast<int>(blocks.size()); }
    int Live(const std::string& tag) const
    {
        auto it = live.find(tag);
        return it != live.end() ? it->second : 0;
    }

    int refuse = 0;       // > 0: every allocation fails
    int refuseAfter = -1; // >= 0: that many more allocations succeed, the next one fails
    int allocations = 0;
    uint32_t largest = 0; // the largest block given out

private:
    std::map<void*, std::string> blocks;
    std::map<std::string, int> live;
};

// Installs separate counting heaps in the system, main and buffer slots.
class KitHeapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CvkHeapSetSystem(&systemHeap);
        CvkHeapSetMain(&mainHeap);
        CvkHeapSetBuffer(&bufferHeap);
    }
    void TearDown() override
    {
        EXPECT_EQ(systemHeap.LiveBlocks(), 0) << "system heap blocks leaked";
        EXPECT_EQ(mainHeap.LiveBlocks(), 0) << "main heap blocks leaked";
        EXPECT_EQ(bufferHeap.LiveBlocks(), 0) << "buffer heap blocks leaked";
        CvkHeapSetSystem(nullptr);
        CvkHeapSetMain(nullptr);
        CvkHeapSetBuffer(nullptr);
    }

    CountingTestHeap systemHeap;
    CountingTestHeap mainHeap;
    CountingTestHeap bufferHeap;
};
