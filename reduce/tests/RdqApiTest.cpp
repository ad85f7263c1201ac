#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "reduce/RdqApi.h"

namespace {

struct Handle {
    void* h = rdqOpenHandle();
    ~Handle() { rdqCloseHandle(h); }
};

std::vector<uint8_t> Solid(uint32_t w, uint32_t h, int bpp, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255)
{
    std::vector<uint8_t> px(size_t(w) * h * bpp);
    for (size_t i = 0; i < px.size(); i += bpp) {
        px[i] = r, px[i + 1] = g, px[i + 2] = b;
        if (bpp == 4) px[i + 3] = a;
    }
    return px;
}

std::vector<uint8_t> Fixture(const char* name)
{
    std::string path = std::string(LUMIVOR_SOURCE_DIR) + "/reduce/tests/data/" + name;
    std::vector<uint8_t> data;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
        std::fclose(f);
    }
    return data;
}

uint64_t Fnv(const void* p, size_t n, uint64_t h = 1469598103934665603ull)
{
    const uint8_t* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
    return h;
}

} // namespace

TEST(RdqApi, RejectsNullAndForeignHandles)
{
    uint32_t foreign[64] = {};
    for (void* h : {static_cast<void*>(nullptr), static_cast<void*>(foreign)}) {
        uint8_t px[3] = {};
        EXPECT_EQ(rdqCloseHandle(h), 0u);
        EXPECT_EQ(rdqSetImage(h, RDQ_IMAGE_RGB, 0, px, 1, 1), 0u);
        EXPECT_EQ(rdqSetPalette(h, RDQ_PALETTE_RGB, px, 2), 0u);
        EXPECT_EQ(rdqSetOption(h, RDQ_OPTION_COLORS, 16), 0u);
        EXPECT_EQ(rdqReduce(h, RDQ_REDUCE_PALETTE), 0u);
        EXPECT_EQ(rdqGetImageCount(h), 0u);
        EXPECT_EQ(rdqGetImage(h, 0), nullptr);
        EXPECT_EQ(rdqGetImageWidth(h, 0), 0u);
        EXPECT_EQ(rdqGetImageHeight(h, 0), 0u);
        EXPECT_EQ(rdqGetImageType(h, 0), 0u);
        EXPECT_EQ(rdqGetImageDataSize(h, 0), 0u);
        EXPECT_EQ(rdqGetPalette(h, 0), nullptr);
        EXPECT_EQ(rdqGetPaletteCount(h, 0), 0u);
        EXPECT_EQ(rdqGetPaletteType(h, 0), 0u);
        EXPECT_EQ(rdqGetPaletteDataSize(h, 0), 0u);
    }
    for (uint32_t w : foreign) EXPECT_EQ(w, 0u);
    Handle h;
    EXPECT_EQ(*static_cast<uint32_t*>(h.h), *static_cast<uint32_t*>(h.h)); // tag readable
    EXPECT_EQ(static_cast<uint32_t*>(h.h)[1], 0x83759572u);
}

TEST(RdqApi, SetImageChecksArgumentsAndSlots)
{
    Handle h;
    auto big = Solid(RDQ_MAX_SIZE, 1, 4, 1, 2, 3);
    auto px = Solid(2, 2, 3, 9, 9, 9);
    EXPECT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGB - 1, 0, px.data(), 1, 1), 0u);
    EXPECT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGBA + 1, 0, px.data(), 1, 1), 0u);
    EXPECT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, nullptr, 1, 1), 0u);
    EXPECT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGB, RDQ_MAX_IMAGES, px.data(), 1, 1), 0u);
    EXPECT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 0, 1), 0u);
    EXPECT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 1, 0), 0u);
    EXPECT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGBA, 0, big.data(), RDQ_MAX_SIZE + 1, 1), 0u);
    EXPECT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGBA, 0, big.data(), 1, RDQ_MAX_SIZE + 1), 0u);
    EXPECT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGBA, 0, big.data(), RDQ_MAX_SIZE, 1), 1u);
    EXPECT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 2, 2), 0u); // slot in use
    EXPECT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGB, RDQ_MAX_IMAGES - 1, px.data(), 1, 1), 1u);
}

