// The parser's statements: dispatch on the first token of each statement,
// the structured statements, modules and declarations.
#include "dresser/DrsParser.h"

#include "dresser/DrsCompileOption.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsLexer.h"
#include "dresser/DrsToken.h"
#include "dresser/LexFunctionList.h"
#include "dresser/LexScopeVariant.h"
#include "kit/CvVariant.h"
#include "kit/CvkEndian.h"
#include "kit/CvkHeap.h"

#include <cstring>

namespace {

// Kinds of the last statement that the code after a body depends on, beside
// the statements' own keyword codes.
constexpr uint16_t kLastNone = 0xFFFF;
constexpr uint16_t kLastSwitchBreak = 0xFFFE; // break that left a switch
constexpr uint16_t kLastBareReturn = 0xFFFD;  // "return;"

} // namespace

DrsParser::DrsParser()
    : m_header(), m_lexer(nullptr), m_globalScope(nullptr), m_scope(nullptr), m_constants(nullptr),
      m_module(nullptr), m_debug(nullptr), m_token(nullptr)
{
    SetTag(0x44505352u); // "DPSR"
    Init();
}

DrsParser::~DrsParser()
{
    delete m_globalScope;
    t_cvkMainHeapFree(m_constants, __FILE__, __LINE__);
    _freeBuffer(&m_init);
    _freeBuffer(&m_code);
}

void DrsParser::Init()
{
    std::memset(&m_header, 0, sizeof m_header);
    m_header.version = DRS_SCRIPT_VERSION;
    m_header.alignment = DRS_SCRIPT_ALIGN;
    delete m_globalScope;
    m_globalScope = new LexScopeVariant(nullptr);
    if (m_globalScope == nullptr || m_globalScope->CheckError()) SetError();
    t_cvkMainHeapFree(m_constants, __FILE__, __LINE__);
    m_constants = nullptr;
    m_constantIndex.Clear();
    m_strings.Clear();
    _freeBuffer(&m_init);
    _freeBuffer(&m_code);
    m_pendingCalls.clear();
    m_operators.clear();
    m_lexer = nullptr;
    m_scope = nullptr;
    m_module = nullptr;
    m_debug = nullptr;
    m_token = nullptr;
    m_parenDepth = m_braceDepth = m_bracketDepth = 0;
    m_switchLevel = -1;
    m_constructLevel = -1;
    m_argDepth = m_conditionDepth = m_loopLevel = m_nesting = m_exprNesting = 0;
    m_constantCapacity = 0;
    m_constantCount = 0;
    m_warningFlags = 0;
    m_stop = false;
    m_swap = false;
    m_moduleCount = 0;
    m_lastStatement = kLastNone;
    m_line = 0;
    m_lastMarkedLine = 0;
}

int32_t DrsParser::Compile(DrsLexer* lexer, const DrsCompileOption* option, const CvkScriptDebugInfo* debugRecord)
{
    if (lexer == nullptr || CheckError()) return 0;
    Init();
    if (CheckError()) return 0;
    m_lexer = lexer;
    m_debug = debugRecord;
    m_warningFlags = option != nullptr ? option->warningFlags : 0;
    m_swap = CvkEndianGetTarget() == 1;
    m_token = lexer->GetCurrentToken(nullptr);
    if (_atEnd()) {
        _fillHeader();
        return 0;
    }
    try {
        m_operators.reserve(64);
        m_pendingCalls.reserve(64);
        while (!m_stop && !_atEnd()) {
            _ensureStatementRoom();
            _statement();
        }
        if (!m_stop && DrsGetErrorCount() <= 0) _resolvePendingCalls();
    } catch (...) {
        // Only the containers of the parser's own bookkeeping throw, when
        // memory runs out.
        SetError();
        _failLine(DRS_LOG_NO_MEMORY, m_line);
    }
    _fillHeader();
    return !m_stop && DrsGetErrorCount() <= 0 ? 1 : 0;
}

