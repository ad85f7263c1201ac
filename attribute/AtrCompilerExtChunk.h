#pragma once
// AtrCompilerExtChunk: the type description ("EXT0" chunk) of an attribute
// image.
//
// While the attribute compiler writes the structures of an image it adds one
// type entry per written value (integers, colours, floats, string, byte-block
// and file offsets, structure pointers) framed by structure-begin and
// structure-end entries, in writing order. A loader walks that list value by
// value to swap the byte order, widen pointers or find every string and file
// reference without knowing the templates.
//
// Chunk layout (every word after the 32-byte header goes through the endian
// target's swap):
//     0    header: "EXT0", size set by the compiler, headSize 32
//     32   0
//     36   byte-order mark (reads 1 in the target's order when the target
//          is swapped, else 0)
//     40   type entries, 44 pointer entries, 48 string entries,
//     52   byte-block entries, 56 file entries, 60 structures begun
//     64   structure area size, 68 wide structure area size,
//     72   deepest nesting, 76 distinct strings, 80 byte blocks,
//     84   local files, 88 string area offset, 92 byte-block area offset,
//     96   file area offset (all from the "ATRB" chunk start)
//     100  type entries; then the compiler's size lists (string lengths,
//          byte-block sizes, file sizes); then the pointer-target,
//          string-index, byte-block-index and file-index lists.
//
// The entry table comes from the main heap; the four index lists grow in
// the main heap as well. A writer that knows the counts in advance may keep
// the table and the lists in storage of its own instead.

#include "kit/CvChunk.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

enum : uint32_t {
    ATRC_EXT_S32 = 0x0000,
    ATRC_EXT_S16 = 0x0001,
    ATRC_EXT_S8 = 0x0002,
    ATRC_EXT_U32 = 0x0100,
    ATRC_EXT_U16 = 0x0101,
    ATRC_EXT_U8 = 0x0102,
    ATRC_EXT_C32 = 0x0200,
    ATRC_EXT_C16 = 0x0201,
    ATRC_EXT_C8 = 0x0202,
    ATRC_EXT_F32 = 0x0300,
    ATRC_EXT_PTR = 0x1000,
    ATRC_EXT_STR = 0x1001,
    ATRC_EXT_MEM = 0x1002,
    ATRC_EXT_FILE = 0x1003,
    ATRC_EXT_STRUCT = 0x2000, // any structure without a code of its own
    ATRC_EXT_STRUCT_END = 0x4000,
};

constexpr unsigned CVK_CHUNK_TAG_EXT0 = 0x45585430u; // "EXT0"

// Bytes of the fixed part of the description behind the chunk header.
constexpr uint32_t ATRC_EXT_HEAD_WORDS_SIZE = 68;

class LUMIVOR_EXPORT AtrCompilerExtChunk : public CvkBase {
public:
    AtrCompilerExtChunk();
    ~AtrCompilerExtChunk() override;
    AtrCompilerExtChunk(const AtrCompilerExtChunk&) = delete;
    AtrCompilerExtChunk& operator=(const AtrCompilerExtChunk&) = delete;

    // Frees an old table, allocates and zeroes entryCount entries and clears
    // every counter and list. 1, or 0 when the table cannot be allocated.
    int InitChunk(uint32_t entryCount);
    // As above, with the entries kept in the caller's `table` (entryCount
    // words, never freed here), so that a writer can collect them inside the
    // image it is building; WriteParamTypes then moves them into place.
    int InitChunk(uint32_t entryCount, uint32_t* table);
    // As above, with the four lists kept in the caller's `lists` as well:
    // the pointer-target, string-index, block-index and file-index lists one
    // after another, of exactly the capacities given (a list that would grow
    // past its capacity makes the adding operation fail). Neither the table
    // nor the lists are cleared: only what is added is ever read.
    struct ListSizes {
        uint32_t ptr = 0, str = 0, mem = 0, file = 0;
    };
    int InitChunk(uint32_t entryCount, uint32_t* table, const ListSizes& sizes, int32_t* lists);
    // Frees the lists and the table.
    void ExitChunk();

