// Reading and writing attribute texts: the token rules, values and their
// kinds, the Japanese error lines, bad input, deep and large documents.
#include "attribute/AtrDefAnalyzer.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "attribute/tests/AtrTestTree.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeap.h"
#include "kit/CvkStringScan.h"
#include "kit/CvkSystem.h"
#include "platform/PlatformCodePage.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

class AtrParserTest : public atrtest::LiveHeapTest {};

std::string Sjis(const char* utf8) { return PlatformUtf8ToCp932(utf8); }

std::string Str(const CvString& s) { return std::string(s.GetBuffer(), static_cast<size_t>(s.GetLength())); }

std::string DumpValue(AtrData* d)
{
    char buffer[64];
    switch (d->GetType()) {
    case CVK_VARIANT_TYPE_SINT:
        snprintf(buffer, sizeof buffer, "S:%d", d->GetS32());
        return buffer;
    case CVK_VARIANT_TYPE_UINT:
        snprintf(buffer, sizeof buffer, "U:%u", d->GetU32());
        return buffer;
    case CVK_VARIANT_TYPE_FLOAT:
        snprintf(buffer, sizeof buffer, "F:%g", static_cast<double>(d->GetF32()));
        return buffer;
    case CVK_VARIANT_TYPE_STRING:
        return "T:" + Str(d->GetCvString());
    default:
        return "?";
    }
}

// element#flags(attributes)[data]{children}, siblings separated by ' '.
std::string Dump(AtrNode* first)
{
    std::string out;
    for (AtrNode* n = first; n != nullptr; n = n->GetNext()) {
        if (!out.empty()) {
            out += ' ';
        }
        out += Str(n->GetElement());
        if (n->GetFlag() != 0) {
            char buffer[16];
            snprintf(buffer, sizeof buffer, "#%x", n->GetFlag());
            out += buffer;
        }
        if (AtrAttribute* a = n->GetAttribute(0)) {
            out += '(';
            for (; a != nullptr; a = a->GetNext()) {
                out += Str(a->GetName()) + "=" + DumpValue(a->GetData());
                if (a->GetNext() != nullptr) {
                    out += ',';
                }
            }
            out += ')';
        }
        if (AtrData* d = n->GetData(0)) {
            out += '[';
            for (; d != nullptr; d = d->GetNext()) {
                out += DumpValue(d);
                if (d->GetNext() != nullptr) {
                    out += ',';
                }
            }
            out += ']';
        }
        if (n->GetChild(0) != nullptr) {
            out += '{' + Dump(n->GetChild(0)) + '}';
        }
    }
    return out;
}

// Parses with a fresh parser: the dump of the result ("null" on failure)
// and the log.
struct Parsed {
    std::string dump;
    std::string log;
};

Parsed Parse(const std::string& text, AtrDefAnalyzer* constants = nullptr)
{
    AtrParser parser;
    parser.SetDefAnalyzer(constants);
    AtrNode* tree = parser.CreateTreeFromText(text.c_str(), nullptr);
    Parsed r{tree != nullptr ? Dump(tree) : "null", Str(parser.GetErrorLog())};
    AtrNodeDestroyChain(tree);
    return r;
}

// Runs `body` on a thread with a small stack, so that recursion per level
// of a deep document would overflow it.
void OnSmallStack(const std::function<void()>& body)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 512 * 1024);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

struct ReadCase {
    const char* text;
    const char* dump;
};

