#include "platform/PlatformSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

thread_local int32_t t_lastError = 0;

// errno values and the table's numbers for the same failure.
struct ErrnoRow {
    int error;
    int32_t code;
};
const ErrnoRow kErrnoTable[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},          {EPERM, 10013},
    {EFAULT, 10014},       {EINVAL, 10022},          {EMFILE, 10024},          {ENFILE, 10024},
    {EWOULDBLOCK, 10035},  {EINPROGRESS, 10036},     {EALREADY, 10037},        {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},
    {ENETUNREACH, 10051},  {ENETRESET, 10052},       {ECONNABORTED, 10053},    {ECONNRESET, 10054},
    {EPIPE, 10054},        {ENOBUFS, 10055},         {ENOMEM, 10055},          {EISCONN, 10056},
    {ENOTCONN, 10057},     {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061}, {ELOOP, 10062},           {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},       {EUSERS, 10068},          {EDQUOT, 10069},
    {ESTALE, 10070},       {EREMOTE, 10071},
};

int32_t Fail(int error)
{
    t_lastError = PlatformSocketMapErrno(error);
    return -1;
}

// Letters, digits, '-' and '.', labels of 1 to 63 characters, at most 253 in
// all: anything else is no host name and is never handed to a resolver.
bool IsHostNameSyntax(const char* host)
{
    const size_t length = std::strlen(host);
    if (length == 0 || length > 253) {
        return false;
    }
    size_t label = 0;
    for (const char* p = host; *p != '\0'; ++p) {
        const char c = *p;
        if (c == '.') {
            if (label == 0) {
                return false;
            }
            label = 0;
            continue;
        }
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!ok || ++label > 63) {
            return false;
        }
    }
    return true;
}

} // namespace

int32_t PlatformSocketMapErrno(int error)
{
    if (error == 0) {
        return 0;
    }
    for (const ErrnoRow& row : kErrnoTable) {
        if (row.error == error) {
            return row.code;
        }
    }
    return 10000 + error; // outside the table: reported as an unknown number
}

int32_t PlatformSocketLastError()
{
    return t_lastError;
}

PlatformSocket PlatformSocketCreateTcp()
{
    const PlatformSocket s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) {
        Fail(errno);
        return PLATFORM_SOCKET_INVALID;
    }
    return s;
}

bool PlatformSocketSetNonBlocking(PlatformSocket s)
{
    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) {
        return Fail(errno) == 0;
    }
    return true;
}

bool PlatformSocketClose(PlatformSocket s)
{
    if (::close(s) != 0) {
        return Fail(errno) == 0;
    }
    return true;
}

bool PlatformSocketShutdown(PlatformSocket s)
{
    if (::shutdown(s, SHUT_RDWR) != 0) {
        return Fail(errno) == 0;
    }
    return true;
}

bool PlatformSocketResolve(const char* host, uint32_t* address)
{
    in_addr dotted{};
    if (host != nullptr && ::inet_pton(AF_INET, host, &dotted) == 1) {
        *address = dotted.s_addr;
        return true;
    }
    if (host == nullptr || !IsHostNameSyntax(host)) {
        t_lastError = PLATFORM_SOCKET_ERROR_HOST_NOT_FOUND;
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(host, nullptr, &hints, &found);
    if (result != 0 || found == nullptr) {
        t_lastError = result == EAI_AGAIN ? 11002 : PLATFORM_SOCKET_ERROR_HOST_NOT_FOUND;
        return false;
    }
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return true;
}

bool PlatformSocketConnect(PlatformSocket s, uint32_t address, uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
        return Fail(errno) == 0;
    }
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

int32_t PlatformSocketPendingError(PlatformSocket s)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        error = errno;
    }
    return PlatformSocketMapErrno(error);
}

bool PlatformSocketBindAny(PlatformSocket s, uint16_t port)
{
    const int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        return Fail(errno) == 0;
    }
    return true;
}

bool PlatformSocketListen(PlatformSocket s, int backlog)
{
    if (::listen(s, backlog) != 0) {
        return Fail(errno) == 0;
    }
    return true;
}

PlatformSocket PlatformSocketAccept(PlatformSocket s)
{
    const PlatformSocket peer = ::accept4(s, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (peer < 0) {
        Fail(errno);
        return PLATFORM_SOCKET_INVALID;
    }
    const int one = 1;
    ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return peer;
}

uint16_t PlatformSocketLocalPort(PlatformSocket s)
{
    sockaddr_in at{};
    socklen_t length = sizeof at;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
        return 0;
    }
    return ntohs(at.sin_port);
}

int32_t PlatformSocketSend(PlatformSocket s, const void* data, uint32_t size)
{
    const ssize_t sent = ::send(s, data, size, MSG_NOSIGNAL);
    if (sent < 0) {
        return Fail(errno);
    }
    return static_cast<int32_t>(sent);
}

int32_t PlatformSocketRecv(PlatformSocket s, void* data, uint32_t size)
{
    const ssize_t got = ::recv(s, data, size, 0);
    if (got < 0) {
        return Fail(errno);
    }
    if (got == 0) {
        t_lastError = PLATFORM_SOCKET_ERROR_DISCONNECTED;
    }
    return static_cast<int32_t>(got);
}

namespace {

bool Ready(PlatformSocket s, short events)
{
    pollfd one{s, events, 0};
    const int n = ::poll(&one, 1, 0);
    if (n < 0) {
        Fail(errno);
        return false;
    }
    return n > 0 && (one.revents & (events | POLLERR | POLLHUP)) != 0;
}

} // namespace

bool PlatformSocketReadable(PlatformSocket s)
{
    return s != PLATFORM_SOCKET_INVALID && Ready(s, POLLIN);
}

bool PlatformSocketWritable(PlatformSocket s)
{
    return s != PLATFORM_SOCKET_INVALID && Ready(s, POLLOUT);
}

bool PlatformSocketWait(const PlatformSocket* sockets, const bool* wantWrite, int count, int timeoutMs)
{
    pollfd fds[8];
    int n = 0;
    for (int i = 0; i < count && n < 8; ++i) {
        if (sockets[i] != PLATFORM_SOCKET_INVALID) {
            fds[n++] = pollfd{sockets[i], static_cast<short>(wantWrite[i] ? POLLOUT : POLLIN), 0};
        }
    }
    if (n == 0) {
        if (timeoutMs > 0) {
            ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        }
        return false;
    }
    return ::poll(fds, static_cast<nfds_t>(n), timeoutMs) > 0;
}
