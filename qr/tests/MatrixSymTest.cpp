// The exported call end to end: the bitmap file byte for byte, the failure
// results, and every symbol read back by an independent decoder.
#include "qr/MatrixSym.h"

#include "platform/PlatformCodePage.h"
#include "qr/QrEncoder.h"
#include "qr/QrTables.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path OutDir()
{
    const fs::path dir = fs::path(LUMIVOR_BINARY_DIR) / "qr-test-out" /
                         ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(dir);
    return dir;
}

std::vector<uint8_t> ReadFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t U32(const std::vector<uint8_t>& d, size_t o)
{
    return d[o] | d[o + 1] << 8 | d[o + 2] << 16 | static_cast<uint32_t>(d[o + 3]) << 24;
}

int32_t Create(const fs::path& path, const std::u16string& text, int32_t version)
{
    return CreateEncodeData(PlatformUtf8ToUtf16(path.string()).c_str(), text.c_str(), version);
}

// Side of the symbol in a written bitmap (0 when the file is not one).
int SymbolSide(const std::vector<uint8_t>& d)
{
    if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return 0;
    const uint32_t n = U32(d, 18);
    return d.size() == 54 + 4ull * n * n ? static_cast<int>(n) : 0;
}

// The decoder needs a quiet zone and several pixels per module; both are
// added to a copy for it, never to the library's file.
std::string Decode(const fs::path& bmp)
{
    const fs::path png = fs::path(bmp).replace_extension(".png");
    const fs::path txt = fs::path(bmp).replace_extension(".txt");
    const std::string cmd = "convert '" + bmp.string() + "' -alpha off -bordercolor white -border 4 -scale 400% '" +
                            png.string() + "' && zbarimg --nodbus -q --raw '" + png.string() + "' > '" +
                            txt.string() + "' 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) return "<not decoded>";
    const std::vector<uint8_t> raw = ReadFile(txt);
    std::string s(raw.begin(), raw.end());
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

std::string Words(size_t length, unsigned seed)
{
    static const char* kWords[] = {"menu", "screen", "remote", "key", "focus", "page", "list", "item",
                                   "Play", "Stop", "v2.1", "42", "OK", "back,", "next.", "(info)"};
    std::string s;
    while (s.size() < length) {
        seed = seed * 1103515245u + 12345u;
        s += kWords[(seed >> 16) % 16];
        s += ' ';
    }
    s.resize(length);
    return s;
}

} // namespace

TEST(MatrixSym, WritesTheBitmapByteForByte)
{
    const fs::path out = OutDir() / "hello.bmp";
    ASSERT_EQ(Create(out, u"HELLO WORLD", 0), 1);
    const std::vector<uint8_t> d = ReadFile(out);
    ASSERT_EQ(d.size(), 1818u);  // version 1: 54 + 4 x 21 x 21
    const uint8_t header[54] = {'B', 'M', 0x1A, 0x07, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,    // file header
                                40, 0, 0, 0, 21, 0, 0, 0, 21, 0, 0, 0, 1, 0, 32, 0,    // size, width, height, planes, bpp
                                0, 0, 0, 0, 0xE4, 0x06, 0, 0,                          // no compression, 1764 pixel bytes
                                0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.begin() + 54), std::vector<uint8_t>(header, header + 54));

    // Stored row r is module column x = r, pixel c the module of row y = c.
    QrEncoder e;
    const std::string text = "HELLO WORLD";
    ASSERT_TRUE(e.Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), QR_LEVEL_M, 0));
    for (int x = 0; x < 21; ++x)
        for (int y = 0; y < 21; ++y) {
            const uint32_t px = U32(d, 54 + 4 * static_cast<size_t>(x * 21 + y));
            ASSERT_EQ(px, e.IsDark(x, y) ? 0xFF000000u : 0xFFFFFFFFu) << "x " << x << " y " << y;
        }
    // The first stored row begins with the finder's left column: seven dark
    // pixels, then the light separator.
    for (int c = 0; c < 7; ++c) EXPECT_EQ(U32(d, 54 + 4 * c), 0xFF000000u) << c;
    EXPECT_EQ(U32(d, 54 + 4 * 7), 0xFFFFFFFFu);
    EXPECT_EQ(Decode(out), "HELLO WORLD");
}