TEST(RdqApi, PaletteAndOptionRanges)
{
    Handle h;
    uint8_t pal[257 * 3] = {};
    EXPECT_EQ(rdqSetPalette(h.h, RDQ_PALETTE_RGB, pal, 1), 0u);
    EXPECT_EQ(rdqSetPalette(h.h, RDQ_PALETTE_RGB, pal, 257), 0u);
    EXPECT_EQ(rdqSetPalette(h.h, RDQ_PALETTE_565 + 1, pal, 4), 0u);
    EXPECT_EQ(rdqSetPalette(h.h, RDQ_PALETTE_RGB, nullptr, 4), 0u);
    EXPECT_EQ(rdqSetPalette(h.h, RDQ_PALETTE_565, pal, 256), 1u);
    EXPECT_EQ(rdqSetPalette(h.h, RDQ_PALETTE_RGB, pal, 4), 0u); // second palette

    struct Case {
        uint32_t id, value, ok;
    } cases[] = {
        {RDQ_OPTION_COLORS, 1, 0},       {RDQ_OPTION_COLORS, 2, 1},          {RDQ_OPTION_COLORS, 256, 1},
        {RDQ_OPTION_COLORS, 257, 0},     {RDQ_OPTION_TRANSPARENT, 2, 0},     {RDQ_OPTION_TRANSPARENT, 1, 1},
        {RDQ_OPTION_RESERVE, 3, 0},      {RDQ_OPTION_RESERVE, 2, 1},         {RDQ_OPTION_DITHER, 2, 0},
        {RDQ_OPTION_LEVEL, 12, 0},       {RDQ_OPTION_LEVEL, 11, 1},          {RDQ_OPTION_ALPHA_DITHER, 2, 0},
        {RDQ_OPTION_ALPHA_LEVEL, 11, 1}, {RDQ_OPTION_ALPHA_LEVEL, 12, 0},    {RDQ_OPTION_COLORS - 1, 0, 0},
        {RDQ_OPTION_ALPHA_LEVEL + 1, 0, 0}};
    for (const Case& c : cases) EXPECT_EQ(rdqSetOption(h.h, c.id, c.value), c.ok) << c.id << "=" << c.value;
}

