// reduce_psnr_tool ORIGINAL.png REDUCED.png
// Prints the PSNR in dB over R, G and B of the pixels that are not fully
// transparent in the original ("inf" for an exact copy), then the number of
// distinct colours of the original among those pixels.
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

struct Image {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

bool Load(const char* path, Image& img)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path)) return false;
    png.format = PNG_FORMAT_RGBA;
    img.rgba.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, img.rgba.data(), 0, nullptr)) {
        png_image_free(&png);
        return false;
    }
    img.width = png.width;
    img.height = png.height;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Image a, b;
    if (argc != 3 || !Load(argv[1], a) || !Load(argv[2], b) || a.width != b.width || a.height != b.height) {
        std::fprintf(stderr, "usage: reduce_psnr_tool ORIGINAL.png REDUCED.png (two readable PNGs of one size)\n");
        return 1;
    }
    double squares = 0.0;
    size_t samples = 0;
    std::unordered_set<uint32_t> colours;
    for (size_t i = 0; i < a.rgba.size(); i += 4) {
        if (a.rgba[i + 3] == 0) continue;
        for (int c = 0; c < 3; ++c) {
            double d = double(a.rgba[i + c]) - double(b.rgba[i + c]);
            squares += d * d;
        }
        samples += 3;
        colours.insert(uint32_t(a.rgba[i]) << 16 | uint32_t(a.rgba[i + 1]) << 8 | a.rgba[i + 2]);
    }
    if (squares == 0.0) std::printf("inf %zu\n", colours.size());
    else std::printf("%.2f %zu\n", 10.0 * std::log10(255.0 * 255.0 * double(samples) / squares), colours.size());
    return 0;
}
