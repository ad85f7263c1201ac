#include "kit/CvkEndian.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

uint32_t Bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

float FromBits(uint32_t b)
{
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

// Restores the process-wide target after each test.
class CvkEndian : public ::testing::Test {
protected:
    void TearDown() override { CvkEndianSetTarget(0); }
};

} // namespace

TEST_F(CvkEndian, SwapsValues)
{
    EXPECT_EQ(CvkSwap16(0x1122), 0x2211);
    EXPECT_EQ(CvkSwap32(0x11223344u), 0x44332211u);
    EXPECT_EQ(CvkSwap64(0x1122334455667788ull), 0x8877665544332211ull);
    uint32_t w = 0xA1B2C3D4u;
    CvkSwapDirect32(w);
    EXPECT_EQ(w, 0xD4C3B2A1u);
    float f = 1.0f; // 0x3F800000
    const float r = CvkSwapF32(f);
    EXPECT_EQ(Bits(f), 0x0000803Fu);
    EXPECT_EQ(Bits(r), 0x0000803Fu);
}

// A float whose swapped bits form a signalling NaN keeps every bit in place
// (the i386 float return would quiet it).
TEST_F(CvkEndian, FloatSwapInPlaceKeepsSignallingNanBits)
{
    float f = FromBits(0x0100807Fu); // swaps to 0x7F800001, a signalling NaN
    CvkSwapF32(f);
    EXPECT_EQ(Bits(f), 0x7F800001u);
    CvkEndianSetTarget(1);
    CvkSwapTargetF32(f);
    EXPECT_EQ(Bits(f), 0x0100807Fu);
}

TEST_F(CvkEndian, SwapsArraysAtAnyAlignment)
{
    uint8_t buf[1 + 16];
    for (int i = 0; i < 17; ++i) buf[i] = uint8_t(i);
    uint8_t* p = buf + 1; // deliberately misaligned
    CvkSwapArray16(p, 2);
    const uint8_t s16[] = {2, 1, 4, 3, 5, 6};
    EXPECT_EQ(0, std::memcmp(p, s16, sizeof s16));
    CvkSwapArray16(p, 2);
    CvkSwapArray32(p, 2);
    const uint8_t s32[] = {4, 3, 2, 1, 8, 7, 6, 5, 9};
    EXPECT_EQ(0, std::memcmp(p, s32, sizeof s32));
    CvkSwapArray32(p, 2);
    CvkSwapArrayBE64(p, 2);
    const uint8_t s64[] = {8, 7, 6, 5, 4, 3, 2, 1, 16, 15, 14, 13, 12, 11, 10, 9};
    EXPECT_EQ(0, std::memcmp(p, s64, sizeof s64));
    EXPECT_EQ(buf[0], 0); // nothing before the array is touched
    CvkSwapArray32(nullptr, 0);
}

TEST_F(CvkEndian, TargetSwapFollowsTheSetting)
{
    EXPECT_EQ(CvkEndianGetTarget(), 0);
    EXPECT_EQ(CvkSwapTarget32(0x11223344u), 0x11223344u);
    EXPECT_EQ(CvkSwapTarget16(0x1122), 0x1122);
    EXPECT_EQ(CvkSwapTarget64(0x1122334455667788ull), 0x1122334455667788ull);
    float f = 2.0f;
    CvkSwapTargetF32(f);
    EXPECT_EQ(f, 2.0f);

    CvkEndianSetTarget(1);
    EXPECT_EQ(CvkEndianGetTarget(), 1);
    EXPECT_EQ(CvkSwapTarget32(0x11223344u), 0x44332211u);
    EXPECT_EQ(CvkSwapTarget16(0x1122), 0x2211);
    EXPECT_EQ(CvkSwapTarget64(0x1122334455667788ull), 0x8877665544332211ull);
    CvkSwapTargetF32(f);
    EXPECT_EQ(Bits(f), 0x00000040u);
}
