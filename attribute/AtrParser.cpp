#include "attribute/AtrParser.h"

#include "attribute/AtrDefAnalyzer.h"
#include "attribute/AtrNode.h"
#include "kit/CvkFile.h"
#include "kit/CvkFileName.h"
#include "kit/CvkStringScan.h"
#include "platform/PlatformCodePage.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

// ---------------------------------------------------------------------------
// Messages: written here in UTF-8, converted once to the Shift_JIS bytes the
// log carries.

struct Messages {
    std::string lineFormat;  // "[%d行目] : %s\n"
    std::string badToken;    // トークンが不正です。
    std::string badEnd;      // 不正な終了。
    std::string closeBefore; // %sが閉じられる前に%sが閉じられています。
    Messages()
        : lineFormat(PlatformUtf8ToCp932("[%d行目] : %s\n")),
          badToken(PlatformUtf8ToCp932("トークンが不正です。")),
          badEnd(PlatformUtf8ToCp932("不正な終了。")),
          closeBefore(PlatformUtf8ToCp932("%sが閉じられる前に%sが閉じられています。"))
    {
    }
};

const Messages& Msg()
{
    static const Messages messages;
    return messages;
}

const char kQuoteName[] = "ATR_TEXT_DQ";
constexpr int32_t kQuoteNameLength = 11;
const char kTempRootName[] = "_ATR_ROOT";


// ---------------------------------------------------------------------------
// Tree calls of the reader.

inline AtrNode* TreeCreateChild(AtrNode* parent, const CvString& element)
{
    return AtrNode::Create(parent, element);
}

// Replaces the flags (mask 0) or adds bits (mask all ones).
inline void TreeSetFlags(AtrNode* node, uint32_t mask, uint32_t flags) { node->SetFlag(mask, flags, nullptr); }

inline bool TreeAddData(AtrNode* node, const AtrData& value) { return node->AddData(value) != nullptr; }

// CvkStringCnvAtoI for a value token (which begins with a digit or a sign
// and is followed by a byte that continues no number), inlined for speed.
inline uint32_t ParseInteger(const char* p)
{
    uint32_t base = 10;
    bool negative = false;
    if (p[0] == '0' && p[1] == 'x') {
        base = 16;
        p += 2;
    } else if (*p == '-') {
        negative = true;
        ++p;
    }
    uint32_t value = 0;
    if (base == 10) {
        for (; *p >= '0' && *p <= '9'; ++p) {
            value = value * 10 + static_cast<uint32_t>(*p - '0');
        }
        return negative ? 0u - value : value;
    }
    for (;; ++p) {
        uint32_t digit;
        const char c = *p;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            break;
        }
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

// atof of a real value token, as a float. Plain decimals ([sign] digits '.'
// digits, at most 15 significant digits) are converted exactly as strtod
// does: the digits form an integer that a double holds exactly, and one
// correctly rounded division by an exact power of ten gives the nearest
// double. Everything else goes to atof.
inline float ParseReal(const char* begin, const char* end)
{
    static const double powers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8,
                                    1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const char* p = begin;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    uint64_t digits = 0;
    int count = 0;
    int fraction = -1; // digits after the '.', -1 before it
    bool any = false;
    for (; p < end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            any = true;
            if (digits != 0 || c != '0') {
                if (++count > 15) {
                    return static_cast<float>(atof(begin));
                }
            }
            digits = digits * 10 + static_cast<uint64_t>(c - '0');
            if (fraction >= 0) {
                ++fraction;
            }
        } else if (c == '.' && fraction < 0) {
            fraction = 0;
        } else {
            return static_cast<float>(atof(begin));
        }
    }
    if (!any || fraction > 15) {
        return static_cast<float>(atof(begin));
    }
    double v = static_cast<double>(digits);
    if (fraction > 0) {
        v /= powers[fraction];
    }
    return static_cast<float>(negative ? -v : v);
}

// True when a Shift_JIS lead byte starts a double-byte character here.
inline bool IsSjisLead(unsigned char ch) { return (ch >= 0x81 && ch <= 0x9F) || (ch >= 0xE0 && ch <= 0xFC); }

