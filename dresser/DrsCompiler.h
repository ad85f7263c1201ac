#pragma once
// DrsCompiler: the public face of the Dresser script compiler.
//
// A host makes one compiler per script, names the definition directory
// (with its trailing separator), optionally adds instruction tables and
// include paths, compiles one script from a file or from memory, and takes
// the image ("DSCR", DrsScriptImage.h) as a file or a memory chunk. Errors
// and warnings go to the process-wide log (DrsErrorInfo.h), which the
// constructor starts afresh and the destructor ends; GetErrorString gives
// its text. One compiler at a time: the log is shared by the process.
//
// The definition directory holds "DresserInstruction.bin" (instruction
// tables as a converter image), or failing that "DresserInstruction.def"
// (the same as attribute text), and the message file of the log.

#include "dresser/CvkScriptDebugInfo.h"
#include "dresser/DrsCompileOption.h"
#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class DrsLexer;
class DrsParser;

#define DRS_INSTRUCTION_BIN_NAME "DresserInstruction.bin"
#define DRS_INSTRUCTION_DEF_NAME "DresserInstruction.def"
// The output of CompileFile: the source's extension replaced by this.
#define DRS_OUTPUT_EXTENSION ".bin"

class LUMIVOR_EXPORT DrsCompiler : public CvkBase {
public:
    DrsCompiler();
    // directory: the definition directory with its trailing separator (may
    // be null). loadTables non-zero: registers the instruction tables found
    // there (the binary file, or the text file only when that fails).
    DrsCompiler(const char* directory, int32_t loadTables);
    ~DrsCompiler() override;
    DrsCompiler(const DrsCompiler&) = delete;
    DrsCompiler& operator=(const DrsCompiler&) = delete;

    // Registers an instruction table file, read as a converter image
    // (binary non-zero) or attribute text; null path: the table file of the
    // definition directory tried last. 1 when registered.
    int32_t AddInstructionTable(const char* path, int32_t binary);
    int32_t AddIncludePath(const char* path);

    // Compiles a script file; the output path becomes the source path with
    // the extension of its file name replaced by ".bin" (appended when the
    // name has none). A missing or empty file, or a source whose output
    // would be itself, reports DRS_LOG_NO_SOURCE. 1 on success.
    int32_t CompileFile(const char* path, const DrsCompileOption* option);
    // Compiles a NUL-terminated script. The debug record is used only when
    // the option asks for debug output. 1 on success.
    int32_t CompileText(const char* text, const DrsCompileOption* option, const CvkScriptDebugInfo* debugRecord);
    // True when the log counted errors.
    int32_t CheckCompileError() const;

    // Bytes of the image, and the image written into buffer (which must hold
    // them); null for a null buffer, or when no compile succeeded.
    uint32_t GetChunkSize() const;
    void* GetChunk(void* buffer);
    // Writes the image; a non-null path replaces the output path. Nothing is
    // written unless the last compile succeeded, and the source file is never
    // overwritten. 1 on success.
    int32_t OutputFile(const char* path);

    CvString* GetErrorString() const;
    int32_t GetLogCount() const;

    const CvString& GetSourcePath() const { return m_sourcePath; }
    const CvString& GetOutputPath() const { return m_outputPath; }
    int32_t GetInstructionTableCount() const { return m_tableCount; }

private:
    void _loadDefinitionTables(const char* directory);

    DrsLexer* m_lexer;
    DrsParser* m_parser;
    CvString m_sourcePath;
    CvString m_outputPath;
    CvString m_definitionPath;
    int32_t m_tableCount;
    bool m_compiled; // the last compile succeeded
};

// The output path of a source path: the extension of the file name (from its
// last '.') replaced by ".bin", or ".bin" appended when the name has none.
LUMIVOR_EXPORT CvString DrsMakeOutputPath(const char* sourcePath);
