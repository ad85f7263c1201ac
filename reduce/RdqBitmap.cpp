#include "reduce/RdqBitmap.h"

#include "reduce/RdqApi.h"

namespace rdq {

namespace {

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

} // namespace

bool Dib::Create(int width, int height, int bitsPerPixel)
{
    if (width < 1 || width > int(RDQ_MAX_SIZE) || height < 1 || height > int(RDQ_MAX_SIZE)) return false;
    if (bitsPerPixel != 8 && bitsPerPixel != 24) return false;
    width_ = width;
    height_ = height;
    bpp_ = bitsPerPixel;
    stride_ = (width * (bitsPerPixel / 8) + 3) & ~3;
    size_t colours = bitsPerPixel == 8 ? 256 : 0;
    bits_ = 40 + colours * 4;
    uint32_t imageSize = uint32_t(stride_) * uint32_t(height);
    mem_.assign(bits_ + imageSize, 0);
    uint8_t* h = mem_.data();
    Put32(h + 0, 40);
    Put32(h + 4, uint32_t(width));
    Put32(h + 8, uint32_t(height));
    h[12] = 1; // planes
    h[14] = uint8_t(bitsPerPixel);
    Put32(h + 16, 0); // no compression
    Put32(h + 20, imageSize);
    Put32(h + 32, uint32_t(colours));
    for (size_t i = 0; i < colours; ++i) {
        uint8_t* e = h + 40 + 4 * i;
        e[0] = e[1] = e[2] = uint8_t(i);
    }
    return true;
}

bool ConvertImage(uint32_t type, int width, int height, const uint8_t* pixels, Dib& rgb, Dib* alpha,
                  bool wantOpaquePlane, bool* hasAlpha)
{
    if (!pixels || (type != RDQ_IMAGE_RGB && type != RDQ_IMAGE_RGBA)) return false;
    if (!rgb.Create(width, height, 24)) return false;
    const int bpp = type == RDQ_IMAGE_RGBA ? 4 : 3;
    bool plane = alpha && (type == RDQ_IMAGE_RGBA || wantOpaquePlane);
    if (plane && !alpha->Create(width, height, 8)) return false;
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = pixels + size_t(y) * width * bpp;
        uint8_t* dst = rgb.Row(y);
        uint8_t* a = plane ? alpha->Row(y) : nullptr;
        for (int x = 0; x < width; ++x, src += bpp) {
            dst[3 * x + 0] = src[2];
            dst[3 * x + 1] = src[1];
            dst[3 * x + 2] = src[0];
            if (a) a[x] = bpp == 4 ? src[3] : 255;
        }
    }
    if (hasAlpha) *hasAlpha = plane;
    return true;
}

} // namespace rdq
