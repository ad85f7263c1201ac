// The scanners: comments, names, numbers, operators, separators, strings and
// blanks, and the sequence rules every new token is checked against.
#include "dresser/DrsLexScan.h"

#include "dresser/DrsConstantTable.h"
#include "dresser/DrsErrorInfo.h"
#include "kit/CvkStringCharClass.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace {

struct Keyword {
    const char* text;
    int32_t length;
    uint16_t code;
};

const Keyword kKeywords[] = {
    {"if", 2, DRS_TOKEN_IF},           {"switch", 6, DRS_TOKEN_SWITCH},     {"while", 5, DRS_TOKEN_WHILE},
    {"loop", 4, DRS_TOKEN_LOOP},       {"goto", 4, DRS_TOKEN_GOTO},         {"return", 6, DRS_TOKEN_RETURN},
    {"synch", 5, DRS_TOKEN_SYNCH},     {"else", 4, DRS_TOKEN_ELSE},         {"case", 4, DRS_TOKEN_CASE},
    {"default", 7, DRS_TOKEN_DEFAULT}, {"variant", 7, DRS_TOKEN_VARIANT},   {"module", 6, DRS_TOKEN_MODULE},
    {"break", 5, DRS_TOKEN_BREAK},     {"continue", 8, DRS_TOKEN_CONTINUE},
};

uint16_t KeywordCode(const char* p, int32_t length)
{
    // Keywords are lower case, 2 to 8 letters: most names fail the first test.
    if (length < 2 || length > 8 || p[0] < 'b' || p[0] > 'w') {
        return DRS_TOKEN_NONE;
    }
    for (const Keyword& k : kKeywords) {
        if (k.length == length && k.text[0] == p[0] && std::memcmp(k.text, p, static_cast<size_t>(length)) == 0) {
            return k.code;
        }
    }
    return DRS_TOKEN_NONE;
}

// The name characters (CvkCharIsSymbol) as a table, for the scanner's loops.
struct NameChars {
    bool symbol[256];
    NameChars()
    {
        for (int c = 0; c < 256; ++c) {
            symbol[c] = CvkCharIsSymbol(static_cast<char>(c)) != 0;
        }
    }
};
const NameChars kNameChars;

bool IsSymbol(char c) { return kNameChars.symbol[static_cast<uint8_t>(c)]; }

bool IsNameStart(char c) { return CvkCharIsAlphabet(c) || c == '_'; }

int32_t NameLength(const char* p)
{
    int32_t n = 0;
    while (IsSymbol(p[n])) {
        ++n;
    }
    return n;
}

uint16_t CodeOf(const DrsToken* token)
{
    return token != nullptr ? token->GetCode() : static_cast<uint16_t>(DRS_TOKEN_NONE);
}

bool IsOperatorCode(uint16_t code) { return code <= DRS_TOKEN_LOR; }

bool IsBitOperator(uint16_t code)
{
    return code == DRS_TOKEN_SHL || code == DRS_TOKEN_SHR || code == DRS_TOKEN_AND || code == DRS_TOKEN_OR;
}

// Value of an integer constant as its token code.
uint16_t IntegerCode(int32_t v) { return v >= -32768 && v <= 32767 ? DRS_TOKEN_INT16 : DRS_TOKEN_INT32; }

// round(value x 2^shift), half away from zero, saturated to 32 bits.
int32_t FixedValue(float value, int32_t shift)
{
    float scaled = std::ldexp(value, shift);
    scaled += scaled > 0.0f ? 0.5f : -0.5f;
    if (!(scaled > -2147483648.0f)) {
        return scaled != scaled ? 0 : INT32_MIN;
    }
    if (scaled >= 2147483648.0f) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(scaled);
}

// The digits of a number as written: their value without sign, the count
// of digits after a '.' (-1 without one), the characters taken, and whether
// an 'f' suffix was misplaced (the scan then ends just after it).
struct NumberText {
    uint32_t integer = 0;
    int32_t fraction = -1;
    int32_t length = 0;
    bool bad = false;
};

