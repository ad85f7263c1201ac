// lumivor link: the tool communication front end. Each sub-command is one
// row of the table below: the socket server of the tool side (serve), the
// application side that sends a command with a file ahead of it through its
// application link (send), and the local transport's tool, sender and
// service list (bus-serve, bus-send, services).
#include "attribute/AtrNode.h"
#include "cli/CliCommands.h"
#include "cli/CliText.h"
#include "commu/AstAppSock.h"
#include "commu/AstCommandNode.h"
#include "commu/AstCommuNode.h"
#include "commu/AstDdeClient.h"
#include "commu/AstMessageLoop.h"
#include "commu/AstMorrinDde.h"
#include "commu/AstSockClient.h"
#include "commu/AstSockServerForMorrin.h"
#include "commu/CvkMessageBufferNode.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkLog.h"
#include "kit/CvkMessageBuffer.h"
#include "kit/CvkSystem.h"
#include "platform/PlatformConsole.h"
#include "platform/PlatformFileWrite.h"
#include "platform/PlatformLocalBus.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int32_t kDefaultPort = 7743;
std::atomic<int32_t> g_stop{0};

// The kit with one simple heap in its three slots, for the life of a sub-command.
class KitSession {
public:
    KitSession() : m_heap(nullptr, 0, 16)
    {
        CvkHeapSetSystem(&m_heap);
        CvkHeapSetMain(&m_heap);
        CvkHeapSetBuffer(&m_heap);
        CvkInitCorvantaSystem();
    }
    ~KitSession()
    {
        CvkExitCorvantaSystem();
        CvkHeapSetSystem(nullptr);
        CvkHeapSetMain(nullptr);
        CvkHeapSetBuffer(nullptr);
    }

private:
    CvkHeapSimple m_heap;
};

// The kit prints its log on standard output in Shift_JIS; while a link
// command runs, that output goes nowhere and the log is shown on standard
// error in the terminal's encoding instead. Out() is the real standard
// output (where serve prints the commands).
class KitLogToStderr {
public:
    KitLogToStderr()
    {
        std::fflush(stdout);
        m_saved = ::dup(1);
        const int devnull = ::open("/dev/null", O_WRONLY);
        if (m_saved >= 0 && devnull >= 0) ::dup2(devnull, 1);
        if (devnull >= 0) ::close(devnull);
        m_out = m_saved >= 0 ? ::fdopen(::dup(m_saved), "w") : nullptr;
        m_previous = CvkLogSetSink(ToStderr);
    }
    ~KitLogToStderr()
    {
        CvkLogSetSink(m_previous);
        if (m_out != nullptr) std::fclose(m_out);
        std::fflush(stdout);
        if (m_saved >= 0) {
            ::dup2(m_saved, 1);
            ::close(m_saved);
        }
    }
    FILE* Out() const { return m_out != nullptr ? m_out : stdout; }

private:
    static void ToStderr(const char* text, void*)
    {
        std::fputs(CliToTerminal(text).c_str(), stderr);
    }
    int m_saved;
    FILE* m_out;
    CvkLogSink m_previous;
};

void GuiLineToStderr(const CvString& line)
{
    std::string text = CliToTerminal(std::string_view(line.GetBuffer() ? line.GetBuffer() : "",
                                                      static_cast<size_t>(line.GetLength())));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    std::fprintf(stderr, "%s\n", text.c_str());
}

