#include "kit/CvkRandom.h"

#include "kit/CvkTimer.h"

namespace {
uint32_t g_low = 0;
uint32_t g_high = 0;
uint32_t g_mode = 0;
uint8_t g_tableCursorI = 0;
uint8_t g_tableCursorF = 0;

const uint8_t kRandomTable[256] = {
    6,   128, 80,  27,  174, 56,  0,   132, 28,  150, 163, 182, 148, 23,  60,  73,
    196, 53,  92,  160, 50,  91,  112, 185, 78,  238, 147, 33,  219, 223, 124, 133,
    10,  129, 119, 225, 218, 213, 215, 76,  2,   61,  105, 211, 9,   101, 239, 127,
    26,  116, 206, 170, 104, 79,  88,  86,  240, 237, 74,  151, 115, 4,   207, 44,
    146, 178, 126, 210, 35,  34,  172, 90,  183, 253, 252, 13,  103, 161, 110, 212,
    43,  192, 15,  248, 5,   135, 106, 169, 95,  46,  66,  49,  195, 177, 131, 190,
    140, 221, 227, 217, 68,  226, 173, 159, 154, 14,  77,  52,  38,  82,  245, 11,
    137, 62,  220, 166, 214, 45,  130, 156, 71,  93,  242, 58,  158, 254, 141, 100,
    83,  21,  222, 108, 55,  181, 153, 16,  228, 18,  96,  201, 187, 189, 134, 144,
    186, 57,  203, 29,  114, 123, 193, 37,  244, 122, 251, 109, 236, 30,  229, 8,
    117, 199, 145, 136, 209, 99,  247, 235, 22,  164, 20,  224, 138, 87,  249, 198,
    69,  118, 149, 155, 102, 188, 39,  75,  31,  143, 12,  165, 51,  42,  67,  184,
    7,   63,  113, 208, 204, 191, 233, 17,  205, 94,  3,   24,  142, 250, 36,  89,
    125, 41,  81,  255, 231, 241, 70,  64,  176, 84,  157, 167, 25,  139, 234, 65,
    59,  200, 1,   168, 120, 216, 48,  72,  243, 98,  54,  197, 111, 47,  179, 121,
    246, 162, 202, 175, 152, 40,  180, 19,  230, 107, 85,  171, 194, 97,  232, 32,
};

// One step of the generator; returns the new low word.
inline uint32_t step() {
    g_low ^= 0xAC897965u << (g_low & 3);
    uint64_t x = (static_cast<uint64_t>(g_high) << 32) | g_low;
    uint64_t a = x ^ (x << 1);
    uint64_t b = x ^ (x >> 1);
    x = x ^ (b >> 2) ^ (a << 2);
    g_low = static_cast<uint32_t>(x);
    g_high = static_cast<uint32_t>(x >> 32);
    return g_low;
}
}  // namespace

uint32_t CvkRandomI(uint32_t n) {
    uint32_t value = step() & 0x7FFFFFFFu;
    // n + 1 wraps to 0 for the largest n: every value is then in range.
    return n == 0xFFFFFFFFu ? value : value % (n + 1);
}

float CvkRandom(float x) {
    float value = static_cast<float>(step() & 0x7FFFFFFFu);
    return value * x * 4.656613e-10f;
}

float CvkRandomRange(float a, float b) { return a + CvkRandom(b - a); }

uint32_t CvkRandomRangeI(uint32_t a, uint32_t b) {
    if (a == b) return a;
    return a + CvkRandomI(b - a);
}

int32_t CvkRandomRangeS32(int32_t a, int32_t b) {
    if (a == b) return a;
    int64_t distance = static_cast<int64_t>(b) - a;
    uint32_t span = static_cast<uint32_t>(distance < 0 ? -distance : distance);
    return static_cast<int32_t>(static_cast<uint32_t>(a) + CvkRandomI(span));
}

uint32_t CvkSetRandomSeed(uint32_t seed) {
    uint32_t previous = g_low;
    g_low = seed;
    g_high = 0;
    return previous;
}

uint32_t CvkGetRandomSeed() { return g_low; }

void CvkSetConstRandom(uint32_t value) {
    g_mode = 1;
    g_low = value;
    g_high = 0;
}

void CvkResetConstRandom() {
    g_mode = 0;
    g_low = static_cast<uint32_t>(CvkGetTimer());
    g_high = 0;
}

uint32_t CvkGetRandomMode() { return g_mode; }

uint32_t CvkTableRandomI(uint32_t index) { return kRandomTable[index & 0xFF]; }

uint32_t CvkTableRandomI() {
    ++g_tableCursorI;
    return kRandomTable[g_tableCursorI];
}

float CvkTableRandom(uint32_t index) { return kRandomTable[index & 0xFF] * 0.003921569f; }

float CvkTableRandom() {
    ++g_tableCursorF;
    return kRandomTable[g_tableCursorF] * 0.003921569f;
}

float CvkTableRandomRange(uint32_t index, float a, float b) {
    return kRandomTable[index & 0xFF] / 255.0f * (b - a) + a;
}

int32_t CvkTableRandomRangeI(uint32_t index, int32_t a, int32_t b) {
    if (a == b) return a;
    int64_t span = static_cast<int64_t>(b) - a + 1;
    if (span == 0) return a;
    return static_cast<int32_t>(a + kRandomTable[index & 0xFF] % span);
}
