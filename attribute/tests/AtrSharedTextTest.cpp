// The shared-text pool: equal texts share one string, every text comes back
// with exactly its bytes (across evictions, lengths around the word size
// and texts at the very end of the readable bytes), and refused memory
// neither loses a text nor poisons the pool.
#include "attribute/AtrSharedText.h"

#include "kit/tests/CountingTestHeap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Str(const CvString& s) { return std::string(s.GetBuffer(), static_cast<size_t>(s.GetLength())); }

class AtrSharedTextTest : public KitHeapTest {};

TEST_F(AtrSharedTextTest, EqualTextsShareOneString)
{
    const std::string doc = "Button Label Button Labels Button";
    AtrSharedText pool(doc.c_str() + doc.size() + 1);
    const char* first = pool.Get(&doc[0], &doc[6]).GetBuffer();
    EXPECT_EQ(Str(pool.Get(&doc[7], &doc[12])), "Label");
    EXPECT_EQ(Str(pool.Get(&doc[13], &doc[19])), "Button");
    EXPECT_EQ(pool.Get(&doc[13], &doc[19]).GetBuffer(), first);
    EXPECT_EQ(Str(pool.Get(&doc[20], &doc[26])), "Labels");
    // The last text ends one byte before the terminator: its tail word is
    // gathered byte by byte.
    EXPECT_EQ(pool.Get(&doc[27], &doc[33]).GetBuffer(), first);
    EXPECT_EQ(pool.Get(&doc[0], &doc[0]).GetLength(), 0);
}

// Texts that differ in one byte only, at every position and every length up
// to the longest shared one and beyond, never answer for each other.
TEST_F(AtrSharedTextTest, TextsDifferingInOneByteStayApart)
{
    std::string doc;
    std::vector<std::pair<size_t, size_t>> spans;
    for (size_t length = 1; length <= AtrSharedText::kMaxLength + 2; ++length) {
        for (size_t at = 0; at < length; at += (length > 9 ? 7 : 1)) {
            std::string text(length, 'a');
            const size_t begin = doc.size();
            doc += text + ' ';
            text[at] = 'b';
            doc += text + ' ';
            spans.push_back({begin, length});
            spans.push_back({begin + length + 1, length});
        }
    }
    AtrSharedText pool(doc.c_str() + doc.size() + 1);
    for (int round = 0; round < 2; ++round) {
        for (const auto& [begin, length] : spans) {
            ASSERT_EQ(Str(pool.Get(&doc[begin], &doc[begin + length])), doc.substr(begin, length))
                << "at " << begin << " length " << length;
        }
    }
}

// Far more distinct texts than the pool has slots: evicted texts come back
// whole, and a text looked up again gives its own bytes.
TEST_F(AtrSharedTextTest, EvictedTextsComeBackWhole)
{
    std::string doc;
    std::vector<size_t> starts;
    for (int i = 0; i < 6000; ++i) {
        char name[32];
        snprintf(name, sizeof name, "Item%d_%x ", i, i * 7919);
        starts.push_back(doc.size());
        doc += name;
    }
    starts.push_back(doc.size());
    AtrSharedText pool(doc.c_str() + doc.size() + 1);
    for (size_t k = 0; k < 2 * (starts.size() - 1); ++k) {
        const size_t i = (k * 7) % (starts.size() - 1);
        const size_t begin = starts[i];
        const size_t end = starts[i + 1] - 1;
        ASSERT_EQ(Str(pool.Get(&doc[begin], &doc[end])), doc.substr(begin, end - begin));
    }
}

TEST_F(AtrSharedTextTest, RefusedMemoryLosesNoTextAndPoisonsNoSlot)
{
    const std::string doc = "Caption Caption";
    {
        // No table: every text is still given, unshared.
        systemHeap.refuse = 1;
        AtrSharedText pool(doc.c_str() + doc.size() + 1);
        systemHeap.refuse = 0;
        EXPECT_EQ(Str(pool.Get(&doc[0], &doc[7])), "Caption");
        EXPECT_EQ(Str(pool.Get(&doc[8], &doc[15])), "Caption");
    }
    AtrSharedText pool(doc.c_str() + doc.size() + 1);
    bufferHeap.refuse = 1;
    EXPECT_EQ(pool.Get(&doc[0], &doc[7]).GetLength(), 0);
    bufferHeap.refuse = 0;
    // The refused text was not kept as an empty string.
    const CvString& again = pool.Get(&doc[8], &doc[15]);
    EXPECT_EQ(Str(again), "Caption");
    EXPECT_EQ(pool.Get(&doc[0], &doc[7]).GetBuffer(), again.GetBuffer());
}

} // namespace
