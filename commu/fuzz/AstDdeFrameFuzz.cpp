// Bytes from a client of the local transport, as a tool's service reads
// them: frames, pokes and the command texts inside them.
#include "commu/AstDde.h"
#include "commu/AstMessageLoop.h"
#include "commu/AstMorrinDde.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "platform/PlatformLocalBus.h"
#include "kit/tests/KitHeapSlots.h"

#include <cstdint>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

AstMorrinDde* g_tool = nullptr;

void Start()
{
    static CvkHeapSimple heap(nullptr, 0, 16);
    KitHeapSlotsSet(&heap);
    static char dir[] = "/tmp/lumivor-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::abort();
    }
    setenv("XDG_RUNTIME_DIR", dir, 1);
    AstInitDde();
    g_tool = new AstMorrinDde("fuzz-tool");
    if (g_tool->CheckError()) {
        std::abort();
    }
}

// True once the service has closed its side (or the socket failed).
bool Closed(int fd)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) {
        return false;
    }
    char buffer[256];
    return recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT) <= 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (g_tool == nullptr) {
        Start();
    }
    // The socket's buffer takes the whole input without waiting.
    if (size > 65536) {
        return 0;
    }
    const int fd = PlatformServiceConnect("fuzz-tool");
    if (fd < 0) {
        std::abort();
    }
    PlatformBusWriteAll(fd, data, size, 1000);
    shutdown(fd, SHUT_WR);
    for (int round = 0; round < 1000 && !Closed(fd); ++round) {
        AstProcessMessages(1);
    }
    close(fd);
    while (g_tool->GetReceivedData() != nullptr) {
        g_tool->ServerPre();
        g_tool->ServerPost();
    }
    return 0;
}
