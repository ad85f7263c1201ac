#pragma once
// AtrTextLexer: the tokens of an attribute text, one at a time.
//
// The lexer walks a NUL-terminated text once. Before every token it skips
// blanks and comments ("'" or "//" to the end of the line, "/* ... */"),
// counting line feeds. Tokens point into the text (no copies); a value token
// also consumes the blanks and the one ',' behind it. A name that the
// definition analyzer knows is a constant token carrying its value, and a
// number token carries its value too, converted while it was scanned.
//
// The lexer logs nothing: an error token carries the kind of failure
// (AtrTextErrorKind), and the tree builder decides what becomes of it.
#include "attribute/AtrTextNumber.h"

#include <cstdint>

class AtrDefAnalyzer;

// Why a reading failed. The parser turns a kind into its message once, at
// the end of the reading.
enum class AtrTextErrorKind : uint8_t {
    None,          // no failure (or, on a token: an error without a message)
    Silent,        // the reading failed without a message
    Memory,        // a node or value could not be allocated
    BadToken,      // a character that begins no token, or a token out of place
    BadEnd,        // the text ended inside a value or a tag
    CloseMismatch, // a close tag named another element
};

class AtrTextLexer {
public:
    enum TokenType : uint8_t {
        TK_END,
        TK_COMMENT_OPEN,     // "<!--"
        TK_INSTRUCTION_OPEN, // "<?" name
        TK_CLOSE,            // "</" name ">", or "/>" with an empty name
        TK_ELEMENT_OPEN,     // "<" name
        TK_TAG_END,          // ">" or "?>"
        TK_ATTRIBUTE_NAME,   // name "=" (the '=' consumed)
        TK_CONSTANT,         // a name the definition analyzer knows
        TK_TEXT,             // a quoted value or a text running up to '<'
        TK_INTEGER,          // an unquoted value without '.'
        TK_REAL,             // an unquoted value with '.'
        TK_ERROR,
    };

    struct Token {
        TokenType type = TK_ERROR;
        AtrTextErrorKind error = AtrTextErrorKind::None; // TK_ERROR: its kind (None: no message)
        bool noQ = false;                                // TK_TEXT: known to hold no 'Q' byte
        int32_t integer = 0;                             // TK_CONSTANT, TK_INTEGER: the value
        float real = 0;                                  // TK_REAL: the value
        const char* begin = nullptr;                     // name or value bytes
        const char* end = nullptr;
    };

    // `text` NUL-terminated; `constants` may be null (no name is a constant).
    AtrTextLexer(const char* text, const AtrDefAnalyzer* constants);

    Token Next();
    // The body of a comment after "<!--": [*begin, *end) up to the next
    // "-->", which is consumed. False when the text holds no "-->".
    bool CommentBody(const char** begin, const char** end);

    int32_t Line() const { return m_line; }
    // One past the last byte that may be read: the terminator is readable.
    const char* ReadableEnd() const { return m_textEnd + 1; }

private:
    void LexAngle(Token& t);
    void LexEmptyClose(Token& t);
    void LexName(Token& t);
    void LexNameValue(Token& t, const char* nameEnd);
    void LexQuoted(Token& t);
    void LexNumber(Token& t);
    void TextUpTo(const char* begin, bool stopAtTagEnd, Token& t);
    void SkipLineComment();
    void SkipBlockComment();
    const char* SkipBlanks(const char* q);
    const char* SkipBlankRun(const char* q);
    void SkipValueTail();
    void CountLines(const char* begin, const char* end);

    const char* m_p;
    const char* m_textEnd; // the terminator
    const AtrDefAnalyzer* m_constants;
    int32_t m_line = 1;
};

// ---------------------------------------------------------------------------
// The token loop and its common stages, inline so that the tree builder's
// loops compile them in place; the rarer stages (tags, quoted texts,
// comments, running texts) are in AtrTextLexer.cpp.

