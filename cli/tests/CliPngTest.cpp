#include "cli/CliPng.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A PNG of the given format written by libpng, pixels from a formula.
std::vector<uint8_t> MakePng(uint32_t width, uint32_t height, uint32_t format, std::vector<uint8_t>* pixels = nullptr)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = width;
    png.height = height;
    png.format = format;
    std::vector<uint8_t> data(PNG_IMAGE_SIZE(png));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(format == PNG_FORMAT_GRAY ? 0 : i * 7 + i / 13);
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_to_memory(&png, nullptr, &size, 0, data.data(), 0, nullptr));
    std::vector<uint8_t> out(size);
    EXPECT_TRUE(png_image_write_to_memory(&png, out.data(), &size, 0, data.data(), 0, nullptr));
    out.resize(size);
    if (pixels)
        *pixels = data;
    return out;
}

// Sets the header's width and height and mends the header's CRC.
std::vector<uint8_t> WithSize(std::vector<uint8_t> file, uint32_t width, uint32_t height)
{
    const uint8_t w[4] = {uint8_t(width >> 24), uint8_t(width >> 16), uint8_t(width >> 8), uint8_t(width)};
    const uint8_t h[4] = {uint8_t(height >> 24), uint8_t(height >> 16), uint8_t(height >> 8), uint8_t(height)};
    std::memcpy(&file[16], w, 4);  // after the signature, length and "IHDR"
    std::memcpy(&file[20], h, 4);
    const uLong crc = crc32(0, &file[12], 17);  // "IHDR" and its 13 bytes
    file[29] = uint8_t(crc >> 24);
    file[30] = uint8_t(crc >> 16);
    file[31] = uint8_t(crc >> 8);
    file[32] = uint8_t(crc);
    return file;
}

}  // namespace

TEST(CliPng, ReadsWhatLibpngWrites)
{
    for (uint32_t format : {PNG_FORMAT_RGB, PNG_FORMAT_RGBA}) {
        std::vector<uint8_t> pixels;
        const std::vector<uint8_t> file = MakePng(37, 11, format, &pixels);
        CliImage image;
        std::string error;
        ASSERT_TRUE(CliReadPngMemory(file.data(), file.size(), image, error)) << error;
        EXPECT_EQ(image.width, 37u);
        EXPECT_EQ(image.height, 11u);
        EXPECT_EQ(image.alpha, format == PNG_FORMAT_RGBA);
        EXPECT_EQ(image.pixels, pixels);
    }
    // A large image of one colour compresses far, and is still read.
    const std::vector<uint8_t> flat = MakePng(2000, 2000, PNG_FORMAT_GRAY);
    CliImage image;
    std::string error;
    EXPECT_TRUE(CliReadPngMemory(flat.data(), flat.size(), image, error)) << error;
    EXPECT_EQ(image.pixels.size(), 2000u * 2000u * 3u);
}

TEST(CliPng, RefusesBrokenFiles)
{
    const std::vector<uint8_t> good = MakePng(16, 16, PNG_FORMAT_RGBA);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* error;  // null: any
    } cases[] = {
        {"empty", {}, nullptr},
        {"truncated", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2), nullptr},
        // 30000 x 30000 pixels announced by a file of a few hundred bytes:
        // refused before gigabytes are set aside for them.
        {"oversized header", WithSize(good, 30000, 30000), "the file is too short for the image size it declares"},
    };
    for (const Case& c : cases) {
        CliImage image;
        std::string error;
        EXPECT_FALSE(CliReadPngMemory(c.bytes.data(), c.bytes.size(), image, error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        if (c.error) {
            EXPECT_EQ(error, c.error) << c.name;
        }
        EXPECT_TRUE(image.pixels.empty()) << c.name;
    }
    CliImage image;
    std::string error;
    EXPECT_FALSE(CliReadPng("/nonexistent/lumivor.png", image, error));
}
