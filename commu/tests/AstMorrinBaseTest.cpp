// The tool's per-frame discipline: what arrives becomes received messages,
// what the runtime posts for the tool leaves in the last command.
#include "commu/AstMorrinBase.h"
#include "commu/tests/CommuCommandText.h"
#include "commu/tests/CommuTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class FakeTool : public AstMorrinBase {
public:
    const char* GetReceivedData() override { return pending.empty() ? nullptr : pending.c_str(); }
    void DestroyReceivedData() override
    {
        pending.clear();
        ++destroyed;
    }
    int32_t SendToVeldra(AstCommandNode* command) override
    {
        sentTo.push_back(command->GetTo());
        sentMessages.push_back(MessagesOf(*command));
        return 1;
    }

    std::string pending;
    int destroyed = 0;
    std::vector<int32_t> sentTo;
    std::vector<std::vector<std::string>> sentMessages;
};

using AstMorrinBaseTest = CommuTest;

TEST_F(AstMorrinBaseTest, FramesMoveCommandsInAndAnswersOut)
{
    FakeTool tool;
    ASSERT_EQ(tool.CheckError(), 0u);

    // Before any command: an answer still leaves, addressed to the application.
    tool.SetSendMessage(10);
    tool.ServerPost();
    ASSERT_EQ(tool.sentTo, (std::vector<int32_t>{1}));
    EXPECT_EQ(tool.sentMessages[0], (std::vector<std::string>{"3 10 "}));
    EXPECT_EQ(tool.GetCommandNode()->GetMessageNode(), nullptr) << "the sent messages do not stay in the command";

    // A command arrives: its messages are received, last frame's sends dropped.
    tool.pending = CommandText(0, {{3, 20, 1, "a"}, {5, 21, 1}});
    tool.ServerPre();
    EXPECT_EQ(tool.destroyed, 1);
    EXPECT_EQ(tool.GetSendMessageBuffer()->GetMessageTo(3), nullptr);
    CvkMessageBlock* block = tool.GetReceiveMessageBuffer()->GetMessageTo(3);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->GetMsg(), 20u);
    EXPECT_NE(tool.GetReceiveMessageBuffer()->GetMessageTo(5), nullptr);

    // Nothing posted for the tool: nothing leaves, the received messages go.
    tool.ServerPost();
    EXPECT_EQ(tool.sentTo.size(), 1u);
    EXPECT_EQ(tool.GetReceiveMessageBuffer()->GetMessageTo(3), nullptr);

    // A text that does not read is only destroyed.
    tool.pending = "garbage {";
    tool.ServerPre();
    EXPECT_EQ(tool.destroyed, 2);
    EXPECT_EQ(tool.GetReceiveMessageBuffer()->GetMessageTo(3), nullptr);
    EXPECT_EQ(MessagesOf(*tool.GetCommandNode()), (std::vector<std::string>{"3 20 a", "5 21 "}))
        << "the last command stays";
}

} // namespace
