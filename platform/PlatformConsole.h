#pragma once
// Console control: lets a console program learn that the user asked it to
// stop (Ctrl-C or a termination request) without being killed by it.
#include <atomic>
#include <cstdint>

// Installs handlers for SIGINT and SIGTERM that store 1 into *flag and return,
// so the process keeps running and can stop at its own pace. The flag must
// outlive the process's use of it (a global). Returns false when the handlers
// could not be installed.
bool PlatformInstallStopFlag(std::atomic<int32_t>* flag);
