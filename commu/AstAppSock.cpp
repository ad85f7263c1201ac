#include "commu/AstAppSock.h"
#include "commu/AstCommuNode.h"
#include "kit/CvVariant.h"
#include "platform/PlatformCodePage.h"
#include "platform/PlatformProcess.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

AstSockGUILogger AstAppSock::s_logger = nullptr;

namespace {

// Progress and failure lines (UTF-8 here, Shift_JIS when shown).
const char kQueued[] = "コマンド<%d>登録：%s";
const char kCommandBroken[] = "送信コマンドの生成に失敗しました. ";
const char kNoAddress[] = "送信先のIPアドレスが設定されていませんでした. ";
const char kNameSending[] = "※出力ファイル名送信開始 ... %s";
const char kNameSent[] = "※出力ファイル名送信成功";
const char kFileMissing[] = "送信ファイル(%s)が見つかりませんでした. ";
const char kFileSending[] = "※ファイル送信開始...";
const char kFileNoMemory[] = "※ファイル送信失敗（メモリ不足？）";
const char kFileSent[] = "※ファイル送信成功";
const char kNoReconnect[] = "再接続に移れませんでした";
const char kResend[] = "[%d/%d] ... 再送";
const char kNameFailed[] = "[%d/%d]ファイル名(%s)を送信できませんでした. ";
const char kFileFailed[] = "[%d/%d]ファイル(%s)を送信できませんでした. ";
const char kCommandFailed[] = "[%d/%d]コマンドを送信できませんでした. ";
const char kTimedOut[] = "[%d/%d]ビュワーとの通信がタイムアウトしました。";
const char kError[] = "エラー[%d/%d]";
const char kDroppedToo[] = "%s コマンド<%d>";
const char kNotForwarded[] = "[Commu] addressee %d is neither the tool nor the application: not forwarded";
const char kTessolinFailed[] = "[Commu] the command could not be poked to the application's service";
const char kNoClient[] = "[Commu] no socket client could be made";

// A line from a UTF-8 format: the format becomes Shift_JIS first, so
// arguments that already are Shift_JIS (paths, commands) pass unchanged.
__attribute__((format(printf, 1, 2))) CvString Text(const char* utf8Format, ...)
{
    const std::string format = PlatformUtf8ToCp932(utf8Format);
    va_list args;
    va_start(args, utf8Format);
    CvString text;
    text.FormatV(format.c_str(), args);
    va_end(args);
    return text;
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>* bytes)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(file) : -1;
    ok = ok && size >= 0 && static_cast<unsigned long>(size) < 0xFFFFFF00ul && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        bytes->resize(static_cast<size_t>(size));
        ok = std::fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
    }
    std::fclose(file);
    return ok;
}

bool Readable(const char* path)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file != nullptr) {
        std::fclose(file);
    }
    return file != nullptr;
}

// True when the program of a "MorrinFileName" command line is an .exe.
bool IsExeProgram(const CvString& commandLine)
{
    std::vector<std::string> arguments;
    if (!PlatformSplitCommandLine(commandLine.GetBuffer(), &arguments) || arguments.empty()) {
        return false;
    }
    const std::string& program = arguments[0];
    const size_t dot = program.find_last_of('.');
    const size_t slash = program.find_last_of("/\\");
    return dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
           strcasecmp(program.c_str() + dot + 1, "exe") == 0;
}

} // namespace

AstAppSock::AstAppSock(const char* serviceName)
    : AstAppBase(serviceName), m_connectLimit(AST_SOCK_CLIENT_CONNECT_LIMIT), m_ioLimit(AST_SOCK_CLIENT_IO_LIMIT)
{
    SetTag(0x41415053); // "AAPS"
    m_retryMax = AST_APP_SOCK_RETRY_MAX;
}

AstAppSock::~AstAppSock()
{
    StopRetryTimer();
    _dropClient();
}

