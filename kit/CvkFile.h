#pragma once
// A file of the kit: a facade on one path. Construction asks the current
// environment's file server for a protocol that handles the path and
// connects a protocol object; every operation is forwarded to it. Nothing
// is opened before an operation; each operation opens and closes the file.
// After a failure the Error flag is set and every later call returns 0.

#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "kit/CvkFcpBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class CvkFileServer;

// Process-wide: when set, called with the path (as the CvkFile was given it)
// of every successful ReadFile, so that a front end can list the files a job
// read (a dependency file for a build engine). Null switches it off.
using CvkFileReadObserver = void (*)(const char* path, void* context);
LUMIVOR_EXPORT void CvkFileSetReadObserver(CvkFileReadObserver observer, void* context);

class LUMIVOR_EXPORT CvkFile : public CvkBase {
public:
    explicit CvkFile(const char* path);
    // directory and name are concatenated as they are.
    CvkFile(const char* directory, const char* name);
    ~CvkFile() override;
    CvkFile(const CvkFile&) = delete;
    CvkFile& operator=(const CvkFile&) = delete;

    // size 0: the file from offset to its end. buffer null: into an owned
    // buffer (GetBuffer), freed by the next read or the destruction; it has
    // one zero byte after the data.
    int ReadFile(void* buffer, uint32_t offset, uint32_t size);
    // Creates or truncates the file and writes size bytes; 0 bytes fail.
    int WriteFile(const void* buffer, uint32_t size);
    // The file's size (the first nonzero answer is kept); 0 on failure.
    uint32_t GetSize();
    int EraseFile();
    int MakeDirectory(const char* path);
    int MakeAllDirectory(const char* path);
    int EraseDirectory(const char* path);
    int EraseAllDirectory(const char* path);
    // Start the operation on a worker thread and return 1 at once; poll
    // CheckBusy / CheckReady / CheckError.
    int ThreadReadFile(void* buffer, uint32_t offset, uint32_t size);
    int ThreadWriteFile(const void* buffer, uint32_t size);
    int ThreadReadSize();
    // The size found by the last completed read or size query.
    uint32_t ThreadGetSize();

    void* GetBuffer() const;
    const CvString& GetFileName() const { return m_path; }
    // The text after the last '.' of the path, or null.
    const char* GetExtension() const;
    void SetReadEndCallback(CvkFileReadEndCallback callback, void* user);

private:
    void _connect();

    CvkFileServer* m_server;
    CvkFcpBase* m_protocol;
    CvString m_path;
    CvkFileReadEndCallback m_callback;
    void* m_user;
    uint32_t m_size;
    uint32_t m_connectId;
};
