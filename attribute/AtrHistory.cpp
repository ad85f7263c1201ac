#include "attribute/AtrHistory.h"

#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"

namespace {

const char kHeadLabel[] = "ATR_ACTION_LIST";

AtrNode* NextPreOrder(AtrNode* n, const AtrNode* top)
{
    if (AtrNode* c = n->GetChild(0)) {
        return c;
    }
    for (; n != top; n = n->GetParent()) {
        if (n->GetNext() != nullptr) {
            return n->GetNext();
        }
    }
    return nullptr;
}

int32_t DataPosition(const AtrNode* node, const AtrData* data)
{
    if (data != nullptr && data == node->GetDataBtm()) {
        return node->GetDataSize() - 1; // the usual case: just appended
    }
    int32_t i = 0;
    for (const AtrData* d = node->GetData(0); d != nullptr; d = d->GetNext(), ++i) {
        if (d == data) {
            return i;
        }
    }
    return -1;
}

} // namespace

// ---------------------------------------------------------------------------

AtrAction::AtrAction() :
    prev(nullptr), next(nullptr), type(ATR_ACTION_NONE), historyId(-1), parentHistoryId(-1), index(-1)
{}

AtrAction::~AtrAction() = default;

// ---------------------------------------------------------------------------

AtrHistoryManager::AtrHistoryManager() : AtrHistoryManager(nullptr, 128) {}

AtrHistoryManager::AtrHistoryManager(AtrNode* root_, int32_t maximum_) :
    root(nullptr), lastNode(nullptr), parser(new AtrParser), head(new AtrAction), current(head), last(head),
    nextHistoryId(0), maximum(maximum_ > 0 ? maximum_ : 1), count(0), m_keepIds(false)
{
    SetTag(0x41545248); // "ATRH"
    if (parser == nullptr || head == nullptr) {
        SetError();
        return;
    }
    head->label = kHeadLabel;
    SetRootNode(root_);
}

AtrHistoryManager::~AtrHistoryManager()
{
    for (AtrNode* n = root; n != nullptr; n = NextPreOrder(n, root)) {
        if (n->_getHistoryManager() == this) {
            n->_setHistoryManager(nullptr);
        }
    }
    if (head != nullptr) {
        _destroyAfter(head);
    }
    delete head;
    delete parser;
}

void AtrHistoryManager::SetRootNode(AtrNode* node, int32_t record)
{
    root = node;
    if (node == nullptr) {
        return;
    }
    // Ids kept in attributes belong to another history: drop them.
    node->_setHistoryIdFromAttribute();
    for (AtrNode* n = node; n != nullptr; n = NextPreOrder(n, node)) {
        n->_setHistoryManager(this);
        n->_setHistoryId(PublishHistoryId());
        if (record >= 0) {
            // Bookkeeping bits only: nothing is recorded.
            n->SetFlag(~ATR_NODE_FLAG_HISTORY, record != 0 ? uint32_t{ATR_NODE_FLAG_HISTORY} : 0u);
        }
    }
}

int32_t AtrHistoryManager::PublishHistoryId() { return nextHistoryId++; }

// ---------------------------------------------------------------------------
// The action list.

AtrAction* AtrHistoryManager::_addAction(AtrActionType type, AtrNode* node, const char* label)
{
    if (CheckError() != 0 || node == nullptr || !_inTree(node)) {
        return nullptr;
    }
    AtrAction* action = new AtrAction;
    if (action == nullptr) {
        SetError();
        return nullptr;
    }
    // A new change discards what was undone.
    if (current != last) {
        _destroyAfter(current);
        last = current;
    }
    if (count >= maximum) {
        _removeOldest();
    }
    action->label = label;
    action->type = type;
    action->historyId = node->_getHistoryId();
    action->parentHistoryId = node->GetParent() != nullptr ? node->GetParent()->_getHistoryId() : -1;
    action->prev = last;
    last->next = action;
    last = action;
    current = action;
    ++count;
    return action;
}

