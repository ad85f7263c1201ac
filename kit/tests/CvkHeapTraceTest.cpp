// Tests of the area heap, checked against a plain linear model of its rules.

#include "kit/CvkHeapTrace.h"
#include "kit/CvkLog.h"
#include "kit/CvkRandom.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

const uint32_t HDR = 72;

// Straightforward model: blocks in address order (offset -> block), a free
// list walked linearly in size order (new entries before equal sizes).
class LinearModel {
public:
    LinearModel(uintptr_t base, uint32_t size, uint32_t align) : m_base(base), m_size(size), m_align(align) {
        uint32_t pad = static_cast<uint32_t>((align - (base + 120) % align) % align);
        uint32_t first = 48 + pad;
        m_blocks[first] = {size - HDR - first, false};
        m_free.push_back(first);
    }

    // Data offset of the new block, or 0.
    uint32_t Alloc(uint32_t size, uint32_t align) {
        if (!align) align = m_align;
        for (auto it = m_free.begin(); it != m_free.end(); ++it) {
            Block& b = m_blocks[*it];
            if (b.size < size) continue;
            uintptr_t start = m_base + *it + HDR, end = start + b.size;
            uintptr_t data = (end - size) / align * align;
            if (data < start) continue;
            uint32_t off = *it;
            if (data > start + 2 * HDR) {
                m_free.erase(it);
                uint32_t used = static_cast<uint32_t>(data - m_base) - HDR;
                m_blocks[used] = {static_cast<uint32_t>(end - data), true};
                b.size = used - (off + HDR);
                insertFree(off);
                use(used);
                return used + HDR;
            }
            if (start % align) continue;
            m_free.erase(it);
            b.used = true;
            use(off);
            return off + HDR;
        }
        return 0;
    }

    void Free(uint32_t data) {
        uint32_t off = data - HDR;
        auto it = m_blocks.find(off);
        m_useSize -= it->second.size + HDR;
        it->second.used = false;
        auto next = std::next(it);
        if (next != m_blocks.end() && !next->second.used) {
            m_free.remove(next->first);
            it->second.size += HDR + next->second.size;
            m_blocks.erase(next);
        }
        if (it != m_blocks.begin()) {
            auto prev = std::prev(it);
            if (!prev->second.used) {
                m_free.remove(prev->first);
                prev->second.size += HDR + it->second.size;
                m_blocks.erase(it);
                it = prev;
            }
        }
        insertFree(it->first);
    }

    CvkHeapStatus Status() const {
        CvkHeapStatus s;
        s.areaSize = m_size;
        for (auto& [off, b] : m_blocks) {
            ++s.blockCount;
            if (b.used) {
                s.usedSize += b.size, s.usedSizeHeader += b.size + HDR, ++s.usedCount;
                s.usedMaxSize = std::max(s.usedMaxSize, b.size);
            } else {
                s.freeSize += b.size, s.freeSizeHeader += b.size + HDR, ++s.freeCount;
                s.freeMaxSize = std::max(s.freeMaxSize, b.size);
            }
        }
        s.counter = s.blockCount;
        return s;
    }

    std::vector<uint32_t> FreeList() const { return {m_free.begin(), m_free.end()}; }
    uint32_t useSize = 0;
    uint32_t m_useSize = 0, m_maxUse = 0;

private:
    struct Block {
        uint32_t size;
        bool used;
    };
    void insertFree(uint32_t off) {
        uint32_t size = m_blocks[off].size;
        auto it = m_free.begin();
        while (it != m_free.end() && m_blocks[*it].size < size) ++it;
        m_free.insert(it, off);
    }
    void use(uint32_t off) {
        m_useSize += m_blocks[off].size + HDR;
        m_maxUse = std::max(m_maxUse, m_useSize);
    }
    uintptr_t m_base;
    uint32_t m_size, m_align;
    std::map<uint32_t, Block> m_blocks;
    std::list<uint32_t> m_free;
};

bool SameStatus(const CvkHeapStatus& a, const CvkHeapStatus& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Free list of the heap read from the area: head at +20, next link at +16.
std::vector<uint32_t> FreeListOf(const uint8_t* area) {
    std::vector<uint32_t> list;
    uint32_t off;
    std::memcpy(&off, area + 20, 4);
    while (off && list.size() < 1000000) {
        list.push_back(off);
        std::memcpy(&off, area + off + 16, 4);
    }
    return list;
}

struct LogCapture {
    LogCapture() { CvkLogSetSink([](const char* t, void* c) { *static_cast<std::string*>(c) += t; }, &text); }
    ~LogCapture() { CvkLogSetSink(nullptr); }
    std::string text;
};

}  // namespace