void AstAppSock::SetGUILogger(AstSockGUILogger logger)
{
    s_logger = logger;
}

void AstAppSock::SetClientLimits(uint64_t connectLimit, uint64_t ioLimit)
{
    m_connectLimit = connectLimit;
    m_ioLimit = ioLimit;
}

void AstAppSock::CallbackSendStart(int32_t, AstCommandNode*) {}
void AstAppSock::CallbackSendError(const CvString&) {}
void AstAppSock::CallbackConnectError(const CvString&) {}
void AstAppSock::CallbackRecvError(const CvString&) {}
void AstAppSock::CallbackSystemError(const CvString&) {}
void AstAppSock::ErrorPrint(const CvString&) {}

// ---- the queue ---------------------------------------------------------------

int32_t AstAppSock::ReceiveCommand(const char* text)
{
    return CheckError() ? 0 : _enqueue(text);
}

int32_t AstAppSock::Send(AstCommandNode* command)
{
    const int32_t to = command->GetTo();
    if (to == AST_COMMAND_TO_TESSOLIN) {
        return SendToTessolin(command);
    }
    return to == AST_COMMAND_TO_MORRIN ? _enqueue(command->GetText().GetBuffer()) : 0;
}

int32_t AstAppSock::_enqueue(const char* text)
{
    if (text == nullptr || m_queueCount >= AST_APP_SOCK_QUEUE_SIZE) {
        return 0;
    }
    const int32_t index = (m_queueHead + m_queueCount) % AST_APP_SOCK_QUEUE_SIZE;
    m_queue[index] = text;
    ++m_queueCount;
    _log(Text(kQueued, index, text));
    return 1;
}

int32_t AstAppSock::AttachFile(const char* path, const char* remote)
{
    if (m_queueCount == 0 || path == nullptr || remote == nullptr) {
        return 0;
    }
    const int32_t last = (m_queueHead + m_queueCount - 1) % AST_APP_SOCK_QUEUE_SIZE;
    m_attached[last] = FileToSend{path, remote};
    return 1;
}

// Drops every waiting command, each reported with the reason.
void AstAppSock::_clearQueue(const char* why)
{
    while (m_queueCount > 0) {
        const CvString line = Text(kDroppedToo, why, m_queueHead);
        m_queue[m_queueHead].Erase();
        m_attached[m_queueHead] = FileToSend();
        m_queueHead = (m_queueHead + 1) % AST_APP_SOCK_QUEUE_SIZE;
        --m_queueCount;
        _log(line);
        ErrorPrint(line);
        CallbackConnectError(line);
    }
}

// ---- messages naming files ----------------------------------------------------

CvString AstAppSock::MorrinName(const char* path)
{
    std::string name = path != nullptr ? path : "";
    name = name.substr(name.find_last_of("/\\") + 1);
    for (size_t at = name.find("test"); at != std::string::npos; at = name.find("test", at + 6)) {
        name.replace(at, 4, "remote");
    }
    return CvString(name.c_str(), static_cast<int32_t>(name.size()));
}

int32_t AstAppSock::ExecOneMessage(CvkMessageBlock* block, AstAppBaseMessageResult* result)
{
    const int32_t go = AstAppBase::ExecOneMessage(block, result);
    if (block->GetTo() != AST_APP_MESSAGE_TO_FILES || block->GetParam0().GetType() != CVK_VARIANT_TYPE_STRING) {
        return go;
    }
    const std::string path = block->GetParam0().GetString();
    const CvString remote = MorrinName(path.c_str());
    switch (block->GetMsg()) {
    case 1000:
    case 1100:
    case 1200:
    case 3000: {
        AstCommandNode* command = GetExecutingCommand();
        CvString named = remote;
        if (command != nullptr && IsExeProgram(command->GetMorrinFileName())) {
            named = CvString(path.substr(0, path.find_last_of("/\\") + 1).c_str()) + remote;
        }
        m_files.push_back(FileToSend{path, named.GetBuffer()});
        block->SetParam0(CvVariant(named.GetBuffer()));
        result->changed = true;
        break;
    }
    case 1001:
    case 1101:
    case 1201:
        block->SetParam0(CvVariant(remote.GetBuffer()));
        result->changed = true;
        break;
    case 1007:
    case 1104:
        m_files.push_back(FileToSend{path, remote.GetBuffer()});
        break;
    default:
        break;
    }
    return go;
}

