// The quality option of the palettised reductions, through the rdq calls.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "reduce/RdqApi.h"

namespace {

struct Picture {
    uint32_t type = RDQ_IMAGE_RGB, width = 64, height = 64;
    std::vector<uint8_t> px;
    int Bpp() const { return type == RDQ_IMAGE_RGBA ? 4 : 3; }
    bool Counted(size_t i) const { return type != RDQ_IMAGE_RGBA || px[i * 4 + 3] != 0; }
};

Picture Fixture(const char* name)
{
    Picture p;
    p.type = std::strstr(name, ".rgba") ? RDQ_IMAGE_RGBA : RDQ_IMAGE_RGB;
    std::string path = std::string(LUMIVOR_SOURCE_DIR) + "/reduce/tests/data/" + name;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) p.px.insert(p.px.end(), buf, buf + n);
        std::fclose(f);
    }
    return p;
}

struct Settings {
    uint32_t code = RDQ_REDUCE_PALETTE, colours = 256, transparent = 0, reserve = 0, dither = 1;
    uint32_t quality = RDQ_QUALITY_BEST;
    std::vector<uint8_t> caller; // R, G, B entries (RDQ_PALETTE_RGB)
};

Settings Palette(uint32_t code, uint32_t colours, uint32_t transparent = 0, uint32_t reserve = 0, uint32_t dither = 1,
                 std::vector<uint8_t> caller = {})
{
    Settings s;
    s.code = code, s.colours = colours, s.transparent = transparent, s.reserve = reserve, s.dither = dither;
    s.caller = std::move(caller);
    return s;
}

// One reduction; its palette indices and the palette widened to R, G, B.
struct Result {
    std::vector<uint8_t> index, palette;
    uint64_t digest = 0;
};

uint64_t Fnv(const void* p, size_t n, uint64_t h = 1469598103934665603ull)
{
    const uint8_t* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
    return h;
}

Result Reduce(const Picture& pic, const Settings& s)
{
    Result r;
    void* h = rdqOpenHandle();
    EXPECT_EQ(rdqSetImage(h, pic.type, 0, pic.px.data(), pic.width, pic.height), 1u);
    EXPECT_EQ(rdqSetOption(h, RDQ_OPTION_COLORS, s.colours), 1u);
    EXPECT_EQ(rdqSetOption(h, RDQ_OPTION_TRANSPARENT, s.transparent), 1u);
    EXPECT_EQ(rdqSetOption(h, RDQ_OPTION_RESERVE, s.reserve), 1u);
    EXPECT_EQ(rdqSetOption(h, RDQ_OPTION_DITHER, s.dither), 1u);
    EXPECT_EQ(rdqSetOption(h, RDQ_OPTION_QUALITY, s.quality), 1u);
    if (!s.caller.empty()) rdqSetPalette(h, RDQ_PALETTE_RGB, s.caller.data(), uint32_t(s.caller.size() / 3));
    if (rdqReduce(h, s.code) == 1) {
        const uint8_t* idx = static_cast<const uint8_t*>(rdqGetImage(h, 0));
        const uint8_t* pal = static_cast<const uint8_t*>(rdqGetPalette(h, 0));
        r.index.assign(idx, idx + rdqGetImageDataSize(h, 0));
        r.digest = Fnv(rdqGetImage(h, 0), rdqGetImageDataSize(h, 0));
        if (pal) r.digest = Fnv(pal, rdqGetPaletteDataSize(h, 0), r.digest);
        for (uint32_t e = 0; pal && e < rdqGetPaletteCount(h, 0); ++e) {
            if (rdqGetPaletteType(h, 0) == RDQ_PALETTE_RGB) {
                r.palette.insert(r.palette.end(), pal + 3 * e, pal + 3 * e + 3);
                continue;
            }
            const uint32_t v = pal[2 * e] | uint32_t(pal[2 * e + 1]) << 8;
            const uint32_t r5 = v & 31, g6 = (v >> 5) & 63, b5 = v >> 11;
            r.palette.push_back(uint8_t(r5 << 3 | r5 >> 2));
            r.palette.push_back(uint8_t(g6 << 2 | g6 >> 4));
            r.palette.push_back(uint8_t(b5 << 3 | b5 >> 2));
        }
    }
    rdqCloseHandle(h);
    return r;
}