TEST_F(AtrParserTest, ReadsElementsAttributesAndData)
{
    const ReadCase cases[] = {
        {"<A x = 1, y = \"s\", z = 1.5 />", "A(x=S:1,y=T:s,z=F:1.5)"},
        {"<A>1, 0x10, -2, 2.0, \"t\" </A>", "A[S:1,S:16,S:-2,F:2,T:t]"},
        {"<A>hello world</A>", "A[T:hello world]"},
        {"<!-- note -->", "#10[T: note ]"},
        {"<?xml version=\"1.0\" encoding=\"Shift_JIS\" ?>\n<A/>",
         "xml#8(version=T:1.0,encoding=T:Shift_JIS) A"},
        {"<A ATR_NODE_FLAG = 256 />", "A#100"},
        {"<A ATR_NODE_FLAG = \"0x300\" />", "A#300"},
        {"<A/>\n<B/>\n", "A B"},
        {"<A><B><C/></B><D/></A>", "A{B{C} D}"},
        {"< A >< / A >", "null"},
        {"<\tA\n>\n</ A >", "A"},
        {"<A x = \"sATR_TEXT_DQhiATR_TEXT_DQ\" />", "A(x=T:s\"hi\")"},
        {"<A>ATR_TEXT_DQ</A>", "A[T:\"]"},
        {"<A x = \"Q ATR_TEXT_DQ 0123456789abcdef ATR_TEXT_DQ 0123456789abcdef Q\" />",
         "A(x=T:Q \" 0123456789abcdef \" 0123456789abcdef Q)"},
        {"<A x=-3,y=+1,z=.5 />", "A(x=S:-3,y=S:0,z=F:0.5)"},
        {"<A x = 1e3 />", "A(x=S:1)"},
        {"<A x = \"\", y = 0x1F />", "A(x=T:,y=S:31)"},
        {"<A>1-2 3.5.6 abc</A>", "A[S:1,F:3.5,T:abc]"},
        {"<A>12ab, 0x1G</A>", "A[S:12,S:1]"},
        {"<A>1;x</A>", "A[T:1;x]"},
        {"<A x = >1</A>", "A[S:1]"},
        {"<A> x = 3 </A>", "A[S:3]"},
        {"' line comment\n// another\n/* block\n */<A/>", "A"},
        {"<A/ >/tail</A>", "null"},
        {"<A>\"a, b\",\"c\"</A>", "A[T:a, b,T:c]"},
        {"<A>\"\x82\xa0\"</A>", "A[T:\x82\xa0]"},
        {"<A>abc\x82\xa0</A>", "A[T:abc\x82\xa0]"},
        {"<A>\"A\x82\"</A>", "A[T:A\x82]"},
        {"<A x = \"0123456789abcdef\t\x82\xa0 ghijklmnopqrstuvwxyz \x82\" />",
         "A(x=T:0123456789abcdef\t\x82\xa0 ghijklmnopqrstuvwxyz \x82)"},
        {"", "null"},
    };
    for (const ReadCase& c : cases) {
        EXPECT_EQ(Parse(c.text).dump, c.dump) << c.text;
    }
}

// A text value read after a number is the same value as one built from the
// text: nothing of the number before it is left in it (SetFlag, which works
// on the value word, shows it).
TEST_F(AtrParserTest, TextValuesCarryNothingOfTheValueBefore)
{
    AtrParser parser;
    AtrNode* tree = parser.CreateTreeFromText("<A n = 5, s = \"x\">7, \"y\"</A>", nullptr);
    ASSERT_NE(tree, nullptr);
    AtrAttribute* s = tree->GetAttribute("s", 0);
    ASSERT_NE(s, nullptr);
    s->SetFlag(~0u, 0);
    EXPECT_EQ(s->GetU32(), 0u);
    AtrData* y = tree->GetData(1);
    ASSERT_NE(y, nullptr);
    y->SetFlag(~0u, 0);
    EXPECT_EQ(y->GetU32(), 0u);
    AtrNodeDestroyChain(tree);
}

// Reads `values` as the data of one element: each must come back as one
// value of `type`, which `check` compares with its text.
void ReadEachValue(const std::vector<std::string>& values, CVK_VARIANT_TYPE type,
                   const std::function<void(const AtrData&, const std::string&)>& check)
{
    std::string text = "<A>";
    for (const std::string& v : values) {
        text += v + " ";
    }
    text += "</A>";
    AtrParser parser;
    AtrNode* tree = parser.CreateTreeFromText(text.c_str(), nullptr);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->GetDataSize(), static_cast<int32_t>(values.size()));
    size_t i = 0;
    for (AtrData* d = tree->GetData(0); d != nullptr && i < values.size(); d = d->GetNext(), ++i) {
        EXPECT_EQ(d->GetType(), type) << values[i];
        check(*d, values[i]);
    }
    AtrNodeDestroyChain(tree);
}

