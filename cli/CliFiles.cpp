#include "cli/CliFiles.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

bool CliReadFile(const std::string& path, CliFileBytes* out)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    struct stat st;
    const size_t known = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) ? size_t(st.st_size) : 0;
    size_t capacity = known + 65536;
    std::unique_ptr<char[]> data(new char[capacity]);
    size_t size = 0, n;
    while ((n = std::fread(data.get() + size, 1, capacity - 1 - size, f)) > 0) {
        size += n;
        if (size == capacity - 1) {
            std::unique_ptr<char[]> larger(new char[capacity * 2]);
            std::memcpy(larger.get(), data.get(), size);
            data = std::move(larger);
            capacity *= 2;
        }
    }
    const bool ok = !std::ferror(f);
    std::fclose(f);
    data[size] = '\0';
    out->data = std::move(data);
    out->size = size;
    return ok;
}

bool CliReadText(const std::string& path, std::string* text)
{
    CliFileBytes bytes;
    if (!CliReadFile(path, &bytes)) return false;
    text->assign(bytes.data.get(), bytes.size);
    return true;
}

bool CliReadable(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

bool CliWriteFile(const std::string& path, const void* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}