// ---- the send procedure ----------------------------------------------------------

void AstAppSock::ServerPre()
{
    AstAppBase::ServerPre();
    if (!CheckError()) {
        _step();
    }
}

void AstAppSock::_step()
{
    if (m_client != nullptr) {
        m_client->MainProc();
    }
    switch (m_state) {
    case AST_APP_SOCK_IDLE: _takeNext(); break;
    case AST_APP_SOCK_CONNECT: _connect(); break;
    case AST_APP_SOCK_CONNECTED: _whenConnected(); break;
    case AST_APP_SOCK_FILE_NAME_SENT: _whenFileNameSent(); break;
    case AST_APP_SOCK_FILE_SENT: _whenFileSent(); break;
    case AST_APP_SOCK_COMMAND_SENT: _whenCommandSent(); break;
    }
}

void AstAppSock::_takeNext()
{
    // A kept connection the tool has closed is let go before the next send.
    if (m_client != nullptr && _clientFailed()) {
        _dropClient();
    }
    if (m_queueCount == 0) {
        return;
    }
    m_sendingIndex = m_queueHead;
    m_sendingText = m_queue[m_queueHead];
    m_queue[m_queueHead].Erase();
    m_files.clear();
    if (!m_attached[m_queueHead].path.empty()) {
        m_files.push_back(m_attached[m_queueHead]);
    }
    m_attached[m_queueHead] = FileToSend();
    m_queueHead = (m_queueHead + 1) % AST_APP_SOCK_QUEUE_SIZE;
    --m_queueCount;
    m_fileIndex = 0;
    if (m_sending.CreateFromAtrText(m_sendingText.GetBuffer()) == 0 || ExecCommandNode(&m_sending) == 0) {
        _dropCommand(Text(kCommandBroken), &AstAppSock::CallbackSendError);
        return;
    }
    if (CheckFinish()) {
        return;
    }
    const int32_t to = m_sending.GetTo();
    if (to == AST_COMMAND_TO_TESSOLIN) {
        if (SendToTessolin(&m_sending) == 0) {
            _dropCommand(Text(kTessolinFailed), &AstAppSock::CallbackSendError);
        }
        return;
    }
    if (to != AST_COMMAND_TO_MORRIN) {
        _dropCommand(Text(kNotForwarded, to), &AstAppSock::CallbackSendError);
        return;
    }
    CallbackSendStart(m_sendingIndex, &m_sending);
    m_retryCounter = 0;
    m_connectAllowance = AST_APP_SOCK_CONNECT_ALLOWANCE;
    m_state = AST_APP_SOCK_CONNECT;
}

void AstAppSock::_connect()
{
    const AstCommuNode settings(m_sending.GetCommuNode());
    const CvString host = settings.GetMachineName();
    const int32_t port = static_cast<int32_t>(settings.GetPortNo());
    const CvString program = m_sending.GetMorrinFileName();
    if (host.GetLength() == 0) {
        _dropCommand(Text(kNoAddress), &AstAppSock::CallbackSendError);
        return;
    }
    // A file that cannot be read is found before anything goes out, so the
    // tool is never left with half a command.
    for (const FileToSend& file : m_files) {
        if (!Readable(file.path.c_str())) {
            _dropCommand(Text(kFileMissing, file.path.c_str()), &AstAppSock::CallbackSendError);
            return;
        }
    }
    const bool keep = m_client != nullptr && m_client->IsSameConnect(host.GetBuffer(), port) &&
                      m_program == program && !_clientFailed();
    if (!keep) {
        _dropClient();
        m_client = new AstSockClient(AST_SOCK_VERSION_2_2, host.GetBuffer(), port);
        if (m_client == nullptr || m_client->CheckError()) {
            _dropClient();
            _dropCommand(Text(kNoClient), &AstAppSock::CallbackSystemError);
            return;
        }
        m_client->SetLimits(m_connectLimit, m_ioLimit);
        AstSockClient::SetGUILogger(s_logger);
        m_program = program;
    }
    m_state = AST_APP_SOCK_CONNECTED;
}

