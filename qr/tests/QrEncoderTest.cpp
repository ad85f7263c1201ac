// The encoder without files or decoders: tables, Reed-Solomon, format and
// version codes, segmentation, the penalty score, mask and version choice.
#include "qr/QrEncoder.h"
#include "qr/QrTables.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::unique_ptr<QrEncoder> Encode(const std::string& text, int level = QR_LEVEL_M, int version = 0,
                                  int mask = -1, bool autoExtend = true)
{
    auto e = std::make_unique<QrEncoder>();
    if (!e->Encode(Bytes(text), text.size(), level, version, mask, autoExtend)) return nullptr;
    return e;
}

} // namespace

TEST(QrTables, MatchTheStandardCapacities)
{
    // Data codewords at level M for every version, and a few others.
    const int dataM[40] = {16,   28,   44,   64,   86,   108,  124,  154,  182,  216,
                           254,  290,  334,  365,  415,  453,  507,  563,  627,  669,
                           714,  782,  860,  914,  1000, 1062, 1128, 1193, 1267, 1373,
                           1455, 1541, 1631, 1725, 1812, 1914, 1992, 2102, 2216, 2334};
    for (int v = 1; v <= 40; ++v) EXPECT_EQ(QrDataCodewords(v, QR_LEVEL_M), dataM[v - 1]) << "version " << v;
    EXPECT_EQ(QrDataCodewords(1, QR_LEVEL_L), 19);
    EXPECT_EQ(QrDataCodewords(1, QR_LEVEL_Q), 13);
    EXPECT_EQ(QrDataCodewords(1, QR_LEVEL_H), 9);
    EXPECT_EQ(QrDataCodewords(40, QR_LEVEL_L), 2956);
    EXPECT_EQ(QrLayout(40, QR_LEVEL_H).totalCodewords, 3706);
    // 5-Q: two blocks of 15 and two of 16 data codewords, 18 EC each.
    const QrBlockLayout& b = QrLayout(5, QR_LEVEL_Q);
    EXPECT_EQ(b.blocks1, 2);
    EXPECT_EQ(b.data1, 15);
    EXPECT_EQ(b.blocks2, 2);
    EXPECT_EQ(b.data2, 16);
    EXPECT_EQ(b.ecPerBlock, 18);

    struct { int version; std::vector<int> centres; } cases[] = {
        {1, {}}, {2, {6, 18}}, {7, {6, 22, 38}}, {15, {6, 26, 48, 70}},
        {32, {6, 34, 60, 86, 112, 138}}, {36, {6, 24, 50, 76, 102, 128, 154}},
        {40, {6, 30, 58, 86, 114, 142, 170}},
    };
    for (const auto& c : cases) {
        int centres[7];
        const int n = QrAlignmentCentres(c.version, centres);
        EXPECT_EQ(std::vector<int>(centres, centres + n), c.centres) << "version " << c.version;
    }
}

TEST(QrTables, FormatAndVersionCodes)
{
    EXPECT_EQ(QrFormatBits(QR_LEVEL_M, 0), 0x5412u);
    EXPECT_EQ(QrFormatBits(QR_LEVEL_L, 0), 0x77C4u);
    EXPECT_EQ(QrFormatBits(QR_LEVEL_Q, 0), 0x355Fu);
    EXPECT_EQ(QrFormatBits(QR_LEVEL_H, 0), 0x1689u);
    EXPECT_EQ(QrFormatBits(QR_LEVEL_M, 5), 0x40CEu);  // 100000011001110
    EXPECT_EQ(QrFormatBits(QR_LEVEL_L, 7), 0x6976u);  // 110100101110110
    EXPECT_EQ(QrVersionBits(7), 0x07C94u);
    EXPECT_EQ(QrVersionBits(8), 0x085BCu);
    EXPECT_EQ(QrVersionBits(40), 0x28C69u);
}

