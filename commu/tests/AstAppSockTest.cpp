// The socket link: AstAppSock's queue and send procedure against the tool's
// AstMorrinSock (or deliberately broken peers) over 127.0.0.1.
#include "commu/AstAppSock.h"
#include "commu/AstMorrinSock.h"
#include "commu/tests/CommuCommandText.h"
#include "commu/tests/CommuTestSupport.h"
#include "platform/PlatformCodePage.h"
#include "platform/PlatformTimer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

std::string Utf8(const CvString& sjis)
{
    return PlatformCp932ToUtf8(std::string(sjis.GetBuffer(), static_cast<size_t>(sjis.GetLength())));
}

class RecordingAppSock : public AstAppSock {
public:
    using AstAppSock::AstAppSock;

    void CallbackSendStart(int32_t index, AstCommandNode*) override { events.push_back("start " + std::to_string(index)); }
    void CallbackSendSuccess() override { events.push_back("success"); }
    void CallbackSendRetry() override { events.push_back("retry"); }
    void CallbackSendError(const CvString& text) override { events.push_back("send error " + Utf8(text)); }
    void CallbackConnectRetry() override { events.push_back("connect retry"); }
    void CallbackConnectError(const CvString& text) override { events.push_back("connect error " + Utf8(text)); }
    void CallbackRecvError(const CvString& text) override { events.push_back("recv error " + Utf8(text)); }

    std::vector<std::string> events;
};

std::vector<std::string>& GuiLines()
{
    static std::vector<std::string> lines;
    return lines;
}

