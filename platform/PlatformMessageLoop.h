#pragma once
// The message loop of a thread that owns windows, timers and local
// services: watched descriptors, interval timers and posted calls, all
// dispatched on the thread that runs the loop (never on another).
//
// Callbacks may watch, unwatch, set and kill timers, or post, while they
// run; a descriptor unwatched during a round gets no further callback in it.

#include <cstdint>

typedef void (*PlatformWatchProc)(int fd, void* context);
typedef void (*PlatformTimerProc)(uint32_t id, void* context);
typedef void (*PlatformPostedProc)(void* context);

// Calls proc whenever fd is readable (or closed). Re-watching a descriptor
// replaces its callback.
bool PlatformLoopWatch(int fd, PlatformWatchProc proc, void* context);
void PlatformLoopUnwatch(int fd);

// Calls proc every intervalMs (at least 1) until the timer is killed.
// Returns the timer's id, never 0.
uint32_t PlatformLoopSetTimer(uint32_t intervalMs, PlatformTimerProc proc, void* context);
void PlatformLoopKillTimer(uint32_t id);
// Kills every timer whose context is the given one.
void PlatformLoopKillTimersOf(void* context);

// Queues proc(context) for the next round.
void PlatformLoopPost(PlatformPostedProc proc, void* context);
// Drops queued calls whose context is the given one (an object going away).
void PlatformLoopCancelPosts(void* context);

// One round: waits at most timeoutMs (0: only what is ready; negative:
// until something happens) for readable descriptors, due timers or posted
// calls, and dispatches all of them. Returns how many callbacks ran.
int PlatformLoopRun(int timeoutMs);