void AstAppSock::_whenConnected()
{
    if (_clientFailed()) {
        if (m_client->IsConnected()) {
            _sendError();
        } else {
            _connectionError();
        }
        return;
    }
    if (!m_client->IsConnected()) {
        return;
    }
    if (m_fileIndex < m_files.size()) {
        _sendFileName();
    } else {
        _sendCommand();
    }
}

void AstAppSock::_whenFileNameSent()
{
    // A frame that is out counts even when the peer has closed since.
    if (!m_client->CheckSendFinish()) {
        if (_clientFailed()) {
            _sendError();
        }
        return;
    }
    _log(Text(kNameSent));
    const FileToSend& file = m_files[m_fileIndex];
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(file.path.c_str(), &bytes)) {
        // The tool now waits for content: a fresh connection resets it.
        _dropClient();
        _dropCommand(Text(kFileMissing, file.path.c_str()), &AstAppSock::CallbackSendError);
        return;
    }
    if (m_client->SendData(AST_SOCK_TYPE_FILE_DATA, bytes.data(), static_cast<uint32_t>(bytes.size())) == 0) {
        _dropClient();
        _dropCommand(Text(kFileNoMemory), &AstAppSock::CallbackSystemError);
        return;
    }
    _log(Text(kFileSending));
    m_state = AST_APP_SOCK_FILE_SENT;
}

void AstAppSock::_whenFileSent()
{
    // A frame that is out counts even when the peer has closed since.
    if (!m_client->CheckSendFinish()) {
        if (_clientFailed()) {
            _sendError();
        }
        return;
    }
    _log(Text(kFileSent));
    ++m_fileIndex;
    if (m_fileIndex < m_files.size()) {
        _sendFileName();
    } else {
        _sendCommand();
    }
}

void AstAppSock::_whenCommandSent()
{
    if (m_client->CheckSendFinish()) {
        m_state = AST_APP_SOCK_IDLE;
        CallbackSendSuccess();
    } else if (_clientFailed()) {
        _sendError();
    }
}

void AstAppSock::_sendFileName()
{
    const FileToSend& file = m_files[m_fileIndex];
    const char* name = file.remote.c_str();
    if (name[0] == '.' && name[1] == '/') {
        name += 2;
    }
    if (m_client->SendData(AST_SOCK_TYPE_FILE_NAME, name, static_cast<uint32_t>(std::strlen(name) + 1)) == 0) {
        _dropCommand(Text(kNameFailed, m_retryCounter, m_retryMax, name), &AstAppSock::CallbackSendError);
        return;
    }
    _log(Text(kNameSending, name));
    m_state = AST_APP_SOCK_FILE_NAME_SENT;
}

void AstAppSock::_sendCommand()
{
    const CvString& text = m_sending.GetText();
    if (m_client->SendData(AST_SOCK_TYPE_COMMAND, text.GetBuffer(), static_cast<uint32_t>(text.GetLength() + 1)) == 0) {
        _dropCommand(Text(kCommandFailed, m_retryCounter, m_retryMax), &AstAppSock::CallbackSendError);
        return;
    }
    m_state = AST_APP_SOCK_COMMAND_SENT;
}

// ---- failures ---------------------------------------------------------------------

