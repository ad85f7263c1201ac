// The parser and code generator: statement layouts and expressions checked
// word by word, the constant table and string pool, the image in both byte
// orders, the debug chunk, and every error the parser reports.
#include "attribute/AtrNode.h"
#include "dresser/CvkScriptDebugInfo.h"
#include "dresser/DrsCompileOption.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsLexer.h"
#include "dresser/DrsParser.h"
#include "dresser/DrsScriptView.h"
#include "kit/CvkEndian.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Words = std::vector<uint16_t>;

struct Result {
    int32_t ok = 0;
    std::string log;
    int32_t errors = 0;
    Words code;
    std::vector<uint8_t> image;
    DrsScriptView view;
};

class DrsParserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CvkHeapSetSystem(&heap);
        CvkInitCorvantaSystem();
        CvkEndianSetTarget(0);
    }
    void TearDown() override
    {
        DrsExitErrorInfo();
        CvkEndianSetTarget(0);
        CvkExitCorvantaSystem();
        CvkHeapSetSystem(nullptr);
    }

    // A fresh log whose message for code N is "EN", so that entries read
    // "0003 E7" or, with an argument, "0003 nameE7".
    static void StartLog()
    {
        DrsInitErrorInfo(nullptr);
        AtrNode* root = AtrNode::Create(nullptr, "root");
        AtrNode* messages = root->AddChild(DRS_MESSAGE_NODE_NAME);
        for (int code = 0; code < DRS_LOG_CODE_NUM; ++code) messages->AddData(("E" + std::to_string(code)).c_str());
        DrsGetErrorInfo()->SetMessageTree(root);
    }

    // One instruction group from code 100: Play (1-2 arguments), Stop (none),
    // Show (0-16).
    static void RegisterInstructions(DrsLexer* lexer)
    {
        AtrNode* root = AtrNode::Create(nullptr, "root");
        AtrNode* group = root->AddChild("Media");
        group->AddAttribute("Base", int32_t(100));
        AtrNode* play = group->AddChild("Play");
        play->AddAttribute("Min", int32_t(1));
        play->AddAttribute("Max", int32_t(2));
        group->AddChild("Stop");
        AtrNode* show = group->AddChild("Show");
        show->AddAttribute("Max", int32_t(16));
        lexer->RegistInstruction(root);
        AtrNode::Destroy(root);
    }

    static Result Compile(const std::string& text, uint32_t warnings = 0, const CvkScriptDebugInfo* debug = nullptr,
                          int32_t fixedShift = 0)
    {
        Result r;
        StartLog();
        DrsCompileOption option = {0, fixedShift, debug != nullptr ? 1u : 0u, warnings};
        DrsLexer lexer;
        RegisterInstructions(&lexer);
        DrsParser parser;
        // As the compiler driver: the parser runs when the lexer counted no
        // error (a parenthesis left open is the parser's to report).
        lexer.CreateToken(text.c_str(), &option);
        const bool parsed = DrsGetErrorCount() == 0;
        if (parsed) r.ok = parser.Compile(&lexer, &option, debug);
        r.errors = DrsGetErrorCount();
        const CvString* log = DrsGetErrorLog();
        if (log->GetLength() > 0) r.log.assign(log->GetBuffer(), size_t(log->GetLength()));
        r.code.assign(parser.GetCode(), parser.GetCode() + parser.GetCodeCount());
        if (void* image = parsed ? parser.OutputChunk(nullptr) : nullptr) {
            r.image.assign(static_cast<uint8_t*>(image), static_cast<uint8_t*>(image) + parser.GetChunkSize());
            CvkHeapGetMain()->Free(image);
            std::string why;
            EXPECT_TRUE(DrsReadScriptImage(r.image.data(), r.image.size(), &r.view, &why)) << why;
            // The image's code is the parser's, then fewer than 16 bytes of padding.
            EXPECT_GE(r.view.code.size(), r.code.size());
            EXPECT_LT(r.view.code.size() - r.code.size(), 8u);
            EXPECT_TRUE(std::equal(r.code.begin(), r.code.end(), r.view.code.begin()));
        }
        return r;
    }

    // The code of a one-module script whose body is `body`, after `decls`.
    static Words ModuleCode(const std::string& body)
    {
        Result r = Compile("module m() {\n" + body + "\n}\n");
        EXPECT_EQ(r.ok, 1) << r.log;
        return r.code;
    }

    CvkHeapSimple heap{nullptr, 0, 16};
};

