#include "platform/PlatformLocalBus.h"
#include "platform/PlatformBytes.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool MakePrivateDir(const std::string& dir)
{
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    // lstat: a symbolic link planted by someone else is not followed.
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    return st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

bool ValidName(const char* name)
{
    if (name == nullptr || name[0] == 0 || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        return false;
    }
    return std::strchr(name, '/') == nullptr;
}

// The socket's path, or false when the name is unusable or the path too long.
bool SocketAddress(const char* name, sockaddr_un* address, std::string* path)
{
    if (!ValidName(name)) {
        return false;
    }
    const std::string dir = PlatformServiceDir();
    if (dir.empty()) {
        return false;
    }
    *path = dir + "/" + name;
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    if (path->size() >= sizeof(address->sun_path)) {
        return false;
    }
    std::memcpy(address->sun_path, path->c_str(), path->size() + 1);
    return true;
}

int NewSocket()
{
    return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

// Opens and locks the lock file. A server removes its lock file when it
// ends, so a lock won on a file that has been removed (or replaced) since it
// was opened proves nothing: then the lock is taken again on the file that
// is there now.
int LockName(const std::string& lockPath, PlatformServiceError* error)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (lock < 0) {
            *error = PLATFORM_SERVICE_SYSTEM;
            return -1;
        }
        if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
            *error = errno == EWOULDBLOCK ? PLATFORM_SERVICE_TAKEN : PLATFORM_SERVICE_SYSTEM;
            close(lock);
            return -1;
        }
        struct stat held;
        struct stat named;
        if (fstat(lock, &held) == 0 && stat(lockPath.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            return lock;
        }
        close(lock);
    }
    *error = PLATFORM_SERVICE_SYSTEM;
    return -1;
}

} // namespace

std::string PlatformServiceDir()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir;
    if (runtime != nullptr && runtime[0] == '/') {
        dir = std::string(runtime) + "/lumivor-services";
    } else {
        dir = "/tmp/lumivor-services-" + std::to_string(getuid());
    }
    return MakePrivateDir(dir) ? dir : std::string();
}

int PlatformServiceListen(const char* name, int* lockFd, PlatformServiceError* error)
{
    *lockFd = -1;
    sockaddr_un address;
    std::string path;
    if (!ValidName(name)) {
        *error = PLATFORM_SERVICE_BAD_NAME;
        return -1;
    }
    if (!SocketAddress(name, &address, &path)) {
        *error = PlatformServiceDir().empty() ? PLATFORM_SERVICE_NO_DIR : PLATFORM_SERVICE_BAD_NAME;
        return -1;
    }
    const int lock = LockName(path + ".lock", error);
    if (lock < 0) {
        return -1;
    }
    // Holding the lock, whatever socket file is there belongs to a dead server.
    unlink(path.c_str());
    const int fd = NewSocket();
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 64) != 0 ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        close(lock);
        *error = PLATFORM_SERVICE_SYSTEM;
        return -1;
    }
    *lockFd = lock;
    *error = PLATFORM_SERVICE_OK;
    return fd;
}

void PlatformServiceUnlisten(const char* name, int listenFd, int lockFd)
{
    sockaddr_un address;
    std::string path;
    // The socket and lock files go while the lock is still held, so no
    // successor's fresh files can be removed by mistake.
    if (lockFd >= 0 && SocketAddress(name, &address, &path)) {
        unlink(path.c_str());
        unlink((path + ".lock").c_str());
    }
    if (listenFd >= 0) {
        close(listenFd);
    }
    if (lockFd >= 0) {
        close(lockFd);
    }
}

int PlatformServiceAccept(int listenFd)
{
    const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    ucred peer;
    socklen_t size = sizeof(peer);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != getuid()) {
        close(fd);
        return -1;
    }
    return fd;
}

