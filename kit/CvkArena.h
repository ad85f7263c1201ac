#pragma once
// CvkArena: the memory of one document, released in one go.
//
// A document (an attribute tree) takes its nodes, attributes, data values and
// the strings and buffers they hold from one arena, so that destroying the
// whole document frees a handful of spans instead of visiting every object.
//
// Arenas draw from a process-wide space of 2 MiB chunks, each 2 MiB-aligned,
// taken from the system heap slot and offered to the kernel for huge pages.
// A chunk's first pages map each of its 4 KiB pages to the arena that owns
// it, so CvkArenaOf(address) finds the arena of any address in arena memory
// in a few loads, and gives null for every other address. An arena grows by
// spans of pages (4 KiB doubling to 1 MiB) carved from the chunks; blocks are
// cut from the current span and freed to per-size free lists of the arena.
// Blocks larger than kMaxBlock get chunks of their own. When the space holds
// no live span any more, its chunks go idle: up to 256 MiB of them are kept
// for the next documents, so that reading document after document does not
// fault in and clear fresh pages each time; Trim gives them back, which the
// kit does when it stops and when the system heap slot changes.
//
// Strings and variants use CvkArenaOf on their own address to keep the rule
// that a value held inside an arena lives in that same arena, and one held
// outside lives on the heap (copies across that line are private copies), so
// releasing an arena never leaves a dangling or a leaked value behind.
//
// Allocation failure gives null; nothing throws. The space is locked; one
// arena is used by one thread at a time.

#include "platform/PlatformExport.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

class CvkArena;

// The arena whose memory holds `address`, or null.
LUMIVOR_EXPORT CvkArena* CvkArenaOf(const void* address) noexcept;

class LUMIVOR_EXPORT CvkArena {
public:
    // Blocks above this size get chunks of their own.
    static constexpr std::size_t kMaxBlock = 64 * 1024;
    // Every block's alignment and size step; sizes up to kMaxSmall have a
    // free list per step.
    static constexpr std::size_t kAlign = 16;
    static constexpr std::size_t kMaxSmall = 256;

    // A new, empty arena; null when the space cannot grow.
    static CvkArena* Create() noexcept;
    // Gives the chunks kept idle between documents back to their heap.
    static void Trim() noexcept;

    // A block of `size` bytes aligned to 16; null when no memory. Small
    // blocks come inline from their free list or the current span: a
    // document's nodes, attributes, data and texts are nearly all small.
    void* Alloc(std::size_t size) noexcept
    {
#if !defined(__SANITIZE_ADDRESS__) // poisoning needs the out-of-line way
        if (size <= kMaxSmall) {
            const std::size_t rounded = size == 0 ? kAlign : (size + kAlign - 1) & ~(kAlign - 1);
            void*& head = m_free[rounded / kAlign - 1];
            unsigned char* block = static_cast<unsigned char*>(head);
            if (block != nullptr) {
                std::memcpy(&head, block, sizeof(void*));
            } else if (static_cast<std::size_t>(m_bumpEnd - m_bump) >= rounded) {
                block = m_bump;
                m_bump += rounded;
            } else {
                return _alloc(size);
            }
            ++m_live;
            return block;
        }
#endif
        return _alloc(size);
    }
    // Frees a block of Alloc (`size` as allocated). The arena releases
    // itself with its last live block.
    void Free(void* block, std::size_t size) noexcept;
    // Frees every block and the arena itself, live or not.
    void Release() noexcept;

    // Blocks allocated and not yet freed.
    std::size_t Live() const { return m_live; }
    // Bytes of spans and own chunks the arena holds.
    std::size_t HeldBytes() const { return m_heldBytes; }

    // Bookkeeping for the owner of the arena's objects (the attribute tree):
    // how many of its objects hang from no other object of the arena, and
    // whether objects of the arena and of elsewhere have been mixed, in
    // which case the arena is never released whole.
    int32_t Roots() const { return m_roots; }
    void AddRoots(int32_t delta) { m_roots += delta; }
    bool Mixed() const { return m_mixed; }
    void MarkMixed() { m_mixed = true; }

    // Copies of outside values, kept by the string code (CvString.cpp) so
    // that repeated copies of one outside value into the arena share one
    // copy. `from` is held (a reference), `copy` is not: freeing a copy
    // clears its slot. The hook lets go of the slots when the arena is
    // released.
    static constexpr int kCopySlots = 1024;
    struct CopySlot {
        void* from;
        void* copy;
    };
    // The slots, made on first use (null when there is no memory for them).
    CopySlot* CopySlots() noexcept;
    CopySlot* CopySlotsIfAny() const { return m_copies; }
    using ReleaseHook = void (*)(CvkArena* arena);
    static void SetReleaseHook(ReleaseHook hook);

    CvkArena(const CvkArena&) = delete;
    CvkArena& operator=(const CvkArena&) = delete;

private:
    struct Span;
    struct Large;
    static constexpr int kClasses = 24;
    void* _alloc(std::size_t size) noexcept;

    CvkArena() = default;
    bool _newSpan(std::size_t atLeast) noexcept;
    void* _allocLarge(std::size_t size) noexcept;
    void _freeLarge(void* block) noexcept;

    Span* m_spans = nullptr;
    Large* m_large = nullptr;
    unsigned char* m_bump = nullptr;
    unsigned char* m_bumpEnd = nullptr;
    uint32_t m_nextPages = 1;
    std::size_t m_live = 0;
    std::size_t m_heldBytes = 0;
    int32_t m_roots = 0;
    bool m_mixed = false;
    void* m_free[kClasses] = {};
    CopySlot* m_copies = nullptr;
};