// Squared R, G, B error of the counted pixels.
uint64_t Error(const Picture& pic, const Result& r)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < size_t(pic.width) * pic.height; ++i) {
        if (!pic.Counted(i)) continue;
        for (int c = 0; c < 3; ++c) {
            const int d = int(pic.px[i * pic.Bpp() + c]) - r.palette[r.index[i] * 3 + c];
            sum += uint64_t(d * d);
        }
    }
    return sum;
}

// The nearest level of a channel that keeps `bits` bits (low bits refilled
// from the top ones), found by trying every level.
int NearestLevel(int v, int bits)
{
    int best = 0;
    for (int q = 0; q < (1 << bits); ++q) {
        const int w = (q << (8 - bits)) | (q >> (2 * bits - 8));
        if (std::abs(w - v) < std::abs(best - v)) best = w;
    }
    return best;
}

// A 64 x 64 picture of `distinct` colours in blocks, with anti-aliased-like
// mixes along the block edges.
Picture Blocks(int distinct, uint32_t type = RDQ_IMAGE_RGB)
{
    Picture p;
    p.type = type;
    p.px.resize(64 * 64 * p.Bpp());
    for (int i = 0; i < 64 * 64; ++i) {
        const int k = (i / 7 + (i / 64) * 3) % distinct;
        uint8_t* q = &p.px[i * p.Bpp()];
        q[0] = uint8_t(k * 37), q[1] = uint8_t(255 - k * 11), q[2] = uint8_t(k * k);
        if (type == RDQ_IMAGE_RGBA) q[3] = (i % 9 == 0) ? 0 : 255;
    }
    return p;
}

} // namespace

TEST(RdqQuality, OptionIsRefusedOutsideItsValues)
{
    void* h = rdqOpenHandle();
    EXPECT_EQ(rdqSetOption(h, RDQ_OPTION_QUALITY, 2), 0u);
    EXPECT_EQ(rdqSetOption(h, RDQ_OPTION_QUALITY, RDQ_QUALITY_BEST), 1u);
    EXPECT_EQ(rdqSetOption(h, RDQ_OPTION_QUALITY, RDQ_QUALITY_COMPATIBLE), 1u);
    EXPECT_EQ(rdqSetOption(nullptr, RDQ_OPTION_QUALITY, RDQ_QUALITY_BEST), 0u);
    rdqCloseHandle(h);
}

// Colours that fit the free entries come out exactly, dithered or not.
TEST(RdqQuality, ExactPaletteWhenTheColoursFit)
{
    struct Case {
        const char* what;
        Picture pic;
        Settings s;
    } cases[] = {
        {"200 colours in 256", Blocks(200), Palette(RDQ_REDUCE_PALETTE, 256)},
        {"200 colours undithered", Blocks(200), Palette(RDQ_REDUCE_PALETTE, 256, 0, 0, 0)},
        {"15 colours, index 0 transparent", Blocks(15, RDQ_IMAGE_RGBA), Palette(RDQ_REDUCE_PALETTE, 16, 1)},
        {"13 colours beside 3 reserved", Blocks(13), Palette(RDQ_REDUCE_PALETTE, 16, 1, 2)},
        {"16-bit palette", Blocks(60), Palette(RDQ_REDUCE_PALETTE565, 64)},
        // Two of the caller's four colours are in the picture.
        {"caller entries", Blocks(14),
         Palette(RDQ_REDUCE_PALETTE, 16, 0, 0, 1, {1, 2, 3, 0, 255, 0, 37, 244, 1, 74, 233, 4})},
    };
    for (const Case& c : cases) {
        const Result r = Reduce(c.pic, c.s);
        ASSERT_FALSE(r.index.empty()) << c.what;
        const int reserved = int(c.s.transparent + c.s.reserve);
        for (size_t i = 0; i < r.index.size(); ++i) {
            if (!c.pic.Counted(i)) {
                ASSERT_EQ(r.index[i], 0) << c.what;
                continue;
            }
            ASSERT_GE(r.index[i], reserved) << c.what;
            const uint8_t* own = &c.pic.px[i * c.pic.Bpp()];
            const uint8_t* got = &r.palette[r.index[i] * 3];
            const bool sixteen = c.s.code == RDQ_REDUCE_PALETTE565;
            ASSERT_EQ(got[0], sixteen ? NearestLevel(own[0], 5) : own[0]) << c.what << " pixel " << i;
            ASSERT_EQ(got[1], sixteen ? NearestLevel(own[1], 6) : own[1]) << c.what << " pixel " << i;
            ASSERT_EQ(got[2], sixteen ? NearestLevel(own[2], 5) : own[2]) << c.what << " pixel " << i;
        }
        for (size_t e = 0; e < c.s.caller.size(); ++e) EXPECT_EQ(r.palette[e], c.s.caller[e]) << c.what;
    }
}

