#include "commu/AstDdeServer.h"
#include "commu/AstDdeTransport.h"
#include "kit/CvkHeap.h"
#include "platform/PlatformLocalBus.h"

#include <cstring>
#include <string>

namespace {

char* NewName(const char* text)
{
    auto* name = static_cast<char*>(t_cvkSystemHeapAlloc(AST_DDE_NAME_SIZE, 0, __FILE__, __LINE__));
    if (name != nullptr) {
        std::strncpy(name, text, AST_DDE_NAME_SIZE - 1);
        name[AST_DDE_NAME_SIZE - 1] = 0;
    }
    return name;
}

void FreeName(char*& name)
{
    if (name != nullptr) {
        t_cvkSystemHeapFree(name, __FILE__, __LINE__);
    }
    name = nullptr;
}

} // namespace

AstDdeServer::AstDdeServer()
{
    SetTag(0x41444453); // "ADDS"
}

AstDdeServer::~AstDdeServer()
{
    Destroy();
    FreeName(m_requestedName);
}

int AstDdeServer::OnPoke(const char*, AstDdeConnection* connection)
{
    return connection != nullptr && connection == m_connection ? 1 : 0;
}

int AstDdeServer::SetServiceName(const char* name)
{
    FreeName(m_requestedName);
    if (name == nullptr) {
        return 1;
    }
    if (std::strlen(name) >= AST_DDE_NAME_SIZE) {
        return 0;
    }
    m_requestedName = NewName(name);
    return m_requestedName != nullptr ? 1 : 0;
}

int AstDdeServer::Create()
{
    if (IsCreated() || !AstIsInitDde()) {
        SetError();
        return 0;
    }
    const std::string executable = PlatformExecutableBaseName();
    m_serviceName = NewName(m_requestedName != nullptr ? m_requestedName : executable.c_str());
    if (m_serviceName == nullptr || m_serviceName[0] == 0 || AstDdeTableFind(m_serviceName) != nullptr) {
        FreeName(m_serviceName);
        SetError();
        return 0;
    }
    PlatformServiceError error = PLATFORM_SERVICE_OK;
    m_listenFd = PlatformServiceListen(m_serviceName, &m_lockFd, &error);
    if (m_listenFd < 0 || AstDdeTableEnter(this) == 0) {
        Destroy();
        SetError();
        return 0;
    }
    ResetError();
    return 1;
}

void AstDdeServer::Destroy()
{
    if (m_listenFd >= 0) {
        AstDdeTableLeave(this);
        PlatformServiceUnlisten(m_serviceName, m_listenFd, m_lockFd);
    }
    m_listenFd = -1;
    m_lockFd = -1;
    FreeName(m_serviceName);
    DestroyConnection();
}

AstDdeConnection* AstDdeServer::FindConnection(AstDdeConv conversation) const
{
    if (m_connection != nullptr && conversation != 0 && m_connection->GetConversation() == conversation) {
        return m_connection;
    }
    return nullptr;
}

AstDdeConnection* AstDdeServer::MakeConnection(const char*)
{
    return new AstDdeConnection();
}

void AstDdeServer::SetConnection(AstDdeConnection* connection)
{
    if (connection != m_connection) {
        delete m_connection;
    }
    m_connection = connection;
}

void AstDdeServer::DestroyConnection()
{
    SetConnection(nullptr);
}
