#include "anim/CvColorReal.h"

#include "kit/CvkMath.h"
#include "kit/CvkRandom.h"

#include <initializer_list>

namespace {

float clamp01(float v)
{
    if (!(v >= 0.0f)) // negative or NaN
        return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

// Truncates toward zero and keeps the low 8 bits. Values too large for an
// integer conversion (or NaN) give 0 instead of undefined behaviour.
uint32_t toByte(float v)
{
    if (!(v > -2147483648.0f && v < 2147483648.0f))
        return 0;
    return static_cast<uint32_t>(static_cast<int32_t>(v)) & 0xFFu;
}

uint32_t channel(uint32_t argb, int shift) { return (argb >> shift) & 0xFFu; }

uint32_t pack(uint32_t alpha, uint32_t red, uint32_t green, uint32_t blue)
{
    return (alpha & 0xFFu) << 24 | (red & 0xFFu) << 16 | (green & 0xFFu) << 8 | (blue & 0xFFu);
}

// Shifts of the channels in a packed word, in the order alpha, red, green, blue.
constexpr int kShift[4] = {24, 16, 8, 0};

} // namespace

void CvColorReal::SetColor(uint32_t argb)
{
    r = static_cast<float>(channel(argb, 16)) * CVK_COLOR_BYTE_SCALE;
    g = static_cast<float>(channel(argb, 8)) * CVK_COLOR_BYTE_SCALE;
    b = static_cast<float>(channel(argb, 0)) * CVK_COLOR_BYTE_SCALE;
    a = static_cast<float>(channel(argb, 24)) * CVK_COLOR_BYTE_SCALE;
}

uint32_t CvColorReal::GetColor() const
{
    return pack(toByte(a * 255.0f), toByte(r * 255.0f), toByte(g * 255.0f), toByte(b * 255.0f));
}

void CvColorReal::Add(float v)
{
    r = clamp01(r + v);
    g = clamp01(g + v);
    b = clamp01(b + v);
    a = clamp01(a + v);
}

void CvColorReal::Sub(float v)
{
    r = clamp01(r - v);
    g = clamp01(g - v);
    b = clamp01(b - v);
    a = clamp01(a - v);
}

void CvColorReal::Mul(float v)
{
    r = clamp01(r * v);
    g = clamp01(g * v);
    b = clamp01(b * v);
    a = clamp01(a * v);
}

void CvColorReal::Div(float v)
{
    r = clamp01(r / v);
    g = clamp01(g / v);
    b = clamp01(b / v);
    a = clamp01(a / v);
}

void CvColorReal::Mul(uint32_t argb)
{
    r = clamp01(r * (static_cast<float>(channel(argb, 16)) * CVK_COLOR_BYTE_SCALE));
    g = clamp01(g * (static_cast<float>(channel(argb, 8)) * CVK_COLOR_BYTE_SCALE));
    b = clamp01(b * (static_cast<float>(channel(argb, 0)) * CVK_COLOR_BYTE_SCALE));
    a = clamp01(a * (static_cast<float>(channel(argb, 24)) * CVK_COLOR_BYTE_SCALE));
}

void CvColorReal::AddR(float v) { r = clamp01(r + v); }
void CvColorReal::AddG(float v) { g = clamp01(g + v); }
void CvColorReal::AddB(float v) { b = clamp01(b + v); }
void CvColorReal::AddA(float v) { a = clamp01(a + v); }
void CvColorReal::SubR(float v) { r = clamp01(r - v); }
void CvColorReal::SubG(float v) { g = clamp01(g - v); }
void CvColorReal::SubB(float v) { b = clamp01(b - v); }
void CvColorReal::SubA(float v) { a = clamp01(a - v); }
void CvColorReal::MulR(float v) { r = clamp01(r * v); }
void CvColorReal::MulG(float v) { g = clamp01(g * v); }
void CvColorReal::MulB(float v) { b = clamp01(b * v); }
void CvColorReal::MulA(float v) { a = clamp01(a * v); }
void CvColorReal::DivR(float v) { r = clamp01(r / v); }
void CvColorReal::DivG(float v) { g = clamp01(g / v); }
void CvColorReal::DivB(float v) { b = clamp01(b / v); }
void CvColorReal::DivA(float v) { a = clamp01(a / v); }

uint32_t CvkGetBetweenColor(uint32_t a, uint32_t b, float t)
{
    if (a == b)
        return b;
    uint32_t c[4];
    for (int k = 0; k < 4; ++k)
        c[k] = toByte(CvkInterpolate(static_cast<float>(channel(a, kShift[k])),
                                     static_cast<float>(channel(b, kShift[k])), t));
    return pack(c[0], c[1], c[2], c[3]);
}

uint32_t CvkGetBlendColor(uint32_t a, uint32_t b, int mode)
{
    if (mode < 0 || mode > CVK_COLOR_BLEND_ALPHA_A)
        return 0xFFFFFFFFu;
    uint32_t c[4];
    for (int k = 0; k < 4; ++k) {
        const uint32_t x = channel(a, kShift[k]);
        const uint32_t y = channel(b, kShift[k]);
        const bool alpha = k == 0;
        switch (mode) {
        case CVK_COLOR_BLEND_REPLACE: c[k] = y; break;
        case CVK_COLOR_BLEND_ADD: c[k] = x + y > 255 ? 255 : x + y; break;
        case CVK_COLOR_BLEND_SUB: c[k] = x > y ? x - y : 0; break;
        case CVK_COLOR_BLEND_AVERAGE: c[k] = (x + y) >> 1; break;
        case CVK_COLOR_BLEND_MULTIPLY: c[k] = x * y / 255; break;
        case CVK_COLOR_BLEND_KEEP: c[k] = x; break;
        case CVK_COLOR_BLEND_ALPHA_B: c[k] = alpha ? y : x; break;
        default: c[k] = alpha ? x : y; break; // CVK_COLOR_BLEND_ALPHA_A
        }
    }
    return pack(c[0], c[1], c[2], c[3]);
}

uint32_t CvkGetRandomColor(uint32_t a, uint32_t b)
{
    // Drawn in the order red, green, blue, alpha.
    uint32_t c[4];
    for (int k : {1, 2, 3, 0}) {
        const int x = static_cast<int>(channel(a, kShift[k]));
        const int y = static_cast<int>(channel(b, kShift[k]));
        const int lo = x < y ? x : y;
        const int hi = x < y ? y : x;
        c[k] = lo == hi ? static_cast<uint32_t>(lo) : CvkRandomRangeI(static_cast<uint32_t>(lo), static_cast<uint32_t>(hi));
    }
    return pack(c[0], c[1], c[2], c[3]);
}

uint32_t CvkGetSinColor(uint32_t a, uint32_t b, int angle)
{
    const float s = CvkSin(angle);
    uint32_t c[4];
    for (int k = 0; k < 4; ++k) {
        const float x = static_cast<float>(channel(a, kShift[k]));
        const float y = static_cast<float>(channel(b, kShift[k]));
        c[k] = toByte((y - x) * 0.5f * s + (x + y) * 0.5f);
    }
    return pack(c[0], c[1], c[2], c[3]);
}
