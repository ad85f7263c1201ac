#pragma once
// Scanning helpers of the kit's text parsers: number conversion, skipping
// blanks and comments, and splitting a text into fields. They work on bytes
// (a Shift_JIS trail byte is a byte like any other here).

#include "kit/CvString.h"
#include "platform/PlatformExport.h"

#include <cstdint>

// Number at the start of text: leading spaces and TABs are skipped; "$" or
// "0x" (lower-case x only) introduce hexadecimal, otherwise a "-" negates a
// decimal number. Digits are taken while they belong to the base; the value
// accumulates in wrapping unsigned 32-bit arithmetic. No digits (or a null
// text) give 0.
LUMIVOR_EXPORT uint32_t CvkStringCnvAtoI(const char* text);

// Decimal number at the start of text as atoi reads it (leading white space,
// an optional sign), clamped to the 32-bit range as the 32-bit C run-time
// does, so that both word sizes give the same value. A null text gives 0.
LUMIVOR_EXPORT int32_t CvkStringAtoIClamped(const char* text);

// Advances *cursor over blanks (space, TAB, CR, LF, FF), "//" comments up to
// and including the next CR or LF, and "/* ... */" comments. A "/" that
// begins no comment stays under the cursor; inside an unterminated comment
// the cursor stops on the terminator.
LUMIVOR_EXPORT void CvkStringSkipSpace(const char** cursor);
LUMIVOR_EXPORT void CvkStringSkipSpace(char** cursor);

// Advances *cursor to the next byte equal to ch and returns 1; returns 0 with
// the cursor on the terminator when there is none (at once when it already
// stands on the terminator).
LUMIVOR_EXPORT int32_t CvkStringSkipToChar(const char** cursor, char ch);
LUMIVOR_EXPORT int32_t CvkStringSkipToChar(char** cursor, char ch);

// Splits text at every byte equal to the first byte of separator into
// *count fields (one more than the separator bytes). LF is always left out
// of the fields, TAB and space too when skipBlanks is non-zero; CR is kept.
// Returns an array made with new[] (the caller deletes it with delete[]),
// or null (count 0) when it cannot be allocated.
LUMIVOR_EXPORT CvString* CvkStringSplit(const char* text, const char* separator, int32_t* count,
                                        int32_t skipBlanks);
