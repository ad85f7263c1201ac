#pragma once
// Tokens of a Dresser script and the stack the parser keeps them on.
//
// The lexer turns a script into a doubly linked chain of DrsTokens. A token
// has a code (DRS_TOKEN_*; the same numbers are the operators and operand
// kinds of the word code), the line it came from (0 inside an included
// file), flags saying what class of token it is (set once, from the code),
// an optional text (names, string contents) and a numeric parameter: "SINT"
// for integers, instruction codes, module numbers and fixed-point constants
// (already scaled), "FLOAT" for float constants.

#include "kit/CvString.h"
#include "kit/CvVariant.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

// Token codes. 38..46 exist only in the word code the parser writes.
enum DRS_TOKEN_CODE : uint16_t {
    DRS_TOKEN_ASSIGN = 0,        // =
    DRS_TOKEN_NOT = 1,           // !
    DRS_TOKEN_ADD = 2,           // binary +
    DRS_TOKEN_SUB = 3,           // binary -
    DRS_TOKEN_MUL = 4,           // *
    DRS_TOKEN_DIV = 5,           // /
    DRS_TOKEN_MOD = 6,           // %
    DRS_TOKEN_NEG = 7,           // unary -
    DRS_TOKEN_INC = 8,           // ++
    DRS_TOKEN_DEC = 9,           // --
    DRS_TOKEN_SHL = 10,          // <<
    DRS_TOKEN_SHR = 11,          // >>
    DRS_TOKEN_AND = 12,          // &
    DRS_TOKEN_OR = 13,           // |
    DRS_TOKEN_LT = 14,           // <
    DRS_TOKEN_GT = 15,           // >
    DRS_TOKEN_EQ = 16,           // ==
    DRS_TOKEN_NE = 17,           // !=
    DRS_TOKEN_LE = 18,           // <=
    DRS_TOKEN_GE = 19,           // >=
    DRS_TOKEN_LAND = 20,         // &&
    DRS_TOKEN_LOR = 21,          // ||
    DRS_TOKEN_IF = 22,
    DRS_TOKEN_SWITCH = 23,
    DRS_TOKEN_WHILE = 24,
    DRS_TOKEN_LOOP = 25,
    DRS_TOKEN_GOTO = 26,
    DRS_TOKEN_RETURN = 27,
    DRS_TOKEN_SYNCH = 28,
    DRS_TOKEN_MODULE_CALL = 29,  // name directly followed by '('; text = name
    DRS_TOKEN_INST_CALL = 30,    // registered instruction; parameter = instruction code
    DRS_TOKEN_INT16 = 31,        // integer in -32768..32767; parameter = value
    DRS_TOKEN_INT32 = 32,        // integer outside that range; parameter = value
    DRS_TOKEN_FLOAT = 33,        // real, float form; parameter "FLOAT"
    DRS_TOKEN_FIXED = 34,        // real, fixed-point form; parameter = scaled integer
    DRS_TOKEN_STRING = 35,       // text = contents without quotes
    DRS_TOKEN_VAR = 36,          // variable name
    DRS_TOKEN_ARRAY = 37,        // name directly followed by '['
    DRS_TOKEN_GLOBAL_VAR = 38,   // word code only
    DRS_TOKEN_GLOBAL_ARRAY = 39, // word code only
    DRS_TOKEN_LIST_START = 40,   // word code: start of an argument list or array index
    DRS_TOKEN_CALL_START = 42,   // word code: start of a call sequence
    DRS_TOKEN_ARG_END = 43,      // word code: end of one argument
    DRS_TOKEN_EXPR_START = 44,   // word code: start of an expression
    DRS_TOKEN_JUMP = 45,         // word code: structured jump
    DRS_TOKEN_LINE = 46,         // word code: line marker
    DRS_TOKEN_ELSE = 47,
    DRS_TOKEN_CASE = 48,
    DRS_TOKEN_DEFAULT = 49,
    DRS_TOKEN_VARIANT = 50,
    DRS_TOKEN_MODULE = 51,
    DRS_TOKEN_BREAK = 52,
    DRS_TOKEN_CONTINUE = 53,
    DRS_TOKEN_LABEL = 54,        // name directly followed by ':'
    DRS_TOKEN_GOTO_TARGET = 55,  // name after "goto"
    DRS_TOKEN_PLUS = 56,         // unary + (never stored)
    DRS_TOKEN_DECL_VAR = 57,     // name after "variant"
    DRS_TOKEN_DECL_ARRAY = 58,   // name after "variant", directly followed by '['
    DRS_TOKEN_MODULE_NAME = 59,  // name after "module"; parameter = module number
    DRS_TOKEN_COLON = 61,
    DRS_TOKEN_SEMICOLON = 62,
    DRS_TOKEN_COMMA = 63,
    DRS_TOKEN_LPAREN = 64,
    DRS_TOKEN_RPAREN = 65,
    DRS_TOKEN_LBRACE = 66,
    DRS_TOKEN_RBRACE = 67,
    DRS_TOKEN_LBRACKET = 68,
    DRS_TOKEN_RBRACKET = 69,
    DRS_TOKEN_END = 71,          // end of text
    DRS_TOKEN_NAME_DIRECTIVE = 72, // "#name"
    DRS_TOKEN_NONE = 0xFFFF,
};

