#pragma once
// PNG input of the front end (libpng's simplified reader). An image is read
// as 8-bit RGB, or RGBA when the file has transparency. A file too short to
// hold the pixels its header declares is refused before any pixel buffer is
// sized from the header.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CliImage {
    std::string path;
    uint32_t width = 0, height = 0;
    bool alpha = false;
    std::vector<uint8_t> pixels;  // R, G, B[, A], rows top to bottom
};

// False with a reason in `error` when the bytes are no readable PNG.
bool CliReadPngMemory(const void* data, size_t size, CliImage& image, std::string& error);
// The same for a file; the image keeps the path.
bool CliReadPng(const std::string& path, CliImage& image, std::string& error);
