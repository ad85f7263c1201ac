#pragma once
// A thin layer over the POSIX socket calls for the socket transport: IPv4
// TCP, non-blocking sockets, zero-timeout readiness tests. Failures return
// -1 (or false) and leave their reason for PlatformSocketLastError as the
// numbering of the Windows socket error table (10035 would block, 10061
// connection refused, 11001 host not found, ...), which the transport's logs
// and callers speak.
#include <cstdint>

typedef int PlatformSocket;
constexpr PlatformSocket PLATFORM_SOCKET_INVALID = -1;

// Error numbers of the table that the layer produces itself.
constexpr int32_t PLATFORM_SOCKET_ERROR_WOULD_BLOCK = 10035;
constexpr int32_t PLATFORM_SOCKET_ERROR_IN_PROGRESS = 10036;
constexpr int32_t PLATFORM_SOCKET_ERROR_TIMED_OUT = 10060;
constexpr int32_t PLATFORM_SOCKET_ERROR_REFUSED = 10061;
constexpr int32_t PLATFORM_SOCKET_ERROR_DISCONNECTED = 10101;
constexpr int32_t PLATFORM_SOCKET_ERROR_HOST_NOT_FOUND = 11001;
// The number callers give a port outside 0 to 65535.
constexpr int32_t PLATFORM_SOCKET_ERROR_ADDRESS_NOT_AVAILABLE = 10049;

// The table's number for an errno value (0 for 0).
int32_t PlatformSocketMapErrno(int error);
// The number of the last failure of this thread's socket calls.
int32_t PlatformSocketLastError();

// A TCP socket, non-blocking when asked.
PlatformSocket PlatformSocketCreateTcp();
bool PlatformSocketSetNonBlocking(PlatformSocket s);
// Closes; false when the close failed.
bool PlatformSocketClose(PlatformSocket s);
// Ends both directions; false when the socket has no peer (any more).
bool PlatformSocketShutdown(PlatformSocket s);

// The IPv4 address (network order) of a dotted address or a host name. A
// text that cannot be a host name (blanks, '!', empty labels, ...) fails
// without asking any resolver.
bool PlatformSocketResolve(const char* host, uint32_t* address);
// Starts a connection; true also when it is under way (in progress).
bool PlatformSocketConnect(PlatformSocket s, uint32_t address, uint16_t port);
// The pending error of a connecting socket as a table number (0: connected).
int32_t PlatformSocketPendingError(PlatformSocket s);

// Binds to every local address at port (0: any free port) and allows quick
// reuse of the port after a close.
bool PlatformSocketBindAny(PlatformSocket s, uint16_t port);
bool PlatformSocketListen(PlatformSocket s, int backlog);
// The accepted peer (non-blocking), or PLATFORM_SOCKET_INVALID.
PlatformSocket PlatformSocketAccept(PlatformSocket s);
// The local port of a bound socket; 0 when unknown.
uint16_t PlatformSocketLocalPort(PlatformSocket s);

// Bytes sent (never raising SIGPIPE), or -1.
int32_t PlatformSocketSend(PlatformSocket s, const void* data, uint32_t size);
// Bytes received, 0 when the peer closed its side, or -1.
int32_t PlatformSocketRecv(PlatformSocket s, void* data, uint32_t size);

// Zero-timeout readiness: data or an end waiting / room to write.
bool PlatformSocketReadable(PlatformSocket s);
bool PlatformSocketWritable(PlatformSocket s);
// Waits up to timeoutMs for any of the sockets (invalid ones ignored) to
// become readable (read) or writable (write); for loops that would otherwise
// spin. Returns true when one became ready.
bool PlatformSocketWait(const PlatformSocket* sockets, const bool* wantWrite, int count, int timeoutMs);
