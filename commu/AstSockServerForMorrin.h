#pragma once
// AstSockServerForMorrin: the Morrin tool's socket server with the
// file-transfer sequence run after each step of the server:
//
//   0  a complete frame: type 1 (file name) -> 1, type 3 (command) -> 3
//   1  the file name is kept                 -> 2
//   2  the file content is written there     -> 3
//   3  the command text is queued            -> 0
//      (or, type 1: the name of a further file -> 2)
//
// A frame of a type the sequence does not expect is consumed, logged and
// dropped, and the sequence starts over. Received files are written only
// under the server's directory (see AstSockConfineFileName), through a
// temporary file renamed into place when complete. Commands wait in a queue
// in arrival order; the owner takes the oldest with GetCommandText and
// releases it with ReleaseCommandText.

#include "commu/AstSockServer.h"
#include "kit/CvString.h"
#include "platform/PlatformExport.h"

#include <cstdint>

// Sequence states.
enum : int32_t {
    AST_SOCK_SEQUENCE_IDLE = 0,
    AST_SOCK_SEQUENCE_FILE_NAME = 1,
    AST_SOCK_SEQUENCE_FILE_DATA = 2,
    AST_SOCK_SEQUENCE_COMMAND = 3,
};

// Commands that may wait to be taken; further ones stay in the socket.
constexpr int32_t AST_SOCK_COMMAND_QUEUE_SIZE = 64;

class LUMIVOR_EXPORT AstSockServerForMorrin : public AstSockServer {
public:
    AstSockServerForMorrin(AstSockVersion version, int32_t port);
    AstSockServerForMorrin(uint8_t major, uint8_t minor, int32_t port);
    ~AstSockServerForMorrin() override;

    void MainProc() override;

    // Received files are written under this directory (default: the current
    // directory, "."). Empty or null: the current directory.
    void SetDirectory(const char* directory);
    const CvString& GetDirectory() const { return m_directory; }

    // The oldest received command text when it is longer than one character
    // (shorter ones are dropped); null when none. Marks it as taken.
    const char* GetCommandText();
    // Releases the taken command text and the file name that came with it.
    void ReleaseCommandText();
    // Commands waiting, the one offered included.
    int32_t GetCommandNum() const { return m_commandCount; }

    int32_t GetSequenceState() const { return m_sequence; }
    // The file name received for the next file content, empty when none.
    const CvString& GetFileName() const { return m_fileName; }
    // Path of the last file written, empty when none.
    const CvString& GetLastFile() const { return m_lastFile; }

protected:
    void _onDrop() override;

private:
    void _construct();
    void _sequence();
    void _takeFileName();
    void _takeFileData();
    void _takeCommand();
    void _dropFrame(const char* why);

    int32_t m_sequence;
    CvString m_directory;
    CvString m_fileName;
    CvString m_lastFile;
    CvString m_commands[AST_SOCK_COMMAND_QUEUE_SIZE];
    int32_t m_commandHead;
    int32_t m_commandCount;
    int32_t m_taken;
};

// Where a received file name may be written under directory: the path
// inside it, or empty when the name is refused (empty, ".", a directory, a
// NUL inside, a scheme or drive ':', a %NAME%, a ".." component with '/' or
// '\', or an absolute path that does not lie inside directory). Backslashes
// count as separators; a leading "./" is dropped.
LUMIVOR_EXPORT CvString AstSockConfineFileName(const char* directory, const char* name, uint32_t length);
