#include "platform/PlatformMessageLoop.h"
#include "platform/PlatformTimer.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <vector>

namespace {

struct Watch {
    int fd;
    PlatformWatchProc proc;
    void* context;
};

struct Timer {
    uint32_t id;
    uint32_t intervalMs;
    uint64_t dueMicros;
    PlatformTimerProc proc;
    void* context;
};

struct Posted {
    PlatformPostedProc proc;
    void* context;
};

// The loop belongs to the thread that uses the communication layer, like a
// window's message queue; there is one such thread per process.
struct Loop {
    std::vector<Watch> watches;
    std::vector<Timer> timers;
    std::vector<Posted> posted;
    uint32_t nextTimerId = 1;
};

Loop& TheLoop()
{
    static Loop loop;
    return loop;
}

Watch* FindWatch(int fd)
{
    for (Watch& w : TheLoop().watches) {
        if (w.fd == fd) {
            return &w;
        }
    }
    return nullptr;
}

// Milliseconds until the earliest timer is due (0 when one is), or limit.
int WaitLimit(int limitMs)
{
    const uint64_t now = PlatformMonotonicMicros();
    int wait = limitMs;
    for (const Timer& t : TheLoop().timers) {
        const int due = t.dueMicros <= now ? 0 : static_cast<int>((t.dueMicros - now + 999) / 1000);
        if (wait < 0 || due < wait) {
            wait = due;
        }
    }
    return TheLoop().posted.empty() ? wait : 0;
}

int RunPosted()
{
    std::vector<Posted> posted;
    posted.swap(TheLoop().posted);
    for (const Posted& p : posted) {
        p.proc(p.context);
    }
    return static_cast<int>(posted.size());
}

int RunDueTimers()
{
    const uint64_t now = PlatformMonotonicMicros();
    std::vector<uint32_t> due;
    for (const Timer& t : TheLoop().timers) {
        if (t.dueMicros <= now) {
            due.push_back(t.id);
        }
    }
    int ran = 0;
    for (uint32_t id : due) {
        // A callback may have killed this timer or others.
        auto& timers = TheLoop().timers;
        auto it = std::find_if(timers.begin(), timers.end(), [id](const Timer& t) { return t.id == id; });
        if (it == timers.end()) {
            continue;
        }
        it->dueMicros = now + static_cast<uint64_t>(it->intervalMs) * 1000;
        const PlatformTimerProc proc = it->proc;
        void* context = it->context;
        proc(id, context);
        ++ran;
    }
    return ran;
}

int RunReadable(int waitMs)
{
    std::vector<pollfd> fds;
    for (const Watch& w : TheLoop().watches) {
        fds.push_back(pollfd{w.fd, POLLIN, 0});
    }
    int rc;
    do {
        rc = poll(fds.data(), fds.size(), waitMs);
    } while (rc < 0 && errno == EINTR && waitMs == 0);
    if (rc <= 0) {
        return 0;
    }
    int ran = 0;
    for (const pollfd& p : fds) {
        if (p.revents == 0) {
            continue;
        }
        // Looked up again: an earlier callback may have unwatched it.
        Watch* w = FindWatch(p.fd);
        if (w != nullptr) {
            w->proc(p.fd, w->context);
            ++ran;
        }
    }
    return ran;
}

} // namespace

bool PlatformLoopWatch(int fd, PlatformWatchProc proc, void* context)
{
    if (fd < 0 || proc == nullptr) {
        return false;
    }
    if (Watch* w = FindWatch(fd)) {
        *w = Watch{fd, proc, context};
        return true;
    }
    TheLoop().watches.push_back(Watch{fd, proc, context});
    return true;
}

void PlatformLoopUnwatch(int fd)
{
    auto& watches = TheLoop().watches;
    watches.erase(std::remove_if(watches.begin(), watches.end(), [fd](const Watch& w) { return w.fd == fd; }),
                  watches.end());
}

uint32_t PlatformLoopSetTimer(uint32_t intervalMs, PlatformTimerProc proc, void* context)
{
    if (proc == nullptr) {
        return 0;
    }
    Loop& loop = TheLoop();
    const uint32_t id = loop.nextTimerId++;
    if (loop.nextTimerId == 0) {
        loop.nextTimerId = 1;
    }
    intervalMs = std::max<uint32_t>(intervalMs, 1);
    loop.timers.push_back(
        Timer{id, intervalMs, PlatformMonotonicMicros() + static_cast<uint64_t>(intervalMs) * 1000, proc, context});
    return id;
}

void PlatformLoopKillTimer(uint32_t id)
{
    auto& timers = TheLoop().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [id](const Timer& t) { return t.id == id; }),
                 timers.end());
}

void PlatformLoopKillTimersOf(void* context)
{
    auto& timers = TheLoop().timers;
    timers.erase(
        std::remove_if(timers.begin(), timers.end(), [context](const Timer& t) { return t.context == context; }),
        timers.end());
}

void PlatformLoopPost(PlatformPostedProc proc, void* context)
{
    if (proc != nullptr) {
        TheLoop().posted.push_back(Posted{proc, context});
    }
}

void PlatformLoopCancelPosts(void* context)
{
    auto& posted = TheLoop().posted;
    posted.erase(
        std::remove_if(posted.begin(), posted.end(), [context](const Posted& p) { return p.context == context; }),
        posted.end());
}

int PlatformLoopRun(int timeoutMs)
{
    const int ranPosted = RunPosted();
    const int wait = ranPosted > 0 ? 0 : WaitLimit(timeoutMs);
    const int ranReadable = RunReadable(wait);
    return ranPosted + ranReadable + RunDueTimers();
}
