#pragma once
// The symbol as an uncompressed 32-bit bitmap file, one pixel per module,
// no quiet zone. Stored row r holds module column x = r and pixel c of it
// the module of row y = c, so a viewer shows the symbol a quarter turn
// counter-clockwise.
#include <cstdint>
#include <vector>

class QrEncoder;

constexpr uint32_t QR_BMP_HEADER_SIZE = 54;
constexpr uint32_t QR_BMP_DARK = 0xFF000000u;
constexpr uint32_t QR_BMP_LIGHT = 0xFFFFFFFFu;

// The whole file image of the encoder's finished symbol. Throws
// std::bad_alloc when memory runs out.
std::vector<uint8_t> QrBitmapImage(const QrEncoder& encoder);

// Creates (or replaces) the file and writes the image with one write.
// Returns false when the file cannot be created or written.
bool QrWriteFile(const char* path, const std::vector<uint8_t>& image);