bool ParseNumber(const char* text, long min, long max, long* out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

bool ReadWhole(const char* path, std::vector<char>* out)
{
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long size = std::ftell(f);
        if (size > 0) out->reserve(static_cast<size_t>(size));
        std::rewind(f);
    }
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out->insert(out->end(), chunk, chunk + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// ---- serve ----

void ServeUsage(FILE* out)
{
    std::fprintf(out,
                 "usage: lumivor link serve [--port N] [--dir DIR] [--count K]\n"
                 "Runs the tool side of a socket link: accepts one peer at a time on port N\n"
                 "(default %d; 0 picks a free one), writes received files under DIR (default\n"
                 "the current directory) and prints each received command - a line with its\n"
                 "addressee and message count, then its text - on standard output. Progress goes\n"
                 "to standard error. Stops after K commands, or on SIGINT/SIGTERM, with exit 0;\n"
                 "exit 1 when the port cannot be listened on, 2 for bad arguments.\n",
                 kDefaultPort);
}

void PrintCommand(FILE* out, const char* text)
{
    AstCommandNode command;
    const CvkMessageBufferNode converter;
    if (command.CreateFromAtrText(text)) {
        std::fprintf(out, "command To=%d messages=%d\n", command.GetTo(),
                     converter.GetMessageBlockNum(command.GetMessageNode()));
    } else {
        std::fprintf(out, "command To=? messages=? (not an attribute text)\n");
    }
    std::string shown = CliToTerminal(text);
    if (shown.empty() || shown.back() != '\n') shown += '\n';
    std::fputs(shown.c_str(), out);
    std::fflush(out);
}

int LinkServe(int argc, char** argv)
{
    long port = kDefaultPort;
    long count = 0;
    const char* dir = ".";
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            ServeUsage(stdout);
            return 0;
        } else if (std::strcmp(a, "--port") == 0 && i + 1 < argc) {
            if (!ParseNumber(argv[++i], 0, 65535, &port)) {
                std::fprintf(stderr, "lumivor link serve: bad port '%s'\n", argv[i]);
                return 2;
            }
        } else if (std::strcmp(a, "--count") == 0 && i + 1 < argc) {
            if (!ParseNumber(argv[++i], 1, 0x7FFFFFFF, &count)) {
                std::fprintf(stderr, "lumivor link serve: bad count '%s'\n", argv[i]);
                return 2;
            }
        } else if (std::strcmp(a, "--dir") == 0 && i + 1 < argc) {
            dir = argv[++i];
        } else {
            std::fprintf(stderr, "lumivor link serve: unknown argument '%s'\n", a);
            ServeUsage(stderr);
            return 2;
        }
    }
    if (!PlatformCreateDirectories(dir)) {
        std::fprintf(stderr, "lumivor link serve: cannot create the folder %s\n", dir);
        return 1;
    }
    PlatformInstallStopFlag(&g_stop);
    KitSession kit;
    KitLogToStderr log;
    AstSockSetGUILogger(GuiLineToStderr);
    AstSockServerForMorrin server(AST_SOCK_VERSION_2_2, static_cast<int32_t>(port));
    server.SetDirectory(dir);
    bool announced = false;
    long received = 0;
    int status = 0;
    while (g_stop.load() == 0 && (count == 0 || received < count)) {
        server.MainProc();
        if (server.CheckError()) {
            std::fprintf(stderr, "lumivor link serve: cannot listen on port %ld\n", port);
            status = 1;
            break;
        }
        if (!announced && server.IsListening()) {
            std::fprintf(stderr, "listening on port %d\n", server.GetBoundPort());
            announced = true;
        }
        if (const char* text = server.GetCommandText()) {
            PrintCommand(log.Out(), text);
            server.ReleaseCommandText();
            ++received;
            continue;
        }
        server.WaitEvent(20);
    }
    AstSockSetGUILogger(nullptr);
    return status;
}

// ---- send ----

void SendUsage(FILE* out)
{
    std::fprintf(out,
                 "usage: lumivor link send (COMMAND.txt | --message TO,MSG,FROM[,P0,...,P4])\n"
                 "                         --host H --port N [--file PATH] [--name REMOTE]\n"
                 "Sends one command to a tool's socket server: the command read from an attribute\n"
                 "text, or a new one holding one message (parameters: integers, reals with a '.',\n"
                 "else texts). The host and port go into the command's settings. With --file, the\n"
                 "file name REMOTE (default the file's base name) and the file's bytes go first.\n"
                 "Exit status: 0 when everything was sent, 1 on failure, 2 for bad arguments.\n");
}

CvVariant ParamValue(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (!text.empty() && errno == 0 && *end == '\0' && v >= INT32_MIN && v <= INT32_MAX) {
        return CvVariant(static_cast<int32_t>(v));
    }
    const float f = std::strtof(text.c_str(), &end);
    if (!text.empty() && *end == '\0' && text.find('.') != std::string::npos) {
        return CvVariant(f);
    }
    return CvVariant(CliFromTerminal(text).c_str());
}

