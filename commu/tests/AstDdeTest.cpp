// The local transport between real processes: a forked child plays the
// other side, and its exit status carries what it saw.
#include "commu/AstDde.h"
#include "commu/AstDdeClient.h"
#include "commu/AstDdeServer.h"
#include "commu/AstMessageLoop.h"
#include "commu/tests/CommuTestSupport.h"
#include "platform/PlatformLocalBus.h"
#include "platform/PlatformTimer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

// Records every poke; a text "refuse" is answered "not processed".
class RecordingServer : public AstDdeServer {
public:
    int OnPoke(const char* item, AstDdeConnection* connection) override
    {
        if (AstDdeServer::OnPoke(item, connection) == 0) {
            return 0;
        }
        items.push_back(item);
        texts.push_back(std::string(connection->GetText()));
        sizes.push_back(connection->GetDataSize());
        return std::strcmp(connection->GetText(), "refuse") != 0 ? 1 : 0;
    }

    std::vector<std::string> items;
    std::vector<std::string> texts;
    std::vector<uint32_t> sizes;
};

class AstDdeTest : public CommuTest {
protected:
    void SetUp() override
    {
        CommuTest::SetUp();
        ASSERT_EQ(AstInitDde(), 1);
    }
    void TearDown() override
    {
        AstExitDde();
        CommuTest::TearDown();
    }

    // Runs the loop until the server has taken count pokes or 10 s pass.
    static void PumpUntil(const RecordingServer& server, size_t count)
    {
        const uint64_t end = PlatformMonotonicMicros() + 10000000;
        while (server.texts.size() < count && PlatformMonotonicMicros() < end) {
            AstProcessMessages(50);
        }
    }
};

TEST_F(AstDdeTest, ServerTableRefusesDuplicatesANinthServerAndUninitialisedUse)
{
    AstDdeServer servers[AST_DDE_SERVER_MAX + 1];
    for (int i = 0; i < AST_DDE_SERVER_MAX; ++i) {
        ASSERT_EQ(servers[i].SetServiceName(("svc" + std::to_string(i)).c_str()), 1);
        ASSERT_EQ(servers[i].Create(), 1) << i;
    }
    ASSERT_EQ(servers[AST_DDE_SERVER_MAX].SetServiceName("svc-ninth"), 1);
    EXPECT_EQ(servers[AST_DDE_SERVER_MAX].Create(), 0);
    EXPECT_FALSE(PlatformServiceIsLive("svc-ninth")) << "a refused server leaves nothing registered";

    servers[3].Destroy();
    AstDdeServer twin;
    twin.SetServiceName("svc5");
    EXPECT_EQ(twin.Create(), 0) << "same name twice in one process";
    EXPECT_EQ(servers[AST_DDE_SERVER_MAX].Create(), 1) << "a freed slot is reused";
    EXPECT_EQ(PlatformServiceList().size(), static_cast<size_t>(AST_DDE_SERVER_MAX));

    AstExitDde();
    EXPECT_TRUE(PlatformServiceList().empty()) << "ending the transport withdraws every service";
    EXPECT_TRUE(std::filesystem::is_empty(PlatformServiceDir())) << "and leaves no file behind";
    AstDdeServer late;
    late.SetServiceName("late");
    EXPECT_EQ(late.Create(), 0);
    EXPECT_NE(late.CheckError(), 0u);
}

TEST_F(AstDdeTest, DefaultServiceNameIsTheExecutablesBaseName)
{
    AstDdeServer server;
    ASSERT_EQ(server.Create(), 1);
    EXPECT_STREQ(server.GetServiceName(), "commu_AstDdeTest");
    EXPECT_TRUE(PlatformServiceIsLive("commu_AstDdeTest"));
    server.Destroy();
    EXPECT_FALSE(PlatformServiceIsLive("commu_AstDdeTest"));
}

TEST_F(AstDdeTest, StaleSocketIsReplacedButALiveServiceOfAnotherProcessIsNot)
{
    // A socket file left behind by a server that died without cleaning up.
    const std::string path = PlatformServiceDir() + "/stale";
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(fd);
    EXPECT_FALSE(PlatformServiceIsLive("stale"));
    AstDdeServer server;
    server.SetServiceName("stale");
    EXPECT_EQ(server.Create(), 1);
    EXPECT_TRUE(PlatformServiceIsLive("stale"));

    ChildProcess other([] {
        AstInitDde();
        AstDdeServer taken;
        taken.SetServiceName("taken");
        if (taken.Create() != 1) {
            return 1;
        }
        ChildProcess::SignalReady();
        for (;;) {
            AstProcessMessages(100);
        }
    });
    ASSERT_TRUE(other.WaitReady());
    AstDdeServer second;
    second.SetServiceName("taken");
    EXPECT_EQ(second.Create(), 0);
    EXPECT_EQ(PlatformServiceList(), (std::vector<std::string>{"stale", "taken"}));
}

