// Tests of the base object, the heap slots, log printing and the small services.

#include "kit/CvkBase.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkLog.h"
#include "kit/CvkMath.h"
#include "kit/CvkMemory.h"
#include "kit/CvkTimer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace {
class Tagged : public CvkBase {
public:
    void Tag(unsigned t) { SetTag(t); }
};
}  // namespace

TEST(CvkBase, TagStatusAndError) {
    Tagged b;
    EXPECT_EQ(b.GetTag(), 0x42415345u);
    EXPECT_EQ(b.CheckError(), 0u);
    EXPECT_EQ(b.GetLastError(), -1);
    b.Tag(0x41545243);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(&b) + sizeof(void*), "ATRC", 4), 0);
    EXPECT_EQ(b.GetTag(), 0x41545243u);
    b.SetCancel();
    b.SetBusy();
    EXPECT_EQ(b.CheckCancel(), 0x20u);
    EXPECT_EQ(b.CheckBusy(), 0x01u);
    b.ResetBusy();
    EXPECT_EQ(b.CheckBusy(), 0u);
    Tagged copy(b);
    EXPECT_EQ(copy.CheckCancel(), 0x20u);
    b.ClearStatus();
    EXPECT_EQ(b.CheckCancel(), 0u);
}

TEST(CvkBase, NewGoesToTheSystemSlot) {
    EXPECT_EQ(new Tagged, nullptr);  // empty slot: null, no constructor
    CvkHeapSimple heap(nullptr, 0, 32);
    CvkHeapSetSystem(&heap);
    Tagged* t = new Tagged;
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t) % 32, 0u);
    delete t;
    CvkHeapSetSystem(nullptr);
    EXPECT_EQ(t_cvkMainHeapAlloc(10, 0, nullptr, 0), nullptr);
    t_cvkMainHeapFree(nullptr, nullptr, 0);
}

TEST(CvkLog, LongTextIsPrintedWhole) {
    std::string got;
    CvkLogSetSink([](const char* t, void* c) { *static_cast<std::string*>(c) += t; }, &got);
    std::string text(600, 'x');
    CvkLogPrint("%s|%d", text.c_str(), 42);
    CvkLogSetSink(nullptr);
    EXPECT_EQ(got, text + "|42");
}

TEST(CvkMemory, OverlappingCopyAndSet) {
    for (int shift : {3, -3}) {
        char buf[32] = "0123456789abcdefghij";
        char expect[32];
        std::memcpy(expect, buf, 32);
        std::memmove(expect + 8 + shift, expect + 8, 10);
        CvkMemCopy(buf + 8 + shift, buf + 8, 10);
        EXPECT_EQ(std::memcmp(buf, expect, 32), 0);
    }
    uint8_t bytes[11] = {};
    CvkMemSet(bytes + 1, 0x5A, 9);
    EXPECT_EQ(bytes[0], 0);
    for (int i = 1; i < 10; ++i) EXPECT_EQ(bytes[i], 0x5A);
    EXPECT_EQ(bytes[10], 0);
}

TEST(CvkMath, AnglesFixedPointAndHelpers) {
    for (int a = -70000; a < 70000; a += 97) {
        double r = a * 2 * M_PI / 65536;
        ASSERT_NEAR(CvkSin(a), std::sin(r), 5e-5) << a;
        ASSERT_NEAR(CvkCos(a), std::cos(r), 5e-5) << a;
    }
    EXPECT_EQ(CvkSin(16384), 1.0f);
    EXPECT_EQ(CvkArcTan2(1.0f, 0.0f), 16384);
    EXPECT_EQ(CvkArcCos(0.5f), 10922);  // 10922.67 truncated
    EXPECT_EQ(CvkFx32Mul(3 << 12, 1 << 11), 3 << 11);
    EXPECT_EQ(CvkFx32Div(7, 2), 3 << 12);
    EXPECT_EQ(CvkFx32Div(7, 0), 0);
    EXPECT_EQ(CvkClampI(0, 10, 11), 10);
    EXPECT_EQ(CvkClampI(0, 10, -1), 0);
    EXPECT_FLOAT_EQ(CvkFraction(-2.75f), -0.75f);
    EXPECT_FLOAT_EQ(CvkRoundOff(-2.75f), -2.0f);
    EXPECT_FLOAT_EQ(CvkInterpolate(2.0f, 4.0f, 0.25f), 2.5f);
    EXPECT_EQ(CvkInitTimer(), 1);
    uint64_t t0 = CvkGetTimer();
    EXPECT_GE(CvkGetTimer(), t0);
}
