// The template-free binary image of a tree: its exact layout, value fields,
// the string table order, round trips of every kind, scrambling, the work
// size bound, deep trees and malformed images.
#include "attribute/AtrConverter.h"
#include "attribute/tests/AtrTestTree.h"
#include "kit/CvChunk.h"
#include "kit/CvkRandom.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace atrtest;

namespace {

class AtrConverterTest : public KitTest {};

// The image of `tree` as bytes (empty when writing failed).
std::vector<uint8_t> Pack(AtrNode* tree, int scramble = 0)
{
    AtrConverter converter;
    if (!converter.CreateBinary(tree, scramble)) return {};
    const uint8_t* p = static_cast<const uint8_t*>(converter.GetBuffer());
    return std::vector<uint8_t>(p, p + converter.GetSize());
}

std::vector<uint8_t> PackText(const char* text)
{
    AtrNode* tree = Parse(text);
    EXPECT_NE(tree, nullptr) << text;
    std::vector<uint8_t> image = Pack(tree);
    AtrNodeDestroyChain(tree);
    return image;
}

// The dump of the tree read from a copy of `image` ("null" when refused).
std::string Unpack(std::vector<uint8_t> image)
{
    AtrConverter converter;
    AtrNode* tree = converter.CreateTree(image.data(), static_cast<uint32_t>(image.size()));
    const std::string dump = Dump(tree);
    EXPECT_EQ(tree == nullptr, converter.CheckError() != 0);
    AtrNode::Destroy(tree);
    return dump;
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
    uint32_t v = 0;
    std::memcpy(&v, &b[at], 4);
    return v;
}

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

std::string Hex(const std::vector<uint8_t>& b, size_t at, size_t n)
{
    std::string out;
    char buffer[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buffer, sizeof buffer, i == 0 ? "%02X" : " %02X", b[at + i]);
        out += buffer;
    }
    return out;
}

// Offset of the string table (records padded to 4).
size_t TableAt(const std::vector<uint8_t>& b) { return (48 + U32(b, 36) + 3) & ~size_t(3); }

} // namespace

