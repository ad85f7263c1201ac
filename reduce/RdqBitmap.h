#pragma once
// In-memory device-independent bitmap: a 40-byte information header, for
// 8 bits per pixel a 256-entry colour table (B, G, R, 0), then the rows
// bottom-up, each padded to a multiple of 4 bytes, pixels in B, G, R order.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rdq {

class Dib {
public:
    // Lays out a zero-filled bitmap; false for a size outside 1..1280.
    bool Create(int width, int height, int bitsPerPixel);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitsPerPixel() const { return bpp_; }
    int Stride() const { return stride_; }
    // Row i counted from the top of the image (stored at height - 1 - i).
    uint8_t* Row(int i) { return StoredRow(height_ - 1 - i); }
    const uint8_t* Row(int i) const { return StoredRow(height_ - 1 - i); }
    // Row s in storage order (s = 0 is the bottom image row).
    uint8_t* StoredRow(int s) { return mem_.data() + bits_ + size_t(s) * stride_; }
    const uint8_t* StoredRow(int s) const { return mem_.data() + bits_ + size_t(s) * stride_; }
    const std::vector<uint8_t>& Bytes() const { return mem_; }

private:
    std::vector<uint8_t> mem_;
    int width_ = 0, height_ = 0, bpp_ = 0, stride_ = 0;
    size_t bits_ = 0;
};

// Caller pixels (RDQ_IMAGE_RGB: R, G, B; RDQ_IMAGE_RGBA: R, G, B, A) into a
// 24-bit bitmap; for RDQ_IMAGE_RGBA the alpha bytes go into an 8-bit alpha
// plane. With wantOpaquePlane an RGB image gets an alpha plane filled with 255.
// False for a null buffer, a bad type or a size outside 1..1280.
bool ConvertImage(uint32_t type, int width, int height, const uint8_t* pixels, Dib& rgb, Dib* alpha,
                  bool wantOpaquePlane, bool* hasAlpha);

} // namespace rdq