// Position of the first "ATR_TEXT_DQ" that starts on a character boundary
// in [begin, end), or null.
const char* FindQuoteName(const char* begin, const char* end)
{
    // Most texts hold no 'Q' at all: one short scan settles them.
    if (end - begin < kQuoteNameLength || memchr(begin, 'Q', static_cast<size_t>(end - begin)) == nullptr) {
        return nullptr;
    }
    const char* p = begin;
    while (end - p >= kQuoteNameLength) {
        const void* hit = memmem(p, static_cast<size_t>(end - p), kQuoteName, kQuoteNameLength);
        if (hit == nullptr) {
            return nullptr;
        }
        const char* h = static_cast<const char*>(hit);
        // Walk characters from p up to h to see whether h is a trail byte.
        const char* q = p;
        while (q < h) {
            q += (IsSjisLead(static_cast<unsigned char>(*q)) && q + 1 < end) ? 2 : 1;
        }
        if (q == h) {
            return h;
        }
        p = q; // h was the trail byte of the character ending at q
    }
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------
// The reader: a cursor over one text with its tokens.

struct AtrParserReader {
    enum TokenType {
        TK_END,
        TK_COMMENT_OPEN,
        TK_INSTRUCTION_OPEN,
        TK_CLOSE,
        TK_ELEMENT_OPEN,
        TK_TAG_END,
        TK_ATTRIBUTE_NAME,
        TK_CONSTANT,
        TK_TEXT,
        TK_INTEGER,
        TK_REAL,
        TK_ERROR,
    };

    struct Token {
        TokenType type;
        const char* begin; // name or value bytes
        const char* end;
        bool logged;       // TK_ERROR: a message is already in the log
        int32_t constant;  // TK_CONSTANT: its value
    };

    // Texts seen in this document, so that repeated names and short values
    // share one string value. Names (of elements and attributes) and values
    // have tables of their own: the name of an attribute is looked up while
    // its value is held, and must not evict it.
    static constexpr uint32_t kSharedLength = 40; // longer texts are not shared
    struct NameSlot : CvkAllocator {
        uint32_t hash = 0;
        uint32_t length = 0;
        char bytes[kSharedLength] = {}; // a copy of the text of `name`, compared without touching it
        CvString name;
    };
    static constexpr uint32_t kNameSlotBits = 12;
    static constexpr uint32_t kNameSlots = 1u << kNameSlotBits;
    struct SharedTable {
        NameSlot* slots = new NameSlot[kNameSlots]; // null when memory ran out: nothing shared
        CvString scratch;                            // the text when it is not shared
        ~SharedTable() { delete[] slots; }
    };

    AtrParser* parser;
    const char* p;
    const char* textEnd;
    SharedTable names;
    SharedTable values;

    AtrParserReader(AtrParser* owner, const char* text) : parser(owner), p(text), textEnd(text + strlen(text)) {}

    void Log(const char* message) { parser->_logError(message); }

    // Counts the line feeds in [begin, end).
    void CountLines(const char* begin, const char* end)
    {
        while (begin < end) {
            const void* lf = memchr(begin, '\n', static_cast<size_t>(end - begin));
            if (lf == nullptr) {
                return;
            }
            ++parser->line;
            begin = static_cast<const char*>(lf) + 1;
        }
    }

    // Blanks and comments before a token.
    void Skip()
    {
        for (;;) {
            p = SkipBlanks(p);
            const char ch = *p;
            if (ch == '\'' || (ch == '/' && p[1] == '/')) {
                const void* lf = memchr(p, '\n', static_cast<size_t>(textEnd - p));
                if (lf == nullptr) {
                    p = textEnd;
                    return;
                }
                ++parser->line;
                p = static_cast<const char*>(lf) + 1;
            } else if (ch == '/' && p[1] == '*') {
                const char* close = static_cast<const char*>(memmem(p + 2, static_cast<size_t>(textEnd - p - 2), "*/", 2));
                if (close == nullptr) {
                    CountLines(p, textEnd);
                    p = textEnd;
                    return;
                }
                CountLines(p, close);
                p = close + 2;
            } else {
                return;
            }
        }
    }

    // Blanks only (inside tags around names); line feeds counted.
    const char* SkipBlanks(const char* q)
    {
        int32_t lines = 0;
        while (Cls(*q) & CC_BLANK) {
            lines += *q == '\n';
            ++q;
        }
        parser->line += lines;
        return q;
    }

    // True when sixteen bytes from q lie within the text and its terminator.
    bool Wide(const char* q) const { return textEnd + 1 - q >= 16; }

    static const char* ScanName(const char* q)
    {
        while (Cls(*q) & CC_NAME) {
            ++q;
        }
        return q;
    }

    // After a value: blanks and one ','.
    void SkipValueTail()
    {
        p = SkipBlanks(p);
        if (*p == ',') {
            ++p;
        }
    }

    bool IsConstant(const char* begin, const char* end, int32_t* value)
    {
        const AtrDefAnalyzer* constants = parser->constants;
        return constants != nullptr && constants->FindParam(begin, static_cast<size_t>(end - begin), value) != 0;
    }

    // A text value from `begin` up to the next '<' (or '>' too when
    // `stopAtTagEnd`); at the end of the text it is an error.
    void TextUpTo(const char* begin, bool stopAtTagEnd, Token* t)
    {
        const char* q = begin;
        if (stopAtTagEnd) {
            while (*q != 0 && *q != '<' && *q != '>') {
                ++q;
            }
        } else {
            const void* lt = memchr(q, '<', static_cast<size_t>(textEnd - q));
            q = lt != nullptr ? static_cast<const char*>(lt) : textEnd;
        }
        CountLines(begin, q);
        p = q;
        if (*q == 0) {
            Log(Msg().badEnd.c_str());
            t->type = TK_ERROR;
            t->logged = true;
            return;
        }
        t->type = TK_TEXT;
        t->begin = begin;
        t->end = q;
    }

    Token Next()
    {
        Skip();
        Token t{TK_ERROR, p, p, false, 0};
        const char ch = *p;
        const uint8_t cls = Cls(ch);
        if (ch == 0) {
            t.type = TK_END;
            return t;
        }
        if (ch == '<') {
            if (p[1] == '!') {
                if (p[2] == '-' && p[3] == '-') {
                    p += 4;
                    t.type = TK_COMMENT_OPEN;
                }
                return t; // "<!" without "--": error without a message
            }
            if (p[1] == '/') {
                const char* q = SkipBlanks(p + 2);
                if (!(Cls(*q) & CC_NAME_START)) {
                    return t;
                }
                const char* nameEnd = ScanName(q);
                const char* r = SkipBlanks(nameEnd);
                if (*r != '>') {
                    return t;
                }
                p = r + 1;
                t.type = TK_CLOSE;
                t.begin = q;
                t.end = nameEnd;
                return t;
            }
            const bool instruction = p[1] == '?';
            const char* q = SkipBlanks(p + (instruction ? 2 : 1));
            if (!(Cls(*q) & CC_NAME_START)) {
                return t; // '<' before neither a name nor "/", "?", "!--"
            }
            const char* nameEnd = ScanName(q);
            p = nameEnd;
            t.type = instruction ? TK_INSTRUCTION_OPEN : TK_ELEMENT_OPEN;
            t.begin = q;
            t.end = nameEnd;
            return t;
        }
        if (ch == '>') {
            ++p;
            t.type = TK_TAG_END;
            return t;
        }
        if (ch == '?' && p[1] == '>') {
            p += 2;
            t.type = TK_TAG_END;
            return t;
        }
        if (ch == '/') {
            // "/>" or "/" blanks ">"; a comment would have been skipped.
            const int32_t lineBefore = parser->line;
            const char* q = SkipBlanks(p + 1);
            if (*q == '>') {
                p = q + 1;
                t.type = TK_CLOSE;
                t.begin = t.end = q;
                return t;
            }
            parser->line = lineBefore;
        } else if (cls & CC_NAME_START) {
            const char* nameEnd = ScanName(p);
            const int32_t lineBefore = parser->line;
            const char* q = SkipBlanks(nameEnd);
            if (*q == '=') {
                p = SkipBlanks(q + 1);
                t.type = TK_ATTRIBUTE_NAME;
                t.end = nameEnd;
                return t;
            }
            parser->line = lineBefore;
            if (IsConstant(p, nameEnd, &t.constant)) {
                t.type = TK_CONSTANT;
                t.end = nameEnd;
                p = nameEnd;
                if (*p == ',') {
                    ++p;
                }
                return t;
            }
            TextUpTo(p, false, &t);
            return t;
        } else if (cls & CC_QUOTE) {
            const char* begin = p + 1;
            const char* q = begin;
            int32_t lines = 0; // line feeds inside the quotes
            for (;; ++q) {
                if constexpr (kWideQuote) {
                    // Straight to the next quote or control byte.
                    while (Wide(q)) {
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
                        parser->line += lines;
                        return t; // a control byte or the end of the text
                    }
                }
            }
            parser->line += lines;
            p = q + 1;
            SkipValueTail();
            t.type = TK_TEXT;
            t.begin = begin;
            t.end = q;
            return t;
        } else if (cls & (CC_DIGIT | CC_SIGN)) {
            const char* begin = p;
            const char* q = begin;
            bool real = false;
            while (Cls(*q) & CC_VALUE) {
                real |= *q == '.';
                ++q;
            }
            if (!(Cls(*q) & (CC_BLANK | CC_PUNCT))) {
                TextUpTo(begin, true, &t);
                return t;
            }
            p = q;
            SkipValueTail();
            t.type = real ? TK_REAL : TK_INTEGER;
            t.begin = begin;
            t.end = q;
            return t;
        }
        // A byte that begins no token.
        Log(Msg().badToken.c_str());
        t.logged = true;
        return t;
    }

    // The `rest` (1 to 8) bytes at q as the low bytes of a word. The word
    // is loaded whole and masked when eight bytes are readable there (the
    // text and its terminator), else byte by byte.
    uint64_t TailWord(const char* q, uint32_t rest) const
    {
        uint64_t w = 0;
        if (textEnd + 1 - q >= 8) {
            memcpy(&w, q, 8);
            return rest == 8 ? w : w & (~0ull >> (64 - 8 * rest));
        }
        for (uint32_t k = 0; k < rest; ++k) {
            w |= static_cast<uint64_t>(static_cast<unsigned char>(q[k])) << (8 * k);
        }
        return w;
    }

    // Hash of 1 to kSharedLength bytes of the text, eight at a time: one
    // multiplication per word; the high half is the hash (the slot index
    // takes its top bits).
    uint32_t HashBytes(const char* begin, uint32_t n) const
    {
        uint64_t h = n;
        uint32_t i = 0;
        for (; i + 8 < n; i += 8) {
            uint64_t w;
            memcpy(&w, begin + i, 8);
            h = (h ^ w) * 0x9E3779B97F4A7C15ull;
        }
        h = (h ^ TailWord(begin + i, n - i)) * 0x9E3779B97F4A7C15ull;
        return static_cast<uint32_t>(h >> 32);
    }

    // True when the slot's copy (kSharedLength bytes, of which the first n
    // count) equals the n bytes of the text at `begin`.
    bool SameAsSlot(const NameSlot& slot, const char* begin, uint32_t n) const
    {
        uint32_t i = 0;
        for (; i + 8 < n; i += 8) {
            uint64_t a;
            uint64_t b;
            memcpy(&a, slot.bytes + i, 8);
            memcpy(&b, begin + i, 8);
            if (a != b) {
                return false;
            }
        }
        uint64_t a;
        memcpy(&a, slot.bytes + i, 8);
        const uint32_t rest = n - i;
        if (rest < 8) {
            a &= ~0ull >> (64 - 8 * rest);
        }
        return a == TailWord(begin + i, rest);
    }

    // The shared string for the bytes [begin, end): names and short values
    // repeat throughout a document, and a shared value costs no allocation.
    // The reference stays valid until the next lookup in the same table.
    const CvString& Shared(SharedTable& table, const char* begin, const char* end)
    {
        static const CvString none;
        const uint32_t n = static_cast<uint32_t>(end - begin);
        if (table.slots == nullptr || n > kSharedLength) {
            table.scratch = CvString(begin, end);
            return table.scratch;
        }
        if (n == 0) {
            return none;
        }
        const uint32_t h = HashBytes(begin, n);
        NameSlot& slot = table.slots[h >> (32 - kNameSlotBits)];
        if (slot.hash == h && slot.length == n && SameAsSlot(slot, begin, n)) {
            return slot.name;
        }
        slot.name = CvString(begin, end);
        if (slot.name.GetLength() != static_cast<int32_t>(n)) {
            slot.hash = 0;
            slot.length = 0;
            table.scratch = slot.name; // out of memory: not shared
            slot.name = CvString();
            return table.scratch;
        }
        slot.hash = h;
        slot.length = n;
        memcpy(slot.bytes, begin, n);
        return slot.name;
    }

    const CvString& Name(const char* begin, const char* end) { return Shared(names, begin, end); }
    const CvString& Value(const char* begin, const char* end) { return Shared(values, begin, end); }

    // The value of a text token, "ATR_TEXT_DQ" turned into '"'.
    CvString TextValue(const Token& t)
    {
        if (t.begin == t.end) {
            return CvString();
        }
        const char* hit = FindQuoteName(t.begin, t.end);
        if (hit == nullptr) {
            return Value(t.begin, t.end);
        }
        std::string s;
        const char* from = t.begin;
        while (hit != nullptr) {
            s.append(from, hit);
            s.push_back('"');
            from = hit + kQuoteNameLength;
            hit = FindQuoteName(from, t.end);
        }
        s.append(from, t.end);
        return CvString(s.data(), s.data() + s.size());
    }

    // Hands the value of a value token to `add` in its native form (int32_t,
    // float or the text as a CvString), so the tree builds the value in
    // place; add's result is passed back.
    template <class Add>
    bool WithValue(const Token& t, Add&& add)
    {
        switch (t.type) {
        case TK_CONSTANT:
            return add(static_cast<int32_t>(t.constant));
        case TK_INTEGER:
            return add(static_cast<int32_t>(ParseInteger(t.begin)));
        case TK_REAL:
            return add(ParseReal(t.begin, t.end));
        default:
            if (t.end - t.begin <= static_cast<ptrdiff_t>(kSharedLength) && FindQuoteName(t.begin, t.end) == nullptr) {
                return add(Value(t.begin, t.end));
            }
            return add(TextValue(t));
        }
    }

    static bool IsValue(TokenType type)
    {
        return type == TK_CONSTANT || type == TK_TEXT || type == TK_INTEGER || type == TK_REAL;
    }

    static bool SameName(const Token& t, const CvString& name)
    {
        const int32_t n = static_cast<int32_t>(t.end - t.begin);
        return n == name.GetLength() && (n == 0 || memcmp(name.GetBuffer(), t.begin, static_cast<size_t>(n)) == 0);
    }

    void LogCloseMismatch(const CvString& open, const Token& close)
    {
        const std::string closeName(close.begin, close.end);
        const std::string openName(open.GetBuffer() != nullptr ? open.GetBuffer() : "");
        const std::string& f = Msg().closeBefore;
        const int n = snprintf(nullptr, 0, f.c_str(), openName.c_str(), closeName.c_str());
        std::string message(static_cast<size_t>(n > 0 ? n : 0), '\0');
        snprintf(message.data(), message.size() + 1, f.c_str(), openName.c_str(), closeName.c_str());
        Log(message.c_str());
    }

    enum TagResult { TAG_CONTENT, TAG_CLOSED, TAG_FAILED };

    // The attributes of a tag up to its end.
    TagResult ReadTag(AtrNode* node, const CvString& element)
    {
        for (;;) {
            const Token t = Next();
            switch (t.type) {
            case TK_ATTRIBUTE_NAME: {
                const Token v = Next();
                if (IsValue(v.type)) {
                    if (t.end - t.begin == static_cast<ptrdiff_t>(sizeof ATR_NODE_FLAG_NAME - 1) &&
                        memcmp(t.begin, ATR_NODE_FLAG_NAME, sizeof ATR_NODE_FLAG_NAME - 1) == 0) {
                        uint32_t flags;
                        if (v.type == TK_CONSTANT) {
                            flags = static_cast<uint32_t>(v.constant);
                        } else if (v.type == TK_TEXT) {
                            flags = CvkStringCnvAtoI(TextValue(v).GetBuffer());
                        } else {
                            flags = CvkStringCnvAtoI(v.begin);
                        }
                        TreeSetFlags(node, 0, flags | (node->GetFlag() & ATR_NODE_FLAG_INSTRUCTION));
                        break;
                    }
                    if (!WithValue(v, [&](const auto& x) {
                            return node->AddAttribute(Name(t.begin, t.end), x) != nullptr;
                        })) {
                        parser->SetError();
                        return TAG_FAILED;
                    }
                    break;
                }
                if (v.type == TK_TAG_END) {
                    return TAG_CONTENT;
                }
                if (v.type == TK_CLOSE) {
                    return TAG_CLOSED;
                }
                if (!(v.type == TK_ERROR && v.logged)) {
                    Log(Msg().badToken.c_str());
                }
                return TAG_FAILED;
            }
            case TK_TAG_END:
                return TAG_CONTENT;
            case TK_CLOSE:
                if (t.begin != t.end && !SameName(t, element)) {
                    LogCloseMismatch(element, t);
                    return TAG_FAILED;
                }
                return TAG_CLOSED;
            case TK_END:
                Log(Msg().badEnd.c_str());
                return TAG_FAILED;
            case TK_ERROR:
                if (!t.logged) {
                    Log(Msg().badToken.c_str());
                }
                return TAG_FAILED;
            default:
                Log(Msg().badToken.c_str());
                return TAG_FAILED;
            }
        }
    }

    // The document under `root` (null: as a chain of top-level nodes).
    // Iterative: `current` is the node whose content is being read (null at
    // the top level without a root), `depth` its level below the top.
    bool Read(AtrNode* root)
    {
        AtrNode* current = root;
        int64_t depth = 0;
        for (;;) {
            if (*p == 0) {
                return depth == 0; // an element left open at the end fails
            }
            const Token t = Next();
            switch (t.type) {
            case TK_END:
                return depth == 0;
            case TK_COMMENT_OPEN: {
                const char* close =
                    static_cast<const char*>(memmem(p, static_cast<size_t>(textEnd - p), "-->", 3));
                if (close == nullptr) {
                    return false;
                }
                AtrNode* node = CreateChild(current, CvString());
                if (node == nullptr) {
                    parser->SetError();
                    return false;
                }
                TreeSetFlags(node, ~0u, ATR_NODE_FLAG_COMMENT);
                AtrData text;
                if (close != p) {
                    text.SetString(CvString(p, close));
                } else {
                    text.SetString(CvString());
                }
                if (!TreeAddData(node, text)) {
                    parser->SetError();
                    return false;
                }
                CountLines(p, close);
                p = close + 3;
                break;
            }
            case TK_INSTRUCTION_OPEN:
            case TK_ELEMENT_OPEN: {
                const CvString& element = Name(t.begin, t.end);
                AtrNode* node = CreateChild(current, element);
                if (node == nullptr) {
                    parser->SetError();
                    return false;
                }
                const bool instruction = t.type == TK_INSTRUCTION_OPEN;
                if (instruction) {
                    TreeSetFlags(node, ~0u, ATR_NODE_FLAG_INSTRUCTION);
                }
                // The node's own element, not the shared slot, which
                // attribute names may reuse.
                const TagResult r = ReadTag(node, node->GetElement());
                if (r == TAG_FAILED) {
                    return false;
                }
                if (r == TAG_CONTENT && !instruction) {
                    current = node;
                    ++depth;
                }
                break;
            }
            case TK_CONSTANT:
            case TK_INTEGER:
            case TK_REAL:
            case TK_TEXT: {
                if (current == nullptr) {
                    break; // top-level values without a root are dropped
                }
                if (!WithValue(t, [&](const auto& x) { return current->AddData(x) != nullptr; })) {
                    parser->SetError();
                    return false;
                }
                break;
            }
            case TK_ATTRIBUTE_NAME:
                break; // the value behind it is read as data
            case TK_CLOSE: {
                const CvString& element = current != nullptr ? current->GetElement() : tempRootName;
                if (!SameName(t, element)) {
                    LogCloseMismatch(element, t);
                    return false;
                }
                if (depth == 0) {
                    return true;
                }
                current = current->GetParent();
                --depth;
                break;
            }
            default:
                return false; // a stray tag end or an error
            }
        }
    }

    // Without a root, the top-level nodes are chained here as they come;
    // the chain reads as the children of a node named "_ATR_ROOT".
    AtrNode* CreateChild(AtrNode* parent, const CvString& element)
    {
        if (parent != nullptr) {
            return TreeCreateChild(parent, element);
        }
        AtrNode* node = AtrNode::Create(nullptr, element);
        if (node != nullptr) {
            if (lastTop != nullptr) {
                lastTop->AddNext(node);
            } else {
                firstTop = node;
            }
            lastTop = node;
        }
        return node;
    }

    AtrNode* firstTop = nullptr;
    AtrNode* lastTop = nullptr;
    const CvString tempRootName{kTempRootName};
};

// ---------------------------------------------------------------------------

AtrParser::AtrParser() : analyzer(new AtrDefAnalyzer), constants(analyzer), line(1), fileSize(0)
{
    SetTag(0x41545250); // "ATRP"
    if (analyzer == nullptr) {
        SetError();
    }
    Msg();
}

AtrParser::~AtrParser()
{
    delete analyzer;
}

void AtrParser::SetDefAnalyzer(AtrDefAnalyzer* lent)
{
    constants = lent != nullptr ? lent : analyzer;
}

void AtrParser::_logError(const char* message)
{
    errorLog.AppendFormat(Msg().lineFormat.c_str(), line, message);
    SetError();
}

int32_t AtrParser::AddConstantDefinition(const char* path)
{
    if (constants == nullptr) {
        SetError();
        return 0;
    }
    return constants->AddConstantDefinition(path);
}

AtrNode* AtrParser::CreateTreeFromText(const char* text, AtrNode* root)
{
    line = 1;
    if (text == nullptr) {
        SetError();
        return nullptr;
    }
    AtrParserReader reader(this, text);
    const bool ok = reader.Read(root) && CheckError() == 0;
    if (root != nullptr) {
        return ok ? root : nullptr;
    }
    if (ok) {
        return reader.firstTop;
    }
    for (AtrNode* n = reader.firstTop; n != nullptr;) {
        AtrNode* next = n->GetNext();
        AtrNode::Destroy(n, nullptr);
        n = next;
    }
    return nullptr;
}

AtrNode* AtrParser::CreateTreeFromFile(const char* path, AtrNode*)
{
    fileSize = 0;
    if (path == nullptr) {
        SetError();
        return nullptr;
    }
    const CvString expanded = CvkFileNameExtractEnvName(path);
    CvkFile file(expanded.GetBuffer());
    if (file.CheckError() != 0 || !file.ReadFile(nullptr, 0, 0) || file.GetSize() == 0 || file.GetBuffer() == nullptr) {
        SetError();
        return nullptr;
    }
    fileSize = file.GetSize();
    return CreateTreeFromText(static_cast<const char*>(file.GetBuffer()), nullptr);
}

// ---------------------------------------------------------------------------
// Writing.

namespace {

// Builds the output text; remembers when a piece could not be appended.
// Pieces gather in a local buffer that goes to the string a block at a time.
struct TextSink {
    CvString out;
    int64_t expected = 0; // bytes put so far
    int64_t flushed = 0;  // bytes handed to `out`
    bool failed = false;
    bool indent = true;   // lines begin with one TAB per level
    size_t used = 0;
    char block[16 * 1024];

    void Put(const char* s, size_t n)
    {
        if (failed || n == 0) {
            return;
        }
        if (expected + static_cast<int64_t>(n) > INT32_MAX - 1) {
            failed = true;
            return;
        }
        expected += static_cast<int64_t>(n);
        if (used + n > sizeof block) {
            Flush();
            if (n > sizeof block) {
                Append(s, n);
                return;
            }
        }
        memcpy(block + used, s, n);
        used += n;
    }
    // Hands the buffered bytes to `out`; call before using `out`.
    void Flush()
    {
        if (used != 0) {
            Append(block, used);
            used = 0;
        }
    }
    void Append(const char* s, size_t n)
    {
        if (failed) {
            return;
        }
        out.Append(s, s + n);
        flushed += static_cast<int64_t>(n);
        if (out.GetLength() != flushed) {
            failed = true;
        }
    }
    // A float with `decimals` (1 or 6) digits after the point, as "%.1f" and
    // "%f" write it: the exact binary value rounded to nearest, ties to even.
    // Values beyond 64-bit integers, infinities and NaNs go to printf.
    void PutFixed(float f, int decimals)
    {
        uint32_t bits;
        memcpy(&bits, &f, sizeof bits);
        const uint32_t exponent = (bits >> 23) & 0xFF;
        const uint64_t scale = decimals == 1 ? 10u : 1000000u;
        uint64_t m = bits & 0x7FFFFF;
        int32_t e;
        if (exponent == 0) {
            e = -149;
        } else {
            m |= 0x800000;
            e = static_cast<int32_t>(exponent) - 150;
        }
        if (exponent == 0xFF || e > 39) {
            Printf(decimals == 1 ? "%.1f" : "%f", static_cast<double>(f));
            return;
        }
        uint64_t whole;
        uint64_t fraction;
        if (e >= 0) {
            whole = m << e;
            fraction = 0;
        } else {
            const uint32_t k = static_cast<uint32_t>(-e);
            uint64_t n = 0; // m * scale / 2^k rounded; below a half when k > 44
            if (k <= 44) {
                const uint64_t product = m * scale; // < 2^44
                n = product >> k;
                const uint64_t rest = product - (n << k);
                const uint64_t half = 1ull << (k - 1);
                if (rest > half || (rest == half && (n & 1) != 0)) {
                    ++n;
                }
            }
            whole = n / scale;
            fraction = n % scale;
        }
        char digits[48];
        char* q = digits + sizeof digits;
        for (int i = 0; i < decimals; ++i) {
            *--q = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        *--q = '.';
        do {
            *--q = static_cast<char>('0' + whole % 10);
            whole /= 10;
        } while (whole != 0);
        if ((bits >> 31) != 0) {
            *--q = '-';
        }
        Put(q, static_cast<size_t>(digits + sizeof digits - q));
    }
    // A signed decimal, as "%d" writes it.
    void PutInt(int32_t v)
    {
        char digits[12];
        char* q = digits + sizeof digits;
        uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
        do {
            *--q = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u != 0);
        if (v < 0) {
            *--q = '-';
        }
        Put(q, static_cast<size_t>(digits + sizeof digits - q));
    }
    void Put(const char* s) { Put(s, s != nullptr ? strlen(s) : 0); }
    void Put(const CvString& s) { Put(s.GetBuffer(), static_cast<size_t>(s.GetLength())); }
    void Printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        char buffer[512];
        va_list args;
        va_start(args, fmt);
        const int n = vsnprintf(buffer, sizeof buffer, fmt, args);
        va_end(args);
        if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) {
            failed = true;
            return;
        }
        Put(buffer, static_cast<size_t>(n));
    }
    void Indent(int64_t depth)
    {
        static const char tabs[] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
        while (indent && depth > 0 && !failed) {
            const int64_t n = depth < 32 ? depth : 32;
            Put(tabs, static_cast<size_t>(n));
            depth -= n;
        }
    }
    // A text with every '"' written as "ATR_TEXT_DQ".
    void PutEscaped(const CvString& s)
    {
        const char* p = s.GetBuffer();
        const char* end = p + s.GetLength();
        while (p < end) {
            const void* q = memchr(p, '"', static_cast<size_t>(end - p));
            if (q == nullptr) {
                Put(p, static_cast<size_t>(end - p));
                return;
            }
            const char* quote = static_cast<const char*>(q);
            Put(p, static_cast<size_t>(quote - p));
            Put(kQuoteName, kQuoteNameLength);
            p = quote + 1;
        }
    }
};

bool IsWholeNumber(float v)
{
    double whole;
    const double fraction = std::modf(static_cast<double>(v), &whole);
    return std::fabs(fraction) < 1e-7;
}

// One attribute; false when its kind is not written.
bool WriteAttributeItem(TextSink& sink, AtrAttribute* a, int32_t quoted, bool withBuffer)
{
    AtrData* d = a->GetData();
    const CvString& name = a->GetName();
    switch (d->GetType()) {
    case CVK_VARIANT_TYPE_SINT:
    case CVK_VARIANT_TYPE_UINT:
        sink.Put(" ");
        sink.Put(name);
        sink.Put(quoted ? " = \"" : " = ");
        sink.PutInt(d->GetS32());
        if (quoted) {
            sink.Put("\"");
        }
        return true;
    case CVK_VARIANT_TYPE_FLOAT: {
        sink.Put(" ");
        sink.Put(name);
        if (quoted) {
            sink.Put(" = \"");
            sink.PutFixed(d->GetF32(), 6);
            sink.Put("\"");
        } else {
            sink.Put(" = ");
            sink.PutFixed(d->GetF32(), IsWholeNumber(d->GetF32()) ? 1 : 6);
        }
        return true;
    }
    case CVK_VARIANT_TYPE_STRING:
        sink.Put(" ");
        sink.Put(name);
        sink.Put(" = \"");
        sink.PutEscaped(d->GetCvString());
        sink.Put("\"");
        return true;
    case CVK_VARIANT_TYPE_BUF:
        if (!withBuffer) {
            return false;
        }
        sink.Put(" ");
        sink.Put(name);
        sink.Put(" = 0");
        return true;
    default:
        return false;
    }
}

void WriteAttributeList(TextSink& sink, AtrAttribute* first, int32_t quoted, bool withBuffer)
{
    for (AtrAttribute* a = first; a != nullptr; a = a->GetNext()) {
        if (WriteAttributeItem(sink, a, quoted, withBuffer) && !quoted && a->GetNext() != nullptr) {
            sink.Put(",");
        }
    }
}

void WriteDataList(TextSink& sink, AtrNode* node, int64_t depth)
{
    for (AtrData* d = node->GetData(0); d != nullptr; d = d->GetNext()) {
        switch (d->GetType()) {
        case CVK_VARIANT_TYPE_SINT:
        case CVK_VARIANT_TYPE_UINT:
            sink.Indent(depth);
            sink.PutInt(d->GetS32());
            sink.Put(",\n");
            break;
        case CVK_VARIANT_TYPE_FLOAT:
            sink.Indent(depth);
            sink.PutFixed(d->GetF32(), IsWholeNumber(d->GetF32()) ? 1 : 6);
            sink.Put(",\n");
            break;
        case CVK_VARIANT_TYPE_STRING:
            sink.Indent(depth);
            sink.Put("\"");
            sink.PutEscaped(d->GetCvString());
            sink.Put("\",\n");
            break;
        default:
            break;
        }
    }
}

// The opening of a node; true when content and a closing tag follow.
bool WriteOpen(TextSink& sink, AtrNode* node, int64_t depth, int32_t quoted)
{
    sink.Indent(depth);
    sink.Put("<");
    const uint32_t flags = node->GetFlag();
    if (flags & ATR_NODE_FLAG_COMMENT) {
        sink.Put("!--");
        if (AtrData* d = node->GetData(0)) {
            sink.Put(d->GetString());
        }
        sink.Put("-->\n");
        return false;
    }
    const bool instruction = (flags & ATR_NODE_FLAG_INSTRUCTION) != 0;
    if (instruction) {
        sink.Put("?");
    }
    sink.Put(node->GetElement());
    AtrAttribute* first = node->GetAttribute(0);
    const uint32_t shown = flags & ~(ATR_NODE_FLAG_INSTRUCTION | ATR_NODE_FLAG_COMMENT);
    if (shown != 0) {
        sink.Printf(quoted ? " %s = \"%d\"" : " %s = %d", ATR_NODE_FLAG_NAME, static_cast<int32_t>(shown));
        if (!quoted && first != nullptr) {
            sink.Put(",");
        }
    }
    WriteAttributeList(sink, first, quoted, true);
    if (instruction) {
        sink.Put(" ?>\n");
        return false;
    }
    if (node->GetDataSize() == 0 && node->GetChild(0) == nullptr) {
        sink.Put(" />\n");
        return false;
    }
    sink.Put(">\n");
    WriteDataList(sink, node, depth + 1);
    return true;
}

void WriteClose(TextSink& sink, AtrNode* node, int64_t depth)
{
    sink.Indent(depth);
    sink.Put("</");
    sink.Put(node->GetElement());
    sink.Put(">\n");
}

// First node named "xml" in pre-order over `root` and its descendants.
AtrNode* FindXml(AtrNode* root)
{
    AtrNode* n = root;
    while (n != nullptr) {
        if (n->GetElement() == "xml") {
            return n;
        }
        if (AtrNode* c = n->GetChild(0)) {
            n = c;
            continue;
        }
        while (n != root && n->GetNext() == nullptr) {
            n = n->GetParent();
        }
        if (n == root) {
            return nullptr;
        }
        n = n->GetNext();
    }
    return nullptr;
}

} // namespace

