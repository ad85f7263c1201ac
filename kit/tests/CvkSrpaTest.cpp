#include "kit/CvkSrpa.h"

#include "kit/tests/CountingTestHeap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

uint32_t FloatBits(float f)
{
    uint32_t v;
    std::memcpy(&v, &f, 4);
    return v;
}

// One parameter of a row: its type byte (1 integer, 2 float, 3 string) and
// its value (strings: the text, laid out by the builder).
struct Param {
    uint8_t type;
    uint32_t bits;
    std::string text;
};
Param I(int32_t v) { return {1, uint32_t(v), {}}; }
Param F(float v) { return {2, FloatBits(v), {}}; }
Param S(const char* t) { return {3, 0, t}; }

using Sheet = std::vector<std::vector<Param>>;

// An "SRPA" chunk in a buffer of exactly its size (so that any read past the
// data area is an out-of-bounds access under the sanitizer). Data area:
// sheet table, row table, strings, rows, and the type table at the next
// 16-byte boundary after the last row when withTypes is set.
struct SrpaImage {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> rowOffsets; // as laid out, before relocation
    std::vector<uint32_t> stringOffsets;
    uint32_t typeOffset = 0;          // 0: none

    CvChunk* chunk() { return reinterpret_cast<CvChunk*>(bytes.data()); }
    uint8_t* data() { return bytes.data() + CVK_CHUNK_HEAD_SIZE; }
    uint32_t Word(uint32_t offset) const
    {
        uint32_t v;
        std::memcpy(&v, bytes.data() + CVK_CHUNK_HEAD_SIZE + offset, 4);
        return v;
    }
    void SetWord(uint32_t offset, uint32_t v) { std::memcpy(data() + offset, &v, 4); }
    uint32_t RowTableWord(size_t row) const { return Word(uint32_t(4 + 4 * sheetCount + 4 + 4 * row)); }
    uint32_t RowTableOffset(size_t row) const { return uint32_t(4 + 4 * sheetCount + 4 + 4 * row); }
    uint32_t DataSize() const { return uint32_t(bytes.size() - CVK_CHUNK_HEAD_SIZE); }
    // Cuts the data area to n bytes (the buffer shrinks with it).
    void Truncate(uint32_t n)
    {
        bytes.resize(CVK_CHUNK_HEAD_SIZE + n);
        chunk()->SetSize(n);
    }

    size_t sheetCount = 0;
};

SrpaImage BuildSrpa(const std::vector<Sheet>& sheets, bool withTypes)
{
    SrpaImage img;
    img.sheetCount = sheets.size();
    std::vector<uint32_t> words;
    words.push_back(uint32_t(sheets.size()));
    std::vector<const std::vector<Param>*> rows;
    for (const Sheet& s : sheets) {
        words.push_back(uint32_t(s.size()));
        for (const auto& r : s) rows.push_back(&r);
    }
    words.push_back(uint32_t(rows.size()));
    const size_t rowTable = words.size();
    words.resize(words.size() + rows.size());

    // Strings, each padded to a word.
    std::vector<uint8_t> strings;
    const uint32_t stringsAt = uint32_t(words.size() * 4);
    std::vector<std::vector<uint32_t>> stringAt(rows.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        for (const Param& p : *rows[r]) {
            uint32_t at = 0;
            if (p.type == 3) {
                at = stringsAt + uint32_t(strings.size());
                img.stringOffsets.push_back(at);
                strings.insert(strings.end(), p.text.begin(), p.text.end());
                strings.push_back(0);
                while (strings.size() % 4) strings.push_back(0);
            }
            stringAt[r].push_back(at);
        }
    }
    for (size_t i = 0; i < strings.size(); i += 4) {
        uint32_t w;
        std::memcpy(&w, strings.data() + i, 4);
        words.push_back(w);
    }

    std::vector<uint8_t> types;
    for (size_t r = 0; r < rows.size(); ++r) {
        const uint32_t at = uint32_t(words.size() * 4);
        img.rowOffsets.push_back(at);
        words[rowTable + r] = at;
        words.push_back(uint32_t(rows[r]->size()));
        types.push_back(0);
        for (size_t c = 0; c < rows[r]->size(); ++c) {
            const Param& p = (*rows[r])[c];
            words.push_back(p.type == 3 ? stringAt[r][c] : p.bits);
            types.push_back(p.type);
        }
    }

    std::vector<uint8_t> data(words.size() * 4);
    std::memcpy(data.data(), words.data(), data.size());
    if (withTypes) {
        data.resize((data.size() + 15) & ~size_t(15), 0xEE);
        img.typeOffset = uint32_t(data.size());
        data.insert(data.end(), types.begin(), types.end());
    }

    img.bytes.resize(CVK_CHUNK_HEAD_SIZE);
    img.chunk()->Clear();
    img.chunk()->SetTag(CVK_CHUNK_TAG_SRPA);
    img.chunk()->SetSize(uint32_t(data.size()));
    img.bytes.insert(img.bytes.end(), data.begin(), data.end());
    return img;
}

