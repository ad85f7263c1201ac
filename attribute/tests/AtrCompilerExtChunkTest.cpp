// The type description builder: entries, lists, validity and the "EXT0"
// words in both byte orders.
#include "attribute/AtrCompilerExtChunk.h"
#include "kit/CvkEndian.h"
#include "kit/tests/KitHeapSlots.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class ExtChunkTest : public ::testing::Test {
protected:
    void SetUp() override { CvkEndianSetTarget(0); }
    void TearDown() override { CvkEndianSetTarget(0); }
    static uint32_t Word(const uint8_t* p)
    {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    KitSimpleHeap heap;
};

TEST_F(ExtChunkTest, StructureOfTwoSignedFieldsGivesFourEntries)
{
    AtrCompilerExtChunk ext;
    ASSERT_EQ(ext.InitChunk(4), 1);
    EXPECT_EQ(ext.AddTypeStructBegin("Anything"), 1);
    EXPECT_EQ(ext.AddTypeS32(), 1);
    EXPECT_EQ(ext.AddTypeS32(), 1);
    EXPECT_EQ(ext.AddTypeStructEnd(), 1);
    EXPECT_EQ(ext.CheckValid(), 1);
    ASSERT_EQ(ext.GetEntryCount(), 4u);
    EXPECT_EQ(ext.GetEntry(0), 0x2000u);
    EXPECT_EQ(ext.GetEntry(1), 0x0000u);
    EXPECT_EQ(ext.GetEntry(3), 0x4000u);
    EXPECT_EQ(ext.GetMaxDepth(), 1u);
    EXPECT_EQ(ext.CalcDataSize(4, 0, 0, 0), 84u);
}

TEST_F(ExtChunkTest, NamedStructuresHaveTheirOwnCodes)
{
    EXPECT_EQ(AtrCompilerExtChunk::GetStructCode("GlimmetPack"), 0x2001u);
    EXPECT_EQ(AtrCompilerExtChunk::GetStructCode("MomMatrixParam"), 0x2015u);
    EXPECT_EQ(AtrCompilerExtChunk::GetStructCode("GlimmetResource"), 0x3002u);
    EXPECT_EQ(AtrCompilerExtChunk::GetStructCode("glimmetpack"), 0x2000u);
    EXPECT_EQ(AtrCompilerExtChunk::GetStructCode(nullptr), 0x2000u);
}

TEST_F(ExtChunkTest, RefusesWhatDoesNotFit)
{
    AtrCompilerExtChunk ext;
    ASSERT_EQ(ext.InitChunk(2), 1);
    EXPECT_EQ(ext.AddTypeStructEnd(), 0) << "no structure open";
    EXPECT_EQ(ext.GetEntryCount(), 0u);
    EXPECT_EQ(ext.AddTypeStr(-1), 0);
    EXPECT_EQ(ext.AddTypeMem(-1), 0);
    EXPECT_EQ(ext.AddTypeU8(), 1);
    EXPECT_EQ(ext.AddTypeU16(), 1);
    EXPECT_EQ(ext.AddTypeF32(), 0) << "table full";
    EXPECT_EQ(ext.CheckValid(), 0) << "three added for a table of two";
    EXPECT_EQ(ext.SetTypePtrIndex(3), 0) << "no pointer entry";
    EXPECT_EQ(ext.IncrementPtrWriteIndex(), 0);
}

TEST_F(ExtChunkTest, PointerTargetsAreSetInOrderAndDefaultToMinusOne)
{
    AtrCompilerExtChunk ext;
    ASSERT_EQ(ext.InitChunk(3), 1);
    ext.AddTypePtr();
    ext.AddTypePtr();
    ext.AddTypePtr();
    EXPECT_EQ(ext.SetTypePtrIndex(7), 1);
    EXPECT_EQ(ext.IncrementPtrWriteIndex(), 1);
    EXPECT_EQ(ext.SetTypePtrIndex(2), 1);
    EXPECT_EQ(ext.SetTypePtrIndex(9), 0);
    EXPECT_EQ(ext.GetPtrTarget(0), 7);
    EXPECT_EQ(ext.GetPtrTarget(1), -1);
    EXPECT_EQ(ext.GetPtrTarget(2), 2);
    EXPECT_EQ(ext.CheckValid(), 1);
}