TEST_F(AtrConverterTest, SingleNodeImageByteForByte)
{
    const std::vector<uint8_t> b = PackText("<A/>");
    ASSERT_EQ(b.size(), 112u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "ATRB");
    EXPECT_EQ(U32(b, 4), 32u);  // 48 + 32 is a multiple of 16
    EXPECT_EQ(U32(b, 8), 48u);
    EXPECT_EQ(U32(b, 32), 61005u);
    EXPECT_EQ(U32(b, 36), 5u);
    EXPECT_EQ(U32(b, 40), 10u);
    EXPECT_EQ(U32(b, 44), 1u);
    EXPECT_EQ(Hex(b, 48, 8), "01 02 00 08 00 00 00 00");
    EXPECT_EQ(Hex(b, 56, 10), "01 00 00 00 08 00 00 00 41 00");
    for (size_t i = 66; i < 80; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(std::string(b.begin() + 80, b.begin() + 84), "EOFC");
    EXPECT_EQ(U32(b, 84), 0u);
    EXPECT_EQ(U32(b, 88), 32u);
}

// Value fields take the fewest bytes that hold them as signed numbers.
TEST_F(AtrConverterTest, ValueFieldWidths)
{
    struct Case {
        const char* text;
        const char* record; // the attribute record: header, name index, value
    };
    const Case cases[] = {
        {"<A v = 200 />", "22 04 01 00 00 00 C8 00"},
        {"<A v = -1 />", "22 02 01 00 00 00 FF"},
        {"<A v = 127 />", "22 02 01 00 00 00 7F"},
        {"<A v = -129 />", "22 04 01 00 00 00 7F FF"},
        {"<A v = 0x800000 />", "22 10 01 00 00 00 00 00 80 00"},
        {"<A v = -8388608 />", "22 08 01 00 00 00 00 00 80"},
        {"<A v = 0.0 />", "82 02 01 00 00 00 00"},
        {"<A v = 1.0 />", "82 10 01 00 00 00 00 00 80 3F"},
        {"<A v = \"A\" />", "02 03 01 00 00 00 00"},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> b = PackText(c.text);
        ASSERT_FALSE(b.empty()) << c.text;
        const size_t n = (std::strlen(c.record) + 1) / 3;
        EXPECT_EQ(Hex(b, 51, n), c.record) << c.text;
    }
    // "UINT" 0xFFFFFFFF is the one byte FF, and reads back whole.
    AtrNode* tree = AtrNode::Create(nullptr, "A");
    tree->AddAttributeU32("v", 0xFFFFFFFFu);
    tree->AddDataU32(0x80000000u);
    const std::vector<uint8_t> b = Pack(tree);
    AtrNode::Destroy(tree);
    EXPECT_EQ(Hex(b, 51, 7), "42 02 01 00 00 00 FF");
    EXPECT_EQ(Hex(b, 58, 6), "44 10 00 00 00 80");
    EXPECT_EQ(Unpack(b), "A(v=U:4294967295)[U:2147483648]");
}

// Each distinct text once, in order of first use: element, per attribute its
// text value before its name, data texts, then the children.
TEST_F(AtrConverterTest, StringTableInOrderOfFirstUse)
{
    const std::vector<uint8_t> b = PackText("<A v = \"A\", n = \"x\">\"t\", \"A\" <B m = 1>\"\"</B><!-- c --></A>");
    const size_t t = TableAt(b);
    const uint32_t count = U32(b, t);
    ASSERT_EQ(count, U32(b, 44));
    std::vector<std::string> texts;
    for (uint32_t i = 0; i < count; ++i) texts.push_back(reinterpret_cast<const char*>(&b[t + U32(b, t + 4 + 4 * i)]));
    const std::vector<std::string> expected = {"A", "v", "x", "n", "t", "B", "m", "", "ATR_NODE_FLAG", " c "};
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(U32(b, t + 4), 4 + 4 * count);
    EXPECT_EQ(U32(b, 40), U32(b, t + 4 + 4 * (count - 1)) + sizeof " c ");
}

TEST_F(AtrConverterTest, RoundTripOfEveryKind)
{
    AtrNode* root = Parse("<R s = -5, t = \"text\", f = 2.5, e = \"\">1, -70000, 0.25, \"d\"\n"
                          "<C ATR_NODE_FLAG = 0x10018 u = 3 />\n"
                          "<!-- note -->\n"
                          "<?pi a = 1 ?>\n"
                          "<C><D><E/></D></C></R>");
    ASSERT_NE(root, nullptr);
    const uint8_t bytes[] = {0, 1, 0xFF, 0x80, 7};
    root->AddAttributeU32("u", 0xDEADBEEFu);
    root->AddAttribute("b", bytes, 5);
    root->AddAttribute("z", static_cast<const void*>(nullptr), 0);
    root->AddData(bytes + 1, 3);
    root->AddDataU32(4000000000u);
    AtrData fixed;
    fixed.SetFx32(4096);
    root->AddData(fixed); // "FIXED" has no record and is left out
    root->SetFlag(0, 0x80000001u);
    const std::string before = Dump(root);
    const std::vector<uint8_t> image = Pack(root);
    AtrNode::Destroy(root);
    ASSERT_FALSE(image.empty());
    std::string expected = before;
    expected.replace(expected.find(",?"), 2, "");
    EXPECT_EQ(Unpack(image), expected);
    EXPECT_NE(expected.find("B:0001ff8007"), std::string::npos);
    EXPECT_NE(expected.find("C#10018(u=S:3)"), std::string::npos);
}

// A node's flags go out as a "UINT" record "ATR_NODE_FLAG" right behind the
// node record, unless the node has such an attribute of its own.
TEST_F(AtrConverterTest, NodeFlagsTravelAsAnAttribute)
{
    // The flags record and its name are part of the work size.
    AtrNode* flagged = Parse("<A ATR_NODE_FLAG = 256 />");
    AtrConverter sized;
    ASSERT_EQ(sized.CreateBinary(flagged, 0), 1);
    EXPECT_EQ(sized.GetSize(), 128u);
    EXPECT_GE(sized.GetBinaryWorkSize(flagged), 128u);
    AtrNode::Destroy(flagged);

    std::vector<uint8_t> b = PackText("<A ATR_NODE_FLAG = 256 x = 1 />");
    EXPECT_EQ(Hex(b, 48, 16), "01 02 00 42 04 01 00 00 00 00 01 22 02 02 00 00");
    EXPECT_EQ(Unpack(b), "A#100(x=S:1)");

    AtrNode* own = AtrNode::Create(nullptr, "A");
    own->AddAttributeU32("ATR_NODE_FLAG", 0x200);
    own->SetFlag(0, 0x100);
    b = Pack(own);
    AtrNode::Destroy(own);
    EXPECT_EQ(Unpack(b), "A#200");

    // Two table entries with the text "ATR_NODE_FLAG" (the name x pointed at
    // the flag's text): both name the flags.
    b = PackText("<A ATR_NODE_FLAG = 256 x = 1 />");
    const size_t t = TableAt(b);
    PutU32(b, t + 12, U32(b, t + 8));
    EXPECT_EQ(Unpack(b), "A#1");
}

TEST_F(AtrConverterTest, ScrambledImageReadsBackTheSame)
{
    const char* text = "<A name = \"menu\", x = 12>\"item\", 3 <B/></A>";
    const std::vector<uint8_t> plain = PackText(text);
    CvkSetRandomSeed(7);
    AtrNode* tree = Parse(text);
    std::vector<uint8_t> scrambled = Pack(tree, 1);
    AtrNode::Destroy(tree);
    ASSERT_EQ(scrambled.size(), plain.size());
    EXPECT_EQ(U32(scrambled, 16), 1u);
    EXPECT_LE(U32(scrambled, 28), 254u);
    EXPECT_NE(std::vector<uint8_t>(scrambled.begin() + 48, scrambled.end() - 32),
              std::vector<uint8_t>(plain.begin() + 48, plain.end() - 32));

    AtrConverter converter;
    AtrNode* back = converter.CreateTree(scrambled.data(), static_cast<uint32_t>(scrambled.size()));
    EXPECT_EQ(Dump(back), Unpack(plain));
    AtrNode::Destroy(back);
    // Read in place: the image is descrambled and its flag cleared.
    EXPECT_EQ(U32(scrambled, 16), 0u);
    EXPECT_EQ(std::vector<uint8_t>(scrambled.begin() + 32, scrambled.end()),
              std::vector<uint8_t>(plain.begin() + 32, plain.end()));
}

// The work size bounds the image on random trees (flags, buffers, long texts).
TEST_F(AtrConverterTest, WorkSizeBoundsTheImage)
{
    std::mt19937 random(12345);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    auto text = [&]() { return std::string(pick(9), static_cast<char>('a' + pick(3))); };
    const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (int round = 0; round < 300; ++round) {
        AtrNode* root = AtrNode::Create(nullptr, text().c_str());
        AtrNode* node = root;
        const uint32_t nodes = 1 + pick(12);
        for (uint32_t i = 0; i < nodes; ++i) {
            if (pick(4) == 0) node->SetFlag(0, pick(2) ? 0x100u : 0x80000000u);
            for (uint32_t a = pick(3); a > 0; --a) {
                switch (pick(5)) {
                case 0: node->AddAttribute(text().c_str(), static_cast<int32_t>(random())); break;
                case 1: node->AddAttribute(text().c_str(), text().c_str()); break;
                case 2: node->AddAttribute(text().c_str(), bytes, pick(8)); break;
                case 3: node->AddAttribute(text().c_str(), 1.5f); break;
                default: node->AddAttributeU32(text().c_str(), pick(300)); break;
                }
            }
            for (uint32_t d = pick(3); d > 0; --d) {
                if (pick(2)) node->AddData(text().c_str(), "STRING");
                else node->AddData(static_cast<int32_t>(pick(1000)) - 500);
            }
            AtrNode* next = AtrNode::Create(pick(2) ? node : (node->GetParent() ? node->GetParent() : root), text().c_str());
            node = next;
        }
        AtrConverter converter;
        const uint32_t bound = converter.GetBinaryWorkSize(root);
        ASSERT_EQ(converter.CreateBinary(root, 0), 1) << Dump(root);
        EXPECT_LE(converter.GetSize(), bound) << Dump(root);
        // Exactly the image's size is enough as a caller's work buffer; one
        // byte less is an error.
        std::vector<uint8_t> work(converter.GetSize());
        AtrConverter exact;
        EXPECT_EQ(exact.CreateBinary(root, 0, work.data(), static_cast<uint32_t>(work.size())), 1);
        AtrConverter tight;
        EXPECT_EQ(tight.CreateBinary(root, 0, work.data(), static_cast<uint32_t>(work.size() - 1)), 0);
        EXPECT_NE(tight.CheckError(), 0u);
        AtrNode::Destroy(root);
    }
}

TEST_F(AtrConverterTest, AtMostFourThousandNinetySixBuffers)
{
    AtrNode* tree = AtrNode::Create(nullptr, "A");
    const uint8_t byte = 9;
    for (uint32_t i = 0; i < ATRV_BUFFER_MAX; ++i) tree->AddData(&byte, 1);
    std::vector<uint8_t> image = Pack(tree);
    ASSERT_FALSE(image.empty());
    AtrConverter reader;
    AtrNode* back = reader.CreateTree(image.data(), static_cast<uint32_t>(image.size()));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->GetDataSize(), 4096);
    AtrNode::Destroy(back);

    tree->AddData(&byte, 1);
    AtrConverter writer;
    EXPECT_EQ(writer.CreateBinary(tree, 0), 0);
    EXPECT_NE(writer.CheckError(), 0u);
    EXPECT_EQ(writer.GetBuffer(), nullptr);
    AtrNode::Destroy(tree);
}

