#pragma once
// AtrHistoryManager: what attribute-tree nodes report to when their changes
// are recorded for undo.
//
// A node reports only when it has a manager and its flag 0x1 is set. Nodes
// are created without a manager; one is attached with
// AtrNode::_attachHistoryManager (children created later inherit it). Every
// entry has an empty default body, so a manager overrides only what it keeps.
// Entries marked "before" are called while the tree still holds the old
// state; "after" ones once the change is in place. The label is the caller's
// text (may be null).

#include "platform/PlatformExport.h"

#include <cstdint>

class AtrNode;
class AtrAttribute;
class AtrData;

class LUMIVOR_EXPORT AtrHistoryManager {
public:
    virtual ~AtrHistoryManager();

    // A fresh identity for a node (AtrNode::_getHistoryId); -1 when the
    // manager issues none.
    virtual int32_t NewHistoryId();

    // After: `node` (and its following siblings, when inserted as a chain,
    // each reported on its own) now sits in the tree.
    virtual void NodeAdded(AtrNode* node, const char* label);
    // Before: `node` is about to be unlinked from its parent and siblings.
    virtual void NodeCut(AtrNode* node, const char* label);
    // Before: `node` and its subtree are about to be deleted; copy what is
    // needed, the pointer dies right after the call.
    virtual void NodeDeleted(AtrNode* node, const char* label);
    // After: the node's flags changed from `oldFlags` (only changes of bits
    // 0x100 and above are reported).
    virtual void FlagChanged(AtrNode* node, uint32_t oldFlags, const char* label);

    // After: `attribute` was inserted into node's list.
    virtual void AttributeAdded(AtrNode* node, AtrAttribute* attribute, const char* label);
    // Before: `attribute` still holds its old value; `newValue` is what it
    // gets.
    virtual void AttributeChanged(AtrNode* node, AtrAttribute* attribute, const AtrData& newValue,
                                  const char* label);
    // Before: `attribute` is about to be unlinked and deleted.
    virtual void AttributeDeleted(AtrNode* node, AtrAttribute* attribute, const char* label);

    // After: `data` was inserted into node's data list.
    virtual void DataAdded(AtrNode* node, AtrData* data, const char* label);
    // Before: `data` still holds its old value.
    virtual void DataChanged(AtrNode* node, AtrData* data, const AtrData& newValue, const char* label);
    // Before: `data` is about to be unlinked and deleted.
    virtual void DataDeleted(AtrNode* node, AtrData* data, const char* label);
};
