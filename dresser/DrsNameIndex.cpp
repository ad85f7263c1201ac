// Open-addressed name index (linear probing, power-of-two capacity, kept at
// most half full counting erased slots).
#include "dresser/DrsNameIndex.h"

#include "kit/CvkHeap.h"

#include <cstring>

namespace {

// Marks a slot whose entry was erased: probing goes on past it.
char g_erased;

bool SameName(const char* key, const char* name, int32_t length)
{
    return std::memcmp(key, name, static_cast<size_t>(length)) == 0 && key[length] == '\0';
}

} // namespace

DrsNameIndexBase::DrsNameIndexBase() : m_slots(nullptr), m_capacity(0), m_count(0), m_used(0) {}

DrsNameIndexBase::~DrsNameIndexBase()
{
    Clear();
}

void DrsNameIndexBase::Clear()
{
    if (m_slots != nullptr) {
        t_cvkSystemHeapFree(m_slots, __FILE__, __LINE__);
    }
    m_slots = nullptr;
    m_capacity = 0;
    m_count = 0;
    m_used = 0;
}

uint32_t DrsNameIndexBase::Hash(const char* name, int32_t length)
{
    // FNV-1a
    uint32_t h = 2166136261u;
    for (int32_t i = 0; i < length; ++i) {
        h = (h ^ static_cast<uint8_t>(name[i])) * 16777619u;
    }
    return h;
}

int32_t DrsNameIndexBase::_findSlot(const char* name, int32_t length, uint32_t hash) const
{
    const uint32_t mask = m_capacity - 1;
    for (uint32_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (slot.key == nullptr) {
            return -1;
        }
        if (slot.key != &g_erased && slot.hash == hash && SameName(slot.key, name, length)) {
            return static_cast<int32_t>(i);
        }
    }
}

void* DrsNameIndexBase::Find(const char* name, int32_t length) const
{
    if (m_count == 0 || name == nullptr) {
        return nullptr;
    }
    if (length < 0) {
        length = static_cast<int32_t>(std::strlen(name));
    }
    const int32_t i = _findSlot(name, length, Hash(name, length));
    return i < 0 ? nullptr : m_slots[i].entry;
}

void* DrsNameIndexBase::FindHashed(const char* name, int32_t length, uint32_t hash) const
{
    if (m_count == 0) {
        return nullptr;
    }
    const int32_t i = _findSlot(name, length, hash);
    return i < 0 ? nullptr : m_slots[i].entry;
}

bool DrsNameIndexBase::_grow()
{
    const uint32_t capacity = m_capacity == 0 ? 16 : m_capacity * 2;
    auto* slots = static_cast<Slot*>(t_cvkSystemHeapAlloc(capacity * sizeof(Slot), 0, __FILE__, __LINE__));
    if (slots == nullptr) {
        return false;
    }
    std::memset(slots, 0, capacity * sizeof(Slot));
    for (uint32_t i = 0; i < m_capacity; ++i) {
        const Slot& old = m_slots[i];
        if (old.key == nullptr || old.key == &g_erased) {
            continue;
        }
        uint32_t j = old.hash & (capacity - 1);
        while (slots[j].key != nullptr) {
            j = (j + 1) & (capacity - 1);
        }
        slots[j] = old;
    }
    if (m_slots != nullptr) {
        t_cvkSystemHeapFree(m_slots, __FILE__, __LINE__);
    }
    m_slots = slots;
    m_capacity = capacity;
    m_used = m_count;
    return true;
}

bool DrsNameIndexBase::Insert(const char* key, void* entry, bool replace)
{
    const int32_t length = static_cast<int32_t>(std::strlen(key));
    const uint32_t hash = Hash(key, length);
    if (m_count != 0) {
        const int32_t i = _findSlot(key, length, hash);
        if (i >= 0) {
            if (replace) {
                m_slots[i].key = key;
                m_slots[i].entry = entry;
            }
            return true;
        }
    }
    if ((m_used + 1) * 2 > m_capacity && !_grow()) {
        return false;
    }
    const uint32_t mask = m_capacity - 1;
    uint32_t i = hash & mask;
    while (m_slots[i].key != nullptr && m_slots[i].key != &g_erased) {
        i = (i + 1) & mask;
    }
    if (m_slots[i].key == nullptr) {
        ++m_used;
    }
    m_slots[i] = Slot{key, entry, hash};
    ++m_count;
    return true;
}

void DrsNameIndexBase::Erase(const char* key)
{
    if (m_count == 0) {
        return;
    }
    const int32_t length = static_cast<int32_t>(std::strlen(key));
    const int32_t i = _findSlot(key, length, Hash(key, length));
    if (i >= 0) {
        m_slots[i].key = &g_erased;
        m_slots[i].entry = nullptr;
        --m_count;
    }
}
