#include "kit/CvChunk.h"

#include "kit/tests/CvChunkTestImage.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr unsigned kATRB = CVK_CHUNK_TAG_ATRB;
constexpr unsigned kPOF0 = CVK_CHUNK_TAG_POF0;
constexpr unsigned kEOFC = CVK_CHUNK_TAG_EOFC;
constexpr unsigned kSTRS = CvChunkMakeTag("STRS");
constexpr unsigned kPOF1 = CvChunkMakeTag("POF1");

} // namespace

TEST(CvChunk, HeaderLayoutTagAndClear)
{
    uint8_t raw[32];
    std::memset(raw, 0x5A, sizeof raw);
    CvChunk* c = reinterpret_cast<CvChunk*>(raw);
    c->Clear();
    const uint8_t cleared[32] = {0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(raw, cleared, 32));

    c->SetTag(0x41545242); // "ATRB"
    c->SetSize(0x01020304);
    c->SetCode(7);
    EXPECT_EQ(0, std::memcmp(raw, "ATRB", 4)); // reading order in memory
    EXPECT_EQ(c->GetTag(), 0x41545242u);
    EXPECT_EQ(CvChunkMakeTag("ATRB"), 0x41545242u);
    const uint8_t sizeLE[4] = {4, 3, 2, 1}; // the writer's (little-endian) order
    EXPECT_EQ(0, std::memcmp(raw + 4, sizeLE, 4));
    EXPECT_EQ(c->GetCode(), 7u);

    std::memset(raw, 0x77, sizeof raw);
    EXPECT_EQ(CvkCnkWriteEOFCInfo(c), 1);
    EXPECT_EQ(0, std::memcmp(raw, "EOFC", 4));
    EXPECT_EQ(0, std::memcmp(raw + 4, cleared + 4, 28));
    EXPECT_EQ(CvkCnkWriteEOFCInfo(nullptr), 0);
}

TEST(CvChunk, DataHeaderChildAndSiblingAddresses)
{
    CvChunkTestImage img;
    const size_t empty = img.Add(kATRB);                          // size 0
    const size_t ext = img.Add(kSTRS, {1, 2, 3, 4}, 40);          // 8-byte extended header
    img.AddEnd();
    CvChunk* e = img.At(empty);
    EXPECT_EQ(e->GetData(), nullptr);
    EXPECT_EQ(e->GetHeader(), nullptr);
    EXPECT_EQ(e->GetNext(0), img.At(ext)); // the next chunk starts at start + headSize
    CvChunk* x = img.At(ext);
    EXPECT_EQ(x->GetHeader(), img.bytes.data() + ext + 32);
    EXPECT_EQ(x->GetData(), img.bytes.data() + ext + 40);

    EXPECT_EQ(e->GetChild(), nullptr);
    EXPECT_EQ(e->GetSibling(), nullptr);
    e->childOffset = 32;
    e->siblingOffset = static_cast<uint32_t>(ext);
    EXPECT_EQ(e->GetChild(), reinterpret_cast<CvChunk*>(img.bytes.data() + 32));
    EXPECT_EQ(e->GetSibling(), x);
    const void* image = img.bytes.data();
    EXPECT_EQ(e->GetSibling(image, img.bytes.size()), x);
    e->siblingOffset = static_cast<uint32_t>(img.bytes.size() - 16); // header would cross the end
    EXPECT_EQ(e->GetSibling(image, img.bytes.size()), nullptr);
}

