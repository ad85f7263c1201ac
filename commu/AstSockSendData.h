#pragma once
// AstSockSendData: the bytes of one frame to send (begin tag, type, length,
// payload, end tag), or raw bytes without tags for direct sends. The buffer
// comes from the kit's system heap.

#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"
#include "platform/PlatformSocket.h"

#include <cstdint>

class LUMIVOR_EXPORT AstSockSendData : public CvkBase {
public:
    AstSockSendData();
    ~AstSockSendData() override;
    AstSockSendData(const AstSockSendData&) = delete;
    AstSockSendData& operator=(const AstSockSendData&) = delete;

    // Builds the frame of type around size bytes of data, releasing the
    // previous one first. 0 for type 0xFFFFFFFF, null data, size < 1, a size
    // too large for a frame, or no memory (the object is then empty).
    int32_t SetData(uint32_t type, const void* data, uint32_t size);
    // Stores size bytes as they are (no tags); type stays 0xFFFFFFFF.
    int32_t SetData(const void* data, uint32_t size);
    // Frees the bytes; the object is empty.
    void Release();

    // 0xFFFFFFFF when empty or raw.
    uint32_t GetType() const { return m_type; }
    // Bytes to send: payload + 16 for a frame; 0 when empty.
    uint32_t GetSize() const { return m_size; }
    const uint8_t* GetBuffer() const { return m_buffer; }
    bool IsEmpty() const { return m_buffer == nullptr; }

    // Writes what the socket takes now of the bytes from *sent on, advancing
    // *sent and logging each piece; the client and the server send through it.
    // Returns the bytes this call wrote. *error is the socket's error when a
    // write failed (a full buffer included), 0 when every byte is out.
    int32_t SendPending(PlatformSocket socket, uint32_t* sent, int32_t* error) const;

private:
    uint8_t* _allocate(uint32_t size);

    uint32_t m_type;
    uint32_t m_size;
    uint8_t* m_buffer;
};
