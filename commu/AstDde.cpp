// The local transport's process-wide state and its callback: the table of
// servers, the open conversations, and one case per transaction.
#include "commu/AstDde.h"
#include "commu/AstDdeServer.h"
#include "commu/AstDdeTransport.h"
#include "commu/AstMessageLoop.h"
#include "kit/CvkLog.h"
#include "platform/PlatformLocalBus.h"
#include "platform/PlatformMessageLoop.h"

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The transactions the callback handles.
enum AstDdeTransaction {
    AST_DDE_CONNECT,         // a client asks for service and topic
    AST_DDE_CONNECT_CONFIRM, // the accepted conversation is established
    AST_DDE_POKE,            // data arrived under an item name
    AST_DDE_DISCONNECT,      // the client went away
};

struct Conversation {
    AstDdeConv id;
    PlatformBusPeer peer;
};

struct Transport {
    bool initialised = false;
    std::thread::id owner;
    AstDdeServer* servers[AST_DDE_SERVER_MAX] = {};
    std::map<int, std::unique_ptr<Conversation>> conversations; // by socket
    AstDdeConv nextConversation = 1;
    AstDdeConnection* pending = nullptr; // accepted, waiting for its confirmation
};

Transport& TheTransport()
{
    static Transport transport;
    return transport;
}

AstDdeServer* FindServerByConversation(AstDdeConv conversation)
{
    for (AstDdeServer* server : TheTransport().servers) {
        if (server != nullptr && server->FindConnection(conversation) != nullptr) {
            return server;
        }
    }
    return nullptr;
}

int OnConnect(const char* service, const char* topic)
{
    AstDdeServer* server = AstDdeTableFind(service);
    if (server == nullptr) {
        return 0;
    }
    AstDdeConnection* connection = server->MakeConnection(topic);
    if (connection == nullptr) {
        return 0;
    }
    server->SetConnection(connection);
    TheTransport().pending = connection;
    return 1;
}

int OnConnectConfirm(AstDdeConv conversation)
{
    Transport& t = TheTransport();
    if (t.pending != nullptr) {
        t.pending->SetConversation(conversation);
        t.pending = nullptr;
    }
    return 0;
}

int OnPoke(AstDdeConv conversation, const char* item, const uint8_t* data, uint32_t size)
{
    AstDdeServer* server = FindServerByConversation(conversation);
    if (server == nullptr) {
        return 0;
    }
    AstDdeConnection* connection = server->FindConnection(conversation);
    uint8_t* buffer = connection->CreateData(size);
    if (buffer == nullptr) {
        return 0;
    }
    std::memcpy(buffer, data, size);
    char itemName[AST_DDE_ITEM_MAX];
    std::strncpy(itemName, item, sizeof(itemName) - 1);
    itemName[sizeof(itemName) - 1] = 0;
    return server->OnPoke(itemName, connection) > 0 ? 1 : 0;
}

int OnDisconnect(AstDdeConv conversation)
{
    if (AstDdeServer* server = FindServerByConversation(conversation)) {
        server->DestroyConnection();
    }
    return 0;
}

// One case per transaction; every other transaction is answered with 0.
int Callback(AstDdeTransaction type, AstDdeConv conversation, const char* name1, const char* name2,
             const uint8_t* data, uint32_t size)
{
    switch (type) {
    case AST_DDE_CONNECT: return OnConnect(name1, name2);
    case AST_DDE_CONNECT_CONFIRM: return OnConnectConfirm(conversation);
    case AST_DDE_POKE: return OnPoke(conversation, name2, data, size);
    case AST_DDE_DISCONNECT: return OnDisconnect(conversation);
    }
    return 0;
}

// Splits "a\0b\0rest": false unless both texts end inside the body.
bool SplitNames(const std::vector<uint8_t>& body, const char** first, const char** second, size_t* restStart)
{
    if (body.empty()) {
        return false;
    }
    const char* text = reinterpret_cast<const char*>(body.data());
    const void* end1 = std::memchr(text, 0, body.size());
    if (end1 == nullptr) {
        return false;
    }
    const size_t start2 = static_cast<const char*>(end1) - text + 1;
    const void* end2 = std::memchr(text + start2, 0, body.size() - start2);
    if (end2 == nullptr) {
        return false;
    }
    *first = text;
    *second = text + start2;
    *restStart = static_cast<const char*>(end2) - text + 1;
    return true;
}

void CloseConversation(int fd)
{
    Transport& t = TheTransport();
    auto it = t.conversations.find(fd);
    if (it == t.conversations.end()) {
        return;
    }
    const AstDdeConv id = it->second->id;
    PlatformLoopUnwatch(fd);
    t.conversations.erase(it);
    close(fd);
    Callback(AST_DDE_DISCONNECT, id, nullptr, nullptr, nullptr, 0);
}

