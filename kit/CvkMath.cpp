#include "kit/CvkMath.h"

#include <cmath>

namespace {
const float kAngleToRadian = 9.58738e-5f;   // 2 pi / 65536
const float kRadianToAngle = 10430.378f;    // 65536 / (2 pi)

// Taylor polynomials over one octant (0..pi/4).
inline float sinPoly(int offset) {
    float x = static_cast<float>(offset) * kAngleToRadian;
    float x2 = x * x;
    return x * (1.0f - x2 / 6.0f + x2 * x2 / 120.0f);
}

inline float cosPoly(int offset) {
    float x = static_cast<float>(offset) * kAngleToRadian;
    float x2 = x * x;
    return 1.0f - x2 / 2.0f + x2 * x2 / 24.0f - x2 * x2 * x2 / 720.0f;
}
}  // namespace

int CvkAbs(int value) { return value < 0 ? -value : value; }
float CvkAbs(float value) { return std::fabs(value); }

int CvkArcCos(float x) { return static_cast<int>(std::acos(x) * kRadianToAngle); }
int CvkArcTan(float x) { return static_cast<int>(std::atan(x) * kRadianToAngle); }
int CvkArcTan2(float y, float x) { return static_cast<int>(std::atan2(y, x) * kRadianToAngle); }
float CvkArcTan2M(float y, float x) { return std::atan2(y, x); }

float CvkSin(int angle) {
    int a = angle & 0xFFFF;
    int offset = a & 0x1FFF;
    float value;
    switch ((a >> 13) & 3) {
        case 0: value = sinPoly(offset); break;
        case 1: value = cosPoly(0x2000 - offset); break;
        case 2: value = cosPoly(offset); break;
        default: value = sinPoly(0x2000 - offset); break;
    }
    return (a & 0x8000) ? -value : value;
}

float CvkCos(int angle) { return CvkSin(angle + 16384); }

void CvkSinCos(float* sine, float* cosine, int angle) {
    if (sine) *sine = CvkSin(angle);
    if (cosine) *cosine = CvkCos(angle);
}

float CvkTan(int angle) { return std::tan(static_cast<float>(angle) * kAngleToRadian); }

float CvkCeil(float x) { return std::ceil(x); }
float CvkFloor(float x) { return std::floor(x); }
float CvkSqrt(float x) { return std::sqrt(x); }
float CvkExp(float x) { return std::exp(x); }
float CvkLog(float x) { return std::log(x); }
float CvkPow(float x, float y) { return std::pow(x, y); }
float CvkMod(float x, float y) { return std::fmod(x, y); }

float CvkFraction(float x) { return x - std::trunc(x); }
float CvkRoundOff(float x) { return std::trunc(x); }

int CvkClampI(int low, int high, int value) {
    if (value > high) return high;
    if (value < low) return low;
    return value;
}

float CvkInterpolate(float a, float b, float t) { return (1.0f - t) * a + t * b; }

int32_t CvkFx32Mul(int32_t a, int32_t b) {
    return static_cast<int32_t>((static_cast<int64_t>(a) * b) >> 12);
}

int32_t CvkFx32Div(int32_t a, int32_t b) {
    if (b == 0) return 0;
    // INT_MIN / -1 overflows: take the quotient in 64 bits and keep 32.
    int64_t quotient = static_cast<int64_t>(a) / b;
    return static_cast<int32_t>(static_cast<uint32_t>(quotient) << 12);
}