// Writing and reading do not recurse: a chain 100,000 nodes deep.
TEST_F(AtrConverterTest, DeepChainPacksAndReadsBack)
{
    const int depth = 100000;
    AtrNode* root = AtrNode::Create(nullptr, "n");
    AtrNode* node = root;
    for (int i = 1; i < depth; ++i) node = AtrNode::Create(node, i % 2 ? "m" : "n");
    node->AddData(42);
    const std::vector<uint8_t> image = Pack(root);
    AtrNode::Destroy(root);
    ASSERT_FALSE(image.empty());
    AtrConverter converter;
    std::vector<uint8_t> copy = image;
    AtrNode* back = converter.CreateTree(copy.data(), static_cast<uint32_t>(copy.size()));
    ASSERT_NE(back, nullptr);
    int levels = 1;
    for (node = back; node->GetChild(0) != nullptr; node = node->GetChild(0)) ++levels;
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(node->GetData(0)->GetS32(), 42);
    AtrNode::Destroy(back);
}

// Malformed images give null and the Error flag, never a read outside them.
TEST_F(AtrConverterTest, MalformedImagesAreRefused)
{
    const std::vector<uint8_t> good = PackText("<A s = \"txt\">\"d\"<B/></A>");
    ASSERT_FALSE(good.empty());
    for (size_t n = 0; n < good.size() - 32; ++n) {
        // Every truncation of the chunk (the end chunk is not needed).
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_EQ(Unpack(cut), "null") << n;
    }
    const size_t t = TableAt(good);
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
    };
    const Case cases[] = {
        {"wrong tag", 0, 0x41545242},
        {"no extended header", 8, 32},
        {"size beyond the image", 4, 0x1000},
        {"record stream beyond the chunk", 36, 0x1000},
        {"table beyond the chunk", 40, 0x1000},
        {"header count differs from the table's", 44, U32(good, 44) + 1},
        {"string count larger than the table", t, 50},
        {"string offset outside the table", t + 4, 0x100},
        {"string offset into the offsets", t + 4, 4},
        {"record stream that never ends its node", 36, U32(good, 36) - 2},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = good;
        PutU32(bad, c.at, c.value);
        if (c.at == t) PutU32(bad, 44, c.value);
        EXPECT_EQ(Unpack(bad), "null") << c.what;
    }
}

