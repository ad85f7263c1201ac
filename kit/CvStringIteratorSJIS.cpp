#include "kit/CvStringIteratorSJIS.h"

CvStringIteratorSJIS::CvStringIteratorSJIS(const CvString* str)
{
    AttachString(str);
}

void CvStringIteratorSJIS::_parse_text()
{
    const uint8_t b = _byteAt(pos);
    code[0] = b;
    code[1] = 0;
    code[2] = 0;
    if (b == 0) {
        kind = CVK_STRING_CHAR_END;
        return;
    }
    const uint8_t trail = _byteAt(pos + 1);
    if (CvkStringIsSJISLead(b) && trail != 0) {
        code[1] = trail;
        kind = CVK_STRING_CHAR_DOUBLE;
    } else {
        // A lone lead byte before the terminator counts as one byte.
        kind = CVK_STRING_CHAR_SINGLE;
    }
}
