// Undo and redo: applying recorded actions to the tree, without recording.
#include "attribute/AtrHistory.h"

#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"

namespace {

// Clears a node's recording flag while the history changes it, so that
// undo and redo add no actions.
class Quiet {
public:
    explicit Quiet(AtrNode* node) : m_node(node), m_recording(node->CheckFlag(ATR_NODE_FLAG_HISTORY))
    {
        m_node->SetFlag(~ATR_NODE_FLAG_HISTORY, 0);
    }
    ~Quiet() { m_node->SetFlag(~0u, m_recording); }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    AtrNode* m_node;
    uint32_t m_recording;
};

// The attribute an action names: the one at its recorded position when it
// has the recorded name, else the first of that name.
AtrAttribute* FindAttribute(AtrNode* node, int32_t index, const CvString& name)
{
    AtrAttribute* a = index >= 0 ? node->GetAttribute(index) : nullptr;
    if (a != nullptr && a->GetName() == name) {
        return a;
    }
    return node->GetAttribute(name.GetBuffer(), 0);
}

// Applies one change to `node` while its recording is silenced; a node that
// took the change becomes `touched`. 0 without a node or when the change fails.
template <typename Change>
int32_t ChangeQuietly(AtrNode* node, AtrNode*& touched, Change change)
{
    if (node == nullptr) {
        return 0;
    }
    Quiet quiet(node);
    if (!change(*node)) {
        return 0;
    }
    touched = node;
    return 1;
}

} // namespace

void AtrHistoryManager::Undo(int32_t steps)
{
    for (int32_t i = 0; i < steps && CheckError() == 0 && current != head; ++i) {
        if (_undo(current) == 0) {
            SetError();
            return;
        }
        current = current->prev;
    }
}

void AtrHistoryManager::Redo(int32_t steps)
{
    for (int32_t i = 0; i < steps && CheckError() == 0 && current->next != nullptr; ++i) {
        if (_redo(current->next) == 0) {
            SetError();
            return;
        }
        current = current->next;
    }
}

int32_t AtrHistoryManager::_undo(AtrAction* action)
{
    switch (action->type) {
    case ATR_ACTION_ADD_NODE: return _removeSubtree(action);
    case ATR_ACTION_DELETE_NODE:
    case ATR_ACTION_CUT_NODE: return _restoreSubtree(action);
    case ATR_ACTION_ADD_ATTRIBUTE: return _removeAttribute(action, &action->newParam);
    case ATR_ACTION_DELETE_ATTRIBUTE: return _insertAttribute(action, action->oldParam);
    case ATR_ACTION_SET_ATTRIBUTE: return _setAttribute(action, action->oldParam);
    case ATR_ACTION_ADD_DATA: return _deleteData(action);
    case ATR_ACTION_DELETE_DATA: return _insertData(action, action->oldParam);
    case ATR_ACTION_SET_DATA: return _setData(action, action->oldParam);
    case ATR_ACTION_SET_FLAG: return _setFlags(action, action->oldParam);
    default: return 1; // unknown kinds are stepped over
    }
}

int32_t AtrHistoryManager::_redo(AtrAction* action)
{
    switch (action->type) {
    case ATR_ACTION_ADD_NODE: return _restoreSubtree(action);
    case ATR_ACTION_DELETE_NODE:
    case ATR_ACTION_CUT_NODE: return _removeSubtree(action);
    case ATR_ACTION_ADD_ATTRIBUTE: return _insertAttribute(action, action->newParam);
    case ATR_ACTION_DELETE_ATTRIBUTE: return _removeAttribute(action, nullptr);
    case ATR_ACTION_SET_ATTRIBUTE: return _setAttribute(action, action->newParam);
    case ATR_ACTION_ADD_DATA: return _insertData(action, action->newParam);
    case ATR_ACTION_DELETE_DATA: return _deleteData(action);
    case ATR_ACTION_SET_DATA: return _setData(action, action->newParam);
    case ATR_ACTION_SET_FLAG: return _setFlags(action, action->newParam);
    default: return 1;
    }
}

AtrNode* AtrHistoryManager::_find(int32_t historyId)
{
    return root != nullptr && historyId >= 0 ? root->GetNodeByHistoryId(historyId) : nullptr;
}

// ---------------------------------------------------------------------------
// Subtrees.

int32_t AtrHistoryManager::_writeSubtree(AtrNode* node, CvString* text)
{
    // The text shows neither recording nor a deletion in progress.
    const uint32_t kept = node->CheckFlag(ATR_NODE_FLAG_HISTORY | ATR_NODE_FLAG_DESTROY);
    node->SetFlag(~(ATR_NODE_FLAG_HISTORY | ATR_NODE_FLAG_DESTROY), 0);
    node->_setHistoryIdToAttribute();
    *text = parser->WriteNode(node, 0, 0);
    // The live nodes keep no id attributes (a cut node stays with the caller).
    node->_setHistoryIdFromAttribute();
    node->SetFlag(~0u, kept);
    if (text->GetLength() == 0) {
        SetError();
        return 0;
    }
    return 1;
}

