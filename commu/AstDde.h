#pragma once
// The local transport: process-wide start and end, and the constants its
// callback steps share.
//
// Services of one machine talk over the local message bus (Unix-domain
// sockets in a per-user directory, see platform/PlatformLocalBus.h). A
// process registers up to AST_DDE_SERVER_MAX servers, each under a service
// name; a client connects to a service with a topic and pokes data under an
// item name; the server answers each poke "processed" or "not processed".
// Every server-side step runs as one case of the transport's callback,
// inside AstProcessMessages on the thread that called AstInitDde.

#include "platform/PlatformExport.h"

#include <cstdint>

constexpr int AST_DDE_SERVER_MAX = 8;
constexpr int AST_DDE_NAME_SIZE = 256;  // bytes of a service name, with its zero
constexpr int AST_DDE_ITEM_MAX = 1024;  // bytes of an item name read for a poke

// A conversation: one client connection as the server side knows it (0: none).
typedef uint32_t AstDdeConv;

// 1 when the transport is ready (at once when it already was), 0 on failure.
LUMIVOR_EXPORT int AstInitDde();
LUMIVOR_EXPORT int AstIsInitDde();
// Clears the server table and closes every conversation; returns 1.
LUMIVOR_EXPORT int AstExitDde();
