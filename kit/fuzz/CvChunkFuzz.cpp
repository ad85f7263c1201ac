// Chunk images from foreign bytes: the bounded checks and walks never read
// outside the image, every chunk they return lies inside it, and their
// answers agree with each other (a valid image walks to its end chunk).
#include "kit/CvChunk.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

const uint8_t* g_image = nullptr;
size_t g_size = 0;

void CheckInside(const CvChunk* c)
{
    if (!c)
        return;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(c);
    Check(p >= g_image && p + sizeof(CvChunk) <= g_image + g_size);
    Check(c->IsInside(g_image, g_size));
}

// Follows child and sibling links to a bounded depth and breadth.
void Tree(CvChunk* c, int depth, int& budget)
{
    for (; c && budget > 0; --budget) {
        CheckInside(c);
        c->GetData();
        c->GetHeader();
        if (depth < 8)
            Tree(c->GetChild(g_image, g_size), depth + 1, budget);
        c = c->GetSibling(g_image, g_size);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly the input's size, so that overreads are caught.
    std::vector<uint8_t> bytes(data, data + size);
    void* image = bytes.data();
    g_image = bytes.data();
    g_size = bytes.size();

    const int valid = CvChunk::CheckImage(image, size);
    CvChunk* first = CvChunk::GetFirst(image, size);
    CheckInside(first);
    if (!first) {
        Check(valid == 0);
        return 0;
    }
    const int count = first->GetNumNext(image, size);
    Check(count >= -1);
    if (valid)
        Check(count >= 0);

    // Walk the chain, with and without "POF*" chunks.
    for (int skipPof = 0; skipPof <= 1; ++skipPof) {
        int steps = 0;
        const CvChunk* last = first;
        for (const CvChunk* c = first; c; c = c->GetNext(skipPof, image, size)) {
            CheckInside(c);
            last = c;
            Check(++steps <= static_cast<int>(size / 32) + 1);
        }
        if (valid && !skipPof) {
            // The chunk after the last one returned is the end chunk.
            const uint8_t* next = reinterpret_cast<const uint8_t*>(last) + last->GetHeadSize() + last->GetSize();
            Check(last->IsEnd() || reinterpret_cast<const CvChunk*>(next)->IsEnd());
        }
    }

    // Searches for the tags that occur and for the end chunk.
    const unsigned tags[] = {first->GetTag(), CVK_CHUNK_TAG_EOFC, CVK_CHUNK_TAG_POF0, CVK_CHUNK_TAG_ATRB};
    for (unsigned tag : tags) {
        CvChunk* found = first->SearchNext(tag, image, size);
        CheckInside(found);
        if (found)
            Check(found->GetTag() == tag);
        for (int n = 0; n < 3; ++n) {
            CvChunk* nth = first->SearchNumNext(tag, n, image, size);
            CheckInside(nth);
            if (nth)
                Check(nth->GetTag() == tag);
        }
    }
    if (valid && !first->IsEnd())
        Check(first->SearchNext(CVK_CHUNK_TAG_EOFC, image, size) != nullptr);

    int budget = 256;
    Tree(first, 0, budget);
    return 0;
}