TEST_F(AstDdeTest, PokesArriveWithTheirAnswersAndANewConnectionReplacesTheOld)
{
    RecordingServer server;
    server.SetServiceName("viewer");
    ASSERT_EQ(server.Create(), 1);
    ChildProcess child([] {
        AstDdeClient first;
        AstDdeClient second;
        int fails = 0;
        fails += first.Poke("viewer", "hello") != 1;
        fails += first.WaitPokeResult(10000) != AST_DDE_POKE_PROCESSED;
        fails += first.Poke("viewer", "refuse") != 1;
        fails += first.WaitPokeResult(10000) != AST_DDE_POKE_NOT_PROCESSED;
        fails += second.Poke("viewer", "second") != 1;
        fails += second.WaitPokeResult(10000) != AST_DDE_POKE_PROCESSED;
        // The first conversation is no longer the server's connection.
        fails += first.Poke("viewer", "old") != 1;
        fails += first.WaitPokeResult(10000) != AST_DDE_POKE_NOT_PROCESSED;
        fails += first.Poke("nobody", "x") != 0;
        return fails;
    });
    const uint64_t end = PlatformMonotonicMicros() + 10000000;
    while (child.Running() && PlatformMonotonicMicros() < end) {
        AstProcessMessages(20);
    }
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(server.texts, (std::vector<std::string>{"hello", "refuse", "second"}));
    EXPECT_EQ(server.items, (std::vector<std::string>{"viewer", "viewer", "viewer"}));
    EXPECT_EQ(server.sizes, (std::vector<uint32_t>{6, 7, 7})) << "the terminating zero travels with the text";
}

TEST_F(AstDdeTest, LargeAndUnterminatedPokesAreDeliveredWhole)
{
    RecordingServer server;
    server.SetServiceName("big");
    ASSERT_EQ(server.Create(), 1);
    const uint32_t bigSize = 16u * 1024u * 1024u;
    ChildProcess child([bigSize] {
        AstDdeClient client;
        std::string big(bigSize - 1, 'a');
        for (size_t i = 0; i < big.size(); i += 4099) {
            big[i] = static_cast<char>('b' + i % 20);
        }
        int fails = client.PokeData("big", "abc", 3) != 1;
        fails += client.Poke("big", big.c_str()) != 1;
        fails += client.WaitPokeResult(20000) != AST_DDE_POKE_PROCESSED;
        fails += client.WaitPokeResult(20000) != AST_DDE_POKE_PROCESSED;
        return fails;
    });
    PumpUntil(server, 2);
    EXPECT_EQ(child.Wait(), 0);
    ASSERT_EQ(server.texts.size(), 2u);
    EXPECT_EQ(server.texts[0], "abc") << "data without its zero still reads as a bounded text";
    EXPECT_EQ(server.sizes[0], 3u);
    EXPECT_EQ(server.sizes[1], bigSize);
    ASSERT_EQ(server.texts[1].size(), bigSize - 1);
    EXPECT_EQ(server.texts[1][4099], static_cast<char>('b' + 4099 % 20));
}

TEST_F(AstDdeTest, PokeFailsForNullArgumentsAndForAServiceThatDiedAfterConnecting)
{
    AstDdeClient client;
    EXPECT_EQ(client.Poke(nullptr, "text"), 0);
    EXPECT_EQ(client.Poke("svc", nullptr), 0);
    EXPECT_FALSE(client.IsConnected()) << "null arguments do not connect";

    ChildProcess child([] {
        AstInitDde();
        AstDdeServer server;
        server.SetServiceName("dying");
        if (server.Create() != 1) {
            return 1;
        }
        ChildProcess::SignalReady();
        for (;;) {
            AstProcessMessages(100);
        }
    });
    ASSERT_TRUE(child.WaitReady());
    ASSERT_EQ(client.Connect("dying", "dying"), 1);
    child.Kill();
    EXPECT_EQ(client.Poke("dying", "late"), 0);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(PlatformServiceIsLive("dying"));
}

TEST_F(AstDdeTest, WindowTimersFireThroughTheLoop)
{
    int ticks = 0;
    const uint32_t id = AstSetTimer(10, [](uint32_t, void* context) { ++*static_cast<int*>(context); }, &ticks);
    ASSERT_NE(id, 0u);
    const uint64_t end = PlatformMonotonicMicros() + 5000000;
    while (ticks < 3 && PlatformMonotonicMicros() < end) {
        AstProcessMessages(100);
    }
    AstKillTimer(id);
    EXPECT_EQ(ticks, 3);
    AstProcessMessages(30);
    EXPECT_EQ(ticks, 3) << "a killed timer stays silent";
}

} // namespace
