#include "attribute/AtrTextLexer.h"

#include "attribute/AtrDefAnalyzer.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// ---------------------------------------------------------------------------
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

constexpr CharClassTable kCharClass;

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

constexpr TokenStartTable kTokenStart;

inline uint8_t Cls(char ch) { return kCharClass.c[static_cast<unsigned char>(ch)]; }

// Quoted texts are searched sixteen bytes at a time for their end: one
// mask test per block instead of a branch per byte.
#if defined(__SSE2__)
constexpr bool kWideQuote = true;

// Bits of the bytes at q..q+15 that end or interrupt a quoted text: '"' and
// the controls (0x00-0x1F, 0x7F).
inline uint32_t QuoteStopMask(const char* q)
{
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(c, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
    const __m128i stop = _mm_or_si128(_mm_cmpeq_epi8(c, _mm_set1_epi8('"')),
                                      _mm_or_si128(control, _mm_cmpeq_epi8(c, _mm_set1_epi8(0x7F))));
    return static_cast<uint32_t>(_mm_movemask_epi8(stop));
}
#else
constexpr bool kWideQuote = false;
inline uint32_t QuoteStopMask(const char*) { return 1; }
#endif

inline const char* ScanName(const char* q)
{
    while (Cls(*q) & CC_NAME) {
        ++q;
    }
    return q;
}

} // namespace

// The lexer's stages, each used once or in the innermost loops, are inlined
// into Next.
#define ATR_LEX_INLINE [[gnu::always_inline]] inline

AtrTextLexer::AtrTextLexer(const char* text, const AtrDefAnalyzer* constants) :
    m_p(text), m_textEnd(text + strlen(text)), m_constants(constants)
{}

// Counts the line feeds in [begin, end).
void AtrTextLexer::CountLines(const char* begin, const char* end)
{
    while (begin < end) {
        const void* lf = memchr(begin, '\n', static_cast<size_t>(end - begin));
        if (lf == nullptr) {
            return;
        }
        ++m_line;
        begin = static_cast<const char*>(lf) + 1;
    }
}

// A "'" or "//" comment up to and including its line feed (or the end).
void AtrTextLexer::SkipLineComment()
{
    const void* lf = memchr(m_p, '\n', static_cast<size_t>(m_textEnd - m_p));
    if (lf == nullptr) {
        m_p = m_textEnd;
        return;
    }
    ++m_line;
    m_p = static_cast<const char*>(lf) + 1;
}

// A "/* ... */" comment (or the rest of the text when it is not closed).
void AtrTextLexer::SkipBlockComment()
{
    const char* close = static_cast<const char*>(memmem(m_p + 2, static_cast<size_t>(m_textEnd - m_p - 2), "*/", 2));
    const char* end = close != nullptr ? close + 2 : m_textEnd;
    CountLines(m_p, close != nullptr ? close : m_textEnd);
    m_p = end;
}

