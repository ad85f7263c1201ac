#pragma once
// The file-encoding job: one wave file in, one complete ZAF file out,
// encoded by up to 64 threads.
#include <cstddef>
#include <cstdint>
#include <cstdio>

using ZafErrorSink = void (*)(void* user, int handle, const char* text);
using ZafProgressSink = int (*)(void* user, int handle, int done, int total);
using ZafAllocHook = void* (*)(void* user, int handle, const char* name, size_t size);
using ZafFreeHook = void (*)(void* user, int handle, void* block);

// Process-wide switches and callbacks, set by the program before a job.
struct ZafJobGlobals {
    int basicReport = 0;
    int detailReport = 0;
    int bitrateFloor = 1;
    int bandConstraint = 0;
    ZafErrorSink errorSink = nullptr;
    void* errorUser = nullptr;
    ZafProgressSink progressSink = nullptr;
    void* progressUser = nullptr;
    ZafAllocHook allocHook = nullptr;
    void* allocUser = nullptr;
    ZafFreeHook freeHook = nullptr;
    void* freeUser = nullptr;
    FILE* report = nullptr;    // where report lines go (null: stdout)
    FILE* warnings = nullptr;  // where warning lines go (null: stderr)
};
extern ZafJobGlobals g_zafJob;

// Encodes one file. quality: -5..-1 a quality level, > 0 kbit/s, 0 default.
// Returns 0 (done), 1 (failed, reason sent to the error sink) or 2 (stopped).
// The number of encoding threads is the number of online processors (at
// most 64) unless the environment variable ZAF_THREADS gives 1 to 64.
int EncodeWaveFile(int handle, const char* inputPath, const char* outputPath, int quality, int cutoff,
                   int tracks, int config, uint32_t keyLow, uint32_t keyHigh);
