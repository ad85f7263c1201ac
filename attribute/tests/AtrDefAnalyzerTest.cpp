// Named constants from C enum headers: values as a C compiler gives them,
// the scan of headers, refusals of what C would not accept, large input.
#include "attribute/AtrDefAnalyzer.h"

#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkSystem.h"
#include "kit/tests/KitHeapSlots.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class AtrDefAnalyzerTest : public ::testing::Test {
protected:
    KitSimpleHeap heap;
};

// "NAME=value ..." oldest first.
std::string Dump(const AtrDefAnalyzer& analyzer)
{
    std::string out;
    for (const AtrAttribute* c = analyzer.GetConstant(); c != nullptr; c = c->GetNext()) {
        out = std::string(c->GetName().GetBuffer()) + "=" + std::to_string(c->GetS32()) + (out.empty() ? "" : " ") +
              out;
    }
    return out;
}

// One value through the analyzer: "V=<value>" or "fail".
std::string ValueOf(const std::string& expression)
{
    AtrDefAnalyzer analyzer;
    const std::string text = "enum { V = " + expression + " };";
    if (analyzer.AddConstantDefinitionText(text.c_str()) == 0) {
        return "fail";
    }
    return Dump(analyzer);
}

// The C++ compiler is the independent check: with a 32-bit int the same
// expression text must give the same value (C and C++ agree on these).
struct CCase {
    const char* text;
    int32_t value;
};
#define C_CASE(e) {#e, static_cast<int32_t>(e)}
// The expressions test precedence on purpose.
#pragma GCC diagnostic ignored "-Wparentheses"

TEST_F(AtrDefAnalyzerTest, ValuesAreThoseACompilerGives)
{
    const CCase cases[] = {
        C_CASE(8 / 4 / 2),          C_CASE(1 << 2 * 3),         C_CASE(2 * -1),
        C_CASE(0xFFFFFFF0 >> 4),    C_CASE(010),                C_CASE(0xFFFFFFFE / 2),
        C_CASE(4 * (1 + 1)),        C_CASE(8 / 2),              C_CASE(-1),
        C_CASE(0x10U),              C_CASE(0X10),               C_CASE(1 << 4 | 1),
        C_CASE(-7 % 3),             C_CASE(7 % -3),             C_CASE(-7 / 2),
        C_CASE(1 | 2 ^ 3 & 4),      C_CASE(6 & 3 ^ 5 | 8),      C_CASE(1 + 2 << 3 + 1),
        C_CASE(~0u >> 28),          C_CASE(~0 >> 28),           C_CASE(!0 + !5),
        C_CASE(-8 >> 1u),           C_CASE(-1 / 2u),            C_CASE(-1 % 7u),
        C_CASE(0x80000000 >> 31),   C_CASE(-0x80000000),        C_CASE(- -3),
        C_CASE(-(2 + 3) * +4),      C_CASE(~~5),                C_CASE(!!7 - -!0),
        C_CASE(10 - 4 - 3),         C_CASE(100 / 10 % 7 * 3),   C_CASE(2147483647),
        C_CASE(037777777777),       C_CASE(0xFFFFFFFF + 2),     C_CASE(1u - 2),
        C_CASE(3L * 5l),            C_CASE(7UL % 4lu),          C_CASE(((((1)))) + ((2))),
        C_CASE(0 / 5),              C_CASE(0x7fffffff - 0x7ffffffe), C_CASE(0xFFu << 24 >> 24),
    };
    for (const CCase& c : cases) {
        EXPECT_EQ(ValueOf(c.text), "V=" + std::to_string(c.value)) << c.text;
    }
}

TEST_F(AtrDefAnalyzerTest, WhereCIsUndefinedTheValueIsFixed)
{
    const struct {
        const char* text;
        const char* dump;
    } cases[] = {
        {"5 / 0", "V=0"},
        {"5 % 0", "V=0"},
        {"5u / 0", "V=0"},
        {"(-2147483647 - 1) / -1", "V=-2147483648"},
        {"(-2147483647 - 1) % -1", "V=0"},
        {"2147483647 + 1", "V=-2147483648"},
        {"65536 * 65536 + 3", "V=3"},
        {"1 << 33", "V=2"},
        {"1 << 31", "V=-2147483648"},
        {"(1 << 31) >> 31", "V=-1"},
        {"256 >> -1", "V=0"},   // count -1 & 31 = 31
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ValueOf(c.text), c.dump) << c.text;
    }
}

