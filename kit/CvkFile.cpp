#include "kit/CvkFile.h"

#include "kit/CvkEnv.h"
#include "kit/CvkFileServer.h"

#include <cstring>

namespace {

CvkFileReadObserver g_readObserver = nullptr;
void* g_readObserverContext = nullptr;

} // namespace

void CvkFileSetReadObserver(CvkFileReadObserver observer, void* context)
{
    g_readObserver = observer;
    g_readObserverContext = context;
}

CvkFile::CvkFile(const char* path)
    : m_server(nullptr), m_protocol(nullptr), m_path(path != nullptr ? path : ""), m_callback(nullptr),
      m_user(nullptr), m_size(0), m_connectId(0)
{
    SetTag(0x4356464C); // "CVFL"
    _connect();
}

CvkFile::CvkFile(const char* directory, const char* name)
    : m_server(nullptr), m_protocol(nullptr), m_path(directory != nullptr ? directory : ""), m_callback(nullptr),
      m_user(nullptr), m_size(0), m_connectId(0)
{
    SetTag(0x4356464C); // "CVFL"
    m_path += name != nullptr ? name : "";
    _connect();
}

CvkFile::~CvkFile()
{
    // End the connection only while the server that holds it still exists.
    CvkEnv* env = CvkEnvGet();
    if (m_connectId != 0 && env != nullptr && env->GetFileServer() == m_server && m_server != nullptr) {
        m_server->ConnectFinish(m_connectId);
    }
    delete m_protocol;
}

void CvkFile::_connect()
{
    if (m_path.GetLength() == 0) {
        SetError();
        return;
    }
    CvkEnv* env = CvkEnvGet();
    m_server = env != nullptr ? env->GetFileServer() : nullptr;
    if (m_server == nullptr) {
        SetError();
        return;
    }
    CvkFileProtocolSetUp setUp = m_server->GetProtocol(m_path.GetBuffer());
    if (setUp == nullptr) {
        SetError();
        return;
    }
    m_protocol = setUp(this, m_path.GetBuffer(), m_callback, m_user);
    if (m_protocol == nullptr) {
        SetError();
        return;
    }
    m_connectId = m_server->ConnectStart(m_protocol);
    if (m_connectId == 0) {
        SetError();
    }
}

int CvkFile::ReadFile(void* buffer, uint32_t offset, uint32_t size)
{
    const int read = CheckError() ? 0 : m_protocol->ReadFile(buffer, offset, size);
    if (read != 0 && g_readObserver != nullptr) g_readObserver(m_path.GetBuffer(), g_readObserverContext);
    return read;
}

int CvkFile::WriteFile(const void* buffer, uint32_t size)
{
    return CheckError() ? 0 : m_protocol->WriteFile(buffer, size);
}

uint32_t CvkFile::GetSize()
{
    if (CheckError()) {
        return 0;
    }
    if (m_size == 0) {
        m_size = m_protocol->GetSize();
    }
    return m_size;
}

int CvkFile::EraseFile() { return CheckError() ? 0 : m_protocol->EraseFile(); }
int CvkFile::MakeDirectory(const char* path) { return CheckError() ? 0 : m_protocol->MakeDirectory(path); }
int CvkFile::MakeAllDirectory(const char* path) { return CheckError() ? 0 : m_protocol->MakeAllDirectory(path); }
int CvkFile::EraseDirectory(const char* path) { return CheckError() ? 0 : m_protocol->EraseDirectory(path); }
int CvkFile::EraseAllDirectory(const char* path) { return CheckError() ? 0 : m_protocol->EraseAllDirectory(path); }

int CvkFile::ThreadReadFile(void* buffer, uint32_t offset, uint32_t size)
{
    return CheckError() ? 0 : m_protocol->ThreadReadFile(buffer, offset, size);
}

int CvkFile::ThreadWriteFile(const void* buffer, uint32_t size)
{
    return CheckError() ? 0 : m_protocol->ThreadWriteFile(buffer, size);
}

int CvkFile::ThreadReadSize() { return CheckError() ? 0 : m_protocol->ThreadReadSize(); }

uint32_t CvkFile::ThreadGetSize() { return CheckError() ? 0 : m_protocol->ThreadGetSize(); }

void* CvkFile::GetBuffer() const { return m_protocol != nullptr ? m_protocol->GetBuffer() : nullptr; }

const char* CvkFile::GetExtension() const
{
    const char* text = m_path.GetBuffer();
    const int32_t length = m_path.GetLength();
    for (int32_t i = length - 1; i >= 1; --i) {
        if (text[i] == '.') {
            return text + i + 1;
        }
    }
    return nullptr;
}

void CvkFile::SetReadEndCallback(CvkFileReadEndCallback callback, void* user)
{
    m_callback = callback;
    m_user = user;
    if (m_protocol != nullptr) {
        m_protocol->SetReadEndCallback(callback, user);
    }
}
