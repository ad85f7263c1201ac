#include "kit/CvkPointerOffset.h"

#include <algorithm>
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

#include "kit/CvkHeap.h"

namespace {

constexpr uint32_t kDistanceLimit = 1u << 30;

// The size class of an entry `distance` words from the previous pointer.
uint32_t SizeClass(uint64_t distance)
{
    return distance < 64 ? CVK_POF_CLASS_BYTE : distance < 16384 ? CVK_POF_CLASS_SHORT : CVK_POF_CLASS_LONG;
}

uint32_t EntryBytes(uint32_t sizeClass) { return sizeClass == CVK_POF_CLASS_LONG ? 4 : sizeClass; }

// Writes one entry in its big-endian form and returns the position behind it.
uint8_t* PutEntry(uint8_t* p, uint32_t distance, uint32_t sizeClass)
{
    switch (sizeClass) {
    case CVK_POF_CLASS_BYTE:
        *p++ = static_cast<uint8_t>(0x40 | distance);
        break;
    case CVK_POF_CLASS_SHORT:
        *p++ = static_cast<uint8_t>(0x80 | (distance >> 8));
        *p++ = static_cast<uint8_t>(distance);
        break;
    default:
        *p++ = static_cast<uint8_t>(0xC0 | (distance >> 24));
        *p++ = static_cast<uint8_t>(distance >> 16);
        *p++ = static_cast<uint8_t>(distance >> 8);
        *p++ = static_cast<uint8_t>(distance);
        break;
    }
    return p;
}

uint32_t SlotOf(const uint8_t* address, uint32_t slotCount)
{
    const uint64_t h = (uint64_t(reinterpret_cast<uintptr_t>(address)) >> 2) * 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(h >> 32) & (slotCount - 1);
}

} // namespace

CvkPofControl::CvkPofControl(void* chunk)
    : m_chunk(static_cast<uint8_t*>(chunk)), m_tableSize(0), m_head(nullptr), m_tail(nullptr), m_count(0),
      m_built(false), m_slots(nullptr), m_slotCount(0), m_blocks(nullptr),
      m_maxAddress(nullptr), m_indexedAll(false)
{
    SetTag(CvChunkMakeTag("POFC"));
    if (!m_chunk) SetError();
}

CvkPofControl::~CvkPofControl()
{
    for (EntryBlock* b = m_blocks; b;) {
        EntryBlock* next = b->next;
        t_cvkMainHeapFree(b, __FILE__, __LINE__);
        b = next;
    }
    if (m_slots) t_cvkMainHeapFree(m_slots, __FILE__, __LINE__);
}

bool CvkPofControl::_indexed(const uint8_t* address) const
{
    if (!m_slotCount) return false;
    for (uint32_t i = SlotOf(address, m_slotCount);; i = (i + 1) & (m_slotCount - 1)) {
        if (!m_slots[i]) return false;
        if (m_slots[i] == address) return true;
    }
}

bool CvkPofControl::_index(Entry* entry)
{
    // Keep the load at most one half.
    if (uint64_t(m_count + 1) * 2 > m_slotCount) {
        const uint32_t newCount = m_slotCount ? m_slotCount * 2 : 64;
        if (newCount < m_slotCount || newCount > UINT32_MAX / sizeof(uint8_t*)) return false;
        const uint8_t** slots = static_cast<const uint8_t**>(
            t_cvkMainHeapAlloc(newCount * uint32_t(sizeof(uint8_t*)), alignof(uint8_t*), __FILE__, __LINE__));
        if (!slots) return false;
        for (uint32_t i = 0; i < newCount; ++i) slots[i] = nullptr;
        for (uint32_t i = 0; i < m_slotCount; ++i)
            if (const uint8_t* a = m_slots[i]) {
                uint32_t j = SlotOf(a, newCount);
                while (slots[j]) j = (j + 1) & (newCount - 1);
                slots[j] = a;
            }
        if (m_slots) t_cvkMainHeapFree(m_slots, __FILE__, __LINE__);
        m_slots = slots;
        m_slotCount = newCount;
    }
    uint32_t j = SlotOf(entry->address, m_slotCount);
    while (m_slots[j]) j = (j + 1) & (m_slotCount - 1);
    m_slots[j] = entry->address;
    return true;
}

