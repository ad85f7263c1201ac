#include "kit/CvkPointerOffset.h"

#include <cstdint>
#include <cstring>

namespace {

// Addresses wider than the 32-bit words of an image need a fit check.
constexpr bool kWideAddresses = sizeof(uintptr_t) > 4;

uint32_t ReadWord(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void WriteWord(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Calls visit(offset) for the chunk offset of every pointer word the table
// lists. At most `avail` bytes of the table are read, and never more than its
// size word says. Returns false when visit does.
template <typename Visit>
bool WalkTable(const uint8_t* table, size_t avail, Visit&& visit)
{
    if (avail < 4) return true;
    const uint32_t declared = ReadWord(table);
    const size_t end = declared < avail ? declared : avail;
    uint64_t offset = 0;
    for (size_t at = 4; at < end;) {
        const uint8_t b = table[at];
        const unsigned form = b >> 6;
        if (form == 0) break; // padding ends the list
        const size_t len = form == 1 ? 1 : form == 2 ? 2 : 4;
        if (at + len > end) break; // an entry cut off by the table's end
        uint32_t distance = b & 0x3Fu;
        for (size_t i = 1; i < len; ++i) distance = (distance << 8) | table[at + i];
        offset += uint64_t(distance) * 4;
        if (!visit(offset)) return false;
        at += len;
    }
    return true;
}

// The table of the "POF0" chunk directly behind `chunk` (plain form).
const uint8_t* TableBehind(CvChunk* chunk, size_t& avail)
{
    const CvChunk* pof = reinterpret_cast<const CvChunk*>(reinterpret_cast<const uint8_t*>(chunk) +
                                                          chunk->GetHeadSize() + chunk->GetSize());
    if (pof->GetTag() != CVK_CHUNK_TAG_POF0 || pof->GetSize() < 4) return nullptr;
    avail = pof->GetSize();
    return static_cast<const uint8_t*>(pof->GetData());
}

// Adds (mapping) or subtracts (clearing) the chunk start to every listed
// word. With `extent` non-zero every word must lie inside the first `extent`
// bytes of the chunk. The check pass runs first, so a failure leaves the
// image as it was.
int Relocate(CvChunk* chunk, const uint8_t* table, size_t avail, uint64_t extent, bool map)
{
    uint8_t* base = reinterpret_cast<uint8_t*>(chunk);
    const uint64_t start = reinterpret_cast<uintptr_t>(chunk);
    const uint32_t start32 = static_cast<uint32_t>(start);

    if (kWideAddresses || extent) {
        const bool ok = WalkTable(table, avail, [&](uint64_t offset) {
            // Bounded: the word must lie behind the fixed header and inside the chunk.
            if (extent && (offset < CVK_CHUNK_HEAD_SIZE || offset + 4 > extent)) return false;
            if (kWideAddresses) {
                if (!extent && offset > UINT32_MAX) return false;
                // The mapped address (or the offset cleared from it) must fit the word.
                const uint64_t w = ReadWord(base + offset);
                if (map ? w + start > UINT32_MAX : w < start) return false;
            }
            return true;
        });
        if (!ok) return 0;
    }
    WalkTable(table, avail, [&](uint64_t offset) {
        uint8_t* p = base + offset;
        // Wrapping 32-bit arithmetic: exact on i386, and checked to stay in
        // range above on a 64-bit build.
        WriteWord(p, map ? ReadWord(p) + start32 : ReadWord(p) - start32);
        return true;
    });
    if (map)
        chunk->mapFlags |= CVK_CHUNK_MAP_MAPPED;
    else
        chunk->mapFlags &= ~CVK_CHUNK_MAP_MAPPED;
    return 1;
}

int Plain(CvChunk* chunk, const void* table, bool map)
{
    if (!chunk) return 0;
    if (bool(chunk->mapFlags & CVK_CHUNK_MAP_MAPPED) == map) return 1;
    size_t avail = 0;
    const uint8_t* t = static_cast<const uint8_t*>(table);
    if (t)
        avail = ReadWord(t);
    else
        t = TableBehind(chunk, avail);
    if (!t) return 0;
    return Relocate(chunk, t, avail, 0, map);
}

int Bounded(CvChunk* chunk, const void* table, const void* image, size_t imageSize, bool map)
{
    if (!chunk || !chunk->IsInside(image, imageSize)) return 0;
    if (bool(chunk->mapFlags & CVK_CHUNK_MAP_MAPPED) == map) return 1;
    const uint8_t* t = static_cast<const uint8_t*>(table);
    size_t avail = 0;
    if (t) {
        const uintptr_t a = reinterpret_cast<uintptr_t>(t), b = reinterpret_cast<uintptr_t>(image);
        if (a < b || a - b >= imageSize) return 0;
        avail = imageSize - (a - b);
    } else {
        const CvChunk* pof = chunk->GetNext(0, image, imageSize);
        if (!pof || pof->GetTag() != CVK_CHUNK_TAG_POF0 || pof->GetSize() < 4) return 0;
        t = static_cast<const uint8_t*>(pof->GetData());
        avail = pof->GetSize();
    }
    if (avail < 4) return 0; // not even the size word is there
    const uint64_t extent = uint64_t(chunk->GetHeadSize()) + chunk->GetSize();
    return Relocate(chunk, t, avail, extent, map);
}

} // namespace

int CvkPointerOffsetMapping(CvChunk* chunk, const void* table) { return Plain(chunk, table, true); }

int CvkPointerOffsetClear(CvChunk* chunk, const void* table) { return Plain(chunk, table, false); }

int CvkPointerOffsetMapping(CvChunk* chunk, const void* table, const void* image, size_t imageSize)
{
    return Bounded(chunk, table, image, imageSize, true);
}

int CvkPointerOffsetClear(CvChunk* chunk, const void* table, const void* image, size_t imageSize)
{
    return Bounded(chunk, table, image, imageSize, false);
}
