// The attribute compiler: layout of the image, value encodings, pointers,
// byte order, error messages and deep or recursive documents.
#include "attribute/AtrCompiler.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "kit/CvChunk.h"
#include "kit/CvkEndian.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"
#include "platform/PlatformCodePage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Writes `bytes` to a file of the build folder; its path, or "" on failure.
std::string WriteTestFile(const char* name, const std::string& bytes)
{
    const std::string path = std::string(LUMIVOR_BINARY_DIR) + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return "";
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok ? path : "";
}

struct Result {
    int ok = 0;
    std::vector<uint8_t> image;
    std::string log; // UTF-8
    uint32_t U32(size_t at) const
    {
        uint32_t v = 0;
        if (at + 4 <= image.size()) std::memcpy(&v, &image[at], 4);
        return v;
    }
    uint16_t U16(size_t at) const
    {
        uint16_t v = 0;
        if (at + 2 <= image.size()) std::memcpy(&v, &image[at], 2);
        return v;
    }
    // The chunk with that tag, or null.
    const CvChunk* Chunk(const char (&tag)[5]) const
    {
        const CvChunk* c = CvChunk::GetFirst(image.data(), image.size());
        for (; c != nullptr; c = c->GetNext(0, image.data(), image.size()))
            if (c->GetTag() == CvChunkMakeTag(tag)) return c;
        return nullptr;
    }
    size_t At(const CvChunk* c) const { return size_t(reinterpret_cast<const uint8_t*>(c) - image.data()); }
};

class AtrCompilerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CvkHeapSetSystem(&heap);
        CvkInitCorvantaSystem();
        CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
        CvkEndianSetTarget(0);
    }
    void TearDown() override
    {
        CvkEndianSetTarget(0);
        CvkExitCorvantaSystem();
    }

    static AtrNode* Parse(const std::string& utf8)
    {
        AtrParser parser;
        AtrNode* tree = parser.CreateTreeFromText(PlatformUtf8ToCp932(utf8).c_str(), nullptr);
        EXPECT_NE(tree, nullptr) << PlatformCp932ToUtf8(parser.GetErrorLog().GetBuffer() ? parser.GetErrorLog().GetBuffer() : "");
        return tree;
    }

    static Result Compile(const std::string& instance, const std::string& templ, uint32_t align = 32,
                          int colorType = 0, int fxShift = 0)
    {
        Result r;
        AtrNode* data = Parse(instance);
        AtrNode* def = Parse(templ);
        if (data != nullptr && def != nullptr) r.ok = Run(data, def, align, colorType, fxShift, &r);
        AtrNodeDestroyChain(data);
        AtrNodeDestroyChain(def);
        return r;
    }

    static int Run(AtrNode* data, AtrNode* def, uint32_t align, int colorType, int fxShift, Result* r)
    {
        AtrCompiler compiler;
        compiler.SetColorType(colorType);
        compiler.SetFxShift(fxShift);
        const int ok = compiler.CreateBinary(data, def, 0, align);
        if (ok) {
            const uint8_t* p = static_cast<const uint8_t*>(compiler.GetDataChunk());
            r->image.assign(p, p + compiler.GetDataSize());
        }
        const char* log = compiler.GetErrorLog().GetBuffer();
        r->log = PlatformCp932ToUtf8(log != nullptr ? log : "");
        return ok;
    }

    CvkHeapSimple heap{nullptr, 0, 16};
};

const char kTwoFields[] =
    "<T><P><f type = \"SINT\", name = \"x\", size = 4 /><f type = \"STRING\", name = \"s\" /></P></T>";

