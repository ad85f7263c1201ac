#pragma once
// CvStringIteratorSJIS: character iterator that knows Shift_JIS.
//
// A byte 0x81-0x9F or 0xE0-0xFC leads a double-byte character together with
// the byte behind it. A lead byte directly followed by the terminator is
// reported as a single-byte character, so the iterator never steps past the
// end of the text.

#include "kit/CvStringIteratorBase.h"

// True for a Shift_JIS lead byte.
inline bool CvkStringIsSJISLead(uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

class LUMIVOR_EXPORT CvStringIteratorSJIS : public CvStringIteratorBase {
public:
    CvStringIteratorSJIS() = default;
    explicit CvStringIteratorSJIS(const CvString* str);

protected:
    void _parse_text() override;
};
