#pragma once
// The pointer-offset table ("POF0" chunk) and the mapping of a chunk's
// pointers between chunk-relative offsets and addresses.
//
// Inside a stored image every pointer is a 32-bit word holding its target's
// offset from the chunk start. The table lists where those words are: after a
// native 32-bit word with the table's size in bytes (itself included, rounded
// up to a multiple of 4) follow the distances, in 32-bit words, from one
// pointer word to the next (the first from the chunk start), each in the
// shortest of three big-endian forms:
//     01dddddd                              distance < 64
//     10dddddd dddddddd                     distance < 16384
//     11dddddd dddddddd dddddddd dddddddd   otherwise (30 bits)
// and a 0 byte ends the list (padding).
//
// Mapping adds the chunk's start address to every listed word and sets
// mapFlags bit 0; clearing subtracts it again and clears the bit. The words
// are 32 bits wide: on a 64-bit build a chunk whose addresses do not fit 32
// bits cannot be mapped, and the call then fails and leaves the image and its
// flag untouched.

#include "kit/CvChunk.h"
#include "platform/PlatformExport.h"

#include <cstddef>
#include <cstdint>

// `table` is the table (its size word first), or null to use the data of the
// "POF0" chunk directly behind `chunk`. Return 1 (also at once when the chunk
// is already mapped / already clear), or 0 for a null chunk, a missing table,
// or an address that does not fit a 32-bit word (image unchanged).
// These plain forms trust the table; use the bounded forms for files.
LUMIVOR_EXPORT int CvkPointerOffsetMapping(CvChunk* chunk, const void* table);
LUMIVOR_EXPORT int CvkPointerOffsetClear(CvChunk* chunk, const void* table);

// Bounded forms for images from files or other programs: `chunk` (and a
// "POF0" chunk behind it when `table` is null; an explicit `table` too) must
// lie inside [image, image + imageSize), the table is read only within its
// size word, its chunk and the image, and every listed word must lie inside
// the chunk. Any violation gives 0 with the image untouched.
LUMIVOR_EXPORT int CvkPointerOffsetMapping(CvChunk* chunk, const void* table, const void* image, size_t imageSize);
LUMIVOR_EXPORT int CvkPointerOffsetClear(CvChunk* chunk, const void* table, const void* image, size_t imageSize);

// The table of a chunk whose pointer words lie at `offsets` (from the chunk
// start, ascending, each a multiple of 4): its size in bytes (size word and
// padding included; 4 for no offset), and the table written into `buffer`
// (that many bytes). Both give 0 when the offsets are not ascending multiples
// of 4. For writers that know their pointer words in order; CvkPofControl
// collects them in any order.
LUMIVOR_EXPORT uint32_t CvkPointerOffsetTableSize(const uint32_t* offsets, uint32_t count);
LUMIVOR_EXPORT uint32_t CvkPointerOffsetWriteTable(const uint32_t* offsets, uint32_t count, void* buffer);

// The same table written word by word while a writer meets its pointer words
// in ascending order, so that it keeps no list of them. With a null table the
// stream only counts the bytes; with a table it writes no more than
// `capacity` bytes.
//
//     CvkPointerOffsetStream table(behindTheHeader);
//     table.Add(40);
//     table.Add(48);
//     uint32_t size = table.Finish();  // the size word and the padding written
class LUMIVOR_EXPORT CvkPointerOffsetStream {
public:
    explicit CvkPointerOffsetStream(void* table = nullptr, uint64_t capacity = UINT32_MAX)
        : m_table(static_cast<uint8_t*>(table)), m_capacity(capacity)
    {
    }

    // Records the pointer word at `offset` from the chunk start. False, and
    // every later word refused too, when it is not a multiple of 4 above the
    // word before or the table would pass its capacity.
    bool Add(uint32_t offset)
    {
        // Most words lie close behind the one before: a one-byte entry.
        const uint32_t distance = (offset - m_previous) / 4;
        if (m_refused || offset % 4 != 0 || (m_started && offset <= m_previous) || distance >= 64 ||
            m_bytes + 1 > m_capacity)
            return _add(offset);
        if (m_table != nullptr) m_table[m_bytes] = uint8_t(0x40 | distance);
        ++m_bytes;
        m_previous = offset;
        m_started = true;
        return true;
    }
    // Table bytes so far: the size word, the entries and the padding to 4.
    uint32_t Size() const { return uint32_t((m_bytes + 3) & ~uint64_t(3)); }
    // Writes the size word and the zero padding; Size(), or 0 after a
    // refused word.
    uint32_t Finish();

private:
    bool _add(uint32_t offset); // any entry, and the refusals