TEST_F(AtrCompilerTest, TwoFieldStructureLayoutAtAlignment32)
{
    const Result r = Compile("<P x = 5, s = \"ab\" />", kTwoFields);
    ASSERT_EQ(r.ok, 1) << r.log;
    ASSERT_EQ(r.image.size(), 320u);
    const CvChunk* atrb = CvChunk::GetFirst(r.image.data(), r.image.size());
    ASSERT_NE(atrb, nullptr);
    EXPECT_EQ(atrb->GetTag(), CVK_CHUNK_TAG_ATRB);
    EXPECT_EQ(atrb->GetHeadSize(), 32u);
    EXPECT_EQ(atrb->GetSize(), 64u); // 32 bytes of structures, "ab\0" padded to 32
    EXPECT_EQ(r.U32(32), 5u);
    EXPECT_EQ(r.U32(36), 64u) << "string offset from the chunk start";
    EXPECT_EQ(std::memcmp(&r.image[64], "ab\0", 3), 0);

    const CvChunk* pof = r.Chunk("POF0");
    ASSERT_NE(pof, nullptr);
    EXPECT_EQ(r.At(pof), 96u);
    EXPECT_EQ(pof->GetSize(), 32u) << "padded so that EXT0 starts aligned";
    EXPECT_EQ(r.U32(96 + 32), 8u) << "table size word";
    EXPECT_EQ(r.image[96 + 36], 0x49) << "one pointer, 9 words from the chunk start";
    EXPECT_EQ(r.image[96 + 37], 0x00);

    const CvChunk* ext = r.Chunk("EXT0");
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(r.At(ext), 160u);
    EXPECT_EQ(ext->GetSize(), 96u); // 68 + 4 x (4 entries + 1 string entry + 1 string), rounded
    const size_t e = 160 + 32;
    EXPECT_EQ(r.U32(e + 8), 4u);    // type entries
    EXPECT_EQ(r.U32(e + 16), 1u);   // string entries
    EXPECT_EQ(r.U32(e + 28), 1u);   // structures
    EXPECT_EQ(r.U32(e + 32), 32u);  // structure area
    EXPECT_EQ(r.U32(e + 44), 1u);   // distinct strings
    EXPECT_EQ(r.U32(e + 56), 64u);  // string area offset
    EXPECT_EQ(r.U32(e + 68), 0x2000u);
    EXPECT_EQ(r.U32(e + 72), 0x0000u);
    EXPECT_EQ(r.U32(e + 76), 0x1001u);
    EXPECT_EQ(r.U32(e + 80), 0x4000u);
    EXPECT_EQ(r.U32(e + 84), 2u) << "length of \"ab\"";
    EXPECT_EQ(r.U32(e + 88), 0u) << "string index of the slot";
    EXPECT_EQ(std::memcmp(&r.image[288], "EOFC", 4), 0);
    EXPECT_EQ(CvChunk::CheckImage(r.image.data(), r.image.size()), 1);
}

TEST_F(AtrCompilerTest, EqualTextsShareOneString)
{
    const Result r = Compile("<P a = \"menu\", b = \"menu\", c = \"x\" />",
                             "<T><P><f type = \"STRING\", name = \"a\" /><f type = \"STRING\", name = \"b\" />"
                             "<f type = \"STRING\", name = \"c\" /><f type = \"STRING\", name = \"none\", default = \"x\" /></P></T>");
    ASSERT_EQ(r.ok, 1) << r.log;
    EXPECT_EQ(r.U32(32), 64u);
    EXPECT_EQ(r.U32(36), 64u);
    EXPECT_EQ(r.U32(40), 69u);
    EXPECT_EQ(r.U32(44), 69u) << "the default text is the same string";
    EXPECT_EQ(std::memcmp(&r.image[64], "menu\0x\0", 7), 0);
}