bool CvkPofControl::_indexAll()
{
    for (uint32_t i = 0; i < m_slotCount; ++i) m_slots[i] = nullptr;
    for (Entry* e = m_head; e; e = e->next)
        if (!_index(e)) return false;
    m_indexedAll = true;
    return true;
}

CvkPofControl::Entry* CvkPofControl::_newEntry()
{
    if (!m_blocks || m_blocks->used == kEntriesPerBlock) {
        EntryBlock* b = static_cast<EntryBlock*>(
            t_cvkMainHeapAlloc(uint32_t(sizeof(EntryBlock)), alignof(EntryBlock), __FILE__, __LINE__));
        if (!b) return nullptr;
        b->next = m_blocks;
        b->used = 0;
        m_blocks = b;
    }
    return &m_blocks->entries[m_blocks->used++];
}

int CvkPofControl::Attach(const void* address)
{
    const uint8_t* a = static_cast<const uint8_t*>(address);
    if (!m_chunk || !a) return 0;
    // The table counts in words from the chunk start: a pointer before the
    // chunk, off the word grid or 4 GiB away could not be listed.
    const uintptr_t at = reinterpret_cast<uintptr_t>(a), start = reinterpret_cast<uintptr_t>(m_chunk);
    if (at < start || (at - start) % 4 != 0 || (uint64_t(at - start) >> 32) != 0) return 0;
    // An address beyond every one attached so far cannot be a repeat. Until
    // the first that is not, no index is kept at all: pointers recorded in
    // address order, the usual case, never touch the hash set.
    const bool beyond = a > m_maxAddress;
    if (!beyond) {
        if (!m_indexedAll && !_indexAll()) return 0;
        if (_indexed(a)) return 0;
    }
    Entry* e = _newEntry();
    if (!e) return 0;
    e->address = a;
    e->distance = 0;
    e->sizeClass = 0;
    e->next = nullptr;
    if (m_indexedAll && !_index(e)) {
        --m_blocks->used; // e was the newest entry
        return 0;
    }
    if (beyond) m_maxAddress = a;
    if (m_tail)
        m_tail->next = e;
    else
        m_head = e;
    m_tail = e;
    ++m_count;
    m_built = false;
    return 1;
}

int CvkPofControl::Attach(uint32_t offset)
{
    if (!m_chunk) return 0;
    uint8_t* p = m_chunk + offset;
    const uint32_t word = ReadWord(p);
    if (word == 0) return 1;
    const int result = Attach(static_cast<const void*>(p));
    // Only a newly recorded word is made relative: a repeated Attach of the
    // same offset must not subtract the chunk start a second time.
    if (result) WriteWord(p, word - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m_chunk)));
    return result;
}

void CvkPofControl::_sort()
{
    // Nothing to do for the usual case of pointers attached in address order.
    bool sorted = true;
    for (Entry* e = m_head; e && e->next; e = e->next)
        if (e->next->address < e->address) {
            sorted = false;
            break;
        }
    if (sorted) return;

    // Addresses are distinct (Attach refuses repeats), so any sort gives the
    // one order. Sorting an array of the entries is far kinder to the cache
    // than merging the list in place; the merge is the fallback when the
    // array cannot be had.
    Entry** order = m_count <= UINT32_MAX / sizeof(Entry*)
                        ? static_cast<Entry**>(t_cvkMainHeapAlloc(m_count * uint32_t(sizeof(Entry*)), alignof(Entry*),
                                                                  __FILE__, __LINE__))
                        : nullptr;
    if (order) {
        uint32_t n = 0;
        for (Entry* e = m_head; e; e = e->next) order[n++] = e;
        std::sort(order, order + n, [](const Entry* a, const Entry* b) { return a->address < b->address; });
        for (uint32_t i = 0; i + 1 < n; ++i) order[i]->next = order[i + 1];
        order[n - 1]->next = nullptr;
        m_head = order[0];
        m_tail = order[n - 1];
        t_cvkMainHeapFree(order, __FILE__, __LINE__);
        return;
    }

    // Bottom-up merge sort of the list: O(n log n), no extra memory, stable.
    Entry* list = m_head;
    for (uint32_t width = 1;; width *= 2) {
        Entry* head = nullptr;
        Entry** tail = &head;
        uint32_t merges = 0;
        while (list) {
            ++merges;
            Entry* a = list;
            uint32_t na = 0;
            Entry* b = a;
            while (b && na < width) {
                b = b->next;
                ++na;
            }
            uint32_t nb = width;
            while (na > 0 || (nb > 0 && b)) {
                Entry* take;
                if (na == 0) {
                    take = b;
                    b = b->next;
                    --nb;
                } else if (nb == 0 || !b || a->address <= b->address) {
                    take = a;
                    a = a->next;
                    --na;
                } else {
                    take = b;
                    b = b->next;
                    --nb;
                }
                *tail = take;
                tail = &take->next;
            }
            list = b;
        }
        *tail = nullptr;
        list = head;
        if (merges <= 1) break;
    }
    m_head = list;
    m_tail = list;
    while (m_tail->next) m_tail = m_tail->next;
}