// TO,MSG,FROM[,P0,...,P4] as the message tree of a new command.
bool BuildMessageCommand(const char* spec, AstCommandNode* command)
{
    std::vector<std::string> fields;
    std::string field;
    for (const char* p = spec;; ++p) {
        if (*p == ',' || *p == '\0') {
            fields.push_back(field);
            field.clear();
            if (*p == '\0') break;
        } else {
            field += *p;
        }
    }
    if (fields.size() < 3 || fields.size() > 8) return false;
    long address[3];
    for (int i = 0; i < 3; ++i) {
        if (!ParseNumber(fields[i].c_str(), 0, 0xFFFFFFFFL, &address[i])) return false;
    }
    CvVariant params[5];
    for (size_t i = 3; i < fields.size(); ++i) params[i - 3] = ParamValue(fields[i]);
    CvkMessageBuffer buffer(1);
    if (!buffer.SetMessage(static_cast<uint32_t>(address[0]), static_cast<uint32_t>(address[1]),
                           static_cast<uint32_t>(address[2]), params[0], params[1], params[2], params[3], params[4])) {
        return false;
    }
    if (!command->Create()) return false;
    command->SetTo(static_cast<int32_t>(address[0]) == AST_COMMAND_TO_TESSOLIN ? AST_COMMAND_TO_TESSOLIN
                                                                              : AST_COMMAND_TO_MORRIN);
    return command->SetMessageNode(CvkMessageBufferNode().WriteToNode(&buffer)) && command->GetMessageNode();
}

std::string RemoteName(const char* path, const char* name)
{
    std::string remote = name != nullptr ? name : path;
    if (name == nullptr) {
        const size_t slash = remote.find_last_of("/\\");
        if (slash != std::string::npos) remote.erase(0, slash + 1);
    }
    while (remote.compare(0, 2, "./") == 0) remote.erase(0, 2);
    return remote;
}

// The application link of send: remembers how its one command ended.
class SendLink : public AstAppSock {
public:
    explicit SendLink(const char* service) : AstAppSock(service) {}

    void CallbackSendSuccess() override { m_done = true; }
    void CallbackSendError(const CvString& text) override { _fail(text); }
    void CallbackConnectError(const CvString& text) override
    {
        m_connectFailed = m_failure.empty();
        _fail(text);
    }
    void CallbackRecvError(const CvString& text) override { _fail(text); }
    void CallbackSystemError(const CvString& text) override { _fail(text); }

    bool Done() const { return m_done || !m_failure.empty(); }
    const std::string& Failure() const { return m_failure; }
    bool ConnectFailed() const { return m_connectFailed; }

private:
    void _fail(const CvString& text)
    {
        if (m_failure.empty()) {
            m_failure = CliToTerminal(std::string_view(text.GetBuffer(), static_cast<size_t>(text.GetLength())));
        }
    }

    bool m_done = false;
    bool m_connectFailed = false;
    std::string m_failure;
};

// Queues the command (with the file ahead of it) on an application link and
// runs its frames until the command is sent or given up; the failure text
// when it was not sent.
bool SendThroughLink(AstCommandNode* command, const char* filePath, const std::string& remote, std::string* failure)
{
    // A service of its own, so that several sends can run side by side.
    const std::string service = "lumivor-send-" + std::to_string(getpid());
    SendLink link(service.c_str());
    if (link.CheckError()) {
        *failure = "cannot start the application link";
        return false;
    }
    if (!link.ReceiveCommand(command->GetText().GetBuffer())) {
        *failure = "the command queue is full";
        return false;
    }
    if (filePath != nullptr) {
        link.AttachFile(filePath, remote.c_str());
    }
    while (!link.Done()) {
        link.ServerPre();
        AstProcessMessages(0);
        if (AstSockClient* client = link.GetClient()) {
            client->WaitEvent(5);
        }
    }
    if (!link.Failure().empty()) {
        const AstCommuNode settings(command->GetCommuNode());
        *failure = std::string(link.ConnectFailed() ? "cannot connect to " : "cannot send to ") +
                   settings.GetMachineName().GetBuffer() + ":" + std::to_string(settings.GetPortNo()) + ": " +
                   link.Failure();
    }
    return failure->empty();
}

