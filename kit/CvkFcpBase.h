#pragma once
// Base of the file protocols. A protocol object serves one CvkFile (its
// owner): every operation updates the owner's Busy, Error and Ready flags.
// The thread variants run the synchronous operation on a worker thread,
// serialised across processes by the named lock "CVK_FILE_ACCESS_MUTEX"
// when a host has created it (CvkFileCreateAccessMutex), unserialised
// otherwise; the caller polls the owner's flags.

#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class CvkFcpBase;

// Called with the user value after each successful read.
typedef void (*CvkFileReadEndCallback)(void* user);
// Protocol factory: creates the protocol object for one file.
typedef CvkFcpBase* (*CvkFileProtocolSetUp)(CvkBase* owner, const char* path, CvkFileReadEndCallback callback,
                                            void* user);
// Protocol check: nonzero when the protocol handles the path.
typedef int (*CvkFileProtocolCheck)(const char* path);

// Name of the lock that serialises the thread variants of file operations.
#define CVK_FILE_ACCESS_MUTEX "CVK_FILE_ACCESS_MUTEX"

// For hosts: create (1) and remove the access lock. The kit only opens it.
LUMIVOR_EXPORT int CvkFileCreateAccessMutex();
LUMIVOR_EXPORT void CvkFileCloseAccessMutex();

class LUMIVOR_EXPORT CvkFcpBase : public CvkBase {
public:
    CvkFcpBase(CvkBase* owner, const char* path, CvkFileReadEndCallback callback, void* user);
    // Waits for the worker thread, then frees the owned read buffer.
    ~CvkFcpBase() override;
    CvkFcpBase(const CvkFcpBase&) = delete;
    CvkFcpBase& operator=(const CvkFcpBase&) = delete;

    virtual void ServerExec() {}
    virtual int ReadFile(void* buffer, uint32_t offset, uint32_t size) = 0;
    virtual int WriteFile(const void* buffer, uint32_t size) = 0;
    virtual uint32_t GetSize() = 0;
    virtual int EraseFile() { return 0; }
    virtual int ThreadReadFile(void* buffer, uint32_t offset, uint32_t size);
    virtual int ThreadWriteFile(const void* buffer, uint32_t size);
    virtual int ThreadReadSize();
    virtual uint32_t ThreadGetSize() { return m_size; }
    virtual int MakeDirectory(const char* path);
    virtual int MakeAllDirectory(const char* path);
    virtual int EraseDirectory(const char* path);
    virtual int EraseAllDirectory(const char* path);

    // The owned read buffer (main heap), null when none.
    void* GetBuffer() const { return m_buffer; }
    const CvString& GetPath() const { return m_path; }
    void SetReadEndCallback(CvkFileReadEndCallback callback, void* user)
    {
        m_callback = callback;
        m_user = user;
    }

    // When text begins with prefix (length bytes), the position after it and
    // after any '/' or '\' that follow; otherwise text itself.
    static const char* MoveNextPrefixEnd(const char* text, const char* prefix, int32_t length);

protected:
    // Owner status helpers: an operation starts (Busy set, Ready cleared),
    // succeeds (Busy cleared, Ready set) or fails (Busy cleared, Error set).
    void _begin();
    int _succeed();
    int _fail();
    void _freeBuffer();
    void _readEnd();
    // Waits for a running worker. Derived destructors call it first, so the
    // worker never runs an operation of a half-destroyed object.
    void _joinThread();

    CvkBase* m_owner;
    CvString m_path;
    CvkFileReadEndCallback m_callback;
    void* m_user;
    void* m_buffer;
    uint32_t m_size;

private:
    enum ThreadJob { JOB_READ, JOB_WRITE, JOB_SIZE };
    int _startThread(int job);
    void _threadMain();

    void* m_thread; // std::thread*, kept opaque in this exported header
    struct ThreadArgs {
        CvkFcpBase* self;
        void* buffer;
        uint32_t offset;
        uint32_t size;
    } m_args;
    int m_job;
};
