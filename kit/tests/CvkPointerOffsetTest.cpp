#include "kit/CvkPointerOffset.h"

#include "kit/tests/CvChunkTestImage.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstring>
#include <vector>

namespace {

// Memory whose addresses fit 32-bit words: the only kind that can be mapped
// on a 64-bit build (MAP_32BIT places it in the low 2 GiB).
class LowMemory {
public:
    explicit LowMemory(size_t n) : m_size(n)
    {
        int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#if defined(__x86_64__)
        flags |= MAP_32BIT;
#endif
        void* p = mmap(nullptr, n, PROT_READ | PROT_WRITE, flags, -1, 0);
        m_data = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
    }
    ~LowMemory()
    {
        if (m_data) munmap(m_data, m_size);
    }
    uint8_t* data() const { return m_data; }

private:
    uint8_t* m_data;
    size_t m_size;
};

uint32_t WordAt(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void SetWord(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

uint32_t Addr32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// [ATRB: 64 data bytes with pointer words at 40 and 48][POF0][EOFC], the
// table written by hand: distances 10 and 2 words.
CvChunkTestImage SmallImage()
{
    CvChunkTestImage img;
    std::vector<uint8_t> data(64, 0);
    SetWord(data.data() + 40 - 32, 0x100);
    SetWord(data.data() + 48 - 32, 0x24);
    img.Add(CVK_CHUNK_TAG_ATRB, data);
    img.Add(CVK_CHUNK_TAG_POF0, {8, 0, 0, 0, 0x4A, 0x42, 0, 0});
    img.AddEnd();
    return img;
}

} // namespace

// Mapping adds the chunk start to each listed word, a second mapping changes
// nothing, and clearing restores the image byte for byte; all three table
// sources (the POF0 behind, an explicit table, the bounded form) agree.
TEST(CvkPointerOffset, MapTwiceThenClearRestoresTheImage)
{
    const CvChunkTestImage img = SmallImage();
    const size_t n = img.bytes.size();
    LowMemory mem(n);
    ASSERT_NE(mem.data(), nullptr);
    uint8_t* image = mem.data();
    CvChunk* chunk = reinterpret_cast<CvChunk*>(image);
    const uint8_t* table = image + 96 + 32;
    const uint32_t start = Addr32(image);

    for (int form = 0; form < 3; ++form) {
        std::memcpy(image, img.bytes.data(), n);
        auto map = [&] {
            return form == 0   ? CvkPointerOffsetMapping(chunk, nullptr)
                   : form == 1 ? CvkPointerOffsetMapping(chunk, table)
                               : CvkPointerOffsetMapping(chunk, nullptr, image, n);
        };
        auto clear = [&] {
            return form == 0   ? CvkPointerOffsetClear(chunk, nullptr)
                   : form == 1 ? CvkPointerOffsetClear(chunk, table)
                               : CvkPointerOffsetClear(chunk, nullptr, image, n);
        };
        EXPECT_EQ(clear(), 1) << form; // already clear
        EXPECT_EQ(0, std::memcmp(image, img.bytes.data(), n));
        ASSERT_EQ(map(), 1) << form;
        EXPECT_EQ(chunk->mapFlags, CVK_CHUNK_MAP_MAPPED);
        EXPECT_EQ(WordAt(image + 40), start + 0x100);
        EXPECT_EQ(WordAt(image + 48), start + 0x24);
        EXPECT_EQ(WordAt(image + 44), 0u);
        const std::vector<uint8_t> mapped(image, image + n);
        EXPECT_EQ(map(), 1) << form;
        EXPECT_EQ(0, std::memcmp(image, mapped.data(), n)) << form;
        ASSERT_EQ(clear(), 1) << form;
        EXPECT_EQ(0, std::memcmp(image, img.bytes.data(), n)) << form;
    }
}

TEST(CvkPointerOffset, MissingTableOrChunk)
{
    CvChunkTestImage img;
    img.Add(CVK_CHUNK_TAG_ATRB, std::vector<uint8_t>(16, 0));
    img.AddEnd();
    const std::vector<uint8_t> before = img.bytes;
    EXPECT_EQ(CvkPointerOffsetMapping(img.At(0), nullptr), 0);
    EXPECT_EQ(CvkPointerOffsetMapping(img.At(0), nullptr, img.bytes.data(), img.bytes.size()), 0);
    EXPECT_EQ(img.bytes, before);
    EXPECT_EQ(CvkPointerOffsetMapping(nullptr, nullptr), 0);
    EXPECT_EQ(CvkPointerOffsetClear(nullptr, nullptr), 0);
    EXPECT_EQ(CvkPointerOffsetMapping(nullptr, nullptr, img.bytes.data(), img.bytes.size()), 0);
}

#if defined(__x86_64__)
// An address beyond 32 bits cannot be written into a word: the call fails
// and leaves the image, flag included, exactly as it was.
TEST(CvkPointerOffset, UnfitAddressesLeaveTheImageUntouched)
{
    CvChunkTestImage heap = SmallImage(); // heap memory, far above 4 GiB here
    if (reinterpret_cast<uintptr_t>(heap.bytes.data()) <= UINT32_MAX) GTEST_SKIP() << "heap lies low";
    const std::vector<uint8_t> before = heap.bytes;
    EXPECT_EQ(CvkPointerOffsetMapping(heap.At(0), nullptr), 0);
    EXPECT_EQ(CvkPointerOffsetMapping(heap.At(0), nullptr, heap.bytes.data(), heap.bytes.size()), 0);
    EXPECT_EQ(heap.bytes, before);
    heap.At(0)->mapFlags = CVK_CHUNK_MAP_MAPPED;
    const std::vector<uint8_t> flagged = heap.bytes;
    EXPECT_EQ(CvkPointerOffsetClear(heap.At(0), nullptr), 0);
    EXPECT_EQ(heap.bytes, flagged);

    // Low memory, but one word's target would pass 4 GiB: nothing is written,
    // not even the word before it.
    const CvChunkTestImage img = SmallImage();
    LowMemory mem(img.bytes.size());
    ASSERT_NE(mem.data(), nullptr);
    std::memcpy(mem.data(), img.bytes.data(), img.bytes.size());
    SetWord(mem.data() + 48, 0xFFFFFFF0u);
    const std::vector<uint8_t> low(mem.data(), mem.data() + img.bytes.size());
    EXPECT_EQ(CvkPointerOffsetMapping(reinterpret_cast<CvChunk*>(mem.data()), nullptr), 0);
    EXPECT_EQ(0, std::memcmp(mem.data(), low.data(), low.size()));
    // Clearing a word that holds an address below the chunk fails likewise.
    SetWord(mem.data() + 48, 4);
    reinterpret_cast<CvChunk*>(mem.data())->mapFlags = CVK_CHUNK_MAP_MAPPED;
    const std::vector<uint8_t> low2(mem.data(), mem.data() + img.bytes.size());
    EXPECT_EQ(CvkPointerOffsetClear(reinterpret_cast<CvChunk*>(mem.data()), nullptr), 0);
    EXPECT_EQ(0, std::memcmp(mem.data(), low2.data(), low2.size()));
}
#else
// A 32-bit build adds and subtracts with the word's wrap-around.
TEST(CvkPointerOffset, WordsWrapOn32BitBuilds)
{
    CvChunkTestImage img = SmallImage();
    SetWord(img.bytes.data() + 48, 0xFFFFFFF0u);
    const std::vector<uint8_t> before = img.bytes;
    ASSERT_EQ(CvkPointerOffsetMapping(img.At(0), nullptr), 1);
    EXPECT_EQ(WordAt(img.bytes.data() + 48), 0xFFFFFFF0u + Addr32(img.bytes.data()));
    ASSERT_EQ(CvkPointerOffsetClear(img.At(0), nullptr), 1);
    EXPECT_EQ(img.bytes, before);
}
#endif

// Corrupt tables in the bounded form: every case fails with the image
// untouched, and no read or write leaves the image (exact heap copies).
TEST(CvkPointerOffset, BoundedMappingRejectsCorruptTables)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> table; // the POF0 chunk's data
        int expected;
    };
    const Case cases[] = {
        {"entry past the chunk's end", {8, 0, 0, 0, 0x4A, 0x58, 0, 0}, 0},  // 40 + 0x18*4 = 136
        {"entry on the last whole word", {8, 0, 0, 0, 0x4A, 0x55, 0, 0}, 1}, // 40 + 21*4 = 124
        {"entry inside the fixed header", {8, 0, 0, 0, 0x41, 0, 0, 0}, 0},
        {"4-byte distance far away", {8, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
        {"size word beyond the chunk", {0xFF, 0xFF, 0, 0, 0x4A, 0x42, 0x8F, 0xFF}, 0},
        {"entry cut off by the size word", {7, 0, 0, 0, 0x4A, 0x42, 0x80, 0}, 1},
        {"table shorter than its size word", {4, 0, 0}, 0},
    };
    for (const Case& k : cases) {
        CvChunkTestImage img;
        img.Add(CVK_CHUNK_TAG_ATRB, std::vector<uint8_t>(96, 0)); // chunk bytes 0..127
        img.Add(CVK_CHUNK_TAG_POF0, k.table);
        img.AddEnd();
        const size_t n = img.bytes.size();
        LowMemory mem(n);
        ASSERT_NE(mem.data(), nullptr);
        std::memcpy(mem.data(), img.bytes.data(), n);
        EXPECT_EQ(CvkPointerOffsetMapping(reinterpret_cast<CvChunk*>(mem.data()), nullptr, mem.data(), n),
                  k.expected)
            << k.what;
        if (!k.expected) {
            EXPECT_EQ(0, std::memcmp(mem.data(), img.bytes.data(), n)) << k.what;
        }
    }

    // The POF0 chunk itself cut off by the image's end.
    const CvChunkTestImage img = SmallImage();
    const size_t cut = 96 + 32 + 4;
    auto copy = ExactCopy(img.bytes, cut);
    EXPECT_EQ(CvkPointerOffsetMapping(reinterpret_cast<CvChunk*>(copy.get()), nullptr, copy.get(), cut), 0);
    EXPECT_EQ(0, std::memcmp(copy.get(), img.bytes.data(), cut));
    // An explicit table outside the image is refused.
    const uint8_t outside[8] = {8, 0, 0, 0, 0x4A, 0, 0, 0};
    EXPECT_EQ(CvkPointerOffsetMapping(reinterpret_cast<CvChunk*>(copy.get()), outside, copy.get(), cut), 0);
}

#include "kit/CvkHeapSimple.h"

namespace {

class CvkPofControlTest : public ::testing::Test {
protected:
    void SetUp() override { CvkHeapSetMain(&m_heap); CvkHeapSetSystem(&m_heap); }
    void TearDown() override { CvkHeapSetMain(nullptr); CvkHeapSetSystem(nullptr); }
    CvkHeapSimple m_heap{nullptr, 0, 16};
};

} // namespace

// Pointers at 40, 48 and 70000 (attached out of order) give the entries
// 0x4A; 0x42; 0xC0 0x00 0x44 0x50 and a table of 12 bytes.
TEST_F(CvkPofControlTest, TableBytesForPointersAt40And48And70000)
{
    std::vector<uint8_t> chunk(70004, 0);
    CvkPofControl pof(chunk.data());
    EXPECT_EQ(pof.Attach(chunk.data() + 70000), 1);
    EXPECT_EQ(pof.Attach(chunk.data() + 40), 1);
    EXPECT_EQ(pof.Attach(chunk.data() + 48), 1);
    EXPECT_EQ(pof.Attach(chunk.data() + 48), 0); // recorded once
    EXPECT_EQ(pof.GetCount(), 3u);
    ASSERT_EQ(pof.Build(), 1);
    EXPECT_EQ(pof.GetTableSize(), 12u);
    EXPECT_EQ(pof.GetChunkSize(), 44u);
    std::vector<uint8_t> out(44, 0xEE);
    ASSERT_EQ(pof.WriteChunk(out.data()), 1);
    const uint8_t table[12] = {12, 0, 0, 0, 0x4A, 0x42, 0xC0, 0x00, 0x44, 0x50, 0, 0};
    EXPECT_EQ(0, std::memcmp(out.data() + 32, table, 12));
    const CvChunk* h = reinterpret_cast<const CvChunk*>(out.data());
    EXPECT_EQ(h->GetTag(), CVK_CHUNK_TAG_POF0);
    EXPECT_EQ(h->GetSize(), 12u);
    EXPECT_EQ(h->GetHeadSize(), 32u);
}

TEST_F(CvkPofControlTest, AttachRulesAndSizeClasses)
{
    std::vector<uint8_t> chunk(70000, 0);
    uint8_t* c = chunk.data();
    CvkPofControl pof(c);
    EXPECT_EQ(pof.Write(c), 0); // no entry yet
    EXPECT_EQ(pof.Attach(static_cast<const void*>(nullptr)), 0);
    EXPECT_EQ(pof.Attach(c + 2), 0); // off the word grid
    EXPECT_EQ(pof.Attach(c - 4), 0); // before the chunk
    EXPECT_EQ(pof.Attach(8u), 1);    // word 0: nothing recorded
    EXPECT_EQ(pof.GetCount(), 0u);
    const uint32_t start = Addr32(c);
    SetWord(c + 252, start + 0x30); // absolute: made relative once
    EXPECT_EQ(pof.Attach(252u), 1);
    EXPECT_EQ(WordAt(c + 252), 0x30u);
    EXPECT_EQ(pof.Attach(252u), 0);
    EXPECT_EQ(WordAt(c + 252), 0x30u);
    // Distances 63 (1 byte), 64 (2 bytes), 16383 (2 bytes), 16384 (4 bytes).
    EXPECT_EQ(pof.Attach(c + 252 + 64 * 4), 1);
    EXPECT_EQ(pof.Attach(c + 252 + 64 * 4 + 16383 * 4), 1);
    EXPECT_EQ(pof.Attach(c + 252 + 64 * 4 + 16383 * 4 + 16384 * 4), 1);
    ASSERT_EQ(pof.Build(), 1);
    std::vector<uint8_t> out(pof.GetTableSize());
    ASSERT_EQ(pof.Write(out.data()), 1);
    const std::vector<uint8_t> expected = {16, 0, 0, 0, 0x40 | 63, 0x80, 64, 0xBF, 0xFF, 0xC0, 0, 0x40, 0, 0, 0, 0};
    EXPECT_EQ(out, expected);

    CvkPofControl none(nullptr);
    EXPECT_NE(none.CheckError(), 0u);
    EXPECT_EQ(none.Attach(c), 0);
}

// Thousands of pointers (several blocks of entries), attached from the last
// word down with every word attached twice, give one entry a word in
// address order: the first at distance 1, then 1 word each. Repeats are
// refused whichever order the pointers come in.
TEST_F(CvkPofControlTest, ManyPointersInReverseOrder)
{
    const uint32_t n = 5000;
    std::vector<uint8_t> chunk(4 * (n + 1), 0);
    CvkPofControl pof(chunk.data());
    for (uint32_t i = n; i >= 1; --i) {
        ASSERT_EQ(pof.Attach(chunk.data() + 4 * i), 1) << i;
        ASSERT_EQ(pof.Attach(chunk.data() + 4 * i), 0) << i;
    }
    EXPECT_EQ(pof.GetCount(), n);
    // In address order first, then repeats of earlier ones: still refused.
    CvkPofControl ordered(chunk.data());
    for (uint32_t i = 1; i <= n; ++i) ASSERT_EQ(ordered.Attach(chunk.data() + 4 * i), 1) << i;
    for (uint32_t i = 1; i <= n; i += 7) ASSERT_EQ(ordered.Attach(chunk.data() + 4 * i), 0) << i;
    EXPECT_EQ(ordered.GetCount(), n);
    ASSERT_EQ(pof.Build(), 1);
    const uint32_t tableSize = (4 + n + 3) & ~3u;
    ASSERT_EQ(pof.GetTableSize(), tableSize);
    std::vector<uint8_t> out(tableSize, 0xEE);
    ASSERT_EQ(pof.Write(out.data()), 1);
    EXPECT_EQ(WordAt(out.data()), tableSize);
    for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(out[4 + i], 0x41) << i;
    for (uint32_t i = 4 + n; i < tableSize; ++i) EXPECT_EQ(out[i], 0) << i;
}

// The table written word by word stays inside the room it was given: a word
// whose entry would pass it is refused, and so is every later one.
TEST_F(CvkPofControlTest, StreamedTableStaysInItsRoom)
{
    const uint32_t offsets[] = {40, 48};
    std::vector<uint8_t> expected(8);
    ASSERT_EQ(CvkPointerOffsetWriteTable(offsets, 2, expected.data()), 8u);
    std::vector<uint8_t> out(12, 0xEE);
    CvkPointerOffsetStream fits(out.data(), 8);
    EXPECT_TRUE(fits.Add(40) && fits.Add(48));
    EXPECT_EQ(fits.Finish(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 8), expected);
    EXPECT_EQ(out[8], 0xEE);

    CvkPointerOffsetStream tight(out.data(), 7);
    EXPECT_TRUE(tight.Add(40) && tight.Add(48));
    EXPECT_FALSE(tight.Add(70000)) << "a 4-byte entry behind 6 bytes";
    EXPECT_FALSE(tight.Add(70004));
    EXPECT_EQ(tight.Finish(), 0u);
}

// The table from offsets known in order: the same bytes as the collector's
// for the same words, and a refusal of offsets off the word grid or out of
// order.
TEST_F(CvkPofControlTest, TableFromOrderedOffsets)
{
    const struct
    {
        std::vector<uint32_t> offsets;
        uint32_t size; // 0: refused
    } cases[] = {
        {{}, 4},
        {{40, 48, 70000}, 12},
        {{252, 252 + 64 * 4, 252 + 64 * 4 + 16383 * 4, 252 + 64 * 4 + 16383 * 4 + 16384 * 4}, 16},
        {{0, 4, 8}, 8},
        {{40, 42}, 0},
        {{48, 40}, 0},
        {{40, 40}, 0},
    };
    for (const auto& c : cases) {
        const uint32_t* offsets = c.offsets.data();
        const uint32_t count = uint32_t(c.offsets.size());
        EXPECT_EQ(CvkPointerOffsetTableSize(offsets, count), c.size) << count;
        std::vector<uint8_t> out(c.size + 4, 0xEE);
        EXPECT_EQ(CvkPointerOffsetWriteTable(offsets, count, out.data()), c.size) << count;
        if (c.size == 0) continue;
        EXPECT_EQ(WordAt(out.data()), c.size);
        EXPECT_EQ(out[c.size], 0xEE) << "wrote past the table";
        if (count == 0) continue;
        std::vector<uint8_t> chunk(c.offsets.back() + 4, 0);
        CvkPofControl pof(chunk.data());
        for (uint32_t at : c.offsets) ASSERT_EQ(pof.Attach(chunk.data() + at), 1);
        std::vector<uint8_t> expected(pof.GetTableSize());
        ASSERT_EQ(pof.Write(expected.data()), 1);
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + c.size), expected);
    }
}
