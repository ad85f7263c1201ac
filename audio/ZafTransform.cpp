#include "audio/ZafTransform.h"

#include <cstdint>

namespace {

// Cosine by its Taylor series in plain double arithmetic, so that the tables
// do not depend on a C library's routines.
double DetCos(double x)  // |x| <= pi/2
{
    double term = 1.0, sum = 1.0, x2 = x * x;
    for (int i = 1; i < 30; ++i) {
        term = -term * x2 / ((2.0 * i - 1.0) * (2.0 * i));
        sum += term;
    }
    return sum;
}

const double kPi = 3.14159265358979323846;

// cos(pi * m / 512) for any integer m.
double CosPi512(int m)
{
    m &= 1023;
    double sign = 1.0;
    if (m > 512)
        m = 1024 - m;  // cos is even around pi
    if (m > 256) {
        m = 512 - m;
        sign = -1.0;
    }
    return sign * DetCos(kPi * m / 512.0);
}

// sin(pi * m / 512) for any integer m.
double SinPi512(int m)
{
    return CosPi512(256 - m);
}

const float kWindowHalf[128] = {
#include "audio/ZafWindow.inc"
};

// The window, symmetric around its middle, and the tables of the DCT-IV of
// length 128, which runs as a 64-point complex FFT between a pre- and a
// post-rotation: pre[n] = exp(-i pi (4n + 1) / 512), post[k] =
// exp(-i pi k / 128) / 8 (the transform's factor 1/8 is exact in the table),
// fft[j] = exp(-2 i pi j / 64). Stored as cosine and sine parts.
struct TransformTables {
    float window[256];
    float preCos[64], preSin[64];
    float postCos[64], postSin[64];
    float fftCos[32], fftSin[32];
    uint8_t bitReverse[64];
    TransformTables()
    {
        for (int n = 0; n < 128; ++n) {
            window[n] = kWindowHalf[n];
            window[255 - n] = kWindowHalf[n];
        }
        for (int n = 0; n < 64; ++n) {
            preCos[n] = static_cast<float>(CosPi512(4 * n + 1));
            preSin[n] = static_cast<float>(SinPi512(4 * n + 1));
            postCos[n] = static_cast<float>(CosPi512(4 * n) * 0.125);
            postSin[n] = static_cast<float>(SinPi512(4 * n) * 0.125);
            int r = 0;
            for (int b = 0; b < 6; ++b)
                r |= ((n >> b) & 1) << (5 - b);
            bitReverse[n] = static_cast<uint8_t>(r);
        }
        for (int j = 0; j < 32; ++j) {
            fftCos[j] = static_cast<float>(CosPi512(16 * j));
            fftSin[j] = static_cast<float>(SinPi512(16 * j));
        }
    }
};

const TransformTables g_tables;

// X[k] = (1/8) sum_n u[n] cos(pi / 128 (n + 0.5) (k + 0.5)), k = 0..127.
// The even and mirrored odd inputs form 64 complex values z[n] = u[2n] +
// i u[127 - 2n]; after the pre-rotation, a radix-2 FFT and the post-rotation,
// the real parts are the even outputs and the negated imaginary parts the odd
// outputs from the top: X[2k] = Re y[k], X[127 - 2k] = -Im y[k].
// Plain single-precision arithmetic in a fixed order (no contraction), so
// every build computes the same bits.
void DctIv128(const float* u, float* out)
{
    const TransformTables& t = g_tables;
    float re[64], im[64];
    for (int n = 0; n < 64; ++n) {
        const float a = u[2 * n], b = u[127 - 2 * n];
        const float c = t.preCos[n], s = t.preSin[n];
        const int r = t.bitReverse[n];
        re[r] = a * c + b * s;  // (a + ib)(c - is)
        im[r] = b * c - a * s;
    }
    // Stage of length 2: the twiddle is 1.
    for (int i = 0; i < 64; i += 2) {
        const float ar = re[i], ai = im[i], br = re[i + 1], bi = im[i + 1];
        re[i] = ar + br;
        im[i] = ai + bi;
        re[i + 1] = ar - br;
        im[i + 1] = ai - bi;
    }
    // Stage of length 4: twiddles 1 and -i.
    for (int i = 0; i < 64; i += 4) {
        float ar = re[i], ai = im[i], br = re[i + 2], bi = im[i + 2];
        re[i] = ar + br;
        im[i] = ai + bi;
        re[i + 2] = ar - br;
        im[i + 2] = ai - bi;
        // (br + i bi)(-i) = bi - i br
        ar = re[i + 1];
        ai = im[i + 1];
        br = im[i + 3];
        bi = -re[i + 3];
        re[i + 1] = ar + br;
        im[i + 1] = ai + bi;
        re[i + 3] = ar - br;
        im[i + 3] = ai - bi;
    }
    for (int len = 8; len <= 64; len <<= 1) {
        const int half = len >> 1, step = 64 / len;
        for (int base = 0; base < 64; base += len) {
            float* r0 = re + base;
            float* i0 = im + base;
            float* r1 = r0 + half;
            float* i1 = i0 + half;
            for (int j = 0; j < half; ++j) {
                const float wc = t.fftCos[j * step], ws = t.fftSin[j * step];
                const float xr = r1[j], xi = i1[j];
                const float tr = xr * wc + xi * ws;  // (xr + i xi)(wc - i ws)
                const float ti = xi * wc - xr * ws;
                r1[j] = r0[j] - tr;
                i1[j] = i0[j] - ti;
                r0[j] = r0[j] + tr;
                i0[j] = i0[j] + ti;
            }
        }
    }
    for (int k = 0; k < 64; ++k) {
        const float c = t.postCos[k], s = t.postSin[k];
        out[2 * k] = re[k] * c + im[k] * s;
        out[127 - 2 * k] = re[k] * s - im[k] * c;  // -Im of (re + i im)(c - is)
    }
}

}  // namespace

void ZafDctIv128(const float* u, float* out)
{
    DctIv128(u, out);
}

void ZafTransformBlock(float* history, const float* input, float (*spectrum)[128])
{
    const TransformTables& t = g_tables;
    for (int s = 0; s < 8; ++s) {
        float y[256];
        for (int n = 0; n < 128; ++n)
            y[n] = t.window[n] * history[n];
        for (int n = 0; n < 128; ++n) {
            float v = input[128 * s + n];
            y[128 + n] = t.window[128 + n] * v;
            history[n] = v;
        }
        float u[128];
        for (int n = 0; n < 64; ++n)
            u[n] = -y[191 - n] - y[192 + n];
        for (int n = 64; n < 128; ++n)
            u[n] = y[n - 64] - y[191 - n];
        DctIv128(u, spectrum[s]);
    }
}
