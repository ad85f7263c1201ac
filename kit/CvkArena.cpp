#include "kit/CvkArena.h"

#include "kit/CvkHeap.h"
#include "platform/PlatformMemory.h"

#include <atomic>
#include <cstring>
#include <new>
#include <typeinfo>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define CVK_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define CVK_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define CVK_POISON(p, n) ((void)(p), (void)(n))
#define CVK_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

const char kArenaTag[] = "cvk_arena";

constexpr std::size_t kChunkShift = 21;
constexpr std::size_t kChunkBytes = std::size_t(1) << kChunkShift; // 2 MiB, the huge-page size
constexpr std::size_t kPageShift = 12;
constexpr std::size_t kPageBytes = std::size_t(1) << kPageShift;
constexpr std::size_t kPagesPerChunk = kChunkBytes / kPageBytes;
constexpr uint32_t kMaxSpanPages = 256; // 1 MiB
constexpr int kSpanClasses = 9;         // spans of 1, 2, 4, ... 256 pages
constexpr std::size_t kAlign = CvkArena::kAlign;
constexpr std::size_t kIdleChunks = 128; // 256 MiB kept between documents at most

// The head of every chunk, at its 2 MiB-aligned start.
struct ChunkHead {
    CvkHeap* heap;   // the heap it came from and goes back to
    CvkArena* owner; // the arena of a large block's chunk; null for a chunk of spans
    ChunkHead* next; // the space's chunks of spans, or the arena's large blocks
    ChunkHead* prev;
    std::size_t bytes;  // bytes allocated from the heap
    uint32_t pagesUsed; // chunk of spans: pages carved so far (head included)
};

// A chunk carved into spans: the owner of each page follows the head.
struct SpanChunk : ChunkHead {
    CvkArena* pages[kPagesPerChunk];
};

constexpr uint32_t kHeadPages = static_cast<uint32_t>((sizeof(SpanChunk) + kPageBytes - 1) / kPageBytes);
// Where a large block starts behind its chunk's head.
constexpr std::size_t kLargeOffset = (sizeof(ChunkHead) + kAlign - 1) / kAlign * kAlign;

// Frames (2 MiB units of the address space) of every chunk, for CvkArenaOf:
// an open-addressed table with linear probing; frame 0 (the first 2 MiB of
// the address space) is never a chunk and marks an empty slot.
class FrameTable {
public:
    static constexpr std::size_t kSlots = 8192; // 16 GiB of chunks

    ChunkHead* Find(uintptr_t frame) const
    {
        if (frame < m_lo || frame > m_hi) {
            return nullptr;
        }
        for (std::size_t i = Home(frame);; i = (i + 1) & (kSlots - 1)) {
            if (m_slots[i].frame == frame) {
                return m_slots[i].head;
            }
            if (m_slots[i].frame == 0) {
                return nullptr;
            }
        }
    }

    bool Insert(uintptr_t frame, ChunkHead* head)
    {
        if (m_count >= kSlots / 4 * 3) {
            return false;
        }
        std::size_t i = Home(frame);
        while (m_slots[i].frame != 0) {
            i = (i + 1) & (kSlots - 1);
        }
        m_slots[i].head = head;
        m_slots[i].frame = frame;
        ++m_count;
        m_lo = frame < m_lo ? frame : m_lo;
        m_hi = frame > m_hi ? frame : m_hi;
        return true;
    }

    // Removal with backward shifting, so that no probe chain is broken.
    void Erase(uintptr_t frame)
    {
        std::size_t i = Home(frame);
        while (m_slots[i].frame != frame) {
            if (m_slots[i].frame == 0) {
                return;
            }
            i = (i + 1) & (kSlots - 1);
        }
        for (std::size_t j = i;;) {
            m_slots[i] = Slot{};
            for (;;) {
                j = (j + 1) & (kSlots - 1);
                if (m_slots[j].frame == 0) {
                    if (--m_count == 0) {
                        m_lo = ~uintptr_t(0);
                        m_hi = 0;
                    }
                    return;
                }
                const std::size_t h = Home(m_slots[j].frame);
                const bool stays = i <= j ? (i < h && h <= j) : (i < h || h <= j);
                if (!stays) {
                    m_slots[i] = m_slots[j];
                    i = j;
                    break;
                }
            }
        }
    }

private:
    struct Slot {
        uintptr_t frame = 0;
        ChunkHead* head = nullptr;
    };
    static std::size_t Home(uintptr_t frame)
    {
        return static_cast<std::size_t>((static_cast<uint64_t>(frame) * 0x9E3779B97F4A7C15ull) >> 51);
    }