TEST_F(DrsParserTest, CompilesExpressionsWithTheLanguagesPrecedence)
{
    const std::string decl = "variant a; variant b; variant c; variant x;\n";
    struct Case {
        const char* body;
        Words code;
    } cases[] = {
        // Assignment is right-associative, binary operators left-associative.
        {"a = b = 1;", {44, 36, 0, 36, 1, 31, 1, 0, 0, 27}},
        {"a - b - c;", {44, 36, 0, 36, 1, 3, 36, 2, 3, 27}},
        // << binds as strongly as the unary operators.
        {"x = 1 << 2 + 3;", {44, 36, 3, 31, 1, 31, 2, 10, 31, 3, 2, 0, 27}},
        // & and | bind more weakly than comparisons; && and || share a level.
        {"x = a & b == c;", {44, 36, 3, 36, 0, 36, 1, 36, 2, 16, 12, 0, 27}},
        {"x = a || b && c;", {44, 36, 3, 36, 0, 36, 1, 21, 36, 2, 20, 0, 27}},
        {"x = (a + b) * c;", {44, 36, 3, 36, 0, 36, 1, 2, 36, 2, 4, 0, 27}},
        {"x = -a * b % c;", {44, 36, 3, 36, 0, 7, 36, 1, 4, 36, 2, 6, 0, 27}},
        {"x = (!a);", {44, 36, 3, 36, 0, 1, 0, 27}},
        {"a++; b--;", {44, 36, 0, 8, 44, 36, 1, 9, 27}},
        {"x = -5 + 70000;", {44, 36, 3, 31, 0xFFFB, 32, 0, 2, 0, 27}},
        {"x = \"menu\";", {44, 36, 3, 35, 0, 0, 27}},
        // Calls of instructions: 42 argc 40 {44 E 43 i} 30 code.
        {"Play(a, 2);", {44, 42, 2, 40, 44, 36, 0, 43, 0, 44, 31, 2, 43, 1, 30, 100, 27}},
        {"x = Stop();", {44, 36, 3, 42, 0, 40, 30, 101, 0, 27}},
    };
    for (const Case& c : cases) EXPECT_EQ(ModuleCode(decl + c.body), c.code) << c.body;
}

TEST_F(DrsParserTest, CompilesStatementLayouts)
{
    const std::string decl = "variant k; variant x;\n";
    struct Case {
        const char* body;
        Words code;
        std::vector<uint32_t> constants;
    } cases[] = {
        // if without else: both pairs 45 1; else target after the first.
        {"if (k) { x = 1; }", {44, 36, 0, 22, 0, 1, 44, 36, 1, 31, 1, 0, 45, 1, 45, 1, 27}, {14, 16}},
        {"if (k) { } else { x = 1; }", {44, 36, 0, 22, 0, 1, 45, 1, 44, 36, 1, 31, 1, 0, 45, 1, 27}, {8, 16}},
        // else if: the nested if is the else part.
        {"if (k) { } else if (x) { }",
         {44, 36, 0, 22, 0, 3, 45, 1, 44, 36, 1, 22, 1, 2, 45, 1, 45, 1, 45, 1, 27}, {8, 16, 18, 20}},
        {"while (k) { x = 1; }", {44, 36, 0, 24, 0, 1, 44, 36, 1, 31, 1, 0, 45, 2, 27}, {0, 14}},
        {"loop { }", {25, 0, 44, 31, 1, 28, 45, 2, 27}, {8}},
        {"while (k) { continue; }", {44, 36, 0, 24, 0, 1, 45, 2, 45, 2, 27}, {0, 10}},
        {"loop { continue; }", {25, 0, 44, 31, 1, 28, 45, 2, 44, 31, 1, 28, 45, 2, 27}, {14}},
        {"while (k) { break; }", {44, 36, 0, 24, 0, 1, 45, 3, 45, 2, 27}, {0, 10}},
        // A trailing break leaves no second 45 4.
        {"switch (k) { case 1: x = 1; break; }",
         {44, 36, 0, 23, 1, 2, 1, 1, 0, 0, 44, 36, 1, 31, 1, 0, 45, 4, 27}, {10, 18, 0}},
        {"switch (k) { case 1: x = 1; }",
         {44, 36, 0, 23, 1, 2, 1, 1, 0, 0, 44, 36, 1, 31, 1, 0, 45, 4, 27}, {10, 18, 0}},
        // Three cases reserve three pairs and a 0; default sets its target.
        {"switch (k) { case 1: case -2: default: case 3: }",
         {44, 36, 0, 23, 1, 0, 3, 1, 0, 0xFFFE, 0, 3, 0, 0, 45, 4, 27}, {14, 16}},
        {"synch(); synch(k + 1);", {44, 31, 1, 28, 44, 36, 0, 31, 1, 2, 28, 27}, {}},
        {"return;", {27}, {}},
        {"return k;", {44, 36, 0, 27, 27}, {}},
        {"top: x = 1; goto top;", {44, 36, 1, 31, 1, 0, 26, 0, 27}, {0}},
    };
    for (const Case& c : cases) {
        Result r = Compile("module m() {\n" + decl + c.body + "\n}\n");
        EXPECT_EQ(r.ok, 1) << c.body << "\n" << r.log;
        EXPECT_EQ(r.code, c.code) << c.body;
        EXPECT_EQ(r.view.constants, c.constants) << c.body;
    }
}

