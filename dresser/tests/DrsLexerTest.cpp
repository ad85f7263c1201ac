// The lexer: tokens of each scanner, the sequence rules, directives, the
// built-in constants and the error entries of bad input.
#include "dresser/DrsConstantTable.h"
#include "dresser/tests/DresserTestKit.h"
#include "platform/tests/ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Whole texts (not inside a module body): the tokens they leave and the log.
struct TextCase {
    std::string source;
    const char* tokens;
    const char* log;
};

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

    // Each case lexed by a fresh lexer (searching `includePath` when given):
    // its tokens, unless the case leaves them out, and its log.
    void ExpectCases(const std::vector<TextCase>& cases, const char* includePath = nullptr)
    {
        for (const TextCase& c : cases) {
            Fresh();
            if (includePath != nullptr) {
                lexer->AddIncludePath(includePath);
            }
            const std::string tokens = Lex(c.source);
            if (c.tokens != nullptr) {
                EXPECT_EQ(tokens, c.tokens) << c.source;
            }
            EXPECT_EQ(Log(), c.log) << c.source;
        }
    }

    DrsLexer* lexer = nullptr;
};

// Inside a module body, where names, calls and labels are all allowed.
std::string Body(const std::string& statements) { return "module m(){\n" + statements + "\n}\n"; }
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
         "22 64 36:a 16 31=1 20 36:b 17 31=2 21 36:c 18 31=3 21 36:d 19 31=4 21 36:e 14 31=5 21 36:f 15 31=6 65 66 67",
         ""},
        {"a = (!b) * c / d % e;", 0, "36:a 0 64 1 36:b 65 4 36:c 5 36:d 6 36:e 62", ""},
        {"a = !b;", 0, "36:a 0 1 36:b 62", "0002 E12\n"}, // only negation may follow an operator
        {"x[i] = f(\"hi\", 2);", 0, "37:x 68 36:i 69 0 29:f 64 35:hi 63 31=2 65 62", ""},
        {"s = \"\";", 0, "36:s 0 35 62", ""},
        {"top: goto top;", 0, "54:top 61 26 55:top 62", ""},
        {"variant v; variant w[3];", 0, "50 57:v 62 50 58:w 68 31=3 69 62", ""},
        {"switch (k) { case 1: break; default: return; }", 0, "23 64 36:k 65 66 48 31=1 61 52 62 49 61 27 62 67", ""},
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

