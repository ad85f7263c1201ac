#pragma once
// The runtime kit as a subcommand uses it, in three pieces that each give
// back what they took when they end (or when End() is called first):
//   CliKitHeap    one simple heap in the system, main and buffer slots;
//   CliKitSystem  the kit started on the slots as they are, optionally with
//                 the file protocol of the current directory;
//   CliKitLog     the kit's log kept off the terminal: the kit prints its
//                 Shift_JIS log on standard output, so while this lives
//                 standard output goes nowhere and every log text goes to a
//                 sink instead (Out() is the real standard output).
// Declare them in that order: the kit stops before its heaps are emptied.
#include "kit/CvkHeapSimple.h"
#include "kit/CvkLog.h"

#include <cstdio>
#include <string>

class CliKitHeap {
public:
    CliKitHeap();
    ~CliKitHeap() { End(); }
    CliKitHeap(const CliKitHeap&) = delete;
    CliKitHeap& operator=(const CliKitHeap&) = delete;

    void End();

private:
    CvkHeapSimple m_heap{nullptr, 0, 16};
    bool m_ended = false;
};

class CliKitSystem {
public:
    explicit CliKitSystem(bool currentDirectoryFiles);
    ~CliKitSystem() { End(); }
    CliKitSystem(const CliKitSystem&) = delete;
    CliKitSystem& operator=(const CliKitSystem&) = delete;

    bool Ready() const { return m_ready; }
    void End();

private:
    bool m_ready = false;
    bool m_ended = false;
};

class CliKitLog {
public:
    // Every log text appended to `collected`.
    explicit CliKitLog(std::string* collected);
    // Every log text given to `sink`.
    CliKitLog(CvkLogSink sink, void* context);
    ~CliKitLog() { End(); }
    CliKitLog(const CliKitLog&) = delete;
    CliKitLog& operator=(const CliKitLog&) = delete;

    // The real standard output while the log is redirected.
    FILE* Out();
    void End();

private:
    static void _collect(const char* text, void* context);

    int m_savedStdout = -1;
    FILE* m_out = nullptr;
    CvkLogSink m_previousSink = nullptr;
    bool m_ended = false;
};