int PlatformServiceConnect(const char* name)
{
    sockaddr_un address;
    std::string path;
    if (!SocketAddress(name, &address, &path)) {
        return -1;
    }
    const int fd = NewSocket();
    if (fd < 0) {
        return -1;
    }
    int rc;
    do {
        rc = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool PlatformServiceIsLive(const char* name)
{
    // A connection that is accepted (or queued) proves a listener; a stale
    // socket file refuses it. The server sees a peer that leaves at once.
    const int fd = PlatformServiceConnect(name);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

std::vector<std::string> PlatformServiceList()
{
    std::vector<std::string> names;
    const std::string dir = PlatformServiceDir();
    DIR* d = dir.empty() ? nullptr : opendir(dir.c_str());
    if (d == nullptr) {
        return names;
    }
    // readdir64: the 32-bit readdir fails on file systems with 64-bit inode numbers.
    while (dirent64* entry = readdir64(d)) {
        const std::string name = entry->d_name;
        const bool isLock = name.size() > 5 && name.compare(name.size() - 5, 5, ".lock") == 0;
        if (isLock || name == "." || name == "..") {
            continue;
        }
        if (PlatformServiceIsLive(name.c_str())) {
            names.push_back(name);
        }
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string PlatformExecutableBaseName()
{
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) {
        return std::string();
    }
    std::string name(buffer, static_cast<size_t>(n));
    name = name.substr(name.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        name.resize(dot);
    }
    return name;
}

void PlatformBusAppendFrame(std::vector<uint8_t>& out, uint32_t kind, const void* body, size_t size)
{
    uint8_t header[PLATFORM_BUS_HEADER_SIZE];
    PlatformPutLe32(header, kind);
    PlatformPutLe32(header + 4, static_cast<uint32_t>(size));
    out.insert(out.end(), header, header + sizeof(header));
    const auto* bytes = static_cast<const uint8_t*>(body);
    out.insert(out.end(), bytes, bytes + size);
}

bool PlatformBusPeer::Fill()
{
    // Consumed bytes are dropped before the buffer grows again.
    if (m_inStart > 0) {
        m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(m_inStart));
        m_inStart = 0;
    }
    for (;;) {
        if (m_in.size() >= PLATFORM_BUS_HEADER_SIZE && PlatformGetLe32(m_in.data() + 4) > PLATFORM_BUS_MAX_BODY) {
            return false;
        }
        uint8_t chunk[65536];
        const ssize_t n = recv(m_fd, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (n > 0) {
            m_in.insert(m_in.end(), chunk, chunk + n);
            continue;
        }
        if (n == 0) {
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

bool PlatformBusPeer::NextFrame(uint32_t* kind, std::vector<uint8_t>* body)
{
    const size_t available = m_in.size() - m_inStart;
    if (available < PLATFORM_BUS_HEADER_SIZE) {
        return false;
    }
    const uint8_t* header = m_in.data() + m_inStart;
    const uint32_t size = PlatformGetLe32(header + 4);
    if (size > PLATFORM_BUS_MAX_BODY || available - PLATFORM_BUS_HEADER_SIZE < size) {
        return false;
    }
    *kind = PlatformGetLe32(header);
    body->assign(header + PLATFORM_BUS_HEADER_SIZE, header + PLATFORM_BUS_HEADER_SIZE + size);
    m_inStart += PLATFORM_BUS_HEADER_SIZE + size;
    return true;
}

bool PlatformBusPeer::Send(uint32_t kind, const void* body, size_t size)
{
    PlatformBusAppendFrame(m_out, kind, body, size);
    return Flush();
}

bool PlatformBusPeer::Flush()
{
    while (m_outStart < m_out.size()) {
        const ssize_t n = send(m_fd, m_out.data() + m_outStart, m_out.size() - m_outStart, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            m_outStart += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    m_out.clear();
    m_outStart = 0;
    return true;
}

bool PlatformBusWriteAll(int fd, const void* data, size_t size, int stallLimitMs)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            bytes += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        int rc;
        do {
            rc = poll(&p, 1, stallLimitMs);
        } while (rc < 0 && errno == EINTR);
        if (rc <= 0 || (p.revents & (POLLERR | POLLHUP)) != 0) {
            return false;
        }
    }
    return true;
}

bool PlatformBusWriteFrame(int fd, uint32_t kind, const void* body, size_t size, int stallLimitMs)
{
    uint8_t header[PLATFORM_BUS_HEADER_SIZE];
    PlatformPutLe32(header, kind);
    PlatformPutLe32(header + 4, static_cast<uint32_t>(size));
    iovec parts[2] = {{header, sizeof(header)}, {const_cast<void*>(body), size}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = size > 0 ? 2 : 1;
    const ssize_t n = sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        return false;
    }
    // What the socket did not take at once goes out piece by piece.
    size_t sent = n > 0 ? static_cast<size_t>(n) : 0;
    if (sent < sizeof(header) &&
        !PlatformBusWriteAll(fd, header + sent, sizeof(header) - sent, stallLimitMs)) {
        return false;
    }
    sent = sent > sizeof(header) ? sent - sizeof(header) : 0;
    return PlatformBusWriteAll(fd, static_cast<const uint8_t*>(body) + sent, size - sent, stallLimitMs);
}
