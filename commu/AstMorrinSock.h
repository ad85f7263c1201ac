#pragma once
// AstMorrinSock: the Morrin tool reached over a socket. A socket server
// (port 7743 unless another is given) takes file names, files and command
// texts from one application at a time; each frame the next command text
// longer than one character is received, and answers go back to the
// application as command frames over the same connection.

#include "commu/AstMorrinBase.h"
#include "commu/AstSockServerForMorrin.h"
#include "platform/PlatformExport.h"

#include <cstdint>

constexpr int32_t AST_MORRIN_SOCK_PORT = 7743;

class LUMIVOR_EXPORT AstMorrinSock : public AstMorrinBase {
public:
    explicit AstMorrinSock(int32_t port = AST_MORRIN_SOCK_PORT);
    ~AstMorrinSock() override;

    // The base step, then one step of the socket server.
    void ServerPre() override;
    const char* GetReceivedData() override;
    void DestroyReceivedData() override;
    // Sends the command text back to the connected application (1 also
    // when there is no server).
    int32_t SendToVeldra(AstCommandNode* command) override;

    AstSockServerForMorrin* GetSocketServer() { return m_server; }

private:
    AstSockServerForMorrin* m_server;
};
