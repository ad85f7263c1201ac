#include "commu/AstAppBase.h"
#include "commu/AstCommuNode.h"
#include "commu/AstMessageLoop.h"
#include "commu/CvkMessageBufferNode.h"
#include "kit/CvkLog.h"
#include "kit/CvkMessageBuffer.h"

AstAppBase* AstAppBase::s_instance = nullptr;

int AstAppDdeServer::OnPoke(const char* item, AstDdeConnection* connection)
{
    if (AstDdeServer::OnPoke(item, connection) == 0) {
        return 0;
    }
    return m_application->ReceiveCommand(connection->GetText()) > 0 ? 1 : 0;
}

AstAppBase::AstAppBase(const char* serviceName)
{
    SetTag(0x41415042); // "AAPB"
    if (s_instance != nullptr) {
        SetError();
        return;
    }
    if (!AstIsInitDde()) {
        if (AstInitDde() == 0) {
            SetError();
            return;
        }
        m_ownsDde = true;
    }
    m_server = new AstAppDdeServer(this);
    if (m_server == nullptr || m_server->SetServiceName(serviceName) == 0 || m_server->Create() == 0) {
        delete m_server;
        m_server = nullptr;
        if (m_ownsDde) {
            AstExitDde();
            m_ownsDde = false;
        }
        SetError();
        return;
    }
    s_instance = this;
}

AstAppBase::~AstAppBase()
{
    if (s_instance != this) {
        return;
    }
    StopRetryTimer();
    delete m_tessolinClient;
    delete m_server;
    if (m_ownsDde) {
        AstExitDde();
    }
    s_instance = nullptr;
}

int32_t AstAppBase::ReceiveCommand(const char* text)
{
    if (CheckError() || m_command.CreateFromAtrText(text) == 0) {
        return 0;
    }
    if (ExecCommandNode(&m_command) == 0) {
        return 0;
    }
    return CheckFinish() ? 1 : _forward(&m_command);
}

// "To" 0 prepares the tool, 1 needs nothing more; then Send unless the
// messages asked to finish.
int32_t AstAppBase::_forward(AstCommandNode* command)
{
    const int32_t to = command->GetTo();
    if (to == AST_COMMAND_TO_MORRIN) {
        if (ExecSetupMorrin(command) == 0) {
            return 0;
        }
    } else if (to != AST_COMMAND_TO_TESSOLIN) {
        return 0;
    }
    return CheckFinish() ? 1 : Send(command);
}

int32_t AstAppBase::ExecCommandNode(AstCommandNode* command)
{
    if (CheckError() || command == nullptr) {
        return 0;
    }
    const AtrNode* messages = command->GetMessageNode();
    if (messages == nullptr) {
        return 1;
    }
    const CvkMessageBufferNode converter;
    CvkMessageBuffer buffer(converter.GetMessageBlockNum(messages));
    if (converter.ReadFromNode(&buffer, messages) == 0) {
        CvkLogPrint("[Commu] the messages of a command do not read; the command is dropped\n");
        return 0;
    }
    AstAppBaseMessageResult result;
    m_executing = command;
    for (int32_t i = 0; i < buffer.GetMessageBlockNum(); ++i) {
        CvkMessageBlock* block = &buffer.GetMessageBlock()[i];
        if (buffer.CheckEnableMessageBlock(block) == 0) {
            continue;
        }
        const int32_t go = ExecOneMessage(block, &result);
        if (block->GetTo() == AST_APP_MESSAGE_TO_APPLICATION) {
            buffer.DisableMessageBlock(block);
        }
        if (go == 0) {
            break;
        }
    }
    m_executing = nullptr;
    if (result.changed) {
        command->SetMessageNode(converter.WriteToNode(&buffer));
    }
    return 1;
}

int32_t AstAppBase::ExecOneMessage(CvkMessageBlock* block, AstAppBaseMessageResult*)
{
    if (block->GetTo() == AST_APP_MESSAGE_TO_APPLICATION && block->GetMsg() == AST_APP_MESSAGE_CLOSE) {
        if (m_mainWindow != nullptr) {
            m_mainWindow->PostCloseRequest();
        }
        SetFinish();
    }
    return 1;
}

int32_t AstAppBase::ExecSetupMorrin(AstCommandNode*)
{
    return 1;
}

int32_t AstAppBase::Send(AstCommandNode*)
{
    return 0;
}

int32_t AstAppBase::RetrySend(AstCommandNode*)
{
    return 0;
}

void AstAppBase::ServerPre()
{
    if (const char* text = GetReceivedData()) {
        ReceiveCommand(text);
        DestroyReceivedData();
    }
}

int32_t AstAppBase::SendToTessolin(AstCommandNode* command)
{
    const AstCommuNode settings(command->GetCommuNode());
    const CvString service = settings.GetTessolinDdeName();
    if (m_tessolinClient == nullptr) {
        m_tessolinClient = new AstDdeClient();
    }
    if (m_tessolinClient == nullptr || service.GetLength() == 0 ||
        m_tessolinClient->Poke(service.GetBuffer(), command->GetText().GetBuffer()) == 0) {
        delete m_tessolinClient;
        m_tessolinClient = nullptr;
        return 0;
    }
    return 1;
}

int32_t AstAppBase::StartRetryTimer(AstCommandNode* command, int32_t max)
{
    if (CheckError() || command == nullptr || max < 0 ||
        m_retryCommand.CreateFromAtrText(command->GetText().GetBuffer()) == 0) {
        return 0;
    }
    StopRetryTimer();
    m_retryCount = 0;
    m_retryLimit = max;
    m_retryTimer = AstSetTimer(m_retryInterval, &AstAppBase::_retryTick, this);
    return m_retryTimer != 0 ? 1 : 0;
}

void AstAppBase::StopRetryTimer()
{
    if (m_retryTimer != 0) {
        AstKillTimer(m_retryTimer);
    }
    m_retryTimer = 0;
}

void AstAppBase::_retryTick(uint32_t, void* context)
{
    AstAppBase* self = static_cast<AstAppBase*>(context);
    if (self != s_instance) {
        return;
    }
    if (self->RetrySend(&self->m_retryCommand) != 0) {
        self->StopRetryTimer();
        return;
    }
    ++self->m_retryCount;
    if (self->m_retryLimit > 0 && self->m_retryCount > self->m_retryLimit) {
        self->StopRetryTimer();
    }
}
