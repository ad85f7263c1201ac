#pragma once
// AtrTextLexer: the tokens of an attribute text, one at a time.
//
// The lexer walks a NUL-terminated text once. Before every token it skips
// blanks and comments ("'" or "//" to the end of the line, "/* ... */"),
// counting line feeds. Tokens point into the text (no copies); a value token
// also consumes the blanks and the one ',' behind it. A name that the
// definition analyzer knows is a constant token carrying its value.
//
// The lexer logs nothing: an error token carries the kind of failure
// (AtrTextErrorKind), and the tree builder decides what becomes of it.
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
        int32_t constant = 0;                            // TK_CONSTANT: its value
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
    void LexQuoted(Token& t);
    void LexNumber(Token& t);
    void TextUpTo(const char* begin, bool stopAtTagEnd, Token& t);
    void SkipLineComment();
    void SkipBlockComment();
    const char* SkipBlanks(const char* q);
    void SkipValueTail();
    void CountLines(const char* begin, const char* end);

    const char* m_p;
    const char* m_textEnd; // the terminator
    const AtrDefAnalyzer* m_constants;
    int32_t m_line = 1;
};
