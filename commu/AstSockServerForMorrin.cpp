#include "commu/AstSockServerForMorrin.h"

#include "commu/AstSockLog.h"
#include "platform/PlatformFileWrite.h"

#include <cstring>
#include <filesystem>
#include <string>

namespace {

std::string Normal(const std::string& path)
{
    return std::filesystem::path(path).lexically_normal().generic_string();
}

// The directory as an absolute, normalised path without a trailing '/'.
std::string AbsoluteDirectory(const char* directory)
{
    std::error_code ignored;
    std::string dir = std::filesystem::absolute(directory, ignored).lexically_normal().generic_string();
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir;
}

bool HasDotDot(const std::string& name)
{
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0 && end - start == 2) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

CvString AstSockConfineFileName(const char* directory, const char* name, uint32_t length)
{
    if (name == nullptr || length == 0 || std::memchr(name, 0, length) != nullptr) {
        return CvString();
    }
    std::string relative(name, length);
    for (char& c : relative) {
        if (c == '\\') c = '/';
    }
    while (relative.compare(0, 2, "./") == 0) {
        relative.erase(0, 2);
    }
    if (relative.empty() || relative.find(':') != std::string::npos || relative.find('%') != std::string::npos ||
        HasDotDot(relative) || relative.back() == '/') {
        return CvString();
    }
    const std::string dir = AbsoluteDirectory(directory != nullptr && directory[0] != '\0' ? directory : ".");
    if (relative[0] == '/') {
        const std::string absolute = Normal(relative);
        const std::string prefix = dir == "/" ? dir : dir + "/";
        if (absolute.compare(0, prefix.size(), prefix) != 0 || absolute.size() == prefix.size()) {
            return CvString();
        }
        relative = absolute.substr(prefix.size());
    }
    relative = Normal(relative);
    if (relative.empty() || relative == "." || relative.back() == '/') {
        return CvString();
    }
    const std::string path = (dir == "/" ? dir : dir + "/") + relative;
    return CvString(path.c_str(), static_cast<int32_t>(path.size()));
}

AstSockServerForMorrin::AstSockServerForMorrin(AstSockVersion version, int32_t port) : AstSockServer(version, port)
{
    _construct();
}

AstSockServerForMorrin::AstSockServerForMorrin(uint8_t major, uint8_t minor, int32_t port)
    : AstSockServer(major, minor, port)
{
    _construct();
}

void AstSockServerForMorrin::_construct()
{
    m_sequence = AST_SOCK_SEQUENCE_IDLE;
    m_directory = ".";
    m_commandHead = 0;
    m_commandCount = 0;
    m_taken = 0;
}

AstSockServerForMorrin::~AstSockServerForMorrin() = default;

void AstSockServerForMorrin::SetDirectory(const char* directory)
{
    m_directory = directory != nullptr && directory[0] != '\0' ? directory : ".";
}

void AstSockServerForMorrin::MainProc()
{
    AstSockServer::MainProc();
    _sequence();
}

void AstSockServerForMorrin::_onDrop()
{
    m_sequence = AST_SOCK_SEQUENCE_IDLE;
    m_fileName.Erase();
}

void AstSockServerForMorrin::_sequence()
{
    if (!IsConnecting()) {
        m_sequence = AST_SOCK_SEQUENCE_IDLE;
        return;
    }
    if (!CheckRecvFinish()) {
        return;
    }
    const uint32_t type = GetRecvType();
    switch (m_sequence) {
    case AST_SOCK_SEQUENCE_IDLE:
        if (type == AST_SOCK_TYPE_FILE_NAME) {
            _takeFileName();
        } else if (type == AST_SOCK_TYPE_COMMAND) {
            m_sequence = AST_SOCK_SEQUENCE_COMMAND;
            _takeCommand();
        } else {
            _dropFrame("a file name or a command");
        }
        break;
    case AST_SOCK_SEQUENCE_FILE_DATA:
        if (type == AST_SOCK_TYPE_FILE_DATA) {
            _takeFileData();
        } else {
            _dropFrame("the file content");
        }
        break;
    case AST_SOCK_SEQUENCE_COMMAND:
        if (type == AST_SOCK_TYPE_COMMAND) {
            _takeCommand();
        } else if (type == AST_SOCK_TYPE_FILE_NAME) {
            // Another file ahead of the same command.
            _takeFileName();
        } else {
            _dropFrame("a command");
        }
        break;
    default:
        _dropFrame("nothing");
        break;
    }
}

// A frame the sequence does not expect is consumed, so that it cannot block
// the connection, and the sequence starts over.
void AstSockServerForMorrin::_dropFrame(const char* expected)
{
    AstSockLogPrint("frame of type %u dropped (expected %s)\n", GetRecvType(), expected);
    DestroyRecvData();
    m_fileName.Erase();
    m_sequence = AST_SOCK_SEQUENCE_IDLE;
}

void AstSockServerForMorrin::_takeFileName()
{
    m_sequence = AST_SOCK_SEQUENCE_FILE_NAME;
    const char* name = reinterpret_cast<const char*>(GetRecvData());
    const CvString path = AstSockConfineFileName(m_directory.GetBuffer(), name, GetRecvLength() - 1);
    std::error_code ignored;
    if (path.GetLength() == 0 || std::filesystem::is_directory(path.GetBuffer(), ignored)) {
        AstSockLogPrint("file name refused: %s\n", name);
        AstSockGUILog("受信ファイル名(%s)は使えません. ", name);
        DropPeer();
        return;
    }
    m_fileName = path;
    DestroyRecvData();
    m_sequence = AST_SOCK_SEQUENCE_FILE_DATA;
}

void AstSockServerForMorrin::_takeFileData()
{
    std::string error;
    if (PlatformWriteFileReplacing(m_fileName.GetBuffer(), GetRecvData(), GetRecvLength(), &error)) {
        m_lastFile = m_fileName;
        AstSockGUILog("受信ファイル(%s)を書き込みました. ", m_fileName.GetBuffer());
    } else {
        AstSockLogPrint("%s\n", error.c_str());
        AstSockGUILog("受信ファイル(%s)を書き込めませんでした. ", m_fileName.GetBuffer());
    }
    m_fileName.Erase();
    DestroyRecvData();
    m_sequence = AST_SOCK_SEQUENCE_COMMAND;
}

void AstSockServerForMorrin::_takeCommand()
{
    if (m_commandCount == AST_SOCK_COMMAND_QUEUE_SIZE) {
        return; // the frame waits (and the peer with it) until the owner takes a command
    }
    const int32_t slot = (m_commandHead + m_commandCount) % AST_SOCK_COMMAND_QUEUE_SIZE;
    m_commands[slot].Assign(reinterpret_cast<const char*>(GetRecvData()));
    ++m_commandCount;
    DestroyRecvData();
    m_sequence = AST_SOCK_SEQUENCE_IDLE;
}

const char* AstSockServerForMorrin::GetCommandText()
{
    while (m_commandCount > 0) {
        CvString& text = m_commands[m_commandHead];
        if (text.GetLength() > 1) {
            m_taken = 1;
            return text.GetBuffer();
        }
        text.Erase();
        m_commandHead = (m_commandHead + 1) % AST_SOCK_COMMAND_QUEUE_SIZE;
        --m_commandCount;
    }
    return nullptr;
}

void AstSockServerForMorrin::ReleaseCommandText()
{
    if (!m_taken || m_commandCount == 0) {
        return;
    }
    m_taken = 0;
    m_commands[m_commandHead].Erase();
    m_commandHead = (m_commandHead + 1) % AST_SOCK_COMMAND_QUEUE_SIZE;
    --m_commandCount;
    if (m_sequence != AST_SOCK_SEQUENCE_FILE_DATA) {
        m_fileName.Erase();
    }
}
