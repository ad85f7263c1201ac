#pragma once
// Local files. Paths are Shift_JIS with '\' or '/' separators and an
// optional "file://" prefix; before the operating system sees a path, its
// separators become '/' and its text UTF-8. "file:///abs" names the absolute
// path "/abs".

#include "kit/CvkFcpBase.h"

#include <string>

class LUMIVOR_EXPORT CvkFcpCurrent : public CvkFcpBase {
public:
    CvkFcpCurrent(CvkBase* owner, const char* path, CvkFileReadEndCallback callback, void* user);
    ~CvkFcpCurrent() override;

    int ReadFile(void* buffer, uint32_t offset, uint32_t size) override;
    int WriteFile(const void* buffer, uint32_t size) override;
    uint32_t GetSize() override;
    int EraseFile() override;
    int MakeDirectory(const char* path) override;
    int MakeAllDirectory(const char* path) override;
    int EraseDirectory(const char* path) override;
    int EraseAllDirectory(const char* path) override;

    static CvkFcpBase* SetUp(CvkBase* owner, const char* path, CvkFileReadEndCallback callback, void* user);
    static int CheckEnableControl(const char* path);

    // The operating-system form (UTF-8, '/' separators) of a kit path.
    static std::string ToSystemPath(const char* path);
};