void DrsParser::_fillHeader()
{
    m_header.stringDataSize = m_strings.GetDataSize();
    m_header.moduleCount = m_moduleCount;
    m_header.globalSlotCount = m_globalScope != nullptr ? m_globalScope->GetVariantCount() : 0;
    m_header.constantCount = uint16_t(m_constantCount);
    m_header.stringCount = m_strings.GetCount();
    m_header.initializerCount = uint16_t(m_init.count / 3);
}

void DrsParser::_resolvePendingCalls()
{
    for (const _prsModuleCallList& call : m_pendingCalls) {
        const LexFunctionList* callee = m_lexer->GetModuleList(call.name);
        if (callee == nullptr) {
            _failLine(DRS_LOG_UNDEFINED_MODULE, call.line, call.name);
            continue;
        }
        if (call.argCount != callee->GetArgCount()) _failLine(DRS_LOG_ARG_COUNT, call.line, call.name);
        _patch(call.codePos, callee->GetVariantCount());
    }
}

// ---- token walking ----

bool DrsParser::_atEnd() const
{
    return m_token == nullptr || m_token->GetCode() == DRS_TOKEN_END;
}

bool DrsParser::_at(uint16_t code) const
{
    return m_token != nullptr && m_token->GetCode() == code;
}

void DrsParser::_trackDepth(uint16_t code)
{
    switch (code) {
    case DRS_TOKEN_LPAREN: ++m_parenDepth; break;
    case DRS_TOKEN_RPAREN: --m_parenDepth; break;
    case DRS_TOKEN_LBRACE: ++m_braceDepth; break;
    case DRS_TOKEN_RBRACE: --m_braceDepth; break;
    case DRS_TOKEN_LBRACKET: ++m_bracketDepth; break;
    case DRS_TOKEN_RBRACKET: --m_bracketDepth; break;
    default: break;
    }
}

// Consumes the current token; separators update the depths as they go.
void DrsParser::_advance()
{
    if (m_token == nullptr) return;
    _trackDepth(m_token->GetCode());
    m_token = m_token->GetNext();
    if (m_token != nullptr && m_token->GetLine() != 0) m_line = m_token->GetLine();
}

bool DrsParser::_expect(uint16_t code, const char* text)
{
    if (!_at(code)) {
        _fail(DRS_LOG_EXPECTED, m_token, text);
        return false;
    }
    _advance();
    return true;
}

bool DrsParser::_enterNesting(int32_t* level)
{
    if (++*level >= DRS_PARSER_NEST_LIMIT) {
        --*level;
        _fail(DRS_LOG_CONSTRUCT_DEPTH, m_token);
        return false;
    }
    return true;
}

bool DrsParser::_pushConstruct(uint16_t keyword)
{
    if (m_constructLevel + 1 >= DRS_PARSER_NEST_LIMIT - 1) {
        _fail(DRS_LOG_CONSTRUCT_DEPTH, m_token);
        return false;
    }
    m_constructStack[++m_constructLevel] = keyword;
    if (keyword != DRS_TOKEN_SWITCH) m_loopStack[m_loopLevel++] = keyword;
    return true;
}

void DrsParser::_popConstruct()
{
    if (m_constructStack[m_constructLevel--] != DRS_TOKEN_SWITCH) --m_loopLevel;
}

// ---- statements ----

void DrsParser::_markLine(const DrsToken* token)
{
    if (m_debug == nullptr || m_braceDepth < 1) return;
    const uint16_t code = token->GetCode();
    if (code >= DRS_TOKEN_LINE && code != DRS_TOKEN_BREAK && code != DRS_TOKEN_CONTINUE) return;
    const uint16_t line = token->GetLine();
    if (line <= m_lastMarkedLine) return;
    _emit2(DRS_TOKEN_LINE, line);
    m_lastMarkedLine = line;
}

// stat -> keyword statement | separator | expression ';' | label ':'
void DrsParser::_statement()
{
    const DrsToken* t = m_token;
    _markLine(t);
    if (t->CheckTokenFlag(DRS_TOKEN_FLAG_KEYWORD)) {
        _keyword();
    } else if (t->CheckTokenFlag(DRS_TOKEN_FLAG_SEPARATOR)) {
        _advance();
    } else if (t->CheckTokenFlag(DRS_TOKEN_FLAG_EXPRESSION)) {
        _expressionStatement();
    } else if (t->GetCode() == DRS_TOKEN_LABEL && m_module != nullptr) {
        _label();
    } else {
        _fail(DRS_LOG_SYNTAX, t);
    }
}

