#include "kit/CvVariant.h"
#include "kit/tests/CountingTestHeap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

using CvVariantTest = KitHeapTest;

CvVariant Fixed(int32_t v)
{
    CvVariant x;
    x.SetFx32(v);
    return x;
}

TEST_F(CvVariantTest, ConversionTable)
{
    const struct {
        const char* name;
        CvVariant v;
        int32_t s32;
        uint32_t u32;
        float f32;
        int32_t fx32;
    } rows[] = {
        {"SINT -3", CvVariant(int32_t{-3}), -3, 0xFFFFFFFDu, -3.0f, -3 * 4096},
        {"UINT 3e9", CvVariant(uint32_t{3000000000u}), -1294967296, 3000000000u, 3e9f, static_cast<int32_t>(3000000000u << 12)},
        {"FLOAT 2.75", CvVariant(2.75f), 2, 2u, 2.75f, 11264},
        {"FLOAT -2.75", CvVariant(-2.75f), -2, 0xFFFFFFFEu, -2.75f, -11264},
        {"FLOAT 1/8192", CvVariant(1.0f / 8192), 0, 0u, 1.0f / 8192, 1},      // 0.5 rounds away from zero
        {"FLOAT -1/8192", CvVariant(-1.0f / 8192), 0, 0u, -1.0f / 8192, -1},
        {"FLOAT 5e9", CvVariant(5e9f), INT32_MIN, 705032704u, 5e9f, INT32_MIN}, // low 32 bits through 64
        {"STRING 0x10", CvVariant("0x10"), 0, 16u, 16.0f, 65536}, // atof reads C99 hexadecimal
        {"STRING 1.5", CvVariant("1.5"), 1, 1u, 1.5f, 6144},
        {"STRING -7", CvVariant("-7"), -7, 0xFFFFFFF9u, -7.0f, -28672},
        {"STRING 010", CvVariant("010"), 10, 8u, 10.0f, 40960},
        {"BUF 12", CvVariant("twelve bytes", 12), 12, 12u, 0.0f, 0},
        {"FIXED -1", Fixed(-1), -1, 0xFFFFFFFFu, -1.0f / 4096, -1},
        {"FIXED 1.5", Fixed(6144), 1, 1u, 1.5f, 6144},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.v.GetS32(), r.s32) << r.name;
        EXPECT_EQ(r.v.GetU32(), r.u32) << r.name;
        EXPECT_EQ(r.v.GetF32(), r.f32) << r.name;
        EXPECT_EQ(r.v.GetFx32(), r.fx32) << r.name;
    }
    const CvVariant nan(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(nan.GetS32(), INT32_MIN);
    EXPECT_EQ(nan.GetU32(), 0u);
}

TEST_F(CvVariantTest, TextForms)
{
    CvVariant v(int32_t{-5});
    EXPECT_STREQ(v.GetString(), "-5");
    v.SetU32(4000000000u);
    EXPECT_STREQ(v.GetString(), "4000000000");
    v.SetF32(1.25f);
    EXPECT_STREQ(v.GetString(), "1.250000");
    v.SetFx32(-6144);
    EXPECT_STREQ(v.GetString(), "-1.500000");
    EXPECT_EQ(std::string(v.GetCvString().GetBuffer()), "-1.500000");
    EXPECT_EQ(v.GetStrLength(), 0);
    v.SetBuffer("abcdefghijkl", 12);
    EXPECT_STREQ(v.GetString(), "12");
    v.SetString("text");
    EXPECT_STREQ(v.GetString(), "text");
    EXPECT_EQ(v.GetStrLength(), 4);
    v.SetString("abcdef", 3);
    EXPECT_STREQ(v.GetString(), "abc");
}

