#include "kit/CvkStringScan.h"

#include "kit/CvkHeap.h"

#include <cstdlib>
#include <cstring>

uint32_t CvkStringCnvAtoI(const char* text)
{
    if (text == nullptr) {
        return 0;
    }
    const char* p = text;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    uint32_t base = 10;
    bool negative = false;
    if (*p == '$') {
        base = 16;
        ++p;
    } else if (p[0] == '0' && p[1] == 'x') {
        base = 16;
        p += 2;
    } else if (*p == '-') {
        negative = true;
        ++p;
    }
    uint32_t value = 0;
    for (;; ++p) {
        uint32_t digit;
        if (*p >= '0' && *p <= '9') {
            digit = static_cast<uint32_t>(*p - '0');
        } else if (base == 16 && *p >= 'a' && *p <= 'f') {
            digit = static_cast<uint32_t>(*p - 'a' + 10);
        } else if (base == 16 && *p >= 'A' && *p <= 'F') {
            digit = static_cast<uint32_t>(*p - 'A' + 10);
        } else {
            break;
        }
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

int32_t CvkStringAtoIClamped(const char* text)
{
    const long long v = std::strtoll(text != nullptr ? text : "", nullptr, 10);
    if (v > INT32_MAX) {
        return INT32_MAX;
    }
    if (v < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(v);
}

void CvkStringSkipSpace(const char** cursor)
{
    if (cursor == nullptr || *cursor == nullptr) {
        return;
    }
    const char* p = *cursor;
    for (;;) {
        if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\f') {
            ++p;
        } else if (p[0] == '/' && p[1] == '/') {
            p += 2;
            while (*p != 0 && *p != '\r' && *p != '\n') {
                ++p;
            }
            if (*p != 0) {
                ++p;
            }
        } else if (p[0] == '/' && p[1] == '*') {
            p += 2;
            while (*p != 0 && !(p[0] == '*' && p[1] == '/')) {
                ++p;
            }
            if (*p != 0) {
                p += 2;
            }
        } else {
            break;
        }
    }
    *cursor = p;
}

void CvkStringSkipSpace(char** cursor)
{
    CvkStringSkipSpace(const_cast<const char**>(cursor));
}

int32_t CvkStringSkipToChar(const char** cursor, char ch)
{
    if (cursor == nullptr || *cursor == nullptr) {
        return 0;
    }
    const char* p = *cursor;
    int32_t found = 0;
    while (*p != 0) {
        if (*p == ch) {
            found = 1;
            break;
        }
        ++p;
    }
    *cursor = p;
    return found;
}

int32_t CvkStringSkipToChar(char** cursor, char ch)
{
    return CvkStringSkipToChar(const_cast<const char**>(cursor), ch);
}

CvString* CvkStringSplit(const char* text, const char* separator, int32_t* count, int32_t skipBlanks)
{
    if (text == nullptr) {
        text = "";
    }
    const char sep = separator != nullptr ? separator[0] : 0;
    int32_t fields = 1;
    for (const char* p = text; *p != 0; ++p) {
        if (*p == sep) {
            ++fields;
        }
    }
    CvString* array = new CvString[fields];
    if (array == nullptr) {
        if (count != nullptr) {
            *count = 0;
        }
        return nullptr;
    }
    if (count != nullptr) {
        *count = fields;
    }
    // Each field is gathered in a scratch buffer and stored in one step.
    const size_t total = std::strlen(text);
    auto* scratch = static_cast<char*>(t_cvkBufferHeapAlloc(static_cast<uint32_t>(total) + 1, 0, "cvk_string", __LINE__));
    int32_t field = 0;
    const char* p = text;
    for (;;) {
        const char* start = p;
        while (*p != 0 && *p != sep) {
            ++p;
        }
        if (scratch != nullptr) {
            int32_t n = 0;
            for (const char* q = start; q < p; ++q) {
                if (*q == '\n' || (skipBlanks && (*q == '\t' || *q == ' '))) {
                    continue;
                }
                scratch[n++] = *q;
            }
            if (n > 0) {
                array[field].Assign(scratch, n);
            }
        }
        ++field;
        if (*p == 0) {
            break;
        }
        ++p; // the separator byte
    }
    t_cvkBufferHeapFree(scratch, "cvk_string", __LINE__);
    return array;
}
