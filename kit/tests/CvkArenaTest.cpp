#include "kit/CvkArena.h"

#include "kit/CvString.h"
#include "kit/CvVariant.h"
#include "kit/tests/AlignedTestHeap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

using CvkArenaTest = AlignedHeapTest;

TEST_F(CvkArenaTest, BlocksAreFoundByAddressAndReusedBySize)
{
    CvkArena* arena = CvkArena::Create();
    ASSERT_NE(arena, nullptr);
    int onStack = 0;
    EXPECT_EQ(CvkArenaOf(&onStack), nullptr);
    EXPECT_EQ(CvkArenaOf(arena), arena);

    // Sizes of every free-list class, a large block, and blocks that need
    // fresh spans: each is found by address from its first and last byte.
    const size_t sizes[] = {1, 16, 17, 256, 257, 4000, 65536, 65537, 300000};
    std::vector<std::pair<unsigned char*, size_t>> blocks;
    for (int round = 0; round < 40; ++round) {
        for (size_t size : sizes) {
            auto* p = static_cast<unsigned char*>(arena->Alloc(size));
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
            std::memset(p, round, size);
            EXPECT_EQ(CvkArenaOf(p), arena);
            EXPECT_EQ(CvkArenaOf(p + size - 1), arena);
            blocks.emplace_back(p, size);
        }
    }
    // A freed block is handed out again for the same size.
    unsigned char* again = blocks[1].first;
    arena->Free(again, 16);
    EXPECT_EQ(arena->Alloc(16), again);

    // Two arenas never share a page.
    CvkArena* other = CvkArena::Create();
    ASSERT_NE(other, nullptr);
    void* q = other->Alloc(32);
    EXPECT_EQ(CvkArenaOf(q), other);
    for (auto& [p, size] : blocks) {
        EXPECT_EQ(CvkArenaOf(p), arena);
    }
    other->Free(q, 32); // the last block: the arena releases itself

    arena->Release(); // everything at once, live blocks or not
    EXPECT_EQ(CvkArenaOf(blocks[0].first), nullptr);
    CvkArena::Trim();
    EXPECT_EQ(heap.LiveBlocks(), 0);
}

// Released chunks stay idle for the next document, which then takes no new
// heap block; they go back to their heap on Trim or when the system heap
// slot changes, never to another heap.
TEST_F(CvkArenaTest, IdleChunksServeTheNextArenaAndGoBackToTheirHeap)
{
    auto fill = [](CvkArena* arena) {
        for (int i = 0; i < 3000; ++i) { // about 3 MiB: two chunks
            auto* p = static_cast<unsigned char*>(arena->Alloc(1024));
            ASSERT_NE(p, nullptr);
            std::memset(p, i, 1024);
            EXPECT_EQ(CvkArenaOf(p), arena);
        }
    };
    CvkArena* first = CvkArena::Create();
    ASSERT_NE(first, nullptr);
    fill(first);
    first->Release();
    const int kept = heap.LiveBlocks();
    EXPECT_GE(kept, 2);

    CvkArena* second = CvkArena::Create();
    ASSERT_NE(second, nullptr);
    fill(second);
    EXPECT_EQ(heap.LiveBlocks(), kept);
    second->Release();

    AlignedTestHeap other;
    CvkHeapSetSystem(&other);
    EXPECT_EQ(heap.LiveBlocks(), 0);
    CvkArena* third = CvkArena::Create(); // fresh chunks from the new heap
    ASSERT_NE(third, nullptr);
    fill(third);
    EXPECT_EQ(heap.LiveBlocks(), 0);
    third->Release();
    CvkHeapSetSystem(&heap);
    EXPECT_EQ(other.LiveBlocks(), 0);
}

TEST_F(CvkArenaTest, RunningOutOfChunksFailsCleanly)
{
    heap.refuse = true;
    EXPECT_EQ(CvkArena::Create(), nullptr);
    heap.refuse = false;

    CvkArena* arena = CvkArena::Create();
    ASSERT_NE(arena, nullptr);
    heap.refuse = true; // blocks still come from the chunk it has...
    EXPECT_NE(arena->Alloc(100), nullptr);
    EXPECT_EQ(arena->Alloc(CvkArena::kMaxBlock + 1), nullptr); // ...but not a chunk of their own
    heap.refuse = false;
    arena->Release();
}