// Small and degenerate inputs reduce as they do without the option.
TEST(RdqQuality, EdgeCases)
{
    Picture clear;
    clear.type = RDQ_IMAGE_RGBA;
    clear.width = clear.height = 5;
    clear.px.assign(5 * 5 * 4, 0); // every pixel transparent
    Picture one;
    one.width = one.height = 1;
    one.px = {9, 8, 7};
    Picture two = Blocks(2);
    const std::vector<uint8_t> full = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    struct Case {
        const char* what;
        Picture pic;
        Settings s;
        std::vector<uint8_t> palette; // expected (empty: not checked)
    } cases[] = {
        {"all transparent", clear, Palette(RDQ_REDUCE_PALETTE, 16, 1), {}},
        {"one pixel", one, Palette(RDQ_REDUCE_PALETTE565, 2), {}},
        {"two colours, one free entry", two, Palette(RDQ_REDUCE_PALETTE, 2, 1), {}},
        {"caller palette of N entries", two, Palette(RDQ_REDUCE_PALETTE, 4, 0, 0, 1, full), full},
    };
    for (const Case& c : cases) {
        const Result r = Reduce(c.pic, c.s);
        ASSERT_EQ(r.index.size(), size_t(c.pic.width) * c.pic.height) << c.what;
        ASSERT_EQ(r.palette.size(), size_t(c.s.colours) * 3) << c.what;
        if (!c.palette.empty()) {
            EXPECT_EQ(r.palette, c.palette) << c.what;
        }
        for (size_t i = 0; i < r.index.size(); ++i) {
            ASSERT_LT(r.index[i], c.s.colours) << c.what;
            ASSERT_GE(r.index[i], c.pic.Counted(i) ? c.s.transparent : 0) << c.what;
            ASSERT_TRUE(c.pic.Counted(i) || r.index[i] == 0) << c.what;
        }
    }
}

// Reserved and caller entries keep their places and colours when the
// palette is refined.
TEST(RdqQuality, FixedEntriesStay)
{
    const Picture photo = Fixture("photo_64.rgb");
    ASSERT_EQ(photo.px.size(), 64u * 64 * 3);
    const std::vector<uint8_t> caller = {0, 0, 0, 250, 250, 250, 200, 30, 30, 30, 200, 30, 30, 30, 200, 128, 128, 128};
    struct Case {
        uint32_t code, transparent, reserve;
        bool withCaller;
    } cases[] = {{RDQ_REDUCE_PALETTE, 0, 2, false}, {RDQ_REDUCE_PALETTE, 1, 1, true}, {RDQ_REDUCE_PALETTE565, 0, 0, true}};
    for (const Case& c : cases) {
        Settings s;
        s.code = c.code;
        s.colours = 32;
        s.transparent = c.transparent;
        s.reserve = c.reserve;
        if (c.withCaller) s.caller = caller;
        const Result r = Reduce(photo, s);
        ASSERT_EQ(r.palette.size(), 32u * 3) << c.code;
        const int reserved = int(c.transparent + c.reserve);
        for (uint8_t i : r.index) ASSERT_GE(i, reserved);
        if (c.withCaller) {
            // The caller's 5-6-5-exact colours survive a 16-bit palette too.
            for (size_t e = 0; e < caller.size(); ++e)
                EXPECT_NEAR(r.palette[e], caller[e], c.code == RDQ_REDUCE_PALETTE565 ? 7 : 0) << c.code << " " << e;
        } else {
            for (int e = 0; e < 3 * reserved; ++e) EXPECT_EQ(r.palette[e], 0);
        }
    }
}

// The refined palette costs no more error than the compatible one.
TEST(RdqQuality, NeverWorseThanCompatible)
{
    struct Case {
        const char* file;
        uint32_t code, colours;
    } cases[] = {
        {"photo_64.rgb", RDQ_REDUCE_PALETTE, 16},    {"photo_64.rgb", RDQ_REDUCE_PALETTE565, 64},
        {"logo_64.rgb", RDQ_REDUCE_PALETTE, 64},     {"logo_64.rgb", RDQ_REDUCE_PALETTE565, 16},
        {"icons_64.rgba", RDQ_REDUCE_PALETTE, 256},  {"icons_64.rgba", RDQ_REDUCE_PALETTE565, 16},
        {"sprite_64.rgba", RDQ_REDUCE_PALETTE, 64},  {"sprite_64.rgba", RDQ_REDUCE_PALETTE565, 256},
    };
    for (const Case& c : cases) {
        const Picture pic = Fixture(c.file);
        Settings s = Palette(c.code, c.colours, pic.type == RDQ_IMAGE_RGBA, 0, 0);
        const Result best = Reduce(pic, s);
        s.quality = RDQ_QUALITY_COMPATIBLE;
        const Result compatible = Reduce(pic, s);
        ASSERT_FALSE(best.index.empty());
        EXPECT_LE(Error(pic, best), Error(pic, compatible)) << c.file << " " << c.code << " " << c.colours;
    }
}

