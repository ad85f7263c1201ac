#include "commu/AstSockFrame.h"

#include "kit/CvkHeap.h"

#include <cstring>

namespace {

uint32_t LoadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

AstSockByteSource::~AstSockByteSource() = default;

bool AstSockIsTextPayload(const uint8_t* payload, uint32_t length)
{
    return payload != nullptr && length >= 1 && payload[length - 1] == 0 &&
           std::memchr(payload, 0, length - 1) == nullptr;
}

AstSockFrameReader::AstSockFrameReader() :
    m_state(AST_SOCK_RECV_IDLE), m_error(AST_SOCK_ERROR_NONE), m_sourceFailed(false), m_head(), m_tail(), m_have(0),
    m_type(AST_SOCK_TYPE_NONE), m_length(0), m_payload(nullptr), m_maxPayload(AST_SOCK_DEFAULT_MAX_PAYLOAD),
    m_tagLimit(AST_SOCK_DEFAULT_TAG_LIMIT), m_payloadLimit(AST_SOCK_DEFAULT_PAYLOAD_LIMIT), m_lastProgress(0),
    m_endTime(0)
{}

AstSockFrameReader::~AstSockFrameReader() { _freePayload(); }

void AstSockFrameReader::SetLimits(uint64_t tagLimit, uint64_t payloadLimit)
{
    m_tagLimit = tagLimit;
    m_payloadLimit = payloadLimit;
}

void AstSockFrameReader::_freePayload()
{
    if (m_payload != nullptr) {
        t_cvkSystemHeapFree(m_payload, "ast_sock_recv", 0);
        m_payload = nullptr;
    }
    m_type = AST_SOCK_TYPE_NONE;
    m_length = 0;
}

void AstSockFrameReader::Restart()
{
    m_state = AST_SOCK_RECV_BEGIN;
    m_error = AST_SOCK_ERROR_NONE;
    m_sourceFailed = false;
    m_have = 0;
}

void AstSockFrameReader::DestroyFrame()
{
    _freePayload();
    Restart();
}

void AstSockFrameReader::Reset()
{
    _freePayload();
    Restart();
    m_state = AST_SOCK_RECV_IDLE;
}

void AstSockFrameReader::_fail(int32_t error)
{
    m_state = AST_SOCK_RECV_ERROR;
    m_error = error;
}

// Reads until m_have, the count of the current piece's bytes, reaches
// `want`; the bytes from count `start` on go to `destination` (the end tag
// is counted on after the payload). True when the piece is whole; false when
// the source has nothing more now or failed (then the state is the error
// state).
bool AstSockFrameReader::_readInto(AstSockByteSource& source, uint8_t* destination, uint32_t start, uint32_t want,
                                   uint64_t now)
{
    while (m_have < want) {
        const int32_t got = source.Read(destination + (m_have - start), want - m_have);
        if (got < 0) {
            m_sourceFailed = true;
            _fail(AST_SOCK_ERROR_NONE);
            return false;
        }
        if (got == 0) {
            return false;
        }
        m_have += static_cast<uint32_t>(got);
        m_lastProgress = now;
    }
    return true;
}

// Takes the begin tag, type and length; refuses what no sender may send and
// payloads beyond the maximum before allocating anything.
bool AstSockFrameReader::_acceptHeader()
{
    if (LoadLe32(m_head) != AST_SOCK_BEGIN_TAG) {
        _fail(AST_SOCK_ERROR_BAD_TAG);
        return false;
    }
    const uint32_t type = LoadLe32(m_head + 4);
    const uint32_t length = LoadLe32(m_head + 8);
    if (type == AST_SOCK_TYPE_NONE || length < 1) {
        _fail(AST_SOCK_ERROR_BAD_TAG);
        return false;
    }
    if (length > m_maxPayload || length == UINT32_MAX) {
        _fail(AST_SOCK_ERROR_MEMORY);
        return false;
    }
    // One more byte holds a terminating zero, so a text can be used as it is.
    m_payload = static_cast<uint8_t*>(t_cvkSystemHeapAlloc(length + 1, 0, "ast_sock_recv", 0));
    if (m_payload == nullptr) {
        _fail(AST_SOCK_ERROR_MEMORY);
        return false;
    }
    m_payload[length] = 0;
    m_type = type;
    m_length = length;
    return true;
}

bool AstSockFrameReader::_acceptEnd()
{
    if (LoadLe32(m_tail) != AST_SOCK_END_TAG ||
        (AstSockIsTextType(m_type) && !AstSockIsTextPayload(m_payload, m_length))) {
        _fail(AST_SOCK_ERROR_BAD_TAG);
        return false;
    }
    return true;
}

int32_t AstSockFrameReader::_checkTime(uint64_t now)
{
    if (m_state == AST_SOCK_RECV_ERROR || IsBetweenFrames()) {
        return m_state;
    }
    const bool inPayload = m_state == AST_SOCK_RECV_PAYLOAD && m_have < m_length;
    const uint64_t limit = inPayload ? m_payloadLimit : m_tagLimit;
    if (now - m_lastProgress > limit) {
        _fail(AST_SOCK_ERROR_TIMEOUT);
    }
    return m_state;
}

int32_t AstSockFrameReader::Step(AstSockByteSource& source, uint64_t now)
{
    if (m_state == AST_SOCK_RECV_BEGIN && m_have == 0) {
        m_lastProgress = now; // between frames a peer may stay quiet
    }
    const bool inHeader = m_state == AST_SOCK_RECV_BEGIN || m_state == AST_SOCK_RECV_HEADER;
    if (inHeader && !_readHeader(source, now)) {
        return _checkTime(now);
    }
    if (m_state == AST_SOCK_RECV_PAYLOAD && !_readPayload(source, now)) {
        return _checkTime(now);
    }
    return m_state;
}

bool AstSockFrameReader::_readHeader(AstSockByteSource& source, uint64_t now)
{
    if (m_state == AST_SOCK_RECV_BEGIN && m_have == 0 && m_payload != nullptr) {
        _freePayload(); // the previous frame, kept by RestartRecv
    }
    const bool whole = _readInto(source, m_head, 0, AST_SOCK_HEADER_SIZE, now);
    if (m_state == AST_SOCK_RECV_ERROR) {
        return false;
    }
    // The begin tag is judged as soon as it is in.
    if (m_have >= 4 && m_state == AST_SOCK_RECV_BEGIN) {
        if (LoadLe32(m_head) != AST_SOCK_BEGIN_TAG) {
            _fail(AST_SOCK_ERROR_BAD_TAG);
            return false;
        }
        m_state = AST_SOCK_RECV_HEADER;
    }
    if (!whole || !_acceptHeader()) {
        return false;
    }
    m_state = AST_SOCK_RECV_PAYLOAD;
    m_have = 0;
    return true;
}

bool AstSockFrameReader::_readPayload(AstSockByteSource& source, uint64_t now)
{
    // The end tag follows the payload; m_have counts on over both.
    if (!_readInto(source, m_payload, 0, m_length, now) || !_readInto(source, m_tail, m_length, m_length + 4, now)) {
        return false;
    }
    if (!_acceptEnd()) {
        return false;
    }
    m_state = AST_SOCK_RECV_COMPLETE;
    m_endTime = now;
    return true;
}