void DrsParser::_keyword()
{
    switch (m_token->GetCode()) {
    case DRS_TOKEN_IF: _ifStatement(); break;
    case DRS_TOKEN_SWITCH: _switchStatement(); break;
    case DRS_TOKEN_WHILE: _whileStatement(); break;
    case DRS_TOKEN_LOOP: _loopStatement(); break;
    case DRS_TOKEN_GOTO: _gotoStatement(); break;
    case DRS_TOKEN_RETURN: _returnStatement(); break;
    case DRS_TOKEN_SYNCH: _synchStatement(); break;
    case DRS_TOKEN_ELSE: _fail(DRS_LOG_ELSE_WITHOUT_IF, m_token); break;
    case DRS_TOKEN_CASE: _caseLabel(); break;
    case DRS_TOKEN_DEFAULT: _defaultLabel(); break;
    case DRS_TOKEN_VARIANT: _declaration(); break;
    case DRS_TOKEN_MODULE: _moduleStatement(); break;
    case DRS_TOKEN_BREAK: _breakStatement(); break;
    case DRS_TOKEN_CONTINUE: _continueStatement(); break;
    default: _fail(DRS_LOG_SYNTAX, m_token); break;
    }
}

void DrsParser::_label()
{
    const DrsToken* t = m_token;
    if (!m_module->AddLabel(t->GetString(), _codePos(), t->GetLine())) {
        _fail(DRS_LOG_SYNTAX, t);
        return;
    }
    _advance();
    if (_at(DRS_TOKEN_COLON)) _advance();
    m_lastStatement = DRS_TOKEN_LABEL;
}

void DrsParser::_expressionStatement()
{
    _expression(true);
    m_lastStatement = DRS_TOKEN_EXPR_START;
}

// '(' E ')' after a keyword; the condition is one expression.
bool DrsParser::_condition(bool raiseConditionDepth)
{
    if (!_expect(DRS_TOKEN_LPAREN, "(")) return false;
    if (_at(DRS_TOKEN_RPAREN)) {
        _fail(DRS_LOG_SYNTAX, m_token);
        return false;
    }
    if (raiseConditionDepth) ++m_conditionDepth;
    const int32_t end = _expression(true);
    if (raiseConditionDepth) --m_conditionDepth;
    if (end < 0) return false;
    if (end != DRS_TOKEN_RPAREN) {
        _fail(DRS_LOG_BAD_EXPRESSION, m_token);
        return false;
    }
    _advance();
    return true;
}

// block -> '{' { stat } '}'
bool DrsParser::_block()
{
    if (!_expect(DRS_TOKEN_LBRACE, "{")) return false;
    const int32_t depth = m_braceDepth;
    while (!m_stop) {
        if (_atEnd()) {
            _fail(DRS_LOG_SYNTAX, m_token);
            break;
        }
        if (_at(DRS_TOKEN_RBRACE) && m_braceDepth == depth) {
            _advance();
            return true;
        }
        _ensureStatementRoom();
        _statement();
    }
    return false;
}

// ifstat -> IF cond block [ELSE (ifstat | block)]
// An else-if chain is compiled in one loop: each if's end target and its
// closing jump wait on a list until the chain's last part is done.
void DrsParser::_ifStatement()
{
    if (!_enterNesting()) return;
    std::vector<uint32_t> endTargets;
    bool ok = true;
    for (;;) {
        _advance();
        if (!_condition(true)) {
            ok = false;
            break;
        }
        _emit(DRS_TOKEN_IF);
        const uint32_t targets = _reserve(2);
        if (!_block()) {
            ok = false;
            break;
        }
        _emit2(DRS_TOKEN_JUMP, DRS_JUMP_IF_END);
        _setTarget(targets, _codePos());
        endTargets.push_back(targets + 1);
        if (!_at(DRS_TOKEN_ELSE)) break;
        _advance();
        if (!_at(DRS_TOKEN_IF)) {
            ok = _block();
            break;
        }
        _markLine(m_token);
    }
    if (ok) {
        while (!endTargets.empty()) {
            _emit2(DRS_TOKEN_JUMP, DRS_JUMP_IF_END);
            _setTarget(endTargets.back(), _codePos());
            endTargets.pop_back();
        }
    }
    _leaveNesting();
    m_lastStatement = DRS_TOKEN_IF;
}

