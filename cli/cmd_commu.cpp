// lumivor link: the tool communication front end. Each sub-command is one
// row of the table below: the socket server of the tool side (serve), the
// application side that sends a command with a file ahead of it through its
// application link (send), and the local transport's tool, sender and
// service list (bus-serve, bus-send, services).
#include "attribute/AtrNode.h"
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliDispatch.h"
#include "cli/CliFiles.h"
#include "cli/CliKit.h"
#include "cli/CliText.h"
#include "commu/AstAppSock.h"
#include "commu/AstCommandNode.h"
#include "commu/AstCommuNode.h"
#include "commu/AstDdeClient.h"
#include "commu/AstMessageLoop.h"
#include "commu/AstMorrinSock.h"
#include "commu/AstMorrinDde.h"
#include "commu/AstSockClient.h"
#include "commu/AstSockServerForMorrin.h"
#include "commu/CvkMessageBufferNode.h"
#include "kit/CvkLog.h"
#include "kit/CvkMessageBuffer.h"
#include "platform/PlatformConsole.h"
#include "platform/PlatformFileWrite.h"
#include "platform/PlatformLocalBus.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int32_t kDefaultPort = AST_MORRIN_SOCK_PORT;
std::atomic<int32_t> g_stop{0};

// The kit with one simple heap in its three slots, for the life of a sub-command.
struct KitSession {
    CliKitHeap heap;
    CliKitSystem kit{false};
};

// The kit prints its log on standard output in Shift_JIS; while a link
// command runs, that output goes nowhere and the log is shown on standard
// error in the terminal's encoding instead. Out() is the real standard
// output (where serve prints the commands).
class KitLogToStderr : public CliKitLog {
public:
    KitLogToStderr() : CliKitLog(ToStderr, nullptr) {}

private:
    static void ToStderr(const char* text, void*) { std::fputs(CliToTerminal(text).c_str(), stderr); }
};

void GuiLineToStderr(const CvString& line)
{
    std::string text = CliToTerminal(
        std::string_view(line.GetBuffer() ? line.GetBuffer() : "", static_cast<size_t>(line.GetLength())));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    std::fprintf(stderr, "%s\n", text.c_str());
}