    Slot m_slots[kSlots];
    std::size_t m_count = 0;
    uintptr_t m_lo = ~uintptr_t(0);
    uintptr_t m_hi = 0;
};
static_assert(FrameTable::kSlots == std::size_t(1) << 13, "Home() yields 13 bits");

class SpinLock {
public:
    explicit SpinLock(std::atomic_flag& flag) : m_flag(flag)
    {
        while (m_flag.test_and_set(std::memory_order_acquire)) {}
    }
    ~SpinLock() { m_flag.clear(std::memory_order_release); }
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

private:
    std::atomic_flag& m_flag;
};

int SpanClass(uint32_t pages)
{
    int k = 0;
    while ((uint32_t(1) << k) < pages) {
        ++k;
    }
    return k;
}

uintptr_t FrameOf(const void* address) { return reinterpret_cast<uintptr_t>(address) >> kChunkShift; }

SpanChunk* ChunkOfSpan(void* span)
{
    return reinterpret_cast<SpanChunk*>(reinterpret_cast<uintptr_t>(span) & ~(uintptr_t(kChunkBytes) - 1));
}

// The process-wide space: chunks of spans, free spans by size, large-block
// chunks, and the frame table over all of them.
class Space {
public:
    // A span of `pages` pages, or the rest of the current chunk when that
    // holds at least `least` pages and half of `pages`; its size in `got`.
    void* TakeSpan(uint32_t pages, uint32_t least, CvkArena* owner, uint32_t& got);
    // Returns the spans of a released arena (linked through their first word).
    void ReturnSpans(void* first);
    ChunkHead* TakeLarge(std::size_t bytes, CvkArena* owner);
    void ReturnLarge(ChunkHead* chunk);
    CvkArena* OwnerOf(const void* address) const;
    // Gives the idle chunks back to their heap.
    void Trim();

private:
    struct SpanLink {
        SpanLink* next;
        uint32_t pages;
    };
    SpanChunk* _newChunk();
    // An idle chunk, or null.
    SpanChunk* _takeIdle();
    void _pushFree(void* span, uint32_t pages);
    void _shelveRest();
    ChunkHead* _allocChunk(std::size_t bytes, bool hugePages);
    void _freeChunk(ChunkHead* chunk);
    void _releaseWhenIdle();
    // True for the last heap seen ignoring the chunk alignment: it is not
    // asked again (its objects take the pools' way instead).
    bool _knownUnaligned(CvkHeap* heap) const { return heap == m_unalignedHeap && typeid(*heap) == *m_unalignedType; }

    std::atomic_flag m_lock = ATOMIC_FLAG_INIT;
    CvkHeap* m_unalignedHeap = nullptr;
    const std::type_info* m_unalignedType = nullptr;
    FrameTable m_frames;
    SpanChunk* m_chunks = nullptr;  // every chunk of spans
    SpanChunk* m_current = nullptr; // the one being carved
    SpanChunk* m_idle = nullptr;    // chunks kept for the next documents
    std::size_t m_idleCount = 0;
    void* m_freeSpans[kSpanClasses] = {};
    std::size_t m_liveSpans = 0;
    std::size_t m_liveLarge = 0;
};

Space g_space;

// A chunk of `bytes` (a multiple of 2 MiB), 2 MiB-aligned, registered in the
// frame table; null when the heap or the table is full.
ChunkHead* Space::_allocChunk(std::size_t bytes, bool hugePages)
{
    CvkHeap* heap = CvkHeapGetSystem();
    if (heap == nullptr || bytes > UINT32_MAX || _knownUnaligned(heap)) {
        return nullptr;
    }
    void* p = heap->AllocAlign(static_cast<uint32_t>(bytes), static_cast<uint32_t>(kChunkBytes), kArenaTag, 0);
    if (p == nullptr) {
        return nullptr;
    }
    if ((reinterpret_cast<uintptr_t>(p) & (kChunkBytes - 1)) != 0) {
        heap->Free(p, kArenaTag, 0); // a heap that ignores the alignment has no arenas to give
        m_unalignedHeap = heap;
        m_unalignedType = &typeid(*heap);
        return nullptr;
    }
    if (hugePages) {
        PlatformAdviseHugePages(p, bytes); // before the first byte is touched
    }
    auto* chunk = static_cast<ChunkHead*>(p);
    for (std::size_t at = 0; at < bytes; at += kChunkBytes) {
        if (!m_frames.Insert(FrameOf(static_cast<char*>(p) + at), chunk)) {
            for (std::size_t back = 0; back < at; back += kChunkBytes) {
                m_frames.Erase(FrameOf(static_cast<char*>(p) + back));
            }
            heap->Free(p, kArenaTag, 0);
            return nullptr;
        }
    }
    chunk->heap = heap;
    chunk->owner = nullptr;
    chunk->next = chunk->prev = nullptr;
    chunk->bytes = bytes;
    chunk->pagesUsed = 0;
    return chunk;
}

