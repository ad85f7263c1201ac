// The script compiler's process-wide log.
#include "dresser/DrsErrorInfo.h"

#include "attribute/AtrData.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrUtil.h"

namespace {

DrsErrorInfo* g_errorInfo = nullptr;

} // namespace

DRS_LOG_CATEGORY DrsGetLogCategory(int32_t code)
{
    switch (code) {
    case DRS_LOG_NO_SOURCE:
    case DRS_LOG_UNDEFINED_VARIABLE:
    case DRS_LOG_DUPLICATE_NAME:
    case DRS_LOG_EXPECTED:
    case DRS_LOG_MISPLACED:
    case DRS_LOG_UNDEFINED_LABEL:
    case DRS_LOG_UNUSED_29:
    case DRS_LOG_ARG_COUNT:
    case DRS_LOG_UNKNOWN_CONSTANT:
    case DRS_LOG_FILE_NOT_FOUND:
    case DRS_LOG_BAD_INCLUDE:
    case DRS_LOG_UNDEFINED_MODULE:
        return DRS_LOG_CATEGORY_ERROR_ARG;
    case DRS_LOG_INCLUDE:
    case DRS_LOG_INCLUDE_ERRORS:
    case DRS_LOG_LINE_LIMIT:
    case DRS_LOG_ASSIGN_WARNING:
        return DRS_LOG_CATEGORY_WARNING;
    default:
        return DRS_LOG_CATEGORY_ERROR;
    }
}

DrsErrorInfo::DrsErrorInfo(const char* directory)
    : m_messages(nullptr), m_lastCode(-1), m_errorCount(0), m_warningCount(0)
{
    SetTag(0x44455252); // "DERR"
    if (directory == nullptr) {
        SetError();
        return;
    }
    m_path = directory;
    m_path += DRS_MESSAGE_FILE_NAME;
    SetMessageTree(AtrUtilCreateFromBinary(m_path.GetBuffer()));
}

DrsErrorInfo::~DrsErrorInfo()
{
    AtrNodeDestroyChain(m_messages);
}

void DrsErrorInfo::SetMessageTree(AtrNode* tree)
{
    AtrNodeDestroyChain(m_messages);
    m_messages = tree;
    if (_messageNode() != nullptr) {
        ResetError();
    } else {
        SetError();
    }
}

AtrNode* DrsErrorInfo::_messageNode() const
{
    if (m_messages == nullptr) {
        return nullptr;
    }
    if (m_messages->GetElement() == DRS_MESSAGE_NODE_NAME) {
        return m_messages;
    }
    return m_messages->GetChild(DRS_MESSAGE_NODE_NAME);
}

const char* DrsErrorInfo::GetMessage(int32_t code) const
{
    AtrNode* node = CheckError() ? nullptr : _messageNode();
    AtrData* data = node != nullptr && code >= 0 ? node->GetData(code) : nullptr;
    return data != nullptr ? data->GetString() : nullptr;
}

void DrsErrorInfo::SetErrorInfo(int32_t code, int32_t line, const char* text)
{
    const char* message = GetMessage(code);
    if (message == nullptr) {
        ++m_errorCount;
        return;
    }
    const DRS_LOG_CATEGORY category = DrsGetLogCategory(code);
    if (category == DRS_LOG_CATEGORY_WARNING) {
        ++m_warningCount;
    } else {
        ++m_errorCount;
    }
    const bool repeat = code < DRS_LOG_INCLUDE && code == m_lastCode;
    m_lastCode = code;
    if (repeat) {
        return;
    }
    if (line == 0) {
        m_log.Append("---- ");
    } else {
        m_log.AppendFormat("%04d ", static_cast<int>(line));
    }
    if (text == nullptr || category == DRS_LOG_CATEGORY_ERROR) {
        m_log.AppendFormat("%s\n", message);
    } else if (category == DRS_LOG_CATEGORY_ERROR_ARG) {
        m_log.AppendFormat("%s%s\n", text, message);
    } else {
        m_log.AppendFormat("%s %s\n", text, message);
    }
}

void DrsInitErrorInfo(const char* directory)
{
    DrsExitErrorInfo();
    g_errorInfo = new DrsErrorInfo(directory);
}

void DrsExitErrorInfo()
{
    delete g_errorInfo;
    g_errorInfo = nullptr;
}

void DrsSetErrorInfo(int32_t code, int32_t line, const char* text)
{
    if (g_errorInfo != nullptr) {
        g_errorInfo->SetErrorInfo(code, line, text);
    }
}

int32_t DrsGetErrorCount()
{
    return g_errorInfo != nullptr ? g_errorInfo->GetErrorCount() : -1;
}

int32_t DrsGetLogCount()
{
    return g_errorInfo != nullptr ? g_errorInfo->GetLogCount() : -1;
}

CvString* DrsGetErrorLog()
{
    return g_errorInfo != nullptr ? g_errorInfo->GetErrorLog() : nullptr;
}

DrsErrorInfo* DrsGetErrorInfo()
{
    return g_errorInfo;
}