TEST(CvkHeapTrace, RandomSequencesMatchTheLinearModel) {
    for (uint32_t align : {4u, 16u, 32u}) {
        std::vector<uint8_t> area(1 << 20);
        CvkHeapTrace heap(area.data() + 3, static_cast<uint32_t>(area.size() - 3), align);
        LinearModel model(reinterpret_cast<uintptr_t>(area.data() + 3), static_cast<uint32_t>(area.size() - 3), align);
        std::mt19937 rng(1234 + align);
        std::vector<uint32_t> live;
        uint8_t* base = static_cast<uint8_t*>(heap.GetTopAddress());
        for (int i = 0; i < 20000; ++i) {
            bool alloc = live.empty() || rng() % 100 < 55;
            if (alloc) {
                uint32_t size = rng() % 4 == 0 ? 64 : rng() % 3000;  // many equal sizes
                uint32_t a = rng() % 10 == 0 ? 64 : 0;
                void* p = heap.AllocAlign(size, a);
                uint32_t expected = model.Alloc(size, a);
                ASSERT_EQ(p ? static_cast<uint32_t>(static_cast<uint8_t*>(p) - base) : 0u, expected) << i;
                if (p) live.push_back(expected);
            } else {
                size_t k = rng() % live.size();
                heap.Free(base + live[k]);
                model.Free(live[k]);
                live[k] = live.back();
                live.pop_back();
            }
            if (i % 997 == 0) {
                CvkHeapStatus s;
                ASSERT_EQ(heap.GetStatus(&s), 1u);
                ASSERT_TRUE(SameStatus(s, model.Status())) << i;
                ASSERT_EQ(FreeListOf(base), model.FreeList()) << i;
                ASSERT_EQ(heap.GetUseSize(), model.m_useSize);
                ASSERT_EQ(heap.GetMaxUseSize(), model.m_maxUse);
            }
        }
        for (uint32_t off : live) heap.Free(base + off), model.Free(off);
        CvkHeapStatus s;
        heap.GetStatus(&s);
        EXPECT_TRUE(SameStatus(s, model.Status()));
        EXPECT_EQ(s.freeCount, 1u);
        EXPECT_EQ(s.usedCount, 0u);
        EXPECT_EQ(heap.GetUseSize(), 0u);
    }
}

TEST(CvkHeapTrace, FreshAreaAndTooSmallArea) {
    alignas(16) static uint8_t area[65536];
    CvkHeapTrace heap(area, sizeof area, 8);
    CvkHeapStatus s;
    ASSERT_EQ(heap.GetStatus(&s), 1u);
    EXPECT_EQ(std::memcmp(area, "IZHL", 4), 0);
    EXPECT_EQ(s.areaSize, 65536u);
    EXPECT_EQ(s.blockCount, 1u);
    EXPECT_EQ(s.freeCount, 1u);
    EXPECT_EQ(s.usedCount, 0u);
    // area + 120 is 8-aligned: no pad, one block at +48.
    EXPECT_EQ(s.freeSize, 65536u - 120u);
    EXPECT_EQ(heap.GetTopAddress(), area);

    LogCapture log;
    CvkHeapTrace small(area, 120, 16);
    EXPECT_EQ(log.text, "[CVK]Too small heap area.\n");
    EXPECT_EQ(small.GetTopAddress(), nullptr);
    EXPECT_EQ(small.Alloc(1), nullptr);
}

TEST(CvkHeapTrace, SplitOrWholeBlock) {
    alignas(16) static uint8_t area[4096];
    CvkHeapTrace heap(area, sizeof area, 8);
    uint32_t whole = 4096 - 120;
    // At most 72 spare bytes: the whole block is taken and keeps its size.
    void* p = heap.Alloc(whole - 72);
    ASSERT_EQ(p, area + 120);
    EXPECT_EQ(heap.GetBlockSize(p, nullptr, 0), whole);
    heap.Free(p);
    // More spare room: the block comes from the top, the rest stays free.
    p = heap.Alloc(100);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    EXPECT_GE(area + 4096 - static_cast<uint8_t*>(p), 100);
    EXPECT_LT(area + 4096 - static_cast<uint8_t*>(p), 108);
    EXPECT_EQ(heap.GetUseSize(), heap.GetBlockSize(p, nullptr, 0) + 72);
}

TEST(CvkHeapTrace, NeighboursFreedInEitherOrderMerge) {
    for (bool lowFirst : {true, false}) {
        alignas(16) static uint8_t area[8192];
        CvkHeapTrace heap(area, sizeof area, 8);
        void* keep = heap.Alloc(256);  // top of the area
        void* high = heap.Alloc(256);
        void* low = heap.Alloc(256);
        uint32_t sizes = heap.GetBlockSize(high, nullptr, 0) + heap.GetBlockSize(low, nullptr, 0);
        heap.Free(lowFirst ? low : high);
        heap.Free(lowFirst ? high : low);
        CvkHeapStatus s;
        heap.GetStatus(&s);
        // Both merge with the free bottom block into one.
        EXPECT_EQ(s.freeCount, 1u);
        EXPECT_EQ(s.usedCount, 1u);
        EXPECT_EQ(s.freeSize, 8192u - 120u - 72u - heap.GetBlockSize(keep, nullptr, 0));
        EXPECT_GT(s.freeSize, sizes + 72);
        EXPECT_EQ(heap.GetUseSize(), heap.GetBlockSize(keep, nullptr, 0) + 72);
    }
}

