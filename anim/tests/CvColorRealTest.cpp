#include "anim/CvColorReal.h"

#include "kit/CvkRandom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(CvColorReal, PackingRoundTrip)
{
    CvColorReal c;
    c.SetColor(0x80FF0000u);
    EXPECT_EQ(c.GetR(), 1.0f);
    EXPECT_EQ(c.GetG(), 0.0f);
    EXPECT_EQ(c.GetB(), 0.0f);
    EXPECT_FLOAT_EQ(c.GetA(), 0.5019608f);
    EXPECT_EQ(c.GetColor(), 0x80FF0000u);

    // Every byte value survives the trip in every channel.
    for (uint32_t v = 0; v < 256; ++v) {
        const uint32_t argb = v << 24 | (255 - v) << 16 | (v ^ 0x5A) << 8 | ((v * 7) & 0xFF);
        c.SetColor(argb);
        ASSERT_EQ(c.GetColor(), argb) << std::hex << argb;
    }

    // Out-of-range channels wrap to their low 8 bits (1.5 * 255 = 382);
    // negative ones truncate toward zero first; NaN and huge values give 0.
    c.SetRGBA(1.5f, -0.002f, std::numeric_limits<float>::quiet_NaN(), 1e20f);
    EXPECT_EQ(c.GetR(), 1.5f); // stored unclamped
    EXPECT_EQ(c.GetColor(), 0x007E0000u);
    c.SetRGBA(0.0f, 0.0f, 0.0f, -1.0f);
    EXPECT_EQ(c.GetColor(), 0x01000000u); // -255 & 0xFF
}

TEST(CvColorReal, ArithmeticClamps)
{
    CvColorReal c;
    c.SetRGBA(0.5f, 0.25f, 0.0f, 1.0f);
    c.Add(0.75f);
    EXPECT_EQ(c.GetR(), 1.0f);
    EXPECT_EQ(c.GetG(), 1.0f);
    EXPECT_EQ(c.GetB(), 0.75f);
    EXPECT_EQ(c.GetA(), 1.0f);
    c.Sub(2.0f);
    EXPECT_EQ(c.GetR(), 0.0f);
    EXPECT_EQ(c.GetA(), 0.0f);

    c.SetRGBA(0.2f, 0.4f, 0.6f, 0.8f);
    c.Mul(2.0f);
    EXPECT_FLOAT_EQ(c.GetR(), 0.4f);
    EXPECT_EQ(c.GetB(), 1.0f);
    c.Div(4.0f);
    EXPECT_FLOAT_EQ(c.GetR(), 0.1f);
    EXPECT_EQ(c.GetB(), 0.25f);
    // 0 / 0 is NaN before clamping: it lands on 0, not NaN.
    c.SetRGBA(0.0f, 0.5f, 0.5f, 0.5f);
    c.Div(0.0f);
    EXPECT_EQ(c.GetR(), 0.0f);
    EXPECT_EQ(c.GetG(), 1.0f);

    c.SetR(1.5f);
    EXPECT_EQ(c.GetR(), 1.5f);
    c.AddR(0.0f);
    EXPECT_EQ(c.GetR(), 1.0f);

    // Single-channel forms touch only their channel.
    struct Case {
        void (CvColorReal::*op)(float);
        float arg;
        float r, g, b, a;
    } cases[] = {
        {&CvColorReal::AddR, 0.25f, 0.75f, 0.5f, 0.5f, 0.5f}, {&CvColorReal::AddG, 0.75f, 0.5f, 1.0f, 0.5f, 0.5f},
        {&CvColorReal::AddB, -1.0f, 0.5f, 0.5f, 0.0f, 0.5f},  {&CvColorReal::AddA, 0.1f, 0.5f, 0.5f, 0.5f, 0.6f},
        {&CvColorReal::SubR, 0.25f, 0.25f, 0.5f, 0.5f, 0.5f}, {&CvColorReal::SubG, 1.0f, 0.5f, 0.0f, 0.5f, 0.5f},
        {&CvColorReal::SubB, -1.0f, 0.5f, 0.5f, 1.0f, 0.5f},  {&CvColorReal::SubA, 0.5f, 0.5f, 0.5f, 0.5f, 0.0f},
        {&CvColorReal::MulR, 3.0f, 1.0f, 0.5f, 0.5f, 0.5f},   {&CvColorReal::MulG, 0.5f, 0.5f, 0.25f, 0.5f, 0.5f},
        {&CvColorReal::MulB, -1.0f, 0.5f, 0.5f, 0.0f, 0.5f},  {&CvColorReal::MulA, 1.5f, 0.5f, 0.5f, 0.5f, 0.75f},
        {&CvColorReal::DivR, 2.0f, 0.25f, 0.5f, 0.5f, 0.5f},  {&CvColorReal::DivG, 0.25f, 0.5f, 1.0f, 0.5f, 0.5f},
        {&CvColorReal::DivB, -2.0f, 0.5f, 0.5f, 0.0f, 0.5f},  {&CvColorReal::DivA, 4.0f, 0.5f, 0.5f, 0.5f, 0.125f},
    };
    for (const Case& k : cases) {
        CvColorReal d;
        d.SetRGBA(0.5f, 0.5f, 0.5f, 0.5f);
        (d.*k.op)(k.arg);
        EXPECT_FLOAT_EQ(d.GetR(), k.r);
        EXPECT_FLOAT_EQ(d.GetG(), k.g);
        EXPECT_FLOAT_EQ(d.GetB(), k.b);
        EXPECT_FLOAT_EQ(d.GetA(), k.a);
    }

    // Product with a packed colour's channels.
    c.SetRGBA(1.0f, 0.5f, 1.0f, 1.0f);
    c.Mul(0x80FF0000u);
    EXPECT_EQ(c.GetR(), 1.0f);
    EXPECT_EQ(c.GetG(), 0.0f);
    EXPECT_EQ(c.GetB(), 0.0f);
    EXPECT_FLOAT_EQ(c.GetA(), 0.5019608f);
}

