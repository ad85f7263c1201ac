#include "platform/PlatformConsole.h"

#include <csignal>
#include <cstring>

namespace {

std::atomic<std::atomic<int32_t>*> g_stopFlag{nullptr};

void OnStopSignal(int)
{
    // Only a lock-free atomic store happens here: safe inside a signal handler.
    std::atomic<int32_t>* flag = g_stopFlag.load();
    if (flag)
        flag->store(1);
}

}  // namespace

bool PlatformInstallStopFlag(std::atomic<int32_t>* flag)
{
    g_stopFlag.store(flag);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool ok = sigaction(SIGINT, &action, nullptr) == 0;
    ok = sigaction(SIGTERM, &action, nullptr) == 0 && ok;
    return ok;
}