void Space::_freeChunk(ChunkHead* chunk)
{
    for (std::size_t at = 0; at < chunk->bytes; at += kChunkBytes) {
        m_frames.Erase(FrameOf(reinterpret_cast<char*>(chunk) + at));
    }
    CVK_UNPOISON(chunk, chunk->bytes);
    chunk->heap->Free(chunk, kArenaTag, 0);
}

// Idle chunks are all of the current system heap: only such chunks go idle,
// and a change of the slot gives them back (CvkHeapSetSystem).
SpanChunk* Space::_takeIdle()
{
    SpanChunk* chunk = m_idle;
    if (chunk != nullptr) {
        m_idle = static_cast<SpanChunk*>(chunk->next);
        --m_idleCount;
    }
    return chunk;
}

SpanChunk* Space::_newChunk()
{
    SpanChunk* chunk = _takeIdle();
    if (chunk == nullptr) {
        chunk = static_cast<SpanChunk*>(_allocChunk(kChunkBytes, true));
        if (chunk == nullptr) {
            return nullptr;
        }
        std::memset(chunk->pages, 0, sizeof chunk->pages);
    }
    chunk->pagesUsed = kHeadPages;
    CVK_POISON(reinterpret_cast<char*>(chunk) + kHeadPages * kPageBytes, kChunkBytes - kHeadPages * kPageBytes);
    chunk->next = m_chunks;
    m_chunks = chunk;
    return chunk;
}

void* Space::TakeSpan(uint32_t pages, uint32_t least, CvkArena* owner, uint32_t& got)
{
    SpinLock guard(m_lock);
    const int k = SpanClass(pages);
    void* span = m_freeSpans[k];
    if (span != nullptr) {
        CVK_UNPOISON(span, sizeof(SpanLink));
        m_freeSpans[k] = static_cast<SpanLink*>(span)->next;
    } else {
        const uint32_t left = m_current != nullptr ? static_cast<uint32_t>(kPagesPerChunk) - m_current->pagesUsed : 0;
        if (left < pages && left >= pages / 2 && left >= least) {
            pages = left; // the end of the chunk rather than a fresh one
        } else if (left < pages) {
            _shelveRest();
            m_current = _newChunk();
            if (m_current == nullptr) {
                return nullptr;
            }
        }
        span = reinterpret_cast<char*>(m_current) + m_current->pagesUsed * kPageBytes;
        m_current->pagesUsed += pages;
    }
    SpanChunk* chunk = ChunkOfSpan(span);
    const std::size_t first = (reinterpret_cast<uintptr_t>(span) - reinterpret_cast<uintptr_t>(chunk)) >> kPageShift;
    for (uint32_t i = 0; i < pages; ++i) {
        chunk->pages[first + i] = owner;
    }
    ++m_liveSpans;
    got = pages;
    return span;
}

void Space::_pushFree(void* span, uint32_t pages)
{
    CVK_UNPOISON(span, sizeof(SpanLink));
    auto* link = static_cast<SpanLink*>(span);
    const int k = SpanClass(pages);
    link->next = static_cast<SpanLink*>(m_freeSpans[k]);
    link->pages = pages;
    m_freeSpans[k] = link;
    CVK_POISON(span, pages * kPageBytes);
}

// The pages a full chunk has left become free spans of the sizes that fit.
void Space::_shelveRest()
{
    if (m_current == nullptr) {
        return;
    }
    uint32_t left = static_cast<uint32_t>(kPagesPerChunk) - m_current->pagesUsed;
    for (uint32_t pages = kMaxSpanPages; left > 0; pages >>= 1) {
        while (left >= pages) {
            _pushFree(reinterpret_cast<char*>(m_current) + m_current->pagesUsed * kPageBytes, pages);
            m_current->pagesUsed += pages;
            left -= pages;
        }
    }
}

void Space::ReturnSpans(void* first)
{
    SpinLock guard(m_lock);
    for (auto* s = static_cast<SpanLink*>(first); s != nullptr;) {
        SpanLink* following = s->next;
        const uint32_t pages = s->pages;
        SpanChunk* chunk = ChunkOfSpan(s);
        const std::size_t at = (reinterpret_cast<uintptr_t>(s) - reinterpret_cast<uintptr_t>(chunk)) >> kPageShift;
        std::memset(&chunk->pages[at], 0, pages * sizeof(CvkArena*));
        _pushFree(s, pages);
        --m_liveSpans;
        s = following;
    }
    _releaseWhenIdle();
}

