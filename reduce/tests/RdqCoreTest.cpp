#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "reduce/RdqApi.h"
#include "reduce/RdqBitmap.h"
#include "reduce/RdqColor.h"
#include "reduce/RdqMapper.h"
#include "reduce/RdqQuantizer.h"
#include "reduce/RdqRefiner.h"
#include "reduce/RdqRgbSearch.h"

using namespace rdq;

TEST(RdqColor, TransformsOfPrimaries)
{
    struct Case {
        int r, g, b;
        WColor c;
    } cases[] = {
        {0, 0, 0, {0, 0, 0}},
        {255, 255, 255, {510, 0, 0}},
        {255, 0, 0, {152, 283, 107}}, // C1 compressed above 245
        {0, 0, 255, {100, -150, 144}}, // chroma balance and lightness lift
    };
    for (const Case& c : cases) {
        WColor w = ForwardTransform(c.r, c.g, c.b);
        EXPECT_EQ(w.l, c.c.l) << c.r << "," << c.g << "," << c.b;
        EXPECT_EQ(w.c1, c.c.c1);
        EXPECT_EQ(w.c2, c.c.c2);
    }
    // Grey round trips exactly; colours come back close.
    for (int v = 0; v < 256; v += 17) {
        uint8_t rgb[3];
        InverseTransform(ForwardTransform(v, v, v), rgb);
        EXPECT_NEAR(rgb[0], v, 1);
        EXPECT_EQ(rgb[0], rgb[1]);
    }
    for (int r = 0; r < 256; r += 51)
        for (int g = 0; g < 256; g += 51)
            for (int b = 0; b < 256; b += 51) {
                uint8_t rgb[3];
                InverseTransform(ForwardTransform(r, g, b), rgb);
                EXPECT_NEAR(rgb[0], r, 6) << r << "," << g << "," << b;
                EXPECT_NEAR(rgb[1], g, 6) << r << "," << g << "," << b;
                EXPECT_NEAR(rgb[2], b, 6) << r << "," << g << "," << b;
            }
}

TEST(RdqColor, GammaAndPow)
{
    const double* g = GammaTable();
    EXPECT_EQ(g[0], 0.0);
    EXPECT_DOUBLE_EQ(g[511], 511.0);
    EXPECT_NEAR(g[255], std::pow(255.0 / 511.0, 1.27) * 511.0, 1e-9);
    EXPECT_NEAR(Pow(2.0, 0.5), 1.4142135623730951, 1e-15);
    for (double x : {1e-6, 0.003, 0.3, 0.77, 0.999})
        for (double y : {0.85, 0.9, 1.27, 1.0 / 1.27}) EXPECT_NEAR(Pow(x, y), std::pow(x, y), 1e-14) << x << "^" << y;
    EXPECT_EQ(LightnessFromWeighted(40.0 * g[300]), 300);
    EXPECT_EQ(LightnessFromWeighted(-1.0), 0);
}

TEST(RdqColor, MaskedRgbKeepsSixBits)
{
    EXPECT_EQ(MaskRgb(0x123456, 0xFFFFFF), 0x123456u);
    EXPECT_EQ(MaskRgb(0xFF0301, 0xFCFCFC), 0xFF0000u);
    EXPECT_EQ(MaskRgb(0x808080, 0xFCFCFC), 0x828282u);
}

TEST(RdqBitmap, LayoutIsBottomUpAndPadded)
{
    const uint8_t px[2 * 3 * 3] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    Dib rgb, alpha;
    bool hasAlpha = true;
    ASSERT_TRUE(ConvertImage(RDQ_IMAGE_RGB, 3, 2, px, rgb, &alpha, false, &hasAlpha));
    EXPECT_FALSE(hasAlpha);
    const auto& b = rgb.Bytes();
    ASSERT_EQ(b.size(), 40u + 12u * 2);
    EXPECT_EQ(b[0], 40);
    EXPECT_EQ(b[4], 3);
    EXPECT_EQ(b[8], 2);
    EXPECT_EQ(b[12], 1);
    EXPECT_EQ(b[14], 24);
    EXPECT_EQ(b[20], 24);
    // The top image row is stored last, pixels in B, G, R order.
    EXPECT_EQ(b[40 + 12 + 0], 3);
    EXPECT_EQ(b[40 + 12 + 2], 1);
    EXPECT_EQ(b[40 + 0], 12);
    ASSERT_TRUE(ConvertImage(RDQ_IMAGE_RGB, 3, 2, px, rgb, &alpha, true, &hasAlpha));
    EXPECT_TRUE(hasAlpha);
    EXPECT_EQ(alpha.Row(1)[2], 255);
    EXPECT_EQ(alpha.Bytes().size(), 40u + 1024u + 4u * 2);

    struct Bad {
        int w, h;
        const uint8_t* p;
    } bad[] = {{0, 1, px}, {1, 0, px}, {1281, 1, px}, {1, 1281, px}, {1, 1, nullptr}};
    for (const Bad& c : bad) EXPECT_FALSE(ConvertImage(RDQ_IMAGE_RGB, c.w, c.h, c.p, rgb, &alpha, false, nullptr));
}

