#include "attribute/AtrSharedText.h"

#include "kit/CvkAllocator.h"

#include <cstring>

struct AtrSharedText::Slot : CvkAllocator {
    uint32_t hash = 0;
    uint32_t length = 0;
    uint64_t words[kWords] = {}; // the bytes of `text` as Load gives them, compared without touching it
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

// The 1 to kMaxLength bytes at `begin` as words (the last one padded with
// zeros) and their hash: one multiplication per word; the high half is the
// hash (the slot index takes its top bits).
[[gnu::always_inline]] inline uint32_t AtrSharedText::Load(const char* begin, uint32_t n, uint64_t* words) const
{
    const uint32_t last = (n - 1) / 8;
    uint64_t h = n;
    for (uint32_t k = 0; k < last; ++k) {
        memcpy(&words[k], begin + 8 * k, 8);
        h = (h ^ words[k]) * 0x9E3779B97F4A7C15ull;
    }
    words[last] = TailWord(begin + 8 * last, n - 8 * last);
    h = (h ^ words[last]) * 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(h >> 32);
}

// True when the first `count` words agree.
[[gnu::always_inline]] inline bool SameWords(const uint64_t* a, const uint64_t* b, uint32_t count)
{
    uint64_t differ = 0;
    for (uint32_t k = 0; k < count; ++k) {
        differ |= a[k] ^ b[k];
    }
    return differ == 0;
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
    uint64_t words[kWords];
    const uint32_t h = Load(begin, n, words);
    Slot& slot = m_slots[h >> (32 - kSlotBits)];
    if (slot.hash == h && slot.length == n && SameWords(slot.words, words, (n + 7) / 8)) {
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
    memcpy(slot.words, words, sizeof words);
    return slot.text;
}
