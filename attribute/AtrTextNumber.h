#pragma once
// Numbers of the attribute text: the unquoted value tokens as integers and
// reals, converted in place without copying the token.
#include <cstdint>

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

// atof of the real value token [begin, end), as a float: plain decimals
// exactly as strtod converts them, everything else through atof.
float AtrTextParseReal(const char* begin, const char* end);
