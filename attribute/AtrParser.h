#pragma once
// AtrParser: reads attribute documents (a tag-structured Shift_JIS text) into
// attribute trees and writes trees back as such text.
//
// Reading and writing are iterative: neither the depth of a document nor the
// depth of a tree is limited by the machine stack. Errors of a reading are
// appended to the error log as Japanese lines "[<n>行目] : <message>\n"
// (Shift_JIS bytes) and set the Error flag; the log and the flag are never
// cleared, so use one parser per document.
//
// Named constants: a document may use names of constants as values. The
// parser owns a definition analyzer (AtrDefAnalyzer) fed through
// AddConstantDefinition; a caller may lend it another one instead.
#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class AtrDefAnalyzer;
class AtrNode;
struct AtrTextError;

// Stands for a double-quote character inside values of the text: the writer
// puts it in place of every '"' of a text, the reader turns it back.
constexpr const char ATR_TEXT_DQ_NAME[] = "ATR_TEXT_DQ";

class LUMIVOR_EXPORT AtrParser : public CvkBase {
public:
    AtrParser();
    ~AtrParser() override;
    AtrParser(const AtrParser&) = delete;
    AtrParser& operator=(const AtrParser&) = delete;

    // Reads `text` (NUL-terminated). With `root` null the top-level nodes
    // come back as one sibling chain (the first is returned; top-level data
    // values are dropped); with `root` given they are appended as its
    // children and `root` is returned. Null when reading fails or the Error
    // flag is set; a given root then keeps the nodes read before the error.
    // The caller owns the result and destroys it with AtrNode::Destroy (every
    // node of the chain).
    AtrNode* CreateTreeFromText(const char* text, AtrNode* root = nullptr);
    // Reads a whole file (environment names in `path` expanded) as a new
    // tree; `root` is not used. A file that cannot be read or is empty gives
    // null and sets the Error flag.
    AtrNode* CreateTreeFromFile(const char* path, AtrNode* root = nullptr);

    // Reads the enum header `path` into the analyzer in use; its OK flag
    // (0 once any definition failed).
    int32_t AddConstantDefinition(const char* path);
    // The analyzer whose constants the reader takes as values: the parser's
    // own unless `analyzer` (not owned) is lent; null returns to the own one.
    void SetDefAnalyzer(AtrDefAnalyzer* analyzer);
    AtrDefAnalyzer* GetDefAnalyzer() const { return constants; }

    const CvString& GetErrorLog() const { return errorLog; }
    // Bytes read by the last CreateTreeFromFile or written by the last
    // OutputTree; 0 after a failure.
    uint32_t GetFileSize() const { return fileSize; }
    // Line of the reading in progress (or where the last one stopped).
    int32_t GetLine() const { return line; }

    // Text of `root` and its following siblings. `quoted` non-zero: values
    // in quotes and an "xml" declaration (added to the tree's "xml" node as
    // an "encoding" attribute when the tree has one). An empty string with
    // the Error flag set when the text cannot be built whole.
    CvString WriteTree(AtrNode* root, int32_t quoted = 0);
    // Text of `node` and its subtree alone (its following siblings left
    // out), without an xml declaration. `indent` 0 leaves out the TABs that
    // show the levels (a deep tree's text then grows with its size only).
    CvString WriteNode(AtrNode* node, int32_t quoted = 0, int32_t indent = 1);
    // One empty-element tag with the node's attributes.
    CvString WriteAttribute(AtrNode* node, int32_t quoted = 0);
    // Writes WriteTree's text to the file `path` (environment names
    // expanded); 1 when written whole, else 0.
    int32_t OutputTree(AtrNode* root, const char* path, int32_t quoted = 0);

private:
    // The first failure of a reading as an error line in the log (and the
    // Error flag); failures without a message only set the flag, or nothing.
    void _logReadError(const AtrTextError& error);

    AtrDefAnalyzer* analyzer;  // owned
    AtrDefAnalyzer* constants; // the one in use
    int32_t line;
    CvString errorLog;
    uint32_t fileSize;
};