// whilestat -> WHILE cond block
void DrsParser::_whileStatement()
{
    if (!_enterNesting()) return;
    const uint32_t start = _codePos();
    _advance();
    if (_condition(false) && _pushConstruct(DRS_TOKEN_WHILE)) {
        _emit(DRS_TOKEN_WHILE);
        const uint32_t targets = _reserve(2);
        _setTarget(targets, start);
        if (_block()) {
            _emit2(DRS_TOKEN_JUMP, DRS_JUMP_LOOP_START);
            _setTarget(targets + 1, _codePos());
        }
        _popConstruct();
    }
    _leaveNesting();
    m_lastStatement = DRS_TOKEN_WHILE;
}

// The wait that ends each pass of a loop: synch(1).
static const uint16_t kLoopSynch[] = {DRS_TOKEN_EXPR_START, DRS_TOKEN_INT16, 1, DRS_TOKEN_SYNCH};

// loopstat -> LOOP block
void DrsParser::_loopStatement()
{
    if (!_enterNesting()) return;
    _advance();
    if (_pushConstruct(DRS_TOKEN_LOOP)) {
        _emit(DRS_TOKEN_LOOP);
        const uint32_t end = _reserve(1);
        if (_block()) {
            for (uint16_t w : kLoopSynch) _emit(w);
            _emit2(DRS_TOKEN_JUMP, DRS_JUMP_LOOP_START);
            _setTarget(end, _codePos());
        }
        _popConstruct();
    }
    _leaveNesting();
    m_lastStatement = DRS_TOKEN_LOOP;
}

// The case labels at the top level of the switch body that opens at `open`.
uint32_t DrsParser::_countCases(const DrsToken* open) const
{
    uint32_t cases = 0;
    int32_t depth = 0;
    for (const DrsToken* t = open; t != nullptr && t->GetCode() != DRS_TOKEN_END; t = t->GetNext()) {
        const uint16_t code = t->GetCode();
        if (code == DRS_TOKEN_LBRACE) {
            ++depth;
        } else if (code == DRS_TOKEN_RBRACE) {
            if (--depth == 0) break;
        } else if (code == DRS_TOKEN_CASE && depth == 1) {
            ++cases;
        }
    }
    return cases;
}

// switchstat -> SWITCH cond '{' { [CASE int ':' | DEFAULT ':'] stat } '}'
void DrsParser::_switchStatement()
{
    if (!_enterNesting()) return;
    _advance();
    if (!_condition(true)) {
        _leaveNesting();
        return;
    }
    const uint32_t cases = _countCases(m_token);
    if (!_at(DRS_TOKEN_LBRACE)) {
        _fail(DRS_LOG_EXPECTED, m_token, "{");
    } else if (m_switchLevel + 1 >= DRS_PARSER_SWITCH_LIMIT - 1) {
        _fail(DRS_LOG_SWITCH_DEPTH, m_token);
    } else if (cases > 0xFFFF) {
        _fail(DRS_LOG_SYNTAX, m_token);
    } else if (_pushConstruct(DRS_TOKEN_SWITCH)) {
        _emit(DRS_TOKEN_SWITCH);
        const uint32_t at = _reserve(3 + 2 * cases + 1);
        _patch(at + 2, uint16_t(cases));
        SwitchLevel& level = m_switch[++m_switchLevel];
        level.defaultWord = at + 1;
        level.nextCase = at + 3;
        level.caseEnd = at + 3 + 2 * cases;
        level.braceDepth = m_braceDepth + 1;
        level.hasDefault = false;
        m_lastStatement = kLastNone;
        if (_block()) {
            if (m_lastStatement != kLastSwitchBreak) _emit2(DRS_TOKEN_JUMP, DRS_JUMP_SWITCH_END);
            _setTarget(at, _codePos());
            if (!m_switch[m_switchLevel].hasDefault) _setTarget(at + 1, 0);
        }
        --m_switchLevel;
        _popConstruct();
    }
    _leaveNesting();
    m_lastStatement = DRS_TOKEN_SWITCH;
}

