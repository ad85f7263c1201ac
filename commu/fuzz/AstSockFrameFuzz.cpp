// What a hostile peer can send the tool's socket server: arbitrary bytes,
// cut into pieces of arbitrary sizes, through the incremental frame reader;
// every complete frame goes where the server sends it (file names through
// the confinement, commands through the command parser and the message
// conversion). No crash, no read outside a buffer, no leak, and never a
// confined path outside the directory.
#include "attribute/AtrNode.h"
#include "commu/AstCommandNode.h"
#include "commu/AstSockFrame.h"
#include "commu/AstSockServerForMorrin.h"
#include "commu/CvkMessageBufferNode.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkMessageBuffer.h"
#include "kit/tests/KitHeapSlots.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Hands out the input in pieces whose sizes come from a small generator
// seeded by the input, with "nothing now" between some of them.
class PieceSource : public AstSockByteSource {
public:
    PieceSource(const uint8_t* data, size_t size, uint32_t seed) : m_data(data), m_size(size), m_seed(seed | 1) {}
    int32_t Read(void* destination, uint32_t size) override
    {
        if (m_at == m_size) return -1;
        m_seed = m_seed * 1103515245u + 12345u;
        if ((m_seed >> 28) == 0) return 0;
        const size_t piece = std::min<size_t>({size, m_size - m_at, 1 + ((m_seed >> 16) % 64)});
        std::memcpy(destination, m_data + m_at, piece);
        m_at += piece;
        return static_cast<int32_t>(piece);
    }
    bool Done() const { return m_at == m_size; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
    uint32_t m_seed;
};

void UseFrame(const AstSockFrameReader& reader)
{
    const char* text = reinterpret_cast<const char*>(reader.GetPayload());
    if (reader.GetType() == AST_SOCK_TYPE_FILE_NAME) {
        const CvString path = AstSockConfineFileName("/srv/in", text, reader.GetLength() - 1);
        if (path.GetLength() > 0 && std::strncmp(path.GetBuffer(), "/srv/in/", 8) != 0) std::abort();
    } else if (reader.GetType() == AST_SOCK_TYPE_COMMAND) {
        AstCommandNode command;
        if (command.CreateFromAtrText(text)) {
            CvkMessageBuffer buffer(8);
            CvkMessageBufferNode().ReadFromNode(&buffer, command.GetMessageNode());
            command.GetText();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CvkHeapSimple heap(nullptr, 0, 16);
    KitHeapSlotsSet(&heap);
    if (size < 1) return 0;
    PieceSource source(data + 1, size - 1, data[0] * 2654435761u);
    AstSockFrameReader reader;
    reader.SetMaxPayload(1 << 16);
    reader.Restart();
    uint64_t now = 0;
    for (int steps = 0; steps < 100000; ++steps) {
        // Mostly quick pieces, now and then a pause past the limits.
        now += (data[0] & 0x80) != 0 && steps % 97 == 96 ? 2000000 : 1000;
        const int32_t state = reader.Step(source, now);
        if (state == AST_SOCK_RECV_COMPLETE) {
            if (reader.GetLength() < 1 || reader.GetPayload()[reader.GetLength()] != 0) std::abort();
            UseFrame(reader);
            reader.DestroyFrame();
        } else if (state == AST_SOCK_RECV_ERROR) {
            break;
        } else if (source.Done()) {
            break;
        }
    }
    return 0;
}