TEST(RdqHistogram, WeightsAndMoveToFront)
{
    // Flat row: the first pixel has step 0 (weight 14); a step of 16 weighs 16.
    Dib rgb;
    const uint8_t px[] = {100, 100, 100, 100, 100, 100, 0, 0, 0};
    ASSERT_TRUE(ConvertImage(RDQ_IMAGE_RGB, 3, 1, px, rgb, nullptr, false, nullptr));
    Histogram h;
    h.AddImage(rgb, nullptr, false);
    EXPECT_EQ(h.Distinct(), 2u);
    double total = 0;
    for (auto* e : h.Gather()) total += e->weight;
    WColor grey = ForwardTransform(100, 100, 100);
    int step = grey.l; // to black
    int w3 = std::max(1, 16 - std::abs(16 - step) / 8);
    EXPECT_EQ(total, 14 + 14 + w3);
    EXPECT_LT(Histogram::Bucket({0, -320, -270}), Histogram::kBuckets);
    EXPECT_EQ(Histogram::Bucket({0, -320, -270}), 0u);
}

TEST(RdqPalette, SingleColourAndFewColours)
{
    Dib rgb;
    std::vector<uint8_t> px(8 * 8 * 3, 0);
    for (size_t i = 0; i < px.size(); i += 3) px[i] = 200, px[i + 1] = 40, px[i + 2] = 90;
    ASSERT_TRUE(ConvertImage(RDQ_IMAGE_RGB, 8, 8, px.data(), rgb, nullptr, false, nullptr));
    Histogram h;
    h.AddImage(rgb, nullptr, false);
    EXPECT_EQ(ComputeColours(h, 16, 16, 0xFFFFFF).size(), 1u);

    // Five distinct colours with N = 16 keep all five; the rest is black and
    // not searchable.
    const uint8_t cols[5][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {30, 30, 30}};
    for (int i = 0; i < 64; ++i)
        for (int c = 0; c < 3; ++c) px[i * 3 + c] = cols[i % 5][c];
    ASSERT_TRUE(ConvertImage(RDQ_IMAGE_RGB, 8, 8, px.data(), rgb, nullptr, false, nullptr));
    Histogram h2;
    h2.AddImage(rgb, nullptr, false);
    PaletteRequest req;
    req.size = 16;
    Palette pal;
    ASSERT_TRUE(BuildPalette(h2, req, pal));
    EXPECT_EQ(pal.search.size(), 5u);
    for (const auto& col : cols) {
        bool found = false;
        for (int i = 0; i < 5; ++i) {
            uint8_t back[3];
            InverseTransform(ForwardTransform(col[0], col[1], col[2]), back);
            if (pal.rgb[i][0] == back[0] && pal.rgb[i][1] == back[1] && pal.rgb[i][2] == back[2]) found = true;
        }
        EXPECT_TRUE(found);
    }
    for (int i = 5; i < 16; ++i) EXPECT_EQ(pal.rgb[i][0] + pal.rgb[i][1] + pal.rgb[i][2], 0);
    // Entries ascend by their ordering key.
    auto key = [&](int i) {
        WColor c = ForwardTransform(pal.rgb[i][0], pal.rgb[i][1], pal.rgb[i][2]);
        return int64_t(c.l) * 1000000 + c.c1 * 1000 + c.c2;
    };
    for (int i = 1; i < 5; ++i) EXPECT_LT(key(i - 1), key(i));
    for (size_t i = 1; i < pal.search.size(); ++i) EXPECT_LE(pal.search[i - 1].l, pal.search[i].l);
}

TEST(RdqPalette, RejectsCallerPalettesThatDoNotFit)
{
    Histogram h;
    h.Add({100, 0, 0}, 1);
    uint8_t caller[3 * 8] = {};
    PaletteRequest req;
    req.size = 4;
    req.caller = caller;
    Palette pal;
    req.callerCount = 5;
    EXPECT_FALSE(BuildPalette(h, req, pal));
    req.callerCount = 2;
    req.transparency = true;
    req.extraReserved = 2;
    EXPECT_FALSE(BuildPalette(h, req, pal));
    req.callerCount = 3;
    EXPECT_TRUE(BuildPalette(h, req, pal));
}