TEST(QrEncoder, EightDigitsGiveTheKnownCodewords)
{
    // "01234567" at 1-M: one numeric segment, then terminator and padding,
    // and the block's ten error-correction codewords.
    auto e = Encode("01234567");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Version(), 1);
    ASSERT_EQ(e->SegmentCount(), 1);
    EXPECT_EQ(e->Segment(0).mode, QR_MODE_NUMERIC);
    EXPECT_EQ(e->Segment(0).length, 8);
    const std::vector<uint8_t> expected = {0x10, 0x20, 0x0C, 0x56, 0x61, 0x80, 0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11, 0xEC,
                                           0x11, 0xEC, 0x11, 0xA5, 0x24, 0xD4, 0xC1, 0xED, 0x36, 0xC7, 0x87, 0x2C, 0x55};
    EXPECT_EQ(std::vector<uint8_t>(e->Codewords(), e->Codewords() + e->CodewordCount()), expected);
}

TEST(QrEncoder, ShiftJisTextIsKanjiMode)
{
    // 0x935F and 0xE4AA from both Kanji ranges: 13-bit values 0x0D9F, 0x1AAA.
    auto e = Encode("\x93\x5F\xE4\xAA");
    ASSERT_TRUE(e);
    ASSERT_EQ(e->SegmentCount(), 1);
    EXPECT_EQ(e->Segment(0).mode, QR_MODE_KANJI);
    EXPECT_EQ(e->Segment(0).length, 4);
    // 1000 00000010 0110110011111 1101010101010 0000 + zero fill
    const std::string bits = "1000" "00000010" "0110110011111" "1101010101010" "0000" "00";
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < bits.size(); i += 8) expected.push_back(static_cast<uint8_t>(std::stoi(bits.substr(i, 8), nullptr, 2)));
    expected.push_back(0xEC);
    ASSERT_EQ(e->CodewordCount(), 26);
    EXPECT_EQ(std::vector<uint8_t>(e->Codewords(), e->Codewords() + expected.size()), expected);
}

