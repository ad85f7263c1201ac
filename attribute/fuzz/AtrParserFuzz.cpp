// Reading arbitrary bytes as an attribute text, writing the tree back (both
// forms) and reading the written text again: no crash, no read outside the
// text, no leak.
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/tests/KitHeapSlots.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CvkHeapSimple heap(nullptr, 0, 16);
    KitHeapSlotsSet(&heap);

    // The bytes with one terminator in a block of exactly that size.
    std::vector<char> text(data, data + size);
    text.push_back('\0');

    AtrParser parser;
    AtrNode* tree = parser.CreateTreeFromText(text.data(), nullptr);
    if (tree == nullptr) {
        return 0;
    }
    const CvString plain = parser.WriteTree(tree, 0);
    const CvString quoted = parser.WriteTree(tree, 1);
    const CvString tag = parser.WriteAttribute(tree, 0);
    AtrNodeDestroyChain(tree);
    if (plain.GetLength() == 0 || quoted.GetLength() == 0 || tag.GetLength() == 0) {
        std::abort(); // a tree that was read must be writable
    }
    for (const CvString* written : {&plain, &quoted}) {
        AtrParser again;
        AtrNodeDestroyChain(again.CreateTreeFromText(written->GetBuffer(), nullptr));
    }
    return 0;
}
