#include "qr/QrTables.h"

#include <array>

namespace {

// Error-correction codewords per block, by level (L, M, Q, H) and version.
constexpr uint8_t kEcPerBlock[4][QR_VERSION_MAX] = {
    {7, 10, 15, 20, 26, 18, 20, 24, 30, 18, 20, 24, 26, 30, 22, 24, 28, 30, 28, 28,
     28, 28, 30, 30, 26, 28, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
    {10, 16, 26, 18, 24, 16, 18, 22, 22, 26, 30, 22, 22, 24, 24, 28, 28, 26, 26, 26,
     26, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28},
    {13, 22, 18, 26, 18, 24, 18, 22, 20, 24, 28, 26, 24, 20, 30, 24, 28, 28, 26, 30,
     28, 30, 30, 30, 30, 28, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
    {17, 28, 22, 16, 22, 28, 26, 26, 24, 28, 24, 28, 22, 24, 24, 30, 28, 28, 26, 28,
     30, 24, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
};

// Error-correction blocks, by level and version.
constexpr uint8_t kBlocks[4][QR_VERSION_MAX] = {
    {1, 1, 1, 1, 1, 2, 2, 2, 2, 4, 4, 4, 4, 4, 6, 6, 6, 6, 7, 8,
     8, 9, 9, 10, 12, 12, 12, 13, 14, 15, 16, 17, 18, 19, 19, 20, 21, 22, 24, 25},
    {1, 1, 1, 2, 2, 4, 4, 4, 5, 5, 5, 8, 9, 9, 10, 10, 11, 13, 14, 16,
     17, 17, 18, 20, 21, 23, 25, 26, 28, 29, 31, 33, 35, 37, 38, 40, 43, 45, 47, 49},
    {1, 1, 2, 2, 4, 4, 6, 6, 8, 8, 8, 10, 12, 16, 12, 17, 16, 18, 21, 20,
     23, 23, 25, 27, 29, 34, 34, 35, 38, 40, 43, 45, 48, 51, 53, 56, 59, 62, 65, 68},
    {1, 1, 2, 4, 4, 4, 5, 6, 8, 8, 11, 11, 16, 16, 18, 16, 19, 21, 25, 25,
     25, 34, 30, 32, 35, 37, 40, 42, 45, 48, 51, 54, 57, 60, 63, 66, 70, 74, 77, 81},
};

constexpr int AlignmentCount(int version)
{
    return version == 1 ? 0 : version / 7 + 2;
}

// Modules left for data and error correction once every function pattern
// and the format and version areas are taken out.
constexpr int DataModules(int version)
{
    int modules = (16 * version + 128) * version + 64;
    if (version >= 2) {
        const int a = AlignmentCount(version);
        modules -= (25 * a - 10) * a - 55;
        if (version >= 7) modules -= 36;
    }
    return modules;
}

struct Tables {
    QrBlockLayout layout[QR_VERSION_MAX][4]{};
    uint8_t exp[512]{};
    uint8_t log[256]{};
    uint8_t gen[QR_EC_LENGTH_MAX + 1][QR_EC_LENGTH_MAX + 1]{};
};

constexpr Tables MakeTables()
{
    Tables t;
    for (int v = 1; v <= QR_VERSION_MAX; ++v) {
        const int total = DataModules(v) / 8;
        for (int level = 0; level < 4; ++level) {
            const int blocks = kBlocks[level][v - 1];
            const int ec = kEcPerBlock[level][v - 1];
            QrBlockLayout& b = t.layout[v - 1][level];
            b.totalCodewords = total;
            b.dataCodewords = total - ec * blocks;
            b.ecPerBlock = ec;
            b.blocks2 = total % blocks;
            b.blocks1 = blocks - b.blocks2;
            b.data1 = total / blocks - ec;
            b.data2 = b.blocks2 ? b.data1 + 1 : 0;
        }
    }
    int x = 1;
    for (int i = 0; i < 255; ++i) {
        t.exp[i] = static_cast<uint8_t>(x);
        t.log[x] = static_cast<uint8_t>(i);
        x <<= 1;
        if (x & 0x100) x ^= 0x11D;
    }
    for (int i = 255; i < 512; ++i) t.exp[i] = t.exp[i - 255];
    // gen[n] = (x - a^0)(x - a^1)...(x - a^(n-1)), highest power first.
    for (int n = 1; n <= QR_EC_LENGTH_MAX; ++n) {
        uint8_t poly[QR_EC_LENGTH_MAX + 1]{};
        poly[0] = 1;
        for (int i = 0; i < n; ++i) {
            // multiply poly (degree i) by (x + a^i)
            for (int j = i + 1; j >= 1; --j) {
                uint8_t prod = 0;
                if (poly[j - 1]) prod = t.exp[t.log[poly[j - 1]] + i];
                poly[j] = static_cast<uint8_t>(poly[j] ^ prod);
            }
        }
        for (int j = 0; j <= n; ++j) t.gen[n][j] = poly[j];
    }
    return t;
}

constexpr Tables kTables = MakeTables();

uint32_t BchRemainder(uint32_t value, uint32_t generator, int generatorBits)
{
    int shift = generatorBits - 1;
    uint32_t r = value << shift;
    for (int bit = 31; bit >= shift; --bit)
        if (r & (1u << bit)) r ^= generator << (bit - shift);
    return r;
}

} // namespace

const QrBlockLayout& QrLayout(int version, int level)
{
    return kTables.layout[version - 1][level];
}

int QrDataCodewords(int version, int level)
{
    return kTables.layout[version - 1][level].dataCodewords;
}

int QrAlignmentCentres(int version, int centres[7])
{
    const int count = AlignmentCount(version);
    if (count == 0) return 0;
    const int size = 4 * version + 17;
    // Centres are evenly spaced from the last one back towards 6, the step
    // rounded up to an even number (version 32 is the one exception).
    const int step = version == 32 ? 26 : (version * 4 + count * 2 + 1) / (count * 2 - 2) * 2;
    centres[0] = 6;
    for (int i = count - 1, pos = size - 7; i >= 1; --i, pos -= step) centres[i] = pos;
    return count;
}

uint8_t QrGfMul(uint8_t a, uint8_t b)
{
    if (a == 0 || b == 0) return 0;
    return kTables.exp[kTables.log[a] + kTables.log[b]];
}

const uint8_t* QrGenerator(int n)
{
    return kTables.gen[n];
}

void QrReedSolomon(const uint8_t* data, int dataLength, int ecLength, uint8_t* ec)
{
    // Remainder of data(x) * x^ecLength divided by the generator, kept in a
    // shift register of ecLength codewords. The generator's coefficients are
    // held as logarithms so that each step is one table look-up per term.
    const uint8_t* g = kTables.gen[ecLength];
    uint8_t glog[QR_EC_LENGTH_MAX + 1];
    for (int j = 1; j <= ecLength; ++j) glog[j] = g[j] ? kTables.log[g[j]] : 0;
    for (int j = 0; j < ecLength; ++j) ec[j] = 0;
    for (int i = 0; i < dataLength; ++i) {
        const uint8_t factor = data[i] ^ ec[0];
        for (int j = 0; j + 1 < ecLength; ++j) ec[j] = ec[j + 1];
        ec[ecLength - 1] = 0;
        if (factor) {
            const int lf = kTables.log[factor];
            for (int j = 1; j <= ecLength; ++j)
                if (g[j]) ec[j - 1] ^= kTables.exp[lf + glog[j]];
        }
    }
}

uint32_t QrFormatBits(int level, int mask)
{
    // The two level bits of the format are L = 01, M = 00, Q = 11, H = 10.
    static constexpr uint32_t kLevelBits[4] = {1, 0, 3, 2};
    const uint32_t data = (kLevelBits[level & 3] << 3) | static_cast<uint32_t>(mask & 7);
    return ((data << 10) | BchRemainder(data, 0x537, 11)) ^ 0x5412;
}

uint32_t QrVersionBits(int version)
{
    const uint32_t v = static_cast<uint32_t>(version);
    return (v << 12) | BchRemainder(v, 0x1F25, 13);
}

void QrFormatPosition(int n, int copy, int i, int& x, int& y)
{
    if (copy == 0) {
        // Down column 8 (skipping the timing row), then left along row 8.
        static constexpr int8_t kX[15] = {8, 8, 8, 8, 8, 8, 8, 8, 7, 5, 4, 3, 2, 1, 0};
        static constexpr int8_t kY[15] = {0, 1, 2, 3, 4, 5, 7, 8, 8, 8, 8, 8, 8, 8, 8};
        x = kX[i];
        y = kY[i];
    } else if (i < 8) {
        x = n - 1 - i;
        y = 8;
    } else {
        x = 8;
        y = n - 15 + i;
    }
}