    uint8_t* m_table;
    uint64_t m_capacity;
    uint64_t m_bytes = 4;
    uint32_t m_previous = 0;
    bool m_started = false;
    bool m_refused = false;
};

#include "kit/CvkBase.h"

#include <cstdint>

// Size classes of a table entry: 1, 2 or 4 bytes.
enum : uint32_t {
    CVK_POF_CLASS_BYTE = 1,  // distance < 64
    CVK_POF_CLASS_SHORT = 2, // distance < 16384
    CVK_POF_CLASS_LONG = 3,  // distance < 2^30
};

// Collects the pointer words of one chunk and writes its "POF0" table.
//
//     CvkPofControl pof(chunk);
//     pof.Attach(40u);                 // the word at chunk + 40 holds a pointer
//     pof.Build();
//     pof.WriteChunk(behindTheChunk);  // GetChunkSize() bytes
//
// Entries come from the main heap slot. A pointer word must lie at a
// multiple of 4 bytes from the chunk start (the table counts in words), at
// or after it, and within 2^32 bytes of it.
class LUMIVOR_EXPORT CvkPofControl : public CvkBase {
public:
    // chunk: the start of the chunk the table serves. A null chunk sets the
    // Error flag; every Attach then fails.
    explicit CvkPofControl(void* chunk);
    ~CvkPofControl() override;
    CvkPofControl(const CvkPofControl&) = delete;
    CvkPofControl& operator=(const CvkPofControl&) = delete;

    // The word at chunk + offset holds an absolute address: when it is 0
    // nothing is recorded (result 1); otherwise its place is recorded and,
    // when that succeeds, the word is made relative to the chunk start (its
    // low 32 bits minus the chunk start's, wrapping). Result as Attach(address).
    int Attach(uint32_t offset);
    // Records the pointer word at `address`: 1, or 0 without a chunk, for a
    // null, already recorded or misplaced address, or when no entry can be
    // allocated.
    int Attach(const void* address);

    // Sorts the entries by address and sizes the table. 1, or 0 without a
    // chunk or when two pointers lie 2^32 bytes or more apart.
    int Build();
    // Table size in bytes (after Build; built on demand) and that + 32.
    uint32_t GetTableSize();
    uint32_t GetChunkSize();
    // Number of recorded pointers.
    uint32_t GetCount() const { return m_count; }

    // Writes the table (GetTableSize() bytes) / a "POF0" header and the table
    // (GetChunkSize() bytes). 0 without a chunk or without an entry.
    int Write(void* buffer);
    int WriteChunk(void* buffer);

private:
    struct Entry {
        const uint8_t* address;
        uint32_t distance;  // in 32-bit words from the previous pointer
        uint32_t sizeClass; // CVK_POF_CLASS_*
        Entry* next;
    };
    // Entries are carved from blocks of the main heap, a block a thousand
    // entries, so that recording a pointer is no heap call of its own.
    static constexpr uint32_t kEntriesPerBlock = 1024;
    struct EntryBlock {
        EntryBlock* next;
        uint32_t used;
        Entry entries[kEntriesPerBlock];
    };
    Entry* _newEntry();
    bool _indexAll();

    bool _indexed(const uint8_t* address) const;
    bool _index(Entry* entry);
    void _sort();

    uint8_t* m_chunk;
    uint32_t m_tableSize;
    Entry* m_head;
    Entry* m_tail;
    uint32_t m_count;
    bool m_built;
    // Open-addressed hash set over the entries, so that the duplicate test
    // of Attach costs O(1) (kept in the main heap as well).
    const uint8_t** m_slots; // the attached addresses, open-addressed (no null address is attached)
    uint32_t m_slotCount; // a power of two, or 0
    EntryBlock* m_blocks;  // newest first
    const uint8_t* m_maxAddress; // highest address attached, null before the first
    bool m_indexedAll;           // every entry is in the hash set (kept from the first out-of-order Attach on)
};