void AtrHistoryManager::_destroyAfter(AtrAction* action)
{
    AtrAction* a = action->next;
    action->next = nullptr;
    while (a != nullptr) {
        AtrAction* next = a->next;
        delete a;
        --count;
        a = next;
    }
}

void AtrHistoryManager::_removeOldest()
{
    AtrAction* oldest = head->next;
    if (oldest == nullptr) {
        SetError();
        return;
    }
    head->next = oldest->next;
    if (oldest->next != nullptr) {
        oldest->next->prev = head;
    }
    if (current == oldest) {
        current = head;
    }
    if (last == oldest) {
        last = head;
    }
    delete oldest;
    --count;
}

void AtrHistoryManager::Clear()
{
    if (head == nullptr) {
        return;
    }
    _destroyAfter(head);
    current = head;
    last = head;
    count = 0;
}

int32_t AtrHistoryManager::DeleteTopAction(int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        if (head == nullptr || head->next == nullptr) {
            return 0;
        }
        _removeOldest();
    }
    return 1;
}

// A change of a node outside the managed tree (a cut node, a node moved to
// another tree) could never be applied: it is not recorded.
bool AtrHistoryManager::_inTree(const AtrNode* node) const
{
    if (root == nullptr || node->_getHistoryManager() != this) {
        return false;
    }
    while (node->GetParent() != nullptr) {
        node = node->GetParent();
    }
    return node == root;
}

// ---------------------------------------------------------------------------
// Recording.

int32_t AtrHistoryManager::AddNode(AtrNode* node, const char* label)
{
    if (node == nullptr) {
        return 0;
    }
    if (node->_getHistoryManager() == nullptr) {
        node->_attachHistoryManager(this, 1);
    }
    AtrAction* action = _addAction(ATR_ACTION_ADD_NODE, node, label);
    if (action == nullptr) {
        return 0;
    }
    action->index = node->GetChildIndex();
    return 1;
}

int32_t AtrHistoryManager::DeleteNode(AtrNode* node, const char* label)
{
    AtrAction* action = _addAction(ATR_ACTION_DELETE_NODE, node, label);
    if (action == nullptr) {
        return 0;
    }
    action->index = node->GetChildIndex();
    return _writeSubtree(node, &action->diffAtr);
}

int32_t AtrHistoryManager::CutNode(AtrNode* node, const char* label)
{
    AtrAction* action = _addAction(ATR_ACTION_CUT_NODE, node, label);
    if (action == nullptr) {
        return 0;
    }
    action->index = node->GetChildIndex();
    return _writeSubtree(node, &action->diffAtr);
}

int32_t AtrHistoryManager::AddAttribute(AtrNode* node, AtrAttribute* attribute, const char* label)
{
    return _recordAttribute(ATR_ACTION_ADD_ATTRIBUTE, node, attribute, nullptr, label);
}

int32_t AtrHistoryManager::DeleteAttribute(AtrNode* node, AtrAttribute* attribute, const char* label)
{
    return _recordAttribute(ATR_ACTION_DELETE_ATTRIBUTE, node, attribute, nullptr, label);
}

int32_t AtrHistoryManager::SetAttribute(AtrNode* node, AtrAttribute* attribute, const AtrData& newData,
                                        const char* label)
{
    return _recordAttribute(ATR_ACTION_SET_ATTRIBUTE, node, attribute, &newData, label);
}

int32_t AtrHistoryManager::AddData(AtrNode* node, AtrData* data, const char* label)
{
    return _recordData(ATR_ACTION_ADD_DATA, node, data, -1, nullptr, label);
}

int32_t AtrHistoryManager::DeleteData(AtrNode* node, AtrData* data, const char* label)
{
    return _recordData(ATR_ACTION_DELETE_DATA, node, data, -1, nullptr, label);
}

int32_t AtrHistoryManager::SetData(AtrNode* node, int32_t index, const AtrData& newData, const char* label)
{
    const AtrData* old = node != nullptr && index >= 0 ? node->GetData(index) : nullptr;
    return _recordData(ATR_ACTION_SET_DATA, node, old, index, &newData, label);
}