// Writes a description with one entry of each list and returns the chunk.
std::vector<uint8_t> WriteSample(AtrCompilerExtChunk& ext)
{
    ext.InitChunk(6);
    ext.AddTypeStructBegin("CvVector");
    ext.AddTypeU32();
    ext.AddTypeStr(0);
    ext.AddTypeMem(0);
    ext.AddTypePtr();
    ext.AddTypeStructEnd();
    ext.SetTypePtrIndex(0);
    const uint32_t size = ext.CalcDataSize(6, 1, 1, 0);
    std::vector<uint8_t> chunk(32 + size, 0xEE);
    CvChunk* c = reinterpret_cast<CvChunk*>(chunk.data());
    c->SetSize(size);
    uint8_t* p = ext.WriteExtChunkHead(c, 6, 64, 96, 1, 128, 1, 160, 0, 192);
    p = ext.WriteParamTypes(p, 6);
    const uint32_t lengths[2] = {CvkSwapTarget32(5), CvkSwapTarget32(32)};
    std::memcpy(p, lengths, 8);
    p = ext.WritePtrIndex(p + 8);
    EXPECT_EQ(p, chunk.data() + chunk.size());
    return chunk;
}

TEST_F(ExtChunkTest, ChunkWordsInWriterOrder)
{
    AtrCompilerExtChunk ext;
    const std::vector<uint8_t> c = WriteSample(ext);
    ASSERT_EQ(c.size(), 32u + 68 + 4 * (6 + 3 + 2));
    EXPECT_EQ(std::memcmp(c.data(), "EXT0", 4), 0);
    EXPECT_EQ(Word(&c[8]), 32u);
    const uint32_t expected[] = {0, 0, 6, 1, 1, 1, 0, 1, 64, 96, 1, 1, 1, 0, 128, 160, 192,
                                 0x200D, 0x0100, 0x1001, 0x1002, 0x1000, 0x4000, 5, 32, 0, 0, 0};
    for (size_t i = 0; i < sizeof expected / 4; ++i) EXPECT_EQ(Word(&c[32 + 4 * i]), expected[i]) << "word " << i;
}

TEST_F(ExtChunkTest, SwappedTargetReversesDataWordsButNotTheHeader)
{
    CvkEndianSetTarget(1);
    AtrCompilerExtChunk ext;
    const std::vector<uint8_t> c = WriteSample(ext);
    EXPECT_EQ(std::memcmp(c.data(), "EXT0", 4), 0);
    EXPECT_EQ(Word(&c[8]), 32u) << "header stays in the writer's order";
    const uint8_t mark[4] = {0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(&c[36], mark, 4), 0) << "byte-order mark reads 1 big-endian";
    const uint8_t u32Entry[4] = {0x00, 0x00, 0x01, 0x00};
    EXPECT_EQ(std::memcmp(&c[100 + 4], u32Entry, 4), 0);
    EXPECT_EQ(Word(&c[64]), CvkSwap32(64));
}

// Entries collected in the caller's storage, higher in the same buffer than
// their place (overlapping it), are moved there, in the target's byte order.
TEST_F(ExtChunkTest, EntriesInCallerStorageMoveDownIntoPlace)
{
    for (int target : {0, 1}) {
        CvkEndianSetTarget(target);
        std::vector<uint32_t> buffer(16, 0xEEEEEEEEu);
        AtrCompilerExtChunk ext;
        ASSERT_EQ(ext.InitChunk(6, buffer.data() + 2), 1);
        EXPECT_EQ(ext.AddTypeStructBegin("CvVector"), 1);
        EXPECT_EQ(ext.AddTypeU32(), 1);
        EXPECT_EQ(ext.AddTypeStr(0), 1);
        EXPECT_EQ(ext.AddTypeMem(0), 1);
        EXPECT_EQ(ext.AddTypePtr(), 1);
        EXPECT_EQ(ext.AddTypeStructEnd(), 1);
        EXPECT_EQ(ext.CheckValid(), 1);
        uint8_t* at = reinterpret_cast<uint8_t*>(buffer.data());
        EXPECT_EQ(ext.WriteParamTypes(at, 6), at + 24);
        const uint32_t expected[] = {0x200D, 0x0100, 0x1001, 0x1002, 0x1000, 0x4000};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(buffer[size_t(i)], CvkSwapTarget32(expected[i])) << "target " << target << " entry " << i;
        EXPECT_EQ(buffer[8], 0xEEEEEEEEu) << "nothing written beyond the storage";
        ext.ExitChunk(); // the caller's storage is not freed
    }
}

} // namespace
