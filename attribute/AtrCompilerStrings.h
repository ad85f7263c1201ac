#pragma once
// AtrCompilerStrings: the distinct strings of an attribute image, collected
// by the compiler's sizing pass in order of first use, and AtrBlockList, the
// growing lists of its scratch.
//
// The table keeps no copy of a text that stays put while the tree is compiled
// (the text of a "STRING" value, a template's default): it remembers where
// the text is and copies it into the image's string area once the image
// exists. Texts made on demand (the text form of a number, rewritten by each
// read of the value) are copied on the side. Each string's offset in the
// string area is kept; its length is the distance to the next one's less the
// terminator. An open-addressing index finds a text's number while strings
// are added and is freed once they all are.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

// Items appended in blocks of a fixed size and read by number: a list that
// grows without moving what it holds, so that growing costs no copy and no
// ever larger block from the heap.
template <typename T>
class AtrBlockList {
public:
    // False when no block could be had.
    bool Push(T item)
    {
        if (m_count % kBlockItems == 0 && m_count / kBlockItems == m_blocks.size()) {
            T* block = new (std::nothrow) T[kBlockItems];
            if (block == nullptr) return false;
            m_blocks.emplace_back(block);
        }
        m_blocks[m_count / kBlockItems][m_count % kBlockItems] = item;
        ++m_count;
        return true;
    }
    T operator[](size_t i) const { return m_blocks[i / kBlockItems][i % kBlockItems]; }
    size_t Count() const { return m_count; }
    // Frees the blocks.
    void Clear()
    {
        m_blocks.clear();
        m_blocks.shrink_to_fit();
        m_count = 0;
    }
    // Calls visit(item) for every item in order.
    template <typename Visit>
    void ForEach(Visit visit) const
    {
        for (size_t b = 0, left = m_count; left > 0; ++b) {
            const size_t n = left < kBlockItems ? left : kBlockItems;
            for (size_t i = 0; i < n; ++i) visit(m_blocks[b][i]);
            left -= n;
        }
    }

private:
    static constexpr size_t kBlockItems = 16384;
    std::vector<std::unique_ptr<T[]>> m_blocks;
    size_t m_count = 0;
};

class AtrCompilerStrings {
public:
    static constexpr uint32_t kNone = UINT32_MAX;

    // The number of `text`, added when new (`stable`: the text stays where it
    // is until CopyTo). kNone when memory ran out or the string area would
    // pass 4 GiB.
    uint32_t Add(std::string_view text, bool stable);
    // Frees the index; Add must not be called again before Clear.
    void DropIndex();
    // Copies every string with its terminator to `area` (Bytes() bytes) and
    // frees what only the copy needed.
    void CopyTo(uint8_t* area);
    void Clear();

    size_t Count() const { return m_offsets.Count() > 0 ? m_offsets.Count() - 1 : 0; }
    uint64_t Bytes() const { return m_offsets.Count() > 0 ? m_offsets[m_offsets.Count() - 1] : 0; }
    uint32_t Offset(size_t i) const { return m_offsets[i]; }
    uint32_t Length(size_t i) const { return m_offsets[i + 1] - m_offsets[i] - 1; }

private:
    std::string_view _view(uint32_t i) const { return std::string_view(m_texts[i], Length(i)); }
    bool _grow();

    std::vector<uint64_t> m_slots;     // open addressing: a text's hash and number + 1, 0 when empty
    AtrBlockList<const char*> m_texts; // where each text is
    AtrBlockList<uint32_t> m_offsets;  // each string's offset in the area, then the area's end
    std::deque<std::string> m_copies;  // the texts that would not stay put
};