TEST(RdqApi, ReduceCallOrderAndCounts)
{
    auto px = Solid(4, 4, 3, 200, 100, 50);
    {
        Handle h; // no image
        EXPECT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE), 0u);
    }
    {
        Handle h; // gap: slots 0 and 2 make one image; bad codes fail
        ASSERT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 4, 4), 1u);
        ASSERT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGB, 2, px.data(), 4, 4), 1u);
        EXPECT_EQ(rdqReduce(h.h, RDQ_REDUCE_565 - 1), 0u);
        EXPECT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE565 + 1), 0u);
        EXPECT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE), 1u);
        EXPECT_EQ(rdqGetImageCount(h.h), 1u);
        EXPECT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE), 0u); // one reduction per handle
    }
    {
        Handle h; // a direct 16-bit reduction with two images
        rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 4, 4);
        rdqSetImage(h.h, RDQ_IMAGE_RGB, 1, px.data(), 4, 4);
        EXPECT_EQ(rdqReduce(h.h, RDQ_REDUCE_565), 0u);
    }
    {
        Handle h; // a direct 16-bit reduction after a palette
        uint8_t pal[6] = {0, 0, 0, 255, 255, 255};
        rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 4, 4);
        rdqSetPalette(h.h, RDQ_PALETTE_RGB, pal, 2);
        EXPECT_EQ(rdqReduce(h.h, RDQ_REDUCE_4444), 0u);
    }
    {
        Handle h; // palette larger than N
        uint8_t pal[3 * 20] = {};
        rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 4, 4);
        rdqSetPalette(h.h, RDQ_PALETTE_RGB, pal, 20);
        rdqSetOption(h.h, RDQ_OPTION_COLORS, 16);
        EXPECT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE), 0u);
    }
    {
        Handle h; // palette smaller than the reserved entries
        uint8_t pal[3 * 2] = {};
        rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 4, 4);
        rdqSetPalette(h.h, RDQ_PALETTE_RGB, pal, 2);
        rdqSetOption(h.h, RDQ_OPTION_TRANSPARENT, 1);
        rdqSetOption(h.h, RDQ_OPTION_RESERVE, 2);
        EXPECT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE), 0u);
    }
    {
        Handle h; // three images share one palette
        auto a = Solid(4, 4, 3, 255, 0, 0), b = Solid(3, 2, 3, 0, 255, 0), c = Solid(1, 5, 4, 0, 0, 255);
        rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, a.data(), 4, 4);
        rdqSetImage(h.h, RDQ_IMAGE_RGB, 1, b.data(), 3, 2);
        rdqSetImage(h.h, RDQ_IMAGE_RGBA, 2, c.data(), 1, 5);
        rdqSetOption(h.h, RDQ_OPTION_COLORS, 16);
        ASSERT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE), 1u);
        EXPECT_EQ(rdqGetImageCount(h.h), 3u);
        for (uint32_t i = 0; i < 3; ++i) {
            EXPECT_EQ(rdqGetImageType(h.h, i), RDQ_REDUCE_PALETTE);
            EXPECT_EQ(rdqGetPaletteDataSize(h.h, i), 3u * 16);
            EXPECT_EQ(rdqGetPaletteCount(h.h, i), 16u);
            EXPECT_EQ(rdqGetPaletteType(h.h, i), RDQ_PALETTE_RGB);
            EXPECT_NE(rdqGetPalette(h.h, i), rdqGetPalette(h.h, 0 == i ? 1 : 0));
        }
        EXPECT_EQ(rdqGetImageWidth(h.h, 1), 3u);
        EXPECT_EQ(rdqGetImageHeight(h.h, 1), 2u);
        EXPECT_EQ(rdqGetImageDataSize(h.h, 2), 5u);
        EXPECT_EQ(rdqGetImageDataSize(h.h, 3), 0u);
        EXPECT_EQ(rdqGetImage(h.h, RDQ_MAX_IMAGES), nullptr);
        EXPECT_EQ(rdqGetImageType(h.h, RDQ_MAX_IMAGES), 0u);
        EXPECT_EQ(rdqGetPaletteCount(h.h, RDQ_MAX_IMAGES), 0u);
        // Each image maps its solid colour to one entry that holds it.
        const uint8_t* pal = static_cast<const uint8_t*>(rdqGetPalette(h.h, 0));
        const uint8_t* idx = static_cast<const uint8_t*>(rdqGetImage(h.h, 0));
        EXPECT_GE(pal[idx[0] * 3], 250);
        EXPECT_LE(pal[idx[0] * 3 + 1], 5);
    }
}

