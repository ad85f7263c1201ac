#include "platform/PlatformProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

TEST(PlatformProcess, SplitsCommandLinesAsAShellWouldWithoutExpanding)
{
    struct Case {
        const char* line;
        bool ok;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"viewer --port 7743", true, {"viewer", "--port", "7743"}},
        {"  a\t b  ", true, {"a", "b"}},
        {"'my tool' \"x y\" z\\ w", true, {"my tool", "x y", "z w"}},
        {"\"a\\\"b\\\\c\\n\"", true, {"a\"b\\c\\n"}},
        {"pre'mid'\"post\"", true, {"premidpost"}},
        {"$HOME *.txt ~", true, {"$HOME", "*.txt", "~"}},
        {"''", true, {""}},
        {"", true, {}},
        {"'open", false, {}},
        {"\"open", false, {}},
        {"trail\\", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words;
        EXPECT_EQ(PlatformSplitCommandLine(c.line, &words), c.ok) << c.line;
        if (c.ok) {
            EXPECT_EQ(words, c.words) << c.line;
        }
    }
}

TEST(PlatformProcess, SpawnsFromPathAndReportsWhatCannotStart)
{
    const pid_t pid = PlatformSpawn("sh -c 'exit 0'");
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 500 && PlatformChildRunning(pid); ++i) {
        usleep(10000);
    }
    EXPECT_FALSE(PlatformChildRunning(pid));
    EXPECT_EQ(PlatformSpawn("/nonexistent/program --flag"), -1);
    EXPECT_EQ(PlatformSpawn("   "), -1);
    EXPECT_EQ(PlatformSpawn("'unterminated"), -1);
}