// Two sheets, three rows: ints, a float and strings mixed.
SrpaImage Sample(bool withTypes)
{
    return BuildSrpa({Sheet{{I(10), F(1.5f), S("alpha")}, {I(-7)}},
                      Sheet{{S("beta"), I(42), F(-0.25f), I(3)}}},
                     withTypes);
}

uint32_t Low32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

constexpr bool kAddressWords = sizeof(void*) == 4;

class CvkSrpaTest : public KitHeapTest {};

// Every answer of a sheet that serves nothing.
void ExpectServesNothing(CvkSrpa& s)
{
    EXPECT_EQ(s.GetRowNum(), 0);
    EXPECT_EQ(s.DebugGetSheetNum(), 0);
    EXPECT_EQ(s.DebugGetSheetRowNum(0), 0);
    EXPECT_EQ(s.GetParamNum(0), 0);
    EXPECT_EQ(s.GetParamType(0, 0), CVK_SRPA_TYPE_INVALID);
    EXPECT_EQ(s.GetParamS32(0, 0, 77), 77);
    EXPECT_EQ(s.GetParamF32(0, 1, 2.5f), 2.5f);
    EXPECT_EQ(s.GetParamStr(0, 2), nullptr);
    EXPECT_EQ(s.SetParamS32(0, 0, 1), 0);
    EXPECT_EQ(s.SetParamF32(0, 1, 1.0f), 0);
    EXPECT_EQ(s.SetParamStr(0, 2, "x"), 0);
    s.FloatAddress();
    s.RelocateAddress();
}

