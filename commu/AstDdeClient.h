#pragma once
// AstDdeClient: one conversation with a service of the local transport.
//
// Poke is asynchronous: it returns 1 once the data is handed to the
// service's connection, without waiting for the handler. The service's
// answers (processed / not processed) queue up on the conversation and are
// read with WaitPokeResult, oldest first. A poke larger than the socket's
// buffer waits for the service to read it (at most 10 s without progress),
// so a service of the same thread takes only pokes that fit the buffer.

#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>
#include <deque>

class PlatformBusPeer;

// Results of WaitPokeResult.
enum : int {
    AST_DDE_POKE_NO_ANSWER = -1,
    AST_DDE_POKE_NOT_PROCESSED = 0,
    AST_DDE_POKE_PROCESSED = 1,
};

class LUMIVOR_EXPORT AstDdeClient : public CvkBase {
public:
    AstDdeClient();
    ~AstDdeClient() override;
    AstDdeClient(const AstDdeClient&) = delete;
    AstDdeClient& operator=(const AstDdeClient&) = delete;

    // 1 or 0. A live conversation with the same service and topic is kept;
    // one with another service, or whose service has gone, is ended first.
    int Connect(const char* service, const char* topic);
    void Disconnect();
    bool IsConnected() const { return m_conversation >= 0; }
    // Sends text with its terminating zero under the item name service, on
    // a conversation whose topic is service. 0 for a null service or text,
    // an absent service or a broken connection.
    int Poke(const char* service, const char* text);
    // The same with raw bytes (size bytes, no zero added).
    int PokeData(const char* service, const void* data, uint32_t size);
    // The oldest unread answer, waiting up to timeoutMs for one.
    int WaitPokeResult(int timeoutMs);

private:
    int _fail(int step);
    bool _sendFrame(uint32_t kind, const void* body, uint32_t size);
    void _readAnswers();

    int m_conversation = -1;          // the connected socket
    PlatformBusPeer* m_peer = nullptr; // reads the answers coming back on it
    CvString m_service;               // stand-ins for the string handles
    CvString m_topic;
    CvString m_item;
    std::deque<int> m_answers;
};
