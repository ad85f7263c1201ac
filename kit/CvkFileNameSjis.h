#pragma once
// Byte-level helpers for Shift_JIS paths in which both '\' and '/' separate.
// A '\' (0x5C) may also be the trail byte of a double-byte character (for
// example 0x95 0x5C), so separators are only recognised at character starts.

#include <cstdint>

namespace cvkpath {

inline bool IsSjisLead(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

inline bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Width of the character that starts at text[i] (1 or 2; a lead byte at the
// very end counts as 1).
inline int32_t CharWidth(const char* text, int32_t length, int32_t i)
{
    return (IsSjisLead(static_cast<uint8_t>(text[i])) && i + 1 < length) ? 2 : 1;
}

// Position of the last separator at index >= from (character starts only), or -1.
inline int32_t LastSeparator(const char* text, int32_t length, int32_t from)
{
    int32_t found = -1;
    for (int32_t i = 0; i < length; i += CharWidth(text, length, i)) {
        if (i >= from && IsSeparator(text[i])) {
            found = i;
        }
    }
    return found;
}

// Position of the first separator at index >= from (character starts only), or -1.
inline int32_t NextSeparator(const char* text, int32_t length, int32_t from)
{
    for (int32_t i = 0; i < length; i += CharWidth(text, length, i)) {
        if (i >= from && IsSeparator(text[i])) {
            return i;
        }
    }
    return -1;
}

// Position of the last '.' (character starts only) at index >= from, or -1.
inline int32_t LastDot(const char* text, int32_t length, int32_t from)
{
    int32_t found = -1;
    for (int32_t i = 0; i < length; i += CharWidth(text, length, i)) {
        if (i >= from && text[i] == '.') {
            found = i;
        }
    }
    return found;
}

inline char FoldAscii(char c)
{
    if (c >= 'A' && c <= 'Z') {
        return static_cast<char>(c - 'A' + 'a');
    }
    return c;
}

} // namespace cvkpath
