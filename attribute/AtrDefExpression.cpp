// The value of an enumerator: the value text cut into tokens, the tokens
// combined by C's precedence with an operand and an operator stack.
#include "attribute/AtrDefAnalyzer.h"

#include "kit/CvkHeap.h"
#include "kit/CvkStringScan.h"

#include <cstring>

namespace {

bool IsNameStart(char ch)
{
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '_';
}

bool IsNameChar(char ch)
{
    return IsNameStart(ch) || (ch >= '0' && ch <= '9');
}

int32_t DigitValue(char ch)
{
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    if (ch >= 'a' && ch <= 'f') {
        return ch - 'a' + 10;
    }
    if (ch >= 'A' && ch <= 'F') {
        return ch - 'A' + 10;
    }
    return 99;
}

// The operators of one or two characters. Anything else that C has but a
// constant of ours must not hold (=, ==, <=, &&, a lone < ...) is refused.
struct OperatorText {
    const char* text;
    int32_t type;
};

constexpr OperatorText kOperatorTexts[] = {
    {"<<", ATRD_TYPE_SHL}, {">>", ATRD_TYPE_SHR}, {"+", ATRD_TYPE_ADD},   {"-", ATRD_TYPE_SUB},
    {"*", ATRD_TYPE_MUL},  {"/", ATRD_TYPE_DIV},  {"%", ATRD_TYPE_MOD},   {"&", ATRD_TYPE_AND},
    {"|", ATRD_TYPE_OR},   {"^", ATRD_TYPE_XOR},  {"~", ATRD_TYPE_COMPL}, {"!", ATRD_TYPE_NOT},
    {"(", ATRD_TYPE_OPEN}, {")", ATRD_TYPE_CLOSE},
};

// The operator at p and its length; 0 when none (or one we refuse).
size_t MatchOperator(const char* p, int32_t* type)
{
    // Comparisons, assignments and logical operators are no values of ours.
    if ((p[0] == '=' || p[0] == '!' || p[0] == '<' || p[0] == '>') && p[1] == '=') {
        return 0;
    }
    if ((p[0] == '&' && p[1] == '&') || (p[0] == '|' && p[1] == '|')) {
        return 0;
    }
    if ((p[0] == '<' && p[1] == '<' && p[2] == '=') || (p[0] == '>' && p[1] == '>' && p[2] == '=')) {
        return 0;
    }
    for (const OperatorText& op : kOperatorTexts) {
        const size_t n = strlen(op.text);
        if (strncmp(p, op.text, n) == 0) {
            *type = op.type;
            return n;
        }
    }
    return 0;
}

// A C integer literal at [p, end): the cursor behind it, or null when C
// would not give it a 32-bit int or unsigned int.
const char* ScanNumber(const char* p, const char* end, AtrDefToken* token)
{
    uint32_t base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    const char* digits = p;
    uint64_t value = 0;
    while (p < end && static_cast<uint32_t>(DigitValue(*p)) < base) {
        value = value * base + static_cast<uint32_t>(DigitValue(*p));
        if (value > 0xFFFFFFFFu) {
            return nullptr;
        }
        ++p;
    }
    if (p == digits && base == 16) {
        return nullptr;
    }
    // Suffixes: at most one U and one L (a 32-bit long changes nothing);
    // LL would ask for a wider type.
    bool isUnsigned = false;
    bool isLong = false;
    for (; p < end && IsNameChar(*p); ++p) {
        if ((*p == 'u' || *p == 'U') && !isUnsigned) {
            isUnsigned = true;
        } else if ((*p == 'l' || *p == 'L') && !isLong) {
            isLong = true;
        } else {
            return nullptr;   // 08, 12ab, 1LL ...
        }
    }
    if (!isUnsigned && value > 0x7FFFFFFFu) {
        // A decimal literal beyond int is a wider signed type in C; octal
        // and hexadecimal ones become unsigned int.
        if (base == 10) {
            return nullptr;
        }
        isUnsigned = true;
    }
    token->type = isUnsigned ? ATRD_TYPE_UINT : ATRD_TYPE_INT;
    token->value = static_cast<int32_t>(static_cast<uint32_t>(value));
    return p;
}

} // namespace

int32_t AtrDefAnalyzer::_evaluate(const char* begin, const char* end, int32_t* value)
{
    if (_tokenize(begin, end) == 0 || _combine(value) == 0) {
        return _fail();
    }
    return 1;
}

