#include "commu/AstAppDde.h"
#include "commu/AstCommuNode.h"
#include "platform/PlatformLocalBus.h"
#include "platform/PlatformProcess.h"
#include "platform/PlatformTimer.h"

#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The service a started tool offers: its "MorrinDdeName", else the base
// name of its program.
std::string ToolService(AstCommandNode* command, const std::vector<std::string>& arguments)
{
    const CvString named = AstCommuNode(command->GetCommuNode()).GetMorrinDdeName();
    if (named.GetLength() > 0) {
        return named.GetBuffer();
    }
    std::string program = arguments.empty() ? std::string() : arguments[0];
    program = program.substr(program.find_last_of("/\\") + 1);
    const size_t dot = program.find_last_of('.');
    return dot != std::string::npos && dot > 0 ? program.substr(0, dot) : program;
}

} // namespace

AstAppDde::AstAppDde(const char* serviceName) : AstAppBase(serviceName)
{
    SetTag(0x41415044); // "AAPD"
}

AstAppDde::~AstAppDde()
{
    // The retry timer calls RetrySend of this class: stop it first.
    StopRetryTimer();
    delete m_morrinClient;
}

int32_t AstAppDde::ExecSetupMorrin(AstCommandNode* command)
{
    const CvString line = command->GetMorrinFileName();
    if (line.GetLength() == 0) {
        return 1;
    }
    std::vector<std::string> arguments;
    PlatformSplitCommandLine(line.GetBuffer(), &arguments);
    const pid_t pid = PlatformSpawn(line.GetBuffer());
    if (pid < 0) {
        return 1;
    }
    // Waiting for the service stands in for waiting until the tool is idle.
    const std::string service = ToolService(command, arguments);
    const uint64_t end = PlatformMonotonicMicros() + static_cast<uint64_t>(m_setupWaitMs) * 1000;
    while (!PlatformServiceIsLive(service.c_str()) && PlatformChildRunning(pid) && PlatformMonotonicMicros() < end) {
        usleep(20000);
    }
    return 1;
}

int32_t AstAppDde::Send(AstCommandNode* command)
{
    const int32_t to = command->GetTo();
    if (to == AST_COMMAND_TO_TESSOLIN) {
        return SendToTessolin(command);
    }
    if (to != AST_COMMAND_TO_MORRIN) {
        return 0;
    }
    if (_pokeMorrin(command) != 0) {
        return 1;
    }
    StartRetryTimer(command, m_retryMax);
    return 0;
}

int32_t AstAppDde::RetrySend(AstCommandNode* command)
{
    const int32_t to = command->GetTo();
    if (to == AST_COMMAND_TO_TESSOLIN) {
        return SendToTessolin(command);
    }
    return to == AST_COMMAND_TO_MORRIN ? _pokeMorrin(command) : 0;
}

// A fresh conversation for every command.
int32_t AstAppDde::_pokeMorrin(AstCommandNode* command)
{
    delete m_morrinClient;
    m_morrinClient = new AstDdeClient();
    const CvString service = AstCommuNode(command->GetCommuNode()).GetMorrinDdeName();
    if (m_morrinClient == nullptr || service.GetLength() == 0) {
        return 0;
    }
    return m_morrinClient->Poke(service.GetBuffer(), command->GetText().GetBuffer());
}