namespace atr_text {

// Character classes, one table for the process.

enum : uint8_t {
    CC_NAME_START = 0x01, // A-Z a-z _
    CC_DIGIT = 0x02,      // 0-9
    CC_QUOTE = 0x04,      // "
    CC_BLANK = 0x08,      // TAB LF FF CR space
    CC_CONTROL = 0x10,    // 0x00-0x1F, 0x7F
    CC_SIGN = 0x20,       // + - .
    CC_PUNCT = 0x40,      // < > , = NUL
    CC_NAME = CC_NAME_START | CC_DIGIT,
    CC_VALUE = CC_NAME_START | CC_DIGIT | CC_SIGN,
};

struct CharClassTable {
    uint8_t c[256];
    constexpr CharClassTable() : c()
    {
        for (int i = 0; i < 256; ++i) {
            uint8_t v = 0;
            if ((i >= 'A' && i <= 'Z') || (i >= 'a' && i <= 'z') || i == '_') {
                v |= CC_NAME_START;
            }
            if (i >= '0' && i <= '9') {
                v |= CC_DIGIT;
            }
            if (i == '"') {
                v |= CC_QUOTE;
            }
            if (i == '\t' || i == '\n' || i == '\f' || i == '\r' || i == ' ') {
                v |= CC_BLANK;
            }
            if (i < 0x20 || i == 0x7F) {
                v |= CC_CONTROL;
            }
            if (i == '+' || i == '-' || i == '.') {
                v |= CC_SIGN;
            }
            if (i == '<' || i == '>' || i == ',' || i == '=' || i == 0) {
                v |= CC_PUNCT;
            }
            c[i] = v;
        }
    }
};

inline constexpr CharClassTable kCharClass;

// What a byte begins where a token is expected.
enum : uint8_t {
    TS_OTHER,        // nothing: an error
    TS_END,          // NUL
    TS_BLANK,        // blanks before the token
    TS_LINE_COMMENT, // '
    TS_SLASH,        // a comment, or "/>"
    TS_ANGLE,        // <
    TS_TAG_END,      // >
    TS_QUESTION,     // "?>"
    TS_NAME,         // name-start
    TS_QUOTE,        // "
    TS_NUMBER,       // digit or sign
};

struct TokenStartTable {
    uint8_t c[256];
    constexpr TokenStartTable() : c()
    {
        for (int i = 0; i < 256; ++i) {
            const uint8_t k = kCharClass.c[i];
            uint8_t v = TS_OTHER;
            if (i == 0) {
                v = TS_END;
            } else if (k & CC_BLANK) {
                v = TS_BLANK;
            } else if (k & CC_NAME_START) {
                v = TS_NAME;
            } else if (k & CC_QUOTE) {
                v = TS_QUOTE;
            } else if (k & (CC_DIGIT | CC_SIGN)) {
                v = TS_NUMBER;
            }
            c[i] = v;
        }
        c[static_cast<unsigned char>('\'')] = TS_LINE_COMMENT;
        c[static_cast<unsigned char>('/')] = TS_SLASH;
        c[static_cast<unsigned char>('<')] = TS_ANGLE;
        c[static_cast<unsigned char>('>')] = TS_TAG_END;
        c[static_cast<unsigned char>('?')] = TS_QUESTION;
    }
};

inline constexpr TokenStartTable kTokenStart;

inline uint8_t Cls(char ch) { return kCharClass.c[static_cast<unsigned char>(ch)]; }

// The value of a decimal digit; 10 or more for any other byte.
inline uint64_t DigitValue(char ch) { return static_cast<uint64_t>(static_cast<unsigned char>(ch)) - '0'; }

// The value of a hexadecimal digit, 16 for any other byte.
struct HexValueTable {
    uint8_t c[256];
    constexpr HexValueTable() : c()
    {
        for (int i = 0; i < 256; ++i) {
            c[i] = i >= '0' && i <= '9'   ? static_cast<uint8_t>(i - '0')
                   : i >= 'a' && i <= 'f' ? static_cast<uint8_t>(i - 'a' + 10)
                   : i >= 'A' && i <= 'F' ? static_cast<uint8_t>(i - 'A' + 10)
                                          : 16;
        }
    }
};

inline constexpr HexValueTable kHexValue;

inline uint32_t HexValue(char ch) { return kHexValue.c[static_cast<unsigned char>(ch)]; }

inline const char* ScanName(const char* q)
{
    while (Cls(*q) & CC_NAME) {
        ++q;
    }
    return q;
}

} // namespace atr_text

#define ATR_LEX_INLINE [[gnu::always_inline]] inline

// Blanks only (inside tags around names); line feeds counted. Most runs
// are empty or one space, settled before the loop.
ATR_LEX_INLINE const char* AtrTextLexer::SkipBlanks(const char* q)
{
    if (!(atr_text::Cls(*q) & atr_text::CC_BLANK)) {
        return q;
    }
    if (*q == ' ' && !(atr_text::Cls(q[1]) & atr_text::CC_BLANK)) {
        return q + 1;
    }
    return SkipBlankRun(q);
}

// After a value: blanks and one ','.
ATR_LEX_INLINE void AtrTextLexer::SkipValueTail()
{
    m_p = SkipBlanks(m_p);
    if (*m_p == ',') {
        ++m_p;
    }
}