TEST(QrEncoder, ReedSolomonCodewordsAreMultiplesOfTheGenerator)
{
    // Data followed by its EC codewords, read as a polynomial, vanishes at
    // every root a^0 .. a^(n-1) of the generator.
    std::vector<uint8_t> data(100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
    for (int n : {7, 10, 13, 18, 22, 26, 28, 30}) {
        std::vector<uint8_t> word = data;
        word.resize(data.size() + static_cast<size_t>(n));
        QrReedSolomon(data.data(), static_cast<int>(data.size()), n, word.data() + data.size());
        uint8_t root = 1;
        for (int r = 0; r < n; ++r) {
            uint8_t acc = 0;
            for (uint8_t c : word) acc = static_cast<uint8_t>(QrGfMul(acc, root) ^ c);
            EXPECT_EQ(acc, 0) << "length " << n << " root " << r;
            root = QrGfMul(root, 2);
        }
    }
}

TEST(QrSegmentation, CutsAndMergesModes)
{
    struct Seg { uint8_t mode; int length; };
    struct Case { std::string text; int group; std::vector<Seg> expected; };
    const Case cases[] = {
        {"01234567", 1, {{QR_MODE_NUMERIC, 8}}},
        // Digits then letters: one alphanumeric segment (46 bits) beats 24 + 30.
        {"123ABC", 1, {{QR_MODE_ALNUM, 6}}},
        // ... but fourteen digits and two letters stay apart (61 + 24 < 101).
        {"12345678901234AB", 1, {{QR_MODE_NUMERIC, 14}, {QR_MODE_ALNUM, 2}}},
        // A lone digit between bytes joins them.
        {"a1b", 1, {{QR_MODE_BYTE, 3}}},
        {"abc123def", 1, {{QR_MODE_BYTE, 9}}},
        // Eleven digits between bytes are worth their own segment.
        {"abc12345678901def", 1, {{QR_MODE_BYTE, 3}, {QR_MODE_NUMERIC, 11}, {QR_MODE_BYTE, 3}}},
        // The count widths of the group decide: 7 digits between bytes
        // stay numeric in group 1 (72 > 66 bits) but join the bytes in
        // group 2 (72 < 76).
        {"ab1234567cd", 1, {{QR_MODE_BYTE, 2}, {QR_MODE_NUMERIC, 7}, {QR_MODE_BYTE, 2}}},
        {"ab1234567cd", 2, {{QR_MODE_BYTE, 11}}},
        // Kanji (two bytes each) beside ASCII.
        {"\x8A\xBF\x8E\x9A" "ABCDEFGH", 1, {{QR_MODE_KANJI, 4}, {QR_MODE_ALNUM, 8}}},
        // A lead byte without its trail byte is a plain byte.
        {"A\x8A", 1, {{QR_MODE_BYTE, 2}}},
        // Half-width katakana and bytes past the Kanji ranges are bytes.
        {"\xB1\xB2\xEC\x40", 1, {{QR_MODE_BYTE, 4}}},
    };
    for (const Case& c : cases) {
        QrSegment segs[64];
        const int n = QrSegmentText(Bytes(c.text), c.text.size(), c.group, segs, 64);
        std::vector<std::pair<int, int>> got, want;
        for (int i = 0; i < n; ++i) got.emplace_back(segs[i].mode, segs[i].length);
        for (const Seg& s : c.expected) want.emplace_back(s.mode, s.length);
        EXPECT_EQ(got, want) << c.text << " in group " << c.group;
    }
}

TEST(QrPenalty, ScoresHandBuiltMatrices)
{
    // Rows top to bottom, '1' dark.
    struct Case { const char* name; std::vector<std::string> rows; int expected; };
    auto fill = [](int n, int row, const std::string& pattern) {
        std::vector<std::string> rows(static_cast<size_t>(n), std::string(static_cast<size_t>(n), '0'));
        rows[static_cast<size_t>(row)] = pattern;
        return rows;
    };
    const Case cases[] = {
        // 10 runs of 5 (3 each), 16 light squares, balance 100 % light.
        {"all light", fill(5, 2, "00000"), 30 + 48 + 100},
        // A finder-like row spanning the width: the edges count as light.
        // Runs 6 x 5 + 2 x 5, 24 squares, 40 for the pattern, 89 % light.
        {"finder row", fill(7, 3, "1011101"), 30 + 10 + 72 + 40 + 70},
        // The pattern with three light modules on each side then dark: no 40.
        {"finder fenced", fill(15, 7, "100010111010001"), 182 + 174 + 528 + 90},
        // Four light modules before it: 40 more (and a longer light column, two more squares).
        {"finder open", fill(15, 7, "000010111010001"), 182 + 177 + 534 + 90 + 40},
    };
    for (const Case& c : cases) {
        const int n = static_cast<int>(c.rows.size());
        std::vector<uint8_t> dark(static_cast<size_t>(n * n));
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) dark[static_cast<size_t>(x * n + y)] = c.rows[y][x] == '1';
        EXPECT_EQ(QrPenalty(dark.data(), n), c.expected) << c.name;
        // Columns score as rows do: the transposed matrix scores the same.
        std::vector<uint8_t> t(dark.size());
        for (int x = 0; x < n; ++x)
            for (int y = 0; y < n; ++y) t[static_cast<size_t>(y * n + x)] = dark[static_cast<size_t>(x * n + y)];
        EXPECT_EQ(QrPenalty(t.data(), n), c.expected) << c.name << " transposed";
    }
}

TEST(QrEncoder, LowestPenaltyMaskWinsAndTheLowerOnATie)
{
    bool sawTie = false;
    for (int i = 0; i < 400; ++i) {
        const std::string text = "T" + std::to_string(i * 7919);
        auto e = Encode(text);
        ASSERT_TRUE(e);
        int best = 0;
        for (int m = 1; m < 8; ++m)
            if (e->MaskPenalty(m) < e->MaskPenalty(best)) best = m;
        EXPECT_EQ(e->Mask(), best) << text;
        for (int m = best + 1; m < 8; ++m) sawTie |= e->MaskPenalty(m) == e->MaskPenalty(best);
        // The forced mask reproduces the automatic symbol's penalty.
        if (i % 50 == 0) {
            auto forced = Encode(text, QR_LEVEL_M, 0, (best + 3) % 8);
            ASSERT_TRUE(forced);
            EXPECT_EQ(forced->Mask(), (best + 3) % 8);
        }
    }
    EXPECT_TRUE(sawTie) << "no text of the set had two masks at the lowest penalty";
}