TEST_F(DrsParserTest, SharesConstantsBetweenValuesAndJumpTargets)
{
    Result r = Compile("module m() { variant x; x = 100000; x = 100000; x = 1.5; x = 1.5; x = \"a\"; x = \"a\"; }");
    ASSERT_EQ(r.ok, 1) << r.log;
    float f = 1.5f;
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    EXPECT_EQ(r.view.constants, (std::vector<uint32_t>{100000, bits}));
    EXPECT_EQ(r.view.strings, (std::vector<std::string>{"a"}));

    // x = 40000; x = 1; then 9997 statements of 4 words put the while's
    // condition at word 40000: its start target reuses the constant 40000.
    std::string body = "variant x; x = 40000; x = 1;";
    for (int i = 0; i < 9997; ++i) body += " x++;";
    body += " while (x) { }";
    r = Compile("module m() { " + body + " }");
    ASSERT_EQ(r.ok, 1) << r.log;
    ASSERT_EQ(r.code[40003], DRS_TOKEN_WHILE);
    EXPECT_EQ(r.code[40004], 0);
    EXPECT_EQ(r.view.constants[0], 40000u);
    EXPECT_EQ(r.view.constants.size(), 2u);
}

TEST_F(DrsParserTest, ResolvesModuleCallsAtTheEnd)
{
    // The callee comes later; the frame word receives its slots (2 params + 1).
    Result r = Compile("module m() { f(1, 2); }\nmodule f(a, b) { variant c; }\n");
    ASSERT_EQ(r.ok, 1) << r.log;
    EXPECT_EQ(r.code, (Words{44, 42, 3, 40, 44, 31, 1, 43, 0, 44, 31, 2, 43, 1, 29, 1, 27, 27}));
    ASSERT_EQ(r.view.modules.size(), 2u);
    EXPECT_EQ(r.view.modules[1].name, "f");
    EXPECT_EQ(r.view.modules[1].codePos, 17u);
    EXPECT_EQ(r.view.modules[1].frameSize, 3u);

    struct Case {
        const char* script;
        const char* log;
    } cases[] = {
        {"module f(a) { }\nmodule m() {\nf(1, 2);\n}\n", "0003 fE31\n"},
        {"module m() {\nPlay();\n}\n", "0002 PlayE31\n"},
        {"module m() {\nPlay(1, 2, 3);\n}\n", "0002 PlayE31\n"},
    };
    for (const Case& c : cases) {
        r = Compile(c.script);
        EXPECT_EQ(r.ok, 0) << c.script;
        EXPECT_EQ(r.log.substr(0, std::strlen(c.log)), c.log) << c.script;
    }
}