TEST_F(AtrDefAnalyzerTest, ReadsEnumerationsOfAHeader)
{
    const struct {
        const char* text;
        const char* dump;
    } cases[] = {
        {"enum { A, B, C = 10, D };", "A=0 B=1 C=10 D=11"},
        {"enum { M = 1 << 4, N = M | 1 };", "M=16 N=17"},
        {"typedef enum Kind { K_A = 3, K_B, } Kind;", "K_A=3 K_B=4"},
        {"enum { LAST = 3, // note\n};", "LAST=3"},
        {"enum { LAST = 3, /* note */ };", "LAST=3"},
        {"enum {};\nenum { };", ""},
        {"#define X 5\nenum { Y = 2 };", "Y=2"},
        {"/* enum { HIDDEN }; */ // enum { HIDDEN2 };\nenum { A /* c */ = /* d */ 2 // e\n, B };", "A=2 B=3"},
        {"enum { A = 1 /* x, y } */ + 1 };", "A=2"},
        {"enum { K1 = 5 };\nenum { K1 = K1 + 100, K2 };", "K1=5 K1=105 K2=106"},
        {"enum { TOP = 0x7FFFFFFF, WRAP, NEXT };", "TOP=2147483647 WRAP=-2147483648 NEXT=-2147483647"},
        {"enum { HI = 0xFFFFFFFF, AFTER };", "HI=-1 AFTER=0"},
        {"struct S { int x; };\nenum\n{\n\tTAB\t=\t7\t,\n};", "TAB=7"},
        {"int numberOfThings; enum { AFTER_NAME };", "AFTER_NAME=0"},
        {"enum Forward;", ""},   // no '{': nothing defined
        // "enum Color" naming a type opens no definition: the struct's body
        // behind it is no enumeration.
        {"typedef enum Color Color;\nvoid Paint(enum Color c);\nstruct S { int x; };\nenum Color { RED };",
         "RED=0"},
        {"enum { A }; /* never closed enum { B };", "A=0"},
        {"enum { A }; // enum { B };", "A=0"},
        {"", ""},
    };
    for (const auto& c : cases) {
        AtrDefAnalyzer analyzer;
        EXPECT_EQ(analyzer.AddConstantDefinitionText(c.text), 1) << c.text;
        EXPECT_EQ(Dump(analyzer), c.dump) << c.text;
        EXPECT_EQ(analyzer.CheckError(), 0u) << c.text;
    }
    AtrDefAnalyzer analyzer;
    analyzer.AddConstantDefinitionText("enum { K1 = 5 };\nenum { K1 = K1 + 100 };");
    EXPECT_EQ(analyzer.GetParam("K1"), 105);   // the newest definition answers
    EXPECT_EQ(analyzer.IsParam("k1"), 0);      // case-sensitive
    EXPECT_EQ(analyzer.IsParam("X"), 0);
}

TEST_F(AtrDefAnalyzerTest, RefusesWhatCWouldNotAccept)
{
    const char* const cases[] = {
        "enum { V = W };",           // unknown name
        "enum { A = 1 == 1 };",      "enum { A = 1 != 2 };",     "enum { A = 1 <= 2 };",
        "enum { A = 1 < 2 };",       "enum { A = 2 > 1 };",      "enum { A = 1 && 2 };",
        "enum { A = 1 || 2 };",      "enum { A = 1 ? 2 : 3 };",  "enum { A = 'a' };",
        "enum { A = 1 = 1 };",       "enum { A = 1 <<= 1 };",    "enum { A = \"s\" };",
        "enum { A = 1.5 };",         "enum { A = 1e3 };",        "enum { A = \x82\xa0 };",
        "enum { A = (1 };",          "enum { A = 1) };",         "enum { A = () };",
        "enum { A = 1 + };",         "enum { A = * 2 };",        "enum { A = };",
        "enum { A = 1 2 };",         "enum { A = 2147483648 };", "enum { A = 0x100000000 };",
        "enum { A = 08 };",          "enum { A = 1LL };",        "enum { A = 0x };",
        "enum { A = 12ab };",        "enum { = 3 };",            "enum { , A };",
        "enum { 1A };",              "enum { A B };",            "enum { A; };",
        "enum { A = 1",              "enum { A, B",              "enum { A = 1 // no end",
        "enum { A = 1 /* no end",    "enum { A = 1 /* , */",
    };
    for (const char* text : cases) {
        AtrDefAnalyzer analyzer;
        EXPECT_EQ(analyzer.AddConstantDefinitionText(text), 0) << text;
        EXPECT_NE(analyzer.CheckError(), 0u) << text;
        EXPECT_EQ(analyzer.GetOk(), 0) << text;
    }
}

