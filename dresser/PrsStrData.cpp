// The string pool of a compiled script.
#include "dresser/PrsStrData.h"

#include "dresser/DrsErrorInfo.h"
#include "kit/CvkHeap.h"

#include <cstring>

namespace {

constexpr uint32_t kDataStart = 512;
constexpr uint32_t kDataStep = 256;
constexpr uint32_t kOffsetStart = 512;
constexpr uint32_t kOffsetStep = 256;

uint32_t HashText(const char* text, uint32_t length)
{
    uint32_t h = 2166136261u;
    for (uint32_t i = 0; i < length; ++i) h = (h ^ uint8_t(text[i])) * 16777619u;
    return h;
}

// Grows a capacity in whole steps, by at least half of itself, so that large
// pools are not copied once per step.
uint32_t Grown(uint32_t capacity, uint32_t needed, uint32_t step)
{
    uint32_t next = capacity + (capacity / 2 > step ? capacity / 2 : step);
    if (next < needed) next = needed;
    return (next + step - 1) / step * step;
}

void* Realloc(void* old, uint32_t oldBytes, uint32_t newBytes)
{
    void* p = t_cvkMainHeapAlloc(newBytes, 0, __FILE__, __LINE__);
    if (p == nullptr) return nullptr;
    if (old != nullptr) {
        std::memcpy(p, old, oldBytes);
        t_cvkMainHeapFree(old, __FILE__, __LINE__);
    }
    return p;
}

} // namespace

PrsStrData::PrsStrData()
    : m_data(nullptr), m_offsets(nullptr), m_used(0), m_dataCapacity(0), m_offsetCapacity(0), m_count(0),
      m_index(nullptr), m_indexCapacity(0)
{
    SetTag(0x50535444u); // "PSTD"
}

PrsStrData::~PrsStrData()
{
    Clear();
}

void PrsStrData::Clear()
{
    t_cvkMainHeapFree(m_data, __FILE__, __LINE__);
    t_cvkMainHeapFree(m_offsets, __FILE__, __LINE__);
    t_cvkMainHeapFree(m_index, __FILE__, __LINE__);
    m_data = nullptr;
    m_offsets = nullptr;
    m_index = nullptr;
    m_used = m_dataCapacity = m_offsetCapacity = m_indexCapacity = 0;
    m_count = 0;
}

const char* PrsStrData::GetString(uint16_t index) const
{
    return index < m_count ? m_data + m_offsets[index] : nullptr;
}

int32_t PrsStrData::_find(const char* text, uint32_t length, uint32_t hash) const
{
    if (m_indexCapacity == 0) return -1;
    const uint32_t mask = m_indexCapacity - 1;
    for (uint32_t i = hash & mask;; i = (i + 1) & mask) {
        const uint32_t slot = m_index[i];
        if (slot == 0) return -1;
        const char* s = m_data + m_offsets[slot - 1];
        if (std::memcmp(s, text, length) == 0 && s[length] == '\0') return int32_t(slot - 1);
    }
}

bool PrsStrData::_growIndex()
{
    const uint32_t capacity = m_indexCapacity == 0 ? 1024 : m_indexCapacity * 2;
    auto* slots = static_cast<uint32_t*>(t_cvkMainHeapAlloc(capacity * 4, 0, __FILE__, __LINE__));
    if (slots == nullptr) return false;
    std::memset(slots, 0, capacity * 4);
    for (uint32_t n = 0; n < m_count; ++n) {
        const char* s = m_data + m_offsets[n];
        uint32_t i = HashText(s, uint32_t(std::strlen(s))) & (capacity - 1);
        while (slots[i] != 0) i = (i + 1) & (capacity - 1);
        slots[i] = n + 1;
    }
    t_cvkMainHeapFree(m_index, __FILE__, __LINE__);
    m_index = slots;
    m_indexCapacity = capacity;
    return true;
}

bool PrsStrData::_reserveData(uint32_t bytes)
{
    if (bytes > 0xFFFFFFFFu - m_used) return false;
    if (m_used + bytes <= m_dataCapacity) return true;
    const uint32_t capacity = Grown(m_dataCapacity == 0 ? kDataStart - kDataStep : m_dataCapacity,
                                    m_used + bytes, kDataStep);
    void* p = Realloc(m_data, m_used, capacity);
    if (p == nullptr) return false;
    m_data = static_cast<char*>(p);
    m_dataCapacity = capacity;
    return true;
}

bool PrsStrData::_reserveOffsets()
{
    if (m_count < m_offsetCapacity) return true;
    const uint32_t capacity = Grown(m_offsetCapacity == 0 ? kOffsetStart - kOffsetStep : m_offsetCapacity,
                                    m_count + 1u, kOffsetStep);
    void* p = Realloc(m_offsets, m_count * 4u, capacity * 4u);
    if (p == nullptr) return false;
    m_offsets = static_cast<uint32_t*>(p);
    m_offsetCapacity = capacity;
    return true;
}

uint16_t PrsStrData::GetDataId(const char* text)
{
    if (text == nullptr) text = "";
    const uint32_t length = uint32_t(std::strlen(text));
    const uint32_t hash = HashText(text, length);
    const int32_t found = _find(text, length, hash);
    if (found >= 0) return uint16_t(found);
    if (m_count >= PRS_STRING_LIMIT) {
        DrsSetErrorInfo(DRS_LOG_TOO_MANY_STRINGS, 0, nullptr);
        return PRS_STRING_NONE;
    }
    // Keep the index at most half full.
    if ((m_count + 1u) * 2 > m_indexCapacity && !_growIndex()) {
        DrsSetErrorInfo(DRS_LOG_NO_MEMORY, 0, nullptr);
        return PRS_STRING_NONE;
    }
    if (!_reserveData(length + 1) || !_reserveOffsets()) {
        DrsSetErrorInfo(DRS_LOG_NO_MEMORY, 0, nullptr);
        return PRS_STRING_NONE;
    }
    std::memcpy(m_data + m_used, text, length + 1);
    m_offsets[m_count] = m_used;
    m_used += length + 1;
    uint32_t i = hash & (m_indexCapacity - 1);
    while (m_index[i] != 0) i = (i + 1) & (m_indexCapacity - 1);
    m_index[i] = uint32_t(m_count) + 1;
    return m_count++;
}