NumberText ReadNumber(const char* p)
{
    NumberText n;
    int32_t i = 0;
    if (p[0] == '0' && p[1] == 'x') {
        for (i = 2; CvkCharIsHexadecimal(p[i]) && p[i] != 'x' && p[i] != 'X'; ++i) {
            const char c = p[i];
            const uint32_t digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
            n.integer = n.integer * 16 + digit;
        }
        n.length = i;
        return n;
    }
    bool suffix = false;
    for (;; ++i) {
        const char c = p[i];
        if (CvkCharIsNumber(c)) {
            n.integer = n.integer * 10 + static_cast<uint32_t>(c - '0');
            n.fraction += n.fraction >= 0 ? 1 : 0;
        } else if (c == '.' && n.fraction < 0) {
            n.fraction = 0;
        } else if (c == 'f') {
            if (n.fraction < 0 || suffix) {
                n.bad = true;
                ++i;
                break;
            }
            suffix = true;
        } else {
            break;
        }
    }
    n.length = i;
    return n;
}

} // namespace

DrsLexScan::DrsLexScan(DrsLexer* lexer, const char* text) :
    m_lexer(*lexer), m_tables(*lexer->m_tables), m_text(text), m_pos(0)
{}

int32_t DrsLexScan::ErrorCount() const
{
    const int32_t logged = DrsGetErrorCount();
    return logged >= 0 ? logged : m_tables.errorCount;
}

bool DrsLexScan::ErrorCounted() const { return ErrorCount() > 0; }

void DrsLexScan::Report(int32_t code, int32_t line, const char* text)
{
    if (DrsGetLogCategory(code) != DRS_LOG_CATEGORY_WARNING) {
        ++m_tables.errorCount;
    }
    DrsSetErrorInfo(code, line, text);
}

int32_t DrsLexScan::Fail(int32_t code, const char* text)
{
    Report(code, Line(), text);
    Stop();
    return 0;
}

void DrsLexScan::ReportName(int32_t code, const char* name, int32_t length)
{
    CvString text(name, name + length);
    Report(code, Line(), text.GetBuffer());
}

void DrsLexScan::NewLine()
{
    if (m_lexer.m_line < 0xFFFF) {
        ++m_lexer.m_line;
    } else if (!m_lexer.m_lineWarned) {
        m_lexer.m_lineWarned = 1;
        Report(DRS_LOG_LINE_LIMIT, Line(), nullptr);
    }
}

void DrsLexScan::SkipLeadingBlanks()
{
    while (m_text[m_pos] == ' ' || m_text[m_pos] == '\t') {
        ++m_pos;
    }
}

// What a character can start, in the order the scanners are tried.
enum StartClass : uint8_t {
    START_NONE,
    START_COMMENT,   // '
    START_SLASH,     // a comment or the operator /
    START_DIRECTIVE, // #
    START_E,         // "enum" or a name
    START_NAME,
    START_NUMBER,
    START_OPERATOR,
    START_SEPARATOR,
    START_STRING,
    START_BLANK,
};

namespace {

struct StartClasses {
    uint8_t of[256];
    StartClasses() : of{}
    {
        for (int c = 0; c < 256; ++c) {
            const char ch = static_cast<char>(c);
            of[c] = CvkCharIsAlphabet(ch) || ch == '_' ? START_NAME
                    : CvkCharIsNumber(ch)              ? START_NUMBER
                    : CvkCharIsOperator(ch)            ? START_OPERATOR
                    : CvkCharIsSeparator(ch)           ? START_SEPARATOR
                                                       : START_NONE;
        }
        of[static_cast<uint8_t>('\'')] = START_COMMENT;
        of[static_cast<uint8_t>('/')] = START_SLASH;
        of[static_cast<uint8_t>('#')] = START_DIRECTIVE;
        of[static_cast<uint8_t>('e')] = START_E;
        of[static_cast<uint8_t>('"')] = START_STRING;
        for (char ch : {' ', '\t', '\r', '\n'}) {
            of[static_cast<uint8_t>(ch)] = START_BLANK;
        }
    }
};
const StartClasses kStart;

} // namespace

