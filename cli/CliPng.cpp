#include "cli/CliPng.h"

#include <png.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

// Deflate turns one bit of compressed data into at most 1032 bits of
// output; the pixels of a file can therefore not outgrow its bytes by more.
const uint64_t kMaxDeflateRatio = 1032;

// True when `size` bytes can hold the scanlines of the header's image at
// the smallest depth (1 bit per pixel, one filter byte per row).
bool CanHold(const png_image& png, size_t size)
{
    const uint64_t rowBytes = 1 + (static_cast<uint64_t>(png.width) + 7) / 8;
    const uint64_t raw = rowBytes * png.height;
    return raw <= kMaxDeflateRatio * (static_cast<uint64_t>(size) + 1);
}

}  // namespace

bool CliReadPngMemory(const void* data, size_t size, CliImage& image, std::string& error)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, data, size)) {
        error = png.message;
        return false;
    }
    if (!CanHold(png, size)) {
        png_image_free(&png);
        error = "the file is too short for the image size it declares";
        return false;
    }
    image.alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = image.alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    image.width = png.width;
    image.height = png.height;
    image.pixels.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
        error = png.message;
        png_image_free(&png);
        image.pixels = {};  // no half-read image
        return false;
    }
    return true;
}

bool CliReadPng(const std::string& path, CliImage& image, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open the file";
        return false;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!CliReadPngMemory(bytes.data(), bytes.size(), image, error))
        return false;
    image.path = path;
    return true;
}