    // One entry each; 1, or 0 when the table is full (the counters are
    // raised even then).
    int AddTypeS32();
    int AddTypeS16();
    int AddTypeS8();
    int AddTypeU32();
    int AddTypeU16();
    int AddTypeU8();
    int AddTypeC32();
    int AddTypeC16();
    int AddTypeC8();
    int AddTypeF32();
    // One of the entries above by its code (ATRC_EXT_S32 ... ATRC_EXT_F32);
    // 0 for any other code.
    int AddScalarType(uint32_t code)
    {
        switch (code) {
        case ATRC_EXT_S32:
        case ATRC_EXT_S16:
        case ATRC_EXT_S8: ++m_sintCount; break;
        case ATRC_EXT_U32:
        case ATRC_EXT_U16:
        case ATRC_EXT_U8: ++m_uintCount; break;
        case ATRC_EXT_C32:
        case ATRC_EXT_C16:
        case ATRC_EXT_C8: ++m_colorCount; break;
        case ATRC_EXT_F32: ++m_floatCount; break;
        default: return 0;
        }
        return _add(code);
    }
    // Also appends -1 to the pointer-target list.
    int AddTypePtr()
    {
        const int listed = _push(m_ptr, -1);
        return _add(ATRC_EXT_PTR) && listed;
    }
    // Also append index to their list; Str and Mem fail for a negative index.
    int AddTypeStr(int32_t stringIndex)
    {
        if (stringIndex < 0) return 0;
        const int listed = _push(m_str, stringIndex);
        return _add(ATRC_EXT_STR) && listed;
    }
    int AddTypeMem(int32_t blockIndex);
    int AddTypeFile(int32_t fileIndex);
    // The structure code of element; raises the structure count and the
    // nesting depth.
    int AddTypeStructBegin(const char* element);
    // The same with the code of GetStructCode, for a writer that looks each
    // structure's code up once.
    int AddTypeStructBeginCode(uint32_t code)
    {
        ++m_structCount;
        ++m_depth;
        if (m_depth > m_maxDepth) m_maxDepth = m_depth;
        return _add(code);
    }
    // 0 (nothing added) when no structure is open.
    int AddTypeStructEnd()
    {
        if (m_depth == 0) return 0;
        --m_depth;
        return _add(ATRC_EXT_STRUCT_END);
    }

    // Sets the pointer-target entry at the write index and advances it; 0
    // when the list is shorter.
    int SetTypePtrIndex(int32_t index)
    {
        if (m_ptrWriteIndex >= m_ptr.count) return 0;
        m_ptr.data[m_ptrWriteIndex++] = index;
        return 1;
    }
    // Advances the write index, leaving the entry at -1; 0 past the end.
    int IncrementPtrWriteIndex()
    {
        if (m_ptrWriteIndex >= m_ptr.count) return 0;
        ++m_ptrWriteIndex;
        return 1;
    }

    // Description size without the chunk header:
    // 68 + 4 x (entries + pointer, string, block and file entries + strings
    // + blocks + files).
    uint32_t CalcDataSize(uint32_t entryCount, uint32_t stringCount, uint32_t blockCount, uint32_t fileCount) const;
    // 1 when the entries added fill the table exactly and no structure is
    // open.
    int CheckValid() const;

    // Writes the chunk header and the words from offset 32 to 96; returns
    // the position behind them (chunk + 100).
    uint8_t* WriteExtChunkHead(CvChunk* chunk, uint32_t entryCount, uint32_t structSize, uint32_t wideSize,
                               uint32_t stringCount, uint32_t stringOffset, uint32_t blockCount, uint32_t blockOffset,
                               uint32_t fileCount, uint32_t fileOffset);
    // Writes entryCount type entries (at most the table) and returns the
    // position behind them. A caller's table may lie at or above `position`
    // in the same buffer; it is moved there (and no longer holds the entries).
    uint8_t* WriteParamTypes(uint8_t* position, uint32_t entryCount);
    // Writes the pointer-target, string-index, block-index and file-index
    // lists and returns the position behind them. Lists of the caller's may
    // lie at or above `position` in the same buffer, in that order.
    uint8_t* WritePtrIndex(uint8_t* position);

    // The structure-begin code of an element name (0x2000 for names without
    // a code of their own).
    static uint32_t GetStructCode(const char* element);

    uint32_t GetEntryCount() const { return m_writePos; }
    uint32_t GetEntry(uint32_t i) const { return i < m_writePos ? m_table[i] : 0; }
    uint32_t GetPtrCount() const { return m_ptr.count; }
    int32_t GetPtrTarget(uint32_t i) const { return i < m_ptr.count ? m_ptr.data[i] : -1; }
    uint32_t GetStrCount() const { return m_str.count; }
    uint32_t GetMemCount() const { return m_mem.count; }
    uint32_t GetFileCount() const { return m_file.count; }
    uint32_t GetStructCount() const { return m_structCount; }
    uint32_t GetMaxDepth() const { return m_maxDepth; }

private:
    // A list of 32-bit words: growing in the main heap, or fixed in the
    // caller's storage.
    struct List {
        int32_t* data = nullptr;
        uint32_t count = 0;
        uint32_t capacity = 0;
        bool owned = true;
    };
    static int _push(List& list, int32_t value)
    {
        if (list.count == list.capacity) return _pushGrowing(list, value);
        list.data[list.count++] = value;
        return 1;
    }
    static int _pushGrowing(List& list, int32_t value);
    static void _free(List& list);
    int _add(uint32_t code)
    {
        ++m_requested;
        if (m_writePos >= m_tableEntries) return 0;
        m_table[m_writePos++] = code;
        return 1;
    }

    uint32_t* m_table;
    bool m_tableOwned = true; // false: the caller's storage
    uint32_t m_tableEntries;  // capacity in entries
    uint32_t m_writePos;      // entries written
    uint32_t m_requested;     // entries added, also when they did not fit

    uint32_t m_sintCount;
    uint32_t m_uintCount;
    uint32_t m_colorCount;
    uint32_t m_floatCount;
    uint32_t m_structCount;
    uint32_t m_depth;
    uint32_t m_maxDepth;

    List m_ptr;
    List m_str;
    List m_mem;
    List m_file;
    uint32_t m_ptrWriteIndex;
};
