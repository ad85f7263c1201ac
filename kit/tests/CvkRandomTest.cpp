// Tests of the random generator and the random table.

#include "kit/CvkRandom.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

namespace {
// The generator's step written out independently.
uint32_t ReferenceNext(uint64_t& x) {
    uint32_t low = static_cast<uint32_t>(x);
    low ^= 0xAC897965u << (low & 3);
    x = (x & 0xFFFFFFFF00000000ull) | low;
    uint64_t a = x ^ (x << 1), b = x ^ (x >> 1);
    x = x ^ (b >> 2) ^ (a << 2);
    return static_cast<uint32_t>(x);
}
}  // namespace

TEST(CvkRandom, SeedReproducesTheSequence) {
    uint64_t x = 12345;
    CvkSetRandomSeed(12345);
    std::vector<uint32_t> first;
    for (int i = 0; i < 1000; ++i) {
        uint32_t v = CvkRandomI(999);
        ASSERT_EQ(v, (ReferenceNext(x) & 0x7FFFFFFF) % 1000) << i;
        first.push_back(v);
    }
    EXPECT_EQ(CvkSetRandomSeed(12345), static_cast<uint32_t>(x));
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(CvkRandomI(999), first[i]);
    EXPECT_EQ(CvkGetRandomSeed(), static_cast<uint32_t>(x));
}

TEST(CvkRandom, RangesAndEdges) {
    CvkSetRandomSeed(7);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(CvkRandomI(0), 0u);
    uint32_t seed = CvkGetRandomSeed();
    EXPECT_EQ(CvkRandomRangeI(5, 5), 5u);
    EXPECT_EQ(CvkRandomRangeS32(-3, -3), -3);
    EXPECT_EQ(CvkGetRandomSeed(), seed);  // equal bounds draw nothing
    for (int i = 0; i < 1000; ++i) {
        float f = CvkRandom(2.0f);
        EXPECT_GE(f, 0.0f);
        EXPECT_LE(f, 2.0f);
        uint32_t r = CvkRandomRangeI(10, 20);
        EXPECT_GE(r, 10u);
        EXPECT_LE(r, 20u);
        int32_t s = CvkRandomRangeS32(5, -5);
        EXPECT_GE(s, 5);
        EXPECT_LE(s, 15);
    }
    CvkSetConstRandom(99);
    EXPECT_EQ(CvkGetRandomMode(), 1u);
    EXPECT_EQ(CvkGetRandomSeed(), 99u);
    CvkResetConstRandom();
    EXPECT_EQ(CvkGetRandomMode(), 0u);
}

TEST(CvkRandom, Table) {
    std::set<uint32_t> values;
    for (uint32_t i = 0; i < 256; ++i) values.insert(CvkTableRandomI(i));
    EXPECT_EQ(values.size(), 256u);
    EXPECT_EQ(CvkTableRandomI(0u), 6u);
    EXPECT_EQ(CvkTableRandomI(15u), 73u);
    EXPECT_EQ(CvkTableRandomI(255u), 32u);
    EXPECT_EQ(CvkTableRandomI(), 128u);  // the cursor advances first
    EXPECT_EQ(CvkTableRandomI(), 80u);
    EXPECT_FLOAT_EQ(CvkTableRandom(1u), 128 * 0.003921569f);
    EXPECT_FLOAT_EQ(CvkTableRandom(), 128 * 0.003921569f);
    EXPECT_FLOAT_EQ(CvkTableRandomRange(211u, 1.0f, 3.0f), 3.0f);  // table[211] = 255
    EXPECT_EQ(CvkTableRandomRangeI(1u, 10, 10), 10);
    EXPECT_EQ(CvkTableRandomRangeI(1u, 0, 9), 8);  // 128 mod 10
}
