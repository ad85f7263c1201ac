#pragma once
// The local message bus: named services on one machine.
//
// A service is a Unix-domain stream socket named after the service in a
// per-user directory ($XDG_RUNTIME_DIR/lumivor-services/, else
// /tmp/lumivor-services-<uid>/) of mode 0700, so only the same user can
// reach it. A server holds an flock on "<name>.lock" beside its socket for
// its whole life, so two processes never serve one name, and removes both
// files when it ends; a socket file whose lock nobody holds is stale (its
// server died) and the next server of that name replaces it. A service is live when its socket accepts connections.
//
// On a connection, both ways carry frames: a 32-bit little-endian kind, a
// 32-bit little-endian body length, then the body.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum : uint32_t {
    PLATFORM_BUS_CONNECT = 1, // body: service, 0, topic, 0
    PLATFORM_BUS_POKE = 2,    // body: topic, 0, item, 0, data bytes
    PLATFORM_BUS_ANSWER = 3,  // body: one byte, PLATFORM_BUS_ANSWER_*
};

enum : uint8_t {
    PLATFORM_BUS_ANSWER_NOT_PROCESSED = 0,
    PLATFORM_BUS_ANSWER_PROCESSED = 1,
    PLATFORM_BUS_ANSWER_REFUSED = 2, // the connect request found no such service
};

constexpr uint32_t PLATFORM_BUS_HEADER_SIZE = 8;
// Larger frames are refused before anything is allocated for them.
constexpr uint32_t PLATFORM_BUS_MAX_BODY = 64u * 1024u * 1024u;

// Why PlatformServiceListen failed.
enum PlatformServiceError {
    PLATFORM_SERVICE_OK = 0,
    PLATFORM_SERVICE_BAD_NAME,  // empty, "." or "..", holds '/' or NUL, or too long for a socket path
    PLATFORM_SERVICE_NO_DIR,    // the directory cannot be made or is not ours with mode 0700
    PLATFORM_SERVICE_TAKEN,     // a live process serves the name
    PLATFORM_SERVICE_SYSTEM,    // a socket call failed
};

// The service directory, created (mode 0700) when missing; empty when it
// cannot be made or is not a directory owned by this user without access
// for others.
std::string PlatformServiceDir();

// A listening socket (non-blocking, close-on-exec) for the service, and the
// lock that marks it live. A stale socket file left by a dead server is
// replaced. Returns the socket, or -1 with *error set.
int PlatformServiceListen(const char* name, int* lockFd, PlatformServiceError* error);
// Removes the socket and lock files and closes both descriptors.
void PlatformServiceUnlisten(const char* name, int listenFd, int lockFd);

// Accepts one waiting connection (non-blocking, close-on-exec) from a peer
// of the same user; -1 when none waits or the peer is another user.
int PlatformServiceAccept(int listenFd);

// A connected socket (blocking, close-on-exec) to the service; -1 when
// nobody serves it.
int PlatformServiceConnect(const char* name);
bool PlatformServiceIsLive(const char* name);
// The names of the live services, sorted.
std::vector<std::string> PlatformServiceList();

// The base name of the running executable without directory and extension.
std::string PlatformExecutableBaseName();

// Appends one frame to out.
void PlatformBusAppendFrame(std::vector<uint8_t>& out, uint32_t kind, const void* body, size_t size);

// One end of a bus connection read and written without blocking: bytes are
// gathered until whole frames are there; answers wait in an output queue
// until the socket takes them.
class PlatformBusPeer {
public:
    explicit PlatformBusPeer(int fd) : m_fd(fd) {}

    int Fd() const { return m_fd; }
    // Reads what the socket holds. False at the end of the stream, on a
    // socket error or on a frame larger than PLATFORM_BUS_MAX_BODY.
    bool Fill();
    // Takes the next whole frame; false when none is complete yet.
    bool NextFrame(uint32_t* kind, std::vector<uint8_t>* body);
    // Queues a frame and writes as much of the queue as the socket takes.
    bool Send(uint32_t kind, const void* body, size_t size);
    bool Flush();
    bool HasOutput() const { return m_outStart < m_out.size(); }

private:
    int m_fd;
    std::vector<uint8_t> m_in;
    size_t m_inStart = 0;
    std::vector<uint8_t> m_out;
    size_t m_outStart = 0;
};

// Writes all bytes to a blocking or non-blocking socket, waiting while it
// is full; false on an error or when no byte could be written for
// stallLimitMs.
bool PlatformBusWriteAll(int fd, const void* data, size_t size, int stallLimitMs);
// Writes one frame (header and body in one call where the socket takes
// it), waiting as PlatformBusWriteAll does.
bool PlatformBusWriteFrame(int fd, uint32_t kind, const void* body, size_t size, int stallLimitMs);
