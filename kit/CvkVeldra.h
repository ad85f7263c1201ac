#pragma once
// CvkVeldra: the link to the external tool, a pair of message buffers - one
// for sending, one for receiving - and four per-frame hooks.
//
// The hooks are empty here; the communication classes derive from CvkVeldra
// and fill them: ServerPre reads what the tool sent into the receive buffer
// and drops last frame's sent messages, ServerExec/ServerDraw let the runtime
// read messages and post replies, ServerPost hands the send buffer to the
// transport when it holds a message for the tool and drops the received ones.

#include "kit/CvkBase.h"
#include "kit/CvkMessageBuffer.h"
#include "platform/PlatformExport.h"

#include <cstdint>

// Addressee and sender numbers the link itself uses.
constexpr uint32_t CVK_MESSAGE_ADDRESS_TRANSPORT = 1; // the transport that carries a send buffer
constexpr uint32_t CVK_MESSAGE_ADDRESS_TOOL = 3;      // the external tool
constexpr uint32_t CVK_MESSAGE_ADDRESS_RUNTIME = 9;   // the runtime side of the link

class LUMIVOR_EXPORT CvkVeldra : public CvkBase {
public:
    // Both counts must be at least 1; otherwise, or when a buffer cannot be
    // made, the link has no buffers and carries the Error flag.
    CvkVeldra(int32_t sendCount = CVK_MESSAGE_BUFFER_DEFAULT_SLOTS,
              int32_t receiveCount = CVK_MESSAGE_BUFFER_DEFAULT_SLOTS);
    ~CvkVeldra() override;
    CvkVeldra(const CvkVeldra&) = delete;
    CvkVeldra& operator=(const CvkVeldra&) = delete;

    virtual void ServerPre() {}
    virtual void ServerExec() {}
    virtual void ServerDraw() {}
    virtual void ServerPost() {}

    CvkMessageBuffer* GetSendMessageBuffer() { return sendBuffer; }
    CvkMessageBuffer* GetReceiveMessageBuffer() { return receiveBuffer; }

    // Posts a message from the runtime to the tool into the send buffer;
    // 0 when it is full or missing.
    int32_t SetSendMessage(uint32_t msg, CvVariant p0 = CvVariant(), CvVariant p1 = CvVariant(),
                           CvVariant p2 = CvVariant(), CvVariant p3 = CvVariant(), CvVariant p4 = CvVariant());

private:
    void _releaseBuffers();

    CvkMessageBuffer* sendBuffer;
    CvkMessageBuffer* receiveBuffer;
};