ChunkHead* Space::TakeLarge(std::size_t bytes, CvkArena* owner)
{
    SpinLock guard(m_lock);
    ChunkHead* chunk = _allocChunk(bytes, false);
    if (chunk != nullptr) {
        chunk->owner = owner;
        ++m_liveLarge;
    }
    return chunk;
}

void Space::ReturnLarge(ChunkHead* chunk)
{
    SpinLock guard(m_lock);
    _freeChunk(chunk);
    --m_liveLarge;
    _releaseWhenIdle();
}

// With no arena left, the chunks go idle: up to kIdleChunks of them are
// kept, already backed by the kernel, for the next documents (a program that
// reads document after document would otherwise have every page of every
// tree faulted in and cleared afresh); the rest go back to their heap. The
// idle ones go back when the kit stops or the system heap slot changes
// (CvkArena::Trim). Their page maps are clear: ReturnSpans cleared them.
void Space::_releaseWhenIdle()
{
    if (m_liveSpans != 0 || m_liveLarge != 0) {
        return;
    }
    CvkHeap* heap = CvkHeapGetSystem();
    while (m_chunks != nullptr) {
        SpanChunk* chunk = m_chunks;
        m_chunks = static_cast<SpanChunk*>(chunk->next);
        if (m_idleCount < kIdleChunks && chunk->heap == heap) {
            chunk->next = m_idle;
            m_idle = chunk;
            ++m_idleCount;
        } else {
            _freeChunk(chunk);
        }
    }
    m_current = nullptr;
    for (void*& list : m_freeSpans) {
        list = nullptr;
    }
}

void Space::Trim()
{
    SpinLock guard(m_lock);
    while (m_idle != nullptr) {
        SpanChunk* chunk = m_idle;
        m_idle = static_cast<SpanChunk*>(chunk->next);
        _freeChunk(chunk);
    }
    m_idleCount = 0;
}

CvkArena* Space::OwnerOf(const void* address) const
{
    const ChunkHead* chunk = m_frames.Find(FrameOf(address));
    if (chunk == nullptr) {
        return nullptr;
    }
    if (chunk->owner != nullptr) {
        return chunk->owner;
    }
    const auto* spans = static_cast<const SpanChunk*>(chunk);
    return spans->pages[(reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(chunk)) >> kPageShift];
}

// Free-list class of a block size (16-byte steps to 256, then powers of two
// to kMaxBlock) and the size the class hands out.
int BlockClass(std::size_t size, std::size_t& rounded)
{
    if (size <= CvkArena::kMaxSmall) {
        rounded = size == 0 ? kAlign : (size + kAlign - 1) & ~(kAlign - 1);
        return static_cast<int>(rounded / kAlign) - 1;
    }
    int k = 16;
    for (rounded = 512; rounded < size; rounded <<= 1) {
        ++k;
    }
    return k;
}

} // namespace

// A span starts with its link in the arena's list of spans.
struct CvkArena::Span {
    Span* next;
    uint32_t pages;
};

namespace {
CvkArena::ReleaseHook g_releaseHook = nullptr;
}

void CvkArena::SetReleaseHook(ReleaseHook hook) { g_releaseHook = hook; }

void CvkArena::Trim() noexcept { g_space.Trim(); }

CvkArena* CvkArenaOf(const void* address) noexcept { return g_space.OwnerOf(address); }

CvkArena* CvkArena::Create() noexcept
{
    static_assert(sizeof(Span) <= kAlign, "a span's link fits its first 16 bytes");
    constexpr std::size_t kSelf = (sizeof(CvkArena) + kAlign - 1) / kAlign * kAlign;
    uint32_t got = 0;
    void* span = g_space.TakeSpan(1, 1, nullptr, got);
    if (span == nullptr) {
        return nullptr;
    }
    auto* arena = reinterpret_cast<CvkArena*>(static_cast<char*>(span) + kAlign);
    CVK_UNPOISON(span, kAlign + kSelf);
    new (arena) CvkArena();
    ChunkOfSpan(span)->pages[(reinterpret_cast<uintptr_t>(span) & (kChunkBytes - 1)) >> kPageShift] = arena;
    auto* link = static_cast<Span*>(span);
    link->next = nullptr;
    link->pages = 1;
    arena->m_spans = link;
    arena->m_bump = static_cast<unsigned char*>(span) + kAlign + kSelf;
    arena->m_bumpEnd = static_cast<unsigned char*>(span) + kPageBytes;
    arena->m_nextPages = 2;
    arena->m_heldBytes = kPageBytes;
    return arena;
}

