// Package reader against arbitrary bytes: never a read outside the input;
// a package that reads back must rebuild into one that reads back the same.
#include "kit/CvkFileList.h"
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

    // The input in a block of exactly its size, so that overreads are caught.
    std::vector<uint8_t> exact(data, data + size);
    CvkFileList list(exact.empty() ? nullptr : exact.data(), static_cast<uint32_t>(size));
    if (list.CheckError()) {
        if (list.GetFileNum() != 0) {
            std::abort();
        }
        return 0;
    }
    uint32_t sum = 0;
    for (int32_t i = 0; i < list.GetFileNum(); ++i) {
        const char* name = list.GetFileName(i);
        if (name != nullptr) {
            sum += static_cast<uint32_t>(std::strlen(name));
        }
        const auto* bytes = static_cast<const uint8_t*>(list.GetFileBuffer(i));
        for (uint32_t k = 0; bytes != nullptr && k < list.GetFileSize(i); ++k) {
            sum += bytes[k];
        }
    }
    const void* rebuilt = list.CreateChunk();
    if (rebuilt == nullptr) {
        std::abort();
    }
    CvkFileList again(rebuilt, list.GetChunkSize());
    if (again.CheckError() || again.GetFileNum() != list.GetFileNum()) {
        std::abort();
    }
    for (int32_t i = 0; i < list.GetFileNum(); ++i) {
        if (again.GetFileSize(i) != list.GetFileSize(i) ||
            (list.GetFileSize(i) > 0 &&
             std::memcmp(again.GetFileBuffer(i), list.GetFileBuffer(i), list.GetFileSize(i)) != 0)) {
            std::abort();
        }
    }
    return static_cast<int>(sum & 0);
}
