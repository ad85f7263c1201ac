#pragma once
// DrsLexer: turns Dresser script text into a doubly linked chain of tokens
// and keeps the symbol tables the whole compile shares.
//
// CreateToken scans a text with a chain of small scanners (comment,
// directive, name, number, operator, separator, string, blank); the first
// that consumes characters wins. Each token is checked against the one
// before it (the sequence rules) as it is added. Directives ("#include",
// "#instdef", "#define", "#name", "enum") are handled while scanning: a
// define name is replaced by its value text, an included file is scanned by
// a child lexer that shares this lexer's tables and token chain.
//
// Tables: the registered instructions (from definition trees), the modules
// the script declares, the defines and the include search paths. Each is a
// list in the order that decides which entry wins (first instruction of a
// name, newest define of a name), with a hash index beside it for lookups.
//
// Problems are reported to the process-wide log (DrsSetErrorInfo); most only
// report and let scanning go on, structural ones set the stop flag. Nothing
// throws; every token made before a failure stays in the chain until Clear.

#include "dresser/DrsCompileOption.h"
#include "dresser/DrsToken.h"
#include "dresser/LexFunctionList.h"
#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class AtrNode;
struct DrsLexTables;

enum : int32_t {
    DRS_NAME_MAX = 47,          // longest name of a script
    DRS_DEFINE_DEPTH_MAX = 64,  // nested define expansions
    DRS_INCLUDE_DEPTH_MAX = 32, // nested includes
};

class LUMIVOR_EXPORT DrsLexer : public CvkBase {
public:
    DrsLexer();
    ~DrsLexer() override;
    DrsLexer(const DrsLexer&) = delete;
    DrsLexer& operator=(const DrsLexer&) = delete;

    // Scans `text` (NUL-terminated) and appends its tokens, then the end
    // token unless errors were counted. 1 when the parenthesis, brace and
    // bracket depths are all 0 at the end or an error was counted, else 0.
    int32_t CreateToken(const char* text, const DrsCompileOption* option);
    // Adds a search path for "#include" and "#instdef" (newest first;
    // an equal path is not added twice). 0 for null or no memory.
    int32_t AddIncludePath(const char* path);
    // Registers the instructions of a definition tree; 0 when the tree is
    // null or has no children.
    int32_t RegistInstruction(AtrNode* tree);

    // Token walking. Both store the token's line in *line when given and
    // return null at the end of the chain.
    DrsToken* GetCurrentToken(uint16_t* line = nullptr) const;
    DrsToken* GetNextToken(uint16_t* line = nullptr);
    // True without a current token or at the end token.
    bool IsTokenEnd() const;
    uint32_t CheckCurrentTokenFlag(uint32_t mask) const;
    // Saves the current token on the token stack and makes `token` current.
    void PushCurrentToken(DrsToken* token);
    // Makes the token saved last current again and returns it (null when
    // none was saved; the current token is then unchanged).
    DrsToken* PopCurrentToken();

    // Token insertion; the new token takes the flags of its code. Null when
    // memory runs out.
    // After `after` (null: at the end of the chain), line 0.
    DrsToken* InsertTokenNext(DrsToken* after, uint16_t code, int32_t value, const char* text);
    // A copy of the model's code, flags, parameter and text, line 0.
    DrsToken* InsertTokenNext(DrsToken* after, const DrsToken* model);
    // Before `before` with its line; it becomes current when `before` was.
    DrsToken* InsertTokenPrev(DrsToken* before, uint16_t code, int32_t value, const char* text);

    // The first registered instruction with this code, or null.
    LexFunctionList* GetInstructionList(uint16_t code) const;
    // The first registered instruction of this name, or null.
    LexFunctionList* GetInstructionList(const char* name) const;
    // The module of this name; a null name gives the head of the module list.
    LexFunctionList* GetModuleList(const char* name) const;
    int32_t SetModuleCodePos(const char* name, uint32_t pos);
    uint16_t GetModuleCount() const;

    DrsToken* GetFirstToken() const { return m_first; }
    DrsToken* GetLastToken() const { return m_last; }
    DrsTokenStack* GetTokenStack() const { return m_stack; }
    uint16_t GetLine() const { return m_line; }
    int32_t GetFixedShift() const { return m_fixedShift; }
    // The value text of the newest define of `name`, or null.
    const char* GetDefine(const char* name) const;

    // Frees the tables (not in an include lexer), the tokens and the token
    // stack.
    void Clear();

private:
    friend struct DrsLexScan;
    // A child lexer for one included file: it shares the parent's tables
    // and appends to its token chain.
    DrsLexer(DrsLexer* parent);
    DrsToken* _newToken(uint16_t code, uint16_t line, int32_t value, const char* text);

    DrsLexer* m_parent;
    DrsLexTables* m_tables;      // owned unless this is an include lexer
    DrsTokenStack* m_stack;
    DrsToken* m_first;
    DrsToken* m_last;
    DrsToken* m_current;
    int32_t m_fixedShift;
    int32_t m_parenDepth;
    int32_t m_braceDepth;
    int32_t m_bracketDepth;
    int32_t m_stop;
    int32_t m_include;
    int32_t m_includeDepth;
    int32_t m_defineDepth;
    int32_t m_lineWarned;
    uint16_t m_line;
};
