// Time and quality (PSNR against the original) of palreduce on the shared
// sample images, per palette size, dithering, quality option and 16-bit
// mode.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "reduce/RdqApi.h"

// Run from the checkout root (as scripts/bench.sh does): the sample images
// lie next to it.
#ifndef LUMIVOR_SHARED_IMAGES
#define LUMIVOR_SHARED_IMAGES "../shared/data/images"
#endif

namespace {

struct Image {
    uint32_t w = 0, h = 0;
    bool alpha = false;
    std::vector<uint8_t> px;
};

Image Load(const std::string& path)
{
    Image img;
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return img;
    img.alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = img.alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    img.px.resize(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, img.px.data(), 0, nullptr)) {
        img.w = png.width;
        img.h = png.height;
    }
    return img;
}

const char* kImages[] = {"photo_coffee", "logo_skimage", "icons_tango", "sprite_chromium_bsu_enemy"};

// PSNR over R, G, B of the pixels with alpha > 0 (all pixels for RGB).
double Psnr(const Image& img, const std::vector<uint8_t>& rgb)
{
    const int bpp = img.alpha ? 4 : 3;
    double se = 0;
    size_t n = 0;
    for (size_t i = 0; i < size_t(img.w) * img.h; ++i) {
        if (img.alpha && img.px[i * bpp + 3] == 0) continue;
        for (int c = 0; c < 3; ++c) {
            double d = double(img.px[i * bpp + c]) - rgb[i * 3 + c];
            se += d * d;
        }
        n += 3;
    }
    return se == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * n / se);
}

void BM_Reduce(benchmark::State& state)
{
    const Image img = Load(std::string(LUMIVOR_SHARED_IMAGES) + "/" + kImages[state.range(0)] + ".png");
    const uint32_t code = uint32_t(state.range(1)), colours = uint32_t(state.range(2)), dither = uint32_t(state.range(3));
    const uint32_t quality = uint32_t(state.range(4));
    if (!img.w) {
        state.SkipWithError("image not found");
        return;
    }
    std::vector<uint8_t> rgb(size_t(img.w) * img.h * 3);
    for (auto _ : state) {
        void* h = rdqOpenHandle();
        rdqSetImage(h, img.alpha ? RDQ_IMAGE_RGBA : RDQ_IMAGE_RGB, 0, img.px.data(), img.w, img.h);
        rdqSetOption(h, RDQ_OPTION_COLORS, colours);
        rdqSetOption(h, RDQ_OPTION_DITHER, dither);
        rdqSetOption(h, RDQ_OPTION_QUALITY, quality);
        rdqSetOption(h, RDQ_OPTION_TRANSPARENT, img.alpha && code >= RDQ_REDUCE_PALETTE ? 1 : 0);
        if (!rdqReduce(h, code)) state.SkipWithError("reduce failed");
        const uint8_t* out = static_cast<const uint8_t*>(rdqGetImage(h, 0));
        const uint8_t* pal = static_cast<const uint8_t*>(rdqGetPalette(h, 0));
        for (size_t i = 0; out && i < size_t(img.w) * img.h; ++i) {
            if (code == RDQ_REDUCE_PALETTE) {
                std::memcpy(&rgb[i * 3], pal + out[i] * 3, 3);
            } else {
                // 16-bit pixels, or for palette565 the 5-6-5 palette entry.
                const uint8_t* word = code == RDQ_REDUCE_PALETTE565 ? pal + 2 * out[i] : out + 2 * i;
                uint32_t v = word[0] | (uint32_t(word[1]) << 8);
                const bool g6 = code == RDQ_REDUCE_565 || code == RDQ_REDUCE_PALETTE565;
                uint32_t r = v & 31, g = g6 ? (v >> 5) & 63 : (v >> 5) & 31, b = g6 ? v >> 11 : (v >> 10) & 31;
                if (code == RDQ_REDUCE_4444) r = v & 15, g = (v >> 4) & 15, b = (v >> 8) & 15;
                auto w5 = [](uint32_t x) { return uint8_t((x << 3) | (x >> 2)); };
                if (code == RDQ_REDUCE_4444) rgb[i * 3] = uint8_t(r * 17), rgb[i * 3 + 1] = uint8_t(g * 17), rgb[i * 3 + 2] = uint8_t(b * 17);
                else rgb[i * 3] = w5(r), rgb[i * 3 + 1] = g6 ? uint8_t((g << 2) | (g >> 4)) : w5(g), rgb[i * 3 + 2] = w5(b);
            }
        }
        rdqCloseHandle(h);
    }
    state.counters["PSNR_dB"] = Psnr(img, rgb);
    state.SetLabel(std::string(kImages[state.range(0)]) + (quality == RDQ_QUALITY_BEST ? " best" : ""));
}

void Args(benchmark::internal::Benchmark* b)
{
    for (int i = 0; i < 4; ++i) {
        for (int colours : {256, 64, 16})
            for (int dither : {1, 0})
                for (int quality : {RDQ_QUALITY_COMPATIBLE, RDQ_QUALITY_BEST}) b->Args({i, RDQ_REDUCE_PALETTE, colours, dither, quality});
        b->Args({i, RDQ_REDUCE_PALETTE565, 64, 1, RDQ_QUALITY_COMPATIBLE});
        b->Args({i, RDQ_REDUCE_PALETTE565, 64, 1, RDQ_QUALITY_BEST});
        for (int code : {RDQ_REDUCE_565, RDQ_REDUCE_4444, RDQ_REDUCE_1555}) b->Args({i, code, 256, 1, RDQ_QUALITY_COMPATIBLE});
    }
}

} // namespace

BENCHMARK(BM_Reduce)->Apply(Args)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
