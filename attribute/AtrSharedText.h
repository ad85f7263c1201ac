#pragma once
// AtrSharedText: a pool that makes equal short texts of one document share
// one CvString value.
//
// Element names, attribute names and short values repeat throughout a
// document; taking them from the pool costs a reference count instead of an
// allocation. The pool is a direct-mapped table of recent texts: a text is
// hashed and compared straight from the document's bytes (no CvString is
// built to look it up), and a new text evicts the one in its slot. Texts
// longer than kMaxLength are not shared.
//
// The pool makes its values in the arena of the document being built (its
// home), so that the document's strings take them by reference count alone.
// It lets go of them when the home changes and when it is destroyed, which
// must happen before that arena is released.
#include "kit/CvString.h"
#include "kit/CvkAllocator.h"

#include <cstdint>
#include <cstring>

class CvkArena;

class AtrSharedText {
public:
    static constexpr uint32_t kMaxLength = 40; // longer texts are not shared

    // Texts are read a word at a time: bytes before `readableEnd` may be
    // read past a text's end (the document's terminator counts).
    explicit AtrSharedText(const char* readableEnd);
    ~AtrSharedText();
    AtrSharedText(const AtrSharedText&) = delete;
    AtrSharedText& operator=(const AtrSharedText&) = delete;

    // Values from now on are made in `home` (null: the buffer heap); the
    // texts held so far are let go when the home changes.
    void SetHome(CvkArena* home);

    // The string with the bytes [begin, end): the shared one when the pool
    // holds it. The reference stays valid until the next call. When memory
    // runs out the text is still given whole (not shared), or as an empty
    // string when it cannot be copied at all.
    const CvString& Get(const char* begin, const char* end);
    // The string with the bytes [begin, end), made in the home but not
    // shared; valid until the next call of Get or Unshared.
    const CvString& Unshared(const char* begin, const char* end);

private:
    static constexpr uint32_t kSlotBits = 12;
    static constexpr uint32_t kSlots = 1u << kSlotBits;
    static constexpr uint32_t kWords = (kMaxLength + 7) / 8;
    static constexpr uint64_t kMix = 0x9E3779B97F4A7C15ull;

    struct Slot : CvkAllocator {
        uint32_t length = 0;    // 0: empty (the words are then not read)
        uint64_t words[kWords]; // the bytes of `text` as Get loads them, compared without touching it
        CvString text;
    };

    uint64_t TailWord(const char* q, uint32_t rest) const;
    static uint64_t TailBytes(const char* q, uint32_t rest);
    const CvString& GetLong(const char* begin, const char* end);
    const CvString& Miss(Slot& slot, const uint64_t* words, uint32_t n, const char* begin);

    Slot* m_slots; // null when memory ran out: nothing shared
    const char* m_readableEnd;
    CvkArena* m_home = nullptr;
    CvString m_scratch; // the text when it is not shared
    CvString m_none;    // the empty text
};

// The `rest` (1 to 8) bytes at q as the low bytes of a word: loaded whole
// and masked when eight bytes are readable there.
inline uint64_t AtrSharedText::TailWord(const char* q, uint32_t rest) const
{
    static constexpr uint64_t kKeep[9] = {
        0,    0xFFull, 0xFFFFull, 0xFFFFFFull, 0xFFFFFFFFull, 0xFFFFFFFFFFull, 0xFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFull,
        ~0ull};
    if (m_readableEnd - q < 8) {
        return TailBytes(q, rest);
    }
    uint64_t w;
    memcpy(&w, q, 8);
    return w & kKeep[rest];
}

// A text is hashed with one multiplication per word; the slot index is the
// top bits of the hash. Texts of one word, most names, are looked up here
// (inline in the reader's loops); longer ones by GetLong.
inline const CvString& AtrSharedText::Get(const char* begin, const char* end)
{
    const auto n = static_cast<uint32_t>(end - begin);
    if (n - 1 >= 8 || m_slots == nullptr) {
        return GetLong(begin, end);
    }
    const uint64_t word = TailWord(begin, n);
    Slot& slot = m_slots[((n ^ word) * kMix) >> (64 - kSlotBits)];
    if (slot.length == n && slot.words[0] == word) {
        return slot.text;
    }
    return Miss(slot, &word, n, begin);
}
