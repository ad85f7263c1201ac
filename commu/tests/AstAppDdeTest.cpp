// The application link and the tool over the local transport: command
// execution and forwarding, the retry timer, starting the tool, and a
// round trip between two processes.
#include "commu/AstAppBase.h"
#include "commu/AstAppDde.h"
#include "commu/AstDde.h"
#include "commu/AstMessageLoop.h"
#include "commu/AstMorrinDde.h"
#include "commu/tests/CommuCommandText.h"
#include "commu/tests/CommuTestSupport.h"
#include "platform/PlatformLocalBus.h"
#include "platform/PlatformTimer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingApp : public AstAppBase {
public:
    using AstAppBase::AstAppBase;

    int32_t ExecOneMessage(CvkMessageBlock* block, AstAppBaseMessageResult* result) override
    {
        executed.push_back(block->GetMsg());
        return AstAppBase::ExecOneMessage(block, result);
    }
    int32_t ExecSetupMorrin(AstCommandNode*) override { return ++setups, 1; }
    int32_t Send(AstCommandNode*) override { return ++sends, 1; }
    int32_t RetrySend(AstCommandNode*) override { return ++retries >= succeedAt ? 1 : 0; }

    std::vector<uint32_t> executed;
    int setups = 0;
    int sends = 0;
    int retries = 0;
    int succeedAt = 1 << 30;
};

using AstAppDdeTest = CommuTest;

// Runs the loop for at most limitMs or until done() holds.
template <typename Done>
void Pump(Done done, int limitMs = 10000)
{
    const uint64_t end = PlatformMonotonicMicros() + static_cast<uint64_t>(limitMs) * 1000;
    while (!done() && PlatformMonotonicMicros() < end) {
        AstProcessMessages(10);
    }
}

TEST_F(AstAppDdeTest, OnlyTheFirstInstanceIsLive)
{
    RecordingApp first("first-app");
    ASSERT_EQ(first.CheckError(), 0u);
    {
        RecordingApp second("second-app");
        EXPECT_NE(second.CheckError(), 0u);
        EXPECT_EQ(second.ReceiveCommand(CommandText(1, {}).c_str()), 0);
        EXPECT_FALSE(PlatformServiceIsLive("second-app"));
    }
    EXPECT_EQ(AstAppBase::GetInstance(), &first) << "the second instance left the first alone";
    EXPECT_TRUE(PlatformServiceIsLive("first-app"));
    EXPECT_EQ(first.ReceiveCommand(CommandText(1, {}).c_str()), 1);
}

TEST_F(AstAppDdeTest, CommandsAreExecutedThenForwardedByAddressee)
{
    RecordingApp app("app");
    struct Case {
        int32_t to;
        int32_t result;
        int setups;
        int sends;
    };
    const Case cases[] = {
        {0, 1, 1, 1}, // to the tool: prepared, then sent
        {1, 1, 0, 1}, // to the application: sent
        {2, 0, 0, 0}, // nobody: executed, not forwarded
    };
    for (const Case& c : cases) {
        app.executed.clear();
        app.setups = app.sends = 0;
        EXPECT_EQ(app.ReceiveCommand(CommandText(c.to, {{3, 500, 9}, {3, 501, 9}}).c_str()), c.result) << c.to;
        EXPECT_EQ(app.executed, (std::vector<uint32_t>{500, 501})) << c.to;
        EXPECT_EQ(app.setups, c.setups) << c.to;
        EXPECT_EQ(app.sends, c.sends) << c.to;
    }
    EXPECT_EQ(app.ReceiveCommand("not a command {"), 0);
    EXPECT_EQ(app.ReceiveCommand(nullptr), 0);

    // A message block that does not convert stops the whole command.
    AstCommandNode broken;
    ASSERT_EQ(broken.CreateFromAtrText(CommandText(0, {{3, 502, 9}}).c_str()), 1);
    broken.GetMessageNode()->GetChild(CVK_MESSAGE_NODE_BLOCK)->DeleteChild(CVK_MESSAGE_NODE_VAR, 4);
    app.executed.clear();
    app.sends = 0;
    EXPECT_EQ(app.ReceiveCommand(broken.GetText().GetBuffer()), 0);
    EXPECT_TRUE(app.executed.empty());
    EXPECT_EQ(app.sends, 0);
}

TEST_F(AstAppDdeTest, CloseMessageClosesTheMainWindowAndStopsForwarding)
{
    RecordingApp app("app");
    AstWindow window;
    app.SetMainWindowHandle(&window);
    EXPECT_EQ(app.ReceiveCommand(CommandText(0, {{8, 1400, 9}, {3, 77, 9}}).c_str()), 1);
    EXPECT_EQ(app.executed, (std::vector<uint32_t>{1400, 77}));
    EXPECT_EQ(app.sends + app.setups, 0);
    EXPECT_NE(app.CheckFinish(), 0u);
    EXPECT_FALSE(window.IsClosed()) << "the request arrives through the message loop";
    AstProcessMessages(0);
    EXPECT_TRUE(window.IsClosed());
}

