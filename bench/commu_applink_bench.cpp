// Tool communication between two processes: pokes and round trips over the
// local transport, and whole commands through the socket link (application
// side here, the tool in a forked process on 127.0.0.1), with and without a
// 1 MB file ahead of each command.
#include "commu/AstAppSock.h"
#include "commu/AstCommuNode.h"
#include "commu/AstDde.h"
#include "commu/AstDdeClient.h"
#include "commu/AstDdeServer.h"
#include "commu/AstMessageLoop.h"
#include "commu/AstMorrinSock.h"
#include "commu/CvkMessageBufferNode.h"
#include "kit/CvkMessageBuffer.h"
#include "kit/tests/KitHeapSlots.h"

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The kit's heap slots for the whole run.
using Heaps = KitSimpleHeap;

Heaps& TheHeaps()
{
    static Heaps heaps;
    return heaps;
}

// A command of one message, with the settings of a socket link to port.
std::string CommandText(int port, const std::string& file)
{
    AstCommandNode command;
    command.Create();
    CvkMessageBuffer buffer(2);
    buffer.SetMessage(3, 1200, 9, CvVariant("menu/main.bin"), CvVariant(int32_t{42}));
    if (!file.empty()) {
        buffer.SetMessage(9, 1007, 1, CvVariant(file.c_str()));
    }
    command.SetMessageNode(CvkMessageBufferNode().WriteToNode(&buffer));
    AstCommuNode settings(command.GetCommuNode());
    settings.SetMorrinDdeName("bench-tool");
    settings.SetMachineName("127.0.0.1");
    settings.SetPortNo(static_cast<uint32_t>(port));
    return command.GetText().GetBuffer();
}

// A child process that runs body() until killed.
class Child {
public:
    template <typename Body>
    explicit Child(Body body)
    {
        int fds[2];
        if (pipe(fds) != 0) {
            std::abort();
        }
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            body(fds[1]);
            _exit(0);
        }
        close(fds[1]);
        m_pipe = fds[0];
    }
    ~Child()
    {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        close(m_pipe);
    }
    // A number the child reports once it is ready.
    int ReadNumber()
    {
        int value = -1;
        if (read(m_pipe, &value, sizeof(value)) != sizeof(value)) {
            return -1;
        }
        return value;
    }

private:
    pid_t m_pid = -1;
    int m_pipe = -1;
};

void ReportReady(int fd, int value)
{
    if (write(fd, &value, sizeof(value)) != sizeof(value)) {
        _exit(1);
    }
}

void ServeSink(int readyFd)
{
    AstInitDde();
    AstDdeServer server;
    server.SetServiceName("bench-sink");
    ReportReady(readyFd, server.Create());
    for (;;) {
        AstProcessMessages(100);
    }
}

// A sink service in a child process, a client of it and the command it is
// poked with.
struct SinkLink {
    Heaps& heaps = TheHeaps();
    Child sink{ServeSink};
    bool ready = sink.ReadNumber() == 1;
    std::string text = CommandText(0, "");
    AstDdeClient client;
};

void BM_LocalPokes(benchmark::State& state)
{
    SinkLink link;
    if (!link.ready) {
        state.SkipWithError("no sink service");
        return;
    }
    int64_t delivered = 0;
    for (auto _ : state) {
        delivered += link.client.Poke("bench-sink", link.text.c_str());
    }
    // Every poke is answered: wait for the last answer so the time counts
    // the sink's work, not just the bytes handed to the socket.
    while (link.client.WaitPokeResult(200) != AST_DDE_POKE_NO_ANSWER) {
    }
    state.SetItemsProcessed(delivered);
    state.counters["bytes"] = static_cast<double>(link.text.size() + 1);
}
BENCHMARK(BM_LocalPokes)->UseRealTime()->MinTime(2.0);

void BM_LocalRoundTrips(benchmark::State& state)
{
    SinkLink link;
    if (!link.ready) {
        state.SkipWithError("no sink service");
        return;
    }
    int64_t answered = 0;
    for (auto _ : state) {
        link.client.Poke("bench-sink", link.text.c_str());
        answered += link.client.WaitPokeResult(5000) == AST_DDE_POKE_PROCESSED;
    }
    state.SetItemsProcessed(answered);
}
BENCHMARK(BM_LocalRoundTrips)->UseRealTime()->MinTime(2.0);

void ServeTool(int readyFd, const std::string& dir)
{
    AstMorrinSock tool(0);
    tool.GetSocketServer()->SetDirectory(dir.c_str());
    while (tool.GetSocketServer()->GetBoundPort() == 0) {
        tool.ServerPre();
    }
    ReportReady(readyFd, tool.GetSocketServer()->GetBoundPort());
    for (;;) {
        tool.ServerPre();
        tool.ServerPost();
        tool.GetSocketServer()->WaitEvent(1);
    }
}

class CountingApp : public AstAppSock {
public:
    using AstAppSock::AstAppSock;
    void CallbackSendSuccess() override { ++successes; }
    void CallbackSendError(const CvString&) override { ++failures; }
    void CallbackConnectError(const CvString&) override { ++failures; }
    void CallbackRecvError(const CvString&) override { ++failures; }
    int64_t successes = 0;
    int64_t failures = 0;
};

// state.range(0): bytes of the file sent ahead of each command (0: none).
void BM_AppSockCommands(benchmark::State& state)
{
    TheHeaps();
    char pattern[] = "/tmp/lumivor-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    std::string file;
    if (state.range(0) > 0) {
        file = dir + "/payload.bin";
        std::ofstream(file, std::ios::binary) << std::string(static_cast<size_t>(state.range(0)), 'p');
    }
    std::filesystem::create_directories(dir + "/received");
    Child tool([&dir](int fd) { ServeTool(fd, dir + "/received"); });
    const int port = tool.ReadNumber();
    {
        CountingApp app("bench-app");
        const std::string text = CommandText(port, file);
        for (auto _ : state) {
            const int64_t done = app.successes + app.failures;
            app.ReceiveCommand(text.c_str());
            // One frame of the application per call, without pause: the
            // figure is the link's, not a frame rate's.
            while (app.successes + app.failures == done) {
                app.ServerPre();
            }
        }
        if (app.failures > 0) {
            state.SkipWithError("a command failed");
        }
        state.SetItemsProcessed(app.successes);
        state.SetBytesProcessed(app.successes * state.range(0));
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}
BENCHMARK(BM_AppSockCommands)->Arg(0)->Arg(1 << 20)->UseRealTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
