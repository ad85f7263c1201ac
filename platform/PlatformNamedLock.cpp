#include "platform/PlatformNamedLock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/file.h>
#include <unistd.h>

struct PlatformNamedLock {
    int fd;
};

namespace {

std::string LockPath(const char* name)
{
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (dir == nullptr || dir[0] == 0 || access(dir, W_OK) != 0) {
        dir = "/tmp";
    }
    std::string path = dir;
    path += "/lumivor-";
    for (const char* p = name != nullptr ? name : ""; *p != 0; ++p) {
        path += (*p == '/') ? '_' : *p;
    }
    path += ".lock";
    return path;
}

PlatformNamedLock* OpenWith(const char* name, int flags)
{
    const int fd = open(LockPath(name).c_str(), flags | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    auto* lock = new (std::nothrow) PlatformNamedLock{fd};
    if (lock == nullptr) {
        close(fd);
    }
    return lock;
}

} // namespace

PlatformNamedLock* PlatformNamedLockCreate(const char* name) { return OpenWith(name, O_CREAT); }

PlatformNamedLock* PlatformNamedLockOpen(const char* name) { return OpenWith(name, 0); }

bool PlatformNamedLockLock(PlatformNamedLock* lock)
{
    if (lock == nullptr) {
        return false;
    }
    int rc;
    do {
        rc = flock(lock->fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void PlatformNamedLockUnlock(PlatformNamedLock* lock)
{
    if (lock != nullptr) {
        flock(lock->fd, LOCK_UN);
    }
}

void PlatformNamedLockClose(PlatformNamedLock* lock)
{
    if (lock != nullptr) {
        close(lock->fd);
        delete lock;
    }
}

void PlatformNamedLockRemove(const char* name) { unlink(LockPath(name).c_str()); }
