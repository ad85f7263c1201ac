// The socket link over 127.0.0.1, client and server polled in one thread as
// an application and a tool would each poll theirs: commands per second
// with one connection per command and over one kept connection, and the
// throughput of a 100 MB file frame.
#include "commu/AstSockClient.h"
#include "commu/AstSockServerForMorrin.h"
#include "kit/tests/KitHeapSlots.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

KitSimpleHeap g_heaps;

const std::string kCommand = "<VELDRA To = 0><COMMU><root MachineName = \"127.0.0.1\", PortNo = 7743 /></COMMU>"
                             "<MSG><MSGBUF><MSGBLK To = 0, Msg = 1000, From = 9><VAR Type = 3, Val = \"a.bin\" />"
                             "<VAR Type = 0, Val = 0 /><VAR Type = 0, Val = 0 /><VAR Type = 0, Val = 0 />"
                             "<VAR Type = 0, Val = 0 /></MSGBLK></MSGBUF></MSG></VELDRA>";

// Polls both ends until the frame is sent; the server keeps up meanwhile.
bool SendFrame(AstSockClient& client, AstSockServerForMorrin& server, uint32_t type, const void* data, uint32_t size)
{
    for (int i = 0; i < 10000000 && !(client.IsConnected() && !client.IsExecSend()); ++i) {
        client.MainProc();
        server.MainProc();
        if (client.CheckError()) return false;
    }
    if (!client.SendData(type, data, size)) return false;
    while (!client.CheckSendFinish()) {
        client.MainProc();
        server.MainProc();
        if (client.CheckError()) return false;
    }
    return true;
}

bool TakeCommand(AstSockClient* client, AstSockServerForMorrin& server)
{
    for (int i = 0; i < 10000000; ++i) {
        if (server.GetCommandText() != nullptr) {
            server.ReleaseCommandText();
            return true;
        }
        if (client != nullptr) client->MainProc();
        server.MainProc();
    }
    return false;
}

// One command sent and taken by the server.
bool DeliverCommand(AstSockClient& client, AstSockServerForMorrin& server)
{
    return SendFrame(client, server, AST_SOCK_TYPE_COMMAND, kCommand.c_str(),
                     static_cast<uint32_t>(kCommand.size() + 1)) &&
           TakeCommand(&client, server);
}

AstSockServerForMorrin& Server()
{
    static AstSockServerForMorrin* server = [] {
        auto* s = new AstSockServerForMorrin(AST_SOCK_VERSION_2_2, 0);
        s->SetDirectory(std::filesystem::temp_directory_path().c_str());
        while (!s->IsListening() && !s->CheckError()) s->MainProc();
        return s;
    }();
    return *server;
}

void BM_CommandPerConnection(benchmark::State& state)
{
    AstSockServerForMorrin& server = Server();
    for (auto _ : state) {
        AstSockClient client(AST_SOCK_VERSION_2_2, "127.0.0.1", server.GetBoundPort());
        if (!DeliverCommand(client, server)) {
            state.SkipWithError("command not delivered");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CommandPerConnection)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_CommandKeptConnection(benchmark::State& state)
{
    AstSockServerForMorrin& server = Server();
    AstSockClient client(AST_SOCK_VERSION_2_2, "127.0.0.1", server.GetBoundPort());
    for (auto _ : state) {
        if (!DeliverCommand(client, server)) {
            state.SkipWithError("command not delivered");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CommandKeptConnection)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One 100 MB file frame, written to a temporary file by the server as the
// tool would (name, content, command).
void BM_File100MB(benchmark::State& state)
{
    AstSockServerForMorrin& server = Server();
    std::vector<char> content(100u << 20);
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 131 + (i >> 12));
    const std::string name = "commu_link_bench.bin";
    for (auto _ : state) {
        AstSockClient client(AST_SOCK_VERSION_2_2, "127.0.0.1", server.GetBoundPort());
        if (!SendFrame(client, server, AST_SOCK_TYPE_FILE_NAME, name.c_str(), static_cast<uint32_t>(name.size() + 1)) ||
            !SendFrame(client, server, AST_SOCK_TYPE_FILE_DATA, content.data(), static_cast<uint32_t>(content.size())) ||
            !DeliverCommand(client, server)) {
            state.SkipWithError("file not delivered");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(content.size()));
    std::filesystem::remove(std::filesystem::temp_directory_path() / name);
}
BENCHMARK(BM_File100MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
