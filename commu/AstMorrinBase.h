#pragma once
// AstMorrinBase: the Morrin tool's end of the tool communication, a
// CvkVeldra whose per-frame hooks move commands in and out:
//
//   ServerPre   a received command text is parsed and its messages read
//               into the receive buffer; last frame's sent messages go
//   ServerPost  when the send buffer holds a message for the tool (3), it
//               travels in the last command, addressed to the application
//               (1), through SendToVeldra; the received messages go
//
// Derived classes give it a transport: GetReceivedData /
// DestroyReceivedData for what arrived, SendToVeldra for what leaves.

#include "commu/AstCommandNode.h"
#include "kit/CvkVeldra.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class LUMIVOR_EXPORT AstMorrinBase : public CvkVeldra {
public:
    AstMorrinBase(int32_t sendCount = CVK_MESSAGE_BUFFER_DEFAULT_SLOTS,
                  int32_t receiveCount = CVK_MESSAGE_BUFFER_DEFAULT_SLOTS);
    ~AstMorrinBase() override;

    void ServerPre() override;
    void ServerPost() override;
    // The text received since the last frame, or null.
    virtual const char* GetReceivedData() { return nullptr; }
    virtual void DestroyReceivedData() {}
    // Hands a command to the runtime's side; 1 or 0.
    virtual int32_t SendToVeldra(AstCommandNode* command);

    // The last received command.
    AstCommandNode* GetCommandNode() { return &m_command; }

protected:
    AstCommandNode m_command;
};