TEST_F(AtrDefAnalyzerTest, TheOkFlagNeverComesBack)
{
    AtrDefAnalyzer analyzer;
    EXPECT_EQ(analyzer.AddConstantDefinitionText("enum { A = 1 };"), 1);
    EXPECT_EQ(analyzer.AddConstantDefinitionText("enum { V = W };"), 0);
    EXPECT_EQ(analyzer.AddConstantDefinitionText("enum { B = 2 };"), 0);
    EXPECT_EQ(analyzer.GetParam("A"), 1);
    // An unknown name asked for directly also lowers it.
    AtrDefAnalyzer other;
    EXPECT_EQ(other.GetParam("NOPE"), 0);
    EXPECT_EQ(other.AddConstantDefinitionText("enum { C };"), 0);
}

TEST_F(AtrDefAnalyzerTest, AllocationFailureFailsTheDefinition)
{
    AtrDefAnalyzer analyzer;
    CvkHeapSetSystem(nullptr);   // no node, token or constant can be made
    EXPECT_EQ(analyzer.AddConstantDefinitionText("enum { A = 1 + 2 };"), 0);
    CvkHeapSetSystem(&heap.Heap());
    EXPECT_NE(analyzer.CheckError(), 0u);
    EXPECT_EQ(analyzer.IsParam("A"), 0);
}

TEST_F(AtrDefAnalyzerTest, ReadsHeaderFiles)
{
    ASSERT_EQ(CvkInitCorvantaSystem(), 1);
    CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
    char dir[] = "/tmp/atrdef-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string full = std::string(dir) + "/full.h";
    const std::string empty = std::string(dir) + "/empty.h";
    for (const auto& [path, text] : {std::pair{full, "enum { F1 = 4, F2 };\n"}, std::pair{empty, ""}}) {
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs(text, f);
        fclose(f);
    }
    {
        AtrDefAnalyzer analyzer;
        EXPECT_EQ(analyzer.AddConstantDefinition(full.c_str()), 1);
        EXPECT_EQ(analyzer.AddConstantDefinition(empty.c_str()), 1);
        EXPECT_EQ(Dump(analyzer), "F1=4 F2=5");
        // The file layer cannot tell a missing file from an empty one.
        EXPECT_EQ(analyzer.AddConstantDefinition((std::string(dir) + "/none.h").c_str()), 1);
        EXPECT_EQ(analyzer.AddConstantDefinition(full.c_str()), 1);
        EXPECT_EQ(analyzer.GetParam("F2"), 5);
    }
    remove(full.c_str());
    remove(empty.c_str());
    rmdir(dir);
    CvkExitCorvantaSystem();
}

TEST_F(AtrDefAnalyzerTest, LargeAndDeepInput)
{
    {
        // A name of 10,000 characters.
        const std::string name(10000, 'N');
        AtrDefAnalyzer analyzer;
        EXPECT_EQ(analyzer.AddConstantDefinitionText(("enum { " + name + " = 3, B = " + name + " + 1 };").c_str()), 1);
        EXPECT_EQ(analyzer.GetParam(name.c_str()), 3);
        EXPECT_EQ(analyzer.GetParam("B"), 4);
    }
    {
        // Parentheses 100,000 deep and a long chain of operators: no
        // recursion per level.
        const std::string deep = std::string(100000, '(') + "7" + std::string(100000, ')');
        EXPECT_EQ(ValueOf(deep), "V=7");
        std::string chain = "1";
        for (int i = 0; i < 100000; ++i) {
            chain += " + 1";
        }
        EXPECT_EQ(ValueOf(chain), "V=100001");
    }
    {
        // A value that never ends fails at the end of the text.
        std::string endless = "enum { A = 1";
        for (int i = 0; i < 100000; ++i) {
            endless += " + 1";
        }
        AtrDefAnalyzer analyzer;
        EXPECT_EQ(analyzer.AddConstantDefinitionText(endless.c_str()), 0);
    }
}

TEST_F(AtrDefAnalyzerTest, FiftyMegabytesOfEnums)
{
#if !defined(__x86_64__)
    GTEST_SKIP() << "50 MB scan is a stress case for the native build only";
#endif
    // Each enumeration's entries refer to the previous one; the lookups must
    // stay constant-time for this to finish quickly.
    std::string text;
    text.reserve(51u << 20);
    int32_t count = 0;
    while (text.size() < (50u << 20)) {
        text += "enum Block {\n";
        for (int i = 0; i < 1000; ++i, ++count) {
            text += "    ENUMERATOR_" + std::to_string(count) + " = ";
            text += count == 0 ? "0" : "ENUMERATOR_" + std::to_string(count - 1) + " + 3";
            text += ", /* the entry's own comment to make the header as wide as real ones are */\n";
        }
        text += "};\n";
    }
    AtrDefAnalyzer analyzer;
    ASSERT_EQ(analyzer.AddConstantDefinitionText(text.c_str()), 1);
    EXPECT_EQ(analyzer.GetParam(("ENUMERATOR_" + std::to_string(count - 1)).c_str()), (count - 1) * 3);
}

} // namespace