TEST_F(CvkSrpaTest, ReadsRowsOfEveryTypeAndRelocatesTheRowTable)
{
    SrpaImage img = Sample(true);
    CvkSrpa s(img.chunk());
    ASSERT_FALSE(s.CheckError());
    EXPECT_TRUE(s.CheckReady());
    EXPECT_EQ(s.GetTag(), CVK_SRPA_TAG);

    EXPECT_EQ(s.DebugGetSheetNum(), 2);
    EXPECT_EQ(s.DebugGetSheetRowNum(0), 2);
    EXPECT_EQ(s.DebugGetSheetRowNum(1), 1);
    EXPECT_EQ(s.DebugGetSheetRowNum(2), 0);
    EXPECT_EQ(s.DebugGetSheetRowNum(-1), 0);
    EXPECT_EQ(s.GetRowNum(), 3);
    EXPECT_EQ(s.GetParamNum(0), 3);
    EXPECT_EQ(s.GetParamNum(1), 1);
    EXPECT_EQ(s.GetParamNum(2), 4);
    ASSERT_NE(s.GetTypeTable(), nullptr);
    EXPECT_EQ(s.GetTypeTable(), img.data() + img.typeOffset);

    EXPECT_EQ(s.GetParamType(0, 0), CVK_SRPA_TYPE_S32);
    EXPECT_EQ(s.GetParamType(0, 1), CVK_SRPA_TYPE_F32);
    EXPECT_EQ(s.GetParamType(0, 2), CVK_SRPA_TYPE_STR);
    EXPECT_EQ(s.GetParamType(2, 0), CVK_SRPA_TYPE_STR);
    EXPECT_EQ(s.GetParamType(2, 3), CVK_SRPA_TYPE_S32);

    EXPECT_EQ(s.GetParamS32(0, 0, 0), 10);
    EXPECT_EQ(s.GetParamF32(0, 1, 0.0f), 1.5f);
    EXPECT_STREQ(s.GetParamStr(0, 2), "alpha");
    EXPECT_EQ(s.GetParamStr(0, 2), reinterpret_cast<const char*>(img.data() + img.stringOffsets[0]));
    EXPECT_EQ(s.GetParamS32(1, 0, 0), -7);
    EXPECT_STREQ(s.GetParamStr(2, 0), "beta");
    EXPECT_EQ(s.GetParamS32(2, 1, 0), 42);
    EXPECT_EQ(s.GetParamF32(2, 2, 0.0f), -0.25f);

    // 32-bit build: the words became addresses and bit 0 is set. 64-bit
    // build: offsets stay, bit 0 stays clear, the chunk is marked adopted.
    for (size_t r = 0; r < 3; ++r) {
        const uint32_t expect = kAddressWords ? img.rowOffsets[r] + Low32(img.data()) : img.rowOffsets[r];
        EXPECT_EQ(img.RowTableWord(r), expect) << "row " << r;
    }
    EXPECT_EQ(img.chunk()->mapFlags, kAddressWords ? CVK_SRPA_FLAG_ADDRESS : CVK_SRPA_FLAG_ADOPTED);
}

TEST_F(CvkSrpaTest, BadRowsAndColumnsGiveDefaults)
{
    SrpaImage img = Sample(true);
    CvkSrpa s(img.chunk());
    const struct {
        int32_t row, col;
    } cells[] = {{-1, 0}, {3, 0}, {0, -1}, {0, 3}, {1, 1}, {INT32_MAX, 0}, {0, INT32_MAX}};
    for (const auto& c : cells) {
        SCOPED_TRACE(testing::Message() << "row " << c.row << " col " << c.col);
        EXPECT_EQ(s.GetParamType(c.row, c.col), CVK_SRPA_TYPE_INVALID);
        EXPECT_EQ(s.GetParamS32(c.row, c.col, 5), 5);
        EXPECT_EQ(s.GetParamF32(c.row, c.col, 5.5f), 5.5f);
        EXPECT_EQ(s.GetParamStr(c.row, c.col), nullptr);
        EXPECT_EQ(s.SetParamS32(c.row, c.col, 1), 0);
        EXPECT_EQ(s.SetParamF32(c.row, c.col, 1.0f), 0);
        EXPECT_EQ(s.SetParamStr(c.row, c.col, "x"), 0);
    }
    EXPECT_EQ(s.GetParamNum(-1), 0);
    EXPECT_EQ(s.GetParamNum(3), 0);
}

TEST_F(CvkSrpaTest, NullOrWrongTagOrNoRowsServesNothing)
{
    SrpaImage img = Sample(true);
    const std::vector<uint8_t> before = img.bytes;
    img.chunk()->SetTag(CvChunkMakeTag("SRPB"));
    CvkSrpa wrong(img.chunk());
    EXPECT_TRUE(wrong.CheckError());
    EXPECT_FALSE(wrong.CheckReady());
    ExpectServesNothing(wrong);
    img.chunk()->SetTag(CVK_CHUNK_TAG_SRPA);
    EXPECT_EQ(img.bytes, before) << "a refused chunk is left untouched";

    CvkSrpa none(nullptr);
    EXPECT_TRUE(none.CheckError());
    ExpectServesNothing(none);

    // A well-formed sheet without rows: no type table, every look-up fails.
    SrpaImage empty = BuildSrpa({Sheet{}}, true);
    CvkSrpa e(empty.chunk());
    EXPECT_FALSE(e.CheckError());
    EXPECT_EQ(e.DebugGetSheetNum(), 1);
    EXPECT_EQ(e.GetRowNum(), 0);
    EXPECT_EQ(e.GetTypeTable(), nullptr);
    EXPECT_EQ(e.GetParamType(0, 0), CVK_SRPA_TYPE_INVALID);
    EXPECT_EQ(e.GetParamS32(0, 0, 9), 9);
}

