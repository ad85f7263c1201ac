#pragma once
// PrsStrData: the string pool of a compiled script.
//
// Every distinct text is stored once, with its NUL, back to back in one data
// block; an offset array gives each string's start. GetDataId answers the
// index of an equal text already stored (first match, exact bytes) or appends
// the text. An open-addressed hash index over the stored strings keeps the
// lookup constant-time; the pool's order and indexes are those of a linear
// search. Memory comes from the main heap slot.

#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

enum : uint16_t {
    PRS_STRING_NONE = 0xFFFF,
    PRS_STRING_LIMIT = 65534, // strings a pool holds at most
};

class LUMIVOR_EXPORT PrsStrData : public CvkBase {
public:
    PrsStrData();
    ~PrsStrData() override;
    PrsStrData(const PrsStrData&) = delete;
    PrsStrData& operator=(const PrsStrData&) = delete;

    // Index of `text` (null: the empty text). PRS_STRING_NONE after
    // reporting DRS_LOG_TOO_MANY_STRINGS (pool full) or DRS_LOG_NO_MEMORY.
    uint16_t GetDataId(const char* text);
    // Drops every string.
    void Clear();

    uint16_t GetCount() const { return m_count; }
    // Bytes of string data (every string with its NUL).
    uint32_t GetDataSize() const { return m_used; }
    const char* GetData() const { return m_data; }
    // Start offsets from the start of the data, one per string.
    const uint32_t* GetOffsets() const { return m_offsets; }
    const char* GetString(uint16_t index) const;

private:
    int32_t _find(const char* text, uint32_t length, uint32_t hash) const;
    bool _reserveData(uint32_t bytes);
    bool _reserveOffsets();
    bool _growIndex();

    char* m_data;
    uint32_t* m_offsets;
    uint32_t m_used;
    uint32_t m_dataCapacity;
    uint32_t m_offsetCapacity;
    uint16_t m_count;
    // Index slots hold string index + 1 (0: empty); capacity a power of two.
    uint32_t* m_index;
    uint32_t m_indexCapacity;
};
