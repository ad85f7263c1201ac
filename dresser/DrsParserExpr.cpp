// Expressions: operator precedence with a left and a right priority per
// operator, compiled to postfix word code; operands, calls and array elements.
#include "dresser/DrsParser.h"

#include "dresser/DrsCompileOption.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsLexer.h"
#include "dresser/DrsToken.h"
#include "dresser/LexFunctionList.h"
#include "dresser/LexScopeVariant.h"
#include "kit/CvVariant.h"

#include <cstring>

// Priorities (left, right). An operator on the stack is applied while its
// left priority exceeds the right priority of the incoming token, so equal
// pairs with left > right associate to the left and '=' (1, 2) to the right.
// The language's own order: '<<' and '>>' bind as strongly as the unary
// operators, '&' and '|' more weakly than comparisons, '&&' and '||' share
// one level. Tokens that cannot stand in an expression get (-1, -1).
DrsParser::Operator DrsParser::_priority(uint16_t code)
{
    switch (code) {
    case DRS_TOKEN_ASSIGN: return {code, 1, 2};
    case DRS_TOKEN_LAND:
    case DRS_TOKEN_LOR: return {code, 4, 3};
    case DRS_TOKEN_AND:
    case DRS_TOKEN_OR: return {code, 6, 5};
    case DRS_TOKEN_LT:
    case DRS_TOKEN_GT:
    case DRS_TOKEN_EQ:
    case DRS_TOKEN_NE:
    case DRS_TOKEN_LE:
    case DRS_TOKEN_GE: return {code, 8, 7};
    case DRS_TOKEN_ADD:
    case DRS_TOKEN_SUB: return {code, 10, 9};
    case DRS_TOKEN_MUL:
    case DRS_TOKEN_DIV:
    case DRS_TOKEN_MOD: return {code, 12, 11};
    case DRS_TOKEN_INC:
    case DRS_TOKEN_DEC: return {code, 14, 13};
    case DRS_TOKEN_NOT:
    case DRS_TOKEN_NEG:
    case DRS_TOKEN_PLUS:
    case DRS_TOKEN_SHL:
    case DRS_TOKEN_SHR: return {code, 16, 15};
    case DRS_TOKEN_LPAREN: return {code, 0, 18};
    case DRS_TOKEN_RPAREN: return {code, 17, 0};
    default: return {code, -1, -1};
    }
}

namespace {

// What one token of an expression answers while the expression goes on.
constexpr int32_t EXPRESSION_GOES_ON = -2;

} // namespace

// expr -> operands and operators up to ';', ',', ']' (consumed) or the ')'
// of an enclosing parenthesis (left in place); with endAtBrace also '}'
// (consumed), for the elements of an initializer list.
int32_t DrsParser::_expression(bool start, bool endAtBrace, bool assignTo)
{
    if (!_enterNesting(&m_exprNesting)) return -1;
    const DrsToken* first = m_token;
    if (start) _emit(DRS_TOKEN_EXPR_START);
    const size_t base = m_operators.size();
    m_operators.push_back({DRS_TOKEN_NONE, 0, 0});
    int32_t operands = 0;
    if (assignTo) {
        operands = 1;
        m_operators.push_back(_priority(DRS_TOKEN_ASSIGN));
    }
    int32_t result = EXPRESSION_GOES_ON;
    while (result == EXPRESSION_GOES_ON && !m_stop) {
        if (_atEnd()) {
            _fail(DRS_LOG_BAD_EXPRESSION, first);
        } else {
            result = _expressionToken(first, endAtBrace, &operands);
        }
    }
    m_operators.resize(base);
    --m_exprNesting;
    return m_stop ? -1 : result;
}

// One token of an expression: an operand, an operator (once those on the
// stack that bind more strongly are applied) or a closing token. Returns
// EXPRESSION_GOES_ON, the code of the token that ended the expression, or -1
// when it failed.
int32_t DrsParser::_expressionToken(const DrsToken* first, bool endAtBrace, int32_t* operands)
{
    const DrsToken* t = m_token;
    const uint16_t code = t->GetCode();
    if (t->CheckTokenFlag(DRS_TOKEN_FLAG_OPERAND)) {
        if (!_operand()) return -1;
        if (++*operands > DRS_PARSER_OPERAND_LIMIT) {
            _fail(DRS_LOG_EXPRESSION_DEPTH, first);
            return -1;
        }
        return EXPRESSION_GOES_ON;
    }
    if (code == DRS_TOKEN_SEMICOLON && m_argDepth > 0) {
        _fail(DRS_LOG_SEMICOLON_IN_ARGS, t);
        return -1;
    }
    if (code == DRS_TOKEN_COLON) {
        _fail(DRS_LOG_MISPLACED, t, ":");
        return -1;
    }
    const bool ends = code == DRS_TOKEN_SEMICOLON || code == DRS_TOKEN_COMMA || code == DRS_TOKEN_RBRACKET ||
                      (endAtBrace && code == DRS_TOKEN_RBRACE);
    const Operator op = ends ? Operator{code, -1, 0} : _priority(code);
    if (op.right < 0) {
        _fail(DRS_LOG_BAD_EXPRESSION, t);
        return -1;
    }
    while (m_operators.back().left > op.right && !m_stop) {
        const Operator top = m_operators.back();
        m_operators.pop_back();
        _applyOperator(top.code, operands, t);
    }
    if (m_stop) return -1;
    if (op.right > 0) {
        m_operators.push_back(op);
        _advance();
        return EXPRESSION_GOES_ON;
    }
    return _closeExpression(code, ends, *operands, t);
}

