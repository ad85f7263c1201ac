#include "kit/CvkCodec.h"

#include "kit/CvChunk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

namespace {

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 37 + (i >> 3));
    return v;
}

std::vector<uint8_t> IdentityTables()
{
    std::vector<uint8_t> t(768);
    for (int i = 0; i < 768; ++i) t[i] = uint8_t(i);
    return t;
}

} // namespace

TEST(CvkCodec, BuiltInTablesArePermutationsWithTheirInverses)
{
    const unsigned char* enc = cvkCodecGetTables(0);
    const unsigned char* dec = cvkCodecGetTables(1);
    for (int k = 0; k < 3; ++k) {
        bool seen[256] = {};
        for (int x = 0; x < 256; ++x) {
            seen[enc[k * 256 + x]] = true;
            EXPECT_EQ(dec[k * 256 + enc[k * 256 + x]], x) << "table " << k;
        }
        for (int x = 0; x < 256; ++x) EXPECT_TRUE(seen[x]) << "table " << k << " misses " << x;
    }
    // The three tables differ from each other and from the identity.
    EXPECT_NE(0, std::memcmp(enc, enc + 256, 256));
    EXPECT_NE(0, std::memcmp(enc + 256, enc + 512, 256));
    EXPECT_NE(enc[1], 1);
}

// The chaining step, seen through identity tables: each byte adds the
// already changed byte before it, its index (mod 256) and the key.
TEST(CvkCodec, ChainArithmetic)
{
    const std::vector<uint8_t> id = IdentityTables();
    std::vector<uint8_t> d = {1, 2, 3};
    ASSERT_EQ(cvkCodecEncode(5, d.data(), d.size(), id.data()), 1);
    EXPECT_EQ(d, (std::vector<uint8_t>{1, 2 + 2 + 5, 3 + (9 + 2) + 5}));

    // Past index 255 the index wraps: with zeros and key 0, d[i] = d[i-1] + i (mod 256).
    std::vector<uint8_t> z(300, 0);
    cvkCodecEncode(0, z.data(), z.size(), id.data());
    uint8_t expect = 0;
    for (size_t i = 1; i < z.size(); ++i) {
        expect = uint8_t(expect + i);
        ASSERT_EQ(z[i], expect) << i;
    }
}

TEST(CvkCodec, RoundTripsForKeysSizesAndTables)
{
    // A custom set whose inverse is itself: x -> 255 - x.
    std::vector<uint8_t> mirror(768);
    for (int i = 0; i < 768; ++i) mirror[i] = uint8_t(255 - (i & 0xFF));
    for (size_t n : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(4), size_t(257), size_t(4099)})
        for (unsigned key : {0u, 1u, 127u, 254u}) {
            const std::vector<uint8_t> orig = Pattern(n);
            std::vector<uint8_t> d = orig;
            ASSERT_EQ(cvkCodecEncode(key, d.data(), n, nullptr), 1);
            if (n > 8) {
                EXPECT_NE(d, orig);
            }
            ASSERT_EQ(cvkCodecDecode(key, d.data(), n, nullptr), 1);
            EXPECT_EQ(d, orig) << "n=" << n << " key=" << key;
            cvkCodecEncode(key, d.data(), n, mirror.data());
            cvkCodecDecode(key, d.data(), n, mirror.data());
            EXPECT_EQ(d, orig) << "mirror n=" << n << " key=" << key;
        }
    EXPECT_EQ(cvkCodecEncode(1, nullptr, 4, nullptr), 0);
    EXPECT_EQ(cvkCodecDecode(1, nullptr, 4, nullptr), 0);
}

// A 1-byte buffer is only substituted (the key plays no part), and a known
// vector pins the built-in tables: stored images depend on them.
TEST(CvkCodec, OneByteAndKnownVector)
{
    const unsigned char* enc = cvkCodecGetTables(0);
    for (unsigned key : {0u, 9u, 200u}) {
        uint8_t b = 0x42;
        cvkCodecEncode(key, &b, 1, nullptr);
        EXPECT_EQ(b, enc[0x42]);
    }
    uint8_t text[] = {'L', 'u', 'm', 'i', 'v', 'o', 'r'};
    cvkCodecEncode(7, text, sizeof text, nullptr);
    const uint8_t expected[] = {0x7E, 0x04, 0xD8, 0xCA, 0xD9, 0x6F, 0xB4};
    EXPECT_EQ(0, std::memcmp(text, expected, sizeof text));
}

TEST(CvkCodec, ChunkFlagAndKey)
{
    uint8_t raw[32 + 16];
    CvChunk* c = reinterpret_cast<CvChunk*>(raw);
    c->Clear();
    c->SetTag(CVK_CHUNK_TAG_ATRB);
    c->SetSize(16);
    for (int i = 0; i < 16; ++i) raw[32 + i] = uint8_t(i);
    uint8_t orig[sizeof raw];
    std::memcpy(orig, raw, sizeof raw);

    EXPECT_EQ(cvkCodecEncodeChunk(c, 255, nullptr), 0); // keys stop at 254
    EXPECT_EQ(0, std::memcmp(raw, orig, sizeof raw));
    ASSERT_EQ(cvkCodecEncodeChunk(c, 33, nullptr), 1);
    EXPECT_EQ(c->GetCode(), 33u);
    EXPECT_EQ(c->codecFlags & CVK_CHUNK_CODEC_SCRAMBLED, CVK_CHUNK_CODEC_SCRAMBLED);
    EXPECT_NE(0, std::memcmp(raw + 32, orig + 32, 16));
    EXPECT_EQ(cvkCodecEncodeChunk(c, 33, nullptr), 0); // never scrambled twice

    ASSERT_EQ(cvkCodecDecodeChunk(c, nullptr), 1);
    EXPECT_EQ(c->codecFlags, 0u);
    EXPECT_EQ(0, std::memcmp(raw + 32, orig + 32, 16));
    EXPECT_EQ(cvkCodecDecodeChunk(c, nullptr), 1); // not scrambled: left alone
    EXPECT_EQ(0, std::memcmp(raw + 32, orig + 32, 16));
    EXPECT_EQ(cvkCodecDecodeChunk(nullptr, nullptr), 0);
}
