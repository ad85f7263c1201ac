#pragma once
// AstDdeServer: a named service of this process on the local transport.
//
// Create registers the service under the base name of the executable (no
// directory, no extension) unless SetServiceName chose another before, and
// enters the server in the process's table of AST_DDE_SERVER_MAX slots.
// A name already in the table or served by a live process is refused; a
// stale socket left by a dead one is replaced. A server has at most one
// current connection: a new client replaces it. Derived servers override
// OnPoke to take the data the connection received.

#include "commu/AstDde.h"
#include "commu/AstDdeConnection.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

class LUMIVOR_EXPORT AstDdeServer : public CvkBase {
public:
    AstDdeServer();
    ~AstDdeServer() override;
    AstDdeServer(const AstDdeServer&) = delete;
    AstDdeServer& operator=(const AstDdeServer&) = delete;

    // Non-zero (acknowledged) when connection is this server's current one.
    virtual int OnPoke(const char* item, AstDdeConnection* connection);

    // The name to serve under instead of the executable's (before Create;
    // null goes back to the executable's). 0 for a name of 256 bytes or more.
    int SetServiceName(const char* name);
    // 1 or 0; on failure nothing stays registered.
    int Create();
    void Destroy();
    // The registered name (empty before Create).
    const char* GetServiceName() const { return m_serviceName != nullptr ? m_serviceName : ""; }
    bool IsCreated() const { return m_listenFd >= 0; }

    AstDdeConnection* GetConnection() const { return m_connection; }
    // The current connection when its conversation is the given one, else null.
    AstDdeConnection* FindConnection(AstDdeConv conversation) const;
    // A new, empty connection (owned by the caller until SetConnection).
    AstDdeConnection* MakeConnection(const char* topic);
    // Makes connection the current one, deleting the previous.
    void SetConnection(AstDdeConnection* connection);
    void DestroyConnection();

    // For the transport: the listening socket of a created server.
    int GetListenFd() const { return m_listenFd; }

private:
    int _enterTable();
    void _leaveTable();

    AstDdeConnection* m_connection = nullptr;
    int m_listenFd = -1;            // stands in for the registered service-name handle
    int m_lockFd = -1;
    char* m_serviceName = nullptr;  // AST_DDE_NAME_SIZE bytes from the system heap
    char* m_requestedName = nullptr;
};