namespace {

// `top` and its subtree (not its following siblings), without recursion.
void WriteSubtree(TextSink& sink, AtrNode* top, int32_t quoted)
{
    AtrNode* n = top;
    int64_t depth = 0;
    for (;;) {
        bool descended = false;
        if (WriteOpen(sink, n, depth, quoted)) {
            if (AtrNode* c = n->GetChild(0)) {
                n = c;
                ++depth;
                descended = true;
            } else {
                WriteClose(sink, n, depth);
            }
        }
        if (descended) {
            continue;
        }
        if (sink.failed) {
            break;
        }
        // Up to the next node that follows in pre-order below `top`.
        while (n != top && n->GetNext() == nullptr) {
            n = n->GetParent();
            --depth;
            WriteClose(sink, n, depth);
        }
        if (n == top) {
            break;
        }
        n = n->GetNext();
    }
}

CvString Finish(AtrParser* parser, TextSink& sink)
{
    sink.Flush();
    if (sink.failed) {
        parser->SetError();
        return CvString();
    }
    return sink.out;
}

} // namespace

CvString AtrParser::WriteTree(AtrNode* root, int32_t quoted)
{
    TextSink sink;
    if (quoted && root != nullptr) {
        if (AtrNode* xml = FindXml(root)) {
            if (xml->CheckAttribute("encoding") == 0) {
                xml->AddAttribute("encoding", "Shift_JIS");
            }
        } else {
            sink.Put("<?xml version=\"1.0\" encoding=\"Shift_JIS\" ?>\n");
        }
    }
    for (AtrNode* top = root; top != nullptr && !sink.failed; top = top->GetNext()) {
        WriteSubtree(sink, top, quoted);
    }
    return Finish(this, sink);
}

