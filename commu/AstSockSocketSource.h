#pragma once
// The byte source of a connected non-blocking socket, for the frame reader:
// would-block reads give 0, an end or failure -1 with the error kept.

#include "commu/AstSockFrame.h"
#include "platform/PlatformSocket.h"

#include <cstdint>

class AstSockSocketSource : public AstSockByteSource {
public:
    explicit AstSockSocketSource(PlatformSocket socket) : m_socket(socket), m_error(0) {}

    int32_t Read(void* destination, uint32_t size) override
    {
        const int32_t got = PlatformSocketRecv(m_socket, destination, size);
        if (got > 0) {
            return got;
        }
        const int32_t error = PlatformSocketLastError();
        if (got < 0 && error == PLATFORM_SOCKET_ERROR_WOULD_BLOCK) {
            return 0;
        }
        m_error = got == 0 ? PLATFORM_SOCKET_ERROR_DISCONNECTED : error;
        return -1;
    }

    // The table number of the failure that ended the stream.
    int32_t GetError() const { return m_error; }

private:
    PlatformSocket m_socket;
    int32_t m_error;
};
