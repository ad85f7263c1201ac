// The process-wide log: entry layout by category, repeats, counts.
#include "dresser/tests/DresserTestKit.h"

#include <gtest/gtest.h>

namespace {

using DrsErrorInfoTest = DresserTest;

TEST_F(DrsErrorInfoTest, LaysOutEntriesByCategory)
{
    struct Case {
        int code;
        int line;
        const char* text;
        const char* entry;
    };
    const Case cases[] = {
        {DRS_LOG_SYNTAX, 7, nullptr, "0007 E0\n"},
        {DRS_LOG_BAD_OPERATOR, 0, "ignored", "---- E12\n"},      // plain errors ignore the argument
        {DRS_LOG_UNDEFINED_VARIABLE, 12345, "abc", "12345 abcE7\n"}, // wider lines print in full
        {DRS_LOG_EXPECTED, 3, nullptr, "0003 E10\n"},
        {DRS_LOG_INCLUDE, 0, "a.drs", "---- a.drs E51\n"},
        {DRS_LOG_ASSIGN_WARNING, 9, nullptr, "0009 E54\n"},
    };
    std::string expected;
    for (const Case& c : cases) {
        DrsSetErrorInfo(c.code, c.line, c.text);
        expected += c.entry;
    }
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(DrsGetErrorCount(), 4);
    EXPECT_EQ(DrsGetLogCount(), 6);
}

TEST_F(DrsErrorInfoTest, RepeatsBelowIncludeCodeAreCountedOnce)
{
    DrsSetErrorInfo(DRS_LOG_BAD_OPERATOR, 1, nullptr);
    DrsSetErrorInfo(DRS_LOG_BAD_OPERATOR, 2, nullptr);
    DrsSetErrorInfo(DRS_LOG_INCLUDE, 0, "x");
    DrsSetErrorInfo(DRS_LOG_INCLUDE, 0, "x");
    DrsSetErrorInfo(DRS_LOG_BAD_OPERATOR, 3, nullptr);
    EXPECT_EQ(Log(), "0001 E12\n---- x E51\n---- x E51\n0003 E12\n");
    EXPECT_EQ(DrsGetErrorCount(), 3);
    EXPECT_EQ(DrsGetLogCount(), 5);
}

TEST_F(DrsErrorInfoTest, WithoutMessagesEveryReportIsAnUnloggedError)
{
    DrsInitErrorInfo(nullptr);
    EXPECT_NE(DrsGetErrorInfo()->CheckError(), 0u);
    DrsSetErrorInfo(DRS_LOG_INCLUDE, 0, "x");
    DrsSetErrorInfo(DRS_LOG_SYNTAX, 1, nullptr);
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(DrsGetErrorCount(), 2);

    DrsInitErrorInfo("/nonexistent/dir/");
    EXPECT_NE(DrsGetErrorInfo()->CheckError(), 0u);
    EXPECT_STREQ(DrsGetErrorInfo()->GetMessageFilePath().GetBuffer(), "/nonexistent/dir/DresserStringDef.bin");
}

TEST_F(DrsErrorInfoTest, NoLogAnswersMinusOne)
{
    DrsExitErrorInfo();
    EXPECT_EQ(DrsGetErrorCount(), -1);
    EXPECT_EQ(DrsGetLogCount(), -1);
    EXPECT_EQ(DrsGetErrorLog(), nullptr);
    DrsSetErrorInfo(DRS_LOG_SYNTAX, 1, nullptr); // ignored
    DrsInitErrorInfo(nullptr);
    EXPECT_EQ(DrsGetErrorCount(), 0);
}

} // namespace
