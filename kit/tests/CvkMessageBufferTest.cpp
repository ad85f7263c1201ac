#include "kit/CvkMessageBuffer.h"
#include "kit/CvkVeldra.h"
#include "kit/tests/CountingTestHeap.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using CvkMessageBufferTest = KitHeapTest;

// Fills every slot with message number 100 + slot, addressed to slot % 3.
void Fill(CvkMessageBuffer& buffer)
{
    for (int32_t i = 0; i < buffer.GetMessageBlockNum(); ++i) {
        ASSERT_EQ(buffer.SetMessage(static_cast<uint32_t>(i % 3), static_cast<uint32_t>(100 + i), 7), 1);
    }
}

TEST_F(CvkMessageBufferTest, FreshBlockAndBuffer)
{
    const CvkMessageBlock block;
    EXPECT_EQ(block.GetIndex(), 0u);
    EXPECT_EQ(block.GetTo(), 0u);
    EXPECT_EQ(block.GetMsg(), 0u);
    EXPECT_EQ(block.GetFrom(), 0u);
    EXPECT_EQ(block.GetUse(), 0u);
    EXPECT_EQ(block.GetParam4().GetType(), CVK_VARIANT_TYPE_SINT);
    EXPECT_EQ(block.GetParam4().GetS32(), 0);

    CvkMessageBuffer buffer;
    EXPECT_EQ(buffer.GetTag(), 0x43564D42u); // "CVMB"
    EXPECT_EQ(buffer.CheckError(), 0u);
    ASSERT_EQ(buffer.GetMessageBlockNum(), 256);
    for (int32_t i = 0; i < 256; ++i) {
        EXPECT_EQ(buffer.GetMessageBlock()[i].GetIndex(), static_cast<uint32_t>(i));
        EXPECT_EQ(buffer.GetMessageBlock()[i].GetUse(), 0u);
    }
    EXPECT_EQ(CvkMessageBuffer(0).GetMessageBlockNum(), 1);
    EXPECT_EQ(CvkMessageBuffer(-4).GetMessageBlockNum(), 1);
}

TEST_F(CvkMessageBufferTest, SlotsFillInOrderAndRefuseWhenFull)
{
    CvkMessageBuffer buffer;
    ASSERT_EQ(buffer.SetMessage(3, 42, 9, CvVariant(int32_t{1}), CvVariant("two"), CvVariant(3.0f),
                                CvVariant(uint32_t{4}), CvVariant("five", 4)),
              1);
    const CvkMessageBlock& first = buffer.GetMessageBlock()[0];
    EXPECT_EQ(first.GetTo(), 3u);
    EXPECT_EQ(first.GetMsg(), 42u);
    EXPECT_EQ(first.GetFrom(), 9u);
    EXPECT_EQ(first.GetUse(), 1u);
    EXPECT_EQ(first.GetParam0().GetS32(), 1);
    EXPECT_STREQ(first.GetParam1().GetString(), "two");
    EXPECT_EQ(first.GetParam2().GetF32(), 3.0f);
    EXPECT_EQ(first.GetParam3().GetU32(), 4u);
    EXPECT_EQ(first.GetParam4().GetBufferSize(), 4u);

    buffer.DisableAllMessageBlock();
    Fill(buffer);
    // The 257th message is refused and changes nothing.
    EXPECT_EQ(buffer.SetMessage(1, 999, 1), 0);
    for (int32_t i = 0; i < 256; ++i) {
        EXPECT_EQ(buffer.GetMessageBlock()[i].GetMsg(), static_cast<uint32_t>(100 + i));
    }
    // A disabled slot is the next one filled.
    CvkMessageBlock* slot2 = &buffer.GetMessageBlock()[2];
    buffer.DisableMessageBlock(slot2);
    EXPECT_EQ(buffer.CheckEnableMessageBlock(slot2), 0u);
    EXPECT_EQ(buffer.SetMessage(1, 555, 1), 1);
    EXPECT_EQ(slot2->GetMsg(), 555u);
    EXPECT_EQ(buffer.CheckEnableMessageBlock(slot2), 1u);
    EXPECT_EQ(buffer.CheckEnableMessageBlock(nullptr), 0u);
    buffer.DisableMessageBlock(nullptr);
}

TEST_F(CvkMessageBufferTest, GetMessageToScansWithACursor)
{
    CvkMessageBuffer buffer(10);
    Fill(buffer); // slots 0, 3, 6, 9 are addressed to 0; 2, 5, 8 to 2
    buffer.DisableMessageBlock(&buffer.GetMessageBlock()[3]);

    std::vector<uint32_t> found;
    uint32_t cursor = 0;
    for (CvkMessageBlock* b = buffer.GetMessageTo(0, &cursor); b != nullptr; b = buffer.GetMessageTo(0, &cursor)) {
        EXPECT_EQ(b, &buffer.GetMessageBlock()[cursor]);
        found.push_back(cursor);
        ++cursor;
    }
    EXPECT_EQ(found, (std::vector<uint32_t>{0, 6, 9}));
    EXPECT_EQ(cursor, 10u); // a scan that finds nothing leaves it at the slot count

    cursor = 12;
    EXPECT_EQ(buffer.GetMessageTo(0, &cursor), nullptr);
    EXPECT_EQ(cursor, 12u); // past the last slot: left as it was
    cursor = 9;
    EXPECT_EQ(buffer.GetMessageTo(2, &cursor), nullptr);
    EXPECT_EQ(cursor, 10u);
    EXPECT_EQ(buffer.GetMessageTo(2), &buffer.GetMessageBlock()[2]);
    EXPECT_EQ(buffer.GetMessageTo(5), nullptr);
}