TEST_F(CvVariantTest, SetParsesTextOfAKind)
{
    CvVariant v;
    v.Set("1.5", CVK_VARIANT_TYPE_FIXED);
    EXPECT_EQ(v.GetFx32(), 6144);
    v.Set("-1.5", CVK_VARIANT_TYPE_FIXED);
    EXPECT_EQ(v.GetFx32(), -6144);
    v.Set("", CVK_VARIANT_TYPE_FIXED);
    EXPECT_EQ(v.GetFx32(), -6144); // an empty text leaves the value word
    v.Set("0x20", CVK_VARIANT_TYPE_UINT);
    EXPECT_EQ(v.GetU32(), 32u);
    v.Set("-20", CVK_VARIANT_TYPE_SINT);
    EXPECT_EQ(v.GetS32(), -20);
    v.Set("2.5", CVK_VARIANT_TYPE_FLOAT);
    EXPECT_EQ(v.GetF32(), 2.5f);
    v.Set("99999999999", CVK_VARIANT_TYPE_SINT);
    EXPECT_EQ(v.GetS32(), INT32_MAX);
    v.Set("99999999999", CVK_VARIANT_TYPE_UINT);
    EXPECT_EQ(v.GetU32(), 0xFFFFFFFFu);

    CvVariant buf("hi", CVK_VARIANT_TYPE_BUF);
    ASSERT_EQ(buf.GetBufferSize(), 3u); // the text and its terminator
    EXPECT_EQ(std::memcmp(buf.GetBuffer(), "hi", 3), 0);
    EXPECT_EQ(mainHeap.Live("cvk_variant"), 1);
    buf.Set("12", CVK_VARIANT_TYPE_SINT);
    EXPECT_EQ(buf.GetBuffer(), nullptr);
    EXPECT_EQ(mainHeap.Live("cvk_variant"), 0);

    CvVariant s("keep", CVK_VARIANT_TYPE_STRING);
    EXPECT_EQ(s.GetType(), CVK_VARIANT_TYPE_STRING);
    EXPECT_STREQ(s.GetString(), "keep");
}

TEST_F(CvVariantTest, SetFromVariantAndFlags)
{
    CvVariant fixed;
    fixed.Set(&static_cast<const CvVariant&>(Fixed(-6144)));
    EXPECT_EQ(fixed.GetType(), CVK_VARIANT_TYPE_FIXED);
    EXPECT_EQ(fixed.GetFx32(), -6144);

    CvVariant copy;
    const CvVariant buf("xyz", 3);
    copy.Set(&buf);
    ASSERT_EQ(copy.GetBufferSize(), 3u);
    EXPECT_NE(copy.GetBuffer(), buf.GetBuffer());
    EXPECT_EQ(std::memcmp(copy.GetBuffer(), "xyz", 3), 0);
    copy.Set(&copy); // from itself
    EXPECT_EQ(std::memcmp(copy.GetBuffer(), "xyz", 3), 0);
    copy.Set(nullptr);
    EXPECT_EQ(copy.GetBufferSize(), 3u);

    CvVariant text;
    const CvVariant source("words");
    text.Set(&source);
    EXPECT_STREQ(text.GetString(), "words");

    CvVariant flags(int32_t{0x35});
    flags.SetFlag(0xFFFFFFF0u, 3);
    EXPECT_EQ(flags.GetType(), CVK_VARIANT_TYPE_UINT);
    EXPECT_EQ(flags.GetU32(), 0x33u);
    EXPECT_NE(flags.CheckFlag(0), 0u);
    EXPECT_EQ(flags.CheckFlag(2), 0u);
    EXPECT_EQ(flags.CheckFlag(4), 0x10u);
    EXPECT_EQ(flags.CheckFlag(36), 0x10u); // the bit number wraps at 32
    EXPECT_EQ(CvVariant(5.9f).CheckFlag(2), 4u);
    EXPECT_EQ(CvVariant("6").CheckFlag(1), 2u);
    EXPECT_EQ(CvVariant("abcd", 4).CheckFlag(2), 0u);
}