TEST_F(DrsParserTest, WritesGlobalsAndInitializers)
{
    Result r = Compile("variant g = \"x\";\nvariant t[3] = { 7, -1.5, 100000 };\nvariant n;\n"
                       "module m() { variant g; g = t[1]; n = g; }\n");
    ASSERT_EQ(r.ok, 1) << r.log;
    EXPECT_EQ(r.view.header.globalSlotCount, 5u);
    // A local may reuse a global's name and wins inside the module.
    EXPECT_EQ(r.code, (Words{44, 36, 0, 40, 44, 31, 1, 39, 1, 0, 44, 38, 4, 36, 0, 0, 27}));
    EXPECT_EQ(r.view.initializers, (Words{0, 35, 0, 1, 31, 7, 2, 33, 0, 3, 32, 1}));
    EXPECT_EQ(r.view.header.initializerCount, 4u);

    // A script of globals only: no modules, no code, the image is the data and
    // the two chunk headers.
    r = Compile("variant a = 1;\nvariant b;\n");
    ASSERT_EQ(r.ok, 1) << r.log;
    EXPECT_TRUE(r.view.modules.empty());
    EXPECT_TRUE(r.code.empty());
    EXPECT_EQ(r.image.size(), r.view.scriptDataSize + DRS_SCRIPT_FRAME_SIZE);

    // Local initializers compile where they stand.
    EXPECT_EQ(ModuleCode("variant a = 2; variant b[2] = { a, a + 1 };"),
              (Words{44, 36, 0, 31, 2, 0, 44, 40, 44, 31, 0, 37, 1, 36, 0, 0, 44, 40, 44, 31, 1, 37, 1, 36, 0, 31, 1, 2,
                     0, 27}));
}

TEST_F(DrsParserTest, LaysOutTheImage)
{
    Result r = Compile("variant g = 3;\nmodule main() { g = \"hi\"; }\n");
    ASSERT_EQ(r.ok, 1) << r.log;
    const uint8_t* p = r.image.data();
    EXPECT_EQ(std::memcmp(p, "DSCR", 4), 0);
    uint32_t word;
    std::memcpy(&word, p + 4, 4);
    EXPECT_EQ(word, r.view.scriptDataSize);
    std::memcpy(&word, p + 32 + 16, 4);
    EXPECT_EQ(word, DRS_SCRIPT_VERSION);
    // Module table at 80; with one module the names start at 88.
    EXPECT_EQ(std::memcmp(p + 88, "main", 5), 0);
    EXPECT_EQ(r.image.size(), r.view.scriptDataSize + DRS_SCRIPT_FRAME_SIZE);
    EXPECT_EQ(r.image.size() % 16, 0u);
    EXPECT_EQ(std::memcmp(p + r.image.size() - 32, "EOFC", 4), 0);

    // The big-endian image holds the same values in the other order.
    CvkEndianSetTarget(1);
    Result big = Compile("variant g = 3;\nmodule main() { g = \"hi\"; }\n");
    ASSERT_EQ(big.ok, 1);
    EXPECT_TRUE(big.view.swapped);
    EXPECT_EQ(big.view.code, r.view.code);
    EXPECT_EQ(big.view.initializers, r.view.initializers);
    EXPECT_EQ(big.image.size(), r.image.size());
    EXPECT_EQ(std::memcmp(big.image.data(), "DSCR", 4), 0);
    std::memcpy(&word, big.image.data() + 4, 4);
    EXPECT_EQ(word, r.view.scriptDataSize) << "chunk headers stay in the writer's order";
}

TEST_F(DrsParserTest, WritesTheDebugChunkAndLineMarkers)
{
    CvkScriptDebugInfo debug = {};
    std::memset(debug.name, 'n', sizeof debug.name); // no NUL: cut to 47 bytes
    std::strcpy(debug.path, "menu/main.drs");
    CvkScriptDebugPos second = {9, nullptr};
    CvkScriptDebugPos first = {5, &second};
    debug.positions = &first;
    Result r = Compile("variant g;\nmodule a() {\nvariant x; variant y[2];\nx = 1;\n}\nmodule b() {\nreturn;\n}\n", 0,
                       &debug);
    ASSERT_EQ(r.ok, 1) << r.log;
    EXPECT_EQ(r.code, (Words{46, 4, 44, 36, 0, 31, 1, 0, 27, 46, 7, 27}));
    ASSERT_TRUE(r.view.hasDebug);
    EXPECT_EQ(r.view.debugName, std::string(47, 'n'));
    EXPECT_EQ(r.view.debugPath, "menu/main.drs");
    EXPECT_EQ(r.view.debugPositions, (std::vector<uint32_t>{5, 9}));
    ASSERT_EQ(r.view.debugGlobals.size(), 1u);
    EXPECT_EQ(r.view.debugGlobals[0].name, "g");
    ASSERT_EQ(r.view.debugModules.size(), 2u);
    ASSERT_EQ(r.view.debugModules[0].size(), 2u);
    EXPECT_EQ(r.view.debugModules[0][1].name, "y");
    EXPECT_EQ(r.view.debugModules[0][1].size, 2u);
    EXPECT_TRUE(r.view.debugModules[1].empty());
    EXPECT_EQ(r.image.size() % 16, 0u);
}