TEST_F(AtrCompilerTest, ScalarEncodings)
{
    struct Case {
        const char* field;
        const char* value;
        int colorType;
        int fxShift;
        int size;
        uint32_t expected;
    } cases[] = {
        {"type = \"SINT\", size = 2", "0x12345", 0, 0, 2, 0x2345},
        {"type = \"SINT\", size = 1", "-2", 0, 0, 1, 0xFE},
        {"type = \"SINT\", size = 4", "-2", 0, 0, 4, 0xFFFFFFFE},
        {"type = \"SINT\", size = 3", "7", 0, 0, 4, 0} /* other sizes write nothing */,
        {"type = \"FLOAT\", size = 4, convert = \"CVK_DEG_ANG\"", "90.0", 0, 0, 4, 16384},
        {"type = \"FLOAT\", size = 4, convert = \"CVK_DEG_ANG\"", "450.0", 0, 0, 4, 16384},
        {"type = \"FLOAT\", size = 4, convert = \"CVK_DEG_ANG\"", "360.0", 0, 0, 4, 65536},
        {"type = \"FLOAT\", size = 4", "1.5", 0, 0, 4, 0x3FC00000},
        {"type = \"FLOAT\", size = 4", "1.5", 0, 12, 4, 6144},
        {"type = \"FLOAT\", size = 4", "-0.5", 0, 1, 4, 0xFFFFFFFF},
        {"type = \"UINT\", size = 4, convert = \"CVK_COLOR_SWAP\"", "0x11223344", 1, 0, 4, 0x44332211},
        {"type = \"UINT\", size = 4, convert = \"CVK_COLOR_SWAP\"", "0x11223344", 2, 0, 4, 0x44112233},
        {"type = \"UINT\", size = 4, convert = \"CVK_COLOR_SWAP_ARGB\"", "0x11223344", 1, 0, 4, 0x11223344},
        {"type = \"UINT\", size = 4", "0x11223344", 1, 0, 4, 0x11223344},
        {"type = \"COLOR_ARGB\", size = 4", "0x11223344", 0, 0, 4, 0x44332211},
        // Colour type 3 reads the reversed value 0xFFFFFFFF: every 5-bit field 31, the bit set.
        {"type = \"COLOR_ARGB\", size = 2", "-1", 3, 0, 2, 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " = " + c.value);
        const Result r = Compile(std::string("<P v = ") + c.value + " />",
                                 std::string("<T><P><f name = \"v\", ") + c.field + " /></P></T>", 32, c.colorType,
                                 c.fxShift);
        ASSERT_EQ(r.ok, 1) << r.log;
        EXPECT_EQ(c.size == 2 ? r.U16(32) : c.size == 1 ? r.image[32] : r.U32(32), c.expected);
    }
    EXPECT_EQ(AtrCompiler::ConvertColor(0xFF80FF7F, 3), (31u << 11) | (15u << 6) | (31u << 1) | 0u);
    EXPECT_EQ(AtrCompiler::ConvertColor(0x00000080, 3), 1u);
}

TEST_F(AtrCompilerTest, ValuesFromChildrenArraysAndCasts)
{
    const Result r = Compile("<P><v ATRC_CAST = \"FLOAT\">2.0</v><w>1, 2, 3</w><t>\"p\", \"q\"</t></P>",
                             "<T><P><f type = \"SINT\", name = \"v\", size = 4 />"
                             "<f type = \"SINT\", name = \"w\", size = 2, array = 4 />"
                             "<f type = \"STRING\", name = \"t\", array = 0 />"
                             "<f type = \"SINT\", name = \"w\", size = 1, array = 0 /></P></T>");
    ASSERT_EQ(r.ok, 1) << r.log;
    EXPECT_EQ(r.U32(32), 0x40000000u) << "ATRC_CAST makes the value a float";
    EXPECT_EQ(r.U16(36), 1);
    EXPECT_EQ(r.U16(38), 2);
    EXPECT_EQ(r.U16(40), 3);
    EXPECT_EQ(r.U16(42), 0) << "a missing element is 0";
    EXPECT_EQ(r.U32(44), 64u) << "array 0: as many strings as there are";
    EXPECT_EQ(r.U32(48), 66u);
    EXPECT_EQ(r.image[52], 1);
    EXPECT_EQ(r.image[54], 3);
    EXPECT_EQ(r.image[55], 0);
}