TEST_F(CvVariantTest, Equality)
{
    EXPECT_NE(CvVariant(1.0f), CvVariant(int32_t{1}));
    const float nanValue = std::numeric_limits<float>::quiet_NaN();
    EXPECT_NE(CvVariant(nanValue), CvVariant(nanValue));
    EXPECT_EQ(CvVariant(0.0f), CvVariant(-0.0f));
    EXPECT_EQ(CvVariant(uint32_t{7}), CvVariant(uint32_t{7}));
    EXPECT_NE(CvVariant(uint32_t{7}), CvVariant(int32_t{7}));
    EXPECT_EQ(CvVariant("ab"), CvVariant(CvString("ab")));
    EXPECT_NE(CvVariant("ab"), CvVariant("abc"));
    EXPECT_EQ(CvVariant("abc", 3), CvVariant("abc", 3));
    EXPECT_NE(CvVariant("abc", 3), CvVariant("abd", 3));
    EXPECT_NE(CvVariant("abc", 3), CvVariant("abc", 2));
    EXPECT_EQ(Fixed(10), Fixed(10));
    EXPECT_FALSE(Fixed(10) != Fixed(10));
}

TEST_F(CvVariantTest, CopiesOwnTheirBuffers)
{
    CvVariant a("abcd", 4);
    CvVariant b(a);
    ASSERT_NE(b.GetBuffer(), nullptr);
    EXPECT_NE(b.GetBuffer(), a.GetBuffer());
    EXPECT_EQ(b, a);
    CvVariant c(int32_t{1});
    c = a;
    EXPECT_EQ(c, a);
    EXPECT_EQ(mainHeap.Live("cvk_variant"), 3);
    c = CvVariant(int32_t{2}); // a source without buffer frees ours
    EXPECT_EQ(c.GetBuffer(), nullptr);
    c = c;
    EXPECT_EQ(c.GetS32(), 2);
    b.SetS32(9);
    EXPECT_EQ(b.GetBuffer(), nullptr);
    EXPECT_EQ(mainHeap.Live("cvk_variant"), 1);

    // Without memory the buffer stays null and the size is kept.
    mainHeap.refuse = 1;
    CvVariant d("abcd", 4);
    mainHeap.refuse = 0;
    EXPECT_EQ(d.GetBuffer(), nullptr);
    EXPECT_EQ(d.GetBufferSize(), 4u);
    CvVariant e(d);
    EXPECT_EQ(e.GetBuffer(), nullptr);
    EXPECT_EQ(e.GetBufferSize(), 4u);
}

TEST_F(CvVariantTest, TypeNamesAndUnknownKinds)
{
    const char* names[] = {"SINT", "UINT", "FLOAT", "STRING", "BUF", "FIXED"};
    for (int32_t i = 0; i < 6; ++i) {
        EXPECT_STREQ(CvkGetVariantTypeString(i), names[i]);
        EXPECT_EQ(CvkGetVariantTypeNum(names[i]), i);
    }
    EXPECT_EQ(CvkGetVariantTypeString(6), nullptr);
    EXPECT_EQ(CvkGetVariantTypeString(-1), nullptr);
    EXPECT_EQ(CvkGetVariantTypeNum("sint"), -1);
    EXPECT_EQ(CvkGetVariantTypeNum("SINT "), -1);
    EXPECT_EQ(CvkGetVariantTypeNum(nullptr), -1);
    const CvVariant f(1.0f);
    EXPECT_STREQ(CvkGetVariantTypeString(&f), "FLOAT");
    EXPECT_EQ(CvkGetVariantTypeString(static_cast<const CvVariant*>(nullptr)), nullptr);

    CvVariant unknown;
    unknown.Set("42", static_cast<CVK_VARIANT_TYPE>(7));
    EXPECT_EQ(unknown.GetS32(), 0);
    EXPECT_EQ(unknown.GetU32(), 0u);
    EXPECT_EQ(unknown.GetF32(), 0.0f);
    EXPECT_EQ(unknown.GetFx32(), 0);
    EXPECT_STREQ(unknown.GetString(), "42");
    EXPECT_EQ(CvkGetVariantTypeString(&unknown), nullptr);
}

} // namespace