// Token class flags.
enum : uint32_t {
    DRS_TOKEN_FLAG_EXPRESSION = 0x001, // operator or operand: codes 0-21, 29-37
    DRS_TOKEN_FLAG_KEYWORD = 0x002,    // 22-28, 47-53
    DRS_TOKEN_FLAG_INTEGER = 0x004,    // 31, 32
    DRS_TOKEN_FLAG_REAL = 0x008,       // 33, 34
    DRS_TOKEN_FLAG_STRING = 0x010,     // 35
    DRS_TOKEN_FLAG_VARIABLE = 0x020,   // 36, 37
    DRS_TOKEN_FLAG_DECLARED = 0x040,   // 57, 58
    DRS_TOKEN_FLAG_SEPARATOR = 0x080,  // 61-69
    DRS_TOKEN_FLAG_SYSTEM = 0x100,     // 70-81
    DRS_TOKEN_FLAG_CALL = 0x200,       // 29, 30
    // call, variable, string, real, integer
    DRS_TOKEN_FLAG_OPERAND = 0x23C,
};

// The class flags a token of this code carries.
LUMIVOR_EXPORT uint32_t DrsTokenFlagsOf(uint16_t code);

class LUMIVOR_EXPORT DrsToken : public CvkBase {
public:
    DrsToken(uint16_t code, uint16_t line);
    ~DrsToken() override;
    DrsToken(const DrsToken&) = delete;
    DrsToken& operator=(const DrsToken&) = delete;

    DrsToken* GetPrev() const { return m_prev; }
    DrsToken* GetNext() const { return m_next; }
    void SetPrev(DrsToken* token) { m_prev = token; }
    void SetNext(DrsToken* token) { m_next = token; }

    uint16_t GetCode() const { return m_code; }
    void SetCode(uint16_t code) { m_code = code; }
    uint16_t GetLine() const { return m_line; }
    void SetLine(uint16_t line) { m_line = line; }

    // The parameter is kept as a kind and a 32-bit word; reading it as
    // another kind converts as CvVariant does.
    int32_t GetParamS32() const;
    void SetParamS32(int32_t v) { _setParam(CVK_VARIANT_TYPE_SINT, static_cast<uint32_t>(v)); }
    float GetParamF32() const;
    void SetParamF32(float v);
    int32_t GetParamFx32() const;
    void SetParamFx32(int32_t v) { _setParam(CVK_VARIANT_TYPE_FIXED, static_cast<uint32_t>(v)); }
    CVK_VARIANT_TYPE GetParamType() const { return static_cast<CVK_VARIANT_TYPE>(m_paramKind); }
    // The parameter as a variant.
    CvVariant GetParam() const;

    // Null when the token has no text.
    const char* GetString() const;
    // -1 when the token has no text.
    int32_t GetStringLength() const;
    // Replaces the text; null leaves it unchanged.
    void SetString(const char* text);
    void SetString(const char* text, int32_t length);
    // Shares the other string's text (no copy).
    void SetString(const CvString& text) { m_text = text; }
    const CvString& GetCvString() const { return m_text; }

    uint32_t GetTokenFlag() const { return m_flags; }
    uint32_t CheckTokenFlag(uint32_t mask) const { return m_flags & mask; }
    // flags := (flags AND keep) OR set
    void SetTokenFlag(uint32_t keep, uint32_t set) { m_flags = (m_flags & keep) | set; }

    // True when the token is of the class and `code` is DRS_TOKEN_NONE or
    // the token's own code.
    bool IsKeyword(uint16_t code = DRS_TOKEN_NONE) const { return _isClass(DRS_TOKEN_FLAG_KEYWORD, code); }
    bool IsOperator(uint16_t code = DRS_TOKEN_NONE) const { return _isClass(DRS_TOKEN_FLAG_EXPRESSION, code); }
    bool IsSeparator(uint16_t code = DRS_TOKEN_NONE) const { return _isClass(DRS_TOKEN_FLAG_SEPARATOR, code); }
    bool IsSystem(uint16_t code = DRS_TOKEN_NONE) const { return _isClass(DRS_TOKEN_FLAG_SYSTEM, code); }

    // True for tokens a lexer made in one of its blocks.
    bool IsPooled() const { return m_pooled != 0; }

private:
    friend class DrsTokenPool;

    void _setParam(CVK_VARIANT_TYPE kind, uint32_t word)
    {
        m_paramKind = static_cast<uint8_t>(kind);
        m_paramWord = word;
    }
    bool _isClass(uint32_t flag, uint16_t code) const
    {
        return (m_flags & flag) != 0 && (code == DRS_TOKEN_NONE || code == m_code);
    }

    DrsToken* m_prev;
    DrsToken* m_next;
    CvString m_text;
    uint32_t m_paramWord;
    uint32_t m_flags;
    uint16_t m_code;
    uint16_t m_line;
    uint8_t m_paramKind;
    uint8_t m_pooled;
};

// A stack of token pointers; it never owns the tokens.
class LUMIVOR_EXPORT DrsTokenStack : public CvkBase {
public:
    DrsTokenStack();
    ~DrsTokenStack() override;
    DrsTokenStack(const DrsTokenStack&) = delete;
    DrsTokenStack& operator=(const DrsTokenStack&) = delete;

    // Allocation failure sets the Error flag and pushes nothing.
    void Push(DrsToken* token);
    // Null when empty.
    DrsToken* Pop();
    DrsToken* Top() const;
    int32_t Size() const { return m_size; }
    int32_t GetMaxSize() const { return m_maxSize; }

private:
    struct Link;
    Link* m_top;
    int32_t m_size;
    int32_t m_maxSize;
};
