#include "attribute/AtrSharedText.h"

#include "kit/CvkAllocator.h"

#include <cstring>

struct AtrSharedText::Slot : CvkAllocator {
    uint32_t hash = 0;
    uint32_t length = 0;
    char bytes[kMaxLength] = {}; // a copy of the text of `text`, compared without touching it
    CvString text;
};

AtrSharedText::AtrSharedText(const char* readableEnd) : m_slots(new Slot[kSlots]), m_readableEnd(readableEnd) {}

AtrSharedText::~AtrSharedText() { delete[] m_slots; }

// The `rest` (1 to 8) bytes at q as the low bytes of a word. The word is
// loaded whole and masked when eight bytes are readable there, else byte by
// byte.
[[gnu::always_inline]] inline uint64_t AtrSharedText::TailWord(const char* q, uint32_t rest) const
{
    uint64_t w = 0;
    if (m_readableEnd - q >= 8) {
        memcpy(&w, q, 8);
        return rest == 8 ? w : w & (~0ull >> (64 - 8 * rest));
    }
    for (uint32_t k = 0; k < rest; ++k) {
        w |= static_cast<uint64_t>(static_cast<unsigned char>(q[k])) << (8 * k);
    }
    return w;
}

// Hash of 1 to kMaxLength bytes, eight at a time: one multiplication per
// word; the high half is the hash (the slot index takes its top bits).
[[gnu::always_inline]] inline uint32_t AtrSharedText::Hash(const char* begin, uint32_t n) const
{
    uint64_t h = n;
    uint32_t i = 0;
    for (; i + 8 < n; i += 8) {
        uint64_t w;
        memcpy(&w, begin + i, 8);
        h = (h ^ w) * 0x9E3779B97F4A7C15ull;
    }
    h = (h ^ TailWord(begin + i, n - i)) * 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(h >> 32);
}

// True when the slot's copy (kMaxLength bytes, of which the first n count)
// equals the n bytes at `begin`.
[[gnu::always_inline]] inline bool AtrSharedText::SameAsSlot(const Slot& slot, const char* begin, uint32_t n) const
{
    uint32_t i = 0;
    for (; i + 8 < n; i += 8) {
        uint64_t a;
        uint64_t b;
        memcpy(&a, slot.bytes + i, 8);
        memcpy(&b, begin + i, 8);
        if (a != b) {
            return false;
        }
    }
    uint64_t a;
    memcpy(&a, slot.bytes + i, 8);
    const uint32_t rest = n - i;
    if (rest < 8) {
        a &= ~0ull >> (64 - 8 * rest);
    }
    return a == TailWord(begin + i, rest);
}

const CvString& AtrSharedText::Get(const char* begin, const char* end)
{
    static const CvString none;
    const uint32_t n = static_cast<uint32_t>(end - begin);
    if (m_slots == nullptr || n > kMaxLength) {
        m_scratch = CvString(begin, end);
        return m_scratch;
    }
    if (n == 0) {
        return none;
    }
    const uint32_t h = Hash(begin, n);
    Slot& slot = m_slots[h >> (32 - kSlotBits)];
    if (slot.hash == h && slot.length == n && SameAsSlot(slot, begin, n)) {
        return slot.text;
    }
    slot.text = CvString(begin, end);
    if (slot.text.GetLength() != static_cast<int32_t>(n)) {
        slot.hash = 0;
        slot.length = 0;
        m_scratch = slot.text; // out of memory: not shared
        slot.text = CvString();
        return m_scratch;
    }
    slot.hash = h;
    slot.length = n;
    memcpy(slot.bytes, begin, n);
    return slot.text;
}