class AstAppSockTest : public CommuTest {
protected:
    void SetUp() override
    {
        CommuTest::SetUp();
        GuiLines().clear();
        AstAppSock::SetGUILogger([](const CvString& line) { GuiLines().push_back(Utf8(line)); });
        m_dir = m_runtimeDir + "/files";
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override
    {
        AstAppSock::SetGUILogger(nullptr);
        AstSockClient::SetGUILogger(nullptr);
        CommuTest::TearDown();
    }

    // Runs the frames of both ends until done() or limitMs.
    template <typename Done>
    static void Run(AstAppSock& app, AstMorrinSock* tool, Done done, int limitMs = 10000)
    {
        const uint64_t end = PlatformMonotonicMicros() + static_cast<uint64_t>(limitMs) * 1000;
        while (!done() && PlatformMonotonicMicros() < end) {
            app.ServerPre();
            if (tool != nullptr) {
                tool->ServerPre();
                tool->ServerPost();
            }
            usleep(500);
        }
    }

    std::string WriteFile(const std::string& name, const std::string& content)
    {
        const std::string path = m_runtimeDir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    static TestSettings To(int port)
    {
        TestSettings settings;
        settings.machineName = "127.0.0.1";
        settings.portNo = static_cast<uint32_t>(port);
        return settings;
    }

    std::string m_dir;
};

// A tool in this process on a free port, writing files under dir.
struct Tool {
    explicit Tool(const std::string& dir) : morrin(0)
    {
        morrin.GetSocketServer()->SetDirectory(dir.c_str());
        for (int i = 0; i < 100 && morrin.GetSocketServer()->GetBoundPort() == 0; ++i) {
            morrin.ServerPre();
        }
    }
    int Port() { return morrin.GetSocketServer()->GetBoundPort(); }
    AstMorrinSock morrin;
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(AstAppSockTest, FilesNamedByMessagesTravelAheadOfTheCommand)
{
    Tool tool(m_dir);
    ASSERT_GT(tool.Port(), 0);
    RecordingAppSock app("app");
    ASSERT_EQ(app.CheckError(), 0u);
    const std::string first = WriteFile("test_menu.bin", "first file");
    const std::string second = WriteFile("sound.zaf", std::string(100000, 'z'));
    const std::string command = CommandText(0,
                                            {{9, 1000, 1, first},
                                             {9, 1001, 1, "/far/away/latest_test.png"},
                                             {9, 1104, 1, second},
                                             {3, 42, 1, ""}},
                                            To(tool.Port()));
    ASSERT_EQ(app.ReceiveCommand(command.c_str()), 1);
    ASSERT_EQ(app.AttachFile(WriteFile("extra.txt", "attached").c_str(), "./sub/extra.txt"), 1);
    Run(app, &tool.morrin, [&] { return tool.morrin.GetCommandNode()->GetRootNode() != nullptr; });

    EXPECT_EQ(ReadAll(m_dir + "/sub/extra.txt"), "attached");
    EXPECT_EQ(ReadAll(m_dir + "/remote_menu.bin"), "first file");
    EXPECT_TRUE(ReadAll(m_dir + "/sound.zaf") == std::string(100000, 'z')) << "the second file arrived whole";
    EXPECT_EQ(MessagesOf(*tool.morrin.GetCommandNode()),
              (std::vector<std::string>{"9 1000 remote_menu.bin", "9 1001 laremote_remote.png", "9 1104 " + second,
                                        "3 42 "}));
    Run(app, &tool.morrin, [&] { return app.IsIdle() && !app.events.empty() && app.events.back() == "success"; });
    EXPECT_EQ(app.events, (std::vector<std::string>{"start 0", "success"}));
    const std::vector<std::string> progress = {"※出力ファイル名送信開始 ... remote_menu.bin", "※出力ファイル名送信成功",
                                               "※ファイル送信開始...", "※ファイル送信成功"};
    for (const std::string& line : progress) {
        EXPECT_NE(std::find(GuiLines().begin(), GuiLines().end(), line), GuiLines().end()) << line;
    }
}

TEST_F(AstAppSockTest, MorrinNamesReplaceEveryTestAndDropTheDirectory)
{
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\work\\test\\menu_test.bin", "menu_remote.bin"},
        {"/a/b/testtest.png", "remoteremote.png"},
        {"plain.bin", "plain.bin"},
        {"dir/", ""},
        {"attest", "atremote"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(AstAppSock::MorrinName(c.first).GetBuffer(), c.second) << c.first;
    }
}

TEST_F(AstAppSockTest, AnExeToolGetsTheFilesDirectoryInFront)
{
    RecordingAppSock app("app");
    TestSettings settings = To(1);
    settings.morrinFileName = "\"C:/Program Files/Morrin/Morrin.EXE\" -quiet";
    const std::string command = CommandText(0, {{9, 3000, 1, "/data/x/test.bin"}}, settings);
    AstCommandNode node;
    ASSERT_EQ(node.CreateFromAtrText(command.c_str()), 1);
    ASSERT_EQ(app.ExecCommandNode(&node), 1);
    EXPECT_EQ(MessagesOf(node), (std::vector<std::string>{"9 3000 /data/x/remote.bin"}));
}

TEST_F(AstAppSockTest, TheFiftyFirstQueuedCommandIsRefused)
{
    RecordingAppSock app("app");
    const std::string command = CommandText(0, {}, To(1));
    for (int i = 0; i < AST_APP_SOCK_QUEUE_SIZE; ++i) {
        ASSERT_EQ(app.ReceiveCommand(command.c_str()), 1) << i;
    }
    EXPECT_EQ(app.ReceiveCommand(command.c_str()), 0);
    EXPECT_EQ(app.GetQueueCount(), AST_APP_SOCK_QUEUE_SIZE);
    EXPECT_EQ(GuiLines().size(), static_cast<size_t>(AST_APP_SOCK_QUEUE_SIZE));
    EXPECT_EQ(GuiLines()[49].rfind("コマンド<49>登録：", 0), 0u);
}

TEST_F(AstAppSockTest, CommandsThatCannotBeSentAreReportedOneByOne)
{
    RecordingAppSock app("app");
    const std::string missing = m_runtimeDir + "/missing.bin";
    app.ReceiveCommand("broken {");
    app.ReceiveCommand(CommandText(0, {}, TestSettings()).c_str()); // no machine name
    app.ReceiveCommand(CommandText(0, {{9, 1007, 1, missing}}, To(1)).c_str());
    app.ReceiveCommand(CommandText(2, {}, To(1)).c_str());
    Run(app, nullptr, [&] { return app.IsIdle(); });
    ASSERT_EQ(app.events.size(), 6u);
    EXPECT_EQ(app.events[0], "send error 送信コマンドの生成に失敗しました. ");
    EXPECT_EQ(app.events[2], "send error 送信先のIPアドレスが設定されていませんでした. ");
    EXPECT_EQ(app.events[4], "send error 送信ファイル(" + missing + ")が見つかりませんでした. ");
    EXPECT_EQ(app.events[5].rfind("send error", 0), 0u) << "addressee 2 is not forwarded";
}

// A listener whose backlog is full: connections to it never complete.
struct DeafPeer {
    DeafPeer()
    {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        listen(listener, 0);
        socklen_t size = sizeof(address);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
        // Fill the queue so further handshakes are ignored.
        for (int& f : fillers) {
            f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(f, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        }
        usleep(50000);
    }
    ~DeafPeer()
    {
        for (int f : fillers) {
            close(f);
        }
        close(listener);
    }
    int listener;
    int fillers[4];
    int port = 0;
};

TEST_F(AstAppSockTest, APeerThatNeverAnswersUsesUpTheAllowanceAndDropsTheQueue)
{
    DeafPeer peer;
    RecordingAppSock app("app");
    app.SetClientLimits(100000, 1000000);
    app.ReceiveCommand(CommandText(0, {}, To(peer.port)).c_str());
    app.ReceiveCommand(CommandText(0, {}, To(peer.port)).c_str());
    Run(app, nullptr, [&] { return app.IsIdle(); });
    EXPECT_EQ(app.events,
              (std::vector<std::string>{"start 0", "connect retry", "connect retry",
                                        "connect error [3/3]ビュワーとの通信がタイムアウトしました。",
                                        "connect error [3/3]ビュワーとの通信がタイムアウトしました。 コマンド<1>"}));
}

TEST_F(AstAppSockTest, ARefusedConnectionCountsAgainstTheAllowance)
{
    int port = 0;
    {
        Tool closed(m_dir);
        port = closed.Port();
    }
    RecordingAppSock app("app");
    app.ReceiveCommand(CommandText(0, {}, To(port)).c_str());
    Run(app, nullptr, [&] { return app.IsIdle(); });
    ASSERT_EQ(app.events.size(), 4u);
    EXPECT_EQ(app.events[3], "connect error エラー[0/10061]");
}

TEST_F(AstAppSockTest, APeerThatDropsEverySendUsesUpTheRetriesForThatCommandOnly)
{
    // Accepts every connection and resets it as soon as data arrives.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    socklen_t size = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    const int port = ntohs(address.sin_port);
    std::vector<int> peers;

    Tool tool(m_dir);
    RecordingAppSock app("app");
    app.ReceiveCommand(CommandText(0, {{9, 1007, 1, WriteFile("big.bin", std::string(8 << 20, 'b'))}}, To(port)).c_str());
    app.ReceiveCommand(CommandText(0, {{3, 5, 1}}, To(tool.Port())).c_str());
    const uint64_t end = PlatformMonotonicMicros() + 20000000;
    while (!app.IsIdle() && PlatformMonotonicMicros() < end) {
        app.ServerPre();
        tool.morrin.ServerPre();
        tool.morrin.ServerPost();
        for (int fd; (fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
            peers.push_back(fd);
        }
        for (int& fd : peers) {
            char byte;
            if (fd >= 0 && recv(fd, &byte, 1, 0) > 0) {
                linger hard{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
                close(fd);
                fd = -1;
            }
        }
        usleep(500);
    }
    for (int fd : peers) {
        if (fd >= 0) {
            close(fd);
        }
    }
    close(listener);
    ASSERT_GE(app.events.size(), 6u) << ::testing::PrintToString(app.events);
    EXPECT_EQ(std::count(app.events.begin(), app.events.end(), "retry"), 3);
    const std::string& failure = app.events[4];
    EXPECT_TRUE(failure.rfind("send error", 0) == 0 || failure.rfind("recv error", 0) == 0) << failure;
    EXPECT_EQ(app.events[5], "start 1") << "the next command still goes";
    EXPECT_EQ(app.events.back(), "success");
}

TEST_F(AstAppSockTest, AKeptConnectionIsReusedAndRenewedWhenThePeerClosedIt)
{
    Tool tool(m_dir);
    RecordingAppSock app("app");
    const std::string command = CommandText(0, {{3, 1, 1}}, To(tool.Port()));
    app.ReceiveCommand(command.c_str());
    Run(app, &tool.morrin, [&] { return app.IsIdle() && app.events.size() == 2; });
    const AstSockClient* firstClient = app.GetClient();
    ASSERT_NE(firstClient, nullptr);
    app.ReceiveCommand(command.c_str());
    Run(app, &tool.morrin, [&] { return app.IsIdle() && app.events.size() == 4; });
    EXPECT_EQ(app.GetClient(), firstClient) << "same host, port and program";

    tool.morrin.GetSocketServer()->DropPeer();
    for (int i = 0; i < 20; ++i) {
        tool.morrin.ServerPre();
        app.ServerPre();
        usleep(1000);
    }
    app.ReceiveCommand(command.c_str());
    Run(app, &tool.morrin, [&] { return app.IsIdle() && app.events.size() == 6; });
    EXPECT_EQ(app.events, (std::vector<std::string>{"start 0", "success", "start 1", "success", "start 2", "success"}));
}

TEST_F(AstAppSockTest, ToolAnswersTravelBackAndOneCharacterTextsAreIgnored)
{
    Tool tool(m_dir);
    AstSockClient raw(AST_SOCK_VERSION_2_2, "127.0.0.1", tool.Port());
    const std::string command = CommandText(0, {{3, 800, 1}}, To(tool.Port()));
    int sent = 0;
    const uint64_t end = PlatformMonotonicMicros() + 10000000;
    while (tool.morrin.GetCommandNode()->GetRootNode() == nullptr && PlatformMonotonicMicros() < end) {
        raw.MainProc();
        if (raw.IsConnected() && sent == 0 && raw.SendData(AST_SOCK_TYPE_COMMAND, "x", 2)) {
            sent = 1;
        } else if (sent == 1 && raw.CheckSendFinish()) {
            raw.SendData(AST_SOCK_TYPE_COMMAND, command.c_str(), static_cast<uint32_t>(command.size() + 1));
            sent = 2;
        }
        tool.morrin.ServerPre();
        if (CvkMessageBlock* block = tool.morrin.GetReceiveMessageBuffer()->GetMessageTo(3)) {
            EXPECT_EQ(block->GetMsg(), 800u) << "the one-character text never became a command";
            tool.morrin.SetSendMessage(801);
        }
        tool.morrin.ServerPost();
        usleep(500);
    }
    while (!raw.CheckRecvFinish() && PlatformMonotonicMicros() < end) {
        raw.MainProc();
        tool.morrin.ServerPre();
        usleep(500);
    }
    ASSERT_TRUE(raw.CheckRecvFinish());
    AstCommandNode answer;
    ASSERT_EQ(answer.CreateFromAtrText(reinterpret_cast<const char*>(raw.GetRecvData())), 1);
    EXPECT_EQ(answer.GetTo(), 1);
    EXPECT_EQ(MessagesOf(answer), (std::vector<std::string>{"3 801 "}));
}

} // namespace
