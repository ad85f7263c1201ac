#pragma once
// DrsParser: turns the lexer's token chain into word code and writes the
// compiled script image (DrsScriptImage.h).
//
// The parser walks the chain once. Statements are dispatched on their first
// token (DrsParser.cpp); expressions are compiled to postfix code by operator
// precedence with a left and a right priority per operator (DrsParserExpr.cpp);
// code, the constant table and jump targets live in DrsParserCode.cpp; the
// image is written by DrsParserImage.cpp.
//
// Values that do not fit a word (32-bit integers, floats, fixed-point
// numbers, jump targets) go to one deduplicated table of 32-bit constants;
// texts go to a deduplicated string pool. Errors are reported through the
// process-wide log (DrsErrorInfo.h) and stop the compile: the first one sets
// the stop flag, and Compile returns 0.
//
// Nesting is bounded: at most DRS_PARSER_NEST_LIMIT - 1 constructs, blocks,
// calls and array indexes inside one another, and DRS_PARSER_SWITCH_LIMIT - 1
// switches; the machine stack therefore never limits what compiles.

#include "dresser/DrsScriptImage.h"
#include "dresser/PrsStrData.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>
#include <vector>

class DrsLexer;
class DrsToken;
class LexFunctionList;
class LexScopeVariant;
struct CvkScriptDebugInfo;
struct DrsCompileOption;

constexpr int32_t DRS_PARSER_NEST_LIMIT = 255;   // the 255th nested construct is refused
constexpr int32_t DRS_PARSER_SWITCH_LIMIT = 32;  // the 32nd nested switch is refused
constexpr int32_t DRS_PARSER_OPERAND_LIMIT = 8;  // pending operands of one expression
constexpr uint32_t DRS_PARSER_MAX_CONSTANTS = 65535;
constexpr uint32_t DRS_PARSER_MAX_MODULES = 65535;
constexpr int32_t DRS_PARSER_MAX_PARAMETERS = 255;
constexpr int32_t DRS_PARSER_MAX_INST_ARGS = 16;

// A module call whose callee's frame size is filled in at the end.
struct _prsModuleCallList {
    char name[49];     // callee, at most 48 characters
    uint32_t codePos;  // position of the call's frame-size word
    uint16_t argCount;
    uint16_t line;
};

// First index of each 32-bit constant pattern: open addressing, a power-of-
// two number of slots kept at most half full.
class PrsConstantIndex {
public:
    // The index stored for `bits`, or -1.
    int32_t Find(uint32_t bits) const;
    // Records `index` for `bits` unless the pattern is there already; false
    // when memory runs out.
    bool Insert(uint32_t bits, uint16_t index);
    void Clear();

private:
    static uint32_t _hash(uint32_t bits) { return (bits * 0x9E3779B1u) ^ (bits >> 15); }

    std::vector<uint32_t> m_keys;
    std::vector<uint32_t> m_values; // index + 1; 0 marks a free slot
    uint32_t m_count = 0;
};

// A growable array of code words from the main heap.
struct PrsWordBuffer {
    uint16_t* words = nullptr;
    uint32_t count = 0;
    uint32_t capacityBytes = 0;
};

class LUMIVOR_EXPORT DrsParser : public CvkBase {
public:
    DrsParser();
    ~DrsParser() override;
    DrsParser(const DrsParser&) = delete;
    DrsParser& operator=(const DrsParser&) = delete;

    // Frees the results of a previous compile and starts empty.
    void Init();
    // Compiles the lexer's tokens from its current token to the end token.
    // 1 on success; 0 on any error, for a null lexer and for an empty script.
    // debugRecord (may be null) is used when debug output is wanted.
    int32_t Compile(DrsLexer* lexer, const DrsCompileOption* option, const CvkScriptDebugInfo* debugRecord);

    // Bytes of the image of the last compile.
    uint32_t GetChunkSize() const;
    // Writes the image into buffer (GetChunkSize() bytes) or, for null, into
    // a new main-heap block the caller frees. Null on failure.
    void* OutputChunk(void* buffer);
    // Writes the image to a file; 1 on success.
    int32_t OutputFile(const char* path);

    // Results of the last compile (native order), for tests and tools.
    const DrsScriptHeader& GetHeader() const { return m_header; }
    const uint16_t* GetCode() const { return m_code.words; }
    uint32_t GetCodeCount() const { return m_code.count; }

private:
    struct Operator {
        uint16_t code;
        int8_t left;
        int8_t right;
    };
    struct SwitchLevel {
        uint32_t defaultWord;  // position of the default-target word
        uint32_t nextCase;     // position of the next free case pair
        uint32_t caseEnd;      // position after the last case pair
        int32_t braceDepth;    // depth of the body's top level
        bool hasDefault;
    };