// Handles one frame; false when the conversation must end.
bool HandleFrame(Conversation& c, uint32_t kind, const std::vector<uint8_t>& body)
{
    const char* name1 = nullptr;
    const char* name2 = nullptr;
    size_t rest = 0;
    const bool named = SplitNames(body, &name1, &name2, &rest);
    if (kind == PLATFORM_BUS_CONNECT) {
        if (!named || Callback(AST_DDE_CONNECT, c.id, name1, name2, nullptr, 0) == 0) {
            const uint8_t refused = PLATFORM_BUS_ANSWER_REFUSED;
            c.peer.Send(PLATFORM_BUS_ANSWER, &refused, 1);
            return false;
        }
        Callback(AST_DDE_CONNECT_CONFIRM, c.id, name1, name2, nullptr, 0);
        return true;
    }
    if (kind == PLATFORM_BUS_POKE) {
        const int processed =
            named ? Callback(AST_DDE_POKE, c.id, name1, name2, body.data() + rest, static_cast<uint32_t>(body.size() - rest))
                  : 0;
        // A client that left after poking misses its answer; the pokes it
        // sent before leaving are still handled.
        const uint8_t answer = processed ? PLATFORM_BUS_ANSWER_PROCESSED : PLATFORM_BUS_ANSWER_NOT_PROCESSED;
        c.peer.Send(PLATFORM_BUS_ANSWER, &answer, 1);
        return true;
    }
    return false;
}

void OnConversationReadable(int fd, void*)
{
    auto it = TheTransport().conversations.find(fd);
    if (it == TheTransport().conversations.end()) {
        return;
    }
    Conversation& c = *it->second;
    // Frames that came before the client closed are still handled.
    const bool filled = c.peer.Fill() && c.peer.Flush();
    bool open = true;
    uint32_t kind = 0;
    std::vector<uint8_t> body;
    while (open && c.peer.NextFrame(&kind, &body)) {
        open = HandleFrame(c, kind, body);
    }
    if (!open || !filled) {
        CloseConversation(fd);
    }
}

void OnListenerReadable(int listenFd, void*)
{
    Transport& t = TheTransport();
    for (int fd; (fd = PlatformServiceAccept(listenFd)) >= 0;) {
        auto conversation = std::make_unique<Conversation>(Conversation{t.nextConversation++, PlatformBusPeer(fd)});
        if (t.nextConversation == 0) {
            t.nextConversation = 1;
        }
        t.conversations[fd] = std::move(conversation);
        PlatformLoopWatch(fd, OnConversationReadable, nullptr);
    }
}

} // namespace

int AstInitDde()
{
    Transport& t = TheTransport();
    if (t.initialised) {
        return 1;
    }
    for (AstDdeServer*& server : t.servers) {
        server = nullptr;
    }
    if (PlatformServiceDir().empty()) {
        CvkLogPrint("[DDE] the service directory cannot be used\n");
        AstExitDde();
        return 0;
    }
    t.owner = std::this_thread::get_id();
    t.initialised = true;
    return 1;
}

int AstIsInitDde()
{
    return TheTransport().initialised ? 1 : 0;
}

int AstExitDde()
{
    Transport& t = TheTransport();
    for (AstDdeServer* server : t.servers) {
        if (server != nullptr) {
            server->Destroy();
        }
    }
    std::vector<int> open;
    for (const auto& entry : t.conversations) {
        open.push_back(entry.first);
    }
    for (int fd : open) {
        CloseConversation(fd);
    }
    for (AstDdeServer*& server : t.servers) {
        server = nullptr;
    }
    t.pending = nullptr;
    t.initialised = false;
    return 1;
}

int AstDdeTableEnter(AstDdeServer* server)
{
    Transport& t = TheTransport();
    if (!t.initialised || AstDdeTableFind(server->GetServiceName()) != nullptr) {
        return 0;
    }
    for (AstDdeServer*& slot : t.servers) {
        if (slot == nullptr) {
            slot = server;
            PlatformLoopWatch(server->GetListenFd(), OnListenerReadable, nullptr);
            return 1;
        }
    }
    return 0;
}

void AstDdeTableLeave(AstDdeServer* server)
{
    Transport& t = TheTransport();
    for (AstDdeServer*& slot : t.servers) {
        if (slot == server) {
            slot = nullptr;
            PlatformLoopUnwatch(server->GetListenFd());
        }
    }
    if (t.pending != nullptr && t.pending == server->GetConnection()) {
        t.pending = nullptr;
    }
}

AstDdeServer* AstDdeTableFind(const char* name)
{
    if (name == nullptr) {
        return nullptr;
    }
    for (AstDdeServer* server : TheTransport().servers) {
        if (server != nullptr && std::strcmp(server->GetServiceName(), name) == 0) {
            return server;
        }
    }
    return nullptr;
}

int AstProcessMessages(int timeoutMs)
{
    Transport& t = TheTransport();
    if (t.initialised && t.owner != std::this_thread::get_id()) {
        return 0;
    }
    return PlatformLoopRun(timeoutMs);
}

uint32_t AstSetTimer(uint32_t intervalMs, AstTimerProc proc, void* context)
{
    return PlatformLoopSetTimer(intervalMs, proc, context);
}

void AstKillTimer(uint32_t id)
{
    PlatformLoopKillTimer(id);
}
