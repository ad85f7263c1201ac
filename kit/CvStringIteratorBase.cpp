#include "kit/CvStringIteratorBase.h"

#include "kit/CvString.h"

CvStringIteratorBase::CvStringIteratorBase()
    : string(nullptr), pos(0), code{0, 0, 0}, kind(CVK_STRING_CHAR_END)
{
}

CvStringIteratorBase::CvStringIteratorBase(const CvString* str) : CvStringIteratorBase()
{
    AttachString(str);
}

CvStringIteratorBase::~CvStringIteratorBase() = default;

void CvStringIteratorBase::AttachString(const CvString* str)
{
    string = str;
    pos = 0;
    _parse_text();
}

void CvStringIteratorBase::Copy(const CvStringIteratorBase& other)
{
    string = other.string;
    pos = other.pos;
    code[0] = other.code[0];
    code[1] = other.code[1];
    code[2] = other.code[2];
    kind = other.kind;
}

uint8_t CvStringIteratorBase::_byteAt(int32_t i) const
{
    if (string == nullptr || i < 0 || i >= string->GetLength()) {
        return 0;
    }
    return static_cast<uint8_t>(string->GetBuffer()[i]);
}

void CvStringIteratorBase::_parse_text()
{
    const uint8_t b = _byteAt(pos);
    code[0] = b;
    code[1] = 0;
    code[2] = 0;
    kind = b == 0 ? CVK_STRING_CHAR_END : CVK_STRING_CHAR_SINGLE;
}

int32_t CvStringIteratorBase::GetFirst()
{
    pos = 0;
    _parse_text();
    return string != nullptr && kind != CVK_STRING_CHAR_END;
}

int32_t CvStringIteratorBase::GetNext(int32_t n)
{
    if (string == nullptr) {
        return 0;
    }
    for (int32_t i = 0; i < n; ++i) {
        if (kind == CVK_STRING_CHAR_END) {
            return 0;
        }
        pos += kind == CVK_STRING_CHAR_DOUBLE ? 2 : 1;
        _parse_text();
    }
    if (n <= 0) {
        _parse_text();
    }
    return kind != CVK_STRING_CHAR_END;
}

int32_t CvStringIteratorBase::GetPrev(int32_t n, int32_t byteStep)
{
    if (string == nullptr) {
        return 0;
    }
    for (int32_t i = 0; i < n; ++i) {
        if (pos <= 0) {
            pos = 0;
            _parse_text();
            return 0;
        }
        if (byteStep == 0 && pos >= 2) {
            pos -= 2;
            _parse_text();
            if (kind != CVK_STRING_CHAR_DOUBLE) {
                pos += 1;
            }
        } else {
            pos -= 1;
        }
        _parse_text();
    }
    if (n <= 0) {
        _parse_text();
    }
    return kind != CVK_STRING_CHAR_END;
}

int32_t CvStringIteratorBase::GetLast()
{
    if (!GetFirst()) {
        return 0;
    }
    for (;;) {
        const int32_t at = pos;
        const int32_t step = kind == CVK_STRING_CHAR_DOUBLE ? 2 : 1;
        pos = at + step;
        _parse_text();
        if (kind == CVK_STRING_CHAR_END) {
            pos = at;
            _parse_text();
            return 1;
        }
    }
}