int32_t AtrDefAnalyzer::_tokenize(const char* begin, const char* end)
{
    // A value has at most one token per byte, plus the end token.
    const size_t needed = static_cast<size_t>(end - begin) + 1;
    if (needed > m_tokenCapacity) {
        if (needed > 0x10000000u) {
            return 0;
        }
        auto* grown = static_cast<AtrDefToken*>(
            t_cvkSystemHeapAlloc(static_cast<uint32_t>(needed * sizeof(AtrDefToken)), 0, __FILE__, __LINE__));
        if (grown == nullptr) {
            return 0;
        }
        if (m_tokens != nullptr) {
            t_cvkSystemHeapFree(m_tokens, __FILE__, __LINE__);
        }
        m_tokens = grown;
        m_tokenCapacity = static_cast<uint32_t>(needed);
    }
    AtrDefToken* token = m_tokens;
    const char* p = begin;
    for (;;) {
        // The value text holds only whole comments (its end was found
        // outside them), so skipping stays inside it.
        CvkStringSkipSpace(&p);
        if (p >= end) {
            break;
        }
        if (*p >= '0' && *p <= '9') {
            p = ScanNumber(p, end, token);
            if (p == nullptr) {
                return 0;
            }
        } else if (IsNameStart(*p)) {
            const char* name = p;
            while (p < end && IsNameChar(*p)) {
                ++p;
            }
            token->type = ATRD_TYPE_INT; // an enumeration constant is an int
            if (FindParam(name, static_cast<size_t>(p - name), &token->value) == 0) {
                ok = 0;
                return 0;
            }
        } else {
            const size_t n = MatchOperator(p, &token->type);
            if (n == 0) {
                return 0;
            }
            token->value = 0;
            p += n;
        }
        token->next = token + 1;
        ++token;
    }
    token->type = ATRD_TYPE_END;
    token->value = 0;
    token->next = nullptr;
    return 1;
}

namespace {

// Pops every operator whose left priority exceeds `priority`, gives it its
// operands and replaces it by its value on the operand stack.
bool Reduce(AtrDefNodeStack& operands, AtrDefNodeStack& operators, int32_t priority)
{
    while (AtrDefOperatorLeft(operators.GetTop()->GetType()) > priority) {
        AtrDefNode* op = operators.Pop();
        AtrDefNode* right = operands.Pop();
        AtrDefNode* left = AtrDefOperatorArity(op->GetType()) == 2 ? operands.Pop() : nullptr;
        op->SetChild(left, right);
        const bool evaluated = op->Evaluate() != 0;
        operands.Push(op);
        if (!evaluated) {
            return false;
        }
    }
    return true;
}

// Pushes a node made from `token` with the type `type`.
bool PushToken(AtrDefNodeStack& stack, const AtrDefToken* token, int32_t type)
{
    const AtrDefToken copy{nullptr, type, token->value};
    AtrDefNode* node = new AtrDefNode(&copy);
    if (node == nullptr) {
        return false;
    }
    stack.Push(node);
    return stack.CheckError() == 0;
}

bool IsNumberType(int32_t type)
{
    return type == ATRD_TYPE_INT || type == ATRD_TYPE_UINT;
}

} // namespace

int32_t AtrDefAnalyzer::_combine(int32_t* value)
{
    AtrDefNodeStack operands;
    AtrDefNodeStack operators;
    const AtrDefToken endToken;
    if (!PushToken(operators, &endToken, ATRD_TYPE_END)) {
        return 0;
    }
    // The grammar is checked on the way: an operand is expected at the
    // start, after '(' and after every operator.
    bool expectOperand = true;
    for (const AtrDefToken* t = m_tokens; t != nullptr; t = t->next) {
        int32_t type = t->type;
        bool pushed;
        if (expectOperand) {
            if (type == ATRD_TYPE_SUB) {
                type = ATRD_TYPE_NEG;
            } else if (type == ATRD_TYPE_ADD) {
                type = ATRD_TYPE_PLUS;
            }
            if (IsNumberType(type)) {
                pushed = PushToken(operands, t, type);
                expectOperand = false;
            } else if (type == ATRD_TYPE_OPEN || AtrDefOperatorArity(type) == 1) {
                pushed = PushToken(operators, t, type);
            } else {
                return 0;   // a missing operand
            }
        } else if (AtrDefOperatorArity(type) == 2) {
            pushed = Reduce(operands, operators, AtrDefOperatorRight(type)) && PushToken(operators, t, type);
            expectOperand = true;
        } else if (type == ATRD_TYPE_CLOSE || type == ATRD_TYPE_END) {
            if (!Reduce(operands, operators, 0)) {
                return 0;
            }
            // ')' closes the nearest '('; the end must find none open.
            const int32_t wanted = type == ATRD_TYPE_CLOSE ? ATRD_TYPE_OPEN : ATRD_TYPE_END;
            if (operators.GetTop()->GetType() != wanted) {
                return 0;
            }
            if (type == ATRD_TYPE_CLOSE) {
                delete operators.Pop();
            }
            pushed = true;
        } else {
            return 0;   // a number or '(' right behind an operand
        }
        if (!pushed || operands.CheckError() != 0 || operators.CheckError() != 0) {
            return 0;
        }
    }
    const AtrDefNode* result = operands.GetTop();
    if (result == nullptr || !result->IsNumber()) {
        return 0;
    }
    *value = result->GetValue();
    return 1;
}