// Every walking query gives the same answer in the plain and the bounded form
// over a well-formed image: [ATRB, POF0, STRS, ATRB, POF1, EOFC].
TEST(CvChunk, WalkingWellFormedImage)
{
    CvChunkTestImage img;
    const size_t a0 = img.Add(kATRB, {1, 2, 3});
    const size_t p0 = img.Add(kPOF0, {4, 0, 0, 0});
    const size_t s0 = img.Add(kSTRS, {9}, 36);
    const size_t a1 = img.Add(kATRB);
    const size_t p1 = img.Add(kPOF1, {4, 0, 0, 0});
    const size_t end = img.AddEnd();
    const void* image = img.bytes.data();
    const size_t n = img.bytes.size();
    auto at = [&](size_t off) { return img.At(off); };

    struct Case {
        const char* what;
        CvChunk* plain;
        CvChunk* bounded;
        CvChunk* expected;
    };
    CvChunk* A = at(a0);
    const Case cases[] = {
        {"next", A->GetNext(0), A->GetNext(0, image, n), at(p0)},
        {"next skipping POF", A->GetNext(1), A->GetNext(1, image, n), at(s0)},
        {"next of last before end", at(a1)->GetNext(1), at(a1)->GetNext(1, image, n), nullptr},
        {"next into the end", at(p1)->GetNext(0), at(p1)->GetNext(0, image, n), nullptr},
        {"next of the end", at(end)->GetNext(0), at(end)->GetNext(0, image, n), nullptr},
        {"search", A->SearchNext(kATRB), A->SearchNext(kATRB, image, n), at(a1)},
        {"search n=1", A->SearchNumNext(kATRB, 1), A->SearchNumNext(kATRB, 1, image, n), nullptr},
        {"search POF1", at(a0)->SearchNumNext(kPOF1, 0), at(a0)->SearchNumNext(kPOF1, 0, image, n), at(p1)},
        {"search the end", A->SearchNext(kEOFC), A->SearchNext(kEOFC, image, n), at(end)},
        {"search missing", A->SearchNext(CvChunkMakeTag("NONE")), A->SearchNext(CvChunkMakeTag("NONE"), image, n),
         nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.plain, c.expected) << c.what;
        EXPECT_EQ(c.bounded, c.expected) << c.what;
    }
    EXPECT_EQ(A->GetNumNext(), 3);
    EXPECT_EQ(A->GetNumNext(image, n), 3);
    EXPECT_EQ(at(p1)->GetNumNext(), 0);
    EXPECT_EQ(at(end)->GetNumNext(image, n), 0);
    EXPECT_EQ(CvChunk::CheckImage(image, n), 1);
    EXPECT_EQ(CvChunk::GetFirst(img.bytes.data(), n), A);
}

TEST(CvChunk, AtrbPofEofcFromThePart)
{
    CvChunkTestImage img;
    img.Add(kATRB, {0, 0, 0, 0});
    const size_t pof = img.Add(kPOF0, {4, 0, 0, 0});
    img.AddEnd();
    CvChunk* a = img.At(0);
    EXPECT_EQ(a->GetNext(1), nullptr);
    EXPECT_EQ(a->GetNext(0), img.At(pof));
    EXPECT_EQ(a->GetNumNext(), 1);
}

// An odd-sized chunk puts the next header at an odd address; the packed
// header makes that a legal access for every walking function.
TEST(CvChunk, ChunksAtUnalignedOffsets)
{
    CvChunkTestImage img;
    img.Add(kATRB, {1, 2, 3});
    const size_t s = img.Add(kSTRS, {5});
    img.AddEnd();
    ASSERT_EQ(s % 4, 3u);
    EXPECT_EQ(img.At(0)->GetNext(0, img.bytes.data(), img.bytes.size()), img.At(s));
    EXPECT_EQ(img.At(s)->GetTag(), kSTRS);
    EXPECT_EQ(img.At(0)->GetNumNext(), 2);
    EXPECT_EQ(CvChunk::CheckImage(img.bytes.data(), img.bytes.size()), 1);
}

