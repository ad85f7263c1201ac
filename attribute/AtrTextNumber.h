#pragma once
// Numbers of the attribute text: the unquoted value tokens as integers and
// reals, converted in place without copying the token.
#include <cstdint>
#include <cstdlib>

// CvkStringCnvAtoI of a value token ("0x" hexadecimal, a leading '-', else
// decimal), for a token that is followed by a byte continuing no number.
// Inline: it runs for every integer of a document.
inline uint32_t AtrTextParseInteger(const char* p)
{
    if (p[0] == '0' && p[1] == 'x') {
        uint32_t value = 0;
        for (p += 2;; ++p) {
            const char c = *p;
            uint32_t digit;
            if (c >= '0' && c <= '9') {
                digit = static_cast<uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<uint32_t>(c - 'A' + 10);
            } else {
                return value;
            }
            value = value * 16 + digit;
        }
    }
    const bool negative = *p == '-';
    p += negative ? 1 : 0;
    uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<uint32_t>(*p - '0');
    }
    return negative ? 0u - value : value;
}

// The real whose decimal digits, read as one integer, are `digits` (at most
// 15 significant ones) with `fraction` of them behind the point: one
// correctly rounded division by an exact power of ten gives the nearest
// double, exactly as strtod does.
inline float AtrTextRealFromDigits(uint64_t digits, int fraction, bool negative)
{
    static const double powers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    double v = static_cast<double>(digits);
    if (fraction > 0) {
        v /= powers[fraction];
    }
    return static_cast<float>(negative ? -v : v);
}

// atof of the real value token [begin, end), as a float. Plain decimals
// ([sign] digits '.' digits, at most 15 significant digits) are converted
// by AtrTextRealFromDigits; everything else goes to atof.
inline float AtrTextParseReal(const char* begin, const char* end)
{
    const char* p = begin;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    uint64_t digits = 0;
    int count = 0;
    int fraction = -1; // digits after the '.', -1 before it
    bool any = false;
    for (; p < end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            any = true;
            if ((digits != 0 || c != '0') && ++count > 15) {
                return static_cast<float>(atof(begin));
            }
            digits = digits * 10 + static_cast<uint64_t>(c - '0');
            fraction += fraction >= 0 ? 1 : 0;
        } else if (c == '.' && fraction < 0) {
            fraction = 0;
        } else {
            return static_cast<float>(atof(begin));
        }
    }
    if (!any || fraction > 15) {
        return static_cast<float>(atof(begin));
    }
    return AtrTextRealFromDigits(digits, fraction, negative);
}
