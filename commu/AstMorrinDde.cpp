#include "commu/AstMorrinDde.h"
#include "commu/AstCommuNode.h"

int AstMorrinDdeServer::OnPoke(const char* item, AstDdeConnection* connection)
{
    if (AstDdeServer::OnPoke(item, connection) == 0) {
        return 0;
    }
    m_texts.push_back(CvString(connection->GetText()));
    connection->DestroyData();
    return 1;
}

void AstMorrinDdeServer::PopText()
{
    if (!m_texts.empty()) {
        m_texts.pop_front();
    }
}

AstMorrinDde::AstMorrinDde(const char* serviceName)
{
    if (CheckError()) {
        return;
    }
    if (!AstIsInitDde()) {
        m_ownsDde = AstInitDde() != 0;
    }
    if (m_server.SetServiceName(serviceName) == 0 || m_server.Create() == 0) {
        SetError();
    }
}

AstMorrinDde::~AstMorrinDde()
{
    m_server.Destroy();
    m_veldraClient.Disconnect();
    if (m_ownsDde) {
        AstExitDde();
    }
}

const char* AstMorrinDde::GetReceivedData()
{
    return m_server.GetText();
}

void AstMorrinDde::DestroyReceivedData()
{
    m_server.PopText();
}

int32_t AstMorrinDde::SendToVeldra(AstCommandNode* command)
{
    const CvString service = AstCommuNode(command->GetCommuNode()).GetVeldraDdeName();
    if (service.GetLength() == 0) {
        return 0;
    }
    return m_veldraClient.Poke(service.GetBuffer(), command->GetText().GetBuffer());
}
