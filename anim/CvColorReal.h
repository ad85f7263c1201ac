#pragma once
// Colour values: CvColorReal and the kit's colour functions.
//
// Colours travel in two forms: packed 32-bit ARGB words (alpha in the most
// significant byte, then red, green, blue) and CvColorReal, four float
// channels nominally in 0..1 on which effects do arithmetic. Conversion to a
// byte multiplies by 255, truncates toward zero and keeps the low 8 bits, so
// out-of-range channels wrap rather than saturate, as stored data expects.

#include "platform/PlatformExport.h"

#include <cstdint>

// 1/255 in single precision: the scale from a channel byte to 0..1.
constexpr float CVK_COLOR_BYTE_SCALE = 0.003921569f;

// Blend modes of CvkGetBlendColor (any mode above 7 gives 0xFFFFFFFF).
constexpr int CVK_COLOR_BLEND_REPLACE = 0;   // b
constexpr int CVK_COLOR_BLEND_ADD = 1;       // min(a + b, 255)
constexpr int CVK_COLOR_BLEND_SUB = 2;       // max(a - b, 0)
constexpr int CVK_COLOR_BLEND_AVERAGE = 3;   // (a + b) >> 1
constexpr int CVK_COLOR_BLEND_MULTIPLY = 4;  // a * b / 255
constexpr int CVK_COLOR_BLEND_KEEP = 5;      // a
constexpr int CVK_COLOR_BLEND_ALPHA_B = 6;   // alpha of b, colour of a
constexpr int CVK_COLOR_BLEND_ALPHA_A = 7;   // alpha of a, colour of b

// Plain record, no virtual operations: red, green, blue, alpha.
struct LUMIVOR_EXPORT CvColorReal {
    float r;
    float g;
    float b;
    float a;

    float GetR() const { return r; }
    float GetG() const { return g; }
    float GetB() const { return b; }
    float GetA() const { return a; }
    // Store as given, without clamping.
    void SetR(float v) { r = v; }
    void SetG(float v) { g = v; }
    void SetB(float v) { b = v; }
    void SetA(float v) { a = v; }
    void SetRGBA(float red, float green, float blue, float alpha)
    {
        r = red;
        g = green;
        b = blue;
        a = alpha;
    }

    // From and to a packed ARGB word.
    void SetColor(uint32_t argb);
    uint32_t GetColor() const;

    // The operation with one value on all four channels (red, green, blue,
    // alpha), each result clamped to 0..1 (NaN becomes 0).
    void Add(float v);
    void Sub(float v);
    void Mul(float v);
    void Div(float v);
    // Channel-wise product with an ARGB word's channels scaled to 0..1.
    void Mul(uint32_t argb);

    // The operation on one channel, clamped to 0..1.
    void AddR(float v);
    void AddG(float v);
    void AddB(float v);
    void AddA(float v);
    void SubR(float v);
    void SubG(float v);
    void SubB(float v);
    void SubA(float v);
    void MulR(float v);
    void MulG(float v);
    void MulB(float v);
    void MulA(float v);
    void DivR(float v);
    void DivG(float v);
    void DivB(float v);
    void DivA(float v);
};

// Channel-wise (1 - t) * a + t * b, truncated; b when a equals b.
LUMIVOR_EXPORT uint32_t CvkGetBetweenColor(uint32_t a, uint32_t b, float t);
// Blend of two colours by mode (table above), channel by channel.
LUMIVOR_EXPORT uint32_t CvkGetBlendColor(uint32_t a, uint32_t b, int mode);
// A random colour: each channel drawn between the two colours' channel
// values, both included, in the order red, green, blue, alpha; a channel
// where both are equal draws nothing from the random generator.
LUMIVOR_EXPORT uint32_t CvkGetRandomColor(uint32_t a, uint32_t b);
// Oscillation: a at sin = -1, the midpoint at 0, b at 1 (65,536 angle units
// per turn).
LUMIVOR_EXPORT uint32_t CvkGetSinColor(uint32_t a, uint32_t b, int angle);