TEST_F(AtrParserTest, RealsReadAsAtofReadsThem)
{
    // Short decimals, long ones, exponents, extra points, signs: the
    // value must be bit for bit what atof gives.
    std::vector<std::string> values = {"0.1", "-0.0", "+2.5", ".5", "7.", "1.5.6", "123456789012345.6",
                                       "1.2345678901234567", "0.000000000000000001", "1.5e3", "0.3",
                                       "340282356779733661637539395458142568447.9", "3.4028236e38.5", "1.0e-50"};
    uint32_t seed = 7;
    for (int i = 0; i < 2000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int whole = static_cast<int>(seed >> 12) % 100000;
        seed = seed * 1664525u + 1013904223u;
        const int places = 1 + static_cast<int>(seed >> 28) % 9;
        seed = seed * 1664525u + 1013904223u;
        char buffer[64];
        snprintf(buffer, sizeof buffer, "%s%d.%0*u", (seed & 1) ? "-" : "", whole, places,
                 (seed >> 4) % 1000000000u);
        values.push_back(buffer);
    }
    ReadEachValue(values, CVK_VARIANT_TYPE_FLOAT, [](const AtrData& d, const std::string& v) {
        const float expected = static_cast<float>(atof(v.c_str()));
        const float got = d.GetF32();
        EXPECT_EQ(memcmp(&expected, &got, sizeof got), 0) << v << " gave " << got;
    });
}

TEST_F(AtrParserTest, IntegersReadAsCvkStringCnvAtoIReadsThem)
{
    // Decimals up to and past the 32-bit range, hexadecimals of any length,
    // signs and prefixes out of place: each value is what CvkStringCnvAtoI
    // gives for its text.
    std::vector<std::string> values = {"0",          "-0",         "-",          "007",        "999999999",
                                       "1000000000", "4294967295", "4294967296", "-2147483648", "12345678901234567890",
                                       "0x",         "0x1f",       "0xFFFFFFFF", "0x123456789", "0X1F",
                                       "-0x10",      "00x5",       "1e5",        "0xff00ffz",  "12ab",
                                       "9999999999999999999", "-18446744073709551615"};
    uint32_t seed = 11;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < 2000; ++i) {
        char buffer[32];
        const unsigned digits = 1 + (next() >> 28) % 12;
        std::string number = (next() & 1) != 0 ? "-" : "";
        for (unsigned k = 0; k < digits; ++k) {
            number += static_cast<char>('0' + (next() >> 20) % 10);
        }
        values.push_back(number);
        snprintf(buffer, sizeof buffer, "0x%0*X", static_cast<int>(1 + (next() >> 28) % 10), next());
        values.push_back(buffer);
    }
    ReadEachValue(values, CVK_VARIANT_TYPE_SINT, [](const AtrData& d, const std::string& v) {
        EXPECT_EQ(d.GetU32(), CvkStringCnvAtoI(v.c_str())) << v;
    });
}

TEST_F(AtrParserTest, TopLevelNodesFormOneChain)
{
    AtrParser parser;
    AtrNode* first = parser.CreateTreeFromText("<A/><B/>", nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->GetNext(), nullptr);
    EXPECT_EQ(Str(first->GetNext()->GetElement()), "B");
    EXPECT_EQ(first->GetParent(), nullptr);
    EXPECT_EQ(first->GetNext()->GetParent(), nullptr);
    AtrNodeDestroyChain(first);
}

TEST_F(AtrParserTest, GivenRootReceivesTheNodesAndKeepsThemOnFailure)
{
    AtrNode* root = AtrNode::Create(nullptr, CvString("R"));
    {
        AtrParser parser;
        EXPECT_EQ(parser.CreateTreeFromText("<A/>1<B/>", root), root);
        EXPECT_EQ(Dump(root), "R[S:1]{A B}");
    }
    {
        // Without a blank before "/>" the last value runs into the '/': the
        // tag then ends at '>' and the element stays open.
        AtrParser parser;
        EXPECT_EQ(parser.CreateTreeFromText("<C x = 1, y = \"s\", z = 1.5/>\n", root), nullptr);
        EXPECT_EQ(Dump(root), "R[S:1]{A B C(x=S:1,y=T:s,z=T:1.5/)}");
    }
    AtrNode::Destroy(root, nullptr);
}