// Case labels belong to the top level of their switch's body: the case table
// was reserved for those alone.
void DrsParser::_caseLabel()
{
    const DrsToken* t = m_token;
    if (m_switchLevel < 0) {
        _fail(DRS_LOG_MISPLACED, t, "case");
        return;
    }
    SwitchLevel& level = m_switch[m_switchLevel];
    if (m_braceDepth != level.braceDepth || level.nextCase >= level.caseEnd) {
        _fail(DRS_LOG_SYNTAX, t);
        return;
    }
    _advance();
    if (!_at(DRS_TOKEN_INT16)) {
        _fail(DRS_LOG_CASE_VALUE, m_token);
        return;
    }
    const uint16_t value = uint16_t(m_token->GetParamS32());
    _advance();
    if (!_expect(DRS_TOKEN_COLON, ":")) return;
    _patch(level.nextCase, value);
    _setTarget(level.nextCase + 1, _codePos());
    level.nextCase += 2;
    m_lastStatement = DRS_TOKEN_CASE;
}

void DrsParser::_defaultLabel()
{
    if (m_switchLevel < 0) {
        _fail(DRS_LOG_MISPLACED, m_token, "default");
        return;
    }
    _advance();
    if (!_expect(DRS_TOKEN_COLON, ":")) return;
    SwitchLevel& level = m_switch[m_switchLevel];
    if (!level.hasDefault) {
        _setTarget(level.defaultWord, _codePos());
        level.hasDefault = true;
    }
    m_lastStatement = DRS_TOKEN_DEFAULT;
}

void DrsParser::_breakStatement()
{
    if (m_constructLevel < 0) {
        _fail(DRS_LOG_MISPLACED, m_token, "break");
        return;
    }
    _advance();
    if (!_expect(DRS_TOKEN_SEMICOLON, ";")) return;
    if (m_constructStack[m_constructLevel] == DRS_TOKEN_SWITCH) {
        _emit2(DRS_TOKEN_JUMP, DRS_JUMP_SWITCH_END);
        m_lastStatement = kLastSwitchBreak;
    } else {
        _emit2(DRS_TOKEN_JUMP, DRS_JUMP_LOOP_END);
        m_lastStatement = DRS_TOKEN_BREAK;
    }
}

void DrsParser::_continueStatement()
{
    if (m_loopLevel == 0) {
        _fail(DRS_LOG_CONTINUE_OUTSIDE, m_token);
        return;
    }
    _advance();
    if (!_expect(DRS_TOKEN_SEMICOLON, ";")) return;
    if (m_loopStack[m_loopLevel - 1] == DRS_TOKEN_LOOP)
        for (uint16_t w : kLoopSynch) _emit(w);
    _emit2(DRS_TOKEN_JUMP, DRS_JUMP_LOOP_START);
    m_lastStatement = DRS_TOKEN_CONTINUE;
}

// The target word waits on the module's goto list until the module ends.
void DrsParser::_gotoStatement()
{
    if (m_module == nullptr) {
        _fail(DRS_LOG_MISPLACED, m_token, "goto");
        return;
    }
    _advance();
    const DrsToken* target = m_token;
    if (!_at(DRS_TOKEN_GOTO_TARGET)) {
        _fail(DRS_LOG_SYNTAX, target);
        return;
    }
    _emit(DRS_TOKEN_GOTO);
    const uint32_t word = _reserve(1);
    if (!m_module->AddGoto(target->GetString(), word, target->GetLine())) {
        m_stop = true;
        return;
    }
    _advance();
    _expect(DRS_TOKEN_SEMICOLON, ";");
    m_lastStatement = DRS_TOKEN_GOTO;
}