// A closing token: it closes a parenthesis of this expression, or ends the
// expression once only the sentinel is left.
int32_t DrsParser::_closeExpression(uint16_t code, bool ends, int32_t operands, const DrsToken* t)
{
    if (m_operators.back().code == DRS_TOKEN_LPAREN) {
        if (code != DRS_TOKEN_RPAREN) {
            _fail(DRS_LOG_BAD_EXPRESSION, t);
            return -1;
        }
        m_operators.pop_back();
        _advance();
        return EXPRESSION_GOES_ON;
    }
    if (operands != 1) {
        _fail(DRS_LOG_BAD_EXPRESSION, t);
        return -1;
    }
    if (ends) _advance();
    return code;
}

// Emits an operator taken from the stack. A binary operator needs two
// values, a unary one one; anything less would unbalance the runtime's
// value stack.
bool DrsParser::_applyOperator(uint16_t code, int32_t* operands, const DrsToken* at)
{
    const bool unary = code == DRS_TOKEN_NOT || code == DRS_TOKEN_NEG || code == DRS_TOKEN_INC ||
                       code == DRS_TOKEN_DEC || code == DRS_TOKEN_PLUS;
    const int32_t needed = unary ? 1 : 2;
    if (*operands < needed) {
        _fail(DRS_LOG_BAD_EXPRESSION, at);
        return false;
    }
    *operands -= needed - 1;
    if (code == DRS_TOKEN_ASSIGN && m_conditionDepth > 0) {
        if ((m_warningFlags & DRS_WARNING_ASSIGN_IN_CONDITION) == 0) {
            _fail(DRS_LOG_ASSIGN_IN_CONDITION, at);
            return false;
        }
        DrsSetErrorInfo(DRS_LOG_ASSIGN_WARNING, _line(at), nullptr);
    }
    if (code != DRS_TOKEN_PLUS) _emit(code);
    return true;
}

bool DrsParser::_operand()
{
    const DrsToken* t = m_token;
    switch (t->GetCode()) {
    case DRS_TOKEN_VAR: return _variable(t);
    case DRS_TOKEN_ARRAY: return _arrayElement(t);
    case DRS_TOKEN_MODULE_CALL: return _moduleCall(t);
    case DRS_TOKEN_INST_CALL: return _instructionCall(t);
    default: return _constantOperand(t);
    }
}

// Short integers stand in the code; other numbers go to the constant table,
// texts to the string pool.
bool DrsParser::_constantOperand(const DrsToken* t)
{
    const uint16_t code = t->GetCode();
    uint16_t value = 0;
    switch (code) {
    case DRS_TOKEN_INT16: value = uint16_t(t->GetParamS32()); break;
    case DRS_TOKEN_INT32: value = _get32DataIndex(CVK_VARIANT_TYPE_SINT, t->GetParamS32(), 0, 0.0f); break;
    case DRS_TOKEN_FLOAT: value = _get32DataIndex(CVK_VARIANT_TYPE_FLOAT, 0, 0, t->GetParamF32()); break;
    case DRS_TOKEN_FIXED: value = _get32DataIndex(CVK_VARIANT_TYPE_FIXED, t->GetParamS32(), 0, 0.0f); break;
    case DRS_TOKEN_STRING: value = _stringIndex(t->GetString()); break;
    default: _fail(DRS_LOG_BAD_EXPRESSION, t); return false;
    }
    _emit2(code, value);
    _advance();
    return !m_stop;
}

