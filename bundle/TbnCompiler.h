#pragma once
// TbnCompilerOutput: compiles an instance text and a template text (attribute
// text format, Shift_JIS) into one binary attribute image file.
//
// The call starts the kit for its own duration (a heap of its own, timer,
// random seed, local file access), parses both texts, compiles them with
// alignment 32, replaces the first chunk's tag by `code` (most significant
// byte first in the file) and writes the image to outputPath. Failures are
// printed through the kit's log with the prefix "[Error]".
//
// Result: 1 when the image file was written; 0 otherwise (an argument null
// or empty, a text that does not parse, a failed compilation or a failed
// write). Calls must not overlap.

#include "platform/PlatformExport.h"

#include <cstdint>

extern "C" LUMIVOR_EXPORT uint8_t LUMIVOR_STDCALL TbnCompilerOutput(const char* outputPath, const char* instanceText,
                                                                     const char* templateText, uint32_t code);