void DrsParser::_resolveGotos()
{
    for (const _lexLabelList* g = m_module->GetGotoHead(); g != nullptr; g = g->next) {
        const _lexLabelList* label = m_module->GetLabelList(g->name);
        if (label == nullptr)
            _failLine(DRS_LOG_UNDEFINED_LABEL, g->line, g->name);
        else
            _setTarget(g->codePos, label->codePos);
    }
}

// retstat -> RETURN [E] ';'
void DrsParser::_returnStatement()
{
    _advance();
    if (_at(DRS_TOKEN_SEMICOLON)) {
        _advance();
        _emit(DRS_TOKEN_RETURN);
        m_lastStatement = kLastBareReturn;
        return;
    }
    if (!_atEnd() && (m_token->CheckTokenFlag(DRS_TOKEN_FLAG_EXPRESSION) || _at(DRS_TOKEN_LPAREN))) {
        const int32_t end = _expression(true);
        if (end < 0) return;
        if (end == DRS_TOKEN_SEMICOLON) {
            _emit(DRS_TOKEN_RETURN);
            m_lastStatement = DRS_TOKEN_RETURN;
            return;
        }
    }
    _fail(DRS_LOG_BAD_EXPRESSION, m_token);
}

// synchstat -> SYNCH '(' [E] ')' ';'   (no expression waits one frame)
void DrsParser::_synchStatement()
{
    _advance();
    if (!_expect(DRS_TOKEN_LPAREN, "(")) return;
    if (_at(DRS_TOKEN_RPAREN)) {
        for (int i = 0; i < 3; ++i) _emit(kLoopSynch[i]);
    } else {
        const int32_t end = _expression(true);
        if (end < 0) return;
        if (end != DRS_TOKEN_RPAREN) {
            _fail(DRS_LOG_BAD_EXPRESSION, m_token);
            return;
        }
    }
    _advance();
    _emit(DRS_TOKEN_SYNCH);
    _expect(DRS_TOKEN_SEMICOLON, ";");
    m_lastStatement = DRS_TOKEN_SYNCH;
}

// modulestat -> MODULE NAME '(' [NAME {',' NAME}] ')' block
void DrsParser::_moduleStatement()
{
    const DrsToken* keyword = m_token;
    if (m_braceDepth != 0) {
        _fail(DRS_LOG_MODULE_IN_BLOCK, keyword);
        return;
    }
    _advance();
    const DrsToken* name = m_token;
    if (!_at(DRS_TOKEN_MODULE_NAME)) {
        _fail(DRS_LOG_MODULE_NAME, keyword);
        return;
    }
    LexFunctionList* module = m_lexer->GetModuleList(name->GetString());
    LexScopeVariant* scope = module != nullptr && m_moduleCount < DRS_PARSER_MAX_MODULES ? module->CreateScopeVariant() : nullptr;
    if (scope != nullptr) {
        module->SetModuleCodePos(_codePos());
        m_module = module;
        m_scope = scope;
        m_lastStatement = DRS_TOKEN_MODULE;
        _advance();
        bool ok = _expect(DRS_TOKEN_LPAREN, "(") && _moduleParameters(scope) && _block();
        if (ok) {
            if (m_lastStatement != kLastBareReturn) _emit(DRS_TOKEN_RETURN);
            ++m_moduleCount;
            _resolveGotos();
        }
        if (!ok || m_stop) _fail(DRS_LOG_MODULE_FAILED, name);
    } else {
        if (module != nullptr && m_moduleCount < DRS_PARSER_MAX_MODULES) {
            SetError();
            DrsSetErrorInfo(DRS_LOG_NO_MEMORY, name->GetLine(), nullptr);
        }
        _fail(DRS_LOG_MODULE_FAILED, name);
    }
    m_module = nullptr;
    m_scope = nullptr;
    m_lastStatement = DRS_TOKEN_MODULE;
}

