// The one-call file helpers and the path helper: environment-relative
// paths, full and relative names, and trees through text, binary and
// compiled image files.
#include "attribute/AtrConverter.h"
#include "attribute/AtrDefAnalyzer.h"
#include "attribute/AtrFileUtil.h"
#include "attribute/AtrUtil.h"
#include "attribute/tests/AtrTestTree.h"
#include "kit/CvChunk.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace atrtest;

namespace {

class AtrUtilTest : public KitTest {};

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

struct PathCase {
    const char* name;
    const char* base;
    const char* expected;
};

} // namespace

TEST_F(AtrUtilTest, ExtractEnvName)
{
    setenv("ATR_TEST_TOOLS", "C:/x", 1);
    unsetenv("ATR_TEST_UNSET");
    const PathCase cases[] = {
        {"%ATR_TEST_TOOLS%\\a.txt", nullptr, "C:\\x\\a.txt"},
        {"%ATR_TEST_TOOLS%/a.txt", nullptr, "C:\\x\\a.txt"},
        {"%ATR_TEST_TOOLS%..\\b\\c.txt", nullptr, "C:\\b\\c.txt"},
        {"%ATR_TEST_UNSET%\\a.txt", nullptr, "%ATR_TEST_UNSET%\\a.txt"},
        {"%ATR_TEST_TOOLS", nullptr, ""},
        {"plain/a.txt", nullptr, "plain/a.txt"},
    };
    for (const PathCase& c : cases) EXPECT_EQ(Str(AtrUtilExtractEnvName(c.name)), c.expected) << c.name;
    setenv("ATR_TEST_TOOLS", "/tmp/x/", 1);
    EXPECT_EQ(Str(AtrUtilExtractEnvName("%ATR_TEST_TOOLS%\\a.txt")), "\\tmp\\x\\a.txt");
    unsetenv("ATR_TEST_TOOLS");
}

TEST_F(AtrUtilTest, FullNames)
{
    const PathCase cases[] = {
        {"..\\b.txt", "C:\\x\\y\\", "C:\\x\\b.txt"},
        {"D:\\z.txt", "C:\\x\\y\\", "D:\\z.txt"},
        {"..\\..\\..\\..\\f", "C:\\x\\", "C:\\f"},
        {".\\a/b.txt", "C:/x", "C:\\x\\a\\b.txt"},
        {"..\\.\\..\\f", "C:\\x\\y\\z\\", "C:\\x\\f"},
        {"\\\\srv\\f", "C:\\x\\", "\\\\srv\\f"},
        // This system's absolute paths stay where they are.
        {"/abs/f.txt", "C:\\x\\", "\\abs\\f.txt"},
        {"\\abs\\f.txt", "/tmp/", "\\abs\\f.txt"},
        {"f.txt", "/tmp/w", "\\tmp\\w\\f.txt"},
        // The trail byte 0x5C of a double-byte character is no separator.
        {"..\\\x95\x5C.txt", "C:\\x\\y\\", "C:\\x\\\x95\x5C.txt"},
    };
    AtrFileUtil names;
    for (const PathCase& c : cases) EXPECT_EQ(Str(names.MakeFullName(c.name, c.base)), c.expected) << c.name;

    names.SetCurrentDir("C:/x/y");
    EXPECT_EQ(Str(names.GetCurrentDir()), "C:\\x\\y\\");
    EXPECT_EQ(Str(names.MakeFullName("a.txt")), "C:\\x\\y\\a.txt");
    EXPECT_EQ(Str(names.GetDir("d/a.txt")), "C:\\x\\y\\d\\");
    EXPECT_EQ(Str(names.GetParentDir("d/a.txt")), "C:\\x\\y\\");
    EXPECT_EQ(Str(names.GetPureFileName("d/a.txt")), "a.txt");
    EXPECT_EQ(Str(names.GetPureFileName("\x95\x5C.txt")), "\x95\x5C.txt");
    names.SetCurrentDir("C:\\x\\");
    EXPECT_EQ(Str(names.GetCurrentDir()), "C:\\x\\");
}