TEST_F(DrsParserTest, ReportsErrorsWithTheirLines)
{
    struct Case {
        const char* script;
        const char* log; // the first entry
    } cases[] = {
        {"module m() { variant a;\nif (a = 1) { }\n}\n", "0002 E46\n"},
        {"module m() { variant a;\nswitch (a = 1) { }\n}\n", "0002 E46\n"},
        {"module m() {\nelse { }\n}\n", "0002 E42\n"},
        {"module m() { variant k; variant x;\nswitch (k) { case x: }\n}\n", "0002 E48\n"},
        {"module m() {\nbreak;\n}\n", "0002 breakE13\n"},
        {"module m() { variant k;\nswitch (k) { case 1: if (k) {\ncase 2: } }\n}\n", "0003 E0\n"},
        {"module m() {\ncontinue;\n}\n", "0002 E18\n"},
        {"module m() {\ngoto nowhere;\n}\n", "0002 nowhereE15\n"},
        {"goto top;\n", "0001 gotoE13\n"},
        {"module m() {\ny = 1;\n}\n", "0002 yE7\n"},
        {"variant t[2];\nt[0] = 1;\n", "0002 tE7\n"},
        {"module m() {\ng();\n}\n", "0002 gE40\n"},
        {"variant g = 1 + 2;\n", "0001 E43\n"},
        {"variant a;\nvariant a;\n", "0002 aE9\n"},
        {"variant t[0];\n", "0001 E8\n"},
        {"variant t[2] = { 1, 2, 3 };\n", "0001 E8\n"},
        {"variant t[40000];\nvariant u[30000];\n", "0002 E8\n"},
        {"module m(a, a) { }\n", "0001 aE9\n"},
        {"module m() {\nL: L: ;\n}\n", "0002 LE9\n"},
        {"module m() {\nmodule n() { }\n}\n", "0002 E39\n"},
        {"module m() { variant x;\nx = Show(1;\n}\n", "0002 E30\n"},
        {"module m() { variant x;\nx = 1 +;\n}\n", "0002 E33\n"},
        {"module m() { variant x; variant f;\nx = f (1);\n}\n", "0002 E33\n"},
        {"module m() { variant x;\nx = ();\n}\n", "0002 E33\n"},
        {"module m() {\nreturn }\n", "0002 E33\n"},
        {"module m() { variant x;\nx = 1 + (1 + (1 + (1 + (1 + (1 + (1 + (1 + 1)))))));\n}\n", "0002 E50\n"},
    };
    for (const Case& c : cases) {
        Result r = Compile(c.script);
        EXPECT_EQ(r.ok, 0) << c.script;
        EXPECT_TRUE(r.image.empty()) << c.script << ": no image after an error";
        EXPECT_EQ(r.log.substr(0, std::strlen(c.log)), c.log) << c.script << "\nlog: " << r.log;
    }

    // With the warning flag an assignment in a condition is a warning.
    Result r = Compile("module m() { variant a;\nif (a = 1) { }\n}\n", DRS_WARNING_ASSIGN_IN_CONDITION);
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.log, "0002 E54\n");
    r = Compile("module m() { variant a;\nwhile (a = 1) { }\n}\n");
    EXPECT_EQ(r.ok, 1) << r.log;
}

