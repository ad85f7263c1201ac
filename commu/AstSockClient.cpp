#include "commu/AstSockClient.h"

#include "commu/AstSockSocketSource.h"
#include "kit/CvkLog.h"
#include "kit/CvkTimer.h"

AstSockClient::AstSockClient(AstSockVersion version, const char* host, int32_t port)
{
    (void)version; // nothing to start on this platform
    _init(host, port);
}

AstSockClient::AstSockClient(uint8_t major, uint8_t minor, const char* host, int32_t port)
{
    (void)major;
    (void)minor;
    _init(host, port);
}

void AstSockClient::_init(const char* host, int32_t port)
{
    m_socket = PLATFORM_SOCKET_INVALID;
    m_state = AST_SOCK_CLIENT_STARTED;
    m_host = host;
    m_port = port;
    m_socketError = 0;
    m_error = AST_SOCK_ERROR_NONE;
    m_connectStartTime = 0;
    m_connectLimit = AST_SOCK_CLIENT_CONNECT_LIMIT;
    m_ioLimit = AST_SOCK_CLIENT_IO_LIMIT;
    m_reader.SetLimits(m_ioLimit, m_ioLimit);
}

AstSockClient::~AstSockClient()
{
    if (m_state >= AST_SOCK_CLIENT_STARTED && m_state <= AST_SOCK_CLIENT_CONNECTING) {
        AstSockGUILog("接続中止");
    } else if (m_state == AST_SOCK_CLIENT_CONNECTED) {
        AstSockGUILog("切断");
    }
    _closeSocket();
}

void AstSockClient::_closeSocket()
{
    if (m_socket == PLATFORM_SOCKET_INVALID) {
        return;
    }
    PlatformSocketShutdown(m_socket);
    if (!PlatformSocketClose(m_socket)) {
        CvkLogPrint("socket closing is failed. %d\n", PlatformSocketLastError());
    }
    m_socket = PLATFORM_SOCKET_INVALID;
}

void AstSockClient::SetLimits(uint64_t connectLimit, uint64_t ioLimit)
{
    m_connectLimit = connectLimit;
    m_ioLimit = ioLimit;
    m_reader.SetLimits(ioLimit, ioLimit);
}

void AstSockClient::_socketFailed(const char* message, int32_t code)
{
    m_socketError = code;
    AstSockLogText(message);
    AstSockPrintError(code);
    SetError();
}

void AstSockClient::MainProc()
{
    if (CheckError()) {
        return;
    }
    switch (m_state) {
    case AST_SOCK_CLIENT_STARTED: _startConnect(); break;
    case AST_SOCK_CLIENT_CONNECTING: _waitConnect(); break;
    case AST_SOCK_CLIENT_CONNECTED:
        _sendProc();
        if (!CheckError()) {
            _recvProc();
        }
        break;
    default: break;
    }
}

void AstSockClient::_startConnect()
{
    if (m_host.GetLength() == 0) {
        CvkLogPrint("Host Name is nanashi-gonbei(NotInput?).");
        SetError();
        return;
    }
    m_socket = PlatformSocketCreateTcp();
    if (m_socket == PLATFORM_SOCKET_INVALID) {
        _socketFailed("Failed create socket.\n", PlatformSocketLastError());
        return;
    }
    m_state = AST_SOCK_CLIENT_SOCKET;
    if (!PlatformSocketSetNonBlocking(m_socket)) {
        _socketFailed("It failed unblocking.\n", PlatformSocketLastError());
        return;
    }
    uint32_t address = 0;
    if (!PlatformSocketResolve(m_host.GetBuffer(), &address)) {
        _socketFailed("Input host name is Not Found.", PlatformSocketLastError());
        return;
    }
    const bool validPort = AstSockIsPort(m_port);
    if (!validPort || !PlatformSocketConnect(m_socket, address, static_cast<uint16_t>(m_port))) {
        _socketFailed("It failed in the socket connection.\n",
                      validPort ? PlatformSocketLastError() : PLATFORM_SOCKET_ERROR_ADDRESS_NOT_AVAILABLE);
        return;
    }
    AstSockGUILog("接続中：%s:%d", m_host.GetBuffer(), m_port);
    m_connectStartTime = CvkGetTimer();
    m_state = AST_SOCK_CLIENT_CONNECTING;
}

