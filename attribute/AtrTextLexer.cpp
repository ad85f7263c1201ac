#include "attribute/AtrTextLexer.h"

#include "attribute/AtrDefAnalyzer.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace atr_text;

namespace {

// Quoted texts are searched sixteen bytes at a time for their end: one
// mask test per block instead of a branch per byte.
#if defined(__SSE2__)
constexpr bool kWideQuote = true;

// Bits of the bytes at q..q+15 that end or interrupt a quoted text: '"',
// the controls (0x00-0x1F, 0x7F), and 'Q' (noted for Token::noQ).
inline uint32_t QuoteStopMask(const char* q)
{
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(c, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
    const __m128i mark = _mm_or_si128(_mm_cmpeq_epi8(c, _mm_set1_epi8('"')), _mm_cmpeq_epi8(c, _mm_set1_epi8('Q')));
    const __m128i stop = _mm_or_si128(mark, _mm_or_si128(control, _mm_cmpeq_epi8(c, _mm_set1_epi8(0x7F))));
    return static_cast<uint32_t>(_mm_movemask_epi8(stop));
}
#else
constexpr bool kWideQuote = false;
inline uint32_t QuoteStopMask(const char*) { return 1; }
#endif

} // namespace

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

// A run of blanks: mostly a line feed and the next line's indent.
const char* AtrTextLexer::SkipBlankRun(const char* q)
{
    for (;;) {
        if (*q == '\n') {
            ++m_line;
            for (++q; *q == '\t'; ++q) {}
        } else if (Cls(*q) & CC_BLANK) {
            ++q;
        } else {
            return q;
        }
    }
}

// "<!--", "<?" name, "</" name ">" or "<" name; anything else after '<' is
// an error without a message.
void AtrTextLexer::LexAngle(Token& t)
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
void AtrTextLexer::LexEmptyClose(Token& t)
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

// A name not followed by '=': a constant, or a text running up to '<'.
void AtrTextLexer::LexNameValue(Token& t, const char* nameEnd)
{
    if (m_constants != nullptr && m_constants->FindParam(m_p, static_cast<size_t>(nameEnd - m_p), &t.integer) != 0) {
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
void AtrTextLexer::LexQuoted(Token& t)
{
    const char* begin = m_p + 1;
    const char* q = begin;
    int32_t lines = 0; // line feeds inside the quotes
    bool noQ = true;
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
        if (c == 'Q') {
            noQ = false;
            continue;
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
    t.noQ = noQ;
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