void DrsLexScan::Run()
{
    while (!m_lexer.m_stop) {
        const char* p = m_text + m_pos;
        if (*p == '\0') {
            return;
        }
        // Only the scanners whose token can start with this character, in
        // their order of precedence.
        int32_t n = 0;
        switch (kStart.of[static_cast<uint8_t>(*p)]) {
        case START_COMMENT: n = Comment(p); break;
        case START_SLASH:
            n = Comment(p);
            if (n == 0 && !m_lexer.m_stop) n = Operator(p);
            break;
        case START_DIRECTIVE: n = Directive(p); break;
        case START_E:
            n = Directive(p);
            if (n == 0 && !m_lexer.m_stop) n = Identifier(p);
            break;
        case START_NAME: n = Identifier(p); break;
        case START_NUMBER: n = Number(p); break;
        case START_OPERATOR: n = Operator(p); break;
        case START_SEPARATOR: n = Separator(p); break;
        case START_STRING: n = String(p); break;
        case START_BLANK: n = Blank(p); break;
        default: break;
        }
        if (m_lexer.m_stop) {
            return;
        }
        if (n == 0) {
            Fail(DRS_LOG_SYNTAX);
            return;
        }
        m_pos += n;
    }
}

// ---- comments ----

int32_t DrsLexScan::Comment(const char* p)
{
    if (p[0] == '\'' || (p[0] == '/' && p[1] == '/')) {
        return _lineComment(p);
    }
    if (p[0] == '/' && p[1] == '*') {
        return _blockComment(p);
    }
    return 0;
}

// Runs to the line feed, which is left for the blank scanner.
int32_t DrsLexScan::_lineComment(const char* p)
{
    const char* lf = std::strchr(p, '\n');
    if (lf == nullptr) {
        Report(DRS_LOG_UNTERMINATED_COMMENT, Line(), nullptr);
        return static_cast<int32_t>(std::strlen(p));
    }
    return static_cast<int32_t>(lf - p);
}

// Block comments nest; their line breaks count. An unclosed one is reported
// and ends the scanning (reading its text again as code would only add
// noise to the log, and would make some texts quadratic to scan).
int32_t DrsLexScan::_blockComment(const char* p)
{
    int32_t depth = 0;
    int32_t lines = 0;
    int32_t i = 0;
    for (;;) {
        const char c = p[i];
        if (c == '\0') {
            return Fail(DRS_LOG_UNTERMINATED_COMMENT);
        }
        if (c == '/' && p[i + 1] == '*') {
            ++depth;
            i += 2;
        } else if (c == '*' && p[i + 1] == '/') {
            i += 2;
            if (--depth == 0) {
                break;
            }
        } else {
            lines += c == '\n';
            ++i;
        }
    }
    while (lines-- > 0) {
        NewLine();
    }
    return i;
}

// ---- names ----

int32_t DrsLexScan::Identifier(const char* p)
{
    if (!IsNameStart(*p)) {
        return 0;
    }
    const int32_t length = NameLength(p);
    const uint16_t keyword = KeywordCode(p, length);
    if (keyword != DRS_TOKEN_NONE) {
        AddToken(keyword);
        return length;
    }
    const uint32_t hash = DrsNameIndexBase::Hash(p, length);
    if (const _drsDefineList* define = m_tables.defineNames.FindHashed(p, length, hash)) {
        return _expandDefine(define, p, length);
    }
    if (length > DRS_NAME_MAX) {
        Report(DRS_LOG_NAME_TOO_LONG, Line(), nullptr);
        return 0;
    }
    if (const LexFunctionList* instruction = m_tables.instructionNames.FindHashed(p, length, hash)) {
        AddNameToken(DRS_TOKEN_INST_CALL, instruction->GetFunctionCode(), p, length, hash);
        return length;
    }
    if (DrsHasReservedPrefix(p, length)) {
        const DrsBuiltinConstant* constant = DrsFindBuiltinConstant(p, length);
        if (constant == nullptr) {
            ReportName(DRS_LOG_UNKNOWN_CONSTANT, p, length);
            Stop();
            return 0;
        }
        AddToken(IntegerCode(constant->value), constant->value);
        return length;
    }
    return _classifyName(p, length, hash);
}