// Each parameter is a plain name and takes one slot, in order.
bool DrsParser::_moduleParameters(LexScopeVariant* scope)
{
    int32_t count = 0;
    for (;;) {
        if (_atEnd()) {
            _fail(DRS_LOG_PARAMETER_END, m_token);
            return false;
        }
        if (_at(DRS_TOKEN_RPAREN)) {
            _advance();
            break;
        }
        if (!_at(DRS_TOKEN_VAR) || count >= DRS_PARSER_MAX_PARAMETERS) return false;
        const char* name = m_token->GetString();
        if (scope->FindVariant(name) != nullptr) {
            _fail(DRS_LOG_DUPLICATE_NAME, m_token, name);
            return false;
        }
        if (scope->AddVariant(name, 1) == DRS_SLOT_NONE) return false;
        ++count;
        _advance();
        if (_at(DRS_TOKEN_COMMA)) _advance();
    }
    m_module->SetArgCount(uint8_t(count));
    return true;
}

// decl -> VARIANT NAME ['[' N ']'] ['=' (E | '{' E {',' E} '}')] ';'
void DrsParser::_declaration()
{
    const DrsToken* keyword = m_token;
    const bool global = m_braceDepth == 0;
    LexScopeVariant* scope = global ? m_globalScope : m_scope;
    _advance();
    const DrsToken* name = m_token;
    if (scope == nullptr || !(_at(DRS_TOKEN_DECL_VAR) || _at(DRS_TOKEN_DECL_ARRAY))) {
        _fail(DRS_LOG_BAD_DECLARATION, keyword);
        return;
    }
    const bool array = _at(DRS_TOKEN_DECL_ARRAY);
    _advance();
    uint32_t size = 1;
    if (array) {
        if (!_at(DRS_TOKEN_LBRACKET)) return _fail(DRS_LOG_BAD_DECLARATION, keyword);
        _advance();
        if (!_at(DRS_TOKEN_INT16) && !_at(DRS_TOKEN_INT32)) return _fail(DRS_LOG_BAD_DECLARATION, keyword);
        const int32_t n = m_token->GetParamS32();
        if (n < 1 || n > DRS_SLOT_LIMIT) return _fail(DRS_LOG_BAD_DECLARATION, keyword);
        size = uint32_t(n);
        _advance();
        if (!_at(DRS_TOKEN_RBRACKET)) return _fail(DRS_LOG_BAD_DECLARATION, keyword);
        _advance();
    }
    if (scope->GetVariantId(name->GetString()) != DRS_SLOT_NONE)
        return _fail(DRS_LOG_DUPLICATE_NAME, name, name->GetString());
    const uint16_t slot = scope->AddVariant(name->GetString(), uint16_t(size));
    if (slot == DRS_SLOT_NONE) {
        if (scope->CheckError()) SetError();
        return _fail(scope->CheckError() ? DRS_LOG_NO_MEMORY : DRS_LOG_BAD_DECLARATION, keyword);
    }
    if (_at(DRS_TOKEN_SEMICOLON)) {
        _advance();
        m_lastStatement = DRS_TOKEN_VARIANT;
        return;
    }
    if (!_at(DRS_TOKEN_ASSIGN)) return _fail(DRS_LOG_BAD_DECLARATION, m_token);
    const uint16_t line = m_token->GetLine();
    _advance();
    if (global) {
        _globalInitializer(slot, uint16_t(size), array);
    } else {
        if (m_debug != nullptr && line > m_lastMarkedLine) {
            _emit2(DRS_TOKEN_LINE, line);
            m_lastMarkedLine = line;
        }
        _localInitializer(slot, uint16_t(size), array);
    }
    m_lastStatement = DRS_TOKEN_VARIANT;
}