TEST_F(AtrCompilerTest, PointersCountsAndLeftOutChildren)
{
    const Result r = Compile("<L><items ATRC_LIST_BLOCK = 1>"
                             "<I v = 1 /><I v = 2, ATR_NODE_FLAG = 256 /><I v = 3 /></items>"
                             "<one><I v = 4 /></one></L>",
                             "<T><L><f type = \"ARRAY_SIZE\", array = \"items\", size = 4 />"
                             "<f type = \"POINTER\", link = \"I\", name = \"items\", array = 3 />"
                             "<f type = \"POINTER\", link = \"I\", name = \"I\" />"
                             "<f type = \"POINTER\", link = \"I\", name = \"absent\" /></L>"
                             "<I><f type = \"SINT\", name = \"v\", size = 4 /></I></T>");
    ASSERT_EQ(r.ok, 1) << r.log;
    // L: count, three list slots, two single slots = 24 bytes; then I(1), I(3), I(4).
    EXPECT_EQ(r.U32(32), 2u) << "the 0x100 child is not counted";
    EXPECT_EQ(r.U32(36), 56u);
    EXPECT_EQ(r.U32(40), 60u) << "the list skips the left-out child";
    EXPECT_EQ(r.U32(44), 0u) << "no third target";
    EXPECT_EQ(r.U32(48), 0u) << "I is not a direct child of L";
    EXPECT_EQ(r.U32(52), 0u);
    EXPECT_EQ(r.U32(56), 1u);
    EXPECT_EQ(r.U32(60), 3u);
    EXPECT_EQ(r.U32(64), 4u);
    const CvChunk* pof = r.Chunk("POF0");
    ASSERT_NE(pof, nullptr);
    const size_t t = r.At(pof) + 32;
    EXPECT_EQ(r.U32(t), 8u);
    EXPECT_EQ(r.image[t + 4], 0x40 | 9);
    EXPECT_EQ(r.image[t + 5], 0x40 | 1);
    const CvChunk* ext = r.Chunk("EXT0");
    ASSERT_NE(ext, nullptr);
    const size_t e = r.At(ext) + 32;
    const uint32_t entries = r.U32(e + 8);
    EXPECT_EQ(r.U32(e + 12), 5u) << "pointer entries";
    EXPECT_EQ(r.U32(e + 28), 4u) << "structures";
    // The pointer-target list follows the entries: structure indices 1, 2, then -1.
    const size_t list = e + 68 + 4 * entries;
    EXPECT_EQ(r.U32(list), 1u);
    EXPECT_EQ(r.U32(list + 4), 2u);
    EXPECT_EQ(r.U32(list + 8), 0xFFFFFFFFu);
}

// The compiler's marks and scratch on the nodes must not leak from one
// compilation into the next: a mark the caller left is ignored and gone
// afterwards, and neither a compilation with another template nor a failed one
// changes what the next compilation writes.
TEST_F(AtrCompilerTest, CompilationsOfOneTreeAreIndependent)
{
    const char* const instance = "<L><items ATRC_LIST_BLOCK = 1>"
                                 "<I v = 1><V ATRC_NAME = \"at\", x = 7 /></I><I v = 2, ATR_NODE_FLAG = 256 />"
                                 "<I v = 3><V ATRC_NAME = \"at\", x = 8 /></I></items></L>";
    const std::string list = "<L><f type = \"POINTER\", link = \"I\", name = \"items\", array = 3 /></L>";
    const std::string v = "<V><f type = \"SINT\", name = \"x\", size = 2 /></V>";
    const std::string withI = "<T>" + list + "<I><f type = \"SINT\", name = \"v\", size = 4 /><f type = \"V\", name = \"at\" /></I>" + v + "</T>";
    const std::string withoutI = "<T>" + list + v + "</T>";
    // Fails behind the V written in place.
    const std::string failing = "<T>" + list + "<I><f type = \"V\", name = \"at\" /><f type = \"STRING\" /></I>" + v + "</T>";
    AtrNode* data = Parse(instance);
    AtrNode* defs[3] = {Parse(withI), Parse(withoutI), Parse(failing)};
    ASSERT_TRUE(data != nullptr && defs[0] != nullptr && defs[1] != nullptr && defs[2] != nullptr);
    auto marked = [](AtrNode* root) {
        int n = 0;
        std::vector<AtrNode*> todo{root};
        while (!todo.empty()) {
            AtrNode* k = todo.back();
            todo.pop_back();
            n += k->CheckFlag(ATR_NODE_FLAG_VISIT) != 0;
            for (AtrNode* c = k->GetChild(0); c != nullptr; c = c->GetNext()) todo.push_back(c);
        }
        return n;
    };
    Result first, again, other, fresh, failed, after;
    ASSERT_EQ(Run(data, defs[0], 32, 0, 0, &first), 1) << first.log;
    EXPECT_EQ(first.U32(32), 44u) << "the list points at the I structures behind L";
    EXPECT_EQ(first.U32(36), 50u);

    AtrNode* items = data->GetChild(0);
    items->GetChild(0)->SetFlag(~0u, ATR_NODE_FLAG_VISIT);               // a structure
    items->GetChild(1)->SetFlag(~0u, ATR_NODE_FLAG_VISIT);               // a left-out node
    items->GetChild(0)->GetChild(0)->SetFlag(~0u, ATR_NODE_FLAG_VISIT);  // written in place
    ASSERT_EQ(Run(data, defs[0], 32, 0, 0, &again), 1) << again.log;
    EXPECT_EQ(again.image, first.image) << "the caller's marks change nothing";
    EXPECT_EQ(marked(data), 0);

    ASSERT_EQ(Run(data, defs[1], 32, 0, 0, &other), 1) << other.log;
    AtrNode* copy = Parse(instance);
    ASSERT_EQ(Run(copy, defs[1], 32, 0, 0, &fresh), 1) << fresh.log;
    AtrNodeDestroyChain(copy);
    EXPECT_EQ(other.image, fresh.image) << "no pointer to a structure of the compilation before";
    EXPECT_EQ(other.U32(32), 0u);

    EXPECT_EQ(Run(data, defs[2], 32, 0, 0, &failed), 0);
    EXPECT_EQ(marked(data), 0);
    ASSERT_EQ(Run(data, defs[1], 32, 0, 0, &after), 1) << after.log;
    EXPECT_EQ(after.image, fresh.image) << "a failed compilation leaves nothing behind";
    ASSERT_EQ(Run(data, defs[0], 32, 0, 0, &again), 1) << again.log;
    EXPECT_EQ(again.image, first.image);

    AtrNodeDestroyChain(data);
    for (AtrNode* d : defs) AtrNodeDestroyChain(d);
}