// Records: element and name indexes must lie in the table, kinds and
// lengths must be known; a text value outside the table reads as empty.
TEST_F(AtrConverterTest, MalformedRecords)
{
    // <A v = "s" /> : 01 02 00 | 02 03 <name 4> <value 1> | 08 00
    const std::vector<uint8_t> good = PackText("<A v = \"s\" />");
    ASSERT_EQ(Hex(good, 48, 12), "01 02 00 02 03 02 00 00 00 01 08 00");
    struct Case {
        size_t at;
        uint8_t byte;
        const char* dump;
    };
    const Case cases[] = {
        {50, 0x09, "null"},            // element index outside the table
        {50, 0xFF, "null"},            // negative element index
        {53, 0x09, "null"},            // attribute name outside the table
        {57, 0x09, "A(v=T:)"},         // text value outside the table
        {57, 0x80, "A(v=T:)"},         // negative text value
        {52, 0x02, "null"},            // attribute with no value kind
        {52, 0x07, "null"},            // two value lengths
        {49, 0x00, "null"},            // node record without a length
        {48, 0x02, "null"},            // first record is no node
        {51, 0x07, "A"},               // any other record word ends the node
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = good;
        bad[c.at] = c.byte;
        EXPECT_EQ(Unpack(bad), c.dump) << c.at << " " << int(c.byte);
    }
}

