// The socket transport over real connections on 127.0.0.1 (ephemeral ports,
// bounded waits): the client's connection states and errors, the server's
// file-transfer sequence, hostile and broken peers, many commands.
#include "commu/AstSockClient.h"
#include "commu/AstSockServerForMorrin.h"
#include "kit/CvkLog.h"
#include "kit/tests/CountingTestHeap.h"
#include "platform/PlatformCodePage.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Le32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string Frame(uint32_t type, const std::string& payload, uint32_t begin = AST_SOCK_BEGIN_TAG)
{
    return Le32(begin) + Le32(type) + Le32(static_cast<uint32_t>(payload.size())) + payload + Le32(AST_SOCK_END_TAG);
}

std::string Text(const std::string& s)
{
    return s + std::string(1, '\0');
}

std::vector<std::string> g_guiLines;
std::string g_log;

void CaptureGui(const CvString& line)
{
    g_guiLines.push_back(PlatformCp932ToUtf8(line.GetBuffer() != nullptr ? line.GetBuffer() : ""));
}

void CaptureLog(const char* text, void*)
{
    g_log += PlatformCp932ToUtf8(text);
}

bool HasGuiLine(const std::string& line)
{
    for (const std::string& l : g_guiLines)
        if (l == line) return true;
    return false;
}

