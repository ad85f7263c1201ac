#pragma once
// CvkMessageBuffer: a fixed array of message slots.
//
// A message is stored in the lowest free slot and stays live (use 1) until
// its slot is disabled. A buffer whose slots could not be allocated carries
// the Error flag, has no slots and answers every call with 0 or null.

#include "kit/CvkBase.h"
#include "kit/CvkMessageBlock.h"
#include "platform/PlatformExport.h"

#include <cstdint>

constexpr int32_t CVK_MESSAGE_BUFFER_DEFAULT_SLOTS = 256;

class LUMIVOR_EXPORT CvkMessageBuffer : public CvkBase {
public:
    // count < 1 is taken as 1. The slots come from the system heap.
    explicit CvkMessageBuffer(int32_t count = CVK_MESSAGE_BUFFER_DEFAULT_SLOTS);
    ~CvkMessageBuffer() override;
    CvkMessageBuffer(const CvkMessageBuffer&) = delete;
    CvkMessageBuffer& operator=(const CvkMessageBuffer&) = delete;

    // Stores the message in the first free slot (use becomes 1) and returns
    // 1; returns 0 and stores nothing when every slot is in use.
    int32_t SetMessage(uint32_t to, uint32_t msg, uint32_t from, CvVariant p0 = CvVariant(),
                       CvVariant p1 = CvVariant(), CvVariant p2 = CvVariant(), CvVariant p3 = CvVariant(),
                       CvVariant p4 = CvVariant());

    // The first live slot addressed to `to`, scanning upward from the slot
    // *cursor names (from 0 without a cursor); null when none. The cursor
    // receives the found slot's position, or the slot count when none was
    // found; a cursor already past the last slot is left as it is.
    CvkMessageBlock* GetMessageTo(uint32_t to, uint32_t* cursor = nullptr);

    // The slot array and its length.
    CvkMessageBlock* GetMessageBlock();
    int32_t GetMessageBlockNum() const;

    // The block's use value (0 for null); DisableMessageBlock frees its slot.
    uint32_t CheckEnableMessageBlock(const CvkMessageBlock* block) const;
    void DisableMessageBlock(CvkMessageBlock* block);
    // Frees every slot; ClearAllMessageBlock also renumbers their indices.
    // Addresses and parameters are left as they are.
    void DisableAllMessageBlock();
    void ClearAllMessageBlock();

private:
    CvkMessageBlock* blocks;
    int32_t blockNum;
};