TEST_F(DrsLexerTest, BadInputIsReported)
{
    const std::string name47(47, 'n');
    const std::string name48(48, 'n');
    const std::vector<TextCase> cases = {
        {"module m(){\nx+=1;\n}\n", "51 59=0:m 64 65 66 36:x 2 31=1 62 67", "0002 E12\n"},
        {"module m(){\n3++;\n}\n", "51 59=0:m 64 65 66 31=3 8 62 67", "0002 E12\n"},
        {"module m(){\n++a;\n}\n", "51 59=0:m 64 65 66 36:a 62 67", "0002 E12\n"},
        {"module m(){\na = b %= 2;\n}\n", "51 59=0:m 64 65 66 36:a 0 36:b 6 31=2 62 67", "0002 E12\n"},
        {"module m(){\na = 2f;\n}\n", "51 59=0:m 64 65 66 36:a 0 31=2 62 67", "0002 E11\n"},
        {"module m(){\na = 1.5ff;\n}\n", "51 59=0:m 64 65 66 36:a 0 33=1.5 62 67", "0002 E11\n"},
        {"module m(){\na = DRS_VKEY_POWR; b = 1;\n}\n", "51 59=0:m 64 65 66 36:a 0", "0002 DRS_VKEY_POWRE32\n"},
        {"module m(){\n" + name47 + " = 1;\n}\n", nullptr, ""},
        {"module m(){\n" + name48 + " = 1;\n}\n", "51 59=0:m 64 65 66", "0002 E6\n0002 E0\n"},
        {"module m(){\ns = \"open;\n}\n", "51 59=0:m 64 65 66 36:s 0", "---- E27\n0002 E0\n"},
        {"module m(){ /* open /* */\n}\n", "51 59=0:m 64 65 66", "0001 E23\n"},
        {"module m(){\n}\n// note", "51 59=0:m 64 65 66 67", "0003 E23\n"},
        {"module m(){\n}\n' note\n", "51 59=0:m 64 65 66 67", ""},
        {"module m(){\na = 1;\nb = \x01;\n}\n", "51 59=0:m 64 65 66 36:a 0 31=1 62 36:b 0", "0003 E0\n"},
        {"module m(){\nb = \x82;\n}\n", "51 59=0:m 64 65 66 36:b 0", "0002 E0\n"},
        {"module m(){\nf (1);\n}\n", "51 59=0:m 64 65 66 36:f 64 31=1 65 62 67", ""}, // not a call,
        {"f(1);\n", "64 31=1 65 62", "0001 E0\n"},
        {"module m(){\na b;\n}\n", "51 59=0:m 64 65 66 36:a", "0002 E0\n"},
        {"module 5(){}\n", "51", "0001 E38\n"},
        {"module m{}\n", "51 59=0:m", "0001 (E10\n"},
        {"module m(){}\nmodule m(){}\n", "51 59=0:m 64 65 66 67 51 59=1:m", "0002 mE9\n"},
        {"module m(){\n)\n}\n", "51 59=0:m 64 65 66 65 67", "0002 E20\n0003 E0\n"},
        {"module m(){\n]\n}\n", "51 59=0:m 64 65 66 69 67", "0002 E22\n0003 E0\n"},
        {"module m(){\n}\n}\n", "51 59=0:m 64 65 66 67 67", "0003 E21\n"},
        {"module m(){\n", "51 59=0:m 64 65 66", "0002 E25\n"},
        {"module m(){\nif (a) { x:\n}\n}\n", nullptr, "0002 E17\n"},
        {"module m(){\nf(1,);\n}\n", "51 59=0:m 64 65 66 29:f 64 31=1 63 65 62 67", "0002 E0\n"},
        {"module m(){\na = 1.5 << 2;\n}\n", "51 59=0:m 64 65 66 36:a 0 33=1.5 10 31=2 62 67", "0002 E12\n"},
        {"module m(){\na = b % 1.5;\n}\n", "51 59=0:m 64 65 66 36:a 0 36:b 6 33=1.5 62 67", "0002 E12\n"},
        {"module m(){\nx = (1) [2];\n}\n", nullptr, "0002 E0\n"},
        {"{\n", "66", "0001 E0\n"},
    };
    ExpectCases(cases);
}

TEST_F(DrsLexerTest, NamesUpToFortySevenCharacters)
{
    const std::string name47(47, 'n');
    EXPECT_EQ(Lex(Body(name47 + " = 1;")), kBodyPrefix + "36:" + name47 + " 0 31=1 62" + kBodySuffix);
    EXPECT_EQ(Log(), "");
}

TEST_F(DrsLexerTest, CommentsNestAndCountLines)
{
    EXPECT_EQ(Lex("/* a /* b */ c */ module m(){\n/* one\ntwo */ x = 1;\n}\n"), "51 59=0:m 64 65 66 36:x 0 31=1 62 67");
    EXPECT_EQ(lexer->GetLastToken()->GetPrev()->GetLine(), 4);
    EXPECT_EQ(Log(), "");
}

TEST_F(DrsLexerTest, DefinesReplaceNames)
{
    EXPECT_EQ(Lex("#define SIZE 10\r\n#define TWICE SIZE+SIZE // doubled\nmodule m(){\na = SIZE;\nb = TWICE;\n}\n"),
              "51 59=0:m 64 65 66 36:a 0 31=10 62 36:b 0 31=10 2 31=10 62 67");
    DrsToken* b = lexer->GetFirstToken();
    while (b->GetString() == nullptr || std::strcmp(b->GetString(), "b") != 0) {
        b = b->GetNext();
    }
    EXPECT_EQ(b->GetLine(), 5) << "CR LF of a define line counts once";
    EXPECT_EQ(Log(), "");

    Fresh();
    EXPECT_EQ(Lex("#define A 1\n#define A 2\nmodule m(){\nx = A;\n}\n"), "51 59=0:m 64 65 66 36:x 0 31=2 62 67");
    EXPECT_STREQ(lexer->GetDefine("A"), "2");
}

