#pragma once
// The file server: the registered protocols (a list plus a fallback
// "current" protocol) and the list of connected protocol objects.

#include "kit/CvkBase.h"
#include "kit/CvkFcpBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class LUMIVOR_EXPORT CvkFileServer : public CvkBase {
public:
    struct Protocol {
        CvkFileProtocolSetUp setUp;
        CvkFileProtocolCheck check;
        Protocol* next;
    };
    struct Connection {
        CvkFcpBase* object;
        uint32_t id;
        Connection* previous;
        Connection* next;
    };

    // Allocates the current entry from the main heap; Error flag when that fails.
    CvkFileServer();
    ~CvkFileServer() override;
    CvkFileServer(const CvkFileServer&) = delete;
    CvkFileServer& operator=(const CvkFileServer&) = delete;

    // Sets the fallback protocol; 0 when the server has no current entry.
    int AttachCurrentProtocol(CvkFileProtocolSetUp setUp, CvkFileProtocolCheck check);
    // Appends a protocol; 0 when the entry cannot be allocated.
    int AttachProtocol(CvkFileProtocolSetUp setUp, CvkFileProtocolCheck check);
    // The factory of the first listed protocol that accepts path, else the
    // current protocol's, else null.
    CvkFileProtocolSetUp GetProtocol(const char* path);
    // Registers a connection; its id, or 0 when it cannot be allocated.
    uint32_t ConnectStart(CvkFcpBase* object);
    // Unlinks the connection with that id; unknown ids are ignored.
    void ConnectFinish(uint32_t id);
    // Calls ServerExec of every connected protocol object.
    void ServerExec();

private:
    Protocol* m_protocols;
    Protocol* m_current;
    Connection* m_connections;
    uint32_t m_lastId;
    uint32_t m_work;
};
