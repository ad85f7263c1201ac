#pragma once
// Path functions of the kit. Paths are Shift_JIS text in which both '\' and
// '/' separate and a drive letter may appear; the separator these functions
// append is '\'. Separators are recognised only at character starts, so the
// trail byte 0x5C of a double-byte character never splits a name.

#include "kit/CvString.h"
#include "kit/CvkAllocator.h"
#include "platform/PlatformExport.h"

class LUMIVOR_EXPORT CvkFileName : public CvkAllocator {
public:
    CvkFileName();
    virtual ~CvkFileName();

    // Stores dir, appending '\' unless it already ends in a separator.
    void SetCurrentDir(const char* dir);
    CvString GetCurrentDir() const;

    // The text up to and including the last separator (searched from the
    // end down to the second character); the path itself when there is none.
    CvString GetDir(const char* path) const;
    // GetDir, drop a trailing separator, GetDir again.
    CvString GetParentDir(const char* path) const;
    // The text after the separator GetDir stops at.
    CvString GetPureFileName(const char* path) const;
    // The text after the last '.', empty when there is none.
    CvString GetExtension(const char* path) const;
    // Cuts after the last '.' (appending "." when there is none) and appends extension.
    CvString ReplaceExtension(const char* path, const char* extension) const;
    // 1 when the two texts are equal ignoring the case of ASCII letters.
    int IsSameExtension(const char* a, const char* b) const;

    // name resolved against base (the current directory when base is null).
    // UNC-like names ("\\x"), drive names ("C:...") and scheme names
    // ("http://...") come back unchanged; leading "..\", ".\" and a single
    // leading separator are consumed.
    CvString MakeFullName(const char* name) const;
    CvString MakeFullName(const char* name, const char* base) const;
    // name relative to base (the current directory when base is null); a
    // name on another root comes back unchanged.
    CvString MakeRelativeName(const char* name) const;
    CvString MakeRelativeName(const char* name, const char* base) const;

private:
    CvString m_currentDir;
};

// "%NAME%rest": the rest resolved against the value of the environment
// variable NAME (a separator appended to it). Text without a leading '%' and
// text naming an unset variable come back unchanged; a missing closing '%'
// gives an empty string. Variable values are taken as UTF-8 and turned into
// Shift_JIS.
LUMIVOR_EXPORT CvString CvkFileNameExtractEnvName(const char* text);
// The inverse: "%NAME%\relative" when the variable is set, else the path unchanged.
LUMIVOR_EXPORT CvString CvkFileNameMakeEnvName(const char* path, const char* variable);