CvString AtrParser::WriteNode(AtrNode* node, int32_t quoted, int32_t indent)
{
    TextSink sink;
    sink.indent = indent != 0;
    if (node != nullptr) {
        WriteSubtree(sink, node, quoted);
    }
    return Finish(this, sink);
}

CvString AtrParser::WriteAttribute(AtrNode* node, int32_t quoted)
{
    TextSink sink;
    if (node == nullptr) {
        return CvString();
    }
    sink.Put("<");
    sink.Put(node->GetElement());
    WriteAttributeList(sink, node->GetAttribute(0), quoted, false);
    sink.Put("/>\n");
    sink.Flush();
    if (sink.failed) {
        SetError();
        return CvString();
    }
    return sink.out;
}

int32_t AtrParser::OutputTree(AtrNode* root, const char* path, int32_t quoted)
{
    fileSize = 0;
    if (path == nullptr) {
        return 0;
    }
    const CvString text = WriteTree(root, quoted);
    if (text.GetLength() == 0) {
        return 0;
    }
    const CvString expanded = CvkFileNameExtractEnvName(path);
    CvkFile file(expanded.GetBuffer());
    if (file.CheckError() != 0 || !file.WriteFile(text.GetBuffer(), static_cast<uint32_t>(text.GetLength()))) {
        return 0;
    }
    fileSize = static_cast<uint32_t>(text.GetLength());
    return 1;
}