// Blanks only (inside tags around names); line feeds counted.
ATR_LEX_INLINE const char* AtrTextLexer::SkipBlanks(const char* q)
{
    int32_t lines = 0;
    while (Cls(*q) & CC_BLANK) {
        lines += *q == '\n';
        ++q;
    }
    m_line += lines;
    return q;
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
AtrTextLexer::Token AtrTextLexer::Next()
{
    Token t;
    for (;;) {
        t.begin = t.end = m_p;
        switch (kTokenStart.c[static_cast<unsigned char>(*m_p)]) {
        case TS_END: t.type = TK_END; return t;
        case TS_BLANK: m_p = SkipBlanks(m_p); continue;
        case TS_LINE_COMMENT: SkipLineComment(); continue;
        case TS_SLASH:
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
        case TS_ANGLE: LexAngle(t); return t;
        case TS_TAG_END:
            ++m_p;
            t.type = TK_TAG_END;
            return t;
        case TS_QUESTION:
            if (m_p[1] == '>') {
                m_p += 2;
                t.type = TK_TAG_END;
            } else {
                t.error = AtrTextErrorKind::BadToken;
            }
            return t;
        case TS_NAME: LexName(t); return t;
        case TS_QUOTE: LexQuoted(t); return t;
        case TS_NUMBER: LexNumber(t); return t;
        default: t.error = AtrTextErrorKind::BadToken; return t; // a byte that begins no token
        }
    }
}

// "<!--", "<?" name, "</" name ">" or "<" name; anything else after '<' is
// an error without a message.
ATR_LEX_INLINE void AtrTextLexer::LexAngle(Token& t)
{
    const char* p = m_p;
    if (p[1] == '!') {
        if (p[2] == '-' && p[3] == '-') {
            m_p = p + 4;
            t.type = TK_COMMENT_OPEN;
        }
        return;
    }
    if (p[1] == '/') {
        const char* q = SkipBlanks(p + 2);
        if (!(Cls(*q) & CC_NAME_START)) {
            return;
        }
        const char* nameEnd = ScanName(q);
        const char* r = SkipBlanks(nameEnd);
        if (*r != '>') {
            return;
        }
        m_p = r + 1;
        t.type = TK_CLOSE;
        t.begin = q;
        t.end = nameEnd;
        return;
    }
    const bool instruction = p[1] == '?';
    const char* q = SkipBlanks(p + (instruction ? 2 : 1));
    if (!(Cls(*q) & CC_NAME_START)) {
        return;
    }
    m_p = ScanName(q);
    t.type = instruction ? TK_INSTRUCTION_OPEN : TK_ELEMENT_OPEN;
    t.begin = q;
    t.end = m_p;
}

// "/>" or "/" blanks ">" (a comment would have been skipped); otherwise
// the token stays an error and the line count is as before.
ATR_LEX_INLINE void AtrTextLexer::LexEmptyClose(Token& t)
{
    const int32_t lineBefore = m_line;
    const char* q = SkipBlanks(m_p + 1);
    if (*q == '>') {
        m_p = q + 1;
        t.type = TK_CLOSE;
        t.begin = t.end = q;
        return;
    }
    m_line = lineBefore;
}

// An attribute name (name "="), a constant, or a text running up to '<'.
ATR_LEX_INLINE void AtrTextLexer::LexName(Token& t)
{
    const char* nameEnd = ScanName(m_p);
    const int32_t lineBefore = m_line;
    const char* q = SkipBlanks(nameEnd);
    if (*q == '=') {
        m_p = SkipBlanks(q + 1);
        t.type = TK_ATTRIBUTE_NAME;
        t.end = nameEnd;
        return;
    }
    m_line = lineBefore;
    if (m_constants != nullptr && m_constants->FindParam(m_p, static_cast<size_t>(nameEnd - m_p), &t.constant) != 0) {
        t.type = TK_CONSTANT;
        t.end = nameEnd;
        m_p = nameEnd;
        if (*m_p == ',') {
            ++m_p;
        }
        return;
    }
    TextUpTo(m_p, false, t);
}

// A value between double quotes; a control byte other than a blank, or the
// end of the text, inside the quotes is an error without a message.
ATR_LEX_INLINE void AtrTextLexer::LexQuoted(Token& t)
{
    const char* begin = m_p + 1;
    const char* q = begin;
    int32_t lines = 0; // line feeds inside the quotes
    for (;; ++q) {
        if constexpr (kWideQuote) {
            // Straight to the next quote or control byte.
            while (m_textEnd + 1 - q >= 16) {
                const uint32_t stop = QuoteStopMask(q);
                if (stop != 0) {
                    q += __builtin_ctz(stop);
                    break;
                }
                q += 16;
            }
        }
        const char c = *q;
        if (c == '"') {
            break;
        }
        const uint8_t k = Cls(c);
        if (k & CC_CONTROL) {
            if (c == '\n') {
                ++lines;
            } else if (!(k & CC_BLANK)) {
                m_line += lines;
                return; // a control byte or the end of the text
            }
        }
    }
    m_line += lines;
    m_p = q + 1;
    SkipValueTail();
    t.type = TK_TEXT;
    t.begin = begin;
    t.end = q;
}

// An unquoted value: an integer, or a real when it holds a '.'. One that
// runs into anything but a blank or punctuation is a text up to '<' or '>'.
ATR_LEX_INLINE void AtrTextLexer::LexNumber(Token& t)
{
    const char* begin = m_p;
    const char* q = begin;
    bool real = false;
    while (Cls(*q) & CC_VALUE) {
        real |= *q == '.';
        ++q;
    }
    if (!(Cls(*q) & (CC_BLANK | CC_PUNCT))) {
        TextUpTo(begin, true, t);
        return;
    }
    m_p = q;
    SkipValueTail();
    t.type = real ? TK_REAL : TK_INTEGER;
    t.begin = begin;
    t.end = q;
}

// A text value from `begin` up to the next '<' (or '>' too when
// `stopAtTagEnd`); at the end of the text it is an error.
void AtrTextLexer::TextUpTo(const char* begin, bool stopAtTagEnd, Token& t)
{
    const char* q = begin;
    if (stopAtTagEnd) {
        while (*q != 0 && *q != '<' && *q != '>') {
            ++q;
        }
    } else {
        const void* lt = memchr(q, '<', static_cast<size_t>(m_textEnd - q));
        q = lt != nullptr ? static_cast<const char*>(lt) : m_textEnd;
    }
    CountLines(begin, q);
    m_p = q;
    if (*q == 0) {
        t.error = AtrTextErrorKind::BadEnd;
        return;
    }
    t.type = TK_TEXT;
    t.begin = begin;
    t.end = q;
}

bool AtrTextLexer::CommentBody(const char** begin, const char** end)
{
    const char* close = static_cast<const char*>(memmem(m_p, static_cast<size_t>(m_textEnd - m_p), "-->", 3));
    if (close == nullptr) {
        return false;
    }
    *begin = m_p;
    *end = close;
    CountLines(m_p, close);
    m_p = close + 3;
    return true;
}
