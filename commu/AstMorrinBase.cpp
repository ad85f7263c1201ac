#include "commu/AstMorrinBase.h"
#include "commu/CvkMessageBufferNode.h"
#include "kit/CvkLog.h"

AstMorrinBase::AstMorrinBase(int32_t sendCount, int32_t receiveCount) : CvkVeldra(sendCount, receiveCount) {}

AstMorrinBase::~AstMorrinBase() = default;

int32_t AstMorrinBase::SendToVeldra(AstCommandNode*)
{
    return 0;
}

void AstMorrinBase::ServerPre()
{
    if (CheckError()) {
        return;
    }
    if (const char* text = GetReceivedData()) {
        // A text that does not read leaves the last command as it was.
        const CvString previous = m_command.GetText();
        const bool parsed = m_command.CreateFromAtrText(text) != 0;
        if (!parsed && previous.GetLength() > 0) {
            m_command.CreateFromAtrText(previous.GetBuffer());
        }
        DestroyReceivedData();
        const AtrNode* messages = parsed ? m_command.GetMessageNode() : nullptr;
        if (messages != nullptr && CvkMessageBufferNode().ReadFromNode(GetReceiveMessageBuffer(), messages) == 0) {
            CvkLogPrint("[Commu] the messages of a received command do not all read\n");
        }
    }
    GetSendMessageBuffer()->DisableAllMessageBlock();
}

void AstMorrinBase::ServerPost()
{
    if (CheckError()) {
        return;
    }
    CvkMessageBuffer* sent = GetSendMessageBuffer();
    if (sent->GetMessageTo(CVK_MESSAGE_ADDRESS_TOOL) != nullptr) {
        // Before any command came there are no settings to answer with yet.
        if (m_command.GetRootNode() == nullptr) {
            m_command.Create();
        }
        m_command.SetTo(AST_COMMAND_TO_TESSOLIN);
        m_command.SetMessageNode(CvkMessageBufferNode().WriteToNode(sent));
        SendToVeldra(&m_command);
        m_command.ClearMessageNode();
    }
    GetReceiveMessageBuffer()->DisableAllMessageBlock();
}
