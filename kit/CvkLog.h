#pragma once
// Log printing of the kit.
//
// CvkLogPrint formats like printf and sends the text to standard output and
// to the log sink. The sink stands in for a debugger's output window: a
// host (or a test) installs a function that receives every text; there is
// none by default.

#include "platform/PlatformExport.h"

typedef void (*CvkLogSink)(const char* text, void* context);

LUMIVOR_EXPORT void CvkLogPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Installs sink (null: none) with the context it is called with; returns the
// previous sink.
LUMIVOR_EXPORT CvkLogSink CvkLogSetSink(CvkLogSink sink, void* context = nullptr);
LUMIVOR_EXPORT CvkLogSink CvkLogGetSink();
