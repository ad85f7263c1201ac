#include "attribute/AtrTreeBuilder.h"

#include "attribute/AtrNodeAppend.h"
#include "attribute/AtrParser.h"
#include "kit/CvkArena.h"
#include "kit/CvkStringScan.h"

#include <cstring>

namespace {

using Lexer = AtrTextLexer;

// The additions of values compiled into the loops that read them.
#define ATR_BUILD_INLINE __attribute__((always_inline))

constexpr size_t kQuoteNameLength = sizeof ATR_TEXT_DQ_NAME - 1;
constexpr size_t kFlagNameLength = sizeof ATR_NODE_FLAG_NAME - 1;

// The close tag of the top level when the document is read without a root:
// the chain reads as the children of a node of this name.
constexpr char kTempRootName[] = "_ATR_ROOT";

// True when a Shift_JIS lead byte starts a double-byte character here.
inline bool IsSjisLead(unsigned char ch) { return (ch >= 0x81 && ch <= 0x9F) || (ch >= 0xE0 && ch <= 0xFC); }

// Position of the first "ATR_TEXT_DQ" that starts on a character boundary
// in [begin, end), or null.
const char* FindQuoteName(const char* begin, const char* end)
{
    // Most texts hold no 'Q' at all: one short scan settles them.
    if (end - begin < static_cast<ptrdiff_t>(kQuoteNameLength) ||
        memchr(begin, 'Q', static_cast<size_t>(end - begin)) == nullptr) {
        return nullptr;
    }
    const char* p = begin;
    while (end - p >= static_cast<ptrdiff_t>(kQuoteNameLength)) {
        const void* hit = memmem(p, static_cast<size_t>(end - p), ATR_TEXT_DQ_NAME, kQuoteNameLength);
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

bool IsValue(Lexer::TokenType type)
{
    return type == Lexer::TK_CONSTANT || type == Lexer::TK_TEXT || type == Lexer::TK_INTEGER || type == Lexer::TK_REAL;
}

bool SameName(const Lexer::Token& t, const char* name, size_t length)
{
    const size_t n = static_cast<size_t>(t.end - t.begin);
    return n == length && (n == 0 || memcmp(name, t.begin, n) == 0);
}

bool SameName(const Lexer::Token& t, const CvString& name)
{
    return SameName(t, name.GetBuffer(), static_cast<size_t>(name.GetLength()));
}

} // namespace

AtrTreeBuilder::AtrTreeBuilder(const char* text, const AtrDefAnalyzer* constants) :
    m_lexer(text, constants), m_names(m_lexer.ReadableEnd()), m_values(m_lexer.ReadableEnd())
{}

AtrTreeBuilder::~AtrTreeBuilder()
{
    SetArena(nullptr); // the pools let go of the arena's texts before it may be released
    AtrNodeDestroyChain(m_firstTop);
}

void AtrTreeBuilder::SetArena(CvkArena* arena)
{
    m_arena = arena;
    m_names.SetHome(arena);
    m_values.SetHome(arena);
}

AtrNode* AtrTreeBuilder::ReleaseChain()
{
    AtrNode* first = m_firstTop;
    m_firstTop = m_lastTop = nullptr;
    return first;
}

void AtrTreeBuilder::Fail(AtrTextErrorKind kind)
{
    if (m_error.kind == AtrTextErrorKind::None) {
        m_error.kind = kind;
        m_error.line = m_lexer.Line();
    }
}

void AtrTreeBuilder::FailCloseMismatch(const CvString& open, const Token& close)
{
    if (m_error.kind == AtrTextErrorKind::None) {
        m_error.open.assign(open.GetBuffer() != nullptr ? open.GetBuffer() : "");
        m_error.close.assign(close.begin, close.end);
    }
    Fail(AtrTextErrorKind::CloseMismatch);
}

// Content: the top level at depth 0, an element's content one level deeper.
bool AtrTreeBuilder::Read(AtrNode* root)
{
    m_current = root;
    m_depth = 0;
    if (root != nullptr) {
        SetArena(CvkArenaOf(root));
    }
    for (;;) {
        const Token t = m_lexer.Next();
        Step step = STEP_ON;
        switch (t.type) {
        case Lexer::TK_END:
            // An element left open at the end fails.
            step = m_depth == 0 ? STEP_DONE : STEP_FAILED;
            break;
        case Lexer::TK_COMMENT_OPEN: step = ReadComment(); break;
        case Lexer::TK_INSTRUCTION_OPEN:
        case Lexer::TK_ELEMENT_OPEN: step = ReadElement(t); break;
        case Lexer::TK_CONSTANT:
        case Lexer::TK_INTEGER:
        case Lexer::TK_REAL:
        case Lexer::TK_TEXT: step = AddContentValue(t); break;
        case Lexer::TK_ATTRIBUTE_NAME: break; // the value behind it is read as data
        case Lexer::TK_CLOSE: step = CloseContent(t); break;
        default: step = STEP_FAILED; break; // a stray tag end or an error
        }
        if (step == STEP_FAILED) {
            Fail(t.error != AtrTextErrorKind::None ? t.error : AtrTextErrorKind::Silent);
        }
        if (step != STEP_ON) {
            return step == STEP_DONE;
        }
    }
}

// A comment node: flag ATR_NODE_FLAG_COMMENT and its body as one text.
AtrTreeBuilder::Step AtrTreeBuilder::ReadComment()
{
    const char* begin;
    const char* end;
    if (!m_lexer.CommentBody(&begin, &end)) {
        return STEP_FAILED;
    }
    AtrNode* node = CreateChild(CvString());
    if (node != nullptr) {
        node->SetFlag(~0u, ATR_NODE_FLAG_COMMENT, nullptr);
        AtrData text;
        text.SetString(begin != end ? CvString(begin, end) : CvString());
        if (node->AddData(text) != nullptr) {
            return STEP_ON;
        }
    }
    Fail(AtrTextErrorKind::Memory);
    return STEP_FAILED;
}

// An element or an instruction: its tag, then (for an element that is not
// empty) its content one level deeper.
AtrTreeBuilder::Step AtrTreeBuilder::ReadElement(const Token& t)
{
    AtrNode* node = CreateChild(m_names.Get(t.begin, t.end));
    if (node == nullptr) {
        Fail(AtrTextErrorKind::Memory);
        return STEP_FAILED;
    }
    const bool instruction = t.type == Lexer::TK_INSTRUCTION_OPEN;
    if (instruction) {
        node->SetFlag(~0u, ATR_NODE_FLAG_INSTRUCTION, nullptr);
    }
    const TagResult r = ReadTag(node);
    if (r == TAG_FAILED) {
        return STEP_FAILED;
    }
    if (r == TAG_CONTENT && !instruction) {
        m_current = node;
        ++m_depth;
    }
    return STEP_ON;
}

AtrTreeBuilder::Step AtrTreeBuilder::AddContentValue(const Token& t)
{
    if (m_current == nullptr) {
        return STEP_ON; // top-level values without a root are dropped
    }
    if (!WithValue(t, [&](const auto& x) ATR_BUILD_INLINE { return m_current->_appendData(m_arena, x) != nullptr; })) {
        Fail(AtrTextErrorKind::Memory);
        return STEP_FAILED;
    }
    return STEP_ON;
}

// A close tag ends the content of the node of its name; at the top level
// it ends the reading.
AtrTreeBuilder::Step AtrTreeBuilder::CloseContent(const Token& t)
{
    if (m_current == nullptr) {
        if (!SameName(t, kTempRootName, sizeof kTempRootName - 1)) {
            FailCloseMismatch(CvString(kTempRootName), t);
            return STEP_FAILED;
        }
        return STEP_DONE;
    }
    if (!SameName(t, m_current->GetElement())) {
        FailCloseMismatch(m_current->GetElement(), t);
        return STEP_FAILED;
    }
    if (m_depth == 0) {
        return STEP_DONE;
    }
    m_current = m_current->GetParent();
    --m_depth;
    return STEP_ON;
}

// The attributes of a tag up to its end.
AtrTreeBuilder::TagResult AtrTreeBuilder::ReadTag(AtrNode* node)
{
    for (;;) {
        const Token t = m_lexer.Next();
        switch (t.type) {
        case Lexer::TK_ATTRIBUTE_NAME: {
            const TagResult r = ReadAttribute(node, t);
            if (r != TAG_MORE) {
                return r;
            }
            break;
        }
        case Lexer::TK_TAG_END: return TAG_CONTENT;
        case Lexer::TK_CLOSE: return CloseTag(node, t);
        case Lexer::TK_END: Fail(AtrTextErrorKind::BadEnd); return TAG_FAILED;
        default: Fail(t.error != AtrTextErrorKind::None ? t.error : AtrTextErrorKind::BadToken); return TAG_FAILED;
        }
    }
}

// One attribute: its value, or the flags for ATR_NODE_FLAG_NAME. A tag end
// or a close tag in place of the value ends the tag. Compiled into ReadTag's
// loop (as is WithValue): a call per tag rather than per attribute.
[[gnu::always_inline]] inline AtrTreeBuilder::TagResult AtrTreeBuilder::ReadAttribute(AtrNode* node, const Token& name)
{
    const Token v = m_lexer.Next();
    if (!IsValue(v.type)) {
        if (v.type == Lexer::TK_TAG_END) {
            return TAG_CONTENT;
        }
        if (v.type == Lexer::TK_CLOSE) {
            return TAG_CLOSED;
        }
        Fail(v.error != AtrTextErrorKind::None ? v.error : AtrTextErrorKind::BadToken);
        return TAG_FAILED;
    }
    if (SameName(name, ATR_NODE_FLAG_NAME, kFlagNameLength)) {
        SetNodeFlags(node, v);
        return TAG_MORE;
    }
    if (!WithValue(v, [&](const auto& x) ATR_BUILD_INLINE {
            return node->_appendAttribute(m_arena, m_names.Get(name.begin, name.end), x) != nullptr;
        })) {
        Fail(AtrTextErrorKind::Memory);
        return TAG_FAILED;
    }
    return TAG_MORE;
}

// An empty-element close ("/>") or a close tag naming the node itself.
AtrTreeBuilder::TagResult AtrTreeBuilder::CloseTag(AtrNode* node, const Token& t)
{
    const CvString& element = node->GetElement();
    if (t.begin != t.end && !SameName(t, element)) {
        FailCloseMismatch(element, t);
        return TAG_FAILED;
    }
    return TAG_CLOSED;
}

// The value of ATR_NODE_FLAG replaces the node's flags (the instruction
// mark stays).
void AtrTreeBuilder::SetNodeFlags(AtrNode* node, const Token& v)
{
    uint32_t flags;
    if (v.type == Lexer::TK_CONSTANT) {
        flags = static_cast<uint32_t>(v.integer);
    } else if (v.type == Lexer::TK_TEXT) {
        flags = CvkStringCnvAtoI(TextValue(v).GetBuffer());
    } else {
        flags = CvkStringCnvAtoI(v.begin);
    }
    node->SetFlag(0, flags | (node->GetFlag() & ATR_NODE_FLAG_INSTRUCTION), nullptr);
}

// Hands the value of a value token to `add` in its native form (int32_t,
// float or the text as a CvString), so the tree builds the value in place;
// add's result is passed back.
template <class Add>
[[gnu::always_inline]] inline bool AtrTreeBuilder::WithValue(const Token& t, Add&& add)
{
    switch (t.type) {
    case Lexer::TK_CONSTANT:
    case Lexer::TK_INTEGER: return add(t.integer);
    case Lexer::TK_REAL: return add(t.real);
    default: return add(TextValue(t));
    }
}

// The value of a text token, "ATR_TEXT_DQ" turned into '"': a string of the
// document's arena, valid until the next value.
const CvString& AtrTreeBuilder::TextValue(const Token& t)
{
    const char* hit = t.noQ ? nullptr : FindQuoteName(t.begin, t.end); // the name holds a 'Q'
    if (hit == nullptr) {
        return m_values.Get(t.begin, t.end);
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
    return m_values.Unshared(s.data(), s.data() + s.size());
}

// A child of the node being read; at the top level without a root, the
// next node of the chain.
AtrNode* AtrTreeBuilder::CreateChild(const CvString& element)
{
    return m_current != nullptr ? m_current->_appendChild(m_arena, element) : CreateTop(element);
}

// Behind the last one, a top-level node joins its document; the first one
// starts it, and the pools move into its arena.
AtrNode* AtrTreeBuilder::CreateTop(const CvString& element)
{
    AtrNode* node = m_lastTop != nullptr ? m_lastTop->AddNext(element) : AtrNode::Create(nullptr, element);
    if (node == nullptr) {
        return nullptr;
    }
    if (m_lastTop == nullptr) {
        m_firstTop = node;
        SetArena(CvkArenaOf(node));
    }
    m_lastTop = node;
    return node;
}
