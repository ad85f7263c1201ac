#pragma once
// The exported interface of the matrixsym library.
#include <cstdint>

#include "platform/PlatformExport.h"

// Encodes text (UTF-16, null-terminated) as a QR Code symbol at error
// correction level M and writes it to outputPath (UTF-16) as a 32-bit
// bitmap, one pixel per module. version 0 (or negative) takes the smallest
// version that fits; 1..40 asks for at least that version.
// Returns 1 when the call ran to its end (also when the file could not be
// created), 0 when nothing was written: a null argument, text that cannot be
// encoded (empty, or more than version 40 holds), version above 40, or no
// memory.
extern "C" LUMIVOR_EXPORT int32_t LUMIVOR_STDCALL CreateEncodeData(const char16_t* outputPath,
                                                                  const char16_t* text,
                                                                  int32_t version);