int CvkPofControl::Build()
{
    if (!m_chunk) return 0;
    _sort();
    const uint8_t* previous = m_chunk;
    uint64_t size = 4;
    for (Entry* e = m_head; e; e = e->next) {
        const uint64_t distance =
            uint64_t(reinterpret_cast<uintptr_t>(e->address) - reinterpret_cast<uintptr_t>(previous)) / 4;
        if (distance >= kDistanceLimit) return 0;
        e->distance = static_cast<uint32_t>(distance);
        e->sizeClass = SizeClass(distance);
        size += EntryBytes(e->sizeClass);
        previous = e->address;
    }
    size = (size + 3) & ~uint64_t(3);
    if (size > UINT32_MAX - CVK_CHUNK_HEAD_SIZE) return 0;
    m_tableSize = static_cast<uint32_t>(size);
    m_built = true;
    return 1;
}

uint32_t CvkPofControl::GetTableSize()
{
    if (!m_built) Build();
    return m_tableSize;
}

uint32_t CvkPofControl::GetChunkSize() { return GetTableSize() + CVK_CHUNK_HEAD_SIZE; }

int CvkPofControl::Write(void* buffer)
{
    if (!m_chunk || !m_head || !buffer) return 0;
    if (!m_built && !Build()) return 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    std::memset(out, 0, m_tableSize);
    WriteWord(out, m_tableSize);
    uint8_t* p = out + 4;
    for (const Entry* e = m_head; e; e = e->next) p = PutEntry(p, e->distance, e->sizeClass);
    return 1;
}

int CvkPofControl::WriteChunk(void* buffer)
{
    if (!m_chunk || !m_head || !buffer) return 0;
    if (!m_built && !Build()) return 0;
    CvChunk* c = static_cast<CvChunk*>(buffer);
    c->Clear();
    c->SetTag(CVK_CHUNK_TAG_POF0);
    c->SetSize(m_tableSize);
    return Write(static_cast<uint8_t*>(buffer) + CVK_CHUNK_HEAD_SIZE);
}

bool CvkPointerOffsetStream::_add(uint32_t offset)
{
    if (m_refused || offset % 4 != 0 || (m_started && offset <= m_previous)) {
        m_refused = true;
        return false;
    }
    const uint32_t distance = (offset - m_previous) / 4;
    const uint32_t sizeClass = SizeClass(distance);
    if (m_bytes + EntryBytes(sizeClass) > m_capacity) {
        m_refused = true;
        return false;
    }
    if (m_table != nullptr) PutEntry(m_table + m_bytes, distance, sizeClass);
    m_bytes += EntryBytes(sizeClass);
    m_previous = offset;
    m_started = true;
    return true;
}

uint32_t CvkPointerOffsetStream::Finish()
{
    if (m_refused || Size() > m_capacity) return 0;
    const uint32_t size = Size();
    if (m_table != nullptr) {
        std::memset(m_table + m_bytes, 0, size_t(size - m_bytes));
        WriteWord(m_table, size);
    }
    return size;
}

uint32_t CvkPointerOffsetTableSize(const uint32_t* offsets, uint32_t count)
{
    CvkPointerOffsetStream table;
    for (uint32_t i = 0; i < count; ++i)
        if (!table.Add(offsets[i])) return 0;
    return table.Finish();
}

uint32_t CvkPointerOffsetWriteTable(const uint32_t* offsets, uint32_t count, void* buffer)
{
    if (CvkPointerOffsetTableSize(offsets, count) == 0 || !buffer) return 0;
    CvkPointerOffsetStream table(buffer);
    for (uint32_t i = 0; i < count; ++i) table.Add(offsets[i]);
    return table.Finish();
}
