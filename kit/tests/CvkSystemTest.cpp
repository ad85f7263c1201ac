#include "kit/CvkEnv.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkSystem.h"
#include "kit/CvkVeldra.h"

#include "CountingTestHeap.h"
#include "platform/PlatformCodePage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A heap that notes LogUseInfo calls.
struct LoggingHeap : CountingTestHeap {
    void LogUseInfo() override { ++logged; }
    int logged = 0;
};

TEST(CvkSystemTest, StartFillsSlotsAndStopEmptiesThem)
{
    LoggingHeap system;
    CvkHeapSetSystem(&system);
    ASSERT_EQ(CvkInitCorvantaSystem(), 1);
    EXPECT_EQ(CvkHeapGetMain(), &system);
    EXPECT_EQ(CvkHeapGetBuffer(), &system);
    CvkEnv* env = CvkEnvGet();
    ASSERT_NE(env, nullptr);
    ASSERT_NE(env->GetFileServer(), nullptr);
    EXPECT_EQ(env->GetTag(), 0x42415345u);

    // A second start changes nothing.
    EXPECT_EQ(CvkInitCorvantaSystem(), 1);
    EXPECT_EQ(CvkEnvGet(), env);

    CvkExitCorvantaSystem();
    EXPECT_EQ(CvkEnvGet(), nullptr);
    EXPECT_EQ(CvkHeapGetSystem(), nullptr);
    EXPECT_EQ(CvkHeapGetMain(), nullptr);
    EXPECT_EQ(CvkHeapGetBuffer(), nullptr);
    EXPECT_EQ(system.logged, 1) << "one heap serves all three slots: logged once";
    EXPECT_EQ(system.LiveBlocks(), 0) << "environment, server and controller scratch all released";

    // Stopping a stopped kit does nothing.
    CvkExitCorvantaSystem();
    EXPECT_EQ(system.logged, 1);
}

TEST(CvkSystemTest, SeparateHeapsAreKeptAndEachLogged)
{
    LoggingHeap system, main, buffer;
    CvkHeapSetSystem(&system);
    CvkHeapSetMain(&main);
    CvkHeapSetBuffer(&buffer);
    ASSERT_EQ(CvkInitCorvantaSystem(), 1);
    EXPECT_EQ(CvkHeapGetMain(), &main);
    EXPECT_EQ(CvkHeapGetBuffer(), &buffer);
    CvkExitCorvantaSystem();
    EXPECT_EQ(system.logged, 1);
    EXPECT_EQ(main.logged, 1);
    EXPECT_EQ(buffer.logged, 1);
    EXPECT_EQ(system.LiveBlocks() + main.LiveBlocks() + buffer.LiveBlocks(), 0);
}

TEST(CvkSystemTest, WithoutHeapsNoEnvironment)
{
    CvkHeapSetSystem(nullptr);
    EXPECT_EQ(CvkInitCorvantaSystem(), 0);
    EXPECT_EQ(CvkEnvGet(), nullptr);
    CvkExitCorvantaSystem();
}

// A link that records the order of its hooks.
struct RecordingLink : CvkVeldra {
    void ServerPre() override { calls += "pre "; }
    void ServerExec() override { calls += "exec "; }
    void ServerDraw() override { calls += "draw "; }
    void ServerPost() override { calls += "post "; }
    std::string calls;
};

class CvkEnvTest : public KitHeapTest {};

TEST_F(CvkEnvTest, HooksReachTheAttachedLink)
{
    CvkEnv* env = new CvkEnv();
    ASSERT_NE(env, nullptr);
    // Without a link the hooks do nothing.
    env->ServerPre();
    env->ServerExec();
    env->ServerDraw();
    env->ServerPost();
    {
        RecordingLink link;
        env->SetVeldra(&link);
        EXPECT_EQ(env->GetVeldra(), &link);
        env->ServerPre();
        env->ServerExec();
        env->ServerDraw();
        env->ServerPost();
        EXPECT_EQ(link.calls, "pre exec draw post ");
        env->SetVeldra(nullptr);
    }
    delete env;
}

std::vector<std::pair<int, std::string>> g_reported;

void* Report(int32_t code, const CvString& message)
{
    g_reported.emplace_back(code, PlatformCp932ToUtf8(message.GetBuffer()));
    return nullptr;
}

TEST_F(CvkEnvTest, ErrorMessagesForMissingPackEntries)
{
    CvkEnv* env = new CvkEnv();
    ASSERT_NE(env, nullptr);
    g_reported.clear();
    env->_setErrorMessage(1, "7", nullptr, nullptr, nullptr); // no callback yet
    EXPECT_TRUE(g_reported.empty());
    env->SetErrCallback(Report);
    env->_setErrorMessage(1, "7", nullptr, nullptr, nullptr);
    env->_setErrorMessage(2, "12", "x", nullptr, nullptr);
    env->_setErrorMessage(3, nullptr, nullptr, nullptr, nullptr);
    env->_setErrorMessage(4, "1", nullptr, nullptr, nullptr);
    ASSERT_EQ(g_reported.size(), 3u);
    EXPECT_EQ(g_reported[0].first, 1);
    EXPECT_EQ(g_reported[0].second, "存在しない 7 番のGlimmetが呼び出されました。");
    EXPECT_EQ(g_reported[1].second, "存在しない 12 番のモーメンタムが呼び出されました。");
    EXPECT_EQ(g_reported[2].second, "存在しない {Param1} 番のエッセンスが呼び出されました。");
    delete env;
}

} // namespace
