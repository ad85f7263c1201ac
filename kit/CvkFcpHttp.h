#pragma once
// Files on HTTP servers ("http://host[:port]/path", port 80 when none is
// given), user agent "Tessolin". GetSize asks by HEAD (a GET when the server
// gives no length) and gives up after 3,000 ms; ReadFile is a GET that
// bypasses caches (a range request when only part of the file is wanted);
// WriteFile is a PUT. A connection that stalls for 3 s fails the operation.
// Builds without libcurl have no HTTP: SetUp yields null.

#include "kit/CvkFcpBase.h"

class LUMIVOR_EXPORT CvkFcpHttp : public CvkFcpBase {
public:
    CvkFcpHttp(CvkBase* owner, const char* path, CvkFileReadEndCallback callback, void* user);
    ~CvkFcpHttp() override;

    int ReadFile(void* buffer, uint32_t offset, uint32_t size) override;
    int WriteFile(const void* buffer, uint32_t size) override;
    uint32_t GetSize() override;

    static CvkFcpBase* SetUp(CvkBase* owner, const char* path, CvkFileReadEndCallback callback, void* user);
    static int CheckEnableControl(const char* path);
    // Whether this build has the HTTP protocol.
    static int IsAvailable();

    // Milliseconds a size query may take, and a transfer may stall.
    static constexpr long TIME_LIMIT_MS = 3000;
};
