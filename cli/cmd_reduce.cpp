// lumivor reduce: colour reduction of PNG images through palreduce.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliFiles.h"
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
    std::fprintf(out, "usage: lumivor reduce INPUT.png... -o OUTDIR [options]\n"
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
    uint32_t code = RDQ_REDUCE_PALETTE, colours = 256, transparent = 0, reserve = 0, dither = 1, level = 9,
             alphaLevel = 9;
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
    if (ok && !s.palette.empty())
        ok = rdqSetPalette(h, RDQ_PALETTE_RGB, s.palette.data(), uint32_t(s.palette.size() / 3));
    if (!ok) {
        rdqCloseHandle(h);
        return nullptr;
    }
    return h;
}

std::string Stem(const std::string& path) { return std::filesystem::path(path).stem().string(); }

struct Options {
    std::vector<std::string> inputs;
    std::string outDir;
    std::string palettePath;
    const char* formatName = "palette";
    Settings settings;
};

// The format named by its name or its number; false when there is none.
bool FindFormat(const char* text, Options* o)
{
    for (const Format& f : kFormats) {
        if (std::strcmp(text, f.name) == 0 || std::to_string(f.code) == text) {
            o->settings.code = f.code;
            o->formatName = f.name;
            return true;
        }
    }
    return false;
}

// The numeric options: their names, ranges and the setting each fills.
struct NumberOption {
    const char* name;
    uint32_t lo, hi;
    uint32_t Settings::*field;
} const kNumberOptions[] = {
    {"--colors", 2, 256, &Settings::colours},
    {"--reserve", 0, 2, &Settings::reserve},
    {"--level", 0, 11, &Settings::level},
    {"--alpha-level", 0, 11, &Settings::alphaLevel},
};

// The argument at hand as one of the numeric options; false when it is none.
bool TakeNumber(CliArgs& args, Settings* s)
{
    for (const NumberOption& n : kNumberOptions) {
        const char* text = nullptr;
        if (!args.Value(n.name, text)) continue;
        uint32_t v = 0;
        if (ParseNumber(text, v) && v >= n.lo && v <= n.hi) {
            s->*n.field = v;
        } else {
            args.Refuse("%s must be %u to %u", n.name, n.lo, n.hi);
        }
        return true;
    }
    return false;
}

// The argument at hand as an option with a word for its value; false when it is none.
bool TakeWord(CliArgs& args, Options* o)
{
    const char* text = nullptr;
    if (args.Value("-o", o->outDir) || args.Value("--palette", o->palettePath)) return true;
    if (args.Value("--format", text)) {
        if (!FindFormat(text, o)) args.Refuse("unknown format '%s'", text);
        return true;
    }
    if (args.Value("--quality", text)) {
        if (std::strcmp(text, "best") == 0) {
            o->settings.quality = RDQ_QUALITY_BEST;
        } else if (std::strcmp(text, "compatible") == 0) {
            o->settings.quality = RDQ_QUALITY_COMPATIBLE;
        } else {
            args.Refuse("--quality must be compatible or best");
        }
        return true;
    }
    return false;
}

// CliArgs::kRun to go on, else the exit status.
int ParseArguments(int argc, char** argv, Options* o)
{
    CliArgs args("lumivor reduce", Usage, argc, argv);
    while (args.Next()) {
        const char* input = nullptr;
        if (TakeNumber(args, &o->settings) || TakeWord(args, o)) continue;
        if (args.Flag("--transparent")) {
            o->settings.transparent = 1;
        } else if (args.Flag("--no-dither")) {
            o->settings.dither = 0;
        } else if (args.Positional(input)) {
            o->inputs.push_back(input);
        } else {
            args.Unknown();
        }
    }
    if (args.Status() != CliArgs::kRun) return args.Status();
    if (o->inputs.empty() || o->outDir.empty()) return args.RefuseUsage();
    const bool palettised = o->settings.code >= RDQ_REDUCE_PALETTE;
    if (palettised && o->inputs.size() > RDQ_MAX_IMAGES)
        return args.Refuse("at most %u images share one palette", RDQ_MAX_IMAGES);
    if (!o->palettePath.empty() && !palettised) return args.Refuse("--palette needs a palette format");
    return CliArgs::kRun;
}

// The starting palette and the images, checked; false after a message.
bool ReadInputs(Options* o, std::vector<Image>* images)
{
    std::string error;
    if (!o->palettePath.empty() &&
        (!ReadPalette(o->palettePath, o->settings.palette, error) || o->settings.palette.size() < 6)) {
        std::fprintf(stderr, "lumivor reduce: %s: %s\n", o->palettePath.c_str(),
                     error.empty() ? "fewer than 2 colours" : error.c_str());
        return false;
    }
    images->resize(o->inputs.size());
    for (size_t i = 0; i < o->inputs.size(); ++i) {
        Image& img = (*images)[i];
        if (!CliReadPng(o->inputs[i], img, error)) {
            std::fprintf(stderr, "lumivor reduce: %s: not a readable PNG (%s)\n", o->inputs[i].c_str(), error.c_str());
            return false;
        }
        if (img.width > RDQ_MAX_SIZE || img.height > RDQ_MAX_SIZE) {
            std::fprintf(stderr, "lumivor reduce: %s: %ux%u is larger than %ux%u\n", o->inputs[i].c_str(), img.width,
                         img.height, RDQ_MAX_SIZE, RDQ_MAX_SIZE);
            return false;
        }
    }
    return true;
}