// The pointer table's room is counted before the writing pass knows which
// structure pointers stay 0; a dropped one between two strings can turn their
// 1- and 2-byte entries into one 4-byte entry, and the table must still fit.
TEST_F(AtrCompilerTest, PointerTableFitsWhenStructurePointersDropOut)
{
    const Result r = Compile("<P a = \"x\", b = \"y\" />",
                             "<T><P><f type = \"STRING\", name = \"a\" />"
                             "<f type = \"SINT\", name = \"pad\", size = 4, array = 62 />"
                             "<f type = \"POINTER\", link = \"Q\", name = \"q\" />"
                             "<f type = \"SINT\", name = \"pad\", size = 4, array = 16382 />"
                             "<f type = \"STRING\", name = \"b\" /></P></T>");
    ASSERT_EQ(r.ok, 1) << r.log;
    const CvChunk* pof = r.Chunk("POF0");
    ASSERT_NE(pof, nullptr);
    const size_t t = r.At(pof) + 32;
    // The strings lie at words 8 and 8 + 63 + 16383; the pointer between them is 0.
    EXPECT_EQ(r.U32(t), 12u);
    const uint8_t entries[] = {0x40 | 8, 0xC0, 0x00, 0x40, 0x3E, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&r.image[t + 4], entries, sizeof entries), 0);
    EXPECT_EQ(r.U32(32 + 4 * 63), 0u);
}

TEST_F(AtrCompilerTest, NestedStructureInPlaceAndByteBlock)
{
    const Result r = Compile("<S blob = \"KEYS\"><V ATRC_NAME = \"pos\", x = 3, y = 4 /></S>",
                             "<T><S><f type = \"V\", name = \"pos\" />"
                             "<f type = \"POINTER\", link = \"DATA\", name = \"blob\" />"
                             "<f type = \"DATA_SIZE\", target = \"blob\", size = 4 /></S>"
                             "<V><f type = \"SINT\", name = \"x\", size = 2 /><f type = \"SINT\", name = \"y\", size = 2 /></V></T>");
    ASSERT_EQ(r.ok, 1) << r.log;
    EXPECT_EQ(r.U16(32), 3);
    EXPECT_EQ(r.U16(34), 4);
    EXPECT_EQ(r.U32(36), 64u) << "byte block behind the (empty) string area";
    EXPECT_EQ(r.U32(40), 4u);
    EXPECT_EQ(r.U32(44), 0u) << "V was written in place, not again";
    EXPECT_EQ(std::memcmp(&r.image[64], "KEYS", 4), 0);
}

