#pragma once
// What the attribute benchmarks share: the menu-shaped texts (generated once
// per size and kept for the whole run) and the kit's simple heap installed in
// all three heap slots for the lifetime of a benchmark.
#include "AttributeTextGen.h"

#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"

#include <map>
#include <string>

namespace attribute_bench {

inline const std::string& MenuText(size_t megabytes)
{
    static std::map<size_t, std::string> texts;
    auto it = texts.find(megabytes);
    if (it == texts.end()) {
        it = texts.emplace(megabytes, MenuTextGen(20261210).Generate(megabytes << 20)).first;
    }
    return it->second;
}

struct Heaps {
    CvkHeapSimple heap{nullptr, 0, 16};
    Heaps()
    {
        CvkHeapSetSystem(&heap);
        CvkHeapSetMain(&heap);
        CvkHeapSetBuffer(&heap);
    }
    ~Heaps()
    {
        CvkHeapSetSystem(nullptr);
        CvkHeapSetMain(nullptr);
        CvkHeapSetBuffer(nullptr);
    }
};

} // namespace attribute_bench