TEST_F(CvkSrpaTest, TypeTableDecidesTypedAccess)
{
    // With the table, a mismatching type gives the default and the setters
    // refuse; without it, the raw word is read and written whatever it is.
    for (bool withTypes : {true, false}) {
        SCOPED_TRACE(withTypes ? "type table" : "no type table");
        SrpaImage img = Sample(withTypes);
        CvkSrpa s(img.chunk());
        ASSERT_FALSE(s.CheckError());
        EXPECT_EQ(s.GetTypeTable() != nullptr, withTypes);
        EXPECT_EQ(s.GetParamType(0, 0), withTypes ? CVK_SRPA_TYPE_S32 : CVK_SRPA_TYPE_INVALID);

        const uint32_t floatBits = FloatBits(1.5f);
        EXPECT_EQ(s.GetParamS32(0, 1, -1), withTypes ? -1 : int32_t(floatBits));
        EXPECT_EQ(s.GetParamF32(0, 0, -1.0f), withTypes ? -1.0f : [] {
            float f;
            const uint32_t ten = 10;
            std::memcpy(&f, &ten, 4);
            return f;
        }());
        const char* asString = s.GetParamStr(1, 0); // the integer -7 as an offset: outside
        EXPECT_EQ(asString, nullptr);
        EXPECT_EQ(s.GetParamStr(0, 0) != nullptr, !withTypes) << "offset 10 lies inside the data area";

        const uint32_t cell01 = img.rowOffsets[0] + 4 + 4;
        EXPECT_EQ(s.SetParamS32(0, 1, 99), withTypes ? 0 : 1);
        EXPECT_EQ(img.Word(cell01), withTypes ? floatBits : 99u);
        EXPECT_EQ(s.SetParamF32(0, 0, 2.0f), withTypes ? 0 : 1);
        EXPECT_EQ(s.SetParamStr(0, 0, "x"), withTypes ? 0 : 1);

        // Matching types are written in place.
        EXPECT_EQ(s.SetParamS32(2, 1, -1234), 1);
        EXPECT_EQ(img.Word(img.rowOffsets[2] + 4 + 4), uint32_t(-1234));
        EXPECT_EQ(s.GetParamS32(2, 1, 0), -1234);
        EXPECT_EQ(s.SetParamF32(2, 2, 8.75f), 1);
        EXPECT_EQ(s.GetParamF32(2, 2, 0.0f), 8.75f);
    }
}

TEST_F(CvkSrpaTest, SecondSheetOverTheSameChunkKeepsWordsAndHasNoTypeTable)
{
    SrpaImage img = Sample(true);
    CvkSrpa first(img.chunk());
    const std::vector<uint8_t> relocated = img.bytes;
    CvkSrpa second(img.chunk());
    EXPECT_FALSE(second.CheckError());
    EXPECT_EQ(img.bytes, relocated) << "the second sheet changes nothing in the chunk";
    EXPECT_EQ(second.GetTypeTable(), nullptr);
    EXPECT_EQ(second.GetParamType(0, 0), CVK_SRPA_TYPE_INVALID);
    // Same values; without a type table types are not consulted.
    EXPECT_STREQ(second.GetParamStr(2, 0), "beta");
    EXPECT_EQ(second.GetParamS32(0, 1, 0), int32_t(FloatBits(1.5f)));
    EXPECT_EQ(first.GetParamS32(0, 1, 0), 0);
}