void AstSockClient::_waitConnect()
{
    if (CvkGetTimer() - m_connectStartTime > m_connectLimit) {
        AstSockGUILog("接続タイムアウト");
        m_error = AST_SOCK_ERROR_TIMEOUT;
        m_socketError = PLATFORM_SOCKET_ERROR_TIMED_OUT;
        m_state = AST_SOCK_CLIENT_TIMED_OUT;
        SetError();
        return;
    }
    if (!PlatformSocketWritable(m_socket)) {
        return;
    }
    const int32_t pending = PlatformSocketPendingError(m_socket);
    if (pending != 0) {
        // Refused or unreachable: no use waiting for the time-out.
        _socketFailed("It failed in the socket connection.\n", pending);
        return;
    }
    m_state = AST_SOCK_CLIENT_CONNECTED;
    m_reader.Restart();
    AstSockGUILog("接続");
}

int32_t AstSockClient::SendData(uint32_t type, const void* data, uint32_t size)
{
    return m_sender.SetData(type, data, size);
}

void AstSockClient::_sendProc()
{
    switch (m_sender.Step(m_socket, CvkGetTimer(), m_ioLimit)) {
    case AST_SOCK_SEND_STEP_FAILED: _socketFailed("", m_sender.GetSocketError()); break;
    case AST_SOCK_SEND_STEP_TIMED_OUT:
        m_error = AST_SOCK_ERROR_TIMEOUT;
        m_socketError = PLATFORM_SOCKET_ERROR_TIMED_OUT;
        SetError();
        break;
    default: break;
    }
}

void AstSockClient::_recvProc()
{
    AstSockSocketSource source(m_socket);
    const int32_t state = m_reader.Step(source, CvkGetTimer());
    if (state != AST_SOCK_RECV_ERROR) {
        return;
    }
    m_error = m_reader.GetError();
    if (m_reader.SourceFailed()) {
        m_socketError = source.GetError();
        CvkLogPrint("[E] %s:%d %d\n", m_host.GetBuffer(), m_port, m_socketError);
        AstSockPrintError(m_socketError);
    }
    SetError();
}

int32_t AstSockClient::IsEnableRecv() const { return PlatformSocketReadable(m_socket); }

int32_t AstSockClient::IsEnableSend() const { return PlatformSocketWritable(m_socket); }

int32_t AstSockClient::IsSameConnect(const char* host, int32_t port) const
{
    return m_host == (host != nullptr ? host : "") && m_port == port;
}

void AstSockClient::ResetSendError()
{
    if (IsConnected() && CheckError() && m_sender.GetState() == AST_SOCK_SEND_ERROR) {
        ResetError();
        m_sender.SetIdle();
        m_socketError = 0;
        m_error = AST_SOCK_ERROR_NONE;
    }
}

void AstSockClient::ResetRecvError()
{
    if (IsConnected() && CheckError() && m_reader.GetState() == AST_SOCK_RECV_ERROR) {
        ResetError();
        m_reader.DestroyFrame();
        m_socketError = 0;
        m_error = AST_SOCK_ERROR_NONE;
    }
}

int32_t AstSockClient::RetryConnect()
{
    const bool retryable = m_state == AST_SOCK_CLIENT_TIMED_OUT || m_state == AST_SOCK_CLIENT_STARTED ||
                           m_state == AST_SOCK_CLIENT_SOCKET || m_state == AST_SOCK_CLIENT_CONNECTING;
    if (!CheckError() || !retryable) {
        return 0;
    }
    _closeSocket();
    m_state = AST_SOCK_CLIENT_STARTED;
    m_error = AST_SOCK_ERROR_NONE;
    m_socketError = 0;
    ResetError();
    return 1;
}

int32_t AstSockClient::IsErrorOtherTimeout() const
{
    return m_socketError != 0 && m_socketError != PLATFORM_SOCKET_ERROR_WOULD_BLOCK &&
           m_error != AST_SOCK_ERROR_TIMEOUT;
}

int32_t AstSockClient::IsExecSend() const
{
    const int32_t state = m_sender.GetState();
    return state != AST_SOCK_SEND_IDLE && state != AST_SOCK_SEND_DONE && state != AST_SOCK_SEND_ERROR;
}

int32_t AstSockClient::IsExecRecv() const
{
    const int32_t state = m_reader.GetState();
    return state != AST_SOCK_RECV_IDLE && state != AST_SOCK_RECV_COMPLETE && state != AST_SOCK_RECV_ERROR;
}

void AstSockClient::WaitEvent(int32_t timeoutMs) const
{
    const bool write = m_state == AST_SOCK_CLIENT_CONNECTING || IsExecSend();
    PlatformSocketWait(&m_socket, &write, 1, timeoutMs);
}
