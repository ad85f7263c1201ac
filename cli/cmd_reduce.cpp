// lumivor reduce: colour reduction of PNG images through palreduce.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliPng.h"
#include "reduce/RdqApi.h"

namespace {

using Image = CliImage;

bool WritePng(const std::string& path, uint32_t w, uint32_t h, uint32_t format, const void* data,
              const void* colormap = nullptr, uint32_t colours = 0)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = w;
    png.height = h;
    png.format = format;
    png.colormap_entries = colours;
    return png_image_write_to_file(&png, path.c_str(), 0, data, 0, colormap) != 0;
}

bool WriteFile(const std::string& path, const void* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

struct Format {
    const char* name;
    uint32_t code;
} const kFormats[] = {{"rgb565", RDQ_REDUCE_565},
                    {"rgba4444", RDQ_REDUCE_4444},
                    {"rgba5551", RDQ_REDUCE_1555},
                    {"palette", RDQ_REDUCE_PALETTE},
                    {"palette565", RDQ_REDUCE_PALETTE565}};

void Usage(FILE* out)
{
    std::fprintf(out,
                 "usage: lumivor reduce INPUT.png... -o OUTDIR [options]\n"
                 "  --format F       palette (403, default), palette565 (404), rgb565 (400),\n"
                 "                   rgba4444 (401) or rgba5551 (402)\n"
                 "  --colors N       palette size, 2..256 (default 256)\n"
                 "  --transparent    reserve index 0 for pixels of alpha 0\n"
                 "  --reserve K      reserve K more palette entries (0..2)\n"
                 "  --no-dither      no error diffusion\n"
                 "  --level L        colour dithering strength 0..11 (default 9)\n"
                 "  --alpha-level L  alpha dithering strength 0..11 (default 9)\n"
                 "  --palette P.png  start the palette from the colours of P.png\n"
                 "  --quality Q      palette quality: compatible (default: the reduction as it\n"
                 "                   has always been, byte for byte) or best (exact palettes\n"
                 "                   when the colours fit, refined palettes otherwise, and\n"
                 "                   dithering that leaves flat areas clean, also for the\n"
                 "                   16-bit formats)\n"
                 "Palettised images share one palette and give NAME.idx (index bytes),\n"
                 "NAME.pal (palette) and NAME.FORMAT.png; 16-bit formats give NAME.FORMAT.raw\n"
                 "(little-endian words) and NAME.FORMAT.png decoded from them.\n");
}

bool ParseNumber(const char* s, uint32_t& v)
{
    char* end = nullptr;
    unsigned long n = std::strtoul(s, &end, 10);
    if (!*s || *end || n > 100000) return false;
    v = uint32_t(n);
    return true;
}

// Distinct colours of a PNG in scan order (at most 256) as an RGB palette.
bool ReadPalette(const std::string& path, std::vector<uint8_t>& pal, std::string& error)
{
    Image img;
    if (!CliReadPng(path, img, error)) return false;
    const int bpp = img.alpha ? 4 : 3;
    for (size_t i = 0; i < img.pixels.size(); i += bpp) {
        bool seen = false;
        for (size_t j = 0; j < pal.size() && !seen; j += 3) seen = std::memcmp(&pal[j], &img.pixels[i], 3) == 0;
        if (seen) continue;
        if (pal.size() >= 256 * 3) {
            error = "more than 256 colours";
            return false;
        }
        pal.insert(pal.end(), &img.pixels[i], &img.pixels[i] + 3);
    }
    return true;
}

// The 16-bit words back to 8-bit RGBA for viewing.
std::vector<uint8_t> Decode16(const uint8_t* words, size_t n, uint32_t code)
{
    std::vector<uint8_t> out(n * 4);
    auto w5 = [](uint32_t v) { return uint8_t((v << 3) | (v >> 2)); };
    auto w6 = [](uint32_t v) { return uint8_t((v << 2) | (v >> 4)); };
    for (size_t i = 0; i < n; ++i) {
        uint32_t v = words[2 * i] | (uint32_t(words[2 * i + 1]) << 8);
        uint8_t* o = &out[4 * i];
        if (code == RDQ_REDUCE_565) {
            o[0] = w5(v & 31), o[1] = w6((v >> 5) & 63), o[2] = w5(v >> 11), o[3] = 255;
        } else if (code == RDQ_REDUCE_4444) {
            o[0] = uint8_t((v & 15) * 17), o[1] = uint8_t(((v >> 4) & 15) * 17), o[2] = uint8_t(((v >> 8) & 15) * 17);
            o[3] = uint8_t((v >> 12) * 17);
        } else {
            o[0] = w5(v & 31), o[1] = w5((v >> 5) & 31), o[2] = w5((v >> 10) & 31), o[3] = (v & 0x8000) ? 255 : 0;
        }
    }
    return out;
}

struct Settings {
    uint32_t code = RDQ_REDUCE_PALETTE, colours = 256, transparent = 0, reserve = 0, dither = 1, level = 9, alphaLevel = 9;
    uint32_t quality = RDQ_QUALITY_COMPATIBLE;
    std::vector<uint8_t> palette;
};

void* OpenConfigured(const Settings& s)
{
    void* h = rdqOpenHandle();
    if (!h) return nullptr;
    bool ok = rdqSetOption(h, RDQ_OPTION_COLORS, s.colours) && rdqSetOption(h, RDQ_OPTION_TRANSPARENT, s.transparent) &&
              rdqSetOption(h, RDQ_OPTION_RESERVE, s.reserve) && rdqSetOption(h, RDQ_OPTION_DITHER, s.dither) &&
              rdqSetOption(h, RDQ_OPTION_LEVEL, s.level) && rdqSetOption(h, RDQ_OPTION_ALPHA_DITHER, s.dither) &&
              rdqSetOption(h, RDQ_OPTION_ALPHA_LEVEL, s.alphaLevel) && rdqSetOption(h, RDQ_OPTION_QUALITY, s.quality);
    if (ok && !s.palette.empty()) ok = rdqSetPalette(h, RDQ_PALETTE_RGB, s.palette.data(), uint32_t(s.palette.size() / 3));
    if (!ok) {
        rdqCloseHandle(h);
        return nullptr;
    }
    return h;
}

std::string Stem(const std::string& path) { return std::filesystem::path(path).stem().string(); }

} // namespace