// Buffer indexes walk the buffer list, which stores no count.
TEST_F(AtrConverterTest, BufferIndexesAreChecked)
{
    AtrNode* tree = AtrNode::Create(nullptr, "A");
    const uint8_t bytes[] = {1, 2, 3};
    tree->AddData(bytes, 3);
    const std::vector<uint8_t> good = Pack(tree);
    AtrNode::Destroy(tree);
    ASSERT_EQ(Hex(good, 48, 8), "01 02 00 04 22 00 08 00");
    EXPECT_EQ(Unpack(good), "A[B:010203]");
    // Index 1 reads the zero padding behind the list as an empty buffer;
    // index 2 would leave the chunk.
    for (uint8_t index : {0x02, 0xFF}) {
        std::vector<uint8_t> bad = good;
        bad[53] = index;
        EXPECT_EQ(Unpack(bad), "null") << int(index);
    }
    // 4097, in the two-byte field of the last of 200 buffers.
    AtrNode* many = AtrNode::Create(nullptr, "A");
    for (int i = 0; i < 200; ++i) many->AddData(bytes, 3);
    std::vector<uint8_t> wide = Pack(many);
    AtrNode::Destroy(many);
    const size_t last = 48 + U32(wide, 36) - 6;
    ASSERT_EQ(Hex(wide, last, 6), "04 24 C7 00 08 00");
    EXPECT_NE(Unpack(wide), "null");
    wide[last + 2] = 0x01;
    wide[last + 3] = 0x10;
    EXPECT_EQ(Unpack(wide), "null");
    // A buffer size running off the end of the chunk.
    std::vector<uint8_t> bad = good;
    const size_t list = (TableAt(good) + U32(good, 40) + 3) & ~size_t(3);
    PutU32(bad, list, 0x100);
    EXPECT_EQ(Unpack(bad), "null");
}

// Images before format mark 61005 have no padding before the table and the
// buffer list.
TEST_F(AtrConverterTest, OlderImagesWithoutAlignment)
{
    // <A/> renamed Q: records 01 02 00 08 00, the table right behind them.
    std::vector<uint8_t> image(80, 0);
    const uint8_t head[] = {'A', 'T', 'R', 'B', 32, 0, 0, 0, 48};
    std::memcpy(image.data(), head, sizeof head);
    PutU32(image, 36, 5);
    PutU32(image, 40, 10);
    PutU32(image, 44, 1);
    const uint8_t body[] = {0x01, 0x02, 0x00, 0x08, 0x00, 1, 0, 0, 0, 8, 0, 0, 0, 'Q', 0};
    std::memcpy(image.data() + 48, body, sizeof body);
    EXPECT_EQ(Unpack(image), "Q");
    PutU32(image, 32, 61005);
    EXPECT_EQ(Unpack(image), "null");
}

TEST_F(AtrConverterTest, FromFileAndTrustedBuffer)
{
    AtrNode* tree = Parse("<A x = 1><B/></A>");
    AtrConverter writer;
    ASSERT_EQ(writer.CreateBinary(tree, 1), 1);
    AtrNode::Destroy(tree);
    const std::string path = Path("a.bin");
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(writer.GetBuffer(), 1, writer.GetSize(), f);
    std::fclose(f);

    AtrConverter reader;
    AtrNode* back = reader.CreateTreeFromFile(path.c_str());
    EXPECT_EQ(Dump(back), "A(x=S:1){B}");
    AtrNode::Destroy(back);
    EXPECT_EQ(reader.CreateTreeFromFile(Path("missing.bin").c_str()), nullptr);

    back = reader.CreateTree(writer.GetBuffer());
    EXPECT_EQ(Dump(back), "A(x=S:1){B}");
    AtrNode::Destroy(back);
}

TEST_F(AtrConverterTest, AllocationFailuresLeaveNothingBehind)
{
    AtrNode* tree = Parse("<A s = \"txt\">\"d\", 5 <B t = 2.5 /><C/></A>");
    std::vector<uint8_t> image = Pack(tree);
    ASSERT_FALSE(image.empty());
    for (long limit = 0;; ++limit) {
        mainHeap.refuseFrom = mainHeap.count + limit;
        AtrConverter converter;
        const int ok = converter.CreateBinary(tree, 0);
        mainHeap.refuseFrom = -1;
        EXPECT_EQ(ok == 0, converter.CheckError() != 0);
        if (ok) break;
    }
    AtrNode::Destroy(tree);
    for (long limit = 0;; ++limit) {
        std::vector<uint8_t> copy = image;
        systemHeap.refuseFrom = systemHeap.count + limit;
        AtrConverter converter;
        AtrNode* back = converter.CreateTree(copy.data(), static_cast<uint32_t>(copy.size()));
        systemHeap.refuseFrom = -1;
        if (back != nullptr) {
            EXPECT_EQ(Dump(back), "A(s=T:txt)[T:d,S:5]{B(t=F:2.5) C}");
            AtrNode::Destroy(back);
            break;
        }
        EXPECT_NE(converter.CheckError(), 0u);
    }
}