TEST_F(AtrUtilTest, SubNames)
{
    const PathCase cases[] = {
        {"C:\\x\\z\\f.txt", "C:\\x\\y\\", "..\\z\\f.txt"},
        {"c:\\X\\y\\f.txt", "C:\\x\\y", "f.txt"},
        {"C:\\x\\y\\f.txt", "C:\\x\\y\\w\\v\\", "..\\..\\f.txt"},
        {"D:\\f.txt", "C:\\x\\", "D:\\f.txt"},
        {"/tmp/a/f", "/tmp/b/", "..\\a\\f"},
        {"/home/f", "/tmp/", "..\\home\\f"},
        {"\\\\srv\\a\\f", "\\\\other\\a\\", "\\\\srv\\a\\f"},
    };
    AtrFileUtil names;
    for (const PathCase& c : cases) EXPECT_EQ(Str(names.MakeSubName(c.name, c.base)), c.expected) << c.name;
    names.SetCurrentDir("/tmp/w");
    EXPECT_EQ(Str(names.MakeSubName("/tmp/w/sub/f.txt")), "sub\\f.txt");
}

TEST_F(AtrUtilTest, TreesThroughTextAndBinaryFiles)
{
    const std::string text = Path("in.txt");
    WriteBytes(text, "<A x = 1, s = \"t\">2.5, \"d\"<B/></A>\n");
    CvString log;
    AtrNode* tree = AtrUtilCreateFromText(text.c_str(), nullptr, &log);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(log.GetLength(), 0);

    const std::string bin = Path("out.bin");
    ASSERT_EQ(AtrUtilOutputBinary(tree, bin.c_str(), 1), 1);
    EXPECT_LE(ReadBytes(bin).size(), static_cast<size_t>(AtrUtilGetBinaryWorkSize(tree)));
    uint32_t size = 7;
    AtrNode* back = AtrUtilCreateFromBinary(bin.c_str(), &size);
    EXPECT_EQ(size, ReadBytes(bin).size());
    EXPECT_EQ(Dump(back), Dump(tree));

    const std::string out = Path("out.txt");
    ASSERT_EQ(AtrUtilOutputText(back, out.c_str()), 1);
    const std::vector<uint8_t> written = ReadBytes(out);
    EXPECT_EQ(std::string(written.begin(), written.end()), "<A x = 1, s = \"t\">\n\t2.500000,\n\t\"d\",\n\t<B />\n</A>\n");
    AtrNode::Destroy(back);

    // The work buffer may come from the caller; too small a one fails.
    std::vector<uint8_t> work(AtrUtilGetBinaryWorkSize(tree));
    EXPECT_EQ(AtrUtilOutputBinary(tree, bin.c_str(), 0, work.data(), static_cast<uint32_t>(work.size())), 1);
    EXPECT_EQ(AtrUtilOutputBinary(tree, Path("small.bin").c_str(), 0, work.data(), 40), 0);
    EXPECT_EQ(std::fopen(Path("small.bin").c_str(), "rb"), nullptr);
    AtrNode::Destroy(tree);

    // Missing, empty and malformed files.
    WriteBytes(Path("empty.bin"), "");
    WriteBytes(Path("text.bin"), "<A/>");
    for (const char* name : {"missing.bin", "empty.bin", "text.bin"}) {
        size = 7;
        EXPECT_EQ(AtrUtilCreateFromBinary(Path(name).c_str(), &size), nullptr) << name;
        EXPECT_EQ(size, 0u) << name;
    }
    EXPECT_EQ(AtrUtilCreateFromText(Path("missing.txt").c_str()), nullptr);
    EXPECT_EQ(AtrUtilOutputText(nullptr, out.c_str()), 0);
    EXPECT_EQ(AtrUtilOutputBinary(nullptr, bin.c_str()), 0);
    EXPECT_EQ(AtrUtilGetBinaryWorkSize(nullptr), 0u);
}

TEST_F(AtrUtilTest, TextsWithNamedConstants)
{
    WriteBytes(Path("kinds.h"), "enum Kind { KIND_LABEL = 1, KIND_BUTTON };\n");
    WriteBytes(Path("keys.h"), "enum Key { KEY_OK = 0x10, KEY_BACK = KEY_OK << 1 };\n");
    const std::string text = Path("items.txt");
    WriteBytes(text, "<Item kind = KIND_BUTTON, ATR_NODE_FLAG = KEY_BACK>KEY_OK, KIND_LABEL</Item>\n");

    // One header by name.
    const std::string label = Path("label.txt");
    WriteBytes(label, "<Item kind = KIND_BUTTON>KIND_LABEL</Item>\n");
    AtrNode* one = AtrUtilCreateFromText(label.c_str(), Path("kinds.h").c_str());
    EXPECT_EQ(Dump(one), "Item(kind=S:2)[S:1]");
    AtrNode::Destroy(one);

    // Any number of headers through a lent analyzer.
    AtrDefAnalyzer constants;
    ASSERT_EQ(constants.AddConstantDefinition(Path("kinds.h").c_str()), 1);
    ASSERT_EQ(constants.AddConstantDefinition(Path("keys.h").c_str()), 1);
    CvString log;
    AtrNode* both = AtrUtilCreateFromText(text.c_str(), constants, &log);
    EXPECT_EQ(Dump(both), "Item#20(kind=S:2)[S:16,S:1]");
    AtrNode::Destroy(both);
}