// A plain blocking peer that writes whatever bytes a test wants.
class RawPeer {
public:
    explicit RawPeer(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~RawPeer() { ::close(m_fd); }
    bool Connected() const { return m_connected; }
    bool Send(const std::string& bytes)
    {
        return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // True when the server has closed the connection (read gives 0 or a reset).
    bool Closed()
    {
        timeval tv{0, 10000};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char c;
        const ssize_t n = ::recv(m_fd, &c, 1, 0);
        return n == 0 || (n < 0 && errno == ECONNRESET);
    }

private:
    int m_fd;
    bool m_connected;
};

class AstSockLinkTest : public KitHeapTest {
protected:
    void SetUp() override
    {
        KitHeapTest::SetUp();
        g_guiLines.clear();
        g_log.clear();
        AstSockSetGUILogger(CaptureGui);
        CvkLogSetSink(CaptureLog);
        m_dir = fs::temp_directory_path() / ("commu_link_" + std::to_string(::getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override
    {
        AstSockSetGUILogger(nullptr);
        CvkLogSetSink(nullptr);
        fs::remove_all(m_dir);
        KitHeapTest::TearDown();
    }

    // A Morrin server on a free port, listening, with short limits.
    void StartServer(AstSockServerForMorrin& server)
    {
        server.SetDirectory(m_dir.c_str());
        server.SetLimits(200000, 400000, 1000000, 400000);
        ASSERT_TRUE(Pump(server, [&] { return server.IsListening() != 0; }));
        ASSERT_GT(server.GetBoundPort(), 0);
    }

    // Runs MainProc until done() or the time is up (bounded, never spins long).
    template <class S>
    static bool Pump(S& s, const std::function<bool()>& done, int ms = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            s.MainProc();
            if (done()) return true;
            s.WaitEvent(2);
        }
        return done();
    }

    static bool Pump2(AstSockClient& c, AstSockServerForMorrin& s, const std::function<bool()>& done, int ms = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            c.MainProc();
            s.MainProc();
            if (done()) return true;
            std::this_thread::yield();
        }
        return done();
    }

    // Takes every command the server offers, in order.
    static void Drain(AstSockServerForMorrin& server, std::vector<std::string>& into)
    {
        while (const char* text = server.GetCommandText()) {
            into.push_back(text);
            server.ReleaseCommandText();
        }
    }

    static int FreePort()
    {
        AstSockServer probe(AST_SOCK_VERSION_2_2, 0);
        probe.MainProc();
        return probe.GetBoundPort(); // closed again when probe goes
    }

    fs::path m_dir;
};

TEST_F(AstSockLinkTest, NameFileAndCommandArriveInOrder)
{
    AstSockServerForMorrin server(AST_SOCK_VERSION_2_2, 0);
    StartServer(server);
    AstSockClient client(AST_SOCK_VERSION_2_2, "127.0.0.1", server.GetBoundPort());
    ASSERT_TRUE(Pump2(client, server, [&] { return client.IsConnected() && server.IsConnecting(); }));
    EXPECT_TRUE(HasGuiLine("接続中：127.0.0.1:" + std::to_string(server.GetBoundPort())));
    EXPECT_TRUE(HasGuiLine("接続"));

    std::string content(300000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
    const std::string frames[][2] = {
        {"1", Text("./sub/inner.bin")}, {"2", content}, {"3", Text("<VELDRA To = 0 />")}};
    for (const auto& f : frames) {
        ASSERT_EQ(client.SendData(static_cast<uint32_t>(std::atoi(f[0].c_str())), f[1].data(),
                                  static_cast<uint32_t>(f[1].size())),
                  1);
        ASSERT_TRUE(Pump2(client, server, [&] { return client.CheckSendFinish() != 0; })) << f[0];
    }
    std::vector<std::string> commands;
    ASSERT_TRUE(Pump2(client, server, [&] {
        Drain(server, commands);
        return !commands.empty();
    }));
    EXPECT_EQ(commands, std::vector<std::string>{"<VELDRA To = 0 />"});
    std::ifstream in(m_dir / "sub" / "inner.bin", std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written.size(), content.size());
    EXPECT_TRUE(written == content);
    EXPECT_EQ(server.GetSequenceState(), AST_SOCK_SEQUENCE_IDLE);
    EXPECT_FALSE(client.CheckError());
}

TEST_F(AstSockLinkTest, AnswersComeBackToTheClient)
{
    AstSockServerForMorrin server(AST_SOCK_VERSION_2_2, 0);
    StartServer(server);
    AstSockClient client(2, 2, "127.0.0.1", server.GetBoundPort());
    ASSERT_TRUE(Pump2(client, server, [&] { return client.IsConnected() && server.IsConnecting(); }));
    const std::string answer = Text("<VELDRA To = 1 />");
    ASSERT_EQ(server.SendData(AST_SOCK_TYPE_COMMAND, answer.data(), static_cast<uint32_t>(answer.size())), 1);
    ASSERT_TRUE(Pump2(client, server, [&] { return client.CheckRecvFinish() != 0; }));
    EXPECT_TRUE(server.CheckSendFinish());
    EXPECT_EQ(client.GetRecvType(), AST_SOCK_TYPE_COMMAND);
    EXPECT_STREQ(reinterpret_cast<const char*>(client.GetRecvData()), "<VELDRA To = 1 />");
    EXPECT_FALSE(client.IsExecRecv());
    client.DestroyRecvData();
    EXPECT_EQ(client.GetRecvData(), nullptr);
    EXPECT_TRUE(client.IsExecRecv()) << "waiting for the next begin tag";

    // The server goes away mid-frame: the client ends in the receive error
    // state, without spinning and without a crash.
    ASSERT_EQ(server.SendDataDirect(Frame(3, Text("x")).data(), 10), 1);
    ASSERT_TRUE(Pump2(client, server, [&] { return client.GetRecvState() == AST_SOCK_RECV_HEADER; }));
    server.DropPeer();
    ASSERT_TRUE(Pump2(client, server, [&] { return client.CheckRecvError() != 0; }));
    EXPECT_TRUE(client.CheckError());
    EXPECT_EQ(client.GetSocketError(), 10101);
    EXPECT_TRUE(client.IsErrorOtherTimeout());
    client.ResetRecvError();
    EXPECT_FALSE(client.CheckError());
}

TEST_F(AstSockLinkTest, BrokenFramesDropThePeerAndTheServerGoesOn)
{
    AstSockServerForMorrin server(AST_SOCK_VERSION_2_2, 0);
    StartServer(server);
    server.SetMaxRecvPayload(1 << 20);
    struct Case {
        const char* what;
        std::string bytes;
        int32_t error;
    } cases[] = {
        {"wrong begin tag", Frame(3, Text("c"), 0x12345678), AST_SOCK_ERROR_BAD_TAG},
        {"wrong end tag", Le32(AST_SOCK_BEGIN_TAG) + Le32(3) + Le32(2) + Text("c") + "NELX", AST_SOCK_ERROR_BAD_TAG},
        {"type 0xFFFFFFFF", Frame(AST_SOCK_TYPE_NONE, "abcd"), AST_SOCK_ERROR_BAD_TAG},
        {"length 0", Le32(AST_SOCK_BEGIN_TAG) + Le32(2) + Le32(0) + Le32(AST_SOCK_END_TAG), AST_SOCK_ERROR_BAD_TAG},
        {"length 4 GB", Le32(AST_SOCK_BEGIN_TAG) + Le32(2) + Le32(0xFFFFFFFFu), AST_SOCK_ERROR_MEMORY},
        {"command without its zero", Frame(3, "abc"), AST_SOCK_ERROR_BAD_TAG},
        {"half a header, then silence", Le32(AST_SOCK_BEGIN_TAG) + "\x03", AST_SOCK_ERROR_TIMEOUT},
        {"gone inside the payload", Le32(AST_SOCK_BEGIN_TAG) + Le32(2) + Le32(1000) + "abc", AST_SOCK_ERROR_NONE},
    };
    for (const Case& c : cases) {
        const int allocations = systemHeap.allocations;
        {
            RawPeer peer(server.GetBoundPort());
            ASSERT_TRUE(peer.Connected());
            ASSERT_TRUE(Pump(server, [&] { return server.IsConnecting() != 0; })) << c.what;
            ASSERT_TRUE(peer.Send(c.bytes));
            if (c.error == AST_SOCK_ERROR_NONE) {
                ASSERT_TRUE(Pump(server, [&] { return server.GetRecvState() == AST_SOCK_RECV_PAYLOAD; })) << c.what;
                // the peer closes here
            } else {
                ASSERT_TRUE(Pump(server, [&] { return !server.IsConnecting(); })) << c.what;
                EXPECT_EQ(server.GetError(), c.error) << c.what;
                EXPECT_TRUE(peer.Closed()) << c.what;
            }
        }
        ASSERT_TRUE(Pump(server, [&] { return server.GetState() == AST_SOCK_SERVER_ACCEPT; })) << c.what;
        if (c.error == AST_SOCK_ERROR_MEMORY) {
            EXPECT_EQ(systemHeap.allocations, allocations) << c.what << ": refused before allocating";
        }
    }
    // And the next peer is served.
    RawPeer good(server.GetBoundPort());
    ASSERT_TRUE(good.Send(Frame(3, Text("<A />"))));
    std::vector<std::string> commands;
    ASSERT_TRUE(Pump(server, [&] {
        Drain(server, commands);
        return !commands.empty();
    }));
    EXPECT_EQ(commands.front(), "<A />");
    EXPECT_FALSE(server.CheckError());
}

TEST_F(AstSockLinkTest, FramesOutOfSequenceAreDroppedAndTheSequenceStartsOver)
{
    AstSockServerForMorrin server(AST_SOCK_VERSION_2_2, 0);
    StartServer(server);
    RawPeer peer(server.GetBoundPort());
    // Content without a name, a type nobody sends, a name followed by a
    // command instead of its content, then a proper name, content, command;
    // then commands back to back.
    std::string bytes = Frame(2, "orphan") + Frame(7, "seven") + Frame(1, Text("lost.bin")) + Frame(3, Text("<ONE />")) +
                        Frame(1, Text("kept.bin")) + Frame(2, "kept") + Frame(3, Text("<TWO />"));
    for (int i = 0; i < 100; ++i) bytes += Frame(3, Text("<N i = " + std::to_string(i) + " />"));
    bytes += Frame(3, Text("x")); // one character: never offered
    ASSERT_TRUE(peer.Send(bytes));
    std::vector<std::string> commands;
    ASSERT_TRUE(Pump(server, [&] {
        Drain(server, commands);
        return commands.size() >= 101 && server.GetCommandNum() == 0 && server.IsConnecting();
    }));
    ASSERT_EQ(commands.size(), 101u) << "<ONE /> came where content was expected";
    EXPECT_EQ(commands[0], "<TWO />");
    for (int i = 0; i < 100; ++i) EXPECT_EQ(commands[static_cast<size_t>(i) + 1], "<N i = " + std::to_string(i) + " />");
    EXPECT_TRUE(fs::exists(m_dir / "kept.bin"));
    EXPECT_FALSE(fs::exists(m_dir / "lost.bin"));
    EXPECT_NE(g_log.find("frame of type 2 dropped"), std::string::npos);
    EXPECT_NE(g_log.find("frame of type 7 dropped"), std::string::npos);
}

TEST_F(AstSockLinkTest, ReceivedFileNamesAreConfinedToTheDirectory)
{
    const std::string dir = m_dir.string();
    struct Case {
        std::string name;
        std::string path; // empty: refused
    } cases[] = {
        {"a.bin", dir + "/a.bin"},
        {"./sub/inner.bin", dir + "/sub/inner.bin"},
        {"sub\\win.bin", dir + "/sub/win.bin"},
        {"sub//./x.bin", dir + "/sub/x.bin"},
        {dir + "/inside.bin", dir + "/inside.bin"},
        {"", ""},
        {".", ""},
        {"./", ""},
        {"sub/", ""},
        {"../up.bin", ""},
        {"sub/../../up.bin", ""},
        {"..\\up.bin", ""},
        {"sub/..", ""},
        {"/etc/passwd", ""},
        {dir + "/../outside.bin", ""},
        {dir + "x/sibling.bin", ""},
        {"C:\\win.bin", ""},
        {"http://host/x.bin", ""},
        {"%HOME%/x.bin", ""},
        {std::string("a\0b", 3), ""},
    };
    for (const Case& c : cases) {
        const CvString path =
            AstSockConfineFileName(dir.c_str(), c.name.data(), static_cast<uint32_t>(c.name.size()));
        EXPECT_EQ(std::string(path.GetLength() > 0 ? path.GetBuffer() : ""), c.path) << c.name;
    }

    // Over the wire: a refused name writes nothing and drops the peer.
    AstSockServerForMorrin server(AST_SOCK_VERSION_2_2, 0);
    StartServer(server);
    {
        RawPeer peer(server.GetBoundPort());
        ASSERT_TRUE(peer.Send(Frame(1, Text("../escape.bin")) + Frame(2, "evil")));
        ASSERT_TRUE(Pump(server, [&] { return peer.Closed(); }));
    }
    EXPECT_FALSE(fs::exists(m_dir.parent_path() / "escape.bin"));
    EXPECT_TRUE(fs::is_empty(m_dir));
    // A name that is a folder there is refused the same way.
    fs::create_directories(m_dir / "folder");
    {
        RawPeer peer(server.GetBoundPort());
        ASSERT_TRUE(peer.Send(Frame(1, Text("folder")) + Frame(2, "evil")));
        ASSERT_TRUE(Pump(server, [&] { return peer.Closed(); }));
    }
    EXPECT_TRUE(fs::is_directory(m_dir / "folder"));
    fs::remove(m_dir / "folder");
    // A shorter file under an existing name replaces it whole; no temporary file stays.
    {
        RawPeer peer(server.GetBoundPort());
        ASSERT_TRUE(peer.Send(Frame(1, Text("f.bin")) + Frame(2, "long content") + Frame(3, Text("<A />")) +
                              Frame(1, Text("f.bin")) + Frame(2, "short") + Frame(3, Text("<B />"))));
        std::vector<std::string> commands;
        ASSERT_TRUE(Pump(server, [&] {
            Drain(server, commands);
            return commands.size() == 2;
        }));
    }
    std::ifstream in(m_dir / "f.bin", std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "short");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST_F(AstSockLinkTest, SilentPeerIsDroppedSoTheNextOneIsServed)
{
    AstSockServerForMorrin server(AST_SOCK_VERSION_2_2, 0);
    StartServer(server);
    RawPeer silent(server.GetBoundPort());
    ASSERT_TRUE(Pump(server, [&] { return server.IsConnecting() != 0; }));
    RawPeer waiting(server.GetBoundPort()); // held in the backlog meanwhile
    ASSERT_TRUE(waiting.Send(Frame(3, Text("<WAITED />"))));
    std::vector<std::string> commands;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Pump(server, [&] {
        Drain(server, commands);
        return !commands.empty();
    }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(350)) << "dropped too early";
    EXPECT_EQ(commands.front(), "<WAITED />");
    EXPECT_TRUE(silent.Closed());
}

TEST_F(AstSockLinkTest, ManyCommandsOverFreshAndKeptConnections)
{
    AstSockServerForMorrin server(AST_SOCK_VERSION_2_2, 0);
    StartServer(server);
#if defined(__i386__)
    const int count = 200; // emulated: keep the run short
#else
    const int count = 1000;
#endif
    std::vector<std::string> commands;
    for (int i = 0; i < count; ++i) {
        AstSockClient client(AST_SOCK_VERSION_2_2, "127.0.0.1", server.GetBoundPort());
        const std::string text = Text("<C i = " + std::to_string(i) + " />");
        ASSERT_EQ(client.SendData(3, text.data(), static_cast<uint32_t>(text.size())), 1);
        ASSERT_TRUE(Pump2(client, server, [&] { return client.CheckSendFinish() != 0; })) << i;
        ASSERT_TRUE(Pump2(client, server, [&] {
            Drain(server, commands);
            return commands.size() == static_cast<size_t>(i) + 1;
        })) << i;
    }
    AstSockClient kept(AST_SOCK_VERSION_2_2, "127.0.0.1", server.GetBoundPort());
    for (int i = count; i < 2 * count; ++i) {
        const std::string text = Text("<C i = " + std::to_string(i) + " />");
        ASSERT_TRUE(Pump2(kept, server, [&] { return kept.IsConnected() && !kept.IsExecSend(); }));
        ASSERT_EQ(kept.SendData(3, text.data(), static_cast<uint32_t>(text.size())), 1);
    }
    ASSERT_TRUE(Pump2(kept, server, [&] {
        Drain(server, commands);
        return commands.size() == static_cast<size_t>(2 * count);
    }, 20000));
    for (int i = 0; i < 2 * count; ++i) ASSERT_EQ(commands[static_cast<size_t>(i)], "<C i = " + std::to_string(i) + " />");
}

TEST_F(AstSockLinkTest, ClientConnectionFailures)
{
    struct Case {
        const char* what;
        const char* host;
        int port;
        int32_t socketError;
        const char* log;
    } cases[] = {
        {"no host", nullptr, 7743, 0, "Host Name is nanashi-gonbei(NotInput?)."},
        {"empty host", "", 7743, 0, "Host Name is nanashi-gonbei(NotInput?)."},
        {"a host name that cannot be", "no such host!", 7743, 11001, "Input host name is Not Found."},
        {"nothing listening", "127.0.0.1", FreePort(), 10061, "WSAECONNREFUSED Connection Refused 接続拒否"},
    };
    for (const Case& c : cases) {
        g_log.clear();
        AstSockClient client(AST_SOCK_VERSION_2_2, c.host, c.port);
        ASSERT_TRUE(Pump(client, [&] { return client.CheckError() != 0; }, 3000)) << c.what;
        EXPECT_FALSE(client.IsConnected()) << c.what;
        EXPECT_FALSE(client.IsConnectTimeout()) << c.what;
        EXPECT_EQ(client.GetSocketError(), c.socketError) << c.what;
        EXPECT_NE(g_log.find(c.log), std::string::npos) << c.what << ": " << g_log;
        client.MainProc(); // nothing happens while in error
        EXPECT_EQ(client.RetryConnect(), 1) << c.what;
        EXPECT_EQ(client.GetState(), AST_SOCK_CLIENT_STARTED);
        EXPECT_FALSE(client.CheckError());
    }
}

TEST_F(AstSockLinkTest, ConnectTimeoutWaitsForRetryConnect)
{
    // A listener that never accepts, its backlog filled: further connections
    // stay unanswered.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(fd, 0), 0);
    socklen_t length = sizeof at;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
    const int port = ntohs(at.sin_port);
    std::vector<std::unique_ptr<AstSockClient>> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(std::make_unique<AstSockClient>(AST_SOCK_VERSION_2_2, "127.0.0.1", port));
        fillers.back()->MainProc();
        fillers.back()->MainProc();
    }
    AstSockClient client(AST_SOCK_VERSION_2_2, "127.0.0.1", port);
    client.SetLimits(300000, 300000);
    ASSERT_TRUE(Pump(client, [&] { return client.CheckError() != 0; }, 3000));
    EXPECT_TRUE(client.IsConnectTimeout());
    EXPECT_EQ(client.GetState(), AST_SOCK_CLIENT_TIMED_OUT);
    EXPECT_EQ(client.GetError(), AST_SOCK_ERROR_TIMEOUT);
    EXPECT_FALSE(client.IsErrorOtherTimeout());
    EXPECT_TRUE(HasGuiLine("接続タイムアウト"));
    client.MainProc();
    EXPECT_EQ(client.GetState(), AST_SOCK_CLIENT_TIMED_OUT) << "waits until told to retry";
    ASSERT_EQ(client.RetryConnect(), 1);
    EXPECT_EQ(client.GetState(), AST_SOCK_CLIENT_STARTED);
    EXPECT_EQ(client.RetryConnect(), 0) << "only in error";
    ::close(fd);
}

TEST_F(AstSockLinkTest, SendsThatStallAreNeitherReplacedNorReportedAsDone)
{
    const std::string big(32u << 20, 'b'); // more than the socket buffers hold

    // Client side: a listener that never reads.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    socklen_t length = sizeof at;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
    {
        AstSockClient client(AST_SOCK_VERSION_2_2, "127.0.0.1", ntohs(at.sin_port));
        client.SetLimits(1000000, 300000);
        ASSERT_EQ(client.SendData(AST_SOCK_TYPE_FILE_DATA, big.data(), static_cast<uint32_t>(big.size())), 1);
        ASSERT_TRUE(Pump(client, [&] { return client.GetSendState() == AST_SOCK_SEND_SENDING; }));
        EXPECT_EQ(client.SendData(AST_SOCK_TYPE_COMMAND, "x", 2), 0) << "the frame on the wire stays";
        ASSERT_TRUE(Pump(client, [&] { return client.CheckSendError() != 0; }));
        EXPECT_EQ(client.GetError(), AST_SOCK_ERROR_TIMEOUT);
        EXPECT_FALSE(client.CheckSendFinish());
        EXPECT_TRUE(client.CheckError());
    }
    ::close(fd);

    // Server side: a peer that never reads is dropped, and the frame is not
    // reported as sent.
    AstSockServerForMorrin server(AST_SOCK_VERSION_2_2, 0);
    StartServer(server);
    server.SetLimits(200000, 400000, 300000, 10000000);
    RawPeer peer(server.GetBoundPort());
    ASSERT_TRUE(Pump(server, [&] { return server.IsConnecting() != 0; }));
    ASSERT_EQ(server.SendData(AST_SOCK_TYPE_FILE_DATA, big.data(), static_cast<uint32_t>(big.size())), 1);
    ASSERT_TRUE(Pump(server, [&] { return server.GetSendState() == AST_SOCK_SEND_SENDING; }));
    EXPECT_EQ(server.SendData(AST_SOCK_TYPE_COMMAND, "x", 2), 0) << "the frame on the wire stays";
    ASSERT_TRUE(Pump(server, [&] { return !server.IsConnecting(); }));
    EXPECT_TRUE(server.IsTimeout());
    EXPECT_FALSE(server.CheckSendFinish());
    EXPECT_EQ(server.GetState(), AST_SOCK_SERVER_ACCEPT);
}

TEST_F(AstSockLinkTest, PortInUseStopsTheServerWithTheError)
{
    AstSockServerForMorrin first(AST_SOCK_VERSION_2_2, 0);
    StartServer(first);
    AstSockServer second(AST_SOCK_VERSION_2_2, first.GetBoundPort());
    second.MainProc();
    EXPECT_TRUE(second.CheckError());
    EXPECT_FALSE(second.IsListening());
    EXPECT_EQ(second.GetSocketError(), 10048);
    EXPECT_NE(g_log.find("bind()に失敗"), std::string::npos);
    second.SetPortNo(0);
    second.MainProc();
    EXPECT_FALSE(second.CheckError());
    EXPECT_TRUE(second.IsListening());
}

TEST_F(AstSockLinkTest, SendDataRefusesWhatTheFrameRulesForbid)
{
    AstSockClient client(AST_SOCK_VERSION_1_1, "127.0.0.1", 1);
    EXPECT_EQ(client.SendData(AST_SOCK_TYPE_NONE, "x", 1), 0);
    EXPECT_EQ(client.SendData(3, "", 0), 0);
    EXPECT_EQ(client.SendData(3, nullptr, 4), 0);
    EXPECT_EQ(client.GetSendState(), AST_SOCK_SEND_IDLE);
    EXPECT_EQ(client.SendData(3, "x", 2), 1);
    EXPECT_EQ(client.GetSendState(), AST_SOCK_SEND_SET);
    EXPECT_TRUE(client.IsExecSend());
    AstSockServer server(AST_SOCK_VERSION_2_2, 0);
    EXPECT_EQ(server.SendData(3, "x", 2), 0) << "no peer";
    EXPECT_EQ(server.SendDataDirect("x", 2), 0) << "no peer";
}

} // namespace
