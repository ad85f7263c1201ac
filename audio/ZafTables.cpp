#include "audio/ZafTables.h"

#include "audio/ZafEncoder.h"

namespace {

// Exponential by its Taylor series in plain double arithmetic (no C-library
// routine), accurate for small |x|.
double DetExp(double x)
{
    double term = 1.0, sum = 1.0;
    for (int i = 1; i < 40; ++i) {
        term = term * x / i;
        sum += term;
    }
    return sum;
}

const double kLn2 = 0.69314718055994530942;

// CRC-16 by bytes: the remainder of each byte value shifted to the top.
struct CrcTable {
    uint16_t t[256];
    CrcTable()
    {
        for (int i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i << 8);
            for (int b = 0; b < 8; ++b)
                c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x8005 : (c << 1));
            t[i] = c;
        }
    }
};
const CrcTable g_crc;

}  // namespace

ZafScaleTables::ZafScaleTables()
{
    for (int i = 0; i < 64; ++i) {
        // 2^(3.5 + 53 (i - 63) / 128) = 2^(e / 128), split into a whole
        // power of two and a fraction.
        int e = 448 + 53 * (i - 63);
        int whole = (e >= 0) ? e / 128 : -((-e + 127) / 128);
        int frac = e - whole * 128;
        double v = DetExp(kLn2 * frac / 128.0);
        for (int w = 0; w < whole; ++w)
            v *= 2.0;
        for (int w = 0; w > whole; --w)
            v *= 0.5;
        scale[i] = static_cast<float>(v);
    }
    for (int r = 0; r < 16; ++r)
        step[r] = 2.0f / static_cast<float>(kZafLevels[r]);
}

const ZafScaleTables g_zafScale;

uint16_t ZafCrc16(const uint8_t* data, size_t size, uint16_t crc)
{
    for (size_t i = 0; i < size; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ g_crc.t[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}