TEST_F(AtrCompilerTest, SwappedTargetReversesDataButNotHeaders)
{
    CvkEndianSetTarget(1);
    const Result r = Compile("<P x = 5, s = \"ab\" />", kTwoFields);
    ASSERT_EQ(r.ok, 1) << r.log;
    EXPECT_EQ(r.U32(32), CvkSwap32(5));
    EXPECT_EQ(r.U32(36), CvkSwap32(64));
    EXPECT_EQ(r.U32(8), 32u) << "chunk header in the writer's order";
    const CvChunk* ext = r.Chunk("EXT0");
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(ext->GetSize(), 96u);
    const size_t e = r.At(ext) + 32;
    EXPECT_EQ(r.U32(e + 4), CvkSwap32(1)) << "byte-order mark";
    EXPECT_EQ(r.U32(e + 8), CvkSwap32(4));
    EXPECT_EQ(r.U32(e + 68), CvkSwap32(0x2000));
}

TEST_F(AtrCompilerTest, FirstNodeOnlyAndUndefinedElements)
{
    const Result r = Compile("<?xml version = \"1.0\" ?><P x = 5, s = \"ab\" />", kTwoFields);
    ASSERT_EQ(r.ok, 1) << r.log;
    const CvChunk* atrb = CvChunk::GetFirst(r.image.data(), r.image.size());
    ASSERT_NE(atrb, nullptr);
    EXPECT_EQ(atrb->GetSize(), 0u) << "the element behind the instruction is its sibling";
    const Result u = Compile("<Unknown><P x = 1, s = \"\" /></Unknown>", kTwoFields);
    ASSERT_EQ(u.ok, 1) << u.log;
    EXPECT_EQ(u.U32(32), 1u);
}

TEST_F(AtrCompilerTest, ErrorsByCode)
{
    struct Case {
        const char* instance;
        const char* templ;
        const char* message;
    } cases[] = {
        {"<S />", "<T><S><f type = \"Missing\", name = \"m\" /></S></T>",
         "こう造体検索中に [ELEMENT]:Missing [ATRC_NAME]:m が見つかりませんでした。\n"},
        {"<S />", "<T><S><f type = \"V\", name = \"m\" /></S><V /></T>",
         "こう造体検索中に [ELEMENT]:V [ATRC_NAME]:m が見つかりませんでした。\n"},
        {"<S />", "<T><S><f name = \"m\", size = 4 /></S></T>",
         "ポインタを指定しているテンプレートに type が見つかりませんでした。\n"},
        {"<S />", "<T><S><f type = \"POINTER\", name = \"m\" /></S></T>",
         "ポインタを指定しているテンプレートに link が見つかりませんでした。\n"},
        {"<S />", "<T><S><f type = \"STRING\" /></S></T>",
         "ポインタを指定しているテンプレートに name が見つかりませんでした。\n"},
        {"<S />", "<T><S><f type = \"SINT\", name = \"m\" /></S></T>",
         "ポインタを指定しているテンプレートに size が見つかりませんでした。\n"},
        {"<S />", "<T><S><f type = \"STRING\", name = \"list\", array = 2 /></S></T>",
         "インスタンスに配列のノード[list]が見つかりませんでした。\n"},
        {"<S />", "<T><S><f type = \"POINTER\", link = \"FILE\", name = \"img\" /></S></T>",
         "インスタンスに img が見つかりませんでした。\n"},
        {"<S><img ATRC_FILE = \"no/such/file.bin\" /></S>",
         "<T><S><f type = \"POINTER\", link = \"FILE\", name = \"img\" /></S></T>",
         "ファイル no/such/file.bin が開けませんでした。\n"},
        {"<S />", "<T><S><f type = \"FILE_INDEX\", size = 4 /></S></T>",
         "ファイル名のアトリビュートが見つかりませんでした。\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.templ);
        const Result r = Compile(c.instance, c.templ);
        EXPECT_EQ(r.ok, 0);
        EXPECT_EQ(r.log, c.message);
    }
}

TEST_F(AtrCompilerTest, CommentNodeInTheInstanceFails)
{
    const Result r = Compile("<P x = 5, s = \"ab\"><!-- note --></P>", kTwoFields);
    EXPECT_EQ(r.ok, 0);
}

TEST_F(AtrCompilerTest, StructureContainingItselfEndsWithAnError)
{
    std::string instance = "<R>";
    for (int i = 0; i < 50; ++i) instance += "<R ATRC_NAME = \"inner\">";
    for (int i = 0; i < 51; ++i) instance += "</R>";
    const Result r = Compile(instance, "<T><R><f type = \"R\", name = \"inner\" /></R></T>");
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.log, "こう造体検索中に [ELEMENT]:R [ATRC_NAME]:inner が見つかりませんでした。\n");
}

