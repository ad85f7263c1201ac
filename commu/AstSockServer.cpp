#include "commu/AstSockServer.h"

#include "commu/AstSockSocketSource.h"
#include "kit/CvkLog.h"
#include "kit/CvkTimer.h"

AstSockServer::AstSockServer(AstSockVersion version, int32_t port)
{
    (void)version; // nothing to start on this platform
    _init(port);
}

AstSockServer::AstSockServer(uint8_t major, uint8_t minor, int32_t port)
{
    (void)major;
    (void)minor;
    _init(port);
}

void AstSockServer::_init(int32_t port)
{
    m_client = PLATFORM_SOCKET_INVALID;
    m_listen = PLATFORM_SOCKET_INVALID;
    m_state = AST_SOCK_SERVER_CREATE;
    m_port = port;
    m_boundPort = 0;
    m_lastActivity = 0;
    m_socketError = 0;
    m_error = AST_SOCK_ERROR_NONE;
    m_timeout = 0;
    m_sendLimit = AST_SOCK_SERVER_SEND_LIMIT;
    m_silentLimit = AST_SOCK_SERVER_SILENT_LIMIT;
    m_reader.SetLimits(AST_SOCK_SERVER_TAG_LIMIT, AST_SOCK_SERVER_PAYLOAD_LIMIT);
}

AstSockServer::~AstSockServer()
{
    _closeClient();
    _closeListen();
}

void AstSockServer::_closeClient()
{
    if (m_client == PLATFORM_SOCKET_INVALID) {
        return;
    }
    PlatformSocketShutdown(m_client);
    if (!PlatformSocketClose(m_client)) {
        CvkLogPrint("Error Socket Closed\n");
    }
    m_client = PLATFORM_SOCKET_INVALID;
}

void AstSockServer::_closeListen()
{
    if (m_listen != PLATFORM_SOCKET_INVALID && !PlatformSocketClose(m_listen)) {
        CvkLogPrint("Error Socket Listen Closed\n");
    }
    m_listen = PLATFORM_SOCKET_INVALID;
    m_boundPort = 0;
}

void AstSockServer::SetLimits(uint64_t tagLimit, uint64_t payloadLimit, uint64_t sendLimit, uint64_t silentLimit)
{
    m_reader.SetLimits(tagLimit, payloadLimit);
    m_sendLimit = sendLimit;
    m_silentLimit = silentLimit;
}

void AstSockServer::SetPortNo(int32_t port)
{
    m_port = port;
    if (m_state == AST_SOCK_SERVER_CONNECTED) {
        _drop();
    }
    _closeListen();
    m_state = AST_SOCK_SERVER_CREATE;
    ResetError();
}

void AstSockServer::MainProc()
{
    if (CheckError()) {
        return;
    }
    // Setting up takes one call; each step leaves the state as it was on failure.
    if (m_state == AST_SOCK_SERVER_CREATE) _create();
    if (m_state == AST_SOCK_SERVER_BIND) _bind();
    if (m_state == AST_SOCK_SERVER_LISTEN) _listen();
    switch (m_state) {
    case AST_SOCK_SERVER_ACCEPT: _accept(); break;
    case AST_SOCK_SERVER_CONNECTED:
        _sendProc();
        if (m_state == AST_SOCK_SERVER_CONNECTED) {
            _recvProc();
        }
        break;
    default: break;
    }
    if (m_state == AST_SOCK_SERVER_DROP) {
        _drop();
    }
}

// A listening socket that cannot be set up is not listened on: the server
// stops with the Error flag until SetPortNo starts it over.
void AstSockServer::_setupFailed(const char* message)
{
    m_socketError = PlatformSocketLastError();
    AstSockLogText(message);
    AstSockPrintError(m_socketError);
    _closeListen();
    m_state = AST_SOCK_SERVER_CREATE;
    SetError();
}

void AstSockServer::_create()
{
    m_listen = PlatformSocketCreateTcp();
    if (m_listen == PLATFORM_SOCKET_INVALID) {
        _setupFailed("Failed create socket.\n");
        return;
    }
    if (!PlatformSocketSetNonBlocking(m_listen)) {
        _setupFailed("It failed unblocking.\n");
        return;
    }
    m_state = AST_SOCK_SERVER_BIND;
}

void AstSockServer::_bind()
{
    if (!AstSockIsPort(m_port) || !PlatformSocketBindAny(m_listen, static_cast<uint16_t>(m_port))) {
        _setupFailed("bind()に失敗\n");
        return;
    }
    m_boundPort = PlatformSocketLocalPort(m_listen);
    m_state = AST_SOCK_SERVER_LISTEN;
}

void AstSockServer::_listen()
{
    if (!PlatformSocketListen(m_listen, 1)) {
        _setupFailed("listen()関数が失敗\n");
        return;
    }
    m_state = AST_SOCK_SERVER_ACCEPT;
}

