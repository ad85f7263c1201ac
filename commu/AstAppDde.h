#pragma once
// AstAppDde: the application link that reaches the Morrin tool over the
// local transport. A command for the tool may name the tool's program
// ("MorrinFileName"); it is started and awaited before the command is
// poked to the tool's service ("MorrinDdeName"). A poke that fails is
// retried by the retry timer.

#include "commu/AstAppBase.h"
#include "platform/PlatformExport.h"

// How long a started tool may take to offer its service.
constexpr uint32_t AST_APP_SETUP_WAIT_MS = 10000;

class LUMIVOR_EXPORT AstAppDde : public AstAppBase {
public:
    explicit AstAppDde(const char* serviceName = nullptr);
    ~AstAppDde() override;

    // Starts "MorrinFileName" (the whole command line, split into arguments
    // without a shell) and waits until the tool's service is live, the
    // program has ended, or the wait limit passed. Always 1.
    int32_t ExecSetupMorrin(AstCommandNode* command) override;
    // "To" 0: pokes the tool's service, starting the retry timer on failure;
    // "To" 1: the Tessolin application. 1 or 0.
    int32_t Send(AstCommandNode* command) override;
    // As Send, without starting the timer.
    int32_t RetrySend(AstCommandNode* command) override;

    void SetSetupWaitLimit(uint32_t limitMs) { m_setupWaitMs = limitMs; }

private:
    int32_t _pokeMorrin(AstCommandNode* command);

    AstDdeClient* m_morrinClient = nullptr;
    uint32_t m_setupWaitMs = AST_APP_SETUP_WAIT_MS;
};