TEST_F(DrsLexerTest, BadDefines)
{
    const std::vector<TextCase> cases = {
        {"#define X\nmodule m(){}\n", "", "0001 E0\n"},
        {"#define X   \nmodule m(){}\n", "", "0001 E0\n"},
        {"module m(){\n#define X 1\n}\n", "51 59=0:m 64 65 66", "0002 E0\n"},
        {"#define X X\nmodule m(){\na = X;\n}\n", "51 59=0:m 64 65 66 36:a 0", "0003 E0\n"},
        {"#define X Y\n#define Y X\nmodule m(){\na = X;\n}\n", "51 59=0:m 64 65 66 36:a 0", "0004 E0\n"},
    };
    ExpectCases(cases);
}

TEST_F(DrsLexerTest, Enumerations)
{
    EXPECT_EQ(Lex("enum { A, B = 5, C };\nenum {};\nenum{ /* c */ D = -2,\n E // e\n};\nmodule m(){\nx = C + E;\n}\n"),
              "51 59=0:m 64 65 66 36:x 0 31=6 2 31=-1 62 67");
    EXPECT_STREQ(lexer->GetDefine("A"), "0");
    EXPECT_STREQ(lexer->GetDefine("B"), "5");
    EXPECT_EQ(lexer->GetFirstToken()->GetLine(), 6);
    EXPECT_EQ(Log(), "");

    const std::vector<TextCase> cases = {
        {"enum { A }\nmodule m(){}\n", "", "0001 ;E10\n0001 E45\n"},
        {"enum { A = 1x };\n", "", "0001 E45\n"},
        {"enum { A = 1 };\n", "", "0001 E45\n"},
        {"enum { A, };\n", "", "0001 E45\n"},
        {"enum { A", "", "0001 E45\n"},
        {"module m(){\nf(enum {A};);\n}\n", nullptr, "0002 E0\n"},
    };
    ExpectCases(cases);
}

TEST_F(DrsLexerTest, NameDirective)
{
    EXPECT_EQ(Lex("#name \"menu\";\n"), "72 35:menu 62");
    Fresh();
    Lex("module m(){\n#name \"x\";\n}\n");
    EXPECT_EQ(Log(), "0002 E0\n");
}

TEST_F(DrsLexerTest, LineCounterStopsAtItsLimit)
{
    std::string text = "module m(){\n";
    text += std::string(65536, '\n');
    text += "x = 1;\n}\n";
    EXPECT_EQ(Lex(text), "51 59=0:m 64 65 66 36:x 0 31=1 62 67");
    EXPECT_EQ(lexer->GetLastToken()->GetPrev()->GetLine(), 65535);
    EXPECT_EQ(Log(), "65535 E53\n");
    EXPECT_EQ(DrsGetErrorCount(), 0);
}

