#pragma once
// Frames of the socket transport and their incremental reader.
//
//   offset 0      4  begin tag "GBLS"
//          4      4  frame type (any value but 0xFFFFFFFF)
//          8      4  payload length N (at least 1)
//          12     N  payload
//          12+N   4  end tag "NELS"
//
// Every word is 32-bit little-endian. Text payloads (file names, commands)
// end with their zero byte and hold no other.
//
// AstSockFrameReader assembles one frame from whatever bytes a non-blocking
// source has at each call, so a frame that arrives in pieces over many frames
// of the owner's loop never blocks the loop. A frame announcing a payload
// beyond the reader's maximum is refused before anything is allocated.

#include "kit/CvkAllocator.h"
#include "platform/PlatformExport.h"

#include <cstdint>

constexpr uint32_t AST_SOCK_BEGIN_TAG = 0x534C4247; // "GBLS"
constexpr uint32_t AST_SOCK_END_TAG = 0x534C454E;   // "NELS"
constexpr uint32_t AST_SOCK_HEADER_SIZE = 12;       // begin tag, type, length
constexpr uint32_t AST_SOCK_FRAME_OVERHEAD = 16;    // header and end tag

// Frame types.
constexpr uint32_t AST_SOCK_TYPE_NONE = 0xFFFFFFFF; // no frame (never sent)
constexpr uint32_t AST_SOCK_TYPE_FILE_NAME = 1;     // output file name, text
constexpr uint32_t AST_SOCK_TYPE_FILE_DATA = 2;     // the whole file
constexpr uint32_t AST_SOCK_TYPE_COMMAND = 3;       // command text

// Largest payload a receiver accepts unless told otherwise.
constexpr uint32_t AST_SOCK_DEFAULT_MAX_PAYLOAD = 256u << 20;
// A reader's limits unless told otherwise, in microseconds without progress:
// tags and header, payload (the server's limits).
constexpr uint64_t AST_SOCK_DEFAULT_TAG_LIMIT = 1000000;
constexpr uint64_t AST_SOCK_DEFAULT_PAYLOAD_LIMIT = 30000000;

// True for a port number a socket can use (0 to 65535).
inline bool AstSockIsPort(int32_t port) { return port >= 0 && port <= 65535; }

// Receive states.
enum : int32_t {
    AST_SOCK_RECV_IDLE = 0,
    AST_SOCK_RECV_BEGIN = 1,    // waiting for a begin tag
    AST_SOCK_RECV_HEADER = 2,   // type and length
    AST_SOCK_RECV_PAYLOAD = 3,  // payload and end tag
    AST_SOCK_RECV_COMPLETE = 5, // a frame is ready
    AST_SOCK_RECV_ERROR = -1,
};

// Error kinds of the socket classes.
enum : int32_t {
    AST_SOCK_ERROR_NONE = 0,
    AST_SOCK_ERROR_TIMEOUT = 1,
    AST_SOCK_ERROR_BAD_TAG = 2, // a tag, type, length or text that breaks the frame rules
    AST_SOCK_ERROR_MEMORY = 3,  // payload too large or out of memory
};

// A non-blocking byte source: Read returns the bytes it copied (at least 1),
// 0 when nothing is there now, or -1 when the stream ended or failed.
class LUMIVOR_EXPORT AstSockByteSource {
public:
    virtual ~AstSockByteSource();
    virtual int32_t Read(void* destination, uint32_t size) = 0;
};

class LUMIVOR_EXPORT AstSockFrameReader : public CvkAllocator {
public:
    AstSockFrameReader();
    ~AstSockFrameReader();
    AstSockFrameReader(const AstSockFrameReader&) = delete;
    AstSockFrameReader& operator=(const AstSockFrameReader&) = delete;

    // Limits in microseconds without progress: tags and header, payload.
    void SetLimits(uint64_t tagLimit, uint64_t payloadLimit);
    void SetMaxPayload(uint32_t maxPayload) { m_maxPayload = maxPayload; }
    uint32_t GetMaxPayload() const { return m_maxPayload; }

    // Reads what the source has and advances; now is the kit timer. Returns
    // the receive state. Nothing happens in the idle, complete and error
    // states.
    int32_t Step(AstSockByteSource& source, uint64_t now);

    int32_t GetState() const { return m_state; }
    // Error kind of the error state (AST_SOCK_ERROR_*); -1 from the source
    // leaves it at AST_SOCK_ERROR_NONE (the owner knows why the stream ended).
    int32_t GetError() const { return m_error; }
    // True when the error state came from the source ending or failing.
    bool SourceFailed() const { return m_sourceFailed; }

    // The complete frame: type, payload length and payload (followed by one
    // zero byte not counted in the length). Type AST_SOCK_TYPE_NONE, 0 and
    // null while none is complete.
    uint32_t GetType() const { return m_type; }
    uint32_t GetLength() const { return m_length; }
    const uint8_t* GetPayload() const { return m_payload; }
    uint8_t* GetPayload() { return m_payload; }
    // Time (kit timer) at which the last frame was completed.
    uint64_t GetEndTime() const { return m_endTime; }
    // Time of the last byte read.
    uint64_t GetLastProgress() const { return m_lastProgress; }

    // Waits for the next frame (state 1); keeps the payload of the last one.
    void Restart();
    // Frees the payload and waits for the next frame.
    void DestroyFrame();
    // The same, only when a frame is complete (the owners' RestartRecv and
    // DestroyRecvData).
    void RestartAfterFrame()
    {
        if (m_state == AST_SOCK_RECV_COMPLETE) Restart();
    }
    void DestroyCompleteFrame()
    {
        if (m_state == AST_SOCK_RECV_COMPLETE) DestroyFrame();
    }
    // Frees the payload and goes to the idle state.
    void Reset();
    // True in the begin state before any byte of a frame has come.
    bool IsBetweenFrames() const { return m_state == AST_SOCK_RECV_BEGIN && m_have == 0; }

private:
    // The begin tag and header, then the payload and end tag: true once the
    // piece is complete, false while it waits for bytes or after a failure.
    bool _readHeader(AstSockByteSource& source, uint64_t now);
    bool _readPayload(AstSockByteSource& source, uint64_t now);
    bool _readInto(AstSockByteSource& source, uint8_t* destination, uint32_t start, uint32_t want, uint64_t now);
    void _fail(int32_t error);
    bool _acceptHeader();
    bool _acceptEnd();
    // Fails with a time-out when the current piece has made no progress for
    // its limit; returns the state (a failed reader stays as it failed).
    int32_t _checkTime(uint64_t now);
    void _freePayload();

    int32_t m_state;
    int32_t m_error;
    bool m_sourceFailed;
    uint8_t m_head[AST_SOCK_HEADER_SIZE];
    uint8_t m_tail[4];
    uint32_t m_have; // bytes of the current piece (header, payload or end tag) read so far
    uint32_t m_type;
    uint32_t m_length;
    uint8_t* m_payload;
    uint32_t m_maxPayload;
    uint64_t m_tagLimit;
    uint64_t m_payloadLimit;
    uint64_t m_lastProgress;
    uint64_t m_endTime;
};

// True when a text payload ends with its zero byte and holds no other.
LUMIVOR_EXPORT bool AstSockIsTextPayload(const uint8_t* payload, uint32_t length);
// True for the frame types whose payload is a text.
inline bool AstSockIsTextType(uint32_t type)
{
    return type == AST_SOCK_TYPE_FILE_NAME || type == AST_SOCK_TYPE_COMMAND;
}
