#include "kit/CvkMessageBuffer.h"

#include "kit/CvkHeap.h"

#include <new>

namespace {

const char kSourceTag[] = "cvk_message";

} // namespace

CvkMessageBuffer::CvkMessageBuffer(int32_t count) : blocks(nullptr), blockNum(0)
{
    SetTag(0x43564D42u); // "CVMB"
    if (count < 1) {
        count = 1;
    }
    // The slots are built in place in one system-heap block, so that a
    // failed allocation is seen here and no constructor runs on null.
    const uint64_t bytes = static_cast<uint64_t>(count) * sizeof(CvkMessageBlock);
    void* memory = bytes <= UINT32_MAX
        ? t_cvkSystemHeapAlloc(static_cast<uint32_t>(bytes), alignof(CvkMessageBlock), kSourceTag, __LINE__)
        : nullptr;
    if (memory == nullptr) {
        SetError();
        return;
    }
    blocks = static_cast<CvkMessageBlock*>(memory);
    for (int32_t i = 0; i < count; ++i) {
        CvkMessageBlock* block = ::new (static_cast<void*>(blocks + i)) CvkMessageBlock();
        block->SetIndex(static_cast<uint32_t>(i));
    }
    blockNum = count;
}

CvkMessageBuffer::~CvkMessageBuffer()
{
    if (blocks == nullptr) {
        return;
    }
    for (int32_t i = 0; i < blockNum; ++i) {
        blocks[i].~CvkMessageBlock();
    }
    t_cvkSystemHeapFree(blocks, kSourceTag, __LINE__);
}

int32_t CvkMessageBuffer::SetMessage(uint32_t to, uint32_t msg, uint32_t from, CvVariant p0, CvVariant p1,
                                     CvVariant p2, CvVariant p3, CvVariant p4)
{
    for (int32_t i = 0; i < blockNum; ++i) {
        CvkMessageBlock& block = blocks[i];
        if (block.GetUse() == 0) {
            block.Set(to, msg, from, p0, p1, p2, p3, p4);
            block.SetUse(1);
            return 1;
        }
    }
    return 0;
}

CvkMessageBlock* CvkMessageBuffer::GetMessageTo(uint32_t to, uint32_t* cursor)
{
    const uint32_t count = static_cast<uint32_t>(blockNum);
    uint32_t i = cursor != nullptr ? *cursor : 0;
    if (i >= count) {
        return nullptr;
    }
    for (; i < count; ++i) {
        if (blocks[i].GetUse() == 1 && blocks[i].GetTo() == to) {
            break;
        }
    }
    if (cursor != nullptr) {
        *cursor = i;
    }
    return i < count ? &blocks[i] : nullptr;
}

CvkMessageBlock* CvkMessageBuffer::GetMessageBlock()
{
    return blocks;
}

int32_t CvkMessageBuffer::GetMessageBlockNum() const
{
    return blockNum;
}

uint32_t CvkMessageBuffer::CheckEnableMessageBlock(const CvkMessageBlock* block) const
{
    return blocks != nullptr && block != nullptr ? block->GetUse() : 0;
}

void CvkMessageBuffer::DisableMessageBlock(CvkMessageBlock* block)
{
    if (blocks != nullptr && block != nullptr) {
        block->SetUse(0);
    }
}

void CvkMessageBuffer::DisableAllMessageBlock()
{
    for (int32_t i = 0; i < blockNum; ++i) {
        blocks[i].SetUse(0);
    }
}

void CvkMessageBuffer::ClearAllMessageBlock()
{
    for (int32_t i = 0; i < blockNum; ++i) {
        blocks[i].SetUse(0);
        blocks[i].SetIndex(static_cast<uint32_t>(i));
    }
}