TEST(RdqSearch, FindsNearestAndCaches)
{
    Palette pal;
    pal.size = 3;
    pal.search = {{50, 0, 0}, {200, 10, -10}, {400, 0, 0}};
    pal.searchToOut = {2, 0, 1};
    NearestSearch s(pal);
    struct Case {
        WColor c;
        int out;
    } cases[] = {{{0, 0, 0}, 2}, {{511, 0, 0}, 1}, {{210, 5, -5}, 0}, {{210, 5, -5}, 0}, {{60, 300, 0}, 2}};
    for (const Case& c : cases) EXPECT_EQ(s.Output(s.Find(c.c)), c.out);
    // Brute force over a grid agrees with the bounded search.
    for (int l = 0; l < 512; l += 7)
        for (int c1 = -300; c1 < 300; c1 += 37) {
            WColor q = {l, c1, -c1 / 2};
            int best = 0;
            for (int i = 1; i < 3; ++i)
                if (Distance(pal.search[i], q) < Distance(pal.search[best], q)) best = i;
            EXPECT_EQ(Distance(pal.search[s.Find(q)], q), Distance(pal.search[best], q));
        }
}

TEST(RdqTables, LevelsCurvesNoise)
{
    EXPECT_EQ(LevelDivisor(11), 16);
    EXPECT_EQ(LevelFraction(11), 256);
    EXPECT_EQ(LevelDivisor(0), 100);
    EXPECT_EQ(LevelFraction(0), 200);
    EXPECT_EQ(ShapeError(0, 7), 7);
    EXPECT_EQ(ShapeError(0, 8), 8);
    EXPECT_EQ(ShapeError(1, -7), -7);
    EXPECT_EQ(ShapeError(0, 108), int(Pow(100, 0.9) * 241 / 256 + 8));
    EXPECT_EQ(ShapeError(2, -1024), -int(Pow(1016, 0.85) * 229 / 256 + 8));
    RowNoise n;
    int v[4];
    n.Next(v);
    EXPECT_EQ(v[0], 41);
    EXPECT_EQ(v[1], 18467);
    EXPECT_EQ(v[2], 6334);
    EXPECT_EQ(v[3], 26500);
}

TEST(RdqWrite16, AlphaRules)
{
    // One row of four pixels with alphas 0, 127, 128, 255.
    const uint8_t px[16] = {10, 20, 30, 0, 10, 20, 30, 127, 10, 20, 30, 128, 10, 20, 30, 255};
    Dib rgb, alpha;
    bool hasAlpha;
    ASSERT_TRUE(ConvertImage(RDQ_IMAGE_RGBA, 4, 1, px, rgb, &alpha, false, &hasAlpha));
    for (int dither = 0; dither < 2; ++dither) {
        Write16Options o;
        o.dither = dither;
        o.alphaDither = dither;
        o.mode = Mode16::k4444;
        auto q = Round16(rgb, &alpha, o);
        EXPECT_EQ(q[3], 0);
        EXPECT_EQ(q[15], 255);
        o.mode = Mode16::k1555;
        o.alphaDither = false;
        q = Round16(rgb, &alpha, o);
        EXPECT_EQ(q[3], 0);
        EXPECT_EQ(q[7], 0);
        EXPECT_EQ(q[11], 255);
        EXPECT_EQ(q[15], 255);
    }
    Write16Options o;
    o.dither = false;
    o.mode = Mode16::k565;
    auto q = Round16(rgb, nullptr, o);
    EXPECT_EQ(q[0], (10 & 0xF8) | (10 >> 5));
    EXPECT_EQ(q[1], (20 & 0xFC) | (20 >> 6));
    auto packed = Pack16(q, Mode16::k565);
    EXPECT_EQ(packed[0] | (packed[1] << 8), (10 >> 3) | ((20 >> 2) << 5) | ((30 >> 3) << 11));
}