int CliReduceMain(int argc, char** argv)
{
    std::vector<std::string> inputs;
    std::string outDir, palettePath;
    Settings s;
    const char* formatName = "palette";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "lumivor reduce: %s needs a value\n", what);
                return nullptr;
            }
            return argv[++i];
        };
        auto number = [&](const char* what, uint32_t& v, uint32_t lo, uint32_t hi) {
            const char* t = value(what);
            if (!t) return false;
            if (!ParseNumber(t, v) || v < lo || v > hi) {
                std::fprintf(stderr, "lumivor reduce: %s must be %u to %u\n", what, lo, hi);
                return false;
            }
            return true;
        };
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "-o") {
            const char* t = value("-o");
            if (!t) return 2;
            outDir = t;
        } else if (a == "--format") {
            const char* t = value("--format");
            if (!t) return 2;
            bool found = false;
            for (const Format& f : kFormats)
                if (std::strcmp(t, f.name) == 0 || std::to_string(f.code) == t) {
                    s.code = f.code;
                    formatName = f.name;
                    found = true;
                }
            if (!found) {
                std::fprintf(stderr, "lumivor reduce: unknown format '%s'\n", t);
                return 2;
            }
        } else if (a == "--colors") {
            if (!number("--colors", s.colours, 2, 256)) return 2;
        } else if (a == "--transparent") {
            s.transparent = 1;
        } else if (a == "--reserve") {
            if (!number("--reserve", s.reserve, 0, 2)) return 2;
        } else if (a == "--no-dither") {
            s.dither = 0;
        } else if (a == "--level") {
            if (!number("--level", s.level, 0, 11)) return 2;
        } else if (a == "--alpha-level") {
            if (!number("--alpha-level", s.alphaLevel, 0, 11)) return 2;
        } else if (a == "--quality") {
            const char* t = value("--quality");
            if (!t) return 2;
            if (std::strcmp(t, "best") == 0) {
                s.quality = RDQ_QUALITY_BEST;
            } else if (std::strcmp(t, "compatible") == 0) {
                s.quality = RDQ_QUALITY_COMPATIBLE;
            } else {
                std::fprintf(stderr, "lumivor reduce: --quality must be compatible or best\n");
                return 2;
            }
        } else if (a == "--palette") {
            const char* t = value("--palette");
            if (!t) return 2;
            palettePath = t;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "lumivor reduce: unknown option '%s'\n", a.c_str());
            Usage(stderr);
            return 2;
        } else {
            inputs.push_back(a);
        }
    }
    if (inputs.empty() || outDir.empty()) {
        Usage(stderr);
        return 2;
    }
    const bool palettised = s.code >= RDQ_REDUCE_PALETTE;
    if (palettised && inputs.size() > RDQ_MAX_IMAGES) {
        std::fprintf(stderr, "lumivor reduce: at most %u images share one palette\n", RDQ_MAX_IMAGES);
        return 2;
    }
    if (!palettePath.empty()) {
        std::string error;
        if (!palettised) {
            std::fprintf(stderr, "lumivor reduce: --palette needs a palette format\n");
            return 2;
        }
        if (!ReadPalette(palettePath, s.palette, error) || s.palette.size() < 6) {
            std::fprintf(stderr, "lumivor reduce: %s: %s\n", palettePath.c_str(),
                         error.empty() ? "fewer than 2 colours" : error.c_str());
            return 1;
        }
    }
    std::vector<Image> images(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        std::string error;
        if (!CliReadPng(inputs[i], images[i], error)) {
            std::fprintf(stderr, "lumivor reduce: %s: not a readable PNG (%s)\n", inputs[i].c_str(), error.c_str());
            return 1;
        }
        if (images[i].width > RDQ_MAX_SIZE || images[i].height > RDQ_MAX_SIZE) {
            std::fprintf(stderr, "lumivor reduce: %s: %ux%u is larger than %ux%u\n", inputs[i].c_str(),
                         images[i].width, images[i].height, RDQ_MAX_SIZE, RDQ_MAX_SIZE);
            return 1;
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    const std::string dir = outDir + "/";

    // Palettised formats: one handle for all images; 16-bit: one per image.
    const size_t handles = palettised ? 1 : images.size();
    for (size_t k = 0; k < handles; ++k) {
        void* h = OpenConfigured(s);
        if (!h) {
            std::fprintf(stderr, "lumivor reduce: the options were refused\n");
            return 1;
        }
        const size_t first = palettised ? 0 : k, count = palettised ? images.size() : 1;
        for (size_t i = 0; i < count; ++i) {
            const Image& img = images[first + i];
            rdqSetImage(h, img.alpha ? RDQ_IMAGE_RGBA : RDQ_IMAGE_RGB, uint32_t(i), img.pixels.data(), img.width, img.height);
        }
        if (!rdqReduce(h, s.code)) {
            std::fprintf(stderr, "lumivor reduce: the reduction failed (palette larger than --colors or "
                                 "smaller than the reserved entries, or out of memory)\n");
            rdqCloseHandle(h);
            return 1;
        }
        bool ok = true;
        for (size_t i = 0; i < count; ++i) {
            const Image& img = images[first + i];
            const std::string stem = dir + Stem(img.path);
            const uint8_t* data = static_cast<const uint8_t*>(rdqGetImage(h, uint32_t(i)));
            const uint32_t size = rdqGetImageDataSize(h, uint32_t(i));
            if (palettised) {
                const uint8_t* pal = static_cast<const uint8_t*>(rdqGetPalette(h, uint32_t(i)));
                const uint32_t n = rdqGetPaletteCount(h, uint32_t(i));
                ok = ok && WriteFile(stem + ".idx", data, size) &&
                     WriteFile(stem + ".pal", pal, rdqGetPaletteDataSize(h, uint32_t(i)));
                std::vector<uint8_t> map(size_t(n) * 4);
                for (uint32_t e = 0; e < n; ++e) {
                    if (s.code == RDQ_REDUCE_PALETTE) {
                        std::memcpy(&map[e * 4], pal + e * 3, 3);
                    } else {
                        std::vector<uint8_t> c = Decode16(pal + 2 * e, 1, RDQ_REDUCE_565);
                        std::memcpy(&map[e * 4], c.data(), 3);
                    }
                    map[e * 4 + 3] = (s.transparent && e == 0) ? 0 : 255;
                }
                ok = ok && WritePng(stem + "." + formatName + ".png", img.width, img.height,
                                    PNG_FORMAT_RGBA_COLORMAP, data, map.data(), n);
                std::printf("%s: %ux%u %s -> %s.idx, %s.pal (%u colours, %s), %s.%s.png\n", img.path.c_str(),
                            img.width, img.height, img.alpha ? "RGBA" : "RGB", stem.c_str(), stem.c_str(), n,
                            s.code == RDQ_REDUCE_PALETTE ? "R,G,B" : "5-6-5", stem.c_str(), formatName);
            } else {
                ok = ok && WriteFile(stem + "." + formatName + ".raw", data, size);
                std::vector<uint8_t> rgba = Decode16(data, size / 2, s.code);
                ok = ok && WritePng(stem + "." + formatName + ".png", img.width, img.height, PNG_FORMAT_RGBA,
                                    rgba.data());
                std::printf("%s: %ux%u %s -> %s.%s.raw (%u bytes), %s.%s.png\n", img.path.c_str(), img.width,
                            img.height, img.alpha ? "RGBA" : "RGB", stem.c_str(), formatName, size, stem.c_str(),
                            formatName);
            }
        }
        rdqCloseHandle(h);
        if (!ok) {
            std::fprintf(stderr, "lumivor reduce: cannot write into %s\n", outDir.c_str());
            return 1;
        }
    }
    return 0;
}