TEST_F(CvkSrpaTest, FloatAddressThenNewSheetRestoresAddressesAndTypeTable)
{
    SrpaImage img = Sample(true);
    const std::vector<uint8_t> pristine = img.bytes;
    CvkSrpa first(img.chunk());
    const std::vector<uint8_t> relocated = img.bytes;

    first.FloatAddress();
    EXPECT_EQ(img.bytes, pristine) << "the chunk is back to offsets and flags 0";
    // The first sheet keeps answering over the floated chunk.
    EXPECT_EQ(first.GetParamS32(2, 1, 0), 42);
    EXPECT_STREQ(first.GetParamStr(0, 2), "alpha");
    first.FloatAddress();
    EXPECT_EQ(img.bytes, pristine) << "floating twice changes nothing";

    CvkSrpa again(img.chunk());
    EXPECT_EQ(img.bytes, relocated) << "the same addresses as the first time";
    ASSERT_NE(again.GetTypeTable(), nullptr);
    EXPECT_EQ(again.GetParamType(0, 1), CVK_SRPA_TYPE_F32);
    EXPECT_EQ(again.GetParamS32(0, 1, -3), -3);
    EXPECT_EQ(again.GetParamF32(0, 1, 0.0f), 1.5f);

    // Relocating again over a relocated chunk does nothing.
    again.RelocateAddress();
    EXPECT_EQ(img.bytes, relocated);
}

TEST_F(CvkSrpaTest, StringOverrides)
{
    SrpaImage img = Sample(true);
    {
        CvkSrpa s(img.chunk());
        const std::vector<uint8_t> before = img.bytes;
        EXPECT_EQ(s.SetParamStr(0, 2, "first"), 1);
        EXPECT_EQ(s.SetParamStr(0, 2, "second text"), 1);
        EXPECT_STREQ(s.GetParamStr(0, 2), "second text");
        EXPECT_EQ(mainHeap.LiveBlocks(), 2) << "one record and its string";
        EXPECT_EQ(img.bytes, before) << "overrides never touch the chunk";
        EXPECT_STREQ(reinterpret_cast<const char*>(img.data() + img.stringOffsets[0]), "alpha");

        // Another cell gets its own record; the first cell keeps its text.
        EXPECT_EQ(s.SetParamStr(2, 0, ""), 1);
        EXPECT_STREQ(s.GetParamStr(2, 0), "");
        EXPECT_STREQ(s.GetParamStr(0, 2), "second text");
        EXPECT_EQ(mainHeap.LiveBlocks(), 4);
        EXPECT_EQ(s.SetParamStr(2, 0, nullptr), 0);
        EXPECT_STREQ(s.GetParamStr(2, 0), "");

        // Out of memory: no record is added and nothing leaks; a failed
        // replacement keeps the old text.
        mainHeap.refuse = 1;
        EXPECT_EQ(s.SetParamStr(0, 2, "lost"), 0);
        mainHeap.refuse = 0;
        EXPECT_STREQ(s.GetParamStr(0, 2), "second text");
        SrpaImage other = Sample(true);
        CvkSrpa t(other.chunk());
        mainHeap.refuseAfter = 1; // the copy succeeds, the record does not
        EXPECT_EQ(t.SetParamStr(0, 2, "lost"), 0);
        mainHeap.refuseAfter = -1;
        EXPECT_STREQ(t.GetParamStr(0, 2), "alpha");
        EXPECT_EQ(mainHeap.LiveBlocks(), 4);
    }
    EXPECT_EQ(mainHeap.LiveBlocks(), 0) << "destruction releases every override";
}

