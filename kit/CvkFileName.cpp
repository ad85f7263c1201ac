#include "kit/CvkFileName.h"

#include "kit/CvkFileNameSjis.h"
#include "platform/PlatformCodePage.h"

#include <cstdlib>
#include <cstring>

using namespace cvkpath;

namespace {

int32_t Length(const char* text) { return text != nullptr ? static_cast<int32_t>(std::strlen(text)) : 0; }

const char* Safe(const char* text) { return text != nullptr ? text : ""; }

bool EndsInSeparator(const char* text)
{
    const int32_t length = Length(text);
    return length > 0 && LastSeparator(text, length, length - 1) == length - 1;
}

// Root of a path: the text before the first separator at index >= 2 (the
// whole text when there is none).
int32_t RootLength(const char* text, int32_t length)
{
    const int32_t p = NextSeparator(text, length, 2);
    return p >= 0 ? p : length;
}

// Case-insensitive comparison of the first n bytes, '/' taken as '\'.
bool SamePrefix(const char* a, const char* b, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        char x = FoldAscii(a[i]);
        char y = FoldAscii(b[i]);
        if (x == '/') {
            x = '\\';
        }
        if (y == '/') {
            y = '\\';
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

// The value of an environment variable as Shift_JIS, or false when unset.
bool GetEnvSjis(const char* name, CvString& value)
{
    const char* raw = std::getenv(name);
    if (raw == nullptr) {
        return false;
    }
    const std::string sjis = PlatformUtf8ToCp932(raw);
    value.Assign(sjis.c_str(), static_cast<int32_t>(sjis.size()));
    if (sjis.empty()) {
        value.Erase();
    }
    return true;
}

} // namespace

CvkFileName::CvkFileName() = default;
CvkFileName::~CvkFileName() = default;

void CvkFileName::SetCurrentDir(const char* dir)
{
    m_currentDir = Safe(dir);
    if (!EndsInSeparator(m_currentDir.GetBuffer())) {
        m_currentDir += "\\";
    }
}

CvString CvkFileName::GetCurrentDir() const { return m_currentDir; }

CvString CvkFileName::GetDir(const char* path) const
{
    path = Safe(path);
    const int32_t length = Length(path);
    const int32_t p = LastSeparator(path, length, 1);
    if (p < 0) {
        return CvString(path);
    }
    return CvString(path, path + p + 1);
}

CvString CvkFileName::GetParentDir(const char* path) const
{
    CvString dir = GetDir(path);
    if (EndsInSeparator(dir.GetBuffer())) {
        dir.RemoveRight(1);
    }
    return GetDir(dir.GetBuffer());
}

CvString CvkFileName::GetPureFileName(const char* path) const
{
    path = Safe(path);
    const int32_t length = Length(path);
    const int32_t p = LastSeparator(path, length, 1);
    return CvString(path + (p >= 0 ? p + 1 : 0));
}

CvString CvkFileName::GetExtension(const char* path) const
{
    path = Safe(path);
    const int32_t p = LastDot(path, Length(path), 0);
    return p >= 0 ? CvString(path + p + 1) : CvString();
}

CvString CvkFileName::ReplaceExtension(const char* path, const char* extension) const
{
    path = Safe(path);
    const int32_t p = LastDot(path, Length(path), 0);
    CvString result;
    if (p >= 0) {
        result.Assign(path, path + p + 1);
    } else {
        result = path;
        result += ".";
    }
    result += Safe(extension);
    return result;
}

int CvkFileName::IsSameExtension(const char* a, const char* b) const
{
    a = Safe(a);
    b = Safe(b);
    const int32_t n = Length(a);
    if (n != Length(b)) {
        return 0;
    }
    for (int32_t i = 0; i < n; ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return 0;
        }
    }
    return 1;
}

CvString CvkFileName::MakeFullName(const char* name) const { return MakeFullName(name, nullptr); }

CvString CvkFileName::MakeFullName(const char* name, const char* base) const
{
    name = Safe(name);
    const int32_t length = Length(name);
    if (length >= 2) {
        if (IsSeparator(name[0]) && IsSeparator(name[1])) {
            return CvString(name);
        }
        if (name[1] == ':') {
            return CvString(name);
        }
        // A scheme prefix: a ':' after index 1 with no separator before it.
        for (int32_t i = 0; i < length; i += CharWidth(name, length, i)) {
            if (IsSeparator(name[i])) {
                break;
            }
            if (name[i] == ':' && i > 1) {
                return CvString(name);
            }
        }
    }
    CvString dir = base != nullptr ? CvString(base) : m_currentDir;
    const char* rest = name;
    for (;;) {
        if (rest[0] == '.' && rest[1] == '.' && IsSeparator(rest[2])) {
            rest += 3;
            dir = GetParentDir(dir.GetBuffer());
        } else if (rest[0] == '.' && IsSeparator(rest[1])) {
            rest += 2;
        } else if (IsSeparator(rest[0]) && !IsSeparator(rest[1])) {
            rest += 1;
        } else {
            break;
        }
    }
    dir += rest;
    return dir;
}

CvString CvkFileName::MakeRelativeName(const char* name) const
{
    return MakeRelativeName(name, m_currentDir.GetBuffer());
}

CvString CvkFileName::MakeRelativeName(const char* name, const char* base) const
{
    if (base == nullptr) {
        base = m_currentDir.GetBuffer();
    }
    const CvString fullName = MakeFullName(name);
    const char* f = fullName.GetBuffer();
    const int32_t fLength = fullName.GetLength();
    const int32_t bLength = Length(base);

    const int32_t fRoot = RootLength(f, fLength);
    const int32_t bRoot = RootLength(base, bLength);
    if (fRoot != bRoot || !SamePrefix(f, base, fRoot)) {
        return CvString(Safe(name));
    }

    // Walk both paths separator by separator while their prefixes agree.
    int32_t sharedF = -1;
    int32_t fPos = 0;
    int32_t bPos = 0;
    int32_t bStop = -1; // base separator reached at the stop (-1: add no "..")
    for (;;) {
        const int32_t nf = NextSeparator(f, fLength, fPos);
        const int32_t nb = NextSeparator(base, bLength, bPos);
        if (nf < 0) {
            bStop = nb;
            break;
        }
        if (nb < 0) {
            bStop = -1;
            break;
        }
        if (nf != nb || !SamePrefix(f, base, nf + 1)) {
            bStop = nb;
            break;
        }
        sharedF = nf;
        fPos = nf + 1;
        bPos = nb + 1;
    }

    CvString result;
    for (int32_t s = bStop; s >= 0; s = NextSeparator(base, bLength, s + 1)) {
        result += "..";
        result.Append(1, base[s]);
    }
    result += f + sharedF + 1;
    return result;
}

CvString CvkFileNameExtractEnvName(const char* text)
{
    text = Safe(text);
    if (text[0] != '%') {
        return CvString(text);
    }
    const int32_t length = Length(text);
    int32_t close = -1;
    for (int32_t i = 1; i < length; i += CharWidth(text, length, i)) {
        if (text[i] == '%') {
            close = i;
            break;
        }
    }
    if (close < 0) {
        return CvString();
    }
    const CvString name(text + 1, text + close);
    CvString value;
    if (!GetEnvSjis(name.GetBuffer(), value)) {
        return CvString(text);
    }
    if (!EndsInSeparator(value.GetBuffer())) {
        value += "\\";
    }
    CvkFileName names;
    return names.MakeFullName(text + close + 1, value.GetBuffer());
}

CvString CvkFileNameMakeEnvName(const char* path, const char* variable)
{
    CvString value;
    if (variable == nullptr || variable[0] == 0 || !GetEnvSjis(variable, value)) {
        return CvString(Safe(path));
    }
    if (!EndsInSeparator(value.GetBuffer())) {
        value += "\\";
    }
    CvkFileName names;
    const CvString relative = names.MakeRelativeName(path, value.GetBuffer());
    CvString result;
    result.Format("%%%s%%%s%s", variable, "\\", relative.GetBuffer());
    return result;
}