TEST_F(DrsParserTest, BoundsNestingWithoutRecursionLimits)
{
    auto nested = [](int depth, const char* open, const char* close) {
        std::string s = "module m() { variant k;\n";
        for (int i = 0; i < depth; ++i) s += open;
        for (int i = 0; i < depth; ++i) s += close;
        return s + "}\n";
    };
    EXPECT_EQ(Compile(nested(254, "while (k) { ", "} ")).ok, 1);
    Result r = Compile(nested(255, "while (k) { ", "} "));
    EXPECT_EQ(r.ok, 0);
    EXPECT_NE(r.log.find("E49"), std::string::npos) << r.log;
    EXPECT_EQ(Compile(nested(254, "if (k) { ", "} ")).ok, 1);
    EXPECT_NE(Compile(nested(300, "if (k) { ", "} ")).log.find("E49"), std::string::npos);
    EXPECT_EQ(Compile(nested(31, "switch (k) { case 1: ", "} ")).ok, 1);
    r = Compile(nested(32, "switch (k) { case 1: ", "} "));
    EXPECT_NE(r.log.find("E47"), std::string::npos) << r.log;

    // Long chains need no depth: an else-if chain, a long sum, deep parentheses.
    std::string chain = "module m() { variant k;\nif (k == 0) { }";
    for (int i = 1; i < 1000; ++i) chain += " else if (k == " + std::to_string(i) + ") { }";
    EXPECT_EQ(Compile(chain + "\n}\n").ok, 1);
    std::string sum = "module m() { variant k;\nk = 1";
    for (int i = 0; i < 20000; ++i) sum += " + 1";
    EXPECT_EQ(Compile(sum + ";\n}\n").ok, 1);
    EXPECT_EQ(Compile("module m() { variant k;\nk = " + std::string(5000, '(') + "1" + std::string(5000, ')') +
                      ";\n}\n").ok,
              1);
    // Calls nested in arguments count as nesting.
    std::string calls = "module m() { variant k;\nk = ";
    for (int i = 0; i < 300; ++i) calls += "Show(";
    calls += "1" + std::string(300, ')') + ";\n}\n";
    EXPECT_NE(Compile(calls).log.find("E49"), std::string::npos);
}

// Global initializers make the cheapest long lists of constants and strings.
std::string GlobalList(const char* name, int count, int first, bool quoted)
{
    std::string text = std::string("variant ") + name + "[" + std::to_string(count) + "] = {";
    for (int i = 0; i < count; ++i) {
        const std::string v = std::to_string(first + i);
        text += (i ? "," : "") + (quoted ? "\"" + v + "\"" : v);
    }
    return text + "};\n";
}

TEST_F(DrsParserTest, RefusesTheConstantAndStringBeyondTheLimits)
{
    if (sizeof(void*) == 4) GTEST_SKIP() << "stress case, run in the 64-bit build";
    // 65535 distinct 32-bit constants fit the header's count; one more is
    // refused, as is a string beyond 65534.
    const std::string constants = GlobalList("a", 40000, 40000, false) + GlobalList("b", 25534, 80000, false);
    Result r = Compile(constants + "module m() { variant x;\nx = 3000000;\n}\n");
    EXPECT_EQ(r.ok, 1) << r.log.substr(0, 100);
    EXPECT_EQ(r.view.header.constantCount, 65535u);
    r = Compile(constants + "module m() { variant x;\nx = 3000000;\nx = 3000001;\n}\n");
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.log.substr(0, 9), "0005 E44\n");

    const std::string strings = GlobalList("a", 40000, 0, true) + GlobalList("b", 25534, 40000, true);
    r = Compile(strings);
    EXPECT_EQ(r.ok, 1) << r.log.substr(0, 100);
    r = Compile(strings + "module m() { variant x;\nx = \"more\";\n}\n");
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.log.substr(0, 9), "---- E44\n");
}

TEST_F(DrsParserTest, GrowsItsBuffersBeforeWriting)
{
    if (sizeof(void*) == 4) GTEST_SKIP() << "stress case, run in the 64-bit build";
    // 50000 statements of 6 words pass the first 512 KiB of code; a switch
    // of 3000 cases reserves a table far larger than the free margin.
    std::string body = "variant x;\n";
    for (int i = 0; i < 3000; ++i) body += "case " + std::to_string(i) + ": x = 1;\n";
    Result r = Compile("module m() { variant k;\nswitch (k) {\n" + body + "}\n}\n");
    ASSERT_EQ(r.ok, 1) << r.log.substr(0, 200);
    EXPECT_EQ(r.code[6], 3000);
    std::string many = "module m() { variant x;\n";
    for (int i = 0; i < 50000; ++i) many += "x = 1;\n";
    r = Compile(many + "}\n");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.code.size(), 300001u);
}

} // namespace
