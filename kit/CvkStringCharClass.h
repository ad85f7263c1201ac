#pragma once
// Character classes of the kit's text parsers. Each takes one byte and
// returns non-zero when the byte belongs to the class (ASCII only: bytes of
// 0x80 and above belong to none).

#include "platform/PlatformExport.h"

#include <cstdint>

// a-z, A-Z
LUMIVOR_EXPORT int32_t CvkCharIsAlphabet(char ch);
// 0-9, a-f, A-F, and also x and X (so that a "0x" prefix scans as part of
// a hexadecimal number)
LUMIVOR_EXPORT int32_t CvkCharIsHexadecimal(char ch);
// 0-9
LUMIVOR_EXPORT int32_t CvkCharIsNumber(char ch);
// = ! + - * / % < > & |
LUMIVOR_EXPORT int32_t CvkCharIsOperator(char ch);
// ; : , ( ) { } [ ]
LUMIVOR_EXPORT int32_t CvkCharIsSeparator(char ch);
// space, TAB, LF, FF, CR (not VT)
LUMIVOR_EXPORT int32_t CvkCharIsSpace(char ch);
// a-z, A-Z, 0-9, _ : the characters of a name
LUMIVOR_EXPORT int32_t CvkCharIsSymbol(char ch);