void AstSockServer::_accept()
{
    if (!PlatformSocketReadable(m_listen)) {
        return;
    }
    const PlatformSocket peer = PlatformSocketAccept(m_listen);
    if (peer == PLATFORM_SOCKET_INVALID) {
        return; // gone again before it was taken, or out of descriptors: try again next time
    }
    m_client = peer;
    m_reader.DestroyFrame();
    m_sender.SetIdle();
    m_error = AST_SOCK_ERROR_NONE;
    m_socketError = 0;
    m_timeout = 0;
    m_lastActivity = CvkGetTimer();
    m_state = AST_SOCK_SERVER_CONNECTED;
}

void AstSockServer::DropPeer()
{
    if (m_state == AST_SOCK_SERVER_CONNECTED) {
        _drop();
    }
}

void AstSockServer::_drop()
{
    _closeClient();
    m_reader.DestroyFrame();
    m_sender.Release();
    m_sender.SetIdle();
    m_state = AST_SOCK_SERVER_ACCEPT;
    _onDrop();
}

int32_t AstSockServer::SendData(uint32_t type, const void* data, uint32_t size)
{
    return m_state == AST_SOCK_SERVER_CONNECTED ? m_sender.SetData(type, data, size) : 0;
}

int32_t AstSockServer::SendDataDirect(const void* data, uint32_t size)
{
    if (m_state != AST_SOCK_SERVER_CONNECTED || m_sender.GetState() == AST_SOCK_SEND_SENDING || data == nullptr) {
        return 0;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    const uint64_t start = CvkGetTimer();
    uint32_t sent = 0;
    while (sent < size) {
        const int32_t n = PlatformSocketSend(m_client, bytes + sent, size - sent);
        if (n > 0) {
            sent += static_cast<uint32_t>(n);
            continue;
        }
        const int32_t error = PlatformSocketLastError();
        const uint64_t waited = CvkGetTimer() - start;
        if (error != PLATFORM_SOCKET_ERROR_WOULD_BLOCK || waited > m_sendLimit) {
            m_socketError = error != PLATFORM_SOCKET_ERROR_WOULD_BLOCK ? error : PLATFORM_SOCKET_ERROR_TIMED_OUT;
            m_timeout = error == PLATFORM_SOCKET_ERROR_WOULD_BLOCK;
            AstSockPrintError(m_socketError);
            m_state = AST_SOCK_SERVER_DROP;
            return 0;
        }
        const bool write = true;
        PlatformSocketWait(&m_client, &write, 1, 10);
    }
    return 1;
}

void AstSockServer::_sendProc()
{
    if (m_sender.GetState() == AST_SOCK_SEND_SET) {
        m_timeout = 0; // a new frame starts
    }
    const uint64_t now = CvkGetTimer();
    const AstSockSendStep step = m_sender.Step(m_client, now, m_sendLimit);
    if (m_sender.Wrote()) {
        m_lastActivity = now;
    }
    if (step == AST_SOCK_SEND_STEP_DONE) {
        m_sender.Release();
    } else if (step == AST_SOCK_SEND_STEP_FAILED || step == AST_SOCK_SEND_STEP_TIMED_OUT) {
        // A frame that cannot go out is not reported as sent: the peer is
        // dropped, with the time-out flag telling why.
        m_timeout = step == AST_SOCK_SEND_STEP_TIMED_OUT;
        m_socketError = m_timeout ? PLATFORM_SOCKET_ERROR_TIMED_OUT : m_sender.GetSocketError();
        AstSockPrintError(m_socketError);
        m_state = AST_SOCK_SERVER_DROP;
    }
}

void AstSockServer::_recvProc()
{
    const uint64_t now = CvkGetTimer();
    AstSockSocketSource source(m_client);
    const int32_t state = m_reader.Step(source, now);
    if (state == AST_SOCK_RECV_ERROR) {
        m_error = m_reader.GetError();
        if (m_reader.SourceFailed()) {
            m_socketError = source.GetError();
            if (m_socketError != PLATFORM_SOCKET_ERROR_DISCONNECTED) {
                CvkLogPrint("[E] %s:%d %d\n", "peer", m_boundPort, m_socketError);
                AstSockPrintError(m_socketError);
            }
        }
        m_state = AST_SOCK_SERVER_DROP;
        return;
    }
    // Only a peer that owes us the next frame can be silent; one waiting for
    // our answer or for the owner to take a frame is not.
    if (!m_reader.IsBetweenFrames() || m_sender.GetState() == AST_SOCK_SEND_SENDING) {
        m_lastActivity = now;
    } else if (now - m_lastActivity > m_silentLimit) {
        AstSockLogPrint("silent peer dropped after %u s\n", static_cast<unsigned>(m_silentLimit / 1000000));
        m_state = AST_SOCK_SERVER_DROP;
    }
}

void AstSockServer::WaitEvent(int32_t timeoutMs) const
{
    const PlatformSocket socket = m_state == AST_SOCK_SERVER_CONNECTED ? m_client : m_listen;
    const bool write = m_state == AST_SOCK_SERVER_CONNECTED && m_sender.GetState() == AST_SOCK_SEND_SENDING;
    PlatformSocketWait(&socket, &write, 1, timeoutMs);
}