TEST_F(DrsLexerTest, BuiltInTable)
{
    ASSERT_EQ(DrsGetBuiltinConstantCount(), 457);
    const std::pair<const char*, int32_t> samples[] = {
        {"DRS_PAD_UP", 0},
        {"DRS_PAD_START", 17},
        {"DRS_PAD_ANALOG2_Y", 3},
        {"DRS_MOUSE_C", 2},
        {"DRS_KEY_9", 9},
        {"DRS_KEY_NUM_0", 10},
        {"DRS_KEY_A", 20},
        {"DRS_KEY_Z", 45},
        {"DRS_KEY_RETURN", 50},
        {"DRS_KEY_PGDOWN", 66},
        {"DRS_VKEY_POWER", 256},
        {"DRS_VKEY_No0", 287},
        {"DRS_VKEY_UP", 304},
        {"DRS_VKEY_NETFLIX", 461},
        {"DRS_VKEY_CH_20", 539},
        {"DRS_SOUND_FLAG_PLAY_PRIMARY", 32},
        {"DRS_SOUND_FLAG_WAVE", 0x100000},
        {"GLM_PARENT", 4},
        {"ACS_CUT_EXEC", 4},
        {"VG_CLOSE_PATH", 0},
        {"VG_MOVE_TO", 2},
        {"VG_LCWARC_TO_ABS", 24},
        {"VG_MOVE_TO_REL", 3},
        {"VG_LCWARC_TO_REL", 25},
        {"VG_FILL_PATH", 2},
        {"VG_BLEND_ADDITIVE", 9},
        {"DRS_FL_NETEVT_RECV_STOP_CONTENT_REQ", 6},
        {"DRS_FL_NETSTATE_STOP_TO_PLAY_CONTENT", 7},
    };
    for (const auto& [name, value] : samples) {
        const DrsBuiltinConstant* c = DrsFindBuiltinConstant(name);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(c->value, value) << name;
    }
    EXPECT_EQ(DrsFindBuiltinConstant("DRS_VKEY_POWR"), nullptr);
    EXPECT_EQ(DrsFindBuiltinConstant("DRS_PAD"), nullptr);
    // Every entry is found under its own name (no name twice), none too long.
    for (int32_t i = 0; i < DrsGetBuiltinConstantCount(); ++i) {
        const DrsBuiltinConstant* c = DrsGetBuiltinConstant(i);
        EXPECT_LE(std::strlen(c->name), 47u);
        EXPECT_EQ(DrsFindBuiltinConstant(c->name), c) << c->name;
    }
    // The remote-control keys run consecutively from 256 to 539.
    int32_t next = 256;
    for (int32_t i = 0; i < DrsGetBuiltinConstantCount(); ++i) {
        const DrsBuiltinConstant* c = DrsGetBuiltinConstant(i);
        if (std::strncmp(c->name, "DRS_VKEY_", 9) == 0) {
            EXPECT_EQ(c->value, next++) << c->name;
        }
    }
    EXPECT_EQ(next, 540);
}

} // namespace