// A plain name: its kind follows from the token before it and from the
// character directly after it.
int32_t DrsLexScan::_classifyName(const char* p, int32_t length, uint32_t hash)
{
    const uint16_t prev = CodeOf(m_lexer.m_last);
    const char next = p[length];
    if (prev == DRS_TOKEN_NONE) {
        Report(DRS_LOG_SYNTAX, Line(), nullptr);
    } else if (next == ':' && prev != DRS_TOKEN_CASE) {
        AddNameToken(DRS_TOKEN_LABEL, 0, p, length, hash);
    } else if (prev == DRS_TOKEN_MODULE) {
        if (AddNameToken(DRS_TOKEN_MODULE_NAME, m_tables.moduleCount, p, length, hash) != nullptr) {
            _registerModule(p, length);
        }
    } else if (next == '(') {
        if (m_lexer.m_braceDepth > 0) {
            AddNameToken(DRS_TOKEN_MODULE_CALL, 0, p, length, hash);
        } else {
            Report(DRS_LOG_SYNTAX, Line(), nullptr);
        }
    } else if (prev == DRS_TOKEN_GOTO) {
        AddNameToken(DRS_TOKEN_GOTO_TARGET, 0, p, length, hash);
    } else if (prev == DRS_TOKEN_VARIANT) {
        AddNameToken(next == '[' ? DRS_TOKEN_DECL_ARRAY : DRS_TOKEN_DECL_VAR, 0, p, length, hash);
    } else {
        AddNameToken(next == '[' ? DRS_TOKEN_ARRAY : DRS_TOKEN_VAR, 0, p, length, hash);
    }
    return length;
}

void DrsLexScan::_registerModule(const char* name, int32_t length)
{
    if (m_tables.moduleNames.Find(name, length) != nullptr) {
        ReportName(DRS_LOG_DUPLICATE_NAME, name, length);
        Stop();
        return;
    }
    CvString text(name, name + length);
    auto* module = new LexFunctionList(m_tables.moduleCount, text.GetBuffer(), 0, 0);
    if (module == nullptr || module->CheckError() || !m_tables.moduleNames.Insert(module->GetName(), module, false)) {
        delete module;
        Fail(DRS_LOG_NO_MEMORY);
        return;
    }
    (m_tables.modulesTail != nullptr ? m_tables.modulesTail->SetNext(module) : void(m_tables.modules = module));
    m_tables.modulesTail = module;
    ++m_tables.moduleCount;
}

// The define's value is scanned in place of the name, with the current line.
int32_t DrsLexScan::_expandDefine(const _drsDefineList* define, const char* p, int32_t length)
{
    if (m_tables.defineDepth >= DRS_DEFINE_DEPTH_MAX) {
        ReportName(DRS_LOG_SYNTAX, p, length);
        Stop();
        return 0;
    }
    ++m_tables.defineDepth;
    DrsLexScan value(&m_lexer, define->value.GetBuffer() != nullptr ? define->value.GetBuffer() : "");
    value.Run();
    --m_tables.defineDepth;
    return length;
}

// ---- numbers ----

int32_t DrsLexScan::Number(const char* p)
{
    if (!CvkCharIsNumber(*p)) {
        return 0;
    }
    const NumberText number = ReadNumber(p);
    if (number.bad) {
        Report(DRS_LOG_BAD_NUMBER, Line(), nullptr);
    }
    // A negation just before the number becomes its sign (only one this
    // lexer made itself: an include lexer leaves its parent's tokens alone).
    bool negative = false;
    if (CodeOf(m_lexer.m_last) == DRS_TOKEN_NEG && m_lexer.m_first != nullptr) {
        _removeLast();
        negative = true;
    }
    const int32_t value = static_cast<int32_t>(negative ? 0u - number.integer : number.integer);
    if (number.fraction < 0) {
        AddToken(IntegerCode(value), value);
    } else {
        _addReal(value, number.fraction);
    }
    return number.length;
}

