#include "kit/CvkFcpBase.h"

#include "kit/CvkHeap.h"
#include "platform/PlatformNamedLock.h"

#include <cstring>
#include <new>
#include <system_error>
#include <thread>

namespace {

// The host's handle of the access lock (CvkFileCreateAccessMutex).
PlatformNamedLock* g_hostAccessLock = nullptr;

} // namespace

int CvkFileCreateAccessMutex()
{
    if (g_hostAccessLock == nullptr) {
        g_hostAccessLock = PlatformNamedLockCreate(CVK_FILE_ACCESS_MUTEX);
    }
    return g_hostAccessLock != nullptr ? 1 : 0;
}

void CvkFileCloseAccessMutex()
{
    if (g_hostAccessLock != nullptr) {
        PlatformNamedLockClose(g_hostAccessLock);
        g_hostAccessLock = nullptr;
        PlatformNamedLockRemove(CVK_FILE_ACCESS_MUTEX);
    }
}

CvkFcpBase::CvkFcpBase(CvkBase* owner, const char* path, CvkFileReadEndCallback callback, void* user)
    : m_owner(owner), m_path(path != nullptr ? path : ""), m_callback(callback), m_user(user), m_buffer(nullptr),
      m_size(0), m_thread(nullptr), m_args{this, nullptr, 0, 0}, m_job(JOB_READ)
{
    SetTag(0x434B4642); // "CKFB"
}

CvkFcpBase::~CvkFcpBase()
{
    _joinThread();
    _freeBuffer();
}

const char* CvkFcpBase::MoveNextPrefixEnd(const char* text, const char* prefix, int32_t length)
{
    if (text == nullptr || prefix == nullptr || length <= 0 || std::strncmp(text, prefix, length) != 0) {
        return text;
    }
    const char* p = text + length;
    while (*p == '/' || *p == '\\') {
        ++p;
    }
    return p;
}

void CvkFcpBase::_begin()
{
    if (m_owner != nullptr) {
        m_owner->SetBusy();
        m_owner->ResetReady();
    }
}

int CvkFcpBase::_succeed()
{
    if (m_owner != nullptr) {
        m_owner->ResetBusy();
        m_owner->SetReady();
    }
    return 1;
}

int CvkFcpBase::_fail()
{
    if (m_owner != nullptr) {
        m_owner->ResetBusy();
        m_owner->SetError();
    }
    return 0;
}

void CvkFcpBase::_freeBuffer()
{
    if (m_buffer != nullptr) {
        t_cvkMainHeapFree(m_buffer, __FILE__, __LINE__);
        m_buffer = nullptr;
    }
}

void CvkFcpBase::_readEnd()
{
    if (m_callback != nullptr) {
        m_callback(m_user);
    }
}

int CvkFcpBase::MakeDirectory(const char*) { return 0; }
int CvkFcpBase::MakeAllDirectory(const char*) { return 0; }
int CvkFcpBase::EraseDirectory(const char*) { return 0; }
int CvkFcpBase::EraseAllDirectory(const char*) { return 0; }

int CvkFcpBase::ThreadReadFile(void* buffer, uint32_t offset, uint32_t size)
{
    _joinThread();
    m_args = {this, buffer, offset, size};
    return _startThread(JOB_READ);
}

int CvkFcpBase::ThreadWriteFile(const void* buffer, uint32_t size)
{
    _joinThread();
    m_args = {this, const_cast<void*>(buffer), 0, size};
    return _startThread(JOB_WRITE);
}

int CvkFcpBase::ThreadReadSize()
{
    _joinThread();
    m_args = {this, nullptr, 0, 0};
    return _startThread(JOB_SIZE);
}

int CvkFcpBase::_startThread(int job)
{
    _begin();
    m_job = job;
    try {
        m_thread = new std::thread([this] { _threadMain(); });
    } catch (const std::exception&) {
        m_thread = nullptr;
        return _fail();
    }
    return 1;
}

void CvkFcpBase::_threadMain()
{
    // Without a lock created by the host the operation runs unserialised.
    PlatformNamedLock* lock = PlatformNamedLockOpen(CVK_FILE_ACCESS_MUTEX);
    const bool held = PlatformNamedLockLock(lock);
    switch (m_job) {
    case JOB_READ:
        ReadFile(m_args.buffer, m_args.offset, m_args.size);
        break;
    case JOB_WRITE:
        WriteFile(m_args.buffer, m_args.size);
        break;
    default:
        GetSize();
        break;
    }
    if (held) {
        PlatformNamedLockUnlock(lock);
    }
    PlatformNamedLockClose(lock);
}

void CvkFcpBase::_joinThread()
{
    auto* thread = static_cast<std::thread*>(m_thread);
    if (thread != nullptr) {
        if (thread->joinable()) {
            thread->join();
        }
        delete thread;
        m_thread = nullptr;
    }
}
