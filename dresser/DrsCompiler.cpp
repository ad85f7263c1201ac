// The script compiler driver: definition tables, file rules and the two
// compile calls around the lexer and the parser.
#include "dresser/DrsCompiler.h"

#include "attribute/AtrNode.h"
#include "attribute/AtrUtil.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsLexer.h"
#include "dresser/DrsParser.h"
#include "kit/CvkFile.h"
#include "kit/CvkHeap.h"

#include <cstring>

DrsCompiler::DrsCompiler() : DrsCompiler(nullptr, 1) {}

DrsCompiler::DrsCompiler(const char* directory, int32_t loadTables)
    : m_lexer(new DrsLexer()), m_parser(new DrsParser()), m_tableCount(0), m_compiled(false)
{
    SetTag(0x42415345u); // "BASE"
    if (m_lexer == nullptr || m_lexer->CheckError() || m_parser == nullptr || m_parser->CheckError()) SetError();
    DrsInitErrorInfo(directory);
    if (directory != nullptr && loadTables != 0 && !CheckError()) _loadDefinitionTables(directory);
}

DrsCompiler::~DrsCompiler()
{
    DrsExitErrorInfo();
    delete m_parser;
    delete m_lexer;
}

// The binary table first; the text table only when the binary one cannot be
// registered.
void DrsCompiler::_loadDefinitionTables(const char* directory)
{
    m_definitionPath = directory;
    m_definitionPath += DRS_INSTRUCTION_BIN_NAME;
    if (AddInstructionTable(nullptr, 1)) return;
    m_definitionPath = directory;
    m_definitionPath += DRS_INSTRUCTION_DEF_NAME;
    AddInstructionTable(nullptr, 0);
}

int32_t DrsCompiler::AddInstructionTable(const char* path, int32_t binary)
{
    if (m_lexer == nullptr) return 0;
    const char* file = path != nullptr ? path : m_definitionPath.GetBuffer();
    if (file == nullptr || file[0] == '\0') return 0;
    AtrNode* tree = binary != 0 ? AtrUtilCreateFromBinary(file) : AtrUtilCreateFromText(file);
    if (tree == nullptr) return 0;
    const int32_t ok = m_lexer->RegistInstruction(tree);
    AtrNodeDestroyChain(tree);
    if (ok) ++m_tableCount;
    return ok;
}

int32_t DrsCompiler::AddIncludePath(const char* path)
{
    return m_lexer != nullptr ? m_lexer->AddIncludePath(path) : 0;
}

CvString DrsMakeOutputPath(const char* sourcePath)
{
    if (sourcePath == nullptr) return CvString();
    const char* name = sourcePath;
    for (const char* p = sourcePath; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    const char* dot = std::strrchr(name, '.');
    CvString out(sourcePath, dot != nullptr ? int32_t(dot - sourcePath) : int32_t(std::strlen(sourcePath)));
    if (dot == sourcePath) out = CvString();
    out += DRS_OUTPUT_EXTENSION;
    return out;
}

int32_t DrsCompiler::CompileFile(const char* path, const DrsCompileOption* option)
{
    m_compiled = false;
    if (CheckError() || path == nullptr || path[0] == '\0') {
        DrsSetErrorInfo(DRS_LOG_NO_SOURCE, 0, path);
        return 0;
    }
    m_sourcePath = path;
    m_outputPath = DrsMakeOutputPath(path);
    if (std::strcmp(m_outputPath.GetBuffer(), path) == 0) {
        DrsSetErrorInfo(DRS_LOG_NO_SOURCE, 0, path);
        return 0;
    }
    CvkFile file(path);
    const uint32_t size = file.GetSize();
    char* text = size != 0 ? static_cast<char*>(t_cvkMainHeapAlloc(size + 1, 0, __FILE__, __LINE__)) : nullptr;
    if (text == nullptr || !file.ReadFile(text, 0, size)) {
        t_cvkMainHeapFree(text, __FILE__, __LINE__);
        DrsSetErrorInfo(size != 0 && text == nullptr ? DRS_LOG_NO_MEMORY : DRS_LOG_NO_SOURCE, 0, path);
        return 0;
    }
    text[size] = '\0';
    const int32_t ok = CompileText(text, option, nullptr);
    t_cvkMainHeapFree(text, __FILE__, __LINE__);
    return ok;
}

int32_t DrsCompiler::CompileText(const char* text, const DrsCompileOption* option, const CvkScriptDebugInfo* debugRecord)
{
    m_compiled = false;
    if (CheckError() || text == nullptr) return 0;
    m_lexer->CreateToken(text, option);
    if (DrsGetErrorCount() > 0) return 0;
    const bool debug = option != nullptr && option->debug != 0;
    m_parser->Compile(m_lexer, option, debug ? debugRecord : nullptr);
    m_compiled = DrsGetErrorCount() < 1;
    return m_compiled ? 1 : 0;
}

int32_t DrsCompiler::CheckCompileError() const
{
    return DrsGetErrorCount() > 0 ? 1 : 0;
}

uint32_t DrsCompiler::GetChunkSize() const
{
    return m_parser != nullptr ? m_parser->GetChunkSize() : 0;
}

void* DrsCompiler::GetChunk(void* buffer)
{
    return m_parser != nullptr && buffer != nullptr && m_compiled ? m_parser->OutputChunk(buffer) : nullptr;
}

int32_t DrsCompiler::OutputFile(const char* path)
{
    if (m_parser == nullptr || !m_compiled) return 0;
    if (path != nullptr) m_outputPath = path;
    const char* out = m_outputPath.GetBuffer();
    if (out == nullptr || out[0] == '\0') return 0;
    if (m_sourcePath.GetLength() > 0 && std::strcmp(out, m_sourcePath.GetBuffer()) == 0) {
        DrsSetErrorInfo(DRS_LOG_NO_SOURCE, 0, out);
        return 0;
    }
    return m_parser->OutputFile(out);
}

CvString* DrsCompiler::GetErrorString() const
{
    return DrsGetErrorLog();
}

int32_t DrsCompiler::GetLogCount() const
{
    return DrsGetLogCount();
}