// A real of `fraction` decimals whose digits make `value`: a float, or a
// fixed-point number when the compile option asks for one.
void DrsLexScan::_addReal(int32_t value, int32_t fraction)
{
    if (CodeOf(m_lexer.m_last) == DRS_TOKEN_MOD) {
        Report(DRS_LOG_BAD_OPERATOR, Line(), nullptr);
    }
    float divisor = 1.0f;
    for (int32_t k = 0; k < fraction; ++k) {
        divisor *= 10.0f;
    }
    const float real = static_cast<float>(value) / divisor;
    if (m_lexer.m_fixedShift == 0) {
        DrsToken* token = AddToken(DRS_TOKEN_FLOAT);
        if (token != nullptr) {
            token->SetParamF32(real);
        }
    } else {
        AddToken(DRS_TOKEN_FIXED, FixedValue(real, m_lexer.m_fixedShift));
    }
}

// ---- operators and separators ----

int32_t DrsLexScan::Operator(const char* p)
{
    const DrsToken* prev = m_lexer.m_last;
    const uint16_t prevCode = CodeOf(prev);
    const bool afterOperand = (prev != nullptr && prev->CheckTokenFlag(DRS_TOKEN_FLAG_INTEGER | DRS_TOKEN_FLAG_REAL |
                                                                       DRS_TOKEN_FLAG_VARIABLE)) ||
                              prevCode == DRS_TOKEN_RPAREN || prevCode == DRS_TOKEN_RBRACKET;
    uint16_t code;
    int32_t n = 1;
    switch (p[0]) {
    case '=': code = DRS_TOKEN_ASSIGN; break;
    case '!': code = DRS_TOKEN_NOT; break;
    case '*': code = DRS_TOKEN_MUL; break;
    case '/': code = DRS_TOKEN_DIV; break;
    case '%': code = DRS_TOKEN_MOD; break;
    case '<': code = p[1] == '<' ? (n = 2, DRS_TOKEN_SHL) : DRS_TOKEN_LT; break;
    case '>': code = p[1] == '>' ? (n = 2, DRS_TOKEN_SHR) : DRS_TOKEN_GT; break;
    case '&': code = p[1] == '&' ? (n = 2, DRS_TOKEN_LAND) : DRS_TOKEN_AND; break;
    case '|': code = p[1] == '|' ? (n = 2, DRS_TOKEN_LOR) : DRS_TOKEN_OR; break;
    case '+':
        code = !afterOperand ? DRS_TOKEN_PLUS : p[1] == '+' ? (n = 2, DRS_TOKEN_INC) : DRS_TOKEN_ADD;
        if (!afterOperand && p[1] == '+') {
            Report(DRS_LOG_BAD_OPERATOR, Line(), nullptr);
            return 2;
        }
        break;
    case '-': code = !afterOperand ? DRS_TOKEN_NEG : p[1] == '-' ? (n = 2, DRS_TOKEN_DEC) : DRS_TOKEN_SUB; break;
    default: return 0;
    }
    if (p[n] == '=') {
        // Comparisons; there are no compound assignments.
        ++n;
        switch (code) {
        case DRS_TOKEN_ASSIGN: code = DRS_TOKEN_EQ; break;
        case DRS_TOKEN_NOT: code = DRS_TOKEN_NE; break;
        case DRS_TOKEN_LT: code = DRS_TOKEN_LE; break;
        case DRS_TOKEN_GT: code = DRS_TOKEN_GE; break;
        default: Report(DRS_LOG_BAD_OPERATOR, Line(), nullptr); break;
        }
    }
    if (code == DRS_TOKEN_MOD && prevCode != DRS_TOKEN_VAR && prevCode != DRS_TOKEN_INT16 &&
        prevCode != DRS_TOKEN_INT32 && prevCode != DRS_TOKEN_RPAREN) {
        Report(DRS_LOG_BAD_OPERATOR, Line(), nullptr);
    }
    if (code != DRS_TOKEN_PLUS) {
        AddToken(code);
    }
    return n;
}