TEST_F(AstAppDdeTest, RetryTimerStopsOnSuccessOrAfterTheMaximum)
{
    RecordingApp app("app");
    app.SetRetryInterval(5);
    AstCommandNode command;
    ASSERT_EQ(command.CreateFromAtrText(CommandText(0, {}).c_str()), 1);

    ASSERT_EQ(app.StartRetryTimer(&command, 2), 1);
    Pump([&] { return !app.IsRetrying(); });
    EXPECT_EQ(app.retries, 3) << "two failures allowed, the third ends it";

    app.retries = 0;
    app.succeedAt = 25;
    ASSERT_EQ(app.StartRetryTimer(&command, 0), 1);
    Pump([&] { return !app.IsRetrying(); });
    EXPECT_EQ(app.retries, 25) << "a maximum of 0 retries until success";
}

TEST_F(AstAppDdeTest, StartingAToolWaitsForItsServiceAtMostTheLimit)
{
    AstAppDde app("app");
    app.SetSetupWaitLimit(300);
    AstCommandNode command;
    TestSettings settings;
    settings.morrinDdeName = "never-served";
    settings.morrinFileName = "sleep 0.7";
    ASSERT_EQ(command.CreateFromAtrText(CommandText(0, {}, settings).c_str()), 1);
    uint64_t start = PlatformMonotonicMicros();
    EXPECT_EQ(app.ExecSetupMorrin(&command), 1);
    uint64_t waited = PlatformMonotonicMicros() - start;
    EXPECT_GE(waited, 300000u);
    EXPECT_LT(waited, 3000000u);

    // A program that ends (or never starts) is not waited for.
    command.SetMorrinFileName("sh -c 'exit 3'");
    start = PlatformMonotonicMicros();
    EXPECT_EQ(app.ExecSetupMorrin(&command), 1);
    command.SetMorrinFileName("/nonexistent/tool");
    EXPECT_EQ(app.ExecSetupMorrin(&command), 1);
    EXPECT_LT(PlatformMonotonicMicros() - start, 300000u);

    // Sending to the absent service fails and leaves the retry timer running.
    EXPECT_EQ(app.Send(&command), 0);
    EXPECT_TRUE(app.IsRetrying());
}

// The application pokes a command to a tool in another process; the tool
// reads its messages and answers through the application's service.
TEST_F(AstAppDdeTest, CommandAndAnswerTravelBetweenProcesses)
{
    ChildProcess tool([] {
        AstMorrinDde morrin("viewer");
        if (morrin.CheckError() != 0) {
            return 10;
        }
        ChildProcess::SignalReady();
        const uint64_t end = PlatformMonotonicMicros() + 10000000;
        while (PlatformMonotonicMicros() < end) {
            AstProcessMessages(10);
            morrin.ServerPre();
            CvkMessageBuffer* received = morrin.GetReceiveMessageBuffer();
            if (CvkMessageBlock* block = received->GetMessageTo(3)) {
                morrin.SetSendMessage(block->GetMsg() + 1, CvVariant("answer"));
            }
            morrin.ServerPost();
            if (morrin.GetCommandNode()->GetTo() == 1) {
                return 0; // answered
            }
        }
        return 11;
    });
    ASSERT_TRUE(tool.WaitReady());

    AstAppDde app("app");
    ASSERT_EQ(app.CheckError(), 0u);
    TestSettings settings;
    settings.morrinDdeName = "viewer";
    settings.veldraDdeName = "app";
    EXPECT_EQ(app.ReceiveCommand(CommandText(0, {{3, 700, 1, "question"}}, settings).c_str()), 1);
    Pump([&] { return app.GetCommandNode()->GetTo() == 1; });
    EXPECT_EQ(tool.Wait(), 0);
    ASSERT_EQ(app.GetCommandNode()->GetTo(), 1);
    EXPECT_EQ(MessagesOf(*app.GetCommandNode()), (std::vector<std::string>{"3 701 answer"}));
}

TEST_F(AstAppDdeTest, ToolTakesEveryPokeOfAFrameInOrder)
{
    AstMorrinDde morrin("viewer");
    ASSERT_EQ(morrin.CheckError(), 0u);
    AstMorrinDde twin("viewer");
    EXPECT_NE(twin.CheckError(), 0u) << "the name is served already";

    ChildProcess app([] {
        AstDdeClient client;
        int fails = 0;
        for (uint32_t msg = 1; msg <= 3; ++msg) {
            fails += client.Poke("viewer", CommandText(0, {{3, msg, 9}}).c_str()) != 1;
        }
        fails += client.Poke("viewer", "garbage {") != 1;
        return fails;
    });
    EXPECT_EQ(app.Wait(), 0);
    Pump([&] { return morrin.GetDdeServer()->GetText() != nullptr; }, 2000);
    AstProcessMessages(50);
    std::vector<uint32_t> seen;
    for (int frame = 0; frame < 5; ++frame) {
        morrin.ServerPre();
        if (CvkMessageBlock* block = morrin.GetReceiveMessageBuffer()->GetMessageTo(3)) {
            seen.push_back(block->GetMsg());
        }
        morrin.ServerPost();
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 2, 3})) << "pokes of one round are not lost; garbage is dropped";
}

} // namespace
