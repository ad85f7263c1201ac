#include "kit/CvkLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
CvkLogSink g_sink = nullptr;
void* g_sinkContext = nullptr;

void emit(const char* text) {
    if (g_sink) g_sink(text, g_sinkContext);
    std::fputs(text, stdout);
    std::fflush(stdout);
}
}  // namespace

void CvkLogPrint(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0) return;
    if (length < static_cast<int>(sizeof text)) {
        emit(text);
        return;
    }
    // Too long for the stack buffer: format again into a heap buffer of the
    // needed length + 2 (at least 1024 bytes), doubling while it still fails.
    size_t capacity = 1024;
    while (capacity < static_cast<size_t>(length) + 2) capacity *= 2;
    for (;;) {
        char* buffer = static_cast<char*>(std::malloc(capacity));
        if (!buffer) return;
        va_start(args, format);
        int written = std::vsnprintf(buffer, capacity, format, args);
        va_end(args);
        if (written >= 0 && static_cast<size_t>(written) < capacity) {
            emit(buffer);
            std::free(buffer);
            return;
        }
        std::free(buffer);
        if (written < 0) return;
        capacity *= 2;
    }
}

CvkLogSink CvkLogSetSink(CvkLogSink sink, void* context) {
    CvkLogSink previous = g_sink;
    g_sink = sink;
    g_sinkContext = context;
    return previous;
}

CvkLogSink CvkLogGetSink() { return g_sink; }
