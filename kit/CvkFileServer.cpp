#include "kit/CvkFileServer.h"

#include "kit/CvkHeap.h"

CvkFileServer::CvkFileServer() : m_protocols(nullptr), m_current(nullptr), m_connections(nullptr), m_lastId(0), m_work(0)
{
    SetTag(0x434B4653); // "CKFS"
    m_current = static_cast<Protocol*>(t_cvkMainHeapAlloc(sizeof(Protocol), 0, __FILE__, __LINE__));
    if (m_current == nullptr) {
        SetError();
        return;
    }
    *m_current = Protocol{nullptr, nullptr, nullptr};
}

CvkFileServer::~CvkFileServer()
{
    // The protocol objects belong to their files; only the records go.
    while (m_connections != nullptr) {
        Connection* next = m_connections->next;
        t_cvkMainHeapFree(m_connections, __FILE__, __LINE__);
        m_connections = next;
    }
    while (m_protocols != nullptr) {
        Protocol* next = m_protocols->next;
        t_cvkMainHeapFree(m_protocols, __FILE__, __LINE__);
        m_protocols = next;
    }
    if (m_current != nullptr) {
        t_cvkMainHeapFree(m_current, __FILE__, __LINE__);
    }
}

int CvkFileServer::AttachCurrentProtocol(CvkFileProtocolSetUp setUp, CvkFileProtocolCheck check)
{
    if (m_current == nullptr) {
        return 0;
    }
    m_current->setUp = setUp;
    m_current->check = check;
    return 1;
}

int CvkFileServer::AttachProtocol(CvkFileProtocolSetUp setUp, CvkFileProtocolCheck check)
{
    auto* entry = static_cast<Protocol*>(t_cvkMainHeapAlloc(sizeof(Protocol), 0, __FILE__, __LINE__));
    if (entry == nullptr) {
        return 0;
    }
    *entry = Protocol{setUp, check, nullptr};
    Protocol** tail = &m_protocols;
    while (*tail != nullptr) {
        tail = &(*tail)->next;
    }
    *tail = entry;
    return 1;
}

CvkFileProtocolSetUp CvkFileServer::GetProtocol(const char* path)
{
    for (Protocol* p = m_protocols; p != nullptr; p = p->next) {
        if (p->check != nullptr && p->check(path) != 0) {
            return p->setUp;
        }
    }
    return m_current != nullptr ? m_current->setUp : nullptr;
}

uint32_t CvkFileServer::ConnectStart(CvkFcpBase* object)
{
    auto* connection = static_cast<Connection*>(t_cvkMainHeapAlloc(sizeof(Connection), 0, __FILE__, __LINE__));
    if (connection == nullptr) {
        return 0;
    }
    ++m_lastId;
    if (m_lastId == 0) { // 0 means failure; skip it when the counter wraps
        ++m_lastId;
    }
    *connection = Connection{object, m_lastId, nullptr, nullptr};
    if (m_connections == nullptr) {
        m_connections = connection;
    } else {
        Connection* last = m_connections;
        while (last->next != nullptr) {
            last = last->next;
        }
        last->next = connection;
        connection->previous = last;
    }
    return connection->id;
}

void CvkFileServer::ConnectFinish(uint32_t id)
{
    for (Connection* c = m_connections; c != nullptr; c = c->next) {
        if (c->id != id) {
            continue;
        }
        if (c->previous != nullptr) {
            c->previous->next = c->next;
        } else {
            m_connections = c->next;
        }
        if (c->next != nullptr) {
            c->next->previous = c->previous;
        }
        t_cvkMainHeapFree(c, __FILE__, __LINE__);
        return;
    }
}

void CvkFileServer::ServerExec()
{
    m_work = 0;
    for (Connection* c = m_connections; c != nullptr;) {
        Connection* next = c->next; // a protocol may end its own connection
        if (c->object != nullptr) {
            c->object->ServerExec();
        }
        c = next;
    }
}
