#pragma once
// AstSockClient: the application's end of a socket link to the Morrin tool.
//
// The client is polled: the owner calls MainProc once per frame of its loop.
// MainProc creates a non-blocking socket and connects (state 3 -> 5), waits
// for the connection at most the connect limit (3 s; then "接続タイムアウト",
// error kind 1, state 1 until RetryConnect), and once connected (state 6)
// runs the send procedure and then the receive procedure. Sending and
// receiving both go as far as the socket allows at each call; a frame that
// makes no progress for the I/O limit (5 s) is a time-out. Failures set the
// Error flag; the owner decides about retries (ResetSendError,
// ResetRecvError, RetryConnect).

#include "commu/AstSockFrame.h"
#include "commu/AstSockLog.h"
#include "commu/AstSockSender.h"
#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"
#include "platform/PlatformSocket.h"

#include <cstdint>

// Version of the socket interface a constructor asks for: 1 selects 2.2,
// anything else 1.1. Nothing needs starting on this platform.
enum AstSockVersion : int32_t {
    AST_SOCK_VERSION_1_1 = 0,
    AST_SOCK_VERSION_2_2 = 1,
};

// Connection states of the client.
enum : int32_t {
    AST_SOCK_CLIENT_NOT_STARTED = 0,
    AST_SOCK_CLIENT_TIMED_OUT = 1, // waiting for RetryConnect
    AST_SOCK_CLIENT_STARTED = 3,
    AST_SOCK_CLIENT_SOCKET = 4, // socket created
    AST_SOCK_CLIENT_CONNECTING = 5,
    AST_SOCK_CLIENT_CONNECTED = 6,
};

// Limits of the client in microseconds of the kit timer.
constexpr uint64_t AST_SOCK_CLIENT_CONNECT_LIMIT = 3000000;
constexpr uint64_t AST_SOCK_CLIENT_IO_LIMIT = 5000000;

class LUMIVOR_EXPORT AstSockClient : public CvkBase {
public:
    AstSockClient(AstSockVersion version, const char* host, int32_t port);
    // Asks for the interface version major.minor.
    AstSockClient(uint8_t major, uint8_t minor, const char* host, int32_t port);
    ~AstSockClient() override;
    AstSockClient(const AstSockClient&) = delete;
    AstSockClient& operator=(const AstSockClient&) = delete;

    // One step of connecting, sending and receiving; nothing while the
    // Error flag is set.
    void MainProc();

    // Stores a frame to send (send state 1); 0 when the frame is refused or
    // while another one is on the wire.
    int32_t SendData(uint32_t type, const void* data, uint32_t size);

    int32_t IsConnected() const { return m_state == AST_SOCK_CLIENT_CONNECTED; }
    // The socket is readable / writable now.
    int32_t IsEnableRecv() const;
    int32_t IsEnableSend() const;
    // The client was made for this host and port.
    int32_t IsSameConnect(const char* host, int32_t port) const;

    int32_t CheckSendFinish() const { return m_sender.GetState() == AST_SOCK_SEND_DONE; }
    int32_t CheckSendError() const { return m_sender.GetState() == AST_SOCK_SEND_ERROR; }
    int32_t CheckRecvFinish() const { return m_reader.GetState() == AST_SOCK_RECV_COMPLETE; }
    int32_t CheckRecvError() const { return m_reader.GetState() == AST_SOCK_RECV_ERROR; }
    // A complete frame: wait for the next one (the payload is kept until then).
    void RestartRecv() { m_reader.RestartAfterFrame(); }
    // Frees the received frame and waits for the next one.
    void DestroyRecvData() { m_reader.DestroyCompleteFrame(); }
    // Only while connected and in error: clear the Error flag, the state and
    // the socket error.
    void ResetSendError();
    void ResetRecvError();
    // Only in error and in states 1, 3, 4 or 5: close the socket and start
    // connecting again (state 3). 1 when done.
    int32_t RetryConnect();

    int32_t IsConnectTimeout() const { return CheckError() && m_state == AST_SOCK_CLIENT_TIMED_OUT; }
    int32_t IsConnecting() const { return m_state == AST_SOCK_CLIENT_CONNECTED; }
    // A socket error other than would-block is recorded, and the error kind
    // is not a time-out.
    int32_t IsErrorOtherTimeout() const;
    int32_t IsExecSend() const;
    int32_t IsExecRecv() const;
    // Error kind: AST_SOCK_ERROR_* (1 time-out, 2 bad tag, 3 out of memory).
    int32_t GetError() const { return m_error; }
    // Last socket error, numbered as in the diagnostic table.
    int32_t GetSocketError() const { return m_socketError; }

    int32_t GetState() const { return m_state; }
    int32_t GetSendState() const { return m_sender.GetState(); }
    int32_t GetRecvState() const { return m_reader.GetState(); }
    const CvString& GetHostName() const { return m_host; }
    int32_t GetPortNo() const { return m_port; }
    // The received frame (payload followed by a zero byte).
    uint32_t GetRecvType() const { return m_reader.GetType(); }
    uint32_t GetRecvLength() const { return m_reader.GetLength(); }
    const uint8_t* GetRecvData() const { return m_reader.GetPayload(); }

    // Limits in microseconds (for tests and slow links).
    void SetLimits(uint64_t connectLimit, uint64_t ioLimit);
    void SetMaxRecvPayload(uint32_t maxPayload) { m_reader.SetMaxPayload(maxPayload); }
    // Blocks up to timeoutMs until the socket can make progress; for loops
    // that have nothing else to do between calls of MainProc.
    void WaitEvent(int32_t timeoutMs) const;

    // Installs the GUI logger of all socket classes (see AstSockLog.h).
    static void SetGUILogger(AstSockGUILogger logger) { AstSockSetGUILogger(logger); }

private:
    void _init(const char* host, int32_t port);
    void _startConnect();
    void _waitConnect();
    void _sendProc();
    void _recvProc();
    void _socketFailed(const char* where, int32_t code);
    void _closeSocket();

    PlatformSocket m_socket;
    int32_t m_state;
    CvString m_host;
    int32_t m_port;
    AstSockSender m_sender;
    AstSockFrameReader m_reader;
    int32_t m_socketError;
    int32_t m_error;
    uint64_t m_connectStartTime;
    uint64_t m_connectLimit;
    uint64_t m_ioLimit;
};