// The attribute as it stands is the new value of an addition and the old
// value of a deletion or a change; a change's new value comes beside it.
int32_t AtrHistoryManager::_recordAttribute(AtrActionType type, AtrNode* node, const AtrAttribute* attribute,
                                            const AtrData* newData, const char* label)
{
    AtrAction* action = attribute != nullptr ? _addAction(type, node, label) : nullptr;
    if (action == nullptr) {
        return 0;
    }
    AtrAttribute& standing = type == ATR_ACTION_ADD_ATTRIBUTE ? action->newParam : action->oldParam;
    standing.Set(attribute->GetName(), *attribute->GetData());
    if (newData != nullptr) {
        action->newParam.Set(attribute->GetName(), *newData);
    }
    action->index = _attributePosition(node, attribute);
    return 1;
}

// The same for a data value; `index` is its position, or -1 to look it up.
int32_t AtrHistoryManager::_recordData(AtrActionType type, AtrNode* node, const AtrData* data, int32_t index,
                                       const AtrData* newData, const char* label)
{
    AtrAction* action = data != nullptr ? _addAction(type, node, label) : nullptr;
    if (action == nullptr) {
        return 0;
    }
    AtrAttribute& standing = type == ATR_ACTION_ADD_DATA ? action->newParam : action->oldParam;
    standing.SetData(*data);
    if (newData != nullptr) {
        action->newParam.SetData(*newData);
    }
    action->index = index >= 0 ? index : DataPosition(node, data);
    return 1;
}

int32_t AtrHistoryManager::SetFlag(AtrNode* node, uint32_t oldFlags, const char* label)
{
    AtrAction* action = _addAction(ATR_ACTION_SET_FLAG, node, label);
    if (action == nullptr) {
        return 0;
    }
    action->oldParam.SetU32(oldFlags);
    action->newParam.SetU32(node->GetFlag());
    return 1;
}

int32_t AtrHistoryManager::_attributePosition(const AtrNode* node, const AtrAttribute* attribute)
{
    int32_t i = 0;
    for (const AtrAttribute* a = node->GetAttribute(0); a != nullptr; a = a->GetNext(), ++i) {
        if (a == attribute) {
            return i;
        }
    }
    return -1;
}

// ---------------------------------------------------------------------------
// What the tree reports.

int32_t AtrHistoryManager::NewHistoryId() { return m_keepIds ? -1 : PublishHistoryId(); }

void AtrHistoryManager::NodeAdded(AtrNode* node, const char* label) { AddNode(node, label); }
void AtrHistoryManager::NodeCut(AtrNode* node, const char* label) { CutNode(node, label); }
void AtrHistoryManager::NodeDeleted(AtrNode* node, const char* label) { DeleteNode(node, label); }
void AtrHistoryManager::FlagChanged(AtrNode* node, uint32_t oldFlags, const char* label)
{
    SetFlag(node, oldFlags, label);
}
void AtrHistoryManager::AttributeAdded(AtrNode* node, AtrAttribute* attribute, const char* label)
{
    AddAttribute(node, attribute, label);
}
void AtrHistoryManager::AttributeChanged(AtrNode* node, AtrAttribute* attribute, const AtrData& newValue,
                                         const char* label)
{
    SetAttribute(node, attribute, newValue, label);
}
void AtrHistoryManager::AttributeDeleted(AtrNode* node, AtrAttribute* attribute, const char* label)
{
    DeleteAttribute(node, attribute, label);
}
void AtrHistoryManager::DataAdded(AtrNode* node, AtrData* data, const char* label) { AddData(node, data, label); }
void AtrHistoryManager::DataChanged(AtrNode* node, AtrData* data, const AtrData& newValue, const char* label)
{
    SetData(node, DataPosition(node, data), newValue, label);
}
void AtrHistoryManager::DataDeleted(AtrNode* node, AtrData* data, const char* label) { DeleteData(node, data, label); }
