#pragma once
// CvStringIteratorBase: walks a CvString one character at a time.
//
// The base class takes every non-zero byte for a single-byte character;
// CvStringIteratorSJIS recognises Shift_JIS double-byte characters. The
// iterator stands on a character at byte offset `pos`; `code` holds its bytes
// and `kind` tells whether it is a single-byte or double-byte character or
// the end of the text. Iteration never steps past the terminator.

#include "platform/PlatformExport.h"

#include <cstdint>

class CvString;

// Values of CvStringIteratorBase::GetKind().
constexpr int32_t CVK_STRING_CHAR_SINGLE = 0;
constexpr int32_t CVK_STRING_CHAR_DOUBLE = 1;
constexpr int32_t CVK_STRING_CHAR_END = 2;

class LUMIVOR_EXPORT CvStringIteratorBase {
public:
    // No string, pos 0, code 0, kind end.
    CvStringIteratorBase();
    // Attached to `str` and standing on its first character.
    explicit CvStringIteratorBase(const CvString* str);
    virtual ~CvStringIteratorBase();

    // Attaches `str` (null detaches) and stands on its first character.
    void AttachString(const CvString* str);
    // Takes the other iterator's string and position.
    void Copy(const CvStringIteratorBase& other);

    // Each returns non-zero when the iterator then stands on a character and
    // 0 at the end of the text or without a string.
    int32_t GetFirst();
    // Steps n characters forward; GetNext(0) parses again in place.
    int32_t GetNext(int32_t n = 1);
    // Steps n times backward: one byte when byteStep is non-zero, else one
    // character as far as the byte two places back tells.
    int32_t GetPrev(int32_t n = 1, int32_t byteStep = 0);
    int32_t GetLast();

    const CvString* GetString() const { return string; }
    int32_t GetPos() const { return pos; }
    int32_t GetKind() const { return kind; }
    // The character's bytes: first, second (0 for a single byte), 0.
    const uint8_t* GetCode() const { return code; }

protected:
    // Sets code and kind from the bytes at pos.
    virtual void _parse_text();
    // The byte at offset i of the attached text, 0 outside it.
    uint8_t _byteAt(int32_t i) const;

    const CvString* string;
    int32_t pos;
    uint8_t code[3];
    int32_t kind;
};