// Pixels of a flat area whose colour is in the palette keep it exactly with
// dithering on, while the gradient beside it is dithered.
TEST(RdqQuality, DitheringLeavesFlatAreasClean)
{
    Picture pic;
    pic.width = 48;
    pic.height = 24;
    pic.px.resize(48 * 24 * 3);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 48; ++x) {
            uint8_t* p = &pic.px[(y * 48 + x) * 3];
            if (x < 16) p[0] = 66, p[1] = 130, p[2] = 198; // held exactly by 5-6-5 too
            else p[0] = uint8_t(x * 5), p[1] = uint8_t(y * 10), p[2] = 60;
        }
    Settings s;
    s.colours = 6;
    s.caller = {66, 130, 198};
    s.caller.resize(6, 0); // and black
    const Result dithered = Reduce(pic, s);
    s.dither = 0;
    const Result plain = Reduce(pic, s);
    ASSERT_FALSE(dithered.index.empty());
    int differs = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 48; ++x) {
            const int i = y * 48 + x;
            if (x < 16) ASSERT_EQ(dithered.index[i], 0) << x << "," << y;
            else differs += dithered.index[i] != plain.index[i];
        }
    EXPECT_GT(differs, 48);

    // The direct 5-6-5 reduction keeps the block exact as well.
    void* h = rdqOpenHandle();
    rdqSetImage(h, RDQ_IMAGE_RGB, 0, pic.px.data(), 48, 24);
    rdqSetOption(h, RDQ_OPTION_QUALITY, RDQ_QUALITY_BEST);
    ASSERT_EQ(rdqReduce(h, RDQ_REDUCE_565), 1u);
    const uint8_t* words = static_cast<const uint8_t*>(rdqGetImage(h, 0));
    const uint32_t block = 66 >> 3 | (130 >> 2) << 5 | (198 >> 3) << 11;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 16; ++x) {
            const int i = y * 48 + x;
            ASSERT_EQ(words[2 * i] | uint32_t(words[2 * i + 1]) << 8, block) << x << "," << y;
        }
    rdqCloseHandle(h);
}

// The same bytes come out of every build (word size, optimisation).
TEST(RdqQuality, OutputsMatchReferenceDigests)
{
    struct Case {
        const char* file;
        uint32_t code, colours, transparent, dither;
        uint64_t digest;
    } cases[] = {
        {"photo_64.rgb", RDQ_REDUCE_PALETTE, 64, 0, 1, 0xca936ef47d033732ull},
        {"photo_64.rgb", RDQ_REDUCE_PALETTE, 16, 0, 0, 0xfe068b0c5fcb6502ull},
        {"logo_64.rgb", RDQ_REDUCE_PALETTE565, 32, 0, 1, 0x30239495632022c3ull},
        {"icons_64.rgba", RDQ_REDUCE_PALETTE, 16, 1, 1, 0xbadd3453865ad813ull},
        {"sprite_64.rgba", RDQ_REDUCE_PALETTE, 256, 1, 0, 0x3fdabf033bccd74eull},
        {"photo_64.rgb", RDQ_REDUCE_565, 256, 0, 1, 0x67124a5cb0ecfc58ull},
        {"icons_64.rgba", RDQ_REDUCE_4444, 256, 0, 1, 0x6e74624f3e2adbc9ull},
        {"sprite_64.rgba", RDQ_REDUCE_1555, 256, 0, 1, 0xa93cfa08d1d35c5dull},
    };
    for (const Case& c : cases) {
        Settings s;
        s.code = c.code;
        s.colours = c.colours;
        s.transparent = c.transparent;
        s.dither = c.dither;
        const Result r = Reduce(Fixture(c.file), s);
        EXPECT_EQ(r.digest, c.digest) << c.file << " " << c.code << " " << c.colours << " got 0x" << std::hex
                                      << r.digest;
    }
}
