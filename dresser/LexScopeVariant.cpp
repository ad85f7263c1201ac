// Variable slots of a module or of the globals.
#include "dresser/LexScopeVariant.h"

#include "kit/CvkHeap.h"

#include <cstring>

LexScopeVariant::LexScopeVariant(LexScopeVariant* parent)
    : m_parent(parent), m_child(nullptr), m_first(nullptr), m_last(nullptr), m_used(0), m_base(0), m_count(0)
{
    SetTag(0x50535356); // "PSSV"
    if (parent != nullptr) {
        parent->m_child = this;
        m_base = static_cast<uint16_t>(parent->m_base + parent->m_used);
    }
}

LexScopeVariant::~LexScopeVariant()
{
    while (m_first != nullptr) {
        _lexVariantList* next = m_first->next;
        t_cvkSystemHeapFree(m_first, __FILE__, __LINE__);
        m_first = next;
    }
    if (m_parent != nullptr && m_parent->m_child == this) {
        m_parent->m_child = nullptr;
    }
}

const _lexVariantList* LexScopeVariant::FindVariant(const char* name) const
{
    return m_index.Find(name);
}

uint16_t LexScopeVariant::AddVariant(const char* name, uint16_t size)
{
    if (name == nullptr || std::strlen(name) > sizeof(_lexVariantList::name) - 1) {
        return DRS_SLOT_NONE;
    }
    if (static_cast<uint32_t>(m_base) + m_used + size > DRS_SLOT_LIMIT || GetVariantId(name) != DRS_SLOT_NONE) {
        return DRS_SLOT_NONE;
    }
    auto* entry = static_cast<_lexVariantList*>(t_cvkSystemHeapAlloc(sizeof(_lexVariantList), 0, __FILE__, __LINE__));
    if (entry == nullptr) {
        SetError();
        return DRS_SLOT_NONE;
    }
    std::strcpy(entry->name, name);
    entry->size = size;
    entry->offset = m_used;
    entry->next = nullptr;
    if (!m_index.Insert(entry->name, entry, false)) {
        t_cvkSystemHeapFree(entry, __FILE__, __LINE__);
        SetError();
        return DRS_SLOT_NONE;
    }
    (m_last != nullptr ? m_last->next : m_first) = entry;
    m_last = entry;
    const uint16_t slot = static_cast<uint16_t>(m_base + m_used);
    m_used = static_cast<uint16_t>(m_used + size);
    ++m_count;
    return slot;
}

uint16_t LexScopeVariant::GetVariantId(const char* name) const
{
    if (name == nullptr) {
        return DRS_SLOT_NONE;
    }
    for (const LexScopeVariant* scope = this; scope != nullptr; scope = scope->m_parent) {
        if (const _lexVariantList* entry = scope->m_index.Find(name)) {
            return static_cast<uint16_t>(scope->m_base + entry->offset);
        }
    }
    return DRS_SLOT_NONE;
}
