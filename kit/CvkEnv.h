#pragma once
// The kit's environment: the file server, the attached tool link and the
// per-frame hooks. One environment is current process-wide; kit start-up
// creates it and shut-down destroys it.

#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class CvkFileServer;
class CvkVeldra;

// Receives a reported error: its code and message text.
typedef void* (*CvkEnvErrCallback)(int32_t code, const CvString& message);

class LUMIVOR_EXPORT CvkEnv : public CvkBase {
public:
    CvkEnv();
    // Destroys the file server; the tool link belongs to whoever attached it.
    ~CvkEnv() override;
    CvkEnv(const CvkEnv&) = delete;
    CvkEnv& operator=(const CvkEnv&) = delete;

    CvkFileServer* GetFileServer() { return m_fileServer; }
    CvkVeldra* GetVeldra() { return m_veldra; }
    void SetVeldra(CvkVeldra* veldra) { m_veldra = veldra; }

    // Per-frame hooks: the attached link's hook of the same name; ServerExec
    // then runs the file server's completion work.
    void ServerPre();
    void ServerExec();
    void ServerDraw();
    void ServerPost();

    void SetErrCallback(CvkEnvErrCallback callback) { m_errCallback = callback; }
    // Reports the call of a pack entry number that does not exist (codes 1,
    // 2, 3); text1..text4 fill "{Param1}".."{Param4}". Nothing without a
    // callback or for another code.
    void _setErrorMessage(int32_t code, const char* text1, const char* text2, const char* text3,
                          const char* text4);

private:
    CvkHeap* m_heap;
    CvkFileServer* m_fileServer;
    CvkVeldra* m_veldra;
    CvkEnvErrCallback m_errCallback;
};

LUMIVOR_EXPORT CvkEnv* CvkEnvGet();
LUMIVOR_EXPORT void CvkEnvSet(CvkEnv* environment);
