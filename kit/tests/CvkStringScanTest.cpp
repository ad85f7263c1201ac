#include "kit/CvkStringCharClass.h"
#include "kit/CvkStringScan.h"
#include "kit/tests/CountingTestHeap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using CvkStringScanTest = KitHeapTest;

TEST(CvkStringCharClassTest, ClassesOverAllBytes)
{
    const std::string alpha = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::string digits = "0123456789";
    const struct {
        const char* name;
        int32_t (*is)(char);
        std::string members;
    } classes[] = {
        {"Alphabet", CvkCharIsAlphabet, alpha},
        {"Hexadecimal", CvkCharIsHexadecimal, digits + "abcdefABCDEFxX"},
        {"Number", CvkCharIsNumber, digits},
        {"Operator", CvkCharIsOperator, "=!+-*/%<>&|"},
        {"Separator", CvkCharIsSeparator, ";:,(){}[]"},
        {"Space", CvkCharIsSpace, " \t\n\f\r"},
        {"Symbol", CvkCharIsSymbol, alpha + digits + "_"},
    };
    for (const auto& c : classes) {
        for (int b = 0; b < 256; ++b) {
            const char ch = static_cast<char>(b);
            const bool member = b != 0 && c.members.find(ch) != std::string::npos;
            EXPECT_EQ(c.is(ch) != 0, member) << c.name << " byte " << b;
        }
    }
}

TEST(CvkStringCnvAtoITest, Forms)
{
    const struct {
        const char* text;
        uint32_t want;
    } cases[] = {
        {"  $1f", 31},        {"0x1F", 31},          {"-12abc", 0u - 12u},   {"0X10", 0},
        {"\t 123", 123},      {"42", 42},            {"$FFFFFFFF", 0xFFFFFFFF}, {"4294967297", 1},
        {"", 0},              {"abc", 0},            {"-", 0},               {"$", 0},
        {"0x", 0},            {"$-1", 0},            {"-0x10", 0},           {"+5", 0},
        {"007", 7},           {"12 34", 12},         {"$aBg", 0xAB},         {"\n5", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CvkStringCnvAtoI(c.text), c.want) << '"' << c.text << '"';
    }
    EXPECT_EQ(CvkStringCnvAtoI(nullptr), 0u);
}

TEST(CvkStringAtoIClampedTest, DecimalClampedToThirtyTwoBits)
{
    const struct {
        const char* text;
        int32_t want;
    } cases[] = {
        {" \t\n-42x", -42},         {"+7", 7},                  {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},  {"-2147483649", INT32_MIN}, {"99999999999999999999", INT32_MAX},
        {"0x10", 0},                {"", 0},                    {"abc", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CvkStringAtoIClamped(c.text), c.want) << '"' << c.text << '"';
    }
    EXPECT_EQ(CvkStringAtoIClamped(nullptr), 0);
}

TEST(CvkStringSkipTest, SkipSpaceOverBlanksAndComments)
{
    const struct {
        const char* text;
        const char* rest;
    } cases[] = {
        {"  // note\r\n /* x */z", "z"},
        {"/x", "/x"},
        {"\t\f\r\nk", "k"},
        {"\vk", "\vk"},
        {"// to the end", ""},
        {"/* open", ""},
        {"/**/ /*a*b*/q", "q"},
        {"//a\n//b\rc", "c"},
        {"", ""},
        {"/", "/"},
    };
    for (const auto& c : cases) {
        const char* cursor = c.text;
        CvkStringSkipSpace(&cursor);
        EXPECT_STREQ(cursor, c.rest) << '"' << c.text << '"';
        EXPECT_GE(cursor, c.text);
        EXPECT_LE(cursor, c.text + std::strlen(c.text));
    }
    char text[] = "  x";
    char* cursor = text;
    CvkStringSkipSpace(&cursor);
    EXPECT_EQ(cursor, text + 2);
}

TEST(CvkStringSkipTest, SkipToChar)
{
    const char* text = "ab=cd";
    const char* cursor = text;
    EXPECT_EQ(CvkStringSkipToChar(&cursor, '='), 1);
    EXPECT_EQ(cursor, text + 2);
    EXPECT_EQ(CvkStringSkipToChar(&cursor, '='), 1); // already on it
    EXPECT_EQ(cursor, text + 2);
    EXPECT_EQ(CvkStringSkipToChar(&cursor, ';'), 0);
    EXPECT_EQ(cursor, text + 5); // on the terminator
    EXPECT_EQ(CvkStringSkipToChar(&cursor, ';'), 0);
    EXPECT_EQ(cursor, text + 5);
}

TEST_F(CvkStringScanTest, Split)
{
    const struct {
        const char* text;
        const char* separator;
        int32_t skipBlanks;
        std::vector<std::string> fields;
    } cases[] = {
        {"a, b,c", ",", 1, {"a", "b", "c"}},
        {"a, b,c", ",", 0, {"a", " b", "c"}},
        {"x\t y\r\n;;z", ";:", 1, {"xy\r", "", "z"}},
        {"", ",", 0, {""}},
        {",", ",", 0, {"", ""}},
        {"no separator", "", 0, {"no separator"}},
    };
    for (const auto& c : cases) {
        int32_t count = -1;
        CvString* fields = CvkStringSplit(c.text, c.separator, &count, c.skipBlanks);
        ASSERT_NE(fields, nullptr);
        ASSERT_EQ(count, static_cast<int32_t>(c.fields.size())) << c.text;
        for (int32_t i = 0; i < count; ++i) {
            EXPECT_EQ(std::string(fields[i].GetBuffer()), c.fields[static_cast<size_t>(i)]) << c.text << " #" << i;
        }
        delete[] fields;
    }
    systemHeap.refuse = 1;
    int32_t count = -1;
    EXPECT_EQ(CvkStringSplit("a,b", ",", &count, 0), nullptr);
    systemHeap.refuse = 0;
}

} // namespace
