#pragma once
// AstSockServer: the tool's end of a socket link; listens on a port and
// serves one peer at a time.
//
// The server is polled: the owner calls MainProc once per frame of its loop.
// MainProc creates, binds and listens (states 1 to 3; a failure there sets
// the Error flag, and SetPortNo starts over), accepts a peer (4 -> 5), and
// while connected runs the send procedure and then the receive procedure.
// Frames are assembled incrementally: the tags and header must keep coming
// within 1 s, the payload within 30 s between pieces. A receive or send
// error, or a peer silent for 30 s, drops the peer (state 6) and the server
// accepts the next one.

#include "commu/AstSockClient.h"
#include "commu/AstSockFrame.h"
#include "commu/AstSockLog.h"
#include "commu/AstSockSender.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"
#include "platform/PlatformSocket.h"

#include <cstdint>

// Server states.
enum : int32_t {
    AST_SOCK_SERVER_CREATE = 1,
    AST_SOCK_SERVER_BIND = 2,
    AST_SOCK_SERVER_LISTEN = 3,
    AST_SOCK_SERVER_ACCEPT = 4,
    AST_SOCK_SERVER_CONNECTED = 5,
    AST_SOCK_SERVER_DROP = 6,
};

// Limits of the server in microseconds of the kit timer.
constexpr uint64_t AST_SOCK_SERVER_TAG_LIMIT = AST_SOCK_DEFAULT_TAG_LIMIT;
constexpr uint64_t AST_SOCK_SERVER_PAYLOAD_LIMIT = AST_SOCK_DEFAULT_PAYLOAD_LIMIT;
constexpr uint64_t AST_SOCK_SERVER_SEND_LIMIT = 30000000;
constexpr uint64_t AST_SOCK_SERVER_SILENT_LIMIT = 30000000;

class LUMIVOR_EXPORT AstSockServer : public CvkBase {
public:
    AstSockServer(AstSockVersion version, int32_t port);
    AstSockServer(uint8_t major, uint8_t minor, int32_t port);
    ~AstSockServer() override;
    AstSockServer(const AstSockServer&) = delete;
    AstSockServer& operator=(const AstSockServer&) = delete;

    // One step of listening, accepting, sending and receiving.
    virtual void MainProc();

    // Stores a frame for the send procedure; 0 when the frame is refused, no
    // peer is connected or another frame is on the wire. A frame that makes
    // no progress for the send limit drops the peer (IsTimeout tells).
    int32_t SendData(uint32_t type, const void* data, uint32_t size);
    // Sends raw bytes to the peer at once, waiting at most 30 s; 0 on
    // failure (or without a peer).
    int32_t SendDataDirect(const void* data, uint32_t size);

    // A complete frame: wait for the next one (the payload is kept until then).
    void RestartRecv() { m_reader.RestartAfterFrame(); }
    // Frees the received frame and waits for the next one.
    void DestroyRecvData() { m_reader.DestroyCompleteFrame(); }
    int32_t CheckRecvFinish() const { return m_reader.GetState() == AST_SOCK_RECV_COMPLETE; }
    int32_t CheckSendFinish() const { return m_sender.GetState() == AST_SOCK_SEND_DONE; }
    // A peer is connected (state 5).
    int32_t IsConnecting() const { return m_state == AST_SOCK_SERVER_CONNECTED; }
    // Listening or connected (the port is bound).
    int32_t IsListening() const { return m_state >= AST_SOCK_SERVER_ACCEPT; }
    // Changes the port; a server already listening closes its sockets and
    // starts over, and the Error flag is cleared.
    void SetPortNo(int32_t port);
    // Error kind of the last receive (AST_SOCK_ERROR_*).
    int32_t GetError() const { return m_error; }
    int32_t GetSocketError() const { return m_socketError; }
    // The last send passed the send limit.
    int32_t IsTimeout() const { return m_timeout; }

    int32_t GetState() const { return m_state; }
    int32_t GetSendState() const { return m_sender.GetState(); }
    int32_t GetRecvState() const { return m_reader.GetState(); }
    int32_t GetPortNo() const { return m_port; }
    // The port actually bound (the chosen one when the port is 0), 0 before.
    int32_t GetBoundPort() const { return m_boundPort; }
    uint32_t GetRecvType() const { return m_reader.GetType(); }
    uint32_t GetRecvLength() const { return m_reader.GetLength(); }
    const uint8_t* GetRecvData() const { return m_reader.GetPayload(); }
    // Drops the connected peer now (as a receive error would).
    void DropPeer();

    // Limits in microseconds: tags and header, payload, sending, a silent peer.
    void SetLimits(uint64_t tagLimit, uint64_t payloadLimit, uint64_t sendLimit, uint64_t silentLimit);
    // Largest payload accepted (default AST_SOCK_DEFAULT_MAX_PAYLOAD).
    void SetMaxRecvPayload(uint32_t maxPayload) { m_reader.SetMaxPayload(maxPayload); }
    // Blocks up to timeoutMs until a socket can make progress; for loops that
    // have nothing else to do between calls of MainProc.
    void WaitEvent(int32_t timeoutMs) const;

    static void SetGUILogger(AstSockGUILogger logger) { AstSockSetGUILogger(logger); }

protected:
    // Called when the peer is dropped; derived servers forget its sequence.
    virtual void _onDrop() {}

private:
    void _init(int32_t port);
    void _create();
    void _bind();
    void _listen();
    void _accept();
    void _drop();
    void _sendProc();
    void _recvProc();
    void _setupFailed(const char* message);
    void _closeClient();
    void _closeListen();

    PlatformSocket m_client;
    PlatformSocket m_listen;
    int32_t m_state;
    int32_t m_port;
    int32_t m_boundPort;
    AstSockSender m_sender;
    AstSockFrameReader m_reader;
    uint64_t m_lastActivity;
    int32_t m_socketError;
    int32_t m_error;
    int32_t m_timeout;
    uint64_t m_sendLimit;
    uint64_t m_silentLimit;
};