int LinkSend(int argc, char** argv)
{
    const char* commandPath = nullptr;
    const char* message = nullptr;
    const char* host = nullptr;
    const char* filePath = nullptr;
    const char* remote = nullptr;
    long port = -1;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            SendUsage(stdout);
            return 0;
        } else if (std::strcmp(a, "--message") == 0 && i + 1 < argc) {
            message = argv[++i];
        } else if (std::strcmp(a, "--host") == 0 && i + 1 < argc) {
            host = argv[++i];
        } else if (std::strcmp(a, "--port") == 0 && i + 1 < argc) {
            if (!ParseNumber(argv[++i], 1, 65535, &port)) {
                std::fprintf(stderr, "lumivor link send: bad port '%s'\n", argv[i]);
                return 2;
            }
        } else if (std::strcmp(a, "--file") == 0 && i + 1 < argc) {
            filePath = argv[++i];
        } else if (std::strcmp(a, "--name") == 0 && i + 1 < argc) {
            remote = argv[++i];
        } else if (a[0] != '-' && commandPath == nullptr) {
            commandPath = a;
        } else {
            std::fprintf(stderr, "lumivor link send: unknown or incomplete argument '%s'\n", a);
            SendUsage(stderr);
            return 2;
        }
    }
    if ((commandPath == nullptr) == (message == nullptr) || host == nullptr || port < 0) {
        std::fprintf(stderr, "lumivor link send: give a command file or --message, and --host and --port\n");
        SendUsage(stderr);
        return 2;
    }

    KitSession kit;
    AstCommandNode command;
    if (commandPath != nullptr) {
        std::vector<char> text;
        if (!ReadWhole(commandPath, &text)) {
            std::fprintf(stderr, "lumivor link send: cannot read %s\n", commandPath);
            return 1;
        }
        text.push_back('\0');
        if (!command.CreateFromAtrText(text.data())) {
            std::fprintf(stderr, "lumivor link send: %s is not an attribute text\n", commandPath);
            return 1;
        }
    } else if (!BuildMessageCommand(message, &command)) {
        std::fprintf(stderr, "lumivor link send: bad message '%s' (TO,MSG,FROM[,P0,...,P4])\n", message);
        return 2;
    }
    if (command.GetCommuNode() == nullptr) {
        command.SetCommuNode(AtrNode::Create(nullptr, AST_COMMAND_NODE_SETTINGS));
    }
    AstCommuNode settings(command.GetCommuNode());
    settings.SetMachineName(host);
    settings.SetPortNo(static_cast<uint32_t>(port));

    std::string name;
    if (filePath != nullptr) {
        std::vector<char> bytes;
        if (!ReadWhole(filePath, &bytes) || bytes.empty()) {
            std::fprintf(stderr, "lumivor link send: cannot read %s (nothing sent)\n", filePath);
            return 1;
        }
        name = RemoteName(filePath, remote);
    }

    AstAppSock::SetGUILogger(GuiLineToStderr);
    std::string failure;
    const bool sent = SendThroughLink(&command, filePath, name, &failure);
    AstAppSock::SetGUILogger(nullptr);
    AstSockSetGUILogger(nullptr);
    if (!sent) {
        std::fprintf(stderr, "lumivor link send: %s\n", failure.c_str());
        return 1;
    }
    return 0;
}

// ---- the local transport ----

// The command of a COMMAND.txt argument or a --message TO,MSG,FROM[,P0,...,P4].
int ReadCommandArgument(const char* who, const char* commandPath, const char* message, AstCommandNode* command)
{
    if (message != nullptr) {
        if (!BuildMessageCommand(message, command)) {
            std::fprintf(stderr, "lumivor link %s: bad message '%s' (TO,MSG,FROM[,P0,...,P4])\n", who, message);
            return 2;
        }
        return 0;
    }
    std::vector<char> text;
    if (!ReadWhole(commandPath, &text)) {
        std::fprintf(stderr, "lumivor link %s: cannot read %s\n", who, commandPath);
        return 1;
    }
    text.push_back('\0');
    if (!command->CreateFromAtrText(text.data())) {
        std::fprintf(stderr, "lumivor link %s: %s is not an attribute text\n", who, commandPath);
        return 1;
    }
    return 0;
}

void BusServeUsage(FILE* out)
{
    std::fprintf(out,
                 "usage: lumivor link bus-serve [--service NAME] [--count K]\n"
                 "Runs a tool on the local transport under the service NAME (default: the\n"
                 "program's name) and prints each command poked to it - a line with its\n"
                 "addressee and message count, then its text - on standard output. Stops after\n"
                 "K commands, or on SIGINT/SIGTERM, with exit 0; exit 1 when the name is already\n"
                 "served, 2 for bad arguments.\n");
}

int LinkBusServe(int argc, char** argv)
{
    const char* service = nullptr;
    long count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            BusServeUsage(stdout);
            return 0;
        } else if (std::strcmp(a, "--service") == 0 && i + 1 < argc) {
            service = argv[++i];
        } else if (std::strcmp(a, "--count") == 0 && i + 1 < argc) {
            if (!ParseNumber(argv[++i], 1, 0x7FFFFFFF, &count)) {
                std::fprintf(stderr, "lumivor link bus-serve: bad count '%s'\n", argv[i]);
                return 2;
            }
        } else {
            std::fprintf(stderr, "lumivor link bus-serve: unknown argument '%s'\n", a);
            BusServeUsage(stderr);
            return 2;
        }
    }
    PlatformInstallStopFlag(&g_stop);
    KitSession kit;
    KitLogToStderr log;
    AstMorrinDde tool(service);
    if (tool.CheckError()) {
        std::fprintf(stderr, "lumivor link bus-serve: the service '%s' is already served (or cannot be made)\n",
                     service != nullptr ? service : PlatformExecutableBaseName().c_str());
        return 1;
    }
    std::fprintf(stderr, "serving '%s'\n", tool.GetDdeServer()->GetServiceName());
    long received = 0;
    while (g_stop.load() == 0 && (count == 0 || received < count)) {
        AstProcessMessages(50);
        while (const char* text = tool.GetReceivedData()) {
            PrintCommand(log.Out(), text);
            ++received;
            tool.ServerPre();
            tool.ServerPost();
        }
    }
    return 0;
}

