// Reading arbitrary bytes as an enum header, then asking for a constant: no
// crash, no hang, no read outside the text, no leak.
#include "attribute/AtrDefAnalyzer.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/tests/KitHeapSlots.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CvkHeapSimple heap(nullptr, 0, 16);
    KitHeapSlotsSet(&heap);

    std::vector<char> text(data, data + size);
    text.push_back('\0');

    AtrDefAnalyzer analyzer;
    analyzer.AddConstantDefinitionText(text.data());
    if (const AtrAttribute* newest = analyzer.GetConstant()) {
        analyzer.GetParam(newest->GetName().GetBuffer());
    }
    return 0;
}