TEST(RdqApi, ReservedEntriesAndCallerPalette)
{
    auto px = Fixture("photo_64.rgb");
    ASSERT_EQ(px.size(), 64u * 64 * 3);
    {
        Handle h;
        rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 64, 64);
        rdqSetOption(h.h, RDQ_OPTION_COLORS, 32);
        rdqSetOption(h.h, RDQ_OPTION_RESERVE, 2);
        ASSERT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE), 1u);
        const uint8_t* pal = static_cast<const uint8_t*>(rdqGetPalette(h.h, 0));
        const uint8_t* idx = static_cast<const uint8_t*>(rdqGetImage(h.h, 0));
        for (int i = 0; i < 6; ++i) EXPECT_EQ(pal[i], 0);
        for (int i = 0; i < 64 * 64; ++i) ASSERT_GE(idx[i], 2);
    }
    {
        Handle h; // a caller palette of N entries comes back unchanged
        uint8_t caller[8 * 3];
        for (int i = 0; i < 24; ++i) caller[i] = uint8_t(i * 37 + 11);
        rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 64, 64);
        rdqSetPalette(h.h, RDQ_PALETTE_RGB, caller, 8);
        rdqSetOption(h.h, RDQ_OPTION_COLORS, 8);
        ASSERT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE), 1u);
        EXPECT_EQ(0, std::memcmp(rdqGetPalette(h.h, 0), caller, sizeof caller));
    }
    {
        Handle h; // palette565: every entry survives 5-6-5 packing and widening
        rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 64, 64);
        rdqSetOption(h.h, RDQ_OPTION_COLORS, 64);
        ASSERT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE565), 1u);
        EXPECT_EQ(rdqGetImageType(h.h, 0), RDQ_REDUCE_PALETTE565);
        EXPECT_EQ(rdqGetPaletteDataSize(h.h, 0), 128u);
    }
}

TEST(RdqApi, TransparencyMapsAlphaZeroToIndexZero)
{
    auto px = Fixture("icons_64.rgba");
    ASSERT_EQ(px.size(), 64u * 64 * 4);
    for (uint32_t dither = 0; dither < 2; ++dither) {
        Handle h;
        rdqSetImage(h.h, RDQ_IMAGE_RGBA, 0, px.data(), 64, 64);
        rdqSetOption(h.h, RDQ_OPTION_TRANSPARENT, 1);
        rdqSetOption(h.h, RDQ_OPTION_DITHER, dither);
        rdqSetOption(h.h, RDQ_OPTION_COLORS, 16);
        ASSERT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE), 1u);
        const uint8_t* idx = static_cast<const uint8_t*>(rdqGetImage(h.h, 0));
        for (int i = 0; i < 64 * 64; ++i) {
            if (px[i * 4 + 3] == 0) ASSERT_EQ(idx[i], 0) << i;
            else ASSERT_NE(idx[i], 0) << i;
        }
    }
    {
        Handle h; // all transparent: nothing counted, every pixel index 0
        auto clear = Solid(5, 5, 4, 10, 20, 30, 0);
        rdqSetImage(h.h, RDQ_IMAGE_RGBA, 0, clear.data(), 5, 5);
        rdqSetOption(h.h, RDQ_OPTION_TRANSPARENT, 1);
        ASSERT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE), 1u);
        const uint8_t* idx = static_cast<const uint8_t*>(rdqGetImage(h.h, 0));
        for (int i = 0; i < 25; ++i) EXPECT_EQ(idx[i], 0);
    }
}

TEST(RdqApi, FlatAreasStayUndithered)
{
    // A flat block of one colour beside a gradient: with dithering on, the
    // block's inner pixels take the block colour's entry.
    std::vector<uint8_t> px(32 * 16 * 3);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            uint8_t* p = &px[(y * 32 + x) * 3];
            if (x < 16) p[0] = 40, p[1] = 120, p[2] = 200;
            else p[0] = uint8_t(x * 8), p[1] = uint8_t(y * 16), p[2] = 60;
        }
    Handle h;
    rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, px.data(), 32, 16);
    rdqSetOption(h.h, RDQ_OPTION_COLORS, 8);
    ASSERT_EQ(rdqReduce(h.h, RDQ_REDUCE_PALETTE), 1u);
    const uint8_t* idx = static_cast<const uint8_t*>(rdqGetImage(h.h, 0));
    for (int y = 1; y < 15; ++y)
        for (int x = 1; x < 15; ++x) ASSERT_EQ(idx[y * 32 + x], idx[32 + 1]) << x << "," << y;
}