    // ---- statements (DrsParser.cpp) ----
    void _statement();
    void _markLine(const DrsToken* token);
    void _keyword();
    void _separator();
    void _label();
    void _expressionStatement();
    void _ifStatement();
    void _whileStatement();
    void _loopStatement();
    void _switchStatement();
    void _caseLabel();
    void _defaultLabel();
    void _breakStatement();
    void _continueStatement();
    void _gotoStatement();
    void _returnStatement();
    void _synchStatement();
    void _moduleStatement();
    bool _moduleParameters(LexScopeVariant* scope);
    void _resolveGotos();
    void _declaration();
    void _localInitializer(uint16_t slot, uint16_t size, bool array);
    void _globalInitializer(uint16_t slot, uint16_t size, bool array);
    bool _globalConstant(uint16_t slot);
    bool _block();
    bool _condition(bool raiseConditionDepth);
    uint32_t _countCases(const DrsToken* open) const;
    // Nested statements and nested calls or indexes are counted apart.
    bool _enterNesting(int32_t* level);
    bool _enterNesting() { return _enterNesting(&m_nesting); }
    void _leaveNesting() { --m_nesting; }
    bool _pushConstruct(uint16_t keyword);
    void _popConstruct();
    void _resolvePendingCalls();
    void _fillHeader();

    // ---- expressions (DrsParserExpr.cpp) ----
    // Compiles one expression from the current token; `start` emits the
    // expression-start word first. Returns the code of the token that ended
    // it (';', ',', ']' consumed; ')' of an outer parenthesis not consumed),
    // or -1 after an error. With assignTo the expression is the right side of
    // an assignment to that operand (already emitted).
    int32_t _expression(bool start, bool endAtBrace = false, bool assignTo = false);
    int32_t _expressionToken(const DrsToken* first, bool endAtBrace, int32_t* operands);
    int32_t _closeExpression(uint16_t code, bool ends, int32_t operands, const DrsToken* t);
    bool _operand();
    bool _variable(const DrsToken* token);
    bool _arrayElement(const DrsToken* token);
    bool _moduleCall(const DrsToken* token);
    bool _instructionCall(const DrsToken* token);
    int32_t _arguments(const char* callee);
    bool _constantOperand(const DrsToken* token);
    bool _applyOperator(uint16_t code, int32_t* operands, const DrsToken* first);
    static Operator _priority(uint16_t code);

    // ---- code, constants and targets (DrsParserCode.cpp) ----
    void _emit(uint16_t word);
    void _emit2(uint16_t a, uint16_t b) { _emit(a); _emit(b); }
    // Reserves `count` zero words and returns the position of the first.
    uint32_t _reserve(uint32_t count);
    void _patch(uint32_t pos, uint16_t word);
    uint32_t _codePos() const { return m_code.count; }
    // Makes the buffer hold `words` more words (grows by the step).
    bool _ensure(PrsWordBuffer* buffer, uint32_t words);
    void _ensureStatementRoom();
    void _freeBuffer(PrsWordBuffer* buffer);
    // Index of a 32-bit value in the constant table (added when new).
    uint16_t _get32DataIndex(int32_t kind, int32_t sint, uint32_t uint, float real);
    uint16_t _targetIndex(uint32_t position) { return _get32DataIndex(1, 0, position, 0.0f); }
    // Writes a jump target word: the constant index of `position`.
    void _setTarget(uint32_t wordPos, uint32_t position) { _patch(wordPos, _targetIndex(position)); }
    uint16_t _stringIndex(const char* text);

    // ---- reporting ----
    void _fail(int32_t code, const DrsToken* token, const char* text = nullptr);
    void _failLine(int32_t code, uint16_t line, const char* text = nullptr);
    uint16_t _line(const DrsToken* token) const;

    // ---- token walking ----
    bool _atEnd() const;
    void _advance();
    bool _at(uint16_t code) const;
    bool _expect(uint16_t code, const char* text);
    void _trackDepth(uint16_t code);

    // ---- image (DrsParserImage.cpp) ----
    bool _wantDebugChunk() const;
    // Each writes at `out` (null: only counts) and returns the end offset.
    uint32_t _writeImage(uint8_t* out) const;
    uint32_t _writeScript(uint8_t* out) const;
    uint32_t _writeDebug(uint8_t* out, uint32_t at) const;

    DrsScriptHeader m_header;
    DrsLexer* m_lexer;
    LexScopeVariant* m_globalScope;
    LexScopeVariant* m_scope;
    uint32_t* m_constants;
    PrsStrData m_strings;
    PrsWordBuffer m_init;
    PrsWordBuffer m_code;
    SwitchLevel m_switch[DRS_PARSER_SWITCH_LIMIT];
    LexFunctionList* m_module;
    std::vector<_prsModuleCallList> m_pendingCalls;
    const CvkScriptDebugInfo* m_debug;
    DrsToken* m_token;
    int32_t m_parenDepth;
    int32_t m_braceDepth;
    int32_t m_bracketDepth;
    int32_t m_switchLevel;
    int32_t m_constructLevel;
    int32_t m_argDepth;
    int32_t m_conditionDepth;
    int32_t m_loopLevel;
    int32_t m_nesting;
    int32_t m_exprNesting;
    uint32_t m_constantCapacity; // bytes
    uint32_t m_constantCount;
    uint32_t m_warningFlags;
    bool m_stop;
    bool m_swap;                 // the endian target at Compile: swap on output
    uint16_t m_moduleCount;
    uint16_t m_constructStack[DRS_PARSER_NEST_LIMIT];
    uint16_t m_loopStack[DRS_PARSER_NEST_LIMIT];
    uint16_t m_lastStatement;
    uint16_t m_line;
    uint16_t m_lastMarkedLine;
    // First index of each constant bit pattern (target order).
    PrsConstantIndex m_constantIndex;
    // Operator stack shared by nested expressions (each keeps its base).
    std::vector<Operator> m_operators;
};
