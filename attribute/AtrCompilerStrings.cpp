#include "attribute/AtrCompilerStrings.h"

#include <cstring>

namespace {

uint64_t Load(const char* p, size_t n)
{
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    return w;
}

// Mixes the text a word at a time (the hash only orders the probes); the
// last word of a longer text overlaps the one before, and a short text is
// read in at most two overlapping pieces, so no byte outside it is read.
uint32_t Hash(std::string_view text)
{
    const char* p = text.data();
    const size_t n = text.size();
    uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
    uint64_t w = 0;
    if (n >= 8) {
        for (size_t i = 0; i + 8 < n; i += 8) {
            h = (h ^ Load(p + i, 8)) * 0xFF51AFD7ED558CCDull;
            h ^= h >> 32;
        }
        w = Load(p + n - 8, 8);
    } else if (n >= 4) {
        w = Load(p, 4) | (Load(p + n - 4, 4) << 32);
    } else if (n > 0) {
        w = uint64_t(uint8_t(p[0])) | uint64_t(uint8_t(p[n / 2])) << 8 | uint64_t(uint8_t(p[n - 1])) << 16;
    }
    // A last mix, so that every byte reaches the low bits that pick the slot.
    h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    return uint32_t(h >> 32);
}

uint64_t Slot(uint32_t hash, uint32_t index) { return (uint64_t(hash) << 32) | (uint64_t(index) + 1); }

} // namespace

uint32_t AtrCompilerStrings::Add(std::string_view text, bool stable)
{
    if ((Count() + 1) * 2 > m_slots.size() && !_grow()) return kNone;
    const uint32_t hash = Hash(text);
    const size_t mask = m_slots.size() - 1;
    size_t slot = hash & mask;
    for (; m_slots[slot] != 0; slot = (slot + 1) & mask) {
        const uint64_t s = m_slots[slot];
        if (uint32_t(s >> 32) != hash) continue;
        const uint32_t i = uint32_t(s) - 1;
        if (_view(i) == text) return i;
    }
    if (m_offsets.Count() == 0 && !m_offsets.Push(0)) return kNone;
    const uint64_t end = Bytes() + text.size() + 1;
    if (end > UINT32_MAX) return kNone;
    const char* where = text.data();
    if (!stable) {
        m_copies.emplace_back(text);
        where = m_copies.back().c_str();
    }
    const uint32_t index = uint32_t(Count());
    if (!m_texts.Push(where) || !m_offsets.Push(uint32_t(end))) return kNone;
    m_slots[slot] = Slot(hash, index);
    return index;
}

bool AtrCompilerStrings::_grow()
{
    std::vector<uint64_t> slots;
    const size_t size = m_slots.empty() ? 1024 : m_slots.size() * 2;
    if (size > slots.max_size()) return false;
    slots.assign(size, 0);
    for (uint64_t s : m_slots) {
        if (s == 0) continue;
        size_t slot = uint32_t(s >> 32) & (size - 1);
        while (slots[slot] != 0) slot = (slot + 1) & (size - 1);
        slots[slot] = s;
    }
    m_slots.swap(slots);
    return true;
}

void AtrCompilerStrings::DropIndex() { std::vector<uint64_t>().swap(m_slots); }

void AtrCompilerStrings::CopyTo(uint8_t* area)
{
    for (size_t i = 0; i < Count(); ++i) {
        if (Length(i) > 0) std::memcpy(area + Offset(i), m_texts[i], Length(i));
        area[Offset(i) + Length(i)] = 0;
    }
    m_texts.Clear();
    m_copies.clear();
    m_copies.shrink_to_fit();
}

void AtrCompilerStrings::Clear()
{
    DropIndex();
    m_texts.Clear();
    m_offsets.Clear();
    m_copies.clear();
}