TEST_F(CvkMessageBufferTest, DisableAndClearKeepTheMessages)
{
    CvkMessageBuffer buffer(4);
    Fill(buffer);
    buffer.GetMessageBlock()[1].SetIndex(77);
    buffer.DisableAllMessageBlock();
    EXPECT_EQ(buffer.GetMessageBlock()[1].GetIndex(), 77u);
    EXPECT_EQ(buffer.GetMessageBlock()[1].GetUse(), 0u);
    EXPECT_EQ(buffer.GetMessageBlock()[1].GetMsg(), 101u);
    buffer.ClearAllMessageBlock();
    EXPECT_EQ(buffer.GetMessageBlock()[1].GetIndex(), 1u);
    EXPECT_EQ(buffer.GetMessageBlock()[1].GetMsg(), 101u);
    EXPECT_EQ(buffer.GetMessageTo(1), nullptr);
}

TEST_F(CvkMessageBufferTest, BlockCopyAndSet)
{
    CvkMessageBlock a;
    a.SetIndex(4);
    a.SetUse(1);
    a.Set(1, 2, 3, CvVariant("p0"), CvVariant(int32_t{1}), CvVariant(), CvVariant(), CvVariant("buf", 3));
    EXPECT_EQ(a.GetIndex(), 4u); // Set leaves index and use
    EXPECT_EQ(a.GetUse(), 1u);
    const CvkMessageBlock b(a);
    EXPECT_EQ(b.GetIndex(), 4u);
    EXPECT_EQ(b.GetUse(), 1u);
    EXPECT_EQ(b.GetMsg(), 2u);
    EXPECT_EQ(b.GetParam4(), a.GetParam4());
    EXPECT_NE(b.GetParam4().GetBuffer(), a.GetParam4().GetBuffer());
    CvkMessageBlock c;
    c = b;
    EXPECT_EQ(c.GetFrom(), 3u);
    EXPECT_STREQ(c.GetParam0().GetString(), "p0");
    c.SetParam2(CvVariant(2.5f));
    EXPECT_EQ(c.GetParam2().GetF32(), 2.5f);
}

TEST_F(CvkMessageBufferTest, BufferWithoutMemoryAnswersZero)
{
    systemHeap.refuse = 1;
    CvkMessageBuffer buffer(8);
    systemHeap.refuse = 0;
    EXPECT_NE(buffer.CheckError(), 0u);
    EXPECT_EQ(buffer.GetMessageBlockNum(), 0);
    EXPECT_EQ(buffer.GetMessageBlock(), nullptr);
    EXPECT_EQ(buffer.SetMessage(1, 2, 3), 0);
    uint32_t cursor = 0;
    EXPECT_EQ(buffer.GetMessageTo(1, &cursor), nullptr);
    buffer.DisableAllMessageBlock();
    buffer.ClearAllMessageBlock();
}

TEST_F(CvkMessageBufferTest, VeldraSendsFromRuntimeToTool)
{
    CvkVeldra link(4, 2);
    EXPECT_EQ(link.CheckError(), 0u);
    EXPECT_EQ(link.GetTag(), 0x42415345u); // "BASE"
    ASSERT_NE(link.GetSendMessageBuffer(), nullptr);
    ASSERT_NE(link.GetReceiveMessageBuffer(), nullptr);
    EXPECT_EQ(link.GetSendMessageBuffer()->GetMessageBlockNum(), 4);
    EXPECT_EQ(link.GetReceiveMessageBuffer()->GetMessageBlockNum(), 2);
    link.ServerPre();
    link.ServerExec();
    link.ServerDraw();
    link.ServerPost();

    EXPECT_EQ(link.SetSendMessage(12, CvVariant(int32_t{5})), 1);
    const CvkMessageBlock* sent = link.GetSendMessageBuffer()->GetMessageTo(CVK_MESSAGE_ADDRESS_TOOL);
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(sent->GetTo(), 3u);
    EXPECT_EQ(sent->GetFrom(), 9u);
    EXPECT_EQ(sent->GetMsg(), 12u);
    EXPECT_EQ(sent->GetParam0().GetS32(), 5);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(link.SetSendMessage(13), 1);
    }
    EXPECT_EQ(link.SetSendMessage(14), 0);
}

TEST_F(CvkMessageBufferTest, VeldraWithoutBuffers)
{
    for (auto counts : {std::pair<int32_t, int32_t>{4, 0}, {0, 4}, {-1, -1}}) {
        CvkVeldra link(counts.first, counts.second);
        EXPECT_NE(link.CheckError(), 0u);
        EXPECT_EQ(link.GetSendMessageBuffer(), nullptr);
        EXPECT_EQ(link.GetReceiveMessageBuffer(), nullptr);
        EXPECT_EQ(link.SetSendMessage(1), 0);
    }
    // The receive buffer object (2) or its slots (3) cannot be had: both
    // buffers are released.
    for (int granted : {2, 3}) {
        systemHeap.refuseAfter = granted;
        CvkVeldra link(4, 4);
        EXPECT_NE(link.CheckError(), 0u) << granted;
        EXPECT_EQ(link.GetSendMessageBuffer(), nullptr);
        EXPECT_EQ(link.GetReceiveMessageBuffer(), nullptr);
        EXPECT_EQ(link.SetSendMessage(1), 0);
        EXPECT_EQ(systemHeap.LiveBlocks(), 0);
    }

    CvkVeldra* onHeap = new CvkVeldra(1, 1);
    ASSERT_NE(onHeap, nullptr);
    EXPECT_EQ(onHeap->CheckError(), 0u);
    delete onHeap;
}

} // namespace
