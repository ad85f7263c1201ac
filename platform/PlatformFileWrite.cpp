#include "platform/PlatformFileWrite.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Fail(std::string* error, const std::string& what)
{
    if (error != nullptr) {
        *error = what + ": " + std::strerror(errno);
    }
    return false;
}

bool WriteAll(int fd, const unsigned char* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool PlatformCreateDirectories(const char* path)
{
    std::string partial;
    const std::string full = path;
    for (size_t i = 0; i <= full.size(); ++i) {
        if (i == full.size() || full[i] == '/') {
            if (!partial.empty() && ::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
                return false;
            }
        }
        if (i < full.size()) partial += full[i];
    }
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool PlatformWriteFileReplacing(const char* path, const void* data, size_t size, std::string* error)
{
    const std::string target = path;
    const size_t slash = target.rfind('/');
    if (slash != std::string::npos && slash > 0 && !PlatformCreateDirectories(target.substr(0, slash).c_str())) {
        return Fail(error, "cannot create the folder of " + target);
    }
    std::string temp = target + ".partXXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return Fail(error, "cannot create " + temp);
    }
    const bool written = WriteAll(fd, static_cast<const unsigned char*>(data), size);
    const int savedErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        errno = written ? errno : savedErrno;
        ::unlink(temp.c_str());
        return Fail(error, "cannot write " + temp);
    }
    ::chmod(temp.c_str(), 0644);
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int renameErrno = errno;
        ::unlink(temp.c_str());
        errno = renameErrno;
        return Fail(error, "cannot replace " + target);
    }
    return true;
}
