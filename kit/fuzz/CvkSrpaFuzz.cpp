// Parameter sheet over arbitrary bytes: never a read or write outside the
// chunk's data area, whatever its counts and offsets; every answer either a
// default or something that lies inside the data area.
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSrpa.h"
#include "kit/tests/KitHeapSlots.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CvkHeapSimple heap(nullptr, 0, 16);
    KitHeapSlotsSet(&heap);

    // First byte: the chunk's mapFlags (so that chunks claiming to be
    // relocated are tried as well); the rest: the data area, in a block of
    // exactly its size so that overreads are caught.
    const uint32_t flags = size > 0 ? data[0] & 0x3u : 0;
    const uint8_t* body = size > 0 ? data + 1 : data;
    const size_t bodySize = size > 0 ? size - 1 : 0;
    std::vector<uint8_t> image(sizeof(CvChunk) + bodySize);
    auto* chunk = reinterpret_cast<CvChunk*>(image.data());
    chunk->Clear();
    chunk->SetTag(CVK_CHUNK_TAG_SRPA);
    chunk->SetSize(static_cast<uint32_t>(bodySize));
    chunk->mapFlags = flags;
    if (bodySize > 0) {
        std::memcpy(image.data() + sizeof(CvChunk), body, bodySize);
    }
    const uint8_t* area = image.data() + sizeof(CvChunk);
    const uint8_t* areaEnd = area + bodySize;

    uint32_t sum = 0;
    {
        CvkSrpa sheet(chunk);
        const int32_t sheets = sheet.DebugGetSheetNum();
        for (int32_t s = -1; s <= sheets && s < 64; ++s) {
            sum += static_cast<uint32_t>(sheet.DebugGetSheetRowNum(s));
        }
        const int32_t rows = sheet.GetRowNum();
        for (int32_t r = -1; r <= rows && r < 64; ++r) {
            const int32_t n = sheet.GetParamNum(r);
            if (n < 0 || (n > 0 && static_cast<size_t>(n) * 4 > bodySize)) {
                std::abort();
            }
            for (int32_t c = -1; c <= n && c < 16; ++c) {
                sum += sheet.GetParamType(r, c);
                sum += static_cast<uint32_t>(sheet.GetParamS32(r, c, 0));
                sum += static_cast<uint32_t>(sheet.GetParamF32(r, c, 0.0f) != 0.0f);
                const char* text = sheet.GetParamStr(r, c);
                if (text != nullptr) {
                    const auto* t = reinterpret_cast<const uint8_t*>(text);
                    if (t < area || t >= areaEnd) {
                        std::abort();
                    }
                    sum += static_cast<uint32_t>(std::strlen(text));
                }
                sum += static_cast<uint32_t>(sheet.SetParamS32(r, c, 7));
                sum += static_cast<uint32_t>(sheet.SetParamF32(r, c, 0.5f));
                if (sheet.SetParamStr(r, c, "override") == 1) {
                    const char* o = sheet.GetParamStr(r, c);
                    if (o == nullptr || std::strcmp(o, "override") != 0) {
                        std::abort();
                    }
                }
            }
        }
        sheet.FloatAddress();
        sheet.RelocateAddress();
        CvkSrpa second(chunk);
        sum += static_cast<uint32_t>(second.GetParamS32(0, 0, 0));
    }
    CvkHotSwapSrpa(chunk);
    if (CvkSrpaGet() != nullptr) {
        sum += static_cast<uint32_t>(CvkSrpaGet()->GetRowNum());
    }
    CvkExitSrpa();
    return static_cast<int>(sum & 0);
}