// A number from `min` to `max` (decimal, 0x hexadecimal or 0 octal). Wider
// than long, so that the 32-bit message addresses fit where long has 32 bits.
bool ParseNumber(const char* text, long long min, long long max, long long* out)
{
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

// The argument at hand as the numeric `option`; false when it is another.
// A value that is no number from `min` to `max` is refused as "bad WHAT".
bool TakeNumber(CliArgs& args, const char* option, const char* what, long min, long max, long* out)
{
    const char* value = nullptr;
    if (!args.Value(option, value)) return false;
    long long v = 0;
    if (ParseNumber(value, min, max, &v)) {
        *out = long(v);
    } else {
        args.Refuse("bad %s '%s'", what, value);
    }
    return true;
}

// The command of a COMMAND.txt argument or a --message TO,MSG,FROM[,P0,...,P4];
// 0, else the exit status after a message.
int ReadCommandArgument(const char* who, const char* commandPath, const char* message, AstCommandNode* command);

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

struct ServeOptions {
    long port = kDefaultPort;
    long count = 0; // 0: no limit
    const char* dir = ".";
};

// CliArgs::kRun to go on, else the exit status.
int ParseServeArguments(int argc, char** argv, ServeOptions* o)
{
    CliArgs args("lumivor link serve", ServeUsage, argc, argv);
    while (args.Next()) {
        if (TakeNumber(args, "--port", "port", 0, 65535, &o->port) ||
            TakeNumber(args, "--count", "count", 1, 0x7FFFFFFF, &o->count) || args.Value("--dir", o->dir)) {
            continue;
        }
        args.Unknown();
    }
    return args.Status();
}

// Runs the server until it has received the commands asked for, is stopped,
// or cannot listen; the exit status.
int ServeCommands(AstSockServerForMorrin* server, const ServeOptions& o, FILE* out)
{
    bool announced = false;
    long received = 0;
    while (g_stop.load() == 0 && (o.count == 0 || received < o.count)) {
        server->MainProc();
        if (server->CheckError()) {
            std::fprintf(stderr, "lumivor link serve: cannot listen on port %ld\n", o.port);
            return 1;
        }
        if (!announced && server->IsListening()) {
            std::fprintf(stderr, "listening on port %d\n", server->GetBoundPort());
            announced = true;
        }
        if (const char* text = server->GetCommandText()) {
            PrintCommand(out, text);
            server->ReleaseCommandText();
            ++received;
            continue;
        }
        server->WaitEvent(20);
    }
    return 0;
}

int LinkServe(int argc, char** argv)
{
    ServeOptions o;
    const int parsed = ParseServeArguments(argc, argv, &o);
    if (parsed != CliArgs::kRun) return parsed;
    if (!PlatformCreateDirectories(o.dir)) {
        std::fprintf(stderr, "lumivor link serve: cannot create the folder %s\n", o.dir);
        return 1;
    }
    PlatformInstallStopFlag(&g_stop);
    KitSession kit;
    KitLogToStderr log;
    AstSockSetGUILogger(GuiLineToStderr);
    AstSockServerForMorrin server(AST_SOCK_VERSION_2_2, static_cast<int32_t>(o.port));
    server.SetDirectory(o.dir);
    const int status = ServeCommands(&server, o, log.Out());
    AstSockSetGUILogger(nullptr);
    return status;
}

// ---- send ----

void SendUsage(FILE* out)
{
    std::fprintf(out, "usage: lumivor link send (COMMAND.txt | --message TO,MSG,FROM[,P0,...,P4])\n"
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
    long long address[3];
    for (int i = 0; i < 3; ++i) {
        if (!ParseNumber(fields[i].c_str(), 0, 0xFFFFFFFFLL, &address[i])) return false;
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

struct SendOptions {
    const char* commandPath = nullptr;
    const char* message = nullptr;
    const char* host = nullptr;
    const char* filePath = nullptr;
    const char* remote = nullptr;
    long port = -1;
};

// CliArgs::kRun to go on, else the exit status.
int ParseSendArguments(int argc, char** argv, SendOptions* o)
{
    CliArgs args("lumivor link send", SendUsage, argc, argv);
    while (args.Next()) {
        if (args.Value("--message", o->message) || args.Value("--host", o->host) ||
            TakeNumber(args, "--port", "port", 1, 65535, &o->port) || args.Value("--file", o->filePath) ||
            args.Value("--name", o->remote)) {
            continue;
        }
        if (o->commandPath == nullptr && args.Positional(o->commandPath)) continue;
        args.Unknown();
    }
    if (args.Status() == CliArgs::kRun &&
        ((o->commandPath == nullptr) == (o->message == nullptr) || o->host == nullptr || o->port < 0)) {
        args.Refuse("give a command file or --message, and --host and --port");
        args.RefuseUsage();
    }
    return args.Status();
}

// The host and port of the options as the command's connection settings.
void SetConnection(AstCommandNode* command, const SendOptions& o)
{
    if (command->GetCommuNode() == nullptr) command->SetCommuNode(AtrNode::Create(nullptr, AST_COMMAND_NODE_SETTINGS));
    AstCommuNode settings(command->GetCommuNode());
    settings.SetMachineName(o.host);
    settings.SetPortNo(static_cast<uint32_t>(o.port));
}

// Sends the command (with the file ahead of it) and says why when it could
// not; the exit status.
int SendAndReport(AstCommandNode* command, const char* filePath, const std::string& name)
{
    AstAppSock::SetGUILogger(GuiLineToStderr);
    std::string failure;
    const bool sent = SendThroughLink(command, filePath, name, &failure);
    AstAppSock::SetGUILogger(nullptr);
    AstSockSetGUILogger(nullptr);
    if (!sent) {
        std::fprintf(stderr, "lumivor link send: %s\n", failure.c_str());
        return 1;
    }
    return 0;
}

int LinkSend(int argc, char** argv)
{
    SendOptions o;
    const int parsed = ParseSendArguments(argc, argv, &o);
    if (parsed != CliArgs::kRun) return parsed;
    KitSession kit;
    AstCommandNode command;
    if (const int status = ReadCommandArgument("send", o.commandPath, o.message, &command)) return status;
    SetConnection(&command, o);
    std::string name;
    if (o.filePath != nullptr) {
        CliFileBytes bytes;
        if (!CliReadFile(o.filePath, &bytes) || bytes.size == 0) {
            std::fprintf(stderr, "lumivor link send: cannot read %s (nothing sent)\n", o.filePath);
            return 1;
        }
        name = RemoteName(o.filePath, o.remote);
    }
    return SendAndReport(&command, o.filePath, name);
}

// ---- the local transport ----

int ReadCommandArgument(const char* who, const char* commandPath, const char* message, AstCommandNode* command)
{
    if (message != nullptr) {
        if (!BuildMessageCommand(message, command)) {
            std::fprintf(stderr, "lumivor link %s: bad message '%s' (TO,MSG,FROM[,P0,...,P4])\n", who, message);
            return 2;
        }
        return 0;
    }
    CliFileBytes text;
    if (!CliReadFile(commandPath, &text)) {
        std::fprintf(stderr, "lumivor link %s: cannot read %s\n", who, commandPath);
        return 1;
    }
    if (!command->CreateFromAtrText(text.data.get())) {
        std::fprintf(stderr, "lumivor link %s: %s is not an attribute text\n", who, commandPath);
        return 1;
    }
    return 0;
}

void BusServeUsage(FILE* out)
{
    std::fprintf(out, "usage: lumivor link bus-serve [--service NAME] [--count K]\n"
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
    CliArgs args("lumivor link bus-serve", BusServeUsage, argc, argv);
    while (args.Next()) {
        if (args.Value("--service", service) || TakeNumber(args, "--count", "count", 1, 0x7FFFFFFF, &count)) continue;
        args.Unknown();
    }
    if (args.Status() != CliArgs::kRun) return args.Status();
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
    std::fprintf(out, "usage: lumivor link bus-send SERVICE (COMMAND.txt | --message TO,MSG,FROM[,P0,...,P4])\n"
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
    CliArgs args("lumivor link bus-send", BusSendUsage, argc, argv);
    while (args.Next()) {
        if (args.Value("--message", message)) continue;
        if (service == nullptr && args.Positional(service)) continue;
        if (commandPath == nullptr && args.Positional(commandPath)) continue;
        args.Unknown();
    }
    if (args.Status() == CliArgs::kRun && (service == nullptr || (commandPath == nullptr) == (message == nullptr))) {
        args.Refuse("give a service and a command file or --message");
        args.RefuseUsage();
    }
    if (args.Status() != CliArgs::kRun) return args.Status();
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

void ServicesUsage(FILE* out)
{
    std::fprintf(out, "usage: lumivor link services\nLists the live services of the local transport, one a line.\n");
}

int LinkServices(int argc, char** argv)
{
    CliArgs args("lumivor link services", ServicesUsage, argc, argv);
    while (args.Next()) args.Unknown();
    if (args.Status() != CliArgs::kRun) return args.Status();
    for (const std::string& name : PlatformServiceList()) std::printf("%s\n", name.c_str());
    return 0;
}

// ---- the sub-command table ----

const CliCommand kLinkCommands[] = {
    {"serve", "run a tool's socket server and print the commands it receives", LinkServe},
    {"send", "send a command (and a file ahead of it) to a tool's socket server", LinkSend},
    {"bus-serve", "run a tool on the local transport and print the commands poked to it", LinkBusServe},
    {"bus-send", "poke a command to a service of the local transport", LinkBusSend},
    {"services", "list the live services of the local transport", LinkServices},
    {nullptr, nullptr, nullptr},
};

const CliCommandTable kLink = {
    .prefix = "lumivor link",
    .noun = "command",
    .usage = "usage: lumivor link <command> [options]\n",
    .footer = "'lumivor link <command> --help' describes a command's options.",
    .commands = kLinkCommands,
    .nameWidth = 10,
};

} // namespace

int CliLinkMain(int argc, char** argv) { return CliRunCommand(kLink, argc, argv); }