namespace {

// A temporary directory of script files, removed at the end of the test.
struct ScriptDir : ScratchDir {
    ScriptDir() : ScratchDir("drs_lexer") {}
};

TEST_F(DrsLexerTest, IncludedTokensCarryLineZero)
{
    ScriptDir dir;
    dir.Write("keys.drs", "#define OK_KEY DRS_VKEY_ENTER\nmodule helper(){\nx = -1;\n}\n");
    lexer->AddIncludePath(dir.Path().c_str());
    EXPECT_EQ(Lex("#include \"keys.drs\"\nmodule m(){\nk = OK_KEY;\n}\n"),
              "51 59=0:helper 64 65 66 36:x 0 31=-1 62 67 51 59=1:m 64 65 66 36:k 0 31=308 62 67");
    EXPECT_EQ(Log(), "---- keys.drs E51\n");
    EXPECT_EQ(DrsGetErrorCount(), 0);
    std::string lines;
    for (const DrsToken* t = lexer->GetFirstToken(); t != nullptr; t = t->GetNext()) {
        lines += std::to_string(t->GetLine()) + " ";
    }
    EXPECT_EQ(lines, "0 0 0 0 0 0 0 0 0 0 2 2 2 2 2 3 3 3 3 4 5 ");
    EXPECT_EQ(lexer->GetModuleCount(), 2);
    EXPECT_EQ(lexer->GetCurrentToken(), lexer->GetFirstToken());
}

TEST_F(DrsLexerTest, IncludedRealsFollowTheFixedPointOption)
{
    ScriptDir dir;
    dir.Write("half.drs", "#define HALF 0.5\nmodule h(){\nx = 1.5;\n}\n");
    lexer->AddIncludePath(dir.Path().c_str());
    EXPECT_EQ(Lex("#include \"half.drs\"\nmodule m(){\ny = HALF;\n}\n", 12),
              "51 59=0:h 64 65 66 36:x 0 34=6144 62 67 51 59=1:m 64 65 66 36:y 0 34=2048 62 67");
}

TEST_F(DrsLexerTest, IncludeFailures)
{
    ScriptDir dir;
    dir.Write("bad.drs", "module b(){\nx = 3++;\n}\n");
    dir.Write("self.drs", "#include \"self.drs\"\n");
    lexer->AddIncludePath("/nonexistent");
    lexer->AddIncludePath(dir.Path().c_str());
    const std::vector<TextCase> cases = {
        {"#include \"missing.drs\"\n", "", "0001 missing.drsE34\n0001 E0\n"},
        {"#include \"bad.drs\"\n", nullptr, "---- bad.drs E51\n0002 E12\n---- bad.drs E52\n0001 E0\n"},
        {"#include bad.drs\n", "", "0001 #includeE35\n0001 E0\n"},
        {"#include \"bad\n.drs\"\n", "", "0001 #includeE35\n0001 E0\n"},
        {"module m(){\n#include \"bad.drs\"\n}\n", nullptr, "0002 E0\n"},
    };
    ExpectCases(cases, dir.Path().c_str());

    // A file including itself is refused at the include depth limit.
    Fresh();
    lexer->AddIncludePath(dir.Path().c_str());
    Lex("#include \"self.drs\"\n");
    const std::string log = Log();
    EXPECT_NE(log.find(" self.drsE35\n"), std::string::npos) << log;
    EXPECT_GT(DrsGetErrorCount(), 0);
}

TEST_F(DrsLexerTest, IncludePathsJoinAndDoNotRepeat)
{
    ScriptDir dir;
    std::filesystem::create_directory(dir.Path() + "/sub");
    dir.Write("sub/a.drs", "#define A 7\n");
    EXPECT_EQ(lexer->AddIncludePath(nullptr), 0);
    EXPECT_EQ(lexer->AddIncludePath((dir.Path() + "/sub/").c_str()), 1);
    EXPECT_EQ(lexer->AddIncludePath((dir.Path() + "/sub/").c_str()), 1);
    EXPECT_EQ(Lex("#include \"a.drs\"\nmodule m(){\nx = A;\n}\n"), "51 59=0:m 64 65 66 36:x 0 31=7 62 67");
    Fresh();
    lexer->AddIncludePath(dir.Path().c_str());
    EXPECT_EQ(Lex("#include \"sub\\a.drs\"\nmodule m(){\nx = A;\n}\n"), "51 59=0:m 64 65 66 36:x 0 31=7 62 67");
}

// An instruction table: two groups, the second with explicit codes.
const char* const kInstructionTable = "<DresserInstruction>\n"
                                      "  <Basic Start=\"100\">\n"
                                      "    <Print Min=\"1\" Max=\"3\"/>\n"
                                      "    <Wait Min=\"1\"/>\n"
                                      "    <Beep/>\n"
                                      "  </Basic>\n"
                                      "  <Sound Start=\"200\">\n"
                                      "    <Play Code=\"250\" Max=\"2\"/>\n"
                                      "    <Stop/>\n"
                                      "    <Print/>\n"
                                      "  </Sound>\n"
                                      "</DresserInstruction>\n";

TEST_F(DrsLexerTest, InstructionTablesRegister)
{
    ScriptDir dir;
    dir.Write("inst.def", kInstructionTable);
    lexer->AddIncludePath(dir.Path().c_str());
    EXPECT_EQ(Lex("#instdef \"inst.def\"\nmodule m(){\nPrint(1); Stop();\n}\n"),
              "51 59=0:m 64 65 66 30=100:Print 64 31=1 65 62 30=251:Stop 64 65 62 67");
    EXPECT_EQ(Log(), "");
    struct Expect {
        uint16_t code;
        const char* name;
        int min;
        int max;
    };
    const Expect expected[] = {{100, "Print", 1, 3}, {101, "Wait", 1, 1}, {102, "Beep", 0, 0},
                               {250, "Play", 0, 2},  {251, "Stop", 0, 0}, {252, "Print", 0, 0}};
    for (const Expect& e : expected) {
        const LexFunctionList* f = lexer->GetInstructionList(e.code);
        ASSERT_NE(f, nullptr) << e.code;
        EXPECT_STREQ(f->GetName(), e.name);
        EXPECT_EQ(f->GetMinArgCount(), e.min) << e.name;
        EXPECT_EQ(f->GetArgCount(), e.max) << e.name;
        EXPECT_EQ(f->CheckArgCount(e.min), true);
        EXPECT_EQ(f->CheckArgCount(e.max + 1), false);
    }
    EXPECT_EQ(lexer->GetInstructionList("Print")->GetFunctionCode(), 100) << "the first entry of a name wins";
    EXPECT_EQ(lexer->RegistInstruction(nullptr), 0);

    Fresh();
    Lex("#instdef \"nowhere.def\"\n");
    EXPECT_EQ(Log(), "0001 nowhere.defE34\n0001 E36\n0001 E0\n");
}

} // namespace