// A local initializer compiles as the assignments it stands for:
// NAME = E;  or  NAME[0] = E0; NAME[1] = E1; ...
void DrsParser::_localInitializer(uint16_t slot, uint16_t size, bool array)
{
    if (!array) {
        _emit(DRS_TOKEN_EXPR_START);
        _emit2(DRS_TOKEN_VAR, slot);
        const int32_t end = _expression(false, false, true);
        if (end >= 0 && end != DRS_TOKEN_SEMICOLON) _fail(DRS_LOG_BAD_DECLARATION, m_token);
        return;
    }
    if (!_at(DRS_TOKEN_LBRACE)) return _fail(DRS_LOG_BAD_DECLARATION, m_token);
    _advance();
    int32_t end = DRS_TOKEN_COMMA;
    if (_at(DRS_TOKEN_RBRACE)) {
        _advance();
        end = DRS_TOKEN_RBRACE;
    }
    for (uint32_t i = 0; end == DRS_TOKEN_COMMA; ++i) {
        if (i >= size) return _fail(DRS_LOG_BAD_DECLARATION, m_token);
        static const uint16_t head[] = {DRS_TOKEN_EXPR_START, DRS_TOKEN_LIST_START, DRS_TOKEN_EXPR_START,
                                        DRS_TOKEN_INT16};
        for (uint16_t w : head) _emit(w);
        _emit(uint16_t(i));
        _emit2(DRS_TOKEN_ARRAY, slot);
        end = _expression(false, true, true);
        if (end < 0) return;
    }
    if (end != DRS_TOKEN_RBRACE) return _fail(DRS_LOG_BAD_DECLARATION, m_token);
    if (!_expect(DRS_TOKEN_SEMICOLON, ";")) return;
}

// Global initializers are data for the loader, not code: each element must be
// a single constant.
void DrsParser::_globalInitializer(uint16_t slot, uint16_t size, bool array)
{
    if (!array) {
        if (_globalConstant(slot) && !_expect(DRS_TOKEN_SEMICOLON, ";")) return;
        return;
    }
    if (!_at(DRS_TOKEN_LBRACE)) return _fail(DRS_LOG_BAD_DECLARATION, m_token);
    _advance();
    for (uint32_t i = 0; !_at(DRS_TOKEN_RBRACE); ++i) {
        if (i >= size) return _fail(DRS_LOG_BAD_DECLARATION, m_token);
        if (!_globalConstant(uint16_t(slot + i))) return;
        if (_at(DRS_TOKEN_COMMA)) {
            _advance();
        } else if (!_at(DRS_TOKEN_RBRACE)) {
            return _fail(DRS_LOG_BAD_INITIALIZER, m_token);
        }
    }
    _advance();
    _expect(DRS_TOKEN_SEMICOLON, ";");
}

bool DrsParser::_globalConstant(uint16_t slot)
{
    const DrsToken* t = m_token;
    const DrsToken* next = t != nullptr ? t->GetNext() : nullptr;
    const uint16_t after = next != nullptr ? next->GetCode() : uint16_t(DRS_TOKEN_END);
    const bool single = after == DRS_TOKEN_SEMICOLON || after == DRS_TOKEN_COMMA || after == DRS_TOKEN_RBRACE;
    const uint16_t kind = t != nullptr ? t->GetCode() : uint16_t(DRS_TOKEN_END);
    if (!single || kind < DRS_TOKEN_INT16 || kind > DRS_TOKEN_STRING) {
        _fail(DRS_LOG_BAD_INITIALIZER, t);
        return false;
    }
    uint16_t value = 0;
    switch (kind) {
    case DRS_TOKEN_INT16: value = uint16_t(t->GetParamS32()); break;
    case DRS_TOKEN_INT32: value = _get32DataIndex(CVK_VARIANT_TYPE_SINT, t->GetParamS32(), 0, 0.0f); break;
    case DRS_TOKEN_FLOAT: value = _get32DataIndex(CVK_VARIANT_TYPE_FLOAT, 0, 0, t->GetParamF32()); break;
    case DRS_TOKEN_FIXED: value = _get32DataIndex(CVK_VARIANT_TYPE_FIXED, t->GetParamS32(), 0, 0.0f); break;
    default: value = _stringIndex(t->GetString()); break;
    }
    if (m_stop || !_ensure(&m_init, 3)) {
        if (!m_stop) _fail(DRS_LOG_BAD_INITIALIZER, t);
        return false;
    }
    m_init.words[m_init.count++] = slot;
    m_init.words[m_init.count++] = kind;
    m_init.words[m_init.count++] = value;
    _advance();
    return true;
}