TEST(MatrixSym, ReplacesAnExistingFile)
{
    const fs::path out = OutDir() / "replace.bmp";
    ASSERT_EQ(Create(out, u"A LONGER TEXT THAT NEEDS A LARGER SYMBOL THAN VERSION ONE", 0), 1);
    ASSERT_GT(fs::file_size(out), 1818u);
    ASSERT_EQ(Create(out, u"SHORT", 0), 1);
    EXPECT_EQ(fs::file_size(out), 1818u);
    EXPECT_EQ(Decode(out), "SHORT");
}

TEST(MatrixSym, FailuresWriteNothing)
{
    const fs::path dir = OutDir();
    struct Case { const char* name; std::u16string text; int32_t version; };
    const Case cases[] = {
        {"empty", u"", 0},
        {"too_long", std::u16string(2332, u'a'), 0},    // 40-M holds 2331 bytes
        {"kanji_too_long", std::u16string(1436, u'\u6F22'), 0},  // ... and 1435 Kanji
        {"version_41", u"HELLO", 41},
    };
    for (const Case& c : cases) {
        const fs::path out = dir / (std::string(c.name) + ".bmp");
        EXPECT_EQ(Create(out, c.text, c.version), 0) << c.name;
        EXPECT_FALSE(fs::exists(out)) << c.name;
    }
    EXPECT_EQ(CreateEncodeData(nullptr, u"HELLO", 0), 0);
    EXPECT_EQ(CreateEncodeData(u"x.bmp", nullptr, 0), 0);
    // A file that cannot be created: the call still ran to its end.
    const fs::path blocked = dir / "no-such-dir" / "x.bmp";
    EXPECT_EQ(Create(blocked, u"HELLO", 0), 1);
    EXPECT_FALSE(fs::exists(blocked));
}

TEST(MatrixSym, EverySymbolDecodesToItsText)
{
    struct Case { const char* name; std::string utf8; int32_t requested; int expectedVersion; };
    const Case cases[] = {
        {"numeric", "01234567", 0, 1},
        {"alnum", "HELLO WORLD $%*+-./:", 0, 1},
        {"byte", "hello, world!", 0, 1},
        {"kanji", "漢字のテスト、点茗", 0, 2},
        {"kanji_ascii", "メニュー画面 MENU 2026", 0, 2},
        {"mixed", "ABC123def456 https://example.com/path?q=1&r=2", 0, 4},
        {"digits_letters", "0123456789012345ABCDEFGHIJ", 0, 2},
        {"url", "HTTPS://EXAMPLE.COM/A/B/C", 0, 2},
        {"version7", Words(110, 1), 0, 7},
        {"minimum10", "MIN", 10, 10},
        {"minimum2", "12345", 2, 2},
        {"minimum5", "SHORT", 5, 5},
        {"version10", Words(200, 2), 0, 10},
        {"version27", Words(1100, 3), 0, 27},
        {"version40", Words(2300, 4), 0, 40},
        {"numeric40", std::string(5596, '9'), 0, 40},
        {"unmapped", "caf\xC3\xA9", 0, 1},  // no CP932 form: stored as '?'
    };
    const fs::path dir = OutDir();
    for (const Case& c : cases) {
        const fs::path out = dir / (std::string(c.name) + ".bmp");
        ASSERT_EQ(Create(out, PlatformUtf8ToUtf16(c.utf8), c.requested), 1) << c.name;
        EXPECT_EQ(SymbolSide(ReadFile(out)), 4 * c.expectedVersion + 17) << c.name;
        const std::string expected = std::string(c.name) == "unmapped" ? "caf?" : c.utf8;
        EXPECT_EQ(Decode(out), expected) << c.name;
    }
}