// One token: blanks and comments before it are skipped in the same
// dispatch on the byte at hand.
ATR_LEX_INLINE AtrTextLexer::Token AtrTextLexer::Next()
{
    Token t;
    m_p = SkipBlanks(m_p); // most tokens follow a blank or two: no second dispatch
    for (;;) {
        t.begin = t.end = m_p;
        switch (atr_text::kTokenStart.c[static_cast<unsigned char>(*m_p)]) {
        case atr_text::TS_END: t.type = TK_END; return t;
        case atr_text::TS_BLANK: m_p = SkipBlanks(m_p); continue;
        case atr_text::TS_LINE_COMMENT: SkipLineComment(); continue;
        case atr_text::TS_SLASH:
            if (m_p[1] == '/') {
                SkipLineComment();
                continue;
            }
            if (m_p[1] == '*') {
                SkipBlockComment();
                continue;
            }
            LexEmptyClose(t);
            if (t.type != TK_CLOSE) {
                t.error = AtrTextErrorKind::BadToken;
            }
            return t;
        case atr_text::TS_ANGLE: LexAngle(t); return t;
        case atr_text::TS_TAG_END:
            ++m_p;
            t.type = TK_TAG_END;
            return t;
        case atr_text::TS_QUESTION:
            if (m_p[1] == '>') {
                m_p += 2;
                t.type = TK_TAG_END;
            } else {
                t.error = AtrTextErrorKind::BadToken;
            }
            return t;
        case atr_text::TS_NAME: LexName(t); return t;
        case atr_text::TS_QUOTE: LexQuoted(t); return t;
        case atr_text::TS_NUMBER: LexNumber(t); return t;
        default: t.error = AtrTextErrorKind::BadToken; return t; // a byte that begins no token
        }
    }
}

// An attribute name (name "="), else a constant or a text.
ATR_LEX_INLINE void AtrTextLexer::LexName(Token& t)
{
    const char* nameEnd = atr_text::ScanName(m_p);
    const int32_t lineBefore = m_line;
    const char* q = SkipBlanks(nameEnd);
    if (*q == '=') {
        m_p = SkipBlanks(q + 1);
        t.type = TK_ATTRIBUTE_NAME;
        t.end = nameEnd;
        return;
    }
    m_line = lineBefore;
    LexNameValue(t, nameEnd);
}

// An unquoted value: an integer, or a real when it holds a '.'. The plain
// forms ([-]digits, 0x hexdigits, [-]digits.digits) are converted as they
// are scanned; a value with other characters is scanned on and converted
// apart. One that runs into anything but a blank or punctuation is a text
// up to '<' or '>'.
ATR_LEX_INLINE void AtrTextLexer::LexNumber(Token& t)
{
    const char* begin = m_p;
    const bool negative = *begin == '-';
    const char* digits = begin + (negative ? 1 : 0);
    const char* q = digits;
    uint64_t value = 0;
    for (uint64_t d; (d = atr_text::DigitValue(*q)) < 10; ++q) {
        value = value * 10 + d;
    }
    const char* point = q;
    bool real = *point == '.';
    const bool hex = *q == 'x' && q == begin + 1 && *begin == '0';
    if (real) {
        for (uint64_t d; (d = atr_text::DigitValue(*++q)) < 10;) {
            value = value * 10 + d;
        }
    } else if (hex) {
        for (++q; atr_text::HexValue(*q) < 16; ++q) {
            value = value * 16 + atr_text::HexValue(*q);
        }
    }
    const bool plain = !(atr_text::Cls(*q) & atr_text::CC_VALUE);
    while (atr_text::Cls(*q) & atr_text::CC_VALUE) {
        real |= *q == '.';
        ++q;
    }
    if (!(atr_text::Cls(*q) & (atr_text::CC_BLANK | atr_text::CC_PUNCT))) {
        TextUpTo(begin, true, t);
        return;
    }
    m_p = q;
    SkipValueTail();
    t.begin = begin;
    t.end = q;
    if (!real) {
        // Up to 19 decimal digits are held exactly, and their low 32 bits
        // are what the text's conversion (modulo 2^32) gives; hexadecimal
        // digits wrap alike. Anything else is converted from the text.
        const auto v = static_cast<uint32_t>(value);
        t.type = TK_INTEGER;
        t.integer =
            static_cast<int32_t>(plain && point - digits <= 19 ? (negative ? 0u - v : v) : AtrTextParseInteger(begin));
        return;
    }
    const auto count = q - digits - 1; // the digits around the point
    t.type = TK_REAL;
    t.real = plain && count >= 1 && count <= 15
                 ? AtrTextRealFromDigits(value, static_cast<int>(q - point - 1), negative)
                 : AtrTextParseReal(begin, q);
}

#undef ATR_LEX_INLINE
