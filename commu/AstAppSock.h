#pragma once
// AstAppSock: the application link that reaches the Morrin tool over a
// socket, one queued command at a time.
//
// Every received command text, and every command Send gives the tool, waits
// in a ring of AST_APP_SOCK_QUEUE_SIZE texts. Once per frame (ServerPre)
// one step of the send procedure runs:
//
//   0 idle        take the oldest text, execute its messages; "To" 1 goes
//                 to the Tessolin application at once, "To" 0 on to 1
//   1 connecting  a client for "MachineName":"PortNo" (a kept connection
//                 to the same host, port and program is reused)
//   2             connected: the first file's name, or the command
//   3             name sent: the file's content
//   4             content sent: the next file's name, or the command
//   5             command sent: success, back to 0
//
// Files travel ahead of the command when its messages to 9 name them (see
// ExecOneMessage). A connection that cannot be made within the connection
// allowance drops every queued command (they would all go to the same dead
// peer); a send or receive error reconnects and starts the command over up
// to the retry maximum, then drops that command alone. Every dropped
// command reaches an error callback and the GUI log.

#include "commu/AstAppBase.h"
#include "commu/AstSockClient.h"
#include "kit/CvString.h"
#include "platform/PlatformExport.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t AST_APP_SOCK_QUEUE_SIZE = 50;
constexpr int32_t AST_APP_SOCK_RETRY_MAX = 3;
constexpr int32_t AST_APP_SOCK_CONNECT_ALLOWANCE = 3;

// Steps of the send procedure.
enum : int32_t {
    AST_APP_SOCK_IDLE = 0,
    AST_APP_SOCK_CONNECT = 1,
    AST_APP_SOCK_CONNECTED = 2,
    AST_APP_SOCK_FILE_NAME_SENT = 3,
    AST_APP_SOCK_FILE_SENT = 4,
    AST_APP_SOCK_COMMAND_SENT = 5,
};

class LUMIVOR_EXPORT AstAppSock : public AstAppBase {
public:
    explicit AstAppSock(const char* serviceName = nullptr);
    ~AstAppSock() override;

    // Queues the text whatever its addressee; 0 while the queue is full.
    int32_t ReceiveCommand(const char* text) override;
    // The base behaviour, then one step of the send procedure.
    void ServerPre() override;
    // The base behaviour, then the file names of messages to 9:
    //   1000 1100 1200 3000  p0 is a file to send; p0 becomes its tool-side
    //                        name (with the file's directory in front when
    //                        "MorrinFileName" is an .exe); changed
    //   1001 1101 1201       p0 becomes its tool-side name; changed
    //   1007 1104            p0 is a file to send under its tool-side name
    int32_t ExecOneMessage(CvkMessageBlock* block, AstAppBaseMessageResult* result) override;
    // "To" 0: queued; "To" 1: the Tessolin application at once.
    int32_t Send(AstCommandNode* command) override;
    // A command frame the tool sent back, offered as a received command.
    const char* GetReceivedData() override;
    void DestroyReceivedData() override;

    // Callbacks for the application; empty here.
    virtual void CallbackSendStart(int32_t index, AstCommandNode* command);
    virtual void CallbackSendSuccess() {}
    virtual void CallbackSendRetry() {}
    virtual void CallbackSendError(const CvString& text);
    virtual void CallbackConnectRetry() {}
    virtual void CallbackConnectError(const CvString& text);
    virtual void CallbackRecvError(const CvString& text);
    virtual void CallbackSystemError(const CvString& text);
    virtual void ErrorPrint(const CvString& text);

    // Sends a file (under the tool-side name remote, a leading "./" dropped)
    // ahead of the most recently queued command, before the files its
    // messages name. 0 when nothing is queued.
    int32_t AttachFile(const char* path, const char* remote);

    int32_t GetQueueCount() const { return m_queueCount; }
    int32_t GetSendState() const { return m_state; }
    bool IsIdle() const { return m_state == AST_APP_SOCK_IDLE && m_queueCount == 0; }
    AstSockClient* GetClient() const { return m_client; }
    // Connect and I/O limits of the clients made from now on (microseconds).
    void SetClientLimits(uint64_t connectLimit, uint64_t ioLimit);

    // The GUI logger of the application; handed to the socket classes too.
    static void SetGUILogger(AstSockGUILogger logger);

    // The tool-side name of a path: its file name without directory, every
    // "test" in it replaced by "remote".
    static CvString MorrinName(const char* path);

private:
    struct FileToSend {
        std::string path;
        std::string remote;
    };

    int32_t _enqueue(const char* text);
    void _clearQueue(const char* why);
    void _step();
    void _takeNext();
    void _connect();
    void _whenConnected();
    void _whenFileNameSent();
    void _whenFileSent();
    void _whenCommandSent();
    bool _clientFailed();
    void _connectionError();
    void _sendError();
    void _dropCommand(const CvString& text, void (AstAppSock::*callback)(const CvString&));
    void _sendFileName();
    void _sendCommand();
    void _dropClient();
    void _log(const CvString& line) const;

    CvString m_queue[AST_APP_SOCK_QUEUE_SIZE]; // the ring of waiting texts
    FileToSend m_attached[AST_APP_SOCK_QUEUE_SIZE]; // a file sent ahead of each (path empty: none)
    int32_t m_queueHead = 0;
    int32_t m_queueCount = 0;
    AstCommandNode m_sending;        // the command under way
    int32_t m_sendingIndex = 0;      // its position in the ring
    CvString m_sendingText;
    std::vector<FileToSend> m_files; // every file its messages name, in order
    size_t m_fileIndex = 0;
    AstSockClient* m_client = nullptr;
    CvString m_program;              // "MorrinFileName" of the kept connection
    int32_t m_state = AST_APP_SOCK_IDLE;
    int32_t m_retryCounter = 0;
    int32_t m_connectAllowance = AST_APP_SOCK_CONNECT_ALLOWANCE;
    uint64_t m_connectLimit;
    uint64_t m_ioLimit;

    static AstSockGUILogger s_logger;
};