// Strings and variants that live in arena memory keep their values there;
// copies across the line are private, so releasing the arena leaves every
// outside copy intact (ASan reports any read of released memory).
TEST_F(CvkArenaTest, StringsAndBuffersStayOnTheirSide)
{
    CvkArena* arena = CvkArena::Create();
    ASSERT_NE(arena, nullptr);
    const CvString outside("a value shared by copies");
    auto* inside = new (arena->Alloc(sizeof(CvString))) CvString(outside);
    auto* second = new (arena->Alloc(sizeof(CvString))) CvString(*inside);
    const unsigned char bytes[] = {1, 2, 3, 4, 5};
    auto* variant = new (arena->Alloc(sizeof(CvVariant))) CvVariant(bytes, sizeof bytes);
    variant->GetString(); // the cached text form is made in the arena too

    EXPECT_EQ(CvkArenaOf(inside->GetBuffer()), arena);
    EXPECT_NE(inside->GetBuffer(), outside.GetBuffer()); // copied in
    EXPECT_EQ(second->GetBuffer(), inside->GetBuffer()); // shared inside
    EXPECT_EQ(CvkArenaOf(variant->GetBuffer()), arena);
    EXPECT_EQ(CvkArenaOf(variant->GetCvString().GetBuffer()), arena);

    inside->Append(" and changed");
    EXPECT_EQ(CvkArenaOf(inside->GetBuffer()), arena);
    EXPECT_STREQ(second->GetBuffer(), "a value shared by copies");

    CvString out(*inside);
    CvString assigned;
    assigned = *second;
    CvVariant outVariant(*variant);
    EXPECT_EQ(CvkArenaOf(out.GetBuffer()), nullptr);
    EXPECT_EQ(CvkArenaOf(assigned.GetBuffer()), nullptr);
    EXPECT_EQ(CvkArenaOf(outVariant.GetBuffer()), nullptr);

    arena->Release(); // no destructor runs
    EXPECT_STREQ(out.GetBuffer(), "a value shared by copies and changed");
    EXPECT_STREQ(assigned.GetBuffer(), "a value shared by copies");
    EXPECT_EQ(std::memcmp(outVariant.GetBuffer(), bytes, sizeof bytes), 0);
}

// A name copied into a document again and again shares one copy there; the
// copy is never changed in place, and the arena lets go of the outside
// value when it is released (the fixture checks the heap).
TEST_F(CvkArenaTest, RepeatedCopiesOfOneOutsideValueShareOneCopy)
{
    CvkArena* arena = CvkArena::Create();
    ASSERT_NE(arena, nullptr);
    const CvString name("element");
    auto make = [&](const CvString& from) { return new (arena->Alloc(sizeof(CvString))) CvString(from); };
    CvString* a = make(name);
    CvString* b = make(name);
    EXPECT_EQ(a->GetBuffer(), b->GetBuffer());
    EXPECT_NE(a->GetBuffer(), name.GetBuffer());

    a->Append("s");
    b->MakeUpper();
    CvString* c = make(name);
    EXPECT_STREQ(a->GetBuffer(), "elements");
    EXPECT_STREQ(b->GetBuffer(), "ELEMENT");
    EXPECT_STREQ(c->GetBuffer(), "element");

    // Copies freed one by one: the last one clears the cache, and a later
    // copy is made afresh from the same text.
    for (CvString* s : {a, b, c}) {
        s->~CvString();
        arena->Free(s, sizeof(CvString));
    }
    arena = CvkArena::Create();
    ASSERT_NE(arena, nullptr);
    CvString* d = make(name);
    EXPECT_STREQ(d->GetBuffer(), "element");
    arena->Release();
    EXPECT_STREQ(name.GetBuffer(), "element");
}

// A cache may hold values made for an arena (AssignIn): strings of that
// arena share them, whether or not they are told their arena, and every
// other string takes a private copy on its own side.
TEST_F(CvkArenaTest, ValuesMadeForAnArenaAreSharedByItsStringsOnly)
{
    CvkArena* arena = CvkArena::Create();
    CvkArena* other = CvkArena::Create();
    ASSERT_NE(arena, nullptr);
    ASSERT_NE(other, nullptr);
    CvString cached;
    const std::string text = "a name kept for the document";
    cached.AssignIn(arena, text.data(), text.data() + text.size());
    ASSERT_EQ(CvkArenaOf(cached.GetBuffer()), arena);

    auto place = [](CvkArena* a, const CvString& from, bool told) {
        void* at = a->Alloc(sizeof(CvString));
        return told ? new (at) CvString(from, a) : new (at) CvString(from);
    };
    CvString* told = place(arena, cached, true);
    CvString* plain = place(arena, cached, false);
    CvString* elsewhere = place(other, cached, true);
    CvString outside(cached);
    CvString toldOutside(cached, nullptr);
    EXPECT_EQ(told->GetBuffer(), cached.GetBuffer());
    EXPECT_EQ(plain->GetBuffer(), cached.GetBuffer());
    EXPECT_EQ(CvkArenaOf(elsewhere->GetBuffer()), other);
    EXPECT_EQ(CvkArenaOf(outside.GetBuffer()), nullptr);
    EXPECT_EQ(CvkArenaOf(toldOutside.GetBuffer()), nullptr);
    // An outside value told into an arena is copied in as by the plain copy.
    CvString* in = place(other, outside, true);
    EXPECT_EQ(CvkArenaOf(in->GetBuffer()), other);

    cached.Erase(); // the holder lets go before the arena goes
    arena->Release();
    other->Release();
    EXPECT_EQ(std::string(outside.GetBuffer()), text);
    EXPECT_EQ(std::string(toldOutside.GetBuffer()), text);
}

} // namespace
