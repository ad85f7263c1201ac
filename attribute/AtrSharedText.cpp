#include "attribute/AtrSharedText.h"

#include <cstring>

namespace {

// True when the first `count` words agree.
[[gnu::always_inline]] inline bool SameWords(const uint64_t* a, const uint64_t* b, uint32_t count)
{
    uint64_t differ = 0;
    for (uint32_t k = 0; k < count; ++k) {
        differ |= a[k] ^ b[k];
    }
    return differ == 0;
}

} // namespace

AtrSharedText::AtrSharedText(const char* readableEnd) : m_slots(new Slot[kSlots]), m_readableEnd(readableEnd) {}

AtrSharedText::~AtrSharedText() { delete[] m_slots; }

void AtrSharedText::SetHome(CvkArena* home)
{
    if (home == m_home) {
        return;
    }
    for (uint32_t i = 0; m_slots != nullptr && i < kSlots; ++i) {
        if (m_slots[i].length != 0) { // an unused slot holds no text
            m_slots[i].length = 0;
            m_slots[i].text.Erase();
        }
    }
    m_scratch.Erase();
    m_home = home;
}

// The `rest` bytes at q, near the end of the readable bytes: one by one.
uint64_t AtrSharedText::TailBytes(const char* q, uint32_t rest)
{
    uint64_t w = 0;
    for (uint32_t k = 0; k < rest; ++k) {
        w |= static_cast<uint64_t>(static_cast<unsigned char>(q[k])) << (8 * k);
    }
    return w;
}

// Texts of more than one word: loaded as words (the last one padded with
// zeros) and hashed with one multiplication per word.
const CvString& AtrSharedText::GetLong(const char* begin, const char* end)
{
    const auto n = static_cast<uint32_t>(end - begin);
    if (n - 1 >= kMaxLength || m_slots == nullptr) {
        return n == 0 ? m_none : Unshared(begin, end);
    }
    uint64_t words[kWords];
    uint64_t h = n;
    const uint32_t last = (n - 1) / 8;
    for (uint32_t k = 0; k < last; ++k) {
        memcpy(&words[k], begin + 8 * k, 8);
        h = (h ^ words[k]) * kMix;
    }
    words[last] = TailWord(begin + 8 * last, n - 8 * last);
    h = (h ^ words[last]) * kMix;
    Slot& slot = m_slots[h >> (64 - kSlotBits)];
    if (slot.length == n && SameWords(slot.words, words, last + 1)) {
        return slot.text;
    }
    return Miss(slot, words, n, begin);
}

// A new text takes the slot; when its copy fails it is not shared.
const CvString& AtrSharedText::Miss(Slot& slot, const uint64_t* words, uint32_t n, const char* begin)
{
    slot.text.AssignIn(m_home, begin, begin + n);
    if (slot.text.GetLength() != static_cast<int32_t>(n)) {
        slot.length = 0;
        return Unshared(begin, begin + n);
    }
    slot.length = n;
    memcpy(slot.words, words, 8 * ((n + 7) / 8));
    return slot.text;
}

const CvString& AtrSharedText::Unshared(const char* begin, const char* end)
{
    m_scratch.AssignIn(m_home, begin, end);
    return m_scratch;
}
