#pragma once
// DrsNameIndex: an open-addressed hash index from names to the entries of the
// compiler's symbol lists. The lists keep their order and ownership; the
// index only answers "which entry has this name" in constant time. Names are
// compared as exact byte strings; the index keeps pointers to the entries'
// own name texts, which must outlive their slot. Memory comes from the
// system heap slot.

#include "platform/PlatformExport.h"

#include <cstdint>

class LUMIVOR_EXPORT DrsNameIndexBase {
public:
    DrsNameIndexBase();
    ~DrsNameIndexBase();
    DrsNameIndexBase(const DrsNameIndexBase&) = delete;
    DrsNameIndexBase& operator=(const DrsNameIndexBase&) = delete;

    // The entry of `name` (length bytes; -1: up to the terminator), or null.
    void* Find(const char* name, int32_t length = -1) const;
    // The same with the name's Hash already computed.
    void* FindHashed(const char* name, int32_t length, uint32_t hash) const;
    // Adds `entry` under `key` (a NUL-terminated text owned by the entry).
    // An existing name keeps its entry unless `replace` is set. False when
    // memory runs out (the index is then unchanged).
    bool Insert(const char* key, void* entry, bool replace);
    // Removes the name if present.
    void Erase(const char* key);
    void Clear();
    uint32_t Count() const { return m_count; }

    static uint32_t Hash(const char* name, int32_t length);

private:
    struct Slot {
        const char* key;
        void* entry;
        uint32_t hash;
    };
    int32_t _findSlot(const char* name, int32_t length, uint32_t hash) const;
    bool _grow();

    Slot* m_slots;
    uint32_t m_capacity; // a power of two, or 0
    uint32_t m_count;
    uint32_t m_used;     // live and erased slots
};

// Typed view of the index.
template <class T>
class DrsNameIndex : public DrsNameIndexBase {
public:
    T* Find(const char* name, int32_t length = -1) const
    {
        return static_cast<T*>(DrsNameIndexBase::Find(name, length));
    }
    T* FindHashed(const char* name, int32_t length, uint32_t hash) const
    {
        return static_cast<T*>(DrsNameIndexBase::FindHashed(name, length, hash));
    }
    bool Insert(const char* key, T* entry, bool replace) { return DrsNameIndexBase::Insert(key, entry, replace); }
};
