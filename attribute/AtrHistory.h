#pragma once
// AtrHistoryManager: the edit history of one attribute tree, undone and
// redone step by step.
//
// Nodes report to it: a node with a manager and flag 0x1 reports each
// change through the entries below (NodeAdded ... DataDeleted), which record
// an AtrAction each. Nodes are created without a manager; SetRootNode (or
// AtrNode::_attachHistoryManager) gives one, and children created later
// inherit it. Entries marked "before" are called while the tree still holds
// the old state; "after" ones once the change is in place.
//
// Actions name their node by history id, not by pointer: undoing a deletion
// re-creates the nodes. A removed subtree is kept as attribute text, its
// history ids written into "ATR_HISTORY_ID" attributes, and is read back
// when needed (so, as in any attribute text, "UINT" values come back as
// "SINT", reals with six decimals, and byte buffers are not kept).
//
// The list is bounded (the oldest action goes first); a new change discards
// the actions that were undone. Undo and redo record nothing. Failures (an
// allocation, a node not found while undoing) set the Error flag, after
// which the manager records and applies nothing more. Changes of nodes that
// are not in the managed tree are not recorded (their actions could never
// be applied).
//
// The manager does not own the tree: destroy the manager before the tree
// (or SetRootNode(null) first). Example:
//     AtrHistoryManager history(nullptr, 64);
//     history.SetRootNode(root, 1);   // every node records
//     ... edits ...;  history.Undo(1);  history.Redo(1);

#include "attribute/AtrAttribute.h"
#include "kit/CvString.h"
#include "kit/CvkAllocator.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class AtrNode;
class AtrData;
class AtrParser;

enum AtrActionType : int32_t {
    ATR_ACTION_NONE = -1,
    ATR_ACTION_ADD_NODE = 0,
    ATR_ACTION_DELETE_NODE = 1,
    ATR_ACTION_CUT_NODE = 2,
    ATR_ACTION_ADD_ATTRIBUTE = 3,
    ATR_ACTION_DELETE_ATTRIBUTE = 4,
    ATR_ACTION_SET_ATTRIBUTE = 5,
    ATR_ACTION_ADD_DATA = 6,
    ATR_ACTION_DELETE_DATA = 7,
    ATR_ACTION_SET_DATA = 8,
    ATR_ACTION_SET_FLAG = 9,
};

// One recorded change.
class LUMIVOR_EXPORT AtrAction : public CvkAllocator {
public:
    AtrAction();
    virtual ~AtrAction();
    AtrAction(const AtrAction&) = delete;
    AtrAction& operator=(const AtrAction&) = delete;

    // The label text (a copy of the caller's), or null.
    const char* GetLabel() const { return label.GetLength() != 0 ? label.GetBuffer() : nullptr; }
    AtrAction* GetPrev() const { return prev; }
    AtrAction* GetNext() const { return next; }
    // Node actions: the attribute text of the removed subtree.
    const CvString& GetDiffAtr() const { return diffAtr; }
    // The value redo applies and the one undo restores.
    const AtrAttribute& GetNewParam() const { return newParam; }
    const AtrAttribute& GetOldParam() const { return oldParam; }
    AtrActionType GetActionType() const { return type; }
    int32_t GetHistoryId() const { return historyId; }
    int32_t GetParentHistoryId() const { return parentHistoryId; }
    // Node actions: the child position; data actions: the value's position;
    // attribute actions: the attribute's position in the node's list.
    int32_t GetIndex() const { return index; }

private:
    friend class AtrHistoryManager;

    CvString label;
    AtrAction* prev;
    AtrAction* next;
    CvString diffAtr;
    AtrAttribute newParam;
    AtrAttribute oldParam;
    AtrActionType type;
    int32_t historyId;
    int32_t parentHistoryId;
    int32_t index;
};

class LUMIVOR_EXPORT AtrHistoryManager : public CvkBase {
public:
    AtrHistoryManager();
    // `maximum` actions are kept (0 is taken as 1).
    // With a root: SetRootNode(root) (the nodes' flags as they are).
    explicit AtrHistoryManager(AtrNode* root, int32_t maximum = 128);
    // Detaches the manager from the root's subtree, destroys the actions.
    ~AtrHistoryManager() override;
    AtrHistoryManager(const AtrHistoryManager&) = delete;
    AtrHistoryManager& operator=(const AtrHistoryManager&) = delete;

    // The managed tree: every node of it gets this manager and a fresh
    // history id; "ATR_HISTORY_ID" attributes are dropped. `record` 1 sets
    // flag 0x1 (recording) on every node, 0 clears it, -1 keeps each node's.
    void SetRootNode(AtrNode* node, int32_t record = -1);
    AtrNode* GetRootNode() const { return root; }
    // The node the last undo or redo step touched (for a removed node: its
    // former parent).
    AtrNode* GetLastNode() const { return lastNode; }
    // The next history id; ids only grow.
    int32_t PublishHistoryId();