bool AstAppSock::_clientFailed()
{
    return m_client != nullptr && (m_client->CheckError() || m_client->CheckSendError() || m_client->CheckRecvError());
}

// The connection could not be made (time-out, refusal, unknown host): one
// unit of the allowance per attempt; when it is spent, nothing queued can
// reach the tool either.
void AstAppSock::_connectionError()
{
    const bool timedOut = m_client->IsConnectTimeout() != 0;
    const int32_t kind = m_client->GetError();
    const int32_t socketError = m_client->GetSocketError();
    --m_connectAllowance;
    CvString why;
    if (m_connectAllowance > 0) {
        if (m_client->RetryConnect() != 0) {
            CallbackConnectRetry();
            return;
        }
        why = Text(kNoReconnect);
    } else if (timedOut) {
        why = Text(kTimedOut, AST_APP_SOCK_CONNECT_ALLOWANCE, AST_APP_SOCK_CONNECT_ALLOWANCE);
    } else {
        why = Text(kError, kind, socketError);
    }
    _dropClient();
    _dropCommand(why, &AstAppSock::CallbackConnectError);
    _clearQueue(why.GetBuffer());
}

// A send or receive error on a connected client: reconnect and start the
// command over, up to the retry maximum; then drop this command alone.
void AstAppSock::_sendError()
{
    const int32_t kind = m_client->GetError();
    const int32_t socketError = m_client->GetSocketError();
    const bool receiving = m_client->CheckRecvError() != 0;
    ++m_retryCounter;
    if (m_retryCounter <= m_retryMax) {
        _log(Text(kResend, m_retryCounter, m_retryMax));
        CallbackSendRetry();
        _dropClient();
        m_fileIndex = 0;
        m_state = AST_APP_SOCK_CONNECT;
        return;
    }
    const int32_t tries = m_retryCounter - 1;
    CvString why;
    if (kind == AST_SOCK_ERROR_TIMEOUT) {
        why = Text(kTimedOut, tries, m_retryMax);
    } else if (m_state == AST_APP_SOCK_FILE_NAME_SENT) {
        why = Text(kNameFailed, tries, m_retryMax, m_files[m_fileIndex].remote.c_str());
    } else if (m_state == AST_APP_SOCK_FILE_SENT) {
        why = Text(kFileFailed, tries, m_retryMax, m_files[m_fileIndex].path.c_str());
    } else if (m_state == AST_APP_SOCK_COMMAND_SENT) {
        why = Text(kCommandFailed, tries, m_retryMax);
    } else {
        why = Text(kError, kind, socketError);
    }
    _dropClient();
    _dropCommand(why, receiving ? &AstAppSock::CallbackRecvError : &AstAppSock::CallbackSendError);
}

void AstAppSock::_dropCommand(const CvString& text, void (AstAppSock::*callback)(const CvString&))
{
    _log(text);
    ErrorPrint(text);
    (this->*callback)(text);
    m_files.clear();
    m_fileIndex = 0;
    m_state = AST_APP_SOCK_IDLE;
}

void AstAppSock::_log(const CvString& line) const
{
    if (s_logger != nullptr) {
        s_logger(line);
    }
}

void AstAppSock::_dropClient()
{
    delete m_client;
    m_client = nullptr;
    m_program.Erase();
}

// ---- what the tool sends back ----------------------------------------------------------

const char* AstAppSock::GetReceivedData()
{
    if (m_client == nullptr || !m_client->CheckRecvFinish()) {
        return nullptr;
    }
    if (m_client->GetRecvType() != AST_SOCK_TYPE_COMMAND || m_client->GetRecvData() == nullptr) {
        m_client->DestroyRecvData();
        return nullptr;
    }
    return reinterpret_cast<const char*>(m_client->GetRecvData());
}

void AstAppSock::DestroyReceivedData()
{
    if (m_client != nullptr) {
        m_client->DestroyRecvData();
    }
}