namespace {

uint32_t NextRandom(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

} // namespace

// The cell lists against a plain scan of every entry: the nearest distance,
// a lower bound that holds for every other entry, and a search reused for
// other entries after Reset.
TEST(RdqRgbSearch, AgreesWithAPlainScan)
{
    uint32_t state = 7;
    RgbSearch search;
    for (int n : {1, 2, 5, 16, 256}) {
        std::vector<RgbSearch::Entry> entries;
        for (int i = 0; i < n; ++i) {
            const uint32_t c = NextRandom(state);
            // Half the palettes crowd into one corner, where cells are busy.
            const int spread = n == 16 ? 40 : 256;
            entries.push_back({uint8_t(c % spread), uint8_t((c >> 8) % spread), uint8_t((c >> 16) % spread), 100 + i});
        }
        search.Reset(entries);
        for (int q = 0; q < 4000; ++q) {
            const uint32_t c = NextRandom(state);
            const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
            int32_t d = -1, second = -1;
            const int id = search.Find(r, g, b, &d, &second);
            std::vector<int32_t> all;
            for (const RgbSearch::Entry& e : entries) all.push_back(RgbDistance(r, g, b, e.r, e.g, e.b));
            std::vector<int32_t> sorted = all;
            std::sort(sorted.begin(), sorted.end());
            ASSERT_EQ(d, sorted[0]) << n << " entries, query " << r << "," << g << "," << b;
            ASSERT_EQ(all[id - 100], d);
            // The first entry of equal distance wins.
            ASSERT_EQ(id - 100, int(std::find(all.begin(), all.end(), d) - all.begin()));
            if (n > 1) {
                ASSERT_LE(second, sorted[1]);
            }
        }
    }
    EXPECT_EQ(RgbSearch().Find(1, 2, 3), -1);
}

TEST(RdqRefine, ExactPaletteInKeyOrderAndRefinementNeverWorse)
{
    // 40 colours fit 48 free entries: exactly those colours, ascending by
    // the order key, behind the reserved entry.
    Histogram hist;
    Census census;
    uint32_t state = 3;
    std::vector<uint32_t> colours;
    for (int i = 0; i < 40; ++i) {
        const uint32_t c = NextRandom(state) & 0xFFFFFF;
        colours.push_back(c);
        hist.Add(ForwardTransform(Red(c), Green(c), Blue(c)), 14.0);
        census.Add(c, 1 + i % 5);
    }
    PaletteRequest req;
    req.size = 49;
    req.transparency = true;
    Palette pal;
    ASSERT_TRUE(BuildPaletteBest(hist, census, req, pal));
    std::vector<uint32_t> got;
    int64_t lastKey = INT64_MIN;
    for (int i = 1; i < 41; ++i) {
        got.push_back(PackRgb(pal.rgb[i][0], pal.rgb[i][1], pal.rgb[i][2]));
        const WColor w = ForwardTransform(pal.rgb[i][0], pal.rgb[i][1], pal.rgb[i][2]);
        const int64_t key = int64_t(w.l) * 1000000 + int64_t(w.c1) * 1000 + w.c2 + 500500;
        EXPECT_GE(key, lastKey) << i;
        lastKey = key;
    }
    std::sort(got.begin(), got.end());
    std::sort(colours.begin(), colours.end());
    EXPECT_EQ(got, colours);
    EXPECT_EQ(pal.search.size(), 40u); // reserved and unused entries are not searched

    // Too many colours: the refined entries never cost more than the start.
    Census many;
    for (int i = 0; i < 3000; ++i) many.Add(NextRandom(state) & 0xFFFFFF, 1 + i % 7);
    const std::vector<Census::Colour> all = many.Colours();
    std::vector<uint32_t> start;
    for (int i = 0; i < 16; ++i) start.push_back(all[i * 97].rgb);
    for (bool sixteenBit : {false, true}) {
        const RefineResult r = Refine(all, {}, start, 16, sixteenBit);
        ASSERT_EQ(r.colours.size(), 16u);
        EXPECT_EQ(r.error, PaletteError(all, r.colours));
        EXPECT_LT(r.error, PaletteError(all, start));
        for (uint32_t c : r.colours) EXPECT_EQ(c, sixteenBit ? Snap565(c) : c) << std::hex << c;
    }
    // Fixed entries take part but do not move.
    const std::vector<uint32_t> fixed = {0x000000, 0xFFFFFF};
    const RefineResult r = Refine(all, fixed, start, 14, false);
    EXPECT_EQ(r.colours.size(), 14u);
    for (uint32_t c : r.colours) EXPECT_TRUE(c != 0x000000 && c != 0xFFFFFF);
}

TEST(RdqRefine, Snap565IsTheNearestLevel)
{
    for (int v = 0; v < 256; ++v) {
        int best5 = 0, best6 = 0;
        for (int q = 0; q < 64; ++q) {
            const int w6 = (q << 2) | (q >> 4);
            if (std::abs(w6 - v) < std::abs(best6 - v)) best6 = w6;
            if (q < 32) {
                const int w5 = (q << 3) | (q >> 2);
                if (std::abs(w5 - v) < std::abs(best5 - v)) best5 = w5;
            }
        }
        EXPECT_EQ(Snap565(PackRgb(v, v, v)), PackRgb(best5, best6, best5)) << v;
    }
}