// Truncated images: every prefix of a good image is rejected, and no walking
// call reads outside the prefix (each prefix is an exact heap copy, so the
// address sanitizer catches a stray read).
TEST(CvChunk, BoundedWalkingOfTruncatedImages)
{
    CvChunkTestImage img;
    img.Add(kATRB, {1, 2, 3, 4, 5, 6, 7, 8});
    img.Add(kPOF0, {8, 0, 0, 0, 0x41, 0, 0, 0});
    img.Add(kSTRS, {1}, 40);
    img.AddEnd();
    for (size_t n = 0; n < img.bytes.size(); ++n) {
        auto copy = ExactCopy(img.bytes, n);
        const void* image = copy.get();
        EXPECT_EQ(CvChunk::CheckImage(image, n), 0) << n;
        CvChunk* first = CvChunk::GetFirst(copy.get(), n);
        if (n < 40) {
            EXPECT_EQ(first, nullptr) << n;
            continue;
        }
        ASSERT_NE(first, nullptr) << n;
        EXPECT_EQ(first->GetNumNext(image, n), -1) << n;
        EXPECT_EQ(first->SearchNext(kEOFC, image, n), nullptr) << n;
        for (CvChunk* c = first; c; c = c->GetNext(0, image, n)) EXPECT_TRUE(c->IsInside(image, n));
    }
}

// Corrupt headers: each is rejected by the bounded walk without reading past
// the image, including sizes whose sum overflows 32 bits.
TEST(CvChunk, BoundedWalkingOfCorruptHeaders)
{
    struct Case {
        const char* what;
        uint32_t headSize;
        uint32_t size;
    };
    const Case cases[] = {
        {"headSize 0 (would stand still)", 0, 0},
        {"headSize below 32", 31, 4},
        {"size past the end", 32, 0x1000},
        {"size 0xFFFFFFFF", 32, 0xFFFFFFFFu},
        {"headSize + size wraps 32 bits", 0xFFFFFFF0u, 0x20},
        {"headSize past the end", 0x7FFFFFFFu, 0},
    };
    for (const Case& k : cases) {
        CvChunkTestImage img;
        img.Add(kATRB, {1, 2, 3, 4});
        const size_t bad = img.Add(kSTRS, {1, 2, 3, 4});
        img.AddEnd();
        img.At(bad)->SetHeadSize(k.headSize);
        img.At(bad)->SetSize(k.size);
        auto copy = ExactCopy(img.bytes, img.bytes.size());
        const void* image = copy.get();
        const size_t n = img.bytes.size();
        CvChunk* first = CvChunk::GetFirst(copy.get(), n);
        ASSERT_NE(first, nullptr) << k.what;
        EXPECT_EQ(CvChunk::CheckImage(image, n), 0) << k.what;
        EXPECT_EQ(first->GetNext(0, image, n), nullptr) << k.what;
        EXPECT_EQ(first->GetNumNext(image, n), -1) << k.what;
        EXPECT_EQ(first->SearchNext(kEOFC, image, n), nullptr) << k.what;
        first->childOffset = static_cast<uint32_t>(bad);
        EXPECT_EQ(first->GetChild(image, n), nullptr) << k.what;
    }
    // A chain without an end chunk, and a foreign pointer, are rejected too.
    CvChunkTestImage noEnd;
    noEnd.Add(kATRB, {1});
    noEnd.Add(kSTRS);
    EXPECT_EQ(CvChunk::CheckImage(noEnd.bytes.data(), noEnd.bytes.size()), 0);
    EXPECT_EQ(noEnd.At(0)->GetNumNext(noEnd.bytes.data(), noEnd.bytes.size()), -1);
    uint8_t other[64] = {};
    EXPECT_FALSE(noEnd.At(0)->IsInside(other, sizeof other));
    EXPECT_EQ(noEnd.At(0)->GetNext(0, other, sizeof other), nullptr);
    EXPECT_EQ(CvChunk::CheckImage(nullptr, 100), 0);
}

#ifndef NDEBUG
TEST(CvChunkDeathTest, PlainWalkAssertsOnMalformedImage)
{
    CvChunkTestImage img;
    img.Add(kATRB, {1, 2, 3, 4});
    img.AddEnd();
    img.At(0)->SetHeadSize(0);
    EXPECT_DEATH(img.At(0)->GetNumNext(), "malformed");
}
#endif
