// lumivor qr: renders a text as a QR Code symbol bitmap through the
// matrixsym library, optionally with a viewable PNG beside it.
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliFiles.h"

#include "platform/PlatformCodePage.h"
#include "qr/MatrixSym.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kQuietZone = 4; // modules of light margin in the PNG
constexpr int kPngScale = 8;  // pixels per module in the PNG

void Usage(FILE* out)
{
    std::fprintf(out,
                 "usage: lumivor qr TEXT -o OUTPUT.bmp [--version N] [--png]\n"
                 "  TEXT           the symbol's content (UTF-8; stored as code page 932)\n"
                 "  -o OUTPUT.bmp  the 32-bit bitmap to write, one pixel per module\n"
                 "  --version N    smallest version to use, 1..40 (0: the smallest that fits)\n"
                 "  --png          also write OUTPUT.png with a quiet zone, %d pixels per module\n",
                 kPngScale);
}

bool ParseVersion(const char* s, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0' || v < 0 || v > 40) return false;
    out = static_cast<int>(v);
    return true;
}

// Reads the symbol back from the bitmap the library wrote: n x n modules,
// stored row r = module column x, pixel c = module row y.
bool ReadSymbol(const std::string& path, int& n, std::vector<uint8_t>& dark)
{
    CliFileBytes bytes;
    if (!CliReadFile(path, &bytes)) return false;
    const std::vector<uint8_t> data(bytes.data.get(), bytes.data.get() + bytes.size);
    if (data.size() < 54 || data[0] != 'B' || data[1] != 'M') return false;
    auto u32 = [&data](size_t o) {
        return static_cast<uint32_t>(data[o]) | static_cast<uint32_t>(data[o + 1]) << 8 |
               static_cast<uint32_t>(data[o + 2]) << 16 | static_cast<uint32_t>(data[o + 3]) << 24;
    };
    const uint32_t w = u32(18);
    if (w < 21 || w > 177 || u32(22) != w || data.size() != 54 + 4ull * w * w) return false;
    n = static_cast<int>(w);
    dark.assign(static_cast<size_t>(n) * static_cast<size_t>(n), 0);
    for (int x = 0; x < n; ++x)
        for (int y = 0; y < n; ++y)
            dark[static_cast<size_t>(y) * n + x] = data[54 + 4 * (static_cast<size_t>(x) * n + y)] == 0 ? 1 : 0;
    return true;
}

bool WritePng(const std::string& path, int n, const std::vector<uint8_t>& dark)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, nullptr);
        std::fclose(f);
        return false;
    }
    const int side = (n + 2 * kQuietZone) * kPngScale;
    std::vector<png_byte> row(static_cast<size_t>(side));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(side), static_cast<png_uint_32>(side), 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int py = 0; py < side; ++py) {
        const int y = py / kPngScale - kQuietZone;
        for (int px = 0; px < side; ++px) {
            const int x = px / kPngScale - kQuietZone;
            const bool inside = x >= 0 && y >= 0 && x < n && y < n;
            row[static_cast<size_t>(px)] = inside && dark[static_cast<size_t>(y) * n + x] ? 0 : 255;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

struct Options {
    const char* text = nullptr;
    const char* output = nullptr;
    int version = 0;
    bool png = false;
};

// CliArgs::kRun to go on, else the exit status.
int ParseArguments(int argc, char** argv, Options* o)
{
    CliArgs args("lumivor qr", Usage, argc, argv);
    while (args.Next()) {
        const char* value = nullptr;
        if (args.Value("-o", "--output", o->output)) continue;
        if (args.Value("--version", value)) {
            if (!ParseVersion(value, o->version)) args.Refuse("--version takes a number from 0 to 40, not '%s'", value);
        } else if (args.Flag("--png")) {
            o->png = true;
        } else if (o->text == nullptr && args.Positional(o->text)) {
            continue;
        } else if (args.Positional(value)) {
            args.Refuse("more than one text given");
        } else {
            args.Unknown();
        }
    }
    if (args.Status() == CliArgs::kRun && (o->text == nullptr || o->output == nullptr)) args.RefuseUsage();
    return args.Status();
}

// The library reports a file it could not create only by leaving it
// unwritten, so find out first whether the path can be created at all.
// `created`: the file did not exist before.
bool Creatable(const char* output, bool* created)
{
    int fd = ::open(output, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        *created = true;
    } else if (errno == EEXIST) {
        fd = ::open(output, O_WRONLY | O_CLOEXEC);
    }
    if (fd < 0) {
        std::fprintf(stderr, "lumivor qr: cannot create %s: %s\n", output, std::strerror(errno));
        return false;
    }
    ::close(fd);
    return true;
}

// The symbol written as the bitmap, then read back; false after a message.
bool Encode(const Options& o, int* n, std::vector<uint8_t>* dark)
{
    bool created = false;
    if (!Creatable(o.output, &created)) return false;
    const std::u16string wideText = PlatformUtf8ToUtf16(o.text);
    const std::u16string widePath = PlatformUtf8ToUtf16(o.output);
    if (CreateEncodeData(widePath.c_str(), wideText.c_str(), o.version) == 0) {
        if (created) ::unlink(o.output);
        std::fprintf(stderr, "lumivor qr: the text cannot be encoded (it is empty or longer than version 40 "
                             "holds at level M)\n");
        return false;
    }
    if (!ReadSymbol(o.output, *n, *dark)) {
        std::fprintf(stderr, "lumivor qr: %s was not written\n", o.output);
        return false;
    }
    std::printf("%s: version %d, %d x %d modules, %zu bytes\n", o.output, (*n - 17) / 4, *n, *n,
                static_cast<size_t>(54 + 4 * *n * *n));
    return true;
}

// OUTPUT.png beside the bitmap (its extension replaced); false after a message.
bool WritePngBeside(const char* output, int n, const std::vector<uint8_t>& dark)
{
    std::string pngPath = output;
    const size_t dot = pngPath.rfind('.');
    const size_t slash = pngPath.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) pngPath.erase(dot);
    pngPath += ".png";
    if (!WritePng(pngPath, n, dark)) {
        std::fprintf(stderr, "lumivor qr: cannot write %s\n", pngPath.c_str());
        return false;
    }
    const int side = (n + 2 * kQuietZone) * kPngScale;
    std::printf("%s: %d x %d pixels, quiet zone %d modules, %d pixels per module\n", pngPath.c_str(), side, side,
                kQuietZone, kPngScale);
    return true;
}

} // namespace

int CliQrMain(int argc, char** argv)
{
    Options o;
    const int parsed = ParseArguments(argc, argv, &o);
    if (parsed != CliArgs::kRun) return parsed;
    int n = 0;
    std::vector<uint8_t> dark;
    if (!Encode(o, &n, &dark)) return 1;
    return !o.png || WritePngBeside(o.output, n, dark) ? 0 : 1;
}