// A name is looked up in the module's scope first, then among the globals.
bool DrsParser::_variable(const DrsToken* t)
{
    const char* name = t->GetString();
    const uint16_t local = m_scope != nullptr ? m_scope->GetVariantId(name) : uint16_t(DRS_SLOT_NONE);
    if (local != DRS_SLOT_NONE) {
        _emit2(DRS_TOKEN_VAR, local);
    } else {
        const uint16_t global = m_globalScope->GetVariantId(name);
        if (global == DRS_SLOT_NONE) {
            _fail(DRS_LOG_UNDEFINED_VARIABLE, t, name);
            return false;
        }
        _emit2(DRS_TOKEN_GLOBAL_VAR, global);
    }
    _advance();
    return true;
}

// element -> NAME '[' E ']'  compiles to 40, E, 37 (or 39) slot.
bool DrsParser::_arrayElement(const DrsToken* t)
{
    const char* name = t->GetString();
    const uint16_t local = m_scope != nullptr ? m_scope->GetVariantId(name) : uint16_t(DRS_SLOT_NONE);
    const uint16_t global = local == DRS_SLOT_NONE ? m_globalScope->GetVariantId(name) : uint16_t(DRS_SLOT_NONE);
    if (m_module == nullptr || (local == DRS_SLOT_NONE && global == DRS_SLOT_NONE)) {
        _fail(DRS_LOG_UNDEFINED_VARIABLE, t, name);
        return false;
    }
    _advance();
    if (!_expect(DRS_TOKEN_LBRACKET, "[")) return false;
    _emit(DRS_TOKEN_LIST_START);
    const int32_t end = _expression(true);
    if (end < 0) return false;
    if (end != DRS_TOKEN_RBRACKET) {
        _fail(DRS_LOG_BAD_EXPRESSION, m_token);
        return false;
    }
    if (local != DRS_SLOT_NONE)
        _emit2(DRS_TOKEN_ARRAY, local);
    else
        _emit2(DRS_TOKEN_GLOBAL_ARRAY, global);
    return true;
}

// call -> 42 frame 40 {44 E 43 i} 29 module. The callee's frame size is
// known once every module has been compiled: the word waits on the pending
// call list.
bool DrsParser::_moduleCall(const DrsToken* t)
{
    const char* name = t->GetString();
    const LexFunctionList* callee = m_lexer->GetModuleList(name);
    if (callee == nullptr) {
        _fail(DRS_LOG_UNDEFINED_MODULE, t, name);
        return false;
    }
    _emit(DRS_TOKEN_CALL_START);
    const uint32_t frame = _reserve(1);
    _emit(DRS_TOKEN_LIST_START);
    _advance();
    const int32_t count = _arguments(name);
    if (count < 0) return false;
    _emit2(DRS_TOKEN_MODULE_CALL, callee->GetFunctionCode());
    _prsModuleCallList call;
    std::strncpy(call.name, name, sizeof call.name - 1);
    call.name[sizeof call.name - 1] = '\0';
    call.codePos = frame;
    call.argCount = uint16_t(count);
    call.line = t->GetLine();
    m_pendingCalls.push_back(call);
    return true;
}

// call -> 42 argc 40 {44 E 43 i} 30 instruction
bool DrsParser::_instructionCall(const DrsToken* t)
{
    const char* name = t->GetString();
    const uint16_t code = uint16_t(t->GetParamS32());
    const LexFunctionList* instruction = m_lexer->GetInstructionList(name);
    _emit(DRS_TOKEN_CALL_START);
    const uint32_t argc = _reserve(1);
    _emit(DRS_TOKEN_LIST_START);
    _advance();
    const int32_t count = _arguments(name);
    if (count < 0) return false;
    if (count > DRS_PARSER_MAX_INST_ARGS || instruction == nullptr || !instruction->CheckArgCount(count)) {
        _fail(DRS_LOG_ARG_COUNT, t, name);
        return false;
    }
    _patch(argc, uint16_t(count));
    _emit2(DRS_TOKEN_INST_CALL, code);
    return true;
}

// args -> '(' [E {',' E}] ')'; each argument is closed by 43 and its index.
int32_t DrsParser::_arguments(const char* callee)
{
    if (!_expect(DRS_TOKEN_LPAREN, "(")) return -1;
    if (_at(DRS_TOKEN_RPAREN)) {
        _advance();
        return 0;
    }
    ++m_argDepth;
    int32_t count = 0;
    for (;;) {
        const int32_t end = _expression(true);
        if (end < 0) break;
        if (count > DRS_PARSER_MAX_PARAMETERS) {
            _fail(DRS_LOG_ARG_COUNT, m_token, callee);
            break;
        }
        _emit2(DRS_TOKEN_ARG_END, uint16_t(count++));
        if (end == DRS_TOKEN_COMMA) continue;
        if (end == DRS_TOKEN_RPAREN) {
            _advance();
        } else {
            _fail(DRS_LOG_BAD_EXPRESSION, m_token);
        }
        break;
    }
    --m_argDepth;
    return m_stop ? -1 : count;
}
