#pragma once
// What the attribute benchmarks share: the menu-shaped texts (generated once
// per size and kept for the whole run), the kit's simple heap installed in
// all three heap slots for the lifetime of a benchmark, and the typed walk
// of a whole tree that a consumer of the texts makes.
#include "AttributeTextGen.h"

#include "attribute/AtrNode.h"
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

} // namespace attribute_bench
