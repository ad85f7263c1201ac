#include "commu/AstSockSender.h"

#include "commu/AstSockLog.h"

int32_t AstSockSender::SetData(uint32_t type, const void* data, uint32_t size)
{
    if (m_state == AST_SOCK_SEND_SENDING || !m_data.SetData(type, data, size)) {
        return 0;
    }
    m_state = AST_SOCK_SEND_SET;
    return 1;
}

AstSockSendStep AstSockSender::Step(PlatformSocket socket, uint64_t now, uint64_t limit)
{
    m_wrote = false;
    if (m_state == AST_SOCK_SEND_SET && !m_data.IsEmpty()) {
        m_progressTime = now;
        m_sent = 0;
        m_state = AST_SOCK_SEND_SENDING;
        AstSockGUILog("送信中…");
    }
    if (m_state != AST_SOCK_SEND_SENDING) {
        return AST_SOCK_SEND_STEP_IDLE;
    }
    int32_t error = 0;
    if (m_data.SendPending(socket, &m_sent, &error) > 0) {
        m_progressTime = now;
        m_wrote = true;
    }
    if (m_sent == m_data.GetSize()) {
        m_state = AST_SOCK_SEND_DONE;
        return AST_SOCK_SEND_STEP_DONE;
    }
    if (error != PLATFORM_SOCKET_ERROR_WOULD_BLOCK) {
        m_socketError = error;
        m_state = AST_SOCK_SEND_ERROR;
        return AST_SOCK_SEND_STEP_FAILED;
    }
    if (now - m_progressTime > limit) {
        m_state = AST_SOCK_SEND_ERROR;
        return AST_SOCK_SEND_STEP_TIMED_OUT;
    }
    return AST_SOCK_SEND_STEP_PENDING;
}
