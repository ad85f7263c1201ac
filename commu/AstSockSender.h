#pragma once
// AstSockSender: one frame on its way out of a non-blocking socket, for the
// client and the server alike.
//
// A stored frame (send state 1) starts at the next step (2, "送信中…") and
// goes out as fast as the socket takes it, over as many steps as it needs.
// It ends done (4) when the last byte is out, or in error (-1) when a write
// fails or when no byte has gone out for the owner's limit. What an error
// means for the link (an Error flag, a dropped peer) is the owner's choice.

#include "commu/AstSockSendData.h"
#include "platform/PlatformSocket.h"

#include <cstdint>

// Send states (client and server).
enum : int32_t {
    AST_SOCK_SEND_IDLE = 0,
    AST_SOCK_SEND_SET = 1, // a frame is waiting
    AST_SOCK_SEND_SENDING = 2,
    AST_SOCK_SEND_DONE = 4,
    AST_SOCK_SEND_ERROR = -1,
};

// What one step of sending came to.
enum AstSockSendStep : int32_t {
    AST_SOCK_SEND_STEP_IDLE,      // no frame on the wire
    AST_SOCK_SEND_STEP_PENDING,   // bytes remain; the socket takes no more now
    AST_SOCK_SEND_STEP_DONE,      // the last byte went out
    AST_SOCK_SEND_STEP_FAILED,    // a write failed (GetSocketError)
    AST_SOCK_SEND_STEP_TIMED_OUT, // nothing went out for the limit
};

class AstSockSender {
public:
    // Stores a frame to send (send state 1); 0 when the frame is refused or
    // while another one is on the wire (it must not be replaced halfway).
    int32_t SetData(uint32_t type, const void* data, uint32_t size);
    // One step at `now` (kit timer): a stored frame starts, then what the
    // socket takes now is written; `limit` is the time without progress
    // after which the frame has timed out.
    AstSockSendStep Step(PlatformSocket socket, uint64_t now, uint64_t limit);

    int32_t GetState() const { return m_state; }
    // True when the last step wrote at least one byte.
    bool Wrote() const { return m_wrote; }
    // The socket error of a failed write.
    int32_t GetSocketError() const { return m_socketError; }
    // Back to the idle state; the frame's bytes stay until Release or the
    // next frame.
    void SetIdle() { m_state = AST_SOCK_SEND_IDLE; }
    void Release() { m_data.Release(); }

private:
    AstSockSendData m_data;
    int32_t m_state = AST_SOCK_SEND_IDLE;
    uint32_t m_sent = 0;
    uint64_t m_progressTime = 0;
    int32_t m_socketError = 0;
    bool m_wrote = false;
};
