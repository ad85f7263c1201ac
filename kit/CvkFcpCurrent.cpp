// Large files on the i386 build as well: 64-bit file offsets for stdio.
#define _FILE_OFFSET_BITS 64

#include "kit/CvkFcpCurrent.h"

#include "kit/CvkFileNameSjis.h"
#include "kit/CvkHeap.h"
#include "platform/PlatformCodePage.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

struct FileCloser {
    std::FILE* f;
    ~FileCloser()
    {
        if (f != nullptr) {
            std::fclose(f);
        }
    }
};

// Length of an open file, -1 on failure.
int64_t FileLength(std::FILE* f)
{
    if (fseeko(f, 0, SEEK_END) != 0) {
        return -1;
    }
    const off_t end = ftello(f);
    return end < 0 ? -1 : static_cast<int64_t>(end);
}

} // namespace

CvkFcpCurrent::CvkFcpCurrent(CvkBase* owner, const char* path, CvkFileReadEndCallback callback, void* user)
    : CvkFcpBase(owner, path, callback, user)
{
}

CvkFcpCurrent::~CvkFcpCurrent() { _joinThread(); }

CvkFcpBase* CvkFcpCurrent::SetUp(CvkBase* owner, const char* path, CvkFileReadEndCallback callback, void* user)
{
    return new CvkFcpCurrent(owner, path, callback, user);
}

int CvkFcpCurrent::CheckEnableControl(const char*) { return 1; }

std::string CvkFcpCurrent::ToSystemPath(const char* path)
{
    if (path == nullptr) {
        return std::string();
    }
    const char* rest = MoveNextPrefixEnd(path, "file://", 7);
    std::string sjis;
    // "file:///abs/x": the slashes after the prefix are skipped, but on this
    // system they mark an absolute path.
    if (rest != path && rest > path + 7) {
        sjis += '/';
    }
    const int32_t length = static_cast<int32_t>(std::strlen(rest));
    for (int32_t i = 0; i < length;) {
        const int32_t w = cvkpath::CharWidth(rest, length, i);
        if (w == 1 && rest[i] == '\\') {
            sjis += '/';
        } else {
            sjis.append(rest + i, static_cast<size_t>(w));
        }
        i += w;
    }
    return PlatformCp932ToUtf8(sjis);
}

int CvkFcpCurrent::ReadFile(void* buffer, uint32_t offset, uint32_t size)
{
    _begin();
    _freeBuffer();
    const std::string path = ToSystemPath(m_path.GetBuffer());
    FileCloser file{std::fopen(path.c_str(), "rb")};
    if (file.f == nullptr) {
        return _fail();
    }
    if (size == 0) {
        // Everything from the offset to the end.
        const int64_t length = FileLength(file.f);
        if (length <= 0 || static_cast<int64_t>(offset) >= length || length - offset > UINT32_MAX) {
            return _fail();
        }
        size = static_cast<uint32_t>(length - offset);
    }
    if (fseeko(file.f, static_cast<off_t>(offset), SEEK_SET) != 0) {
        return _fail();
    }
    void* target = buffer;
    if (target == nullptr) {
        if (size == UINT32_MAX) {
            return _fail();
        }
        // One zero byte after the data, so that a text can be read in place.
        m_buffer = t_cvkMainHeapAlloc(size + 1, 0, __FILE__, __LINE__);
        if (m_buffer == nullptr) {
            return _fail();
        }
        static_cast<uint8_t*>(m_buffer)[size] = 0;
        target = m_buffer;
    }
    if (std::fread(target, 1, size, file.f) != size) {
        _freeBuffer();
        return _fail();
    }
    m_size = size;
    _succeed();
    _readEnd();
    return 1;
}

int CvkFcpCurrent::WriteFile(const void* buffer, uint32_t size)
{
    _begin();
    const std::string path = ToSystemPath(m_path.GetBuffer());
    FileCloser file{std::fopen(path.c_str(), "wb")};
    if (file.f == nullptr) {
        return _fail();
    }
    // A write of no bytes leaves the empty file and counts as a failure.
    if (size == 0 || buffer == nullptr || std::fwrite(buffer, size, 1, file.f) != 1) {
        return _fail();
    }
    const int closed = std::fclose(file.f);
    file.f = nullptr;
    if (closed != 0) {
        return _fail();
    }
    return _succeed();
}

uint32_t CvkFcpCurrent::GetSize()
{
    _begin();
    const std::string path = ToSystemPath(m_path.GetBuffer());
    FileCloser file{std::fopen(path.c_str(), "rb")};
    if (file.f == nullptr) {
        _fail();
        return 0;
    }
    const int64_t length = FileLength(file.f);
    if (length < 0 || length > UINT32_MAX) {
        _fail();
        return 0;
    }
    if (length > 0) {
        m_size = static_cast<uint32_t>(length);
    }
    _succeed();
    return static_cast<uint32_t>(length);
}

int CvkFcpCurrent::EraseFile()
{
    const std::string path = ToSystemPath(m_path.GetBuffer());
    return unlink(path.c_str()) == 0 ? 1 : 0;
}

int CvkFcpCurrent::MakeDirectory(const char* path)
{
    const std::string dir = ToSystemPath(path);
    return (!dir.empty() && mkdir(dir.c_str(), 0777) == 0) ? 1 : 0;
}

int CvkFcpCurrent::MakeAllDirectory(const char* path)
{
    const std::string dir = ToSystemPath(path);
    if (dir.empty()) {
        return 0;
    }
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    return (!error && std::filesystem::is_directory(dir, error)) ? 1 : 0;
}

int CvkFcpCurrent::EraseDirectory(const char* path)
{
    const std::string dir = ToSystemPath(path);
    return (!dir.empty() && rmdir(dir.c_str()) == 0) ? 1 : 0;
}

int CvkFcpCurrent::EraseAllDirectory(const char* path)
{
    std::string dir = ToSystemPath(path);
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    // Never the whole file system, never an empty path.
    if (dir.empty() || dir.find_first_not_of('/') == std::string::npos) {
        return 0;
    }
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(dir, error))) {
        return 0;
    }
    std::filesystem::remove_all(dir, error);
    return error ? 0 : 1;
}