TEST_F(AtrUtilTest, TextErrorsReachTheCallersLog)
{
    const std::string text = Path("bad.txt");
    WriteBytes(text, "<A></B>");
    CvString log;
    EXPECT_EQ(AtrUtilCreateFromText(text.c_str(), nullptr, &log), nullptr);
    EXPECT_NE(Str(log).find("[1"), std::string::npos) << Str(log);
    EXPECT_EQ(AtrUtilCreateFromText(text.c_str()), nullptr);

    AtrNode* chain = AtrUtilCreateFromTextBuffer("<A/><B/>");
    EXPECT_EQ(Dump(chain), "A B");
    AtrNodeDestroyChain(chain);
    EXPECT_EQ(AtrUtilCreateFromTextBuffer("<A></B>"), nullptr);
    EXPECT_EQ(AtrUtilCreateFromTextBuffer(nullptr), nullptr);
}

TEST_F(AtrUtilTest, StyledBinaryWithTag)
{
    AtrNode* instance = Parse("<P x = 5, s = \"ab\" />");
    AtrNode* templ = Parse("<T><P><f type = \"SINT\", name = \"x\", size = 4 /><f type = \"STRING\", name = \"s\" /></P></T>");
    AtrNode* wrong = Parse("<T><P><f type = \"SINT\", name = \"m\" /></P></T>");
    const std::string path = Path("styled.bin");
    const uint32_t tag = 0x41424344;
    ASSERT_EQ(AtrUtilOutputStyledBinary(instance, templ, path.c_str(), &tag), 1);
    const std::vector<uint8_t> image = ReadBytes(path);
    ASSERT_GT(image.size(), 32u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "ABCD");
    EXPECT_EQ(CvChunk::CheckImage(image.data(), image.size()), 1);

    ASSERT_EQ(AtrUtilOutputStyledBinary(instance, templ, path.c_str()), 1);
    EXPECT_EQ(ReadBytes(path)[0], 'A');
    EXPECT_EQ(ReadBytes(path)[3], 'B');

    CvString log;
    EXPECT_EQ(AtrUtilOutputStyledBinary(instance, wrong, Path("wrong.bin").c_str(), &tag, &log), 0);
    EXPECT_NE(log.GetLength(), 0);
    EXPECT_EQ(AtrUtilOutputStyledBinary(nullptr, templ, path.c_str()), 0);
    EXPECT_EQ(AtrUtilOutputStyledBinary(instance, nullptr, path.c_str()), 0);
    EXPECT_EQ(AtrUtilOutputStyledBinary(instance, templ, nullptr), 0);
    AtrNode::Destroy(instance);
    AtrNode::Destroy(templ);
    AtrNode::Destroy(wrong);
}

TEST_F(AtrUtilTest, CodecDecodeOfAScrambledChunk)
{
    AtrNode* tree = Parse("<A s = \"scrambled\" />");
    AtrConverter plain;
    AtrConverter scrambled;
    ASSERT_EQ(plain.CreateBinary(tree, 0), 1);
    ASSERT_EQ(scrambled.CreateBinary(tree, 1), 1);
    AtrNode::Destroy(tree);
    CvChunk* chunk = static_cast<CvChunk*>(scrambled.GetBuffer());
    EXPECT_EQ(chunk->codecFlags, 1u);
    AtrUtilCodecDecode(chunk);
    EXPECT_EQ(chunk->codecFlags, 0u);
    EXPECT_EQ(std::memcmp(static_cast<uint8_t*>(scrambled.GetBuffer()) + 32, static_cast<uint8_t*>(plain.GetBuffer()) + 32,
                          plain.GetSize() - 32),
              0);
    AtrUtilCodecDecode(chunk); // no longer scrambled: unchanged
    EXPECT_EQ(std::memcmp(static_cast<uint8_t*>(scrambled.GetBuffer()) + 48, static_cast<uint8_t*>(plain.GetBuffer()) + 48,
                          plain.GetSize() - 48),
              0);
}