TEST_F(CvkSrpaTest, ProcessWideSheetAndHotSwap)
{
    SrpaImage a = Sample(true);
    SrpaImage b = BuildSrpa({Sheet{{I(5)}}}, true);
    SrpaImage bad = Sample(true);
    bad.chunk()->SetTag(CvChunkMakeTag("XXXX"));

    EXPECT_EQ(CvkSrpaGet(), nullptr);
    EXPECT_EQ(CvkInitSrpa(a.chunk()), 1);
    CvkSrpa* sheet = CvkSrpaGet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(systemHeap.LiveBlocks(), 1) << "the sheet comes from the system heap";
    EXPECT_EQ(CvkInitSrpa(b.chunk()), 1) << "an existing sheet stays";
    EXPECT_EQ(CvkSrpaGet(), sheet);
    EXPECT_EQ(CvkSrpaGet()->GetRowNum(), 3);

    EXPECT_EQ(CvkHotSwapSrpa(b.chunk()), 1);
    EXPECT_EQ(CvkSrpaGet()->GetParamS32(0, 0, 0), 5);
    EXPECT_EQ(CvkHotSwapSrpa(bad.chunk()), 0);
    EXPECT_EQ(CvkSrpaGet(), nullptr);
    EXPECT_EQ(CvkInitSrpa(nullptr), 0);
    EXPECT_EQ(systemHeap.LiveBlocks(), 0);

    systemHeap.refuse = 1;
    EXPECT_EQ(CvkInitSrpa(a.chunk()), 0) << "no memory for the sheet";
    systemHeap.refuse = 0;
    EXPECT_EQ(CvkSrpaGet(), nullptr);

    EXPECT_EQ(CvkHotSwapSrpa(a.chunk()), 1);
    ASSERT_NE(CvkSrpaGet(), nullptr);
    EXPECT_EQ(CvkSrpaGet()->SetParamStr(0, 2, "kept until exit"), 1);
    CvkExitSrpa();
    EXPECT_EQ(CvkSrpaGet(), nullptr);
    CvkExitSrpa();
}

// A row placed over the tables: writing its cell changes the row count in
// the chunk, but the sheet keeps the counts it checked.
TEST_F(CvkSrpaTest, SetterOverTheTablesCannotWidenThem)
{
    SrpaImage img = Sample(false);
    const uint32_t rowCountWord = img.RowTableOffset(0) - 4;
    // Row 1's count word becomes sheet 1's row count (1), its only
    // parameter the row count of the row table.
    img.SetWord(img.RowTableOffset(1), rowCountWord - 4);
    CvkSrpa s(img.chunk());
    ASSERT_FALSE(s.CheckError());
    EXPECT_EQ(s.GetParamNum(1), 1);
    EXPECT_EQ(s.GetParamS32(1, 0, 0), 3);
    EXPECT_EQ(s.SetParamS32(1, 0, 0x3FFFFFFF), 1);
    EXPECT_EQ(img.Word(rowCountWord), 0x3FFFFFFFu);
    EXPECT_EQ(s.GetRowNum(), 3);
    s.FloatAddress();
    s.RelocateAddress();
    EXPECT_EQ(s.GetParamS32(2, 1, 0), 42);
}