TEST(CvColorReal, BlendTable)
{
    const uint32_t a = 0x80FF8040u, b = 0x40201090u;
    struct Case {
        int mode;
        uint32_t x, y, expect;
    } cases[] = {
        {0, a, b, b},
        {1, a, a, 0xFFFFFF80u},
        {1, a, b, 0xC0FF90D0u},
        {2, a, b, 0x40DF7000u},
        {3, a, b, 0x608F4868u},
        {4, a, a, 0x40FF4010u},
        {4, a, b, 0x20200824u},
        {5, a, b, a},
        {6, a, b, 0x40FF8040u},
        {7, a, b, 0x80201090u},
        {8, a, b, 0xFFFFFFFFu},
        {-1, a, b, 0xFFFFFFFFu},
    };
    for (const Case& k : cases)
        EXPECT_EQ(CvkGetBlendColor(k.x, k.y, k.mode), k.expect) << "mode " << k.mode;
}

TEST(CvColorReal, BetweenColor)
{
    EXPECT_EQ(CvkGetBetweenColor(0xFF000000u, 0xFF0000FFu, 0.5f), 0xFF00007Fu);
    EXPECT_EQ(CvkGetBetweenColor(0x10203040u, 0x10203040u, 0.3f), 0x10203040u);
    EXPECT_EQ(CvkGetBetweenColor(0x10203040u, 0xF0E0D0C0u, 0.0f), 0x10203040u);
    EXPECT_EQ(CvkGetBetweenColor(0x10203040u, 0xF0E0D0C0u, 1.0f), 0xF0E0D0C0u);
    // 0.25 of the way: 0x10 + 0x38 = 0x48, 0x20 + 0x30 = 0x50, ...
    EXPECT_EQ(CvkGetBetweenColor(0x10203040u, 0xF0E0D0C0u, 0.25f), 0x48505860u);
}

TEST(CvColorReal, RandomColorFromSeed)
{
    // Equal colours: nothing is drawn.
    CvkSetRandomSeed(12345);
    EXPECT_EQ(CvkGetRandomColor(0x11223344u, 0x11223344u), 0x11223344u);
    EXPECT_EQ(CvkGetRandomSeed(), 12345u);

    // Channels are drawn red, green, blue, alpha, each between the smaller
    // and the larger bound; alpha is equal here and draws nothing.
    const uint32_t a = 0x7F10F040u, b = 0x7F20E080u;
    CvkSetRandomSeed(777);
    const uint32_t r = CvkRandomRangeI(0x10, 0x20);
    const uint32_t g = CvkRandomRangeI(0xE0, 0xF0);
    const uint32_t bl = CvkRandomRangeI(0x40, 0x80);
    const uint32_t after = CvkGetRandomSeed();
    CvkSetRandomSeed(777);
    const uint32_t c = CvkGetRandomColor(a, b);
    EXPECT_EQ(c, 0x7F000000u | r << 16 | g << 8 | bl);
    EXPECT_EQ(CvkGetRandomSeed(), after);
    CvkSetRandomSeed(777);
    EXPECT_EQ(CvkGetRandomColor(b, a), c); // bound order does not matter

    // Bounds hold, both included, over many draws.
    CvkSetRandomSeed(1);
    bool lowSeen = false, highSeen = false;
    for (int k = 0; k < 2000; ++k) {
        const uint32_t v = CvkGetRandomColor(0x00000010u, 0xFF000012u);
        const uint32_t blue = v & 0xFF, alpha = v >> 24;
        ASSERT_GE(blue, 0x10u);
        ASSERT_LE(blue, 0x12u);
        ASSERT_EQ(v & 0x00FFFF00u, 0u);
        lowSeen |= alpha == 0;
        highSeen |= alpha == 0xFF;
    }
    EXPECT_TRUE(lowSeen);
    EXPECT_TRUE(highSeen);
}

TEST(CvColorReal, SinColor)
{
    const uint32_t a = 0x00204060u, b = 0xFF40A0E1u;
    // sin 0: the channel-wise midpoint, truncated (0xE1 + 0x60 = 0x141 -> 0xA0).
    EXPECT_EQ(CvkGetSinColor(a, b, 0), 0x7F3070A0u);
    // A quarter turn reaches b, three quarters a.
    EXPECT_EQ(CvkGetSinColor(a, b, 16384), b);
    EXPECT_EQ(CvkGetSinColor(a, b, 49152), a);
    EXPECT_EQ(CvkGetSinColor(a, b, -16384), a);
}

} // namespace