// The scores of the automatic mask choice, computed on packed lines, equal
// the module-by-module penalty of the finished symbol under each mask, for
// sizes that fill one, two and three words of a line and at every level.
TEST(QrEncoder, MaskScoresEqualThePenaltyOfTheMaskedSymbol)
{
    struct Case { int version; int level; };
    const Case cases[] = {{1, QR_LEVEL_L}, {2, QR_LEVEL_M}, {9, QR_LEVEL_H}, {10, QR_LEVEL_Q},
                          {14, QR_LEVEL_M}, {25, QR_LEVEL_L}, {26, QR_LEVEL_H}, {40, QR_LEVEL_M}};
    for (const Case& c : cases) {
        const std::string text = "Score " + std::to_string(c.version * 7919 + c.level);
        auto chosen = Encode(text, c.level, c.version);
        ASSERT_TRUE(chosen);
        const int n = chosen->Size();
        std::vector<uint8_t> dark(static_cast<size_t>(n * n));
        for (int m = 0; m < 8; ++m) {
            auto forced = Encode(text, c.level, c.version, m);
            ASSERT_TRUE(forced);
            for (int x = 0; x < n; ++x)
                for (int y = 0; y < n; ++y) dark[static_cast<size_t>(x * n + y)] = forced->IsDark(x, y) ? 1 : 0;
            EXPECT_EQ(chosen->MaskPenalty(m), QrPenalty(dark.data(), n))
                << "version " << c.version << " level " << c.level << " mask " << m;
        }
    }
}

TEST(QrEncoder, FormatInformationIsInBothCopies)
{
    auto e = Encode("FORMAT CHECK", QR_LEVEL_Q, 0, 6);
    ASSERT_TRUE(e);
    const int n = e->Size();
    uint32_t first = 0, second = 0;
    // Bit 14 first: along row 8 from the left edge, then up column 8.
    const int firstX[15] = {0, 1, 2, 3, 4, 5, 7, 8, 8, 8, 8, 8, 8, 8, 8};
    const int firstY[15] = {8, 8, 8, 8, 8, 8, 8, 8, 7, 5, 4, 3, 2, 1, 0};
    for (int i = 0; i < 15; ++i) first = first << 1 | (e->IsDark(firstX[i], firstY[i]) ? 1u : 0u);
    // Up column 8 from the bottom, then along row 8 to the right edge.
    for (int i = 0; i < 7; ++i) second = second << 1 | (e->IsDark(8, n - 1 - i) ? 1u : 0u);
    for (int i = 0; i < 8; ++i) second = second << 1 | (e->IsDark(n - 8 + i, 8) ? 1u : 0u);
    EXPECT_EQ(first, QrFormatBits(QR_LEVEL_Q, 6));
    EXPECT_EQ(second, QrFormatBits(QR_LEVEL_Q, 6));
    EXPECT_TRUE(e->IsDark(8, n - 8));  // the dark module
}

TEST(QrEncoder, ChoosesVersionsAndFailsCleanly)
{
    struct Case { std::string text; int requested; bool autoExtend; int expected; };  // expected 0: fails
    const Case cases[] = {
        {"HELLO WORLD", 0, true, 1},
        {"HELLO WORLD", 10, true, 10},                    // 57 x 57
        {"HELLO WORLD", 40, true, 40},
        {std::string(2331, 'a'), 0, true, 40},           // the most bytes 40-M holds
        {std::string(2332, 'a'), 0, true, 0},
        {std::string(5596, '7'), 0, true, 40},           // the most digits
        {std::string(5597, '7'), 0, true, 0},
        {std::string(3391, 'Z'), 0, true, 40},           // the most alphanumerics
        {std::string(3392, 'Z'), 0, true, 0},
        {std::string(100, 'a'), 2, true, 6},              // a smaller request is extended
        {std::string(100, 'a'), 2, false, 0},             // ... unless extension is off
        {std::string(1100, 'a'), 5, true, 27},            // group 1 and 2 too small
        {"", 0, true, 0},
        {"HELLO", 41, true, 0},
    };
    for (const Case& c : cases) {
        QrEncoder e;
        const bool ok = e.Encode(Bytes(c.text), c.text.size(), QR_LEVEL_M, c.requested, -1, c.autoExtend);
        EXPECT_EQ(ok ? e.Version() : 0, c.expected) << c.text.size() << " bytes, requested " << c.requested;
        if (ok) {
            EXPECT_EQ(e.Size(), 4 * c.expected + 17);
        }
    }
}