// Corruptions of a well-formed chunk, each in a buffer of exactly its size.
TEST_F(CvkSrpaTest, MalformedChunksNeverReadOutside)
{
    struct Case {
        const char* what;
        std::function<void(SrpaImage&)> corrupt;
        bool error; // the sheet or row table does not fit
        std::function<void(CvkSrpa&)> check;
    };
    const Case cases[] = {
        {"data area too small for the sheet count", [](SrpaImage& m) { m.Truncate(3); }, true, nullptr},
        {"no data at all", [](SrpaImage& m) { m.Truncate(0); }, true, nullptr},
        {"sheet count beyond the data area", [](SrpaImage& m) { m.SetWord(0, 0x40000000u); }, true, nullptr},
        {"row count beyond the data area", [](SrpaImage& m) { m.SetWord(m.RowTableOffset(0) - 4, 0x3FFFFFFFu); },
         true, nullptr},
        {"head size below 32", [](SrpaImage& m) { m.chunk()->SetHeadSize(16); }, true, nullptr},
        {"row offset outside",
         [](SrpaImage& m) { m.SetWord(m.RowTableOffset(1), m.DataSize()); }, false,
         [](CvkSrpa& s) {
             EXPECT_EQ(s.GetParamNum(1), 0);
             EXPECT_EQ(s.GetParamS32(1, 0, 3), 3);
             EXPECT_EQ(s.SetParamS32(1, 0, 1), 0);
             EXPECT_EQ(s.GetParamS32(2, 1, 0), 42) << "other rows still answer";
         }},
        {"row offset near the 32-bit limit",
         [](SrpaImage& m) { m.SetWord(m.RowTableOffset(0), 0xFFFFFFFEu); }, false,
         [](CvkSrpa& s) {
             EXPECT_EQ(s.GetParamNum(0), 0);
             EXPECT_EQ(s.GetParamType(2, 0), CVK_SRPA_TYPE_INVALID) << "types are counted from row 0";
             EXPECT_EQ(s.GetParamStr(2, 0), nullptr);
         }},
        {"parameter count beyond the data area",
         [](SrpaImage& m) { m.SetWord(m.rowOffsets[2], 0x7FFFFFFFu); }, false,
         [](CvkSrpa& s) {
             EXPECT_EQ(s.GetParamNum(2), 0);
             EXPECT_EQ(s.GetParamS32(2, 1, 8), 8);
             EXPECT_EQ(s.GetTypeTable(), nullptr) << "the last row is unusable";
             EXPECT_EQ(s.GetParamS32(0, 0, 0), 10);
         }},
        {"string offset outside",
         [](SrpaImage& m) { m.SetWord(m.rowOffsets[0] + 12, m.DataSize() + 100); }, false,
         [](CvkSrpa& s) {
             EXPECT_EQ(s.GetParamStr(0, 2), nullptr);
             EXPECT_EQ(s.SetParamStr(0, 2, "ok"), 1) << "an override does not need the chunk's string";
             EXPECT_STREQ(s.GetParamStr(0, 2), "ok");
         }},
        {"unterminated string at the end",
         [](SrpaImage& m) {
             const uint32_t last = m.DataSize() - 2;
             m.data()[last] = 'x';
             m.data()[last + 1] = 'y';
             m.SetWord(m.rowOffsets[2] + 4, last);
         },
         false, [](CvkSrpa& s) { EXPECT_EQ(s.GetParamStr(2, 0), nullptr); }},
        {"type table cut short",
         [](SrpaImage& m) { m.Truncate(m.typeOffset + 4); }, false,
         [](CvkSrpa& s) {
             ASSERT_NE(s.GetTypeTable(), nullptr);
             EXPECT_EQ(s.GetParamType(0, 2), CVK_SRPA_TYPE_STR);
             EXPECT_EQ(s.GetParamType(2, 0), CVK_SRPA_TYPE_INVALID);
             EXPECT_EQ(s.GetParamS32(2, 1, 6), 6);
             EXPECT_EQ(s.SetParamS32(2, 1, 1), 0);
         }},
        {"invalid type byte",
         [](SrpaImage& m) { m.data()[m.typeOffset + 1] = 9; }, false,
         [](CvkSrpa& s) {
             EXPECT_EQ(s.GetParamType(0, 0), CVK_SRPA_TYPE_INVALID);
             EXPECT_EQ(s.GetParamS32(0, 0, 4), 4);
         }},
        {"row offset not on a word of the rows area",
         [](SrpaImage& m) { m.SetWord(m.RowTableOffset(1), m.rowOffsets[1] - 2); }, false,
         [](CvkSrpa& s) { EXPECT_EQ(s.GetParamType(1, 0), CVK_SRPA_TYPE_INVALID); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SrpaImage img = Sample(true);
        c.corrupt(img);
        CvkSrpa s(img.chunk());
        EXPECT_EQ(s.CheckError() != 0, c.error);
        if (c.error) {
            ExpectServesNothing(s);
        } else {
            c.check(s);
            for (int32_t r = -1; r <= s.GetRowNum(); ++r) {
                for (int32_t col = -1; col <= 4; ++col) {
                    s.GetParamType(r, col);
                    s.GetParamS32(r, col, 0);
                    s.GetParamF32(r, col, 0.0f);
                    const char* t = s.GetParamStr(r, col);
                    if (t != nullptr) (void)std::strlen(t);
                }
            }
            s.FloatAddress();
            s.RelocateAddress();
        }
    }
}

} // namespace