TEST_F(AtrParserTest, ConstantsComeFromTheDefinitionAnalyzer)
{
    {
        // A lent analyzer: constants as attribute values, as flags (no
        // attribute) and as data; the comma behind a constant is consumed.
        AtrDefAnalyzer constants;
        ASSERT_EQ(constants.AddConstantDefinitionText("enum { RED = 0xFF0000, BIG = 1 << 9 };"), 1);
        EXPECT_EQ(Parse("<A c = RED, ATR_NODE_FLAG = BIG>RED,RED BLUE</A>", &constants).dump,
                  "A#200(c=S:16711680)[S:16711680,S:16711680,T:BLUE]");
    }
    // Without definitions no name is a constant.
    EXPECT_EQ(Parse("<A>RED</A>").dump, "A[T:RED]");
    {
        // The parser's own analyzer reads header files.
        ASSERT_EQ(CvkInitCorvantaSystem(), 1);
        CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
        char dir[] = "/tmp/atrparser-defs-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        const std::string header = std::string(dir) + "/kinds.h";
        FILE* f = fopen(header.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs("enum Kind { KIND_LABEL = 1, KIND_BUTTON };\n", f);
        fclose(f);
        {
            AtrParser parser;
            EXPECT_EQ(parser.AddConstantDefinition(header.c_str()), 1);
            AtrNode* tree = parser.CreateTreeFromText("<Item kind = KIND_BUTTON>KIND_LABEL</Item>", nullptr);
            EXPECT_EQ(Dump(tree), "Item(kind=S:2)[S:1]");
            AtrNodeDestroyChain(tree);
        }
        remove(header.c_str());
        rmdir(dir);
        CvkExitCorvantaSystem();
    }
}

struct ErrorCase {
    const char* text;
    const char* log; // UTF-8; converted to Shift_JIS for the comparison
};

TEST_F(AtrParserTest, BadInputFailsWithLineNumberedMessages)
{
    const ErrorCase cases[] = {
        // mismatched close tags
        {"<A></B>", "[1行目] : Aが閉じられる前にBが閉じられています。\n"},
        {"<A>\n<B>\n</A>", "[3行目] : Bが閉じられる前にAが閉じられています。\n"},
        {"<A/></A>", "[1行目] : _ATR_ROOTが閉じられる前にAが閉じられています。\n"},
        // stray bytes
        {"<A>\n' c\n// d\n/* e\nf */\n\x01</A>", "[6行目] : トークンが不正です。\n"},
        {"<A x = 1 @ />", "[1行目] : トークンが不正です。\n"},
        {"<A 5 />", "[1行目] : トークンが不正です。\n"},
        {"<A>?</A>", "[1行目] : トークンが不正です。\n"},
        {"<A>=</A>", "[1行目] : トークンが不正です。\n"},
        {"<A>1,,2</A>", "[1行目] : トークンが不正です。\n"},
        {"<A>></A>", ""},
        {"<!x>", ""},
        {"<1/>", ""},
        // Shift_JIS lead bytes, also at the very end of the text
        {"<A>\x82\xa0</A>", "[1行目] : トークンが不正です。\n"},
        {"<A>\x82", "[1行目] : トークンが不正です。\n"},
        {"<A>abc\x82", "[1行目] : 不正な終了。\n"},
        {"<A>\"\x82", ""},
        {"<A x = \"\x82", "[1行目] : トークンが不正です。\n"},
        // unterminated quotes, comments and tags
        {"<A>\"abc", ""},
        {"<A>\"ab\x01\"</A>", ""},
        {"<A x = \"abc\n\n", "[3行目] : トークンが不正です。\n"},
        // the same inside texts longer than a 16-byte block
        {"<A x = \"0123456789abcdefghij\n\n0123456789abcdefghij\x01 and more text after it\" />",
         "[3行目] : トークンが不正です。\n"},
        {"<A x = \"0123456789\t\x82\xa0\n0123456789abcdefghij\x7f 0123456789abcdefghij\" />",
         "[2行目] : トークンが不正です。\n"},
        {"<A>\"0123456789abcdef\n0123456789abcdef\n0123456789\"\n@</A>", "[4行目] : トークンが不正です。\n"},
        {"<!-- abc", ""},
        {"<A>/* abc", ""},
        {"<A>\n", ""},
        {"<A>1", ""},
        {"<A><B>", ""},
        {"<A x = 1", "[1行目] : 不正な終了。\n"},
        {"<A\n", "[2行目] : 不正な終了。\n"},
        {"<A>text without end", "[1行目] : 不正な終了。\n"},
        {"<A x = 12a;\n\n", "[3行目] : 不正な終了。\n"},
        {"</A", ""},
    };
    for (const ErrorCase& c : cases) {
        const Parsed r = Parse(c.text);
        EXPECT_EQ(r.dump, "null") << c.text;
        EXPECT_EQ(r.log, Sjis(c.log)) << c.text << " gave " << PlatformCp932ToUtf8(r.log);
    }
}

TEST_F(AtrParserTest, AFailedParserFailsEveryLaterReading)
{
    AtrParser parser;
    EXPECT_EQ(parser.CreateTreeFromText("<A>\n\n</B>", nullptr), nullptr);
    EXPECT_NE(parser.CheckError(), 0u);
    EXPECT_EQ(parser.GetLine(), 3);
    EXPECT_EQ(parser.CreateTreeFromText("<A>\x01", nullptr), nullptr);
    EXPECT_EQ(parser.CreateTreeFromText("<A/>", nullptr), nullptr);
    EXPECT_EQ(Str(parser.GetErrorLog()), Sjis("[3行目] : Aが閉じられる前にBが閉じられています。\n"
                                              "[1行目] : トークンが不正です。\n"));
}

std::string Write(const char* text, int32_t quoted)
{
    AtrParser parser;
    AtrNode* tree = parser.CreateTreeFromText(text, nullptr);
    EXPECT_NE(tree, nullptr) << text;
    const std::string out = Str(parser.WriteTree(tree, quoted));
    AtrNodeDestroyChain(tree);
    return out;
}

TEST_F(AtrParserTest, WritesTokenByToken)
{
    const struct {
        const char* text;
        int32_t quoted;
        const char* written;
    } cases[] = {
        {"<A x = 1, y = \"sATR_TEXT_DQ\", z = 2.5, w = 2.0><B/>1, 2.0, 2.5, \"t\"</A>", 0,
         "<A x = 1, y = \"sATR_TEXT_DQ\", z = 2.500000, w = 2.0>\n\t1,\n\t2.0,\n\t2.500000,\n\t\"t\",\n\t<B />\n</A>\n"},
        {"<A x = 1, z = 2.0>7</A>", 1,
         "<?xml version=\"1.0\" encoding=\"Shift_JIS\" ?>\n<A x = \"1\" z = \"2.000000\">\n\t7,\n</A>\n"},
        {"<!-- note -->", 0, "<!-- note -->\n"},
        {"<?xml version=\"1.0\" ?><A/>", 1, "<?xml version = \"1.0\" encoding = \"Shift_JIS\" ?>\n<A />\n"},
        {"<?xml version=\"1.0\" ?><A/>", 0, "<?xml version = \"1.0\" ?>\n<A />\n"},
        {"<A ATR_NODE_FLAG = 0x300, x = 1 />", 0, "<A ATR_NODE_FLAG = 768, x = 1 />\n"},
        {"<A ATR_NODE_FLAG = 0x300 />", 1,
         "<?xml version=\"1.0\" encoding=\"Shift_JIS\" ?>\n<A ATR_NODE_FLAG = \"768\" />\n"},
        {"<A><B><C>\"x\"</C></B></A><D/>", 0,
         "<A>\n\t<B>\n\t\t<C>\n\t\t\t\"x\",\n\t\t</C>\n\t</B>\n</A>\n<D />\n"},
        {"<X><xml/></X>", 1, "<X>\n\t<xml encoding = \"Shift_JIS\" />\n</X>\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Write(c.text, c.quoted), c.written) << c.text;
    }
}

// Numbers are written as printf writes "%d", "%f" and "%.1f" (the latter
// for whole reals): edge values, ties at the last digit, tiny, huge and
// special floats, and a spread of bit patterns.
TEST_F(AtrParserTest, WrittenNumbersMatchPrintf)
{
    std::vector<float> floats = {0.0f, -0.0f, 0.5f, 0.0078125f, -0.0078125f, 0.0000005f, 0.0000015f, 1e-7f,
                                 1e-8f, -1e-9f, 2.5f, -3.75f, 123456.789f, 16777216.0f, 2147483648.0f, 1e10f,
                                 1.1e12f, 5e11f + 0.5f, 3e38f, -3.4e38f, 1e-45f, 1.17549435e-38f};
    floats.push_back(std::numeric_limits<float>::infinity());
    floats.push_back(-std::numeric_limits<float>::infinity());
    floats.push_back(std::numeric_limits<float>::quiet_NaN());
    uint32_t state = 12345;
    for (int i = 0; i < 20000; ++i) {
        state = state * 1664525u + 1013904223u;
        uint32_t bits = state;
        if (i % 2 == 0) {
            bits = (bits & 0x807FFFFFu) | ((100u + (state >> 27)) << 23); // magnitudes near 1
        }
        float f;
        memcpy(&f, &bits, sizeof f);
        floats.push_back(f);
    }
    const std::vector<int32_t> ints = {0, 7, -1, INT32_MIN, INT32_MAX, 1000000, -99999};

    AtrNode* data = AtrNode::Create(nullptr, "N");
    AtrNode* attributes = AtrNode::Create(nullptr, "A");
    std::string expectData = "<N>\n";
    std::string expectAttributes = "<?xml version=\"1.0\" encoding=\"Shift_JIS\" ?>\n<A";
    char buffer[128];
    for (float f : floats) {
        data->AddData(f);
        attributes->AddAttribute("f", f);
        double whole;
        const bool isWhole = std::fabs(std::modf(static_cast<double>(f), &whole)) < 1e-7;
        snprintf(buffer, sizeof buffer, isWhole ? "\t%.1f,\n" : "\t%f,\n", static_cast<double>(f));
        expectData += buffer;
        snprintf(buffer, sizeof buffer, " f = \"%f\"", static_cast<double>(f));
        expectAttributes += buffer;
    }
    for (int32_t v : ints) {
        data->AddData(v);
        attributes->AddAttribute("i", v);
        snprintf(buffer, sizeof buffer, "\t%d,\n", v);
        expectData += buffer;
        snprintf(buffer, sizeof buffer, " i = \"%d\"", v);
        expectAttributes += buffer;
    }
    expectData += "</N>\n";
    expectAttributes += " />\n";
    AtrParser parser;
    const std::string writtenData = Str(parser.WriteTree(data, 0));
    const std::string writtenAttributes = Str(parser.WriteTree(attributes, 1));
    EXPECT_EQ(parser.CheckError(), 0u);
    AtrNode::Destroy(data);
    AtrNode::Destroy(attributes);
    // Line by line, so that a difference shows the value.
    auto lines = [](const std::string& text, char separator) {
        std::vector<std::string> out;
        size_t from = 0;
        for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1) {
            out.push_back(text.substr(from, at - from));
        }
        out.push_back(text.substr(from));
        return out;
    };
    EXPECT_EQ(lines(writtenData, '\n'), lines(expectData, '\n'));
    EXPECT_EQ(lines(writtenAttributes, '"'), lines(expectAttributes, '"'));
}

TEST_F(AtrParserTest, WrittenTextReadsBackAsTheSameTree)
{
    const char* texts[] = {
        "<M id = 3, name = \"Top ATR_TEXT_DQmenuATR_TEXT_DQ\", scale = 0.25, w = 2.0>"
        "<!-- items -->"
        "<I ATR_NODE_FLAG = 256, k = -7>1, -2, 3.75, \"\x82\xa0\"</I>"
        "<?pi a = 1 ?>"
        "<E/></M><N/>",
        "<A>\"a, b\"</A>",
        "<?xml version = 1 ?><B x = 1 ATR_NODE_FLAG = 8 />",
    };
    for (const char* text : texts) {
        AtrParser parser;
        AtrNode* tree = parser.CreateTreeFromText(text, nullptr);
        ASSERT_NE(tree, nullptr) << text;
        const std::string written = Str(parser.WriteTree(tree, 0));
        AtrParser again;
        AtrNode* back = again.CreateTreeFromText(written.c_str(), nullptr);
        ASSERT_NE(back, nullptr) << written;
        EXPECT_EQ(Dump(back), Dump(tree)) << written;
        AtrNodeDestroyChain(back);
        AtrNodeDestroyChain(tree);
    }
    // Quoted: numbers come back as texts, and the declaration as a node.
    AtrParser parser;
    AtrNode* tree = parser.CreateTreeFromText("<A x = 1, y = 2.5 />", nullptr);
    const std::string written = Str(parser.WriteTree(tree, 1));
    AtrNodeDestroyChain(tree);
    EXPECT_EQ(Parse(written).dump, "xml#8(version=T:1.0,encoding=T:Shift_JIS) A(x=T:1,y=T:2.500000)");
}

TEST_F(AtrParserTest, WriteAttributeGivesOneEmptyTag)
{
    AtrParser parser;
    AtrNode* tree = parser.CreateTreeFromText("<A ATR_NODE_FLAG = 256, x = 1, y = \"q\" >2</A>", nullptr);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(Str(parser.WriteAttribute(tree, 0)), "<A x = 1, y = \"q\"/>\n");
    EXPECT_EQ(Str(parser.WriteAttribute(tree, 1)), "<A x = \"1\" y = \"q\"/>\n");
    AtrNodeDestroyChain(tree);
}

TEST_F(AtrParserTest, DeepNestingNeedsNoStack)
{
    constexpr int kDepth = 100000;
    std::string text;
    text.reserve(kDepth * 8);
    for (int i = 0; i < kDepth; ++i) {
        text += "<A>";
    }
    text += "1";
    for (int i = 0; i < kDepth; ++i) {
        text += "</A>";
    }
    AtrNode* tree = nullptr;
    int depth = 0;
    OnSmallStack([&] {
        AtrParser parser;
        tree = parser.CreateTreeFromText(text.c_str(), nullptr);
        for (AtrNode* n = tree; n != nullptr; n = n->GetChild(0)) {
            ++depth;
        }
    });
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(depth, kDepth);

    // Writing a chain that deep would take about 10^10 indent bytes; a
    // 3,000-level one (about 9 MB) is written on the same small stack.
    constexpr int kWriteDepth = 3000;
    AtrNode* leaf = tree;
    for (int i = 1; i < kWriteDepth; ++i) {
        leaf = leaf->GetChild(0);
    }
    AtrNode* rest = leaf->GetChild(0);
    rest->Cut();
    AtrNode::Destroy(rest, nullptr);
    std::string written;
    OnSmallStack([&] {
        AtrParser parser;
        written = Str(parser.WriteTree(tree, 0));
    });
    AtrNode::Destroy(tree, nullptr);
    size_t expected = 0;
    for (int d = 0; d < kWriteDepth - 1; ++d) {
        expected += 2u * d + 9u; // "<A>\n" and "</A>\n" behind d TABs each
    }
    expected += kWriteDepth - 1 + 6u; // the leaf "<A />\n"
    EXPECT_EQ(written.size(), expected);
    EXPECT_EQ(written.substr(written.size() - 5), "</A>\n");

    // Unclosed at depth: the end of the text is a failure.
    AtrParser parser;
    EXPECT_EQ(parser.CreateTreeFromText(text.substr(0, text.size() / 2).c_str(), nullptr), nullptr);
}

TEST_F(AtrParserTest, LargeDocument)
{
    std::string text;
    int items = 0;
    while (text.size() < 5u * 1024 * 1024) {
        text += "<Screen id = " + std::to_string(items) + ", title = \"Menu\", w = 1280, h = 720.5>\n";
        for (int i = 0; i < 8; ++i, ++items) {
            text += "\t<Item id = " + std::to_string(i) + ", label = \"Item ATR_TEXT_DQ" + std::to_string(items) +
                    "\", color = 0xFF00FF00, alpha = 0.5>1, 2, 3.5, \"x\"</Item>\n";
        }
        text += "</Screen>\n";
    }
    AtrParser parser;
    AtrNode* tree = parser.CreateTreeFromText(text.c_str(), nullptr);
    ASSERT_NE(tree, nullptr);
    int screens = 0;
    int found = 0;
    for (AtrNode* s = tree; s != nullptr; s = s->GetNext()) {
        ++screens;
        for (AtrNode* i = s->GetChild(0); i != nullptr; i = i->GetNext()) {
            found += i->GetDataSize() == 4 ? 1 : 0;
        }
    }
    EXPECT_EQ(found, items);
    EXPECT_EQ(screens * 8, items);
    const std::string written = Str(parser.WriteTree(tree, 0));
    AtrParser again;
    AtrNode* back = again.CreateTreeFromText(written.c_str(), nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(Str(again.WriteTree(back, 0)), written);
    AtrNodeDestroyChain(back);
    AtrNodeDestroyChain(tree);
}

// Names and short texts repeat and are shared between values; thousands of
// distinct ones of every length around the sharing limit (40 bytes), used
// as names and values in turn and out of order, must each read back as
// exactly their own bytes, including a value in the last bytes of the text.
TEST_F(AtrParserTest, RepeatedNamesAndTextsReadBackExactly)
{
    const int kCount = 6000;
    auto token = [](int i) {
        std::string t = "a" + std::to_string(i) + "_";
        const size_t length = 1 + static_cast<size_t>(i * 7) % 46;
        while (t.size() < length) {
            t.push_back(static_cast<char>('b' + (t.size() + static_cast<size_t>(i)) % 24));
        }
        return t;
    };
    auto valueOf = [&](int i) { return token((i * 31 + 7) % kCount); };
    std::string text;
    for (int i = 0; i < kCount; ++i) {
        const std::string t = token(i);
        text += "<E" + t + " " + t + " = \"" + valueOf(i) + "\", k = \"" + t + "\">\"" + valueOf(i) + "\", \"" + t +
                "\"</E" + t + ">\n";
    }
    text += "<z q = \"ab\"/>";
    AtrParser parser;
    AtrNode* tree = parser.CreateTreeFromText(text.c_str(), nullptr);
    ASSERT_NE(tree, nullptr) << Str(parser.GetErrorLog());
    int i = 0;
    AtrNode* n = tree;
    for (; i < kCount && n != nullptr; ++i, n = n->GetNext()) {
        const std::string t = token(i);
        const std::string v = valueOf(i);
        ASSERT_EQ(Str(n->GetElement()), "E" + t);
        ASSERT_EQ(n->GetAttributeSize(), 2);
        ASSERT_EQ(Str(n->GetAttribute(0)->GetName()), t);
        ASSERT_EQ(Str(n->GetAttribute(0)->GetCvString()), v);
        ASSERT_EQ(Str(n->GetAttribute(1)->GetName()), "k");
        ASSERT_EQ(Str(n->GetAttribute(1)->GetCvString()), t);
        ASSERT_EQ(n->GetDataSize(), 2);
        ASSERT_EQ(DumpValue(n->GetData(0)), "T:" + v);
        ASSERT_EQ(DumpValue(n->GetData(1)), "T:" + t);
    }
    ASSERT_EQ(i, kCount);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(Dump(n), "z(q=T:ab)");
    AtrNodeDestroyChain(tree);
}

TEST_F(AtrParserTest, WritesAndReadsFiles)
{
    ASSERT_EQ(CvkInitCorvantaSystem(), 1);
    CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
    const std::string path = std::string(LUMIVOR_BINARY_DIR) + "/AtrParserTest_file.txt";
    {
        AtrParser parser;
        AtrNode* tree = parser.CreateTreeFromText("<A x = 1>\"t\"<B/></A>", nullptr);
        ASSERT_NE(tree, nullptr);
        const std::string written = Str(parser.WriteTree(tree, 0));
        EXPECT_EQ(parser.OutputTree(tree, path.c_str(), 0), 1);
        EXPECT_EQ(parser.GetFileSize(), written.size());
        AtrNodeDestroyChain(tree);

        AtrParser reader;
        AtrNode* back = reader.CreateTreeFromFile(path.c_str(), nullptr);
        EXPECT_EQ(back != nullptr ? Dump(back) : "null", "A(x=S:1)[T:t]{B}");
        EXPECT_EQ(reader.GetFileSize(), written.size());
        AtrNodeDestroyChain(back);

        AtrParser missing;
        EXPECT_EQ(missing.CreateTreeFromFile((path + ".none").c_str(), nullptr), nullptr);
        EXPECT_NE(missing.CheckError(), 0u);
        EXPECT_EQ(missing.GetFileSize(), 0u);
    }
    std::remove(path.c_str());
    CvkExitCorvantaSystem();
}

TEST_F(AtrParserTest, AllocationFailureFailsTheReading)
{
    // With the system slot empty no node can be made.
    AtrParser parser;
    CvkHeapSetSystem(nullptr);
    EXPECT_EQ(parser.CreateTreeFromText("<A/>", nullptr), nullptr);
    CvkHeapSetSystem(&systemHeap);
    EXPECT_NE(parser.CheckError(), 0u);
}

} // namespace