int32_t DrsLexScan::Separator(const char* p)
{
    // Each separator's token, the nesting it opens (+1) or closes (-1), and
    // the error of a close without an open.
    struct Rule {
        char character;
        uint16_t code;
        int32_t DrsLexer::*depth;
        int32_t step;
        int32_t underflow;
    };
    static constexpr Rule kRules[] = {
        {'(', DRS_TOKEN_LPAREN, &DrsLexer::m_parenDepth, 1, 0},
        {')', DRS_TOKEN_RPAREN, &DrsLexer::m_parenDepth, -1, DRS_LOG_UNMATCHED_PAREN},
        {'{', DRS_TOKEN_LBRACE, &DrsLexer::m_braceDepth, 1, 0},
        {'}', DRS_TOKEN_RBRACE, &DrsLexer::m_braceDepth, -1, DRS_LOG_UNMATCHED_BRACE},
        {'[', DRS_TOKEN_LBRACKET, &DrsLexer::m_bracketDepth, 1, 0},
        {']', DRS_TOKEN_RBRACKET, &DrsLexer::m_bracketDepth, -1, DRS_LOG_UNMATCHED_BRACKET},
        {',', DRS_TOKEN_COMMA, nullptr, 0, 0},
        {':', DRS_TOKEN_COLON, nullptr, 0, 0},
        {';', DRS_TOKEN_SEMICOLON, nullptr, 0, 0},
    };
    for (const Rule& rule : kRules) {
        if (rule.character != *p) {
            continue;
        }
        if (AddToken(rule.code) != nullptr && rule.depth != nullptr) {
            int32_t& depth = m_lexer.*rule.depth;
            depth += rule.step;
            if (depth < 0) {
                Report(rule.underflow, Line(), nullptr);
            }
        }
        return 1;
    }
    return 0;
}

// ---- strings and blanks ----

int32_t DrsLexScan::String(const char* p)
{
    if (*p != '"') {
        return 0;
    }
    int32_t i = 1;
    while (p[i] != '"') {
        if (p[i] == '\0' || p[i] == '\n' || p[i] == '\r') {
            Report(DRS_LOG_UNTERMINATED_STRING, 0, nullptr);
            return 0;
        }
        ++i;
    }
    AddToken(DRS_TOKEN_STRING, 0, p + 1, i - 1);
    return i + 1;
}

int32_t DrsLexScan::Blank(const char* p)
{
    int32_t i = 0;
    for (;; ++i) {
        const char c = p[i];
        if (c == '\n') {
            NewLine();
        } else if (c != ' ' && c != '\t' && c != '\r') {
            return i;
        }
    }
}

// ---- adding tokens ----

DrsToken* DrsLexScan::AddToken(uint16_t code, int32_t value, const char* text, int32_t length)
{
    if (text == nullptr || length <= 0) {
        return _addToken(code, value, nullptr);
    }
    return AddNameToken(code, value, text, length, DrsNameIndexBase::Hash(text, length));
}

DrsToken* DrsLexScan::AddNameToken(uint16_t code, int32_t value, const char* name, int32_t length, uint32_t hash)
{
    // Equal names and texts share one string.
    const CvString* text = m_tables.Intern(name, length, hash);
    if (text == nullptr) {
        Fail(DRS_LOG_NO_MEMORY);
        return nullptr;
    }
    return _addToken(code, value, text);
}

DrsToken* DrsLexScan::_addToken(uint16_t code, int32_t value, const CvString* text)
{
    DrsToken* token = m_tables.tokens.New(code, m_lexer.m_include ? 0 : Line());
    if (token == nullptr) {
        Fail(DRS_LOG_NO_MEMORY);
        return nullptr;
    }
    token->SetTokenFlag(0, DrsTokenFlagsOf(code));
    if (value != 0) {
        token->SetParamS32(value);
    }
    if (text != nullptr) {
        token->SetString(*text);
    }
    const int32_t verdict = _checkSequence(token);
    if (verdict != 0) {
        m_tables.tokens.Delete(token);
        if (verdict > 1) {
            Stop();
        }
        return nullptr;
    }
    _link(token);
    return token;
}

