#include "platform/PlatformCodePage.h"
#include "platform/PlatformTimer.h"

#include <gtest/gtest.h>

TEST(PlatformCodePage, RoundTripsJapaneseThroughCp932)
{
    // "表示" : the Shift_JIS form of 表 is 0x95 0x5C, whose trail byte is a backslash.
    const std::string utf8 = "\xE8\xA1\xA8\xE7\xA4\xBA";
    const std::string sjis = PlatformUtf8ToCp932(utf8);
    EXPECT_EQ(sjis, std::string("\x95\x5C\x8E\xA6"));
    EXPECT_EQ(PlatformCp932ToUtf8(sjis), utf8);
}

TEST(PlatformCodePage, UnrepresentableAndMalformedBecomeQuestionMarks)
{
    // U+00E9 has no CP932 form; 0xFF is not UTF-8; U+1F600 needs a surrogate pair.
    EXPECT_EQ(PlatformUtf8ToCp932("a\xC3\xA9" "b\xFF" "c"), "a?b?c");
    EXPECT_EQ(PlatformUtf16ToCp932(u"x\U0001F600y"), "x?y");
    EXPECT_EQ(PlatformUtf16ToCp932(std::u16string(1, char16_t(0xD800))), "?");
}

TEST(PlatformCodePage, Utf16AndUtf8Agree)
{
    const std::u16string wide = u"QR \u6F22\u5B57 \U0001F600";
    EXPECT_EQ(PlatformUtf8ToUtf16(PlatformUtf16ToUtf8(wide)), wide);
    // A lone lead byte at the end of Shift_JIS text decodes to U+FFFD, never past the end.
    EXPECT_EQ(PlatformCp932ToUtf8("a\x95"), "a\xEF\xBF\xBD");
}

TEST(PlatformTimer, IsMonotonic)
{
    const uint64_t a = PlatformMonotonicMicros();
    const uint64_t b = PlatformMonotonicMicros();
    EXPECT_LE(a, b);
}
