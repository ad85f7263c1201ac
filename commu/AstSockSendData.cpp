#include "commu/AstSockSendData.h"

#include "commu/AstSockFrame.h"
#include "commu/AstSockLog.h"
#include "kit/CvkHeap.h"

#include <cstring>

namespace {

void StoreLe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

} // namespace

AstSockSendData::AstSockSendData() : m_type(AST_SOCK_TYPE_NONE), m_size(0), m_buffer(nullptr) {}

AstSockSendData::~AstSockSendData()
{
    Release();
}

void AstSockSendData::Release()
{
    if (m_buffer != nullptr) {
        t_cvkSystemHeapFree(m_buffer, "ast_sock_send", 0);
        m_buffer = nullptr;
    }
    m_type = AST_SOCK_TYPE_NONE;
    m_size = 0;
}

uint8_t* AstSockSendData::_allocate(uint32_t size)
{
    m_buffer = static_cast<uint8_t*>(t_cvkSystemHeapAlloc(size, 0, "ast_sock_send", 0));
    if (m_buffer != nullptr) {
        m_size = size;
    }
    return m_buffer;
}

int32_t AstSockSendData::SetData(uint32_t type, const void* data, uint32_t size)
{
    Release();
    if (type == AST_SOCK_TYPE_NONE || data == nullptr || size < 1 || size > UINT32_MAX - AST_SOCK_FRAME_OVERHEAD) {
        return 0;
    }
    uint8_t* frame = _allocate(size + AST_SOCK_FRAME_OVERHEAD);
    if (frame == nullptr) {
        return 0;
    }
    StoreLe32(frame, AST_SOCK_BEGIN_TAG);
    StoreLe32(frame + 4, type);
    StoreLe32(frame + 8, size);
    std::memcpy(frame + AST_SOCK_HEADER_SIZE, data, size);
    StoreLe32(frame + AST_SOCK_HEADER_SIZE + size, AST_SOCK_END_TAG);
    m_type = type;
    return 1;
}

int32_t AstSockSendData::SetData(const void* data, uint32_t size)
{
    Release();
    if (data == nullptr || size < 1) {
        return 0;
    }
    uint8_t* bytes = _allocate(size);
    if (bytes == nullptr) {
        return 0;
    }
    std::memcpy(bytes, data, size);
    return 1;
}

int32_t AstSockSendData::SendPending(PlatformSocket socket, uint32_t* sent, int32_t* error) const
{
    int32_t written = 0;
    *error = 0;
    while (*sent < m_size) {
        const int32_t n = PlatformSocketSend(socket, m_buffer + *sent, m_size - *sent);
        if (n <= 0) {
            *error = PlatformSocketLastError();
            break;
        }
        *sent += static_cast<uint32_t>(n);
        written += n;
        AstSockGUILog("終了%d \n", n);
    }
    return written;
}
