// lumivor link: the tool communication front end. Each sub-command is one
// row of the table below: the socket server of the tool side (serve) and
// the application side that sends a command, with a file ahead of it (send).
#include "attribute/AtrNode.h"
#include "cli/CliCommands.h"
#include "cli/CliText.h"
#include "commu/AstCommandNode.h"
#include "commu/AstCommuNode.h"
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
// Connection attempts of send before it gives up (each waits the connect limit).
constexpr int kConnectAttempts = 3;

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

// Connects and sends the frames in order; the failure text when one fails.
bool SendFrames(const char* host, int32_t port, const std::vector<std::pair<uint32_t, std::vector<char>>>& frames,
                std::string* failure)
{
    AstSockClient client(AST_SOCK_VERSION_2_2, host, port);
    size_t next = 0;
    bool waiting = false;
    int attempts = 1;
    for (;;) {
        client.MainProc();
        if (waiting && client.CheckSendFinish()) {
            waiting = false;
            ++next;
        }
        // Done once the last frame is out, whatever the peer does next.
        if (!waiting && next == frames.size()) return true;
        if (client.IsConnectTimeout() && attempts < kConnectAttempts) {
            ++attempts;
            client.RetryConnect();
            continue;
        }
        if (client.CheckError()) {
            if (client.IsConnectTimeout()) {
                *failure = "no answer from " + std::string(host) + ":" + std::to_string(port) + " after " +
                           std::to_string(kConnectAttempts) + " attempts";
            } else if (!client.IsConnected()) {
                *failure = "cannot connect to " + std::string(host) + ":" + std::to_string(port) +
                           " (socket error " + std::to_string(client.GetSocketError()) + ")";
            } else {
                *failure = "sending failed (error kind " + std::to_string(client.GetError()) + ", socket error " +
                           std::to_string(client.GetSocketError()) + ")";
            }
            return false;
        }
        if (client.IsConnected()) {
            if (!waiting) {
                const auto& frame = frames[next];
                if (!client.SendData(frame.first, frame.second.data(), static_cast<uint32_t>(frame.second.size()))) {
                    *failure = "cannot build the frame (out of memory?)";
                    return false;
                }
                waiting = true;
                continue;
            }
            // A frame coming back is of no use here; keep the stream moving.
            client.DestroyRecvData();
        }
        client.WaitEvent(20);
    }
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

    std::vector<std::pair<uint32_t, std::vector<char>>> frames;
    if (filePath != nullptr) {
        std::vector<char> bytes;
        if (!ReadWhole(filePath, &bytes) || bytes.empty()) {
            std::fprintf(stderr, "lumivor link send: cannot read %s (nothing sent)\n", filePath);
            return 1;
        }
        const std::string name = RemoteName(filePath, remote);
        frames.emplace_back(AST_SOCK_TYPE_FILE_NAME, std::vector<char>(name.begin(), name.end()));
        frames.back().second.push_back('\0');
        frames.emplace_back(AST_SOCK_TYPE_FILE_DATA, std::move(bytes));
    }
    const CvString& text = command.GetText();
    frames.emplace_back(AST_SOCK_TYPE_COMMAND, std::vector<char>(text.GetBuffer(), text.GetBuffer() + text.GetLength()));
    frames.back().second.push_back('\0');

    KitLogToStderr log;
    AstSockSetGUILogger(GuiLineToStderr);
    std::string failure;
    const bool sent = SendFrames(host, static_cast<int32_t>(port), frames, &failure);
    AstSockSetGUILogger(nullptr);
    if (!sent) {
        std::fprintf(stderr, "lumivor link send: %s\n", failure.c_str());
        return 1;
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