bool CvkArena::_newSpan(std::size_t atLeast) noexcept
{
    const auto least = static_cast<uint32_t>((atLeast + kAlign + kPageBytes - 1) / kPageBytes);
    uint32_t pages = m_nextPages;
    while (pages < least) {
        pages <<= 1;
    }
    void* span = g_space.TakeSpan(pages, least, this, pages);
    if (span == nullptr) {
        return false;
    }
    CVK_UNPOISON(span, kAlign);
    auto* link = static_cast<Span*>(span);
    link->next = m_spans;
    link->pages = pages;
    m_spans = link;
    m_bump = static_cast<unsigned char*>(span) + kAlign;
    m_bumpEnd = static_cast<unsigned char*>(span) + pages * kPageBytes;
    m_heldBytes += pages * kPageBytes;
    if (m_nextPages < kMaxSpanPages) {
        m_nextPages <<= 1;
    }
    return true;
}

void* CvkArena::_alloc(std::size_t size) noexcept
{
    if (size > kMaxBlock) {
        return _allocLarge(size);
    }
    std::size_t rounded;
    const int k = BlockClass(size, rounded);
    void* block = m_free[k];
    if (block != nullptr) {
        CVK_UNPOISON(block, rounded);
        std::memcpy(&m_free[k], block, sizeof(void*));
    } else {
        if (static_cast<std::size_t>(m_bumpEnd - m_bump) < rounded && !_newSpan(rounded)) {
            return nullptr;
        }
        block = m_bump;
        m_bump += rounded;
        CVK_UNPOISON(block, rounded);
    }
    ++m_live;
    return block;
}

void CvkArena::Free(void* block, std::size_t size) noexcept
{
    if (block == nullptr) {
        return;
    }
    if (size > kMaxBlock) {
        _freeLarge(block);
    } else {
        std::size_t rounded;
        const int k = BlockClass(size, rounded);
        std::memcpy(block, &m_free[k], sizeof(void*));
        m_free[k] = block;
        CVK_POISON(block, rounded);
    }
    if (--m_live == 0) {
        Release();
    }
}

// A large block has a chunk of its own, listed in the arena, so that
// CvkArenaOf finds the arena from any of its bytes.
struct CvkArena::Large : ChunkHead {};

void* CvkArena::_allocLarge(std::size_t size) noexcept
{
    if (size > UINT32_MAX - kLargeOffset - kChunkBytes) {
        return nullptr;
    }
    const std::size_t bytes = (kLargeOffset + size + kChunkBytes - 1) & ~(kChunkBytes - 1);
    ChunkHead* chunk = g_space.TakeLarge(bytes, this);
    if (chunk == nullptr) {
        return nullptr;
    }
    auto* large = static_cast<Large*>(chunk);
    large->next = m_large;
    large->prev = nullptr;
    if (m_large != nullptr) {
        m_large->prev = large;
    }
    m_large = large;
    m_heldBytes += bytes;
    ++m_live;
    return reinterpret_cast<char*>(chunk) + kLargeOffset;
}

void CvkArena::_freeLarge(void* block) noexcept
{
    auto* large = reinterpret_cast<Large*>(static_cast<char*>(block) - kLargeOffset);
    if (large->prev != nullptr) {
        large->prev->next = large->next;
    } else {
        m_large = static_cast<Large*>(large->next);
    }
    if (large->next != nullptr) {
        large->next->prev = large->prev;
    }
    m_heldBytes -= large->bytes;
    g_space.ReturnLarge(large);
}

CvkArena::CopySlot* CvkArena::CopySlots() noexcept
{
    if (m_copies == nullptr) {
        void* block = Alloc(sizeof(CopySlot) * kCopySlots);
        if (block == nullptr) {
            return nullptr;
        }
        --m_live; // the arena's own bookkeeping does not keep it alive
        std::memset(block, 0, sizeof(CopySlot) * kCopySlots);
        m_copies = static_cast<CopySlot*>(block);
    }
    return m_copies;
}

void CvkArena::Release() noexcept
{
    if (g_releaseHook != nullptr) {
        g_releaseHook(this);
    }
    while (m_large != nullptr) {
        Large* large = m_large;
        m_large = static_cast<Large*>(large->next);
        g_space.ReturnLarge(large);
    }
    // The arena itself lives in its first span, the last of the list: nothing
    // of it is touched once the spans are handed back.
    g_space.ReturnSpans(m_spans);
}
