#include "commu/AstDdeClient.h"
#include "commu/AstDde.h"
#include "kit/CvkLog.h"
#include "platform/PlatformLocalBus.h"

#include <cstring>
#include <new>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

// How long a poke may find the service's connection full before it fails.
constexpr int kPokeStallLimitMs = 10000;
// Answers kept unread before the oldest are dropped.
constexpr size_t kAnswersKept = 4096;

} // namespace

AstDdeClient::AstDdeClient()
{
    SetTag(0x41444443); // "ADDC"
}

AstDdeClient::~AstDdeClient()
{
    Disconnect();
}

int AstDdeClient::_fail(int step)
{
    CvkLogPrint("[DDE] client error %d\n", step);
    Disconnect();
    return 0;
}

int AstDdeClient::Connect(const char* service, const char* topic)
{
    if (service == nullptr || topic == nullptr) {
        return _fail(1);
    }
    // A live conversation with the same service and topic is kept; one with
    // another service (or whose service has gone) is ended first.
    if (m_conversation >= 0) {
        // Reading the answers also notices a service that has gone.
        _readAnswers();
        if (m_conversation >= 0 && m_service == service && m_topic == topic) {
            return 1;
        }
        Disconnect();
    }
    m_service = service;
    m_topic = topic;
    m_conversation = PlatformServiceConnect(service);
    if (m_conversation < 0) {
        return _fail(2);
    }
    m_peer = new (std::nothrow) PlatformBusPeer(m_conversation);
    if (m_peer == nullptr) {
        return _fail(3);
    }
    std::vector<uint8_t> body(service, service + std::strlen(service) + 1);
    body.insert(body.end(), topic, topic + std::strlen(topic) + 1);
    if (!_sendFrame(PLATFORM_BUS_CONNECT, body.data(), static_cast<uint32_t>(body.size()))) {
        return _fail(4);
    }
    return 1;
}

void AstDdeClient::Disconnect()
{
    delete m_peer;
    m_peer = nullptr;
    if (m_conversation >= 0) {
        close(m_conversation);
    }
    m_conversation = -1;
    m_service.Erase();
    m_topic.Erase();
    m_item.Erase();
}

int AstDdeClient::Poke(const char* service, const char* text)
{
    if (service == nullptr || text == nullptr) {
        return 0;
    }
    return PokeData(service, text, static_cast<uint32_t>(std::strlen(text) + 1));
}

int AstDdeClient::PokeData(const char* service, const void* data, uint32_t size)
{
    if (service == nullptr || data == nullptr || size > PLATFORM_BUS_MAX_BODY - 2 * AST_DDE_NAME_SIZE) {
        return 0;
    }
    if (Connect(service, service) == 0) {
        return 0;
    }
    m_item = service;
    const char* topic = m_topic.GetBuffer() != nullptr ? m_topic.GetBuffer() : "";
    const char* item = m_item.GetBuffer();
    std::vector<uint8_t> body;
    body.reserve(std::strlen(topic) + std::strlen(item) + 2 + size);
    body.insert(body.end(), topic, topic + std::strlen(topic) + 1);
    body.insert(body.end(), item, item + std::strlen(item) + 1);
    const auto* bytes = static_cast<const uint8_t*>(data);
    body.insert(body.end(), bytes, bytes + size);
    const bool sent = _sendFrame(PLATFORM_BUS_POKE, body.data(), static_cast<uint32_t>(body.size()));
    m_item.Erase();
    if (!sent) {
        return _fail(5);
    }
    _readAnswers();
    return 1;
}

int AstDdeClient::WaitPokeResult(int timeoutMs)
{
    _readAnswers();
    if (m_answers.empty() && m_conversation >= 0) {
        pollfd p{m_conversation, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) > 0) {
            _readAnswers();
        }
    }
    if (m_answers.empty()) {
        return AST_DDE_POKE_NO_ANSWER;
    }
    const int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

bool AstDdeClient::_sendFrame(uint32_t kind, const void* body, uint32_t size)
{
    return PlatformBusWriteFrame(m_conversation, kind, body, size, kPokeStallLimitMs);
}

void AstDdeClient::_readAnswers()
{
    if (m_peer == nullptr) {
        return;
    }
    const bool open = m_peer->Fill();
    uint32_t kind = 0;
    std::vector<uint8_t> body;
    while (m_peer->NextFrame(&kind, &body)) {
        if (kind != PLATFORM_BUS_ANSWER || body.size() != 1) {
            continue;
        }
        if (body[0] == PLATFORM_BUS_ANSWER_REFUSED) {
            Disconnect();
            return;
        }
        m_answers.push_back(body[0] == PLATFORM_BUS_ANSWER_PROCESSED ? AST_DDE_POKE_PROCESSED
                                                                     : AST_DDE_POKE_NOT_PROCESSED);
        if (m_answers.size() > kAnswersKept) {
            m_answers.pop_front();
        }
    }
    if (!open) {
        Disconnect();
    }
}