// Where the outputs of one image go: OUTDIR/STEM.
struct Target {
    const Image& image;
    std::string stem;
};

// Image `i` of the handle as NAME.idx, NAME.pal and NAME.FORMAT.png, written
// only while every write before succeeded (`ok`); reported all the same.
bool WritePalettised(void* h, uint32_t i, const Target& t, const Options& o, bool ok)
{
    const Settings& s = o.settings;
    const Image& img = t.image;
    const uint8_t* data = static_cast<const uint8_t*>(rdqGetImage(h, i));
    const uint32_t size = rdqGetImageDataSize(h, i);
    const uint8_t* pal = static_cast<const uint8_t*>(rdqGetPalette(h, i));
    const uint32_t n = rdqGetPaletteCount(h, i);
    ok = ok && CliWriteFile(t.stem + ".idx", data, size) &&
         CliWriteFile(t.stem + ".pal", pal, rdqGetPaletteDataSize(h, i));
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
    ok = ok && WritePng(t.stem + "." + o.formatName + ".png", img.width, img.height, PNG_FORMAT_RGBA_COLORMAP, data,
                        map.data(), n);
    std::printf("%s: %ux%u %s -> %s.idx, %s.pal (%u colours, %s), %s.%s.png\n", img.path.c_str(), img.width, img.height,
                img.alpha ? "RGBA" : "RGB", t.stem.c_str(), t.stem.c_str(), n,
                s.code == RDQ_REDUCE_PALETTE ? "R,G,B" : "5-6-5", t.stem.c_str(), o.formatName);
    return ok;
}

// Image `i` of the handle as NAME.FORMAT.raw and NAME.FORMAT.png, written
// only while every write before succeeded (`ok`); reported all the same.
bool Write16(void* h, uint32_t i, const Target& t, const Options& o, bool ok)
{
    const Image& img = t.image;
    const uint8_t* data = static_cast<const uint8_t*>(rdqGetImage(h, i));
    const uint32_t size = rdqGetImageDataSize(h, i);
    const std::string name = t.stem + "." + o.formatName;
    ok = ok && CliWriteFile(name + ".raw", data, size);
    std::vector<uint8_t> rgba = Decode16(data, size / 2, o.settings.code);
    ok = ok && WritePng(name + ".png", img.width, img.height, PNG_FORMAT_RGBA, rgba.data());
    std::printf("%s: %ux%u %s -> %s.raw (%u bytes), %s.png\n", img.path.c_str(), img.width, img.height,
                img.alpha ? "RGBA" : "RGB", name.c_str(), size, name.c_str());
    return ok;
}

// Reduces `count` images from `first` through one handle and writes them;
// 0, else the exit status after a message.
int ReduceAndWrite(const Options& o, const std::vector<Image>& images, size_t first, size_t count)
{
    const Settings& s = o.settings;
    void* h = OpenConfigured(s);
    if (!h) {
        std::fprintf(stderr, "lumivor reduce: the options were refused\n");
        return 1;
    }
    for (size_t i = 0; i < count; ++i) {
        const Image& img = images[first + i];
        rdqSetImage(h, img.alpha ? RDQ_IMAGE_RGBA : RDQ_IMAGE_RGB, uint32_t(i), img.pixels.data(), img.width,
                    img.height);
    }
    int status = 0;
    if (!rdqReduce(h, s.code)) {
        std::fprintf(stderr, "lumivor reduce: the reduction failed (palette larger than --colors or "
                             "smaller than the reserved entries, or out of memory)\n");
        status = 1;
    } else {
        bool ok = true;
        for (size_t i = 0; i < count; ++i) {
            const Target t{images[first + i], o.outDir + "/" + Stem(images[first + i].path)};
            ok = s.code >= RDQ_REDUCE_PALETTE ? WritePalettised(h, uint32_t(i), t, o, ok)
                                              : Write16(h, uint32_t(i), t, o, ok);
        }
        if (!ok) {
            std::fprintf(stderr, "lumivor reduce: cannot write into %s\n", o.outDir.c_str());
            status = 1;
        }
    }
    rdqCloseHandle(h);
    return status;
}

} // namespace

int CliReduceMain(int argc, char** argv)
{
    Options o;
    const int parsed = ParseArguments(argc, argv, &o);
    if (parsed != CliArgs::kRun) return parsed;
    std::vector<Image> images;
    if (!ReadInputs(&o, &images)) return 1;
    std::error_code ec;
    std::filesystem::create_directories(o.outDir, ec);
    // Palettised formats: one handle for all images; 16-bit: one per image.
    const bool palettised = o.settings.code >= RDQ_REDUCE_PALETTE;
    const size_t handles = palettised ? 1 : images.size();
    for (size_t k = 0; k < handles; ++k) {
        const int status = palettised ? ReduceAndWrite(o, images, 0, images.size()) : ReduceAndWrite(o, images, k, 1);
        if (status != 0) return status;
    }
    return 0;
}
