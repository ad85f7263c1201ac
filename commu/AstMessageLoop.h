#pragma once
// The message loop of the communication layer's thread.
//
// Local-service callbacks (connect requests, pokes, disconnects), window
// timers and posted window requests all arrive inside AstProcessMessages,
// on the thread that calls it; nothing runs on another thread. An
// application calls it from its own loop, once per frame or while idle.

#include "platform/PlatformExport.h"

#include <cstdint>

typedef void (*AstTimerProc)(uint32_t id, void* context);

// One round of the loop: waits at most timeoutMs (0: handles only what is
// ready) and dispatches everything that arrived. Returns how many callbacks
// ran; 0 also when called from a thread other than the one that
// initialised the local transport.
LUMIVOR_EXPORT int AstProcessMessages(int timeoutMs);

// A window timer: proc(id, context) every intervalMs until killed. Returns
// the timer's id (never 0).
LUMIVOR_EXPORT uint32_t AstSetTimer(uint32_t intervalMs, AstTimerProc proc, void* context);
LUMIVOR_EXPORT void AstKillTimer(uint32_t id);