void BusSendUsage(FILE* out)
{
    std::fprintf(out,
                 "usage: lumivor link bus-send SERVICE (COMMAND.txt | --message TO,MSG,FROM[,P0,...,P4])\n"
                 "Pokes a command to a live service of the local transport: the command read from\n"
                 "an attribute text, or a new one holding one message (parameters: integers,\n"
                 "reals with a '.', else texts). Exit status: 0 when it was delivered, 1 when no\n"
                 "such service is live or the poke failed, 2 for bad arguments.\n");
}

int LinkBusSend(int argc, char** argv)
{
    const char* service = nullptr;
    const char* commandPath = nullptr;
    const char* message = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            BusSendUsage(stdout);
            return 0;
        } else if (std::strcmp(a, "--message") == 0 && i + 1 < argc) {
            message = argv[++i];
        } else if (a[0] != '-' && service == nullptr) {
            service = a;
        } else if (a[0] != '-' && commandPath == nullptr) {
            commandPath = a;
        } else {
            std::fprintf(stderr, "lumivor link bus-send: unknown or incomplete argument '%s'\n", a);
            BusSendUsage(stderr);
            return 2;
        }
    }
    if (service == nullptr || (commandPath == nullptr) == (message == nullptr)) {
        std::fprintf(stderr, "lumivor link bus-send: give a service and a command file or --message\n");
        BusSendUsage(stderr);
        return 2;
    }
    KitSession kit;
    KitLogToStderr log;
    AstCommandNode command;
    if (const int status = ReadCommandArgument("bus-send", commandPath, message, &command)) {
        return status;
    }
    if (!PlatformServiceIsLive(service)) {
        std::fprintf(stderr, "lumivor link bus-send: no live service '%s'\n", service);
        return 1;
    }
    AstDdeClient client;
    if (!client.Poke(service, command.GetText().GetBuffer())) {
        std::fprintf(stderr, "lumivor link bus-send: the poke to '%s' failed\n", service);
        return 1;
    }
    return 0;
}

int LinkServices(int argc, char** argv)
{
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: lumivor link services\nLists the live services of the local transport, one a line.\n");
        return 0;
    }
    if (argc > 1) {
        std::fprintf(stderr, "lumivor link services: unknown argument '%s'\n", argv[1]);
        return 2;
    }
    for (const std::string& name : PlatformServiceList()) {
        std::printf("%s\n", name.c_str());
    }
    return 0;
}

// ---- the sub-command table ----

struct LinkCommand {
    const char* name;
    const char* summary;
    int (*main)(int, char**);
};

const LinkCommand kLinkCommands[] = {
    {"serve", "run a tool's socket server and print the commands it receives", LinkServe},
    {"send", "send a command (and a file ahead of it) to a tool's socket server", LinkSend},
    {"bus-serve", "run a tool on the local transport and print the commands poked to it", LinkBusServe},
    {"bus-send", "poke a command to a service of the local transport", LinkBusSend},
    {"services", "list the live services of the local transport", LinkServices},
    {nullptr, nullptr, nullptr},
};

void Usage(FILE* out)
{
    std::fprintf(out, "usage: lumivor link <command> [options]\n\ncommands:\n");
    for (const LinkCommand* c = kLinkCommands; c->name; ++c) std::fprintf(out, "  %-10s %s\n", c->name, c->summary);
    std::fprintf(out, "\n'lumivor link <command> --help' describes a command's options.\n");
}

} // namespace

int CliLinkMain(int argc, char** argv)
{
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        Usage(stdout);
        return 0;
    }
    for (const LinkCommand* c = kLinkCommands; c->name; ++c) {
        if (std::strcmp(argv[1], c->name) == 0) return c->main(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "lumivor link: unknown command '%s'\n", argv[1]);
    Usage(stderr);
    return 2;
}
