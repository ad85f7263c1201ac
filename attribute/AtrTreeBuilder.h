#pragma once
// AtrTreeBuilder: reads the tokens of one attribute text into an attribute
// tree.
//
// The builder is iterative (the depth of a document is not limited by the
// machine stack): it keeps the node whose content is being read and its
// depth. Names and short values come from two shared-text pools, one for
// names and one for values (an attribute's name is looked up while its value
// is held and must not evict it). The pools make their texts in the arena of
// the document (known once its first node exists), and the builder hands
// that arena to the tree's additions, so that a name or value costs a
// reference count and nothing is looked up per object. The first failure of
// a reading is recorded once, with its kind and line; the parser formats its
// message.
#include "attribute/AtrSharedText.h"
#include "attribute/AtrTextLexer.h"
#include "kit/CvString.h"

#include <cstdint>
#include <string>

class AtrDefAnalyzer;
class AtrNode;
class CvkArena;

// The first failure of a reading.
struct AtrTextError {
    AtrTextErrorKind kind = AtrTextErrorKind::None;
    int32_t line = 0;
    std::string open;  // CloseMismatch: the element left open
    std::string close; // and the name of the close tag
};

class AtrTreeBuilder {
public:
    AtrTreeBuilder(const char* text, const AtrDefAnalyzer* constants);
    // Destroys the top-level chain unless it was released.
    ~AtrTreeBuilder();
    AtrTreeBuilder(const AtrTreeBuilder&) = delete;
    AtrTreeBuilder& operator=(const AtrTreeBuilder&) = delete;

    // Reads the document under `root`, or as a chain of top-level nodes when
    // `root` is null. False on failure; Error() tells why.
    bool Read(AtrNode* root);
    // The first top-level node of a reading without a root (the caller now
    // owns the chain).
    AtrNode* ReleaseChain();

    const AtrTextError& Error() const { return m_error; }
    int32_t Line() const { return m_lexer.Line(); }

private:
    using Token = AtrTextLexer::Token;
    enum Step : uint8_t {
        STEP_ON,
        STEP_DONE,
        STEP_FAILED
    };
    // TAG_MORE: an attribute was read and the tag goes on.
    enum TagResult : uint8_t {
        TAG_MORE,
        TAG_CONTENT,
        TAG_CLOSED,
        TAG_FAILED
    };

    Step ReadComment();
    Step ReadElement(const Token& t);
    Step AddContentValue(const Token& t);
    Step CloseContent(const Token& t);
    TagResult ReadTag(AtrNode* node);
    TagResult ReadAttribute(AtrNode* node, const Token& name);
    TagResult CloseTag(AtrNode* node, const Token& t);
    void SetNodeFlags(AtrNode* node, const Token& v);
    template <class Add>
    bool WithValue(const Token& t, Add&& add);
    const CvString& TextValue(const Token& t);
    AtrNode* CreateChild(const CvString& element);
    AtrNode* CreateTop(const CvString& element);
    // The document's arena (null outside arenas) for the pools and additions.
    void SetArena(CvkArena* arena);
    // Records the first failure; later ones change nothing.
    void Fail(AtrTextErrorKind kind);
    void FailCloseMismatch(const CvString& open, const Token& close);

    AtrTextLexer m_lexer;
    AtrSharedText m_names;
    AtrSharedText m_values;
    AtrTextError m_error;
    CvkArena* m_arena = nullptr;   // the arena of the document's nodes
    AtrNode* m_current = nullptr;  // the node whose content is being read
    int64_t m_depth = 0;           // its level below the top
    AtrNode* m_firstTop = nullptr; // without a root: the chain of top-level nodes
    AtrNode* m_lastTop = nullptr;
};
