#include "attribute/AtrNodePool.h"

#include "attribute/AtrAttribute.h"
#include "attribute/AtrData.h"
#include "attribute/AtrNode.h"
#include "kit/CvkArena.h"
#include "kit/CvkHeap.h"

#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define ATR_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define ATR_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define ATR_POISON(p, n) ((void)(p), (void)(n))
#define ATR_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

const char kPoolTag[] = "atr_tree";

class SpinLock {
public:
    explicit SpinLock(std::atomic_flag& f) : flag(f)
    {
        while (flag.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~SpinLock() { flag.clear(std::memory_order_release); }
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

private:
    std::atomic_flag& flag;
};

AtrNodePool g_nodes(sizeof(AtrNode));
AtrNodePool g_attributes(sizeof(AtrAttribute));
AtrNodePool g_data(sizeof(AtrData));

} // namespace

AtrNodePool& AtrNodePool::Nodes() { return g_nodes; }
AtrNodePool& AtrNodePool::Attributes() { return g_attributes; }
AtrNodePool& AtrNodePool::Data() { return g_data; }

bool AtrNodePool::_newChunk() noexcept
{
    CvkHeap* heap = CvkHeapGetSystem();
    if (heap == nullptr) {
        return false;
    }
    const uint32_t bytes = nextChunkBytes;
    void* p = heap->AllocAlign(bytes, static_cast<uint32_t>(kAlign), kPoolTag, 0);
    if (p == nullptr) {
        return false;
    }
    Chunk* c = static_cast<Chunk*>(p);
    c->next = chunks;
    c->heap = heap;
    c->bytes = bytes;
    chunks = c;
    bump = static_cast<unsigned char*>(p) + kHeader;
    bumpEnd = static_cast<unsigned char*>(p) + bytes;
    ATR_POISON(bump, static_cast<std::size_t>(bumpEnd - bump));
    if (nextChunkBytes < kLastChunk) {
        nextChunkBytes *= 2;
    }
    return true;
}

void AtrNodePool::_releaseAll() noexcept
{
    while (chunks != nullptr) {
        Chunk* c = chunks;
        chunks = c->next;
        ATR_UNPOISON(c, c->bytes);
        c->heap->Free(c, kPoolTag, 0);
    }
    freeList = nullptr;
    bump = bumpEnd = nullptr;
    nextChunkBytes = kFirstChunk;
}

void* AtrNodePool::Alloc() noexcept
{
    SpinLock guard(lock);
    void* p = nullptr;
    if (freeList != nullptr) {
        p = freeList;
        ATR_UNPOISON(p, slot);
        void* following;
        std::memcpy(&following, p, sizeof following);
        freeList = following;
    } else {
        if (bump == nullptr || static_cast<std::size_t>(bumpEnd - bump) < slot) {
            if (!_newChunk()) {
                return nullptr;
            }
        }
        p = bump;
        bump += slot;
        ATR_UNPOISON(p, slot);
    }
    ++live;
    return p;
}

void AtrNodePool::Free(void* pointer) noexcept
{
    if (pointer != nullptr) {
        FreeMany(&pointer, 1);
    }
}

void AtrNodePool::FreeMany(void* const* slots, std::size_t count) noexcept
{
    if (count == 0) {
        return;
    }
    SpinLock guard(lock);
    for (std::size_t i = 0; i < count; ++i) {
        void* pointer = slots[i];
        if (pointer == nullptr) {
            continue;
        }
        if (--live == 0) {
            _releaseAll();
            return; // nothing else can be live
        }
        std::memcpy(pointer, &freeList, sizeof freeList);
        freeList = pointer;
        ATR_POISON(pointer, slot);
    }
}

// ------------------------------------------------------ class-level new/delete

// Objects of a document's arena (placed there by AtrNode) go back to it;
// other objects of exactly the pooled class to the pool.
#define ATR_POOLED_CLASS(Class, pool)                                                                           \
    void* Class::operator new(std::size_t size) noexcept                                                       \
    {                                                                                                           \
        return size == sizeof(Class) ? pool.Alloc() : CvkAllocator::operator new(size);                         \
    }                                                                                                           \
    void* Class::operator new(std::size_t size, const char* fileName, int line) noexcept                       \
    {                                                                                                           \
        return size == sizeof(Class) ? pool.Alloc() : CvkAllocator::operator new(size, fileName, line);         \
    }                                                                                                           \
    void Class::operator delete(void* pointer, std::size_t size) noexcept                                      \
    {                                                                                                           \
        if (CvkArena* arena = CvkArenaOf(pointer)) {                                                            \
            arena->Free(pointer, size);                                                                         \
        } else if (size == sizeof(Class)) {                                                                     \
            pool.Free(pointer);                                                                                 \
        } else {                                                                                                \
            CvkAllocator::operator delete(pointer);                                                             \
        }                                                                                                       \
    }                                                                                                           \
    /* Only reached when a constructor of a pooled object fails. */                                            \
    void Class::operator delete(void* pointer, const char*, int) noexcept { pool.Free(pointer); }

ATR_POOLED_CLASS(AtrNode, g_nodes)
ATR_POOLED_CLASS(AtrAttribute, g_attributes)
ATR_POOLED_CLASS(AtrData, g_data)
