// The lexer: tokens of each scanner, the sequence rules, directives, the
// built-in constants and the error entries of bad input.
#include "dresser/DrsConstantTable.h"
#include "dresser/tests/DresserTestKit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class DrsLexerTest : public DresserTest {
protected:
    void SetUp() override
    {
        DresserTest::SetUp();
        lexer = new DrsLexer;
    }
    void TearDown() override
    {
        delete lexer;
        DresserTest::TearDown();
    }

    // Tokens of `text` (the end token left out) and the log it produced.
    std::string Lex(const std::string& text, int32_t shift = 0)
    {
        DrsCompileOption option{0, shift, 0, 0};
        lexer->CreateToken(text.c_str(), &option);
        std::string chain = DescribeChain(*lexer);
        const std::string end = std::to_string(DRS_TOKEN_END);
        if (chain.size() >= end.size() && chain.compare(chain.size() - end.size(), end.size(), end) == 0) {
            chain.erase(chain.size() - end.size());
            while (!chain.empty() && chain.back() == ' ') {
                chain.pop_back();
            }
        }
        return chain;
    }

    // An empty lexer and log for the next case of a table.
    void Fresh()
    {
        delete lexer;
        lexer = new DrsLexer;
        DrsInitErrorInfo(nullptr);
        DrsGetErrorInfo()->SetMessageTree(TestMessageTree());
    }

    DrsLexer* lexer = nullptr;
};

// Inside a module body, where names, calls and labels are all allowed.
std::string Body(const std::string& statements)
{
    return "module m(){\n" + statements + "\n}\n";
}
const std::string kBodyPrefix = "51 59=0:m 64 65 66 ";
const std::string kBodySuffix = " 67";

struct TokenCase {
    const char* source;
    int32_t shift;
    const char* tokens; // between the body's braces
    const char* log;
};

TEST_F(DrsLexerTest, TokensOfExpressions)
{
    const TokenCase cases[] = {
        {"a=-3;", 0, "36:a 0 31=-3 62", ""},
        {"a-3;", 0, "36:a 3 31=3 62", ""},
        {"a - -3;", 0, "36:a 3 31=-3 62", ""},
        {"a = -b;", 0, "36:a 0 7 36:b 62", ""},
        {"a++;", 0, "36:a 8 62", ""},
        {"a = +5;", 0, "36:a 0 31=5 62", ""},
        {"a = 1.5;", 12, "36:a 0 34=6144 62", ""},
        {"a = 1.5;", 0, "36:a 0 33=1.5 62", ""},
        {"a = 1.5f;", 0, "36:a 0 33=1.5 62", ""},
        {"a = -0.5;", 12, "36:a 0 34=-2048 62", ""},
        {"a = 0x7FFF;", 0, "36:a 0 31=32767 62", ""},
        {"a = 0x8000;", 0, "36:a 0 32=32768 62", ""},
        {"a = 40000;", 0, "36:a 0 32=40000 62", ""},
        {"a = -32768;", 0, "36:a 0 31=-32768 62", ""},
        {"a = DRS_VKEY_POWER;", 0, "36:a 0 31=256 62", ""},
        {"a = DRS_VKEY_CH_20;", 0, "36:a 0 31=539 62", ""},
        {"a = DRS_SOUND_FLAG_WAVE;", 0, "36:a 0 32=1048576 62", ""},
        {"a = MY_KEY;", 0, "36:a 0 36:MY_KEY 62", ""},
        {"a = b << 2 >> 1 & 3 | 4;", 0, "36:a 0 36:b 10 31=2 11 31=1 12 31=3 13 31=4 62", ""},
        {"if (a == 1 && b != 2 || c <= 3 || d >= 4 || e < 5 || f > 6) { }", 0,
         "22 64 36:a 16 31=1 20 36:b 17 31=2 21 36:c 18 31=3 21 36:d 19 31=4 21 36:e 14 31=5 21 36:f 15 31=6 65 66 67", ""},
        {"a = (!b) * c / d % e;", 0, "36:a 0 64 1 36:b 65 4 36:c 5 36:d 6 36:e 62", ""},
        {"a = !b;", 0, "36:a 0 1 36:b 62", "0002 E12\n"}, // only negation may follow an operator
        {"x[i] = f(\"hi\", 2);", 0, "37:x 68 36:i 69 0 29:f 64 35:hi 63 31=2 65 62", ""},
        {"s = \"\";", 0, "36:s 0 35 62", ""},
        {"top: goto top;", 0, "54:top 61 26 55:top 62", ""},
        {"variant v; variant w[3];", 0, "50 57:v 62 50 58:w 68 31=3 69 62", ""},
        {"switch (k) { case 1: break; default: return; }", 0,
         "23 64 36:k 65 66 48 31=1 61 52 62 49 61 27 62 67", ""},
        {"loop { synch(); continue; }", 0, "25 66 28 64 65 62 53 62 67", ""},
        {"while (a) { } ", 0, "24 64 36:a 65 66 67", ""},
        {"if (a) { } else { }", 0, "22 64 36:a 65 66 67 47 66 67", ""},
    };
    for (const TokenCase& c : cases) {
        Fresh();
        EXPECT_EQ(Lex(Body(c.source), c.shift), kBodyPrefix + c.tokens + kBodySuffix) << c.source;
        EXPECT_EQ(Log(), c.log) << c.source;
    }
}

} // namespace
