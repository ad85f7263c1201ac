#pragma once
// AstAppBase: the application's end of the tool communication.
//
// It receives command texts (poked to the process's service, or handed
// over by a derived link), executes the kit messages in them that concern
// the application itself (addressee 8: number 1400 asks the main window to
// close and ends forwarding), and forwards each command: "To" 0 to the
// Morrin tool (through Send, which derived links give a transport), "To" 1
// to the Tessolin application over the local transport. Any other
// addressee is executed but not forwarded.
//
// Only the first instance in a process is live: it starts the local
// transport if nobody has, registers the process's service and serves the
// retry timer. A later instance carries the Error flag and touches nothing.

#include "commu/AstCommandNode.h"
#include "commu/AstDdeClient.h"
#include "commu/AstDdeServer.h"
#include "commu/AstWindow.h"
#include "kit/CvkBase.h"
#include "kit/CvkMessageBlock.h"
#include "platform/PlatformExport.h"

#include <cstdint>

// Messages the application executes itself.
constexpr uint32_t AST_APP_MESSAGE_TO_APPLICATION = 8;
constexpr uint32_t AST_APP_MESSAGE_CLOSE = 1400;
// Messages that name files for the Morrin tool (see AstAppSock).
constexpr uint32_t AST_APP_MESSAGE_TO_FILES = 9;

constexpr int32_t AST_APP_RETRY_MAX = 10;
constexpr uint32_t AST_APP_RETRY_INTERVAL_MS = 1000;

struct AstAppBaseMessageResult {
    bool changed = false; // the handler rewrote its message
};

class AstAppBase;

// The process's service: a poked text goes to the application's ReceiveCommand.
class LUMIVOR_EXPORT AstAppDdeServer : public AstDdeServer {
public:
    explicit AstAppDdeServer(AstAppBase* application) : m_application(application) {}
    int OnPoke(const char* item, AstDdeConnection* connection) override;

private:
    AstAppBase* m_application;
};

class LUMIVOR_EXPORT AstAppBase : public CvkBase {
public:
    // serviceName: the process's service (null: the executable's base name).
    explicit AstAppBase(const char* serviceName = nullptr);
    ~AstAppBase() override;
    AstAppBase(const AstAppBase&) = delete;
    AstAppBase& operator=(const AstAppBase&) = delete;

    // Parses, executes and forwards a command text; 1 or 0.
    virtual int32_t ReceiveCommand(const char* text);
    virtual void TimerProcSend() {}
    // Per frame: a text from GetReceivedData goes to ReceiveCommand.
    virtual void ServerPre();
    // Executes one message; 0 stops the messages after it.
    virtual int32_t ExecOneMessage(CvkMessageBlock* block, AstAppBaseMessageResult* result);
    // Prepares the Morrin tool for a command addressed to it; 0 stops it.
    virtual int32_t ExecSetupMorrin(AstCommandNode* command);
    virtual int32_t Send(AstCommandNode* command);
    virtual int32_t RetrySend(AstCommandNode* command);
    virtual const char* GetReceivedData() { return nullptr; }
    virtual void DestroyReceivedData() {}

    // Executes the command's messages without forwarding it. 0 when the
    // messages do not read (the failure is logged) or the object is in error.
    int32_t ExecCommandNode(AstCommandNode* command);
    // Pokes the command to its "TessolinDdeName" service; 1 or 0.
    int32_t SendToTessolin(AstCommandNode* command);

    void SetMainWindowHandle(AstWindow* window) { m_mainWindow = window; }
    AstWindow* GetMainWindowHandle() const { return m_mainWindow; }
    void SetRetryMaxCount(int32_t count) { m_retryMax = count; }
    int32_t GetRetryMaxCount() const { return m_retryMax; }
    AstCommandNode* GetCommandNode() { return &m_command; }
    // The process's service (null for an instance in error).
    AstDdeServer* GetDdeServer() const { return m_server; }

    // Retries the command (copied) every retry interval through RetrySend
    // until it succeeds or has failed more than max times (0: without end).
    int32_t StartRetryTimer(AstCommandNode* command, int32_t max);
    void StopRetryTimer();
    bool IsRetrying() const { return m_retryTimer != 0; }
    int32_t GetRetryCount() const { return m_retryCount; }
    // The retry interval in milliseconds (AST_APP_RETRY_INTERVAL_MS).
    void SetRetryInterval(uint32_t intervalMs) { m_retryInterval = intervalMs; }

    // The live instance of the process, or null.
    static AstAppBase* GetInstance() { return s_instance; }

protected:
    // The command whose messages are being executed (for ExecOneMessage).
    AstCommandNode* GetExecutingCommand() const { return m_executing; }

    AstCommandNode m_command;      // the received command
    AstCommandNode m_retryCommand; // the command the retry timer sends
    AstCommandNode m_extraCommand;
    int32_t m_retryMax = AST_APP_RETRY_MAX;

private:
    int32_t _forward(AstCommandNode* command);
    static void _retryTick(uint32_t id, void* context);

    AstDdeClient* m_tessolinClient = nullptr;
    AstAppDdeServer* m_server = nullptr;
    bool m_ownsDde = false;
    uint32_t m_retryTimer = 0;
    uint32_t m_retryInterval = AST_APP_RETRY_INTERVAL_MS;
    int32_t m_retryCount = 0;
    int32_t m_retryLimit = 0;
    AstWindow* m_mainWindow = nullptr;
    AstCommandNode* m_executing = nullptr;

    static AstAppBase* s_instance;
};