TEST_F(AtrCompilerTest, HundredThousandLevelsCompileWithoutRecursion)
{
    const int depth = 100000;
    // Each level writes its value and then its children in place.
    std::string instance;
    instance.reserve(size_t(depth) * 24);
    for (int i = 0; i < depth; ++i) instance += "<N v = " + std::to_string(i) + ">";
    for (int i = 0; i < depth; ++i) instance += "</N>";
    const Result r = Compile(instance, "<T><N><f type = \"SINT\", name = \"v\", size = 4 />"
                                       "<f type = \"N\", array = 0 /></N></T>");
    ASSERT_EQ(r.ok, 1) << r.log;
    EXPECT_EQ(r.U32(32), 0u);
    EXPECT_EQ(r.U32(32 + 4 * (depth - 1)), uint32_t(depth - 1));
    const CvChunk* ext = r.Chunk("EXT0");
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(r.U32(r.At(ext) + 32 + 40), uint32_t(depth)) << "deepest nesting";

    // The same depth as separate structures (pre-order, no nesting in place).
    const Result s = Compile(instance, "<T><N><f type = \"SINT\", name = \"v\", size = 4 /></N></T>");
    ASSERT_EQ(s.ok, 1) << s.log;
    EXPECT_EQ(s.U32(32 + 4 * 12345), 12345u);
}

TEST_F(AtrCompilerTest, EmbeddedFileIsCopiedAligned)
{
    const std::string path = WriteTestFile("atrc_test_file.bin", "0123456789");
    ASSERT_FALSE(path.empty());
    const Result r = Compile("<S><img ATRC_FILE = \"" + path + "\" /></S>",
                             "<T><S><f type = \"POINTER\", link = \"FILE\", name = \"img\" />"
                             "<f type = \"POINTER\", link = \"FILE\", name = \"img\" /></S></T>");
    std::remove(path.c_str());
    ASSERT_EQ(r.ok, 1) << r.log;
    EXPECT_EQ(r.U32(32), 64u);
    EXPECT_EQ(r.U32(36), 64u) << "one file, stored once";
    EXPECT_EQ(std::memcmp(&r.image[64], "0123456789", 10), 0);
    const CvChunk* atrb = CvChunk::GetFirst(r.image.data(), r.image.size());
    EXPECT_EQ(atrb->GetSize(), 64u);
}

TEST_F(AtrCompilerTest, ResourceFileIndexAndSize)
{
    const std::string path = WriteTestFile("atrc_test_resource.bin", "resource");
    ASSERT_FALSE(path.empty());
    AtrNode* data = Parse("<CvFileData ATRC_FILE = \"" + path + "\", uSize = 0 />");
    AtrNode* def = Parse("<T><CvFileData><f type = \"FILE_INDEX\", size = 4 /><f type = \"FILE_SIZE\", size = 4 />"
                         "<f type = \"UINT\", name = \"uSize\", size = 4 /></CvFileData></T>");
    ASSERT_NE(data, nullptr);
    ASSERT_NE(def, nullptr);
    {
        AtrCompiler compiler;
        ASSERT_EQ(compiler.CreateBinary(data, def, 1, 32), 1) << PlatformCp932ToUtf8(compiler.GetErrorLog().GetBuffer());
        const uint8_t* p = static_cast<const uint8_t*>(compiler.GetDataChunk());
        uint32_t w[3];
        std::memcpy(w, p + 32, 12);
        EXPECT_EQ(w[0], 0u);
        EXPECT_EQ(w[1], 32u) << "padded size";
        EXPECT_EQ(w[2], 32u) << "uSize of CvFileData receives the size";
        const CvChunk* fils = static_cast<const CvChunk*>(compiler.GetResourceChunk());
        ASSERT_NE(fils, nullptr);
        EXPECT_EQ(fils->GetTag(), CvChunkMakeTag("FILS"));
        EXPECT_EQ(fils->codecFlags & 1u, 1u) << "scrambled on request";
    }
    std::remove(path.c_str());
    AtrNodeDestroyChain(data);
    AtrNodeDestroyChain(def);
}

} // namespace
