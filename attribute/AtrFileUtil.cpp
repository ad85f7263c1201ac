#include "attribute/AtrFileUtil.h"

#include "kit/CvkFileNameSjis.h"

#include <cstring>

using cvkpath::CharWidth;

namespace {

const char* Safe(const char* text) { return text != nullptr ? text : ""; }

// The text with every '/' (at a character start) turned into '\'.
CvString ToBackslash(const char* text)
{
    CvString out(Safe(text));
    char* p = out.GetBuffer();
    const int32_t length = out.GetLength();
    for (int32_t i = 0; i < length; i += CharWidth(p, length, i)) {
        if (p[i] == '/') p[i] = '\\';
    }
    return out;
}

// Position of the last '\' at a character start, or -1.
int32_t LastBackslash(const CvString& text)
{
    const char* p = text.GetBuffer();
    const int32_t length = text.GetLength();
    int32_t found = -1;
    for (int32_t i = 0; i < length; i += CharWidth(p, length, i)) {
        if (p[i] == '\\') found = i;
    }
    return found;
}

bool HoldsColon(const CvString& text)
{
    const char* p = text.GetBuffer();
    const int32_t length = text.GetLength();
    for (int32_t i = 0; i < length; i += CharWidth(p, length, i)) {
        if (p[i] == ':') return true;
    }
    return false;
}

// The directory above `dir` (which ends with '\'); `dir` itself at a root.
CvString ParentOf(const CvString& dir)
{
    CvString trimmed = dir;
    if (LastBackslash(trimmed) == trimmed.GetLength() - 1) trimmed.RemoveRight(1);
    const int32_t cut = LastBackslash(trimmed);
    return cut >= 0 ? trimmed.Left(cut + 1) : dir;
}

// Length of a full name's root: empty for a name on this system's root
// ("\dir\..."), else the text up to the first '\' from the third character
// on ("C:", "\\server"), or the whole name.
int32_t RootLength(const CvString& text)
{
    const char* p = text.GetBuffer();
    const int32_t length = text.GetLength();
    if (p[0] == '\\' && p[1] != '\\') return 0;
    for (int32_t i = 0; i < length; i += CharWidth(p, length, i)) {
        if (i >= 2 && p[i] == '\\') return i;
    }
    return length;
}

// Equality of two byte ranges, ignoring the case of single-byte ASCII letters.
bool SameFolded(const char* a, int32_t aLength, const char* b, int32_t bLength)
{
    if (aLength != bLength) return false;
    for (int32_t i = 0; i < aLength;) {
        const int32_t w = CharWidth(a, aLength, i);
        if (w == 1) {
            if (cvkpath::FoldAscii(a[i]) != cvkpath::FoldAscii(b[i])) return false;
        } else if (a[i] != b[i] || a[i + 1] != b[i + 1]) {
            return false;
        }
        i += w;
    }
    return true;
}

// The component of `text` that starts at `at`: its end (the next '\' or the
// text's end).
int32_t ComponentEnd(const char* text, int32_t length, int32_t at)
{
    int32_t i = at;
    while (i < length && text[i] != '\\') i += CharWidth(text, length, i);
    return i;
}

} // namespace

AtrFileUtil::~AtrFileUtil() = default;

void AtrFileUtil::SetCurrentDir(const char* path)
{
    m_currentDir = ToBackslash(path);
    if (m_currentDir.GetLength() == 0 || LastBackslash(m_currentDir) != m_currentDir.GetLength() - 1) {
        m_currentDir += "\\";
    }
}

CvString AtrFileUtil::MakeFullName(const char* name) const { return MakeFullName(name, m_currentDir.GetBuffer()); }

CvString AtrFileUtil::MakeFullName(const char* name, const char* base) const
{
    const CvString converted = ToBackslash(name);
    if (converted[0] == '\\' || HoldsColon(converted)) return converted;
    CvString dir = ToBackslash(base != nullptr ? base : m_currentDir.GetBuffer());
    if (dir.GetLength() != 0 && LastBackslash(dir) != dir.GetLength() - 1) dir += "\\";
    const char* rest = converted.GetBuffer();
    for (;;) {
        if (rest[0] == '.' && rest[1] == '.' && rest[2] == '\\') {
            rest += 3;
            dir = ParentOf(dir);
        } else if (rest[0] == '.' && rest[1] == '\\') {
            rest += 2;
        } else if (rest[0] == '\\' && rest[1] != '\\') {
            rest += 1;
        } else {
            break;
        }
    }
    dir += rest;
    return dir;
}

CvString AtrFileUtil::GetDir(const char* name) const
{
    const CvString full = MakeFullName(name);
    const int32_t cut = LastBackslash(full);
    return cut >= 0 ? full.Left(cut + 1) : full;
}

CvString AtrFileUtil::GetParentDir(const char* name) const
{
    CvString dir = GetDir(name);
    if (dir.GetLength() != 0 && LastBackslash(dir) == dir.GetLength() - 1) dir.RemoveRight(1);
    const int32_t cut = LastBackslash(dir);
    return cut >= 0 ? dir.Left(cut + 1) : dir;
}

CvString AtrFileUtil::GetPureFileName(const char* name) const
{
    const CvString full = MakeFullName(name);
    const int32_t cut = LastBackslash(full);
    return cut >= 0 ? full.Right(full.GetLength() - cut - 1) : full;
}

CvString AtrFileUtil::MakeSubName(const char* name) const { return MakeSubName(name, m_currentDir.GetBuffer()); }

CvString AtrFileUtil::MakeSubName(const char* name, const char* base) const
{
    const CvString full = MakeFullName(name);
    const CvString dir = MakeFullName(base != nullptr ? base : m_currentDir.GetBuffer());
    const char* f = full.GetBuffer();
    const char* d = dir.GetBuffer();
    const int32_t fLength = full.GetLength();
    const int32_t dLength = dir.GetLength();
    const int32_t fRoot = RootLength(full);
    const int32_t dRoot = RootLength(dir);
    if (!SameFolded(f, fRoot, d, dRoot)) return full;

    // Drop the shared leading components.
    int32_t fAt = fRoot < fLength ? fRoot + 1 : fLength;
    int32_t dAt = dRoot < dLength ? dRoot + 1 : dLength;
    while (fAt < fLength && dAt < dLength) {
        const int32_t fEnd = ComponentEnd(f, fLength, fAt);
        const int32_t dEnd = ComponentEnd(d, dLength, dAt);
        if (!SameFolded(f + fAt, fEnd - fAt, d + dAt, dEnd - dAt)) break;
        fAt = fEnd < fLength ? fEnd + 1 : fLength;
        dAt = dEnd < dLength ? dEnd + 1 : dLength;
    }
    CvString result;
    while (dAt < dLength) {
        const int32_t dEnd = ComponentEnd(d, dLength, dAt);
        if (dEnd > dAt) result += "..\\";
        dAt = dEnd + 1;
    }
    result += f + fAt;
    return result;
}
