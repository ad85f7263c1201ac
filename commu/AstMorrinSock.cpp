#include "commu/AstMorrinSock.h"

AstMorrinSock::AstMorrinSock(int32_t port)
    : m_server(new AstSockServerForMorrin(AST_SOCK_VERSION_2_2, port))
{
    if (m_server == nullptr || m_server->CheckError()) {
        SetError();
    }
}

AstMorrinSock::~AstMorrinSock()
{
    delete m_server;
}

void AstMorrinSock::ServerPre()
{
    AstMorrinBase::ServerPre();
    if (m_server != nullptr) {
        m_server->MainProc();
    }
}

const char* AstMorrinSock::GetReceivedData()
{
    return m_server != nullptr ? m_server->GetCommandText() : nullptr;
}

void AstMorrinSock::DestroyReceivedData()
{
    if (m_server != nullptr) {
        m_server->ReleaseCommandText();
    }
}

int32_t AstMorrinSock::SendToVeldra(AstCommandNode* command)
{
    if (m_server == nullptr) {
        return 1;
    }
    const CvString& text = command->GetText();
    return m_server->SendData(AST_SOCK_TYPE_COMMAND, text.GetBuffer(), static_cast<uint32_t>(text.GetLength() + 1));
}