// The rules between a new token and the one before it. 0 keeps the token,
// 1 drops it, 2 drops it and stops the scanning.
int32_t DrsLexScan::_checkSequence(const DrsToken* token)
{
    const DrsToken* prev = m_lexer.m_last;
    const uint16_t p = CodeOf(prev);
    const uint16_t code = token->GetCode();
    const bool prevVariable = prev != nullptr && prev->CheckTokenFlag(DRS_TOKEN_FLAG_VARIABLE);
    const bool prevDeclared = prev != nullptr && prev->CheckTokenFlag(DRS_TOKEN_FLAG_DECLARED);
    const bool prevReal = prev != nullptr && prev->CheckTokenFlag(DRS_TOKEN_FLAG_REAL);

    if (p == DRS_TOKEN_MODULE && code != DRS_TOKEN_MODULE_NAME) {
        Report(DRS_LOG_MODULE_NAME, Line(), nullptr);
        return 2;
    }
    if (p == DRS_TOKEN_MODULE_NAME && code != DRS_TOKEN_LPAREN) {
        Report(DRS_LOG_EXPECTED, Line(), "(");
        return 1;
    }
    if (prev != nullptr && prev->CheckTokenFlag(DRS_TOKEN_FLAG_OPERAND) &&
        !token->CheckTokenFlag(DRS_TOKEN_FLAG_SEPARATOR) && !IsOperatorCode(code)) {
        Report(DRS_LOG_SYNTAX, Line(), nullptr);
        return 2;
    }

    int32_t error = -1;
    if (code == DRS_TOKEN_ASSIGN) {
        if (!prevVariable && !prevDeclared && p != DRS_TOKEN_RBRACKET) error = DRS_LOG_BAD_OPERATOR;
    } else if (code == DRS_TOKEN_INC || code == DRS_TOKEN_DEC) {
        if (!prevVariable && p != DRS_TOKEN_RBRACKET) error = DRS_LOG_BAD_OPERATOR;
    } else if (token->CheckTokenFlag(DRS_TOKEN_FLAG_REAL)) {
        if (IsBitOperator(p)) error = DRS_LOG_BAD_OPERATOR;
    } else if (IsBitOperator(code)) {
        if (prev == nullptr || prevReal) error = DRS_LOG_BAD_OPERATOR;
    } else if (code == DRS_TOKEN_LABEL) {
        if (m_lexer.m_braceDepth != 1) error = DRS_LOG_LABEL_PLACE;
    } else if (code == DRS_TOKEN_RPAREN) {
        if (p == DRS_TOKEN_COMMA) error = DRS_LOG_SYNTAX;
    } else if (code == DRS_TOKEN_LBRACE) {
        if (p != DRS_TOKEN_ASSIGN && p != DRS_TOKEN_LOOP && p != DRS_TOKEN_ELSE && p != DRS_TOKEN_RPAREN)
            error = DRS_LOG_SYNTAX;
    } else if (code == DRS_TOKEN_LBRACKET) {
        if (!prevVariable && !prevDeclared) error = DRS_LOG_SYNTAX;
    } else if (code == DRS_TOKEN_RBRACE) {
        if (prev == nullptr || p == DRS_TOKEN_LPAREN || p == DRS_TOKEN_RPAREN || p == DRS_TOKEN_LBRACKET ||
            p == DRS_TOKEN_RBRACKET)
            error = DRS_LOG_SYNTAX;
    }
    if (error < 0 && IsOperatorCode(code) && IsOperatorCode(p) && code != DRS_TOKEN_NEG && p != DRS_TOKEN_INC &&
        p != DRS_TOKEN_DEC) {
        error = DRS_LOG_BAD_OPERATOR;
    }
    if (error >= 0) {
        Report(error, Line(), nullptr);
    }
    return 0;
}

void DrsLexScan::_link(DrsToken* token)
{
    DrsToken* last = m_lexer.m_last;
    token->SetPrev(last);
    if (last != nullptr) {
        last->SetNext(token);
    }
    if (m_lexer.m_first == nullptr) {
        m_lexer.m_first = token;
    }
    m_lexer.m_last = token;
}

void DrsLexScan::_removeLast()
{
    DrsToken* last = m_lexer.m_last;
    DrsToken* prev = last->GetPrev();
    if (prev != nullptr) {
        prev->SetNext(nullptr);
    }
    if (m_lexer.m_first == last) {
        m_lexer.m_first = nullptr;
    }
    if (m_lexer.m_current == last) {
        m_lexer.m_current = prev;
    }
    m_lexer.m_last = prev;
    m_tables.tokens.Delete(last);
}
