#pragma once
// Math wrappers of the kit, in single precision.
//
// Angles are 16-bit units, 65,536 to a full turn (any int is taken modulo
// 65,536). Fixed-point values are 20.12.

#include "platform/PlatformExport.h"

#include <cstdint>

LUMIVOR_EXPORT int CvkAbs(int value);
LUMIVOR_EXPORT float CvkAbs(float value);

// Results in angle units (radians x 10430.378, truncated).
LUMIVOR_EXPORT int CvkArcCos(float x);
LUMIVOR_EXPORT int CvkArcTan(float x);
LUMIVOR_EXPORT int CvkArcTan2(float y, float x);
// Result in radians.
LUMIVOR_EXPORT float CvkArcTan2M(float y, float x);

LUMIVOR_EXPORT float CvkSin(int angle);
LUMIVOR_EXPORT float CvkCos(int angle);
LUMIVOR_EXPORT void CvkSinCos(float* sine, float* cosine, int angle);
LUMIVOR_EXPORT float CvkTan(int angle);

LUMIVOR_EXPORT float CvkCeil(float x);
LUMIVOR_EXPORT float CvkFloor(float x);
LUMIVOR_EXPORT float CvkSqrt(float x);
LUMIVOR_EXPORT float CvkExp(float x);
LUMIVOR_EXPORT float CvkLog(float x);
LUMIVOR_EXPORT float CvkPow(float x, float y);
LUMIVOR_EXPORT float CvkMod(float x, float y);

// x minus x rounded toward zero.
LUMIVOR_EXPORT float CvkFraction(float x);
// x rounded toward zero.
LUMIVOR_EXPORT float CvkRoundOff(float x);
// high if value > high, else low if value < low, else value.
LUMIVOR_EXPORT int CvkClampI(int low, int high, int value);
// (1 - t) x a + t x b.
LUMIVOR_EXPORT float CvkInterpolate(float a, float b, float t);

// 20.12 fixed point: (64-bit a x b) >> 12.
LUMIVOR_EXPORT int32_t CvkFx32Mul(int32_t a, int32_t b);
// 20.12 fixed point: (a / b) << 12 with the integer quotient; 0 when b is 0.
LUMIVOR_EXPORT int32_t CvkFx32Div(int32_t a, int32_t b);
