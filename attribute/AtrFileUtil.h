#pragma once
// AtrFileUtil: path arithmetic with a current directory of its own, for the
// "%NAME%"-relative paths of attribute files.
//
// Paths are Shift_JIS texts; every '/' is turned into '\' (the kit's file
// layer turns them back), and separators are only recognised at character
// starts, so the trail byte 0x5C of a double-byte character never splits a
// name. A name is absolute, and comes back as it is, when it begins with a
// separator (the root of this system), begins with "\\" or holds a ':' (a
// drive or a scheme).

#include "kit/CvString.h"
#include "kit/CvkAllocator.h"
#include "platform/PlatformExport.h"

class LUMIVOR_EXPORT AtrFileUtil : public CvkAllocator {
public:
    AtrFileUtil() = default;
    virtual ~AtrFileUtil();

    // Stores `path` with '\' separators and a trailing '\'.
    void SetCurrentDir(const char* path);
    const CvString& GetCurrentDir() const { return m_currentDir; }

    // `name` resolved against `base` (the current directory when not given):
    // leading "..\" (each one moves the base up one directory), ".\" and a
    // separator that follows them are consumed, and the rest is appended to
    // the base.
    CvString MakeFullName(const char* name) const;
    CvString MakeFullName(const char* name, const char* base) const;
    // MakeFullName(name) up to and including its last '\' (unchanged when
    // there is none).
    CvString GetDir(const char* name) const;
    // GetDir(name) without its trailing '\', cut after its last '\'.
    CvString GetParentDir(const char* name) const;
    // What follows the last '\' of MakeFullName(name).
    CvString GetPureFileName(const char* name) const;
    // `name` relative to the directory `base` (the current directory when not
    // given), both made full first: the shared leading directories (compared
    // ignoring the case of ASCII letters) are dropped and one "..\" is written
    // for every directory of the base left. Names on different roots (drives,
    // servers) give the full name.
    CvString MakeSubName(const char* name) const;
    CvString MakeSubName(const char* name, const char* base) const;

private:
    CvString m_currentDir;
};