TEST(RdqApi, Direct16BitModes)
{
    auto px = Fixture("sprite_64.rgba");
    ASSERT_EQ(px.size(), 64u * 64 * 4);
    {
        // 565 without dithering: the packed fields are the channels' top bits.
        Handle h;
        rdqSetImage(h.h, RDQ_IMAGE_RGBA, 0, px.data(), 64, 64);
        rdqSetOption(h.h, RDQ_OPTION_DITHER, 0);
        ASSERT_EQ(rdqReduce(h.h, RDQ_REDUCE_565), 1u);
        EXPECT_EQ(rdqGetImageType(h.h, 0), RDQ_REDUCE_565);
        EXPECT_EQ(rdqGetImageDataSize(h.h, 0), 64u * 64 * 2);
        EXPECT_EQ(rdqGetPalette(h.h, 0), nullptr);
        const uint8_t* out = static_cast<const uint8_t*>(rdqGetImage(h.h, 0));
        for (int i = 0; i < 64 * 64; ++i) {
            uint32_t v = out[2 * i] | (out[2 * i + 1] << 8);
            ASSERT_EQ(v, uint32_t((px[4 * i] >> 3) | ((px[4 * i + 1] >> 2) << 5) | ((px[4 * i + 2] >> 3) << 11)));
        }
    }
    {
        // RGB input: 4444 gives alpha 15 and 1555 the alpha bit everywhere.
        auto rgb = Solid(3, 3, 3, 100, 150, 200);
        for (uint32_t code : {RDQ_REDUCE_4444, RDQ_REDUCE_1555}) {
            Handle h;
            rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, rgb.data(), 3, 3);
            ASSERT_EQ(rdqReduce(h.h, code), 1u);
            const uint8_t* out = static_cast<const uint8_t*>(rdqGetImage(h.h, 0));
            for (int i = 0; i < 9; ++i) EXPECT_EQ(out[2 * i + 1] & (code == RDQ_REDUCE_4444 ? 0xF0 : 0x80), code == RDQ_REDUCE_4444 ? 0xF0 : 0x80);
        }
    }
    {
        // A one-pixel-wide image reduces in every mode.
        auto col = Fixture("photo_64.rgb");
        col.resize(64 * 3);
        for (uint32_t code : {RDQ_REDUCE_565, RDQ_REDUCE_4444, RDQ_REDUCE_1555, RDQ_REDUCE_PALETTE, RDQ_REDUCE_PALETTE565}) {
            Handle h;
            ASSERT_EQ(rdqSetImage(h.h, RDQ_IMAGE_RGB, 0, col.data(), 1, 64), 1u);
            EXPECT_EQ(rdqReduce(h.h, code), 1u) << code;
            EXPECT_EQ(rdqGetImageWidth(h.h, 0), 1u);
        }
    }
}

// Digests of the outputs for the sample crops; the same values must come
// out of every build (word size, optimisation) of the library.
TEST(RdqApi, OutputsMatchReferenceDigests)
{
    struct Case {
        const char* file;
        uint32_t type, code, colours, transparent, dither;
        uint64_t digest;
    } cases[] = {
#include "RdqDigests.inc"
    };
    for (const Case& c : cases) {
        auto px = Fixture(c.file);
        ASSERT_EQ(px.size(), 64u * 64 * (c.type == RDQ_IMAGE_RGBA ? 4 : 3));
        Handle h;
        rdqSetImage(h.h, c.type, 0, px.data(), 64, 64);
        rdqSetOption(h.h, RDQ_OPTION_COLORS, c.colours);
        rdqSetOption(h.h, RDQ_OPTION_TRANSPARENT, c.transparent);
        rdqSetOption(h.h, RDQ_OPTION_DITHER, c.dither);
        ASSERT_EQ(rdqReduce(h.h, c.code), 1u);
        uint64_t d = Fnv(rdqGetImage(h.h, 0), rdqGetImageDataSize(h.h, 0));
        if (rdqGetPalette(h.h, 0)) d = Fnv(rdqGetPalette(h.h, 0), rdqGetPaletteDataSize(h.h, 0), d);
        EXPECT_EQ(d, c.digest) << c.file << " " << c.code << " " << c.colours << " " << c.dither
                               << " got 0x" << std::hex << d;
    }
}