TEST(CvkHeapTrace, IllegalFreesChangeNothing) {
    alignas(16) static uint8_t area[8192];
    CvkHeapTrace heap(area, sizeof area, 16);
    void* a = heap.Alloc(100);
    void* b = heap.Alloc(100);
    heap.Free(a);
    CvkHeapStatus before;
    heap.GetStatus(&before);
    uint32_t use = heap.GetUseSize();
    int foreign = 0;
    std::vector<uint8_t> fake(200, 0);
    std::memcpy(fake.data() + 20, "CVK\x80", 4);  // a used tag, but not a block of the heap
    struct Case {
        void* pointer;
        const char* log;
    } cases[] = {
        {a, "[CVK]Illegal Free call.\nfile.cpp(7):\n"},  // double free
        {&foreign, "[CVK]Illegal heap block.\nfile.cpp(7):\n[CVK]Illegal Free call.\nfile.cpp(7):\n"},
        {static_cast<uint8_t*>(b) + 8, "[CVK]Illegal heap block.\nfile.cpp(7):\n[CVK]Illegal Free call.\nfile.cpp(7):\n"},
        {area + 130, "[CVK]Illegal heap block.\nfile.cpp(7):\n[CVK]Illegal Free call.\nfile.cpp(7):\n"},
        {fake.data() + 92, "[CVK]Illegal heap block.\nfile.cpp(7):\n[CVK]Illegal Free call.\nfile.cpp(7):\n"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        heap.Free(c.pointer, "file.cpp", 7);
        EXPECT_EQ(log.text, c.log);
        CvkHeapStatus after;
        heap.GetStatus(&after);
        EXPECT_TRUE(SameStatus(before, after));
        EXPECT_EQ(heap.GetUseSize(), use);
    }
    heap.Free(b);
    CvkHeapStatus s;
    heap.GetStatus(&s);
    EXPECT_EQ(s.usedCount, 0u);
    EXPECT_EQ(s.freeCount, 1u);
}

TEST(CvkHeapTrace, CorruptedMagicIsRefused) {
    alignas(16) static uint8_t area[4096];
    CvkHeapTrace heap(area, sizeof area, 16);
    void* p = heap.Alloc(10);
    area[0] = 'X';
    LogCapture log;
    EXPECT_EQ(heap.Alloc(10, "f.cpp", 3), nullptr);
    EXPECT_EQ(log.text,
              "[CVK]This Address is not Heap Area(Illegal Heap Area).\n[Cvk]Heap Allocation fail.\nf.cpp(3):\n");
    log.text.clear();
    EXPECT_EQ(heap.GetSize(), 0u);
    EXPECT_EQ(heap.GetAlign(), 0u);
    heap.Free(p);
    CvkHeapStatus s;
    EXPECT_EQ(heap.GetStatus(&s), 0u);
    EXPECT_NE(log.text.find("not Heap Area"), std::string::npos);
    area[0] = 'I';
    EXPECT_EQ(heap.GetSize(), 4096u);
    EXPECT_EQ(heap.GetAlign(), 16u);
}

TEST(CvkHeapTrace, AllocationFailureAndUseInfo) {
    alignas(16) static uint8_t area[4096];
    CvkHeapTrace heap(area, sizeof area, 16);
    LogCapture log;
    EXPECT_EQ(heap.Alloc(5000, "big.cpp", 12), nullptr);
    EXPECT_EQ(log.text, "[Cvk]Heap Allocation fail.\nbig.cpp(12):\n");
    log.text.clear();
    void* p = heap.Alloc(40, "x.cpp", 99);
    EXPECT_EQ(heap.GetFileLine(p, nullptr, 0), 99u);
    EXPECT_EQ(heap.GetFileName(p, nullptr, 0), nullptr);
    heap.LogUseInfo();
    char expected[128];
    std::snprintf(expected, sizeof expected, "Addr=0x%08" PRIxPTR ", Size=%d, Align=16\n",
                  reinterpret_cast<uintptr_t>(p), static_cast<int>(heap.GetBlockSize(p, nullptr, 0)));
    EXPECT_EQ(log.text, expected);
}

TEST(CvkHeapTrace, FillPatterns) {
    alignas(16) static uint8_t area[4096];
    CvkHeapTrace heap(area, sizeof area, 16);
    heap.SetFillMode(CVK_HEAP_FILL_ALLOC | CVK_HEAP_FILL_FREE);
    heap.SetFillPattern(0xA5, 0);
    uint8_t* p = static_cast<uint8_t*>(heap.Alloc(32));
    for (int i = 0; i < 32; ++i) ASSERT_EQ(p[i], 0xA5);
    heap.SetFillPattern(0xFF, 0x0F);
    heap.Free(p);
    for (int i = 0; i < 32; ++i) ASSERT_EQ(p[i] & 0xF0, 0xF0);
}