int32_t AtrHistoryManager::_restoreSubtree(const AtrAction* action)
{
    AtrNode* parent = _find(action->parentHistoryId);
    if (parent == nullptr || action->diffAtr.GetLength() == 0) {
        return 0;
    }
    AtrNode* tree = parser->CreateTreeFromText(action->diffAtr.GetBuffer(), nullptr);
    if (tree == nullptr) {
        return 0;
    }
    // The nodes get this manager without fresh ids, then their former ids;
    // they record when the parent does.
    m_keepIds = true;
    tree->_attachHistoryManager(this, parent->CheckFlag(ATR_NODE_FLAG_HISTORY) != 0 ? 1 : 0);
    m_keepIds = false;
    tree->_setHistoryIdFromAttribute();
    Quiet quiet(parent);
    if (parent->AddChild(tree, action->index) == 0) {
        AtrNodeDestroyChain(tree);
        return 0;
    }
    lastNode = tree;
    return 1;
}

int32_t AtrHistoryManager::_removeSubtree(AtrAction* action)
{
    AtrNode* node = _find(action->historyId);
    if (node == nullptr || node == root || _writeSubtree(node, &action->diffAtr) == 0) {
        return 0;
    }
    action->index = node->GetChildIndex();
    lastNode = node->GetParent();
    // A redone cut destroys the unlinked node too: the text holds it, and
    // nobody else would.
    node->SetFlag(~ATR_NODE_FLAG_HISTORY, 0);
    AtrNode::Destroy(node, nullptr);
    return 1;
}

// ---------------------------------------------------------------------------
// Attributes, data, flags.

int32_t AtrHistoryManager::_insertAttribute(AtrAction* action, const AtrAttribute& value)
{
    return ChangeQuietly(_find(action->historyId), lastNode, [&](AtrNode& node) {
        // Back at its former position (the end when that is gone).
        const int32_t index = action->index <= node.GetAttributeSize() ? action->index : -1;
        return node.AddAttribute(value.GetName(), *value.GetData(), index) != nullptr;
    });
}

int32_t AtrHistoryManager::_removeAttribute(AtrAction* action, AtrAttribute* saveTo)
{
    const CvString& name =
        action->type == ATR_ACTION_ADD_ATTRIBUTE ? action->newParam.GetName() : action->oldParam.GetName();
    return ChangeQuietly(_find(action->historyId), lastNode, [&](AtrNode& node) {
        AtrAttribute* a = FindAttribute(&node, action->index, name);
        if (a == nullptr) {
            return false;
        }
        if (saveTo != nullptr) {
            saveTo->Set(a->GetName(), *a->GetData());
        }
        node.DeleteAttribute(_attributePosition(&node, a));
        return true;
    });
}

int32_t AtrHistoryManager::_setAttribute(AtrAction* action, const AtrAttribute& value)
{
    AtrNode* node = _find(action->historyId);
    AtrAttribute* a = node != nullptr ? FindAttribute(node, action->index, value.GetName()) : nullptr;
    if (a == nullptr) {
        return 0;
    }
    a->SetData(*value.GetData());
    lastNode = node;
    return 1;
}

int32_t AtrHistoryManager::_insertData(AtrAction* action, const AtrAttribute& value)
{
    return ChangeQuietly(_find(action->historyId), lastNode, [&](AtrNode& node) {
        return action->index >= 0 && action->index <= node.GetDataSize() &&
               node.AddData(*value.GetData(), action->index) != nullptr;
    });
}

int32_t AtrHistoryManager::_deleteData(AtrAction* action)
{
    return ChangeQuietly(_find(action->historyId), lastNode, [&](AtrNode& node) {
        if (action->index < 0 || action->index >= node.GetDataSize()) {
            return false;
        }
        node.DeleteData(action->index);
        return true;
    });
}

int32_t AtrHistoryManager::_setData(AtrAction* action, const AtrAttribute& value)
{
    return ChangeQuietly(_find(action->historyId), lastNode, [&](AtrNode& node) {
        return action->index >= 0 && node.SetData(action->index, *value.GetData()) != 0;
    });
}

int32_t AtrHistoryManager::_setFlags(AtrAction* action, const AtrAttribute& value)
{
    return ChangeQuietly(_find(action->historyId), lastNode, [&](AtrNode& node) {
        // Only the recorded bits change; the bookkeeping bits stay the node's.
        node.SetFlag(~ATR_NODE_FLAG_RECORDED_MASK, value.GetU32() & ATR_NODE_FLAG_RECORDED_MASK);
        return true;
    });
}