    // ---- recording: 1 when an action was added, else 0 ----
    int32_t AddNode(AtrNode* node, const char* label);
    int32_t DeleteNode(AtrNode* node, const char* label);
    int32_t CutNode(AtrNode* node, const char* label);
    int32_t AddAttribute(AtrNode* node, AtrAttribute* attribute, const char* label);
    int32_t DeleteAttribute(AtrNode* node, AtrAttribute* attribute, const char* label);
    int32_t SetAttribute(AtrNode* node, AtrAttribute* attribute, const AtrData& newData, const char* label);
    int32_t AddData(AtrNode* node, AtrData* data, const char* label);
    int32_t DeleteData(AtrNode* node, AtrData* data, const char* label);
    // 0 when the node has no value at `index`.
    int32_t SetData(AtrNode* node, int32_t index, const AtrData& newData, const char* label);
    // After the node's flags changed from `oldFlags`.
    int32_t SetFlag(AtrNode* node, uint32_t oldFlags, const char* label);

    // Up to `steps` actions back or forward; nothing when steps < 1 or the
    // Error flag is set.
    void Undo(int32_t steps = 1);
    void Redo(int32_t steps = 1);
    // Forgets every action.
    void Clear();
    // Removes the `n` oldest actions; 1 when that many were there (or n is
    // 0), else 0 (all were removed).
    int32_t DeleteTopAction(int32_t n);
    // The oldest action or null.
    AtrAction* GetAction() const { return head != nullptr ? head->next : nullptr; }
    // The last applied action (null when everything is undone).
    AtrAction* GetCurrentAction() const { return current != head ? current : nullptr; }
    int32_t GetActionListCount() const { return count; }
    int32_t GetMaximum() const { return maximum; }

    // ---- what the tree reports (AtrNode calls these) ----
    // A fresh identity for a node.
    virtual int32_t NewHistoryId();
    // After: `node` now sits in the tree.
    virtual void NodeAdded(AtrNode* node, const char* label);
    // Before: `node` is about to be unlinked from its parent and siblings.
    virtual void NodeCut(AtrNode* node, const char* label);
    // Before: `node` and its subtree are about to be deleted.
    virtual void NodeDeleted(AtrNode* node, const char* label);
    // After: the node's flags changed from `oldFlags` (only changes of bits
    // 0x100 and above are reported).
    virtual void FlagChanged(AtrNode* node, uint32_t oldFlags, const char* label);
    // After: `attribute` was inserted into node's list.
    virtual void AttributeAdded(AtrNode* node, AtrAttribute* attribute, const char* label);
    // Before: `attribute` still holds its old value; `newValue` is what it
    // gets.
    virtual void AttributeChanged(AtrNode* node, AtrAttribute* attribute, const AtrData& newValue, const char* label);
    // Before: `attribute` is about to be unlinked and deleted.
    virtual void AttributeDeleted(AtrNode* node, AtrAttribute* attribute, const char* label);
    // After: `data` was inserted into node's data list.
    virtual void DataAdded(AtrNode* node, AtrData* data, const char* label);
    // Before: `data` still holds its old value.
    virtual void DataChanged(AtrNode* node, AtrData* data, const AtrData& newValue, const char* label);
    // Before: `data` is about to be unlinked and deleted.
    virtual void DataDeleted(AtrNode* node, AtrData* data, const char* label);

private:
    // A new action behind the current one (the redo branch discarded, the
    // oldest dropped beyond the maximum); null when none can be added.
    AtrAction* _addAction(AtrActionType type, AtrNode* node, const char* label);
    // Records a change of one attribute or data value of `node`: the value as
    // it stands, the new value of a change (null otherwise) and the position.
    int32_t _recordAttribute(AtrActionType type, AtrNode* node, const AtrAttribute* attribute, const AtrData* newData,
                             const char* label);
    int32_t _recordData(AtrActionType type, AtrNode* node, const AtrData* data, int32_t index, const AtrData* newData,
                        const char* label);
    void _destroyAfter(AtrAction* action);
    void _removeOldest();
    bool _inTree(const AtrNode* node) const;
    // The subtree of `node` alone as attribute text with its history ids.
    int32_t _writeSubtree(AtrNode* node, CvString* text);
    // Reads the action's subtree and inserts it under its parent.
    int32_t _restoreSubtree(const AtrAction* action);
    // Deletes (or, for a cut, unlinks and deletes) a node, not recorded.
    int32_t _removeSubtree(AtrAction* action);
    int32_t _undo(AtrAction* action);
    int32_t _redo(AtrAction* action);
    // Attributes at the action's position: `value` inserted, the one there
    // deleted (its value saved to `saveTo` when given), or set to `value`.
    int32_t _insertAttribute(AtrAction* action, const AtrAttribute& value);
    int32_t _removeAttribute(AtrAction* action, AtrAttribute* saveTo);
    int32_t _setAttribute(AtrAction* action, const AtrAttribute& value);
    // Data values at the action's index, likewise.
    int32_t _insertData(AtrAction* action, const AtrAttribute& value);
    int32_t _deleteData(AtrAction* action);
    int32_t _setData(AtrAction* action, const AtrAttribute& value);
    // The recorded flag bits (0x100 and up) set to `value`'s.
    int32_t _setFlags(AtrAction* action, const AtrAttribute& value);
    static int32_t _attributePosition(const AtrNode* node, const AtrAttribute* attribute);
    AtrNode* _find(int32_t historyId);

    AtrNode* root;
    AtrNode* lastNode;
    AtrParser* parser;
    AtrAction* head;
    AtrAction* current;
    AtrAction* last;
    int32_t nextHistoryId;
    int32_t maximum;
    int32_t count;
    bool m_keepIds; // restoring a subtree: its nodes bring their own ids
};
