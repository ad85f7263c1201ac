// Reading arbitrary bytes as a binary tree image; a tree that was read is
// written again and must read back the same: no crash, no read outside the
// image, no leak.
#include "attribute/AtrConverter.h"
#include "attribute/AtrNode.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/tests/KitHeapSlots.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CvkHeapSimple heap(nullptr, 0, 16);
    KitHeapSlotsSet(&heap);

    // A block of exactly the input's size: reading in place may descramble it.
    std::vector<uint8_t> image(data, data + size);
    AtrConverter reader;
    AtrNode* tree = reader.CreateTree(image.data(), static_cast<uint32_t>(image.size()));
    if (tree == nullptr) {
        return 0;
    }
    AtrConverter writer;
    if (!writer.CreateBinary(tree, 0)) {
        std::abort(); // a tree that was read must be writable within its work size
    }
    std::vector<uint8_t> again(static_cast<uint8_t*>(writer.GetBuffer()),
                               static_cast<uint8_t*>(writer.GetBuffer()) + writer.GetSize());
    AtrConverter second;
    AtrNode* back = second.CreateTree(again.data(), static_cast<uint32_t>(again.size()));
    if (back == nullptr) {
        std::abort();
    }
    AtrConverter third;
    if (!third.CreateBinary(back, 0) || third.GetSize() != writer.GetSize() ||
        std::memcmp(third.GetBuffer(), writer.GetBuffer(), writer.GetSize()) != 0) {
        std::abort(); // writing is a function of the tree
    }
    AtrNode::Destroy(tree);
    AtrNode::Destroy(back);
    return 0;
}
