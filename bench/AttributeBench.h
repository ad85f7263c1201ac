#pragma once
// What the attribute benchmarks share: the menu-shaped texts (generated once
// per size and kept for the whole run), the kit's simple heap installed in
// all three heap slots for the lifetime of a benchmark, and the typed walk
// of a whole tree that a consumer of the texts makes.
#include "AttributeTextGen.h"

#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "kit/tests/KitHeapSlots.h"

#include <cstdint>

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

using Heaps = KitSimpleHeap;

// Every attribute and data value of a chain of trees taken as SINT, FLOAT or
// STRING (its length), summed so that no read can be left out.
inline int64_t Walk(AtrNode* tree)
{
    int64_t sum = 0;
    for (AtrNode* top = tree; top != nullptr; top = top->GetNext()) {
        AtrNode* n = top;
        for (;;) {
            for (AtrAttribute* a = n->GetAttribute(0); a != nullptr; a = a->GetNext()) {
                const AtrData* d = a->GetData();
                sum += d->GetType() == CVK_VARIANT_TYPE_STRING ? d->GetStrLength() : d->GetS32();
            }
            for (AtrData* d = n->GetData(0); d != nullptr; d = d->GetNext()) {
                sum += d->GetType() == CVK_VARIANT_TYPE_FLOAT ? static_cast<int64_t>(d->GetF32()) : d->GetS32();
            }
            if (AtrNode* c = n->GetChild(0)) {
                n = c;
                continue;
            }
            while (n != top && n->GetNext() == nullptr) {
                n = n->GetParent();
            }
            if (n == top) {
                break;
            }
            n = n->GetNext();
        }
    }
    return sum;
}

// The timed loop of a reading benchmark: `text` read into a tree per
// iteration, its destruction outside the timing. `State` is the benchmark
// library's state, a parameter so that the yardstick programs, which do not
// link that library, can include this header.
template <class State>
void TimeTextReads(State& state, const std::string& text)
{
    for (auto _ : state) {
        AtrParser parser;
        AtrNode* tree = parser.CreateTreeFromText(text.c_str(), nullptr);
        if (tree == nullptr) {
            state.SkipWithError("parse failed");
            break;
        }
        state.PauseTiming();
        AtrNodeDestroyChain(tree);
        state.ResumeTiming();
    }
}

} // namespace attribute_bench
