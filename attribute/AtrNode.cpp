#include "attribute/AtrNode.h"

#include "attribute/AtrNodePool.h"
#include "kit/CvkFileName.h"
#include "kit/CvkStringScan.h"

#include <cstdlib>
#include <cstring>
#include <typeinfo>
#include <vector>

namespace {

const uint32_t kTagAtrn = 0x4154524Eu; // "ATRN"
// Internal bookkeeping during RenewNodeTree: the node's recording (flag 0x1)
// is suspended and comes back when the node is finished.
const char kHistoryIdName[] = "ATR_HISTORY_ID";

bool NameIs(const CvString& name, const char* text)
{
    if (text == nullptr) {
        return false;
    }
    const char* b = name.GetBuffer();
    return std::strcmp(b != nullptr ? b : "", text) == 0;
}

// Children, attributes and data values are the same kind of list: a head, a
// tail and a count. Position `index`, or the n-th entry whose name is `text`.
template <class T>
T* NthOfList(T* head, T* tail, int32_t count, int32_t index)
{
    if (index < 0 || index >= count) {
        return nullptr;
    }
    if (index == count - 1) {
        return tail;
    }
    T* e = head;
    while (e != nullptr && index-- > 0) {
        e = e->GetNext();
    }
    return e;
}

template <class T, class NameFn>
T* NthNamed(T* head, const char* text, int32_t n, NameFn nameOf)
{
    for (T* e = head; e != nullptr; e = e->GetNext()) {
        if (NameIs(nameOf(e), text) && n-- == 0) {
            return e;
        }
    }
    return nullptr;
}

template <class T, class NameFn>
int32_t CountNamed(T* head, const char* text, NameFn nameOf)
{
    int32_t count = 0;
    for (T* e = head; e != nullptr; e = e->GetNext()) {
        if (NameIs(nameOf(e), text)) {
            ++count;
        }
    }
    return count;
}

const CvString& ElementOf(const AtrNode* n) { return n->GetElement(); }
const CvString& NameOf(const AtrAttribute* a) { return a->GetName(); }

bool SameName(const CvString& a, const CvString& b)
{
    const char* x = a.GetBuffer();
    const char* y = b.GetBuffer();
    return std::strcmp(x != nullptr ? x : "", y != nullptr ? y : "") == 0;
}

float Atof(const char* text)
{
    return static_cast<float>(std::atof(text != nullptr ? text : ""));
}

// A value from text and a kind name, for attributes: "SINT" and "UINT" are
// read with CvkStringCnvAtoI and kept as "SINT".
void ParseAttributeValue(AtrData& out, const char* text, const char* kind)
{
    const int32_t k = CvkGetVariantTypeNum(kind != nullptr ? kind : "STRING");
    switch (k) {
    case CVK_VARIANT_TYPE_SINT:
    case CVK_VARIANT_TYPE_UINT:
        out.SetS32(static_cast<int32_t>(CvkStringCnvAtoI(text)));
        break;
    case CVK_VARIANT_TYPE_FLOAT:
        out.SetF32(Atof(text));
        break;
    case CVK_VARIANT_TYPE_BUF:
    case CVK_VARIANT_TYPE_FIXED:
        out.Set(text != nullptr ? text : "", static_cast<CVK_VARIANT_TYPE>(k));
        break;
    default:
        out.SetString(text);
        break;
    }
}

// A value from text and a kind name, for data: "SINT" with CvkStringCnvAtoI
// (hexadecimal prefixes and signs), "UINT" with atoi.
void ParseDataValue(AtrData& out, const char* text, const char* kind)
{
    const int32_t k = CvkGetVariantTypeNum(kind != nullptr ? kind : "STRING");
    switch (k) {
    case CVK_VARIANT_TYPE_SINT:
        out.SetS32(static_cast<int32_t>(CvkStringCnvAtoI(text)));
        break;
    case CVK_VARIANT_TYPE_UINT:
        out.SetU32(static_cast<uint32_t>(CvkStringAtoIClamped(text)));
        break;
    case CVK_VARIANT_TYPE_FLOAT:
        out.SetF32(Atof(text));
        break;
    case CVK_VARIANT_TYPE_BUF:
    case CVK_VARIANT_TYPE_FIXED:
        out.Set(text != nullptr ? text : "", static_cast<CVK_VARIANT_TYPE>(k));
        break;
    default:
        out.SetString(text);
        break;
    }
}

void CopyText(char* out, int32_t length, const char* text)
{
    if (out == nullptr || length <= 0) {
        return;
    }
    std::strncpy(out, text != nullptr ? text : "", static_cast<size_t>(length));
}

// Next node of a pre-order walk over root's subtree (root itself first), or
// null at the end.
template <typename Node>
Node* NextPreOrder(Node* n, const AtrNode* root)
{
    if (n->GetChild(0) != nullptr) {
        return n->GetChild(0);
    }
    while (n != root && n->GetNext() == nullptr) {
        n = n->GetParent();
    }
    return n == root ? nullptr : n->GetNext();
}

} // namespace

// ---------------------------------------------------------------- life cycle

AtrNode::AtrNode() : AtrNode(CvString()) {}

AtrNode::AtrNode(const CvString& element_)
    : element(element_), parent(nullptr), child(nullptr), childTail(nullptr), prev(nullptr), next(nullptr),
      attributes(nullptr), attributeTail(nullptr), data(nullptr), dataTail(nullptr), historyManager(nullptr),
      childIndex(0), childCount(0), attributeCount(0), dataCount(0), historyId(-1), address(0), ptrIndex(-1),
      flags(0)
{
    SetTag(kTagAtrn);
}

struct AtrNode::_FreeBatches {
    // Pooled objects whose destructor has run, freed to their pool in groups
    // of kSize (one lock each) instead of one at a time.
    class Batch {
    public:
        explicit Batch(AtrNodePool& p) : pool(p) {}
        ~Batch() { Flush(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
        void Add(void* slot)
        {
            if (count == kSize) {
                Flush();
            }
            slots[count++] = slot;
        }
        void Flush()
        {
            pool.FreeMany(slots, count);
            count = 0;
        }

    private:
        static constexpr std::size_t kSize = 64;
        AtrNodePool& pool;
        void* slots[kSize];
        std::size_t count = 0;
    };
    Batch nodes{AtrNodePool::Nodes()};
    Batch attributes{AtrNodePool::Attributes()};
    Batch data{AtrNodePool::Data()};
};

AtrNode::~AtrNode()
{
    _unlinkFromParent();
    parent = prev = next = nullptr;
    if (child == nullptr && attributes == nullptr && data == nullptr) {
        return; // a leaf: no batches to set up
    }
    _FreeBatches batches;
    _deleteSubtree(batches);
    _freeContents(batches);
}

// Objects of exactly the pooled class live in a pool slot (their operator
// new put them there); they are destroyed here and their slots batched.
// Anything else (a derived class) is deleted as usual.
void AtrNode::_freeContents(_FreeBatches& batches)
{
    for (AtrAttribute* a = attributes; a != nullptr;) {
        AtrAttribute* following = a->next;
        if (typeid(*a) == typeid(AtrAttribute)) {
            a->AtrAttribute::~AtrAttribute();
            batches.attributes.Add(a);
        } else {
            delete a;
        }
        a = following;
    }
    attributes = attributeTail = nullptr;
    for (AtrData* d = data; d != nullptr;) {
        AtrData* following = d->next;
        if (typeid(*d) == typeid(AtrData)) {
            d->AtrData::~AtrData();
            batches.data.Add(d);
        } else {
            delete d;
        }
        d = following;
    }
    data = dataTail = nullptr;
}

// Deletes every descendant without recursion: the walk always deletes the
// first child of the deepest first-child chain, which then has no children
// and no parent left, so its destructor does not go further.
void AtrNode::_deleteSubtree(_FreeBatches& batches)
{
    AtrNode* n = child;
    while (n != nullptr) {
        while (n->child != nullptr) {
            n = n->child;
        }
        AtrNode* p = n->parent;
        AtrNode* following = n->next;
        p->child = following;
        if (following != nullptr) {
            following->prev = nullptr;
        } else {
            p->childTail = nullptr;
        }
        n->parent = n->prev = n->next = nullptr;
        if (typeid(*n) == typeid(AtrNode)) {
            n->_freeContents(batches);
            n->AtrNode::~AtrNode();
            batches.nodes.Add(n);
        } else {
            delete n;
        }
        if (following != nullptr) {
            n = following;
        } else if (p != this) {
            n = p;
        } else {
            n = nullptr;
        }
    }
    child = childTail = nullptr;
    childCount = 0;
}

void AtrNode::_unlinkFromParent()
{
    if (prev != nullptr) {
        prev->next = next;
    } else if (parent != nullptr && parent->child == this) {
        parent->child = next;
    }
    if (next != nullptr) {
        next->prev = prev;
    } else if (parent != nullptr && parent->childTail == this) {
        parent->childTail = prev;
    }
    if (parent != nullptr) {
        for (AtrNode* n = next; n != nullptr; n = n->next) {
            --n->childIndex;
        }
        --parent->childCount;
    }
}

void AtrNode::_appendChild(AtrNode* node)
{
    node->parent = this;
    node->prev = childTail;
    node->next = nullptr;
    if (childTail != nullptr) {
        childTail->next = node;
    } else {
        child = node;
    }
    childTail = node;
    node->childIndex = childCount++;
}

AtrNode* AtrNode::Create(AtrNode* parent, const CvString& element, const char* label)
{
    (void)label;
    AtrNode* node = new AtrNode(element);
    if (node == nullptr) {
        return nullptr;
    }
    if (parent != nullptr) {
        parent->_appendChild(node);
        if (parent->historyManager != nullptr) {
            node->historyManager = parent->historyManager;
            node->historyId = parent->historyManager->NewHistoryId();
            node->flags |= parent->flags & ATR_NODE_FLAG_HISTORY;
            if (parent->_recording()) {
                parent->historyManager->NodeAdded(node, "ADD NEW NORD");
            }
        }
    }
    return node;
}

AtrNode* AtrNode::Create(AtrNode* parent, const char* element, const char* label)
{
    return Create(parent, CvString(element), label);
}

void AtrNode::Destroy(AtrNode* node, const char* label)
{
    if (node == nullptr) {
        return;
    }
    node->SetFlag(~0u, ATR_NODE_FLAG_DESTROY, label);
    if (node->parent == nullptr || (node->parent->flags & ATR_NODE_FLAG_DESTROY) != 0) {
        node->flags &= ~ATR_NODE_FLAG_HISTORY;
    }
    if (node->_recording()) {
        node->historyManager->NodeDeleted(node, label);
    }
    delete node;
}

AtrNode* AtrNodeCreate(AtrNode* parent, const char* element, const char* label)
{
    return AtrNode::Create(parent, element, label);
}

void AtrNodeDestroy(AtrNode* node)
{
    AtrNode::Destroy(node, nullptr);
}

void AtrNodeDestroyChain(AtrNode* first)
{
    while (first != nullptr) {
        AtrNode* next = first->GetNext();
        AtrNode::Destroy(first, nullptr);
        first = next;
    }
}

// ----------------------------------------------------------------- structure

bool AtrNode::_chainHoldsSelfOrAncestor(const AtrNode* node) const
{
    for (const AtrNode* a = this; a != nullptr; a = a->parent) {
        if (a->parent != node->parent) {
            continue;
        }
        if (node->parent != nullptr) {
            if (a->childIndex >= node->childIndex) {
                return true;
            }
        } else {
            for (const AtrNode* c = node; c != nullptr; c = c->next) {
                if (c == a) {
                    return true;
                }
            }
        }
    }
    return false;
}

void AtrNode::_detachChain(AtrNode* node)
{
    AtrNode* p = node->parent;
    AtrNode* before = node->prev;
    if (before != nullptr) {
        before->next = nullptr;
    }
    node->prev = nullptr;
    if (p != nullptr) {
        if (before == nullptr) {
            p->child = nullptr;
        }
        p->childTail = before;
        p->childCount = before != nullptr ? before->childIndex + 1 : 0;
    }
    for (AtrNode* c = node; c != nullptr; c = c->next) {
        c->parent = nullptr;
    }
}

void AtrNode::_indexFrom(AtrNode* first, AtrNode* parent)
{
    int32_t i = first->prev != nullptr ? first->prev->childIndex + 1 : 0;
    AtrNode* last = first;
    for (AtrNode* c = first; c != nullptr; c = c->next) {
        c->parent = parent;
        c->childIndex = i++;
        last = c;
    }
    if (parent != nullptr) {
        parent->childCount = i;
        parent->childTail = last;
    }
}

void AtrNode::_adoptChain(AtrNode* first, AtrNode* last, const char* label)
{
    if (historyManager == nullptr) {
        return;
    }
    const bool record = _recording();
    for (AtrNode* c = first;; c = c->next) {
        c->_attachHistoryManager(historyManager, record ? 1 : 0);
        if (record) {
            historyManager->NodeAdded(c, label);
        }
        if (c == last) {
            break;
        }
    }
}

int32_t AtrNode::AddChild(AtrNode* node, int32_t index)
{
    if (node == nullptr || node->prev != nullptr || _chainHoldsSelfOrAncestor(node)) {
        return 0;
    }
    _detachChain(node);
    AtrNode* last = node;
    while (last->next != nullptr) {
        last = last->next;
    }
    AtrNode* at = index >= 0 ? GetChild(index) : nullptr;
    if (at == nullptr) {
        node->prev = childTail;
        if (childTail != nullptr) {
            childTail->next = node;
        } else {
            child = node;
        }
    } else {
        node->prev = at->prev;
        if (at->prev != nullptr) {
            at->prev->next = node;
        } else {
            child = node;
        }
        last->next = at;
        at->prev = last;
    }
    // Walks to the end of the list: count and tail cover every child.
    _indexFrom(node, this);
    _adoptChain(node, last, "INSERT CHILD NODE");
    return 1;
}

AtrNode* AtrNode::AddChild(const CvString& element_)
{
    return Create(this, element_);
}

AtrNode* AtrNode::AddChild(const char* element_)
{
    return Create(this, CvString(element_));
}

int32_t AtrNode::AddNext(AtrNode* node)
{
    if (node == nullptr || _chainHoldsSelfOrAncestor(node)) {
        return 0;
    }
    _detachChain(node);
    AtrNode* last = node;
    while (last->next != nullptr) {
        last = last->next;
    }
    last->next = next;
    if (next != nullptr) {
        next->prev = last;
    } else if (parent != nullptr) {
        parent->childTail = last;
    }
    next = node;
    node->prev = this;
    _indexFrom(node, parent);
    _adoptChain(node, last, "ADD NEXT NODE");
    return 1;
}

AtrNode* AtrNode::AddNext(const CvString& element_)
{
    AtrNode* node = Create(nullptr, element_);
    if (node != nullptr) {
        AddNext(node);
    }
    return node;
}

AtrNode* AtrNode::AddNext(const char* element_)
{
    return AddNext(CvString(element_));
}

int32_t AtrNode::SetPrev(AtrNode* node)
{
    if (node == nullptr) {
        // Splitting a parent's child list would break its count and tail;
        // a parentless chain is split cleanly.
        if (parent != nullptr) {
            return 0;
        }
        if (prev != nullptr) {
            prev->next = nullptr;
        }
        prev = nullptr;
        childIndex = 0;
        for (AtrNode* n = next; n != nullptr; n = n->next) {
            n->childIndex = n->prev->childIndex + 1;
        }
        return 1;
    }
    if (_chainHoldsSelfOrAncestor(node)) {
        return 0;
    }
    _detachChain(node);
    AtrNode* last = node;
    while (last->next != nullptr) {
        last = last->next;
    }
    node->prev = prev;
    if (prev != nullptr) {
        prev->next = node;
    } else if (parent != nullptr) {
        parent->child = node;
    }
    last->next = this;
    prev = last;
    _indexFrom(node, parent);
    _adoptChain(node, last, "ADD NEXT NODE");
    return 1;
}

void AtrNode::Cut()
{
    if (_recording()) {
        historyManager->NodeCut(this, "CUT NORD");
    }
    _unlinkFromParent();
    parent = prev = next = nullptr;
    childIndex = 0;
}

AtrNode* AtrNode::Remove()
{
    Cut();
    AtrNode* first = child;
    for (AtrNode* c = child; c != nullptr; c = c->next) {
        c->parent = nullptr;
    }
    child = childTail = nullptr;
    childCount = 0;
    return first;
}

int32_t AtrNode::Swap(AtrNode* node)
{
    if (node == nullptr || node == this) {
        return 0;
    }
    for (const AtrNode* a = parent; a != nullptr; a = a->parent) {
        if (a == node) {
            return 0; // node is an ancestor of this node
        }
    }
    for (const AtrNode* a = node->parent; a != nullptr; a = a->parent) {
        if (a == this && node->parent != this) {
            return 0; // node sits below one of this node's children
        }
    }
    node->_unlinkFromParent();
    node->parent = node->prev = node->next = nullptr;

    node->parent = parent;
    node->prev = prev;
    node->next = next;
    node->childIndex = childIndex;
    if (prev != nullptr) {
        prev->next = node;
    } else if (parent != nullptr) {
        parent->child = node;
    }
    if (next != nullptr) {
        next->prev = node;
    } else if (parent != nullptr) {
        parent->childTail = node;
    }
    parent = prev = next = nullptr;
    childIndex = 0;

    if (child != nullptr) {
        AtrNode* first = child;
        first->prev = node->childTail;
        if (node->childTail != nullptr) {
            node->childTail->next = first;
        } else {
            node->child = first;
        }
        _indexFrom(first, node);
        child = childTail = nullptr;
        childCount = 0;
    }
    return 1;
}

AtrNode* AtrNode::Duplicate(AtrNode* newParent)
{
    auto copyOne = [](const AtrNode* s) -> AtrNode* {
        AtrNode* c = new AtrNode(s->element);
        if (c == nullptr) {
            return nullptr;
        }
        c->flags = s->flags & ATR_NODE_FLAG_DUPLICATE_MASK;
        for (const AtrAttribute* a = s->attributes; a != nullptr; a = a->next) {
            AtrAttribute* na = new AtrAttribute(a->name, a->data);
            if (na != nullptr) {
                c->_insertAttribute(na, -1);
            }
        }
        for (const AtrData* d = s->data; d != nullptr; d = d->next) {
            AtrData* nd = new AtrData(*d);
            if (nd != nullptr) {
                nd->next = nullptr;
                c->_insertData(nd, -1);
            }
        }
        return c;
    };

    AtrNode* root = copyOne(this);
    if (root == nullptr) {
        return nullptr;
    }
    const AtrNode* s = this;
    AtrNode* d = root;
    for (;;) {
        AtrNode* under = nullptr;
        if (s->child != nullptr) {
            s = s->child;
            under = d;
        } else {
            while (s != this && s->next == nullptr) {
                s = s->parent;
                d = d->parent;
            }
            if (s == this) {
                break;
            }
            s = s->next;
            under = d->parent;
        }
        AtrNode* c = copyOne(s);
        if (c == nullptr) {
            delete root;
            return nullptr;
        }
        under->_appendChild(c);
        d = c;
    }

    if (newParent != nullptr) {
        newParent->_appendChild(root);
        if (newParent->historyManager != nullptr) {
            const bool record = newParent->_recording();
            root->_attachHistoryManager(newParent->historyManager, record ? 1 : 0);
            if (record) {
                newParent->historyManager->NodeAdded(root, "ADD NEW NORD");
            }
        }
    }
    return root;
}

int32_t AtrNode::DeleteChild(const char* element_, int32_t n, const char* label)
{
    AtrNode* c = GetChild(element_, n);
    if (c == nullptr) {
        return 0;
    }
    Destroy(c, label);
    return 1;
}

// ---------------------------------------------------------------- navigation

AtrNode* AtrNode::GetParent(const char* element_) const
{
    for (AtrNode* a = parent; a != nullptr; a = a->parent) {
        if (NameIs(a->element, element_)) {
            return a;
        }
    }
    return nullptr;
}

AtrNode* AtrNode::GetNext(const char* element_) const
{
    for (AtrNode* n = next; n != nullptr; n = n->next) {
        if (NameIs(n->element, element_)) {
            return n;
        }
    }
    return nullptr;
}

AtrNode* AtrNode::GetPrev(const char* element_) const
{
    for (AtrNode* n = prev; n != nullptr; n = n->prev) {
        if (NameIs(n->element, element_)) {
            return n;
        }
    }
    return nullptr;
}

AtrNode* AtrNode::GetChild(int32_t index) const
{
    return NthOfList(child, childTail, childCount, index);
}

AtrNode* AtrNode::GetChild(const char* element_, int32_t n) const
{
    return NthNamed(child, element_, n, ElementOf);
}

int32_t AtrNode::GetChildSize(const char* element_) const
{
    return CountNamed(child, element_, ElementOf);
}

AtrNode* AtrNode::GetChildByAttribute(const char* attribute, const char* text) const
{
    for (AtrNode* c = child; c != nullptr; c = c->next) {
        for (const AtrAttribute* a = c->attributes; a != nullptr; a = a->next) {
            if (NameIs(a->name, attribute) && (text == nullptr || NameIs(a->data.GetCvString(), text))) {
                return c;
            }
        }
    }
    return nullptr;
}

AtrNode* AtrNode::GetDescendant(const char* element_, int32_t n) const
{
    if (element_ == nullptr || n < 0) {
        return nullptr;
    }
    for (const AtrNode* c = child != nullptr ? NextPreOrder(this, this) : nullptr; c != nullptr;
         c = NextPreOrder(c, this)) {
        if (NameIs(c->element, element_) && n-- == 0) {
            return const_cast<AtrNode*>(c);
        }
    }
    return nullptr;
}

AtrNode* AtrNode::GetNodeByHistoryId(int32_t id) const
{
    for (const AtrNode* c = this; c != nullptr; c = NextPreOrder(c, this)) {
        if (c->historyId == id) {
            return const_cast<AtrNode*>(c);
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------- attributes

void AtrNode::_insertAttribute(AtrAttribute* attribute, int32_t index)
{
    if (index < 0 || index >= attributeCount || attributes == nullptr) {
        attribute->next = nullptr;
        if (attributeTail != nullptr) {
            attributeTail->next = attribute;
        } else {
            attributes = attribute;
        }
        attributeTail = attribute;
    } else if (index == 0) {
        attribute->next = attributes;
        attributes = attribute;
    } else {
        AtrAttribute* before = attributes;
        while (--index > 0) {
            before = before->next;
        }
        attribute->next = before->next;
        before->next = attribute;
    }
    ++attributeCount;
}

AtrAttribute* AtrNode::_unlinkAttribute(AtrAttribute* attribute)
{
    AtrAttribute* before = nullptr;
    AtrAttribute* a = attributes;
    while (a != nullptr && a != attribute) {
        before = a;
        a = a->next;
    }
    if (a == nullptr) {
        return nullptr;
    }
    if (before != nullptr) {
        before->next = a->next;
    } else {
        attributes = a->next;
    }
    if (attributeTail == a) {
        attributeTail = before;
    }
    a->next = nullptr;
    --attributeCount;
    return a;
}

AtrAttribute* AtrNode::AddAttribute(const CvString& name, const AtrData& value, int32_t index)
{
    AtrAttribute* a = new AtrAttribute(name, value);
    if (a == nullptr) {
        return nullptr;
    }
    _insertAttribute(a, index);
    if (_recording()) {
        historyManager->AttributeAdded(this, a, "ADD ATTRIBUTE");
    }
    return a;
}

template <class V>
AtrAttribute* AtrNode::_addAttributeDirect(const CvString& name, const V& v)
{
    AtrAttribute* a = new AtrAttribute(AtrAttribute::DirectTag{}, name, v);
    if (a == nullptr) {
        return nullptr;
    }
    _insertAttribute(a, -1);
    if (_recording()) {
        historyManager->AttributeAdded(this, a, "ADD ATTRIBUTE");
    }
    return a;
}

AtrAttribute* AtrNode::AddAttribute(const CvString& name, const char* text)
{
    return _addAttributeDirect(name, text);
}

AtrAttribute* AtrNode::AddAttribute(const CvString& name, const CvString& text)
{
    return _addAttributeDirect(name, text);
}

AtrAttribute* AtrNode::AddAttribute(const CvString& name, int32_t v)
{
    return _addAttributeDirect(name, v);
}

AtrAttribute* AtrNode::AddAttribute(const CvString& name, float v)
{
    return _addAttributeDirect(name, v);
}

AtrAttribute* AtrNode::AddAttribute(const CvString& name, const void* bytes, uint32_t size)
{
    return AddAttribute(name, AtrData(bytes, size));
}

AtrAttribute* AtrNode::AddAttributeU32(const CvString& name, uint32_t v)
{
    return _addAttributeDirect(name, v);
}

AtrAttribute* AtrNode::AddAttribute(const CvString& name, const char* text, const char* kind)
{
    AtrData value;
    ParseAttributeValue(value, text, kind);
    return AddAttribute(name, value);
}

int32_t AtrNode::_setAttributeValue(const char* name, const AtrData& value)
{
    AtrAttribute* a = GetAttribute(name, 0);
    if (a == nullptr) {
        return 0;
    }
    if (_recording()) {
        historyManager->AttributeChanged(this, a, value, "SET ATTRIBUTE");
    }
    a->data = value;
    return 1;
}

int32_t AtrNode::SetAttribute(const char* name, const AtrData& value)
{
    return _setAttributeValue(name, value);
}

int32_t AtrNode::SetAttribute(const char* name, const char* text)
{
    return _setAttributeValue(name, AtrData(text));
}

int32_t AtrNode::SetAttribute(const char* name, const CvString& text)
{
    return _setAttributeValue(name, AtrData(text));
}

int32_t AtrNode::SetAttribute(const char* name, int32_t v)
{
    return _setAttributeValue(name, AtrData(v));
}

int32_t AtrNode::SetAttribute(const char* name, float v)
{
    return _setAttributeValue(name, AtrData(v));
}

int32_t AtrNode::SetAttribute(const char* name, const void* bytes, uint32_t size)
{
    return _setAttributeValue(name, AtrData(bytes, size));
}

int32_t AtrNode::SetAttributeU32(const char* name, uint32_t v)
{
    return _setAttributeValue(name, AtrData(v));
}

int32_t AtrNode::SetAttribute(const char* name, const char* text, const char* kind)
{
    AtrData value;
    ParseAttributeValue(value, text, kind);
    return _setAttributeValue(name, value);
}

int32_t AtrNode::DeleteAttribute(const char* name)
{
    AtrAttribute* a = GetAttribute(name, 0);
    if (a == nullptr) {
        return 0;
    }
    if (_recording()) {
        historyManager->AttributeDeleted(this, a, "DELETE ATTRIBUTE");
    }
    delete _unlinkAttribute(a);
    return 1;
}

int32_t AtrNode::DeleteAttribute(int32_t index)
{
    AtrAttribute* a = GetAttribute(index);
    if (a == nullptr) {
        return 0;
    }
    if (_recording()) {
        historyManager->AttributeDeleted(this, a, "DELETE ATTRIBUTE");
    }
    delete _unlinkAttribute(a);
    return 1;
}

AtrAttribute* AtrNode::GetAttribute(int32_t index) const
{
    return NthOfList(attributes, attributeTail, attributeCount, index);
}

AtrAttribute* AtrNode::GetAttribute(const char* name, int32_t n) const
{
    return NthNamed(attributes, name, n, NameOf);
}

int32_t AtrNode::GetAttributeNum(const char* name) const
{
    return CountNamed(attributes, name, NameOf);
}

int32_t AtrNode::CheckAttribute(const char* name) const
{
    return GetAttribute(name, 0) != nullptr ? 1 : 0;
}

int32_t AtrNode::GetAttributeIndexName(const AtrAttribute* attribute) const
{
    if (attributes == nullptr || attribute == nullptr) {
        return -1;
    }
    int32_t k = 0;
    for (const AtrAttribute* a = attributes; a != nullptr; a = a->next) {
        if (a == attribute) {
            return k;
        }
        if (SameName(a->name, attribute->name)) {
            ++k;
        }
    }
    return -1;
}

AtrData* AtrNode::GetAttributeData(int32_t index, AtrData* absent) const
{
    AtrAttribute* a = GetAttribute(index);
    return a != nullptr ? &a->data : absent;
}

AtrData* AtrNode::GetAttributeData(const char* name, AtrData* absent) const
{
    AtrAttribute* a = GetAttribute(name, 0);
    return a != nullptr ? &a->data : absent;
}

namespace {

int32_t ParamText(const AtrAttribute* a, char* text, int32_t length)
{
    if (a == nullptr) {
        return 0;
    }
    CopyText(text, length, a->GetString());
    return 1;
}

int32_t ParamS32(const AtrAttribute* a, int32_t& v)
{
    if (a == nullptr) {
        return 0;
    }
    v = a->GetS32();
    return 1;
}

int32_t ParamF32(const AtrAttribute* a, float& v)
{
    if (a == nullptr) {
        return 0;
    }
    v = a->GetF32();
    return 1;
}

int32_t ParamBuffer(const AtrAttribute* a, void*& bytes, uint32_t& size)
{
    if (a == nullptr) {
        return 0;
    }
    bytes = a->GetBuffer();
    size = a->GetBufferSize();
    return 1;
}

int32_t ParamCvString(const AtrAttribute* a, CvString& text)
{
    if (a == nullptr) {
        return 0;
    }
    text = a->GetCvString();
    return 1;
}

} // namespace

int32_t AtrNode::GetAttributeParam(int32_t index, char* text, int32_t length) const
{
    return ParamText(GetAttribute(index), text, length);
}
int32_t AtrNode::GetAttributeParam(int32_t index, int32_t& v) const { return ParamS32(GetAttribute(index), v); }
int32_t AtrNode::GetAttributeParam(int32_t index, float& v) const { return ParamF32(GetAttribute(index), v); }
int32_t AtrNode::GetAttributeParam(int32_t index, void*& bytes, uint32_t& size) const
{
    return ParamBuffer(GetAttribute(index), bytes, size);
}
int32_t AtrNode::GetAttributeParam(int32_t index, CvString& text) const
{
    return ParamCvString(GetAttribute(index), text);
}
int32_t AtrNode::GetAttributeParam(const char* name, char* text, int32_t length) const
{
    return ParamText(GetAttribute(name, 0), text, length);
}
int32_t AtrNode::GetAttributeParam(const char* name, int32_t& v) const
{
    return ParamS32(GetAttribute(name, 0), v);
}
int32_t AtrNode::GetAttributeParam(const char* name, float& v) const
{
    return ParamF32(GetAttribute(name, 0), v);
}
int32_t AtrNode::GetAttributeParam(const char* name, void*& bytes, uint32_t& size) const
{
    return ParamBuffer(GetAttribute(name, 0), bytes, size);
}
int32_t AtrNode::GetAttributeParam(const char* name, CvString& text) const
{
    return ParamCvString(GetAttribute(name, 0), text);
}

AtrAttribute* AtrNode::ResetAttributeList(AtrAttribute* head)
{
    AtrAttribute* former = attributes;
    attributes = head;
    attributeTail = nullptr;
    attributeCount = 0;
    for (AtrAttribute* a = head; a != nullptr; a = a->next) {
        attributeTail = a;
        ++attributeCount;
    }
    return former;
}

// ---------------------------------------------------------------------- data

void AtrNode::_insertData(AtrData* value, int32_t index)
{
    if (index < 0 || index >= dataCount || data == nullptr) {
        value->next = nullptr;
        if (dataTail != nullptr) {
            dataTail->next = value;
        } else {
            data = value;
        }
        dataTail = value;
    } else if (index == 0) {
        value->next = data;
        data = value;
    } else {
        AtrData* before = data;
        while (--index > 0) {
            before = before->next;
        }
        value->next = before->next;
        before->next = value;
    }
    ++dataCount;
}

template <class V>
AtrData* AtrNode::_addDataDirect(const V& v, int32_t index)
{
    AtrData* d = new AtrData(v);
    if (d == nullptr) {
        return nullptr;
    }
    _insertData(d, index);
    if (_recording()) {
        historyManager->DataAdded(this, d, "ADD DATA");
    }
    return d;
}

AtrData* AtrNode::AddData(const AtrData& value, int32_t index)
{
    return _addDataDirect(static_cast<const CvVariant&>(value), index);
}
AtrData* AtrNode::AddData(const CvVariant& value, int32_t index) { return _addDataDirect(value, index); }
AtrData* AtrNode::AddData(int32_t v, int32_t index) { return _addDataDirect(v, index); }
AtrData* AtrNode::AddData(float v, int32_t index) { return _addDataDirect(v, index); }
AtrData* AtrNode::AddDataU32(uint32_t v, int32_t index) { return _addDataDirect(v, index); }

AtrData* AtrNode::AddData(const void* bytes, uint32_t size, int32_t index)
{
    return AddData(AtrData(bytes, size), index);
}

AtrData* AtrNode::AddData(const char* text, const char* kind, int32_t index)
{
    AtrData value;
    ParseDataValue(value, text, kind);
    return AddData(value, index);
}

AtrData* AtrNode::AddData(const CvString& text, const char* kind, int32_t index)
{
    if (kind == nullptr || std::strcmp(kind, "STRING") == 0) {
        return _addDataDirect(text, index); // shares the text
    }
    return AddData(text.GetBuffer(), kind, index);
}

int32_t AtrNode::_setDataValue(int32_t index, const AtrData& value)
{
    AtrData* d = GetData(index);
    if (d == nullptr) {
        return 0;
    }
    if (_recording()) {
        historyManager->DataChanged(this, d, value, "SET DATA");
    }
    *d = value;
    return 1;
}

int32_t AtrNode::SetData(int32_t index, const AtrData& value) { return _setDataValue(index, value); }
int32_t AtrNode::SetData(int32_t index, int32_t v) { return _setDataValue(index, AtrData(v)); }
int32_t AtrNode::SetData(int32_t index, uint32_t v) { return _setDataValue(index, AtrData(v)); }
int32_t AtrNode::SetData(int32_t index, float v) { return _setDataValue(index, AtrData(v)); }
int32_t AtrNode::SetData(int32_t index, const char* text) { return _setDataValue(index, AtrData(text)); }

int32_t AtrNode::DeleteData(int32_t index)
{
    if (index < 0) {
        index = dataCount - 1;
    }
    AtrData* d = GetData(index);
    if (d == nullptr) {
        return 0;
    }
    if (_recording()) {
        historyManager->DataDeleted(this, d, "DELETE DATA");
    }
    AtrData* before = index > 0 ? GetData(index - 1) : nullptr;
    if (before != nullptr) {
        before->next = d->next;
    } else {
        data = d->next;
    }
    if (dataTail == d) {
        dataTail = before;
    }
    --dataCount;
    delete d;
    return 1;
}

AtrData* AtrNode::GetData(int32_t index) const
{
    return NthOfList(data, dataTail, dataCount, index);
}

int32_t AtrNode::GetData(int32_t index, char* text, int32_t length) const
{
    const AtrData* d = GetData(index);
    CopyText(text, length, d != nullptr ? d->GetString() : "");
    return d != nullptr ? 1 : 0;
}

int32_t AtrNode::GetData(int32_t index, int32_t& v) const
{
    const AtrData* d = GetData(index);
    v = d != nullptr ? d->GetS32() : 0;
    return d != nullptr ? 1 : 0;
}

int32_t AtrNode::GetData(int32_t index, float& v) const
{
    const AtrData* d = GetData(index);
    v = d != nullptr ? d->GetF32() : 0.0f;
    return d != nullptr ? 1 : 0;
}

// --------------------------------------------------------------------- flags

void AtrNode::SetFlag(uint32_t mask, uint32_t bits, const char* label)
{
    const uint32_t old = flags;
    flags = (flags & mask) | bits;
    if (_recording() && ((old ^ flags) & ATR_NODE_FLAG_RECORDED_MASK) != 0) {
        historyManager->FlagChanged(this, old, label);
    }
}

// ---------------------------------------------------------- tree maintenance

void AtrNode::ExtractEnvName()
{
    for (AtrNode* n = this; n != nullptr; n = NextPreOrder(n, this)) {
        for (AtrAttribute* a = n->attributes; a != nullptr; a = a->next) {
            if (a->data.GetType() == CVK_VARIANT_TYPE_STRING && a->data.GetStrLength() > 0) {
                a->data.SetString(CvkFileNameExtractEnvName(a->data.GetString()));
            }
        }
        for (AtrData* d = n->data; d != nullptr; d = d->next) {
            if (d->GetType() == CVK_VARIANT_TYPE_STRING && d->GetStrLength() > 0) {
                d->SetString(CvkFileNameExtractEnvName(d->GetString()));
            }
        }
    }
}

int32_t AtrNode::RenewAttribute(AtrNode* source, int32_t mode)
{
    if (source == nullptr || source == this) {
        return 0;
    }
    if ((mode & 1) != 0 && !SameName(element, source->element)) {
        return 0;
    }
    const bool record = _recording();
    int32_t changed = 0;
    AtrAttribute* head = nullptr;
    AtrAttribute* tail = nullptr;
    int32_t count = 0;
    std::vector<AtrAttribute*> added; // taken new from source, reported once in place
    for (const AtrAttribute* sa = source->attributes; sa != nullptr; sa = sa->next) {
        // The k-th of a name in source pairs with the k-th of that name
        // here: the earlier ones were already moved out of the old list.
        AtrAttribute* mine = GetAttribute(sa->name.GetBuffer() != nullptr ? sa->name.GetBuffer() : "", 0);
        if (mine != nullptr) {
            _unlinkAttribute(mine);
            if ((mode & 2) != 0 && mine->data != sa->data) {
                if (record) {
                    historyManager->AttributeChanged(this, mine, sa->data, "SET ATTRIBUTE");
                }
                mine->data = sa->data;
                changed = 1;
            }
        } else {
            mine = new AtrAttribute(sa->name, sa->data);
            if (mine == nullptr) {
                continue;
            }
            if (record) {
                added.push_back(mine);
            }
            changed = 1;
        }
        mine->next = nullptr;
        if (tail != nullptr) {
            tail->next = mine;
        } else {
            head = mine;
        }
        tail = mine;
        ++count;
    }
    while (attributes != nullptr) {
        AtrAttribute* a = attributes;
        if (record) {
            historyManager->AttributeDeleted(this, a, "DELETE ATTRIBUTE");
        }
        delete _unlinkAttribute(a);
        changed = 1;
    }
    attributes = head;
    attributeTail = tail;
    attributeCount = count;
    for (AtrAttribute* a : added) {
        historyManager->AttributeAdded(this, a, "ADD ATTRIBUTE");
    }
    return changed;
}

int32_t AtrNode::RenewNodeTree(AtrNode* source, int32_t mode)
{
    if (source == nullptr || source == this || !SameName(element, source->element)) {
        return 0;
    }
    int32_t changed = 0;
    // Per level: the first child of the node being renewed that has no
    // renewal mark yet (every child before it has one).
    std::vector<AtrNode*> cursors;

    auto enter = [&](AtrNode* d, AtrNode* s) {
        const uint32_t recorded = d->flags & ATR_NODE_FLAG_HISTORY;
        d->flags = (d->flags & ~(ATR_NODE_FLAG_HISTORY | ATR_NODE_FLAG_RENEW_SUSPENDED)) | ATR_NODE_FLAG_RENEW;
        if (recorded != 0 && d->historyManager != nullptr) {
            d->flags |= ATR_NODE_FLAG_RENEW_SUSPENDED;
        } else {
            d->flags |= recorded;
        }
        if (d->RenewAttribute(s, mode) != 0) {
            changed = 1;
        }
        cursors.push_back(d->child);
    };
    auto finish = [&](AtrNode* d) {
        cursors.pop_back();
        for (AtrNode* c = d->child; c != nullptr;) {
            AtrNode* following = c->next;
            if ((c->flags & ATR_NODE_FLAG_RENEW) == 0) {
                Destroy(c, nullptr);
                changed = 1;
            }
            c = following;
        }
        if ((d->flags & ATR_NODE_FLAG_RENEW_SUSPENDED) != 0) {
            d->flags = (d->flags & ~ATR_NODE_FLAG_RENEW_SUSPENDED) | ATR_NODE_FLAG_HISTORY;
        }
    };

    AtrNode* d = this;
    AtrNode* s = source;
    enter(d, s);
    AtrNode* sc = s->child;
    for (;;) {
        if (sc != nullptr) {
            AtrNode*& cursor = cursors.back();
            AtrNode* dc = nullptr;
            for (AtrNode* c = cursor; c != nullptr; c = c->next) {
                if ((c->flags & ATR_NODE_FLAG_RENEW) == 0 && SameName(c->element, sc->element)) {
                    dc = c;
                    break;
                }
            }
            if (dc == nullptr) {
                dc = Create(d, sc->element);
                if (dc == nullptr) {
                    sc = sc->next; // out of memory: this child stays out
                    continue;
                }
                if ((d->flags & ATR_NODE_FLAG_RENEW_SUSPENDED) != 0) {
                    dc->flags |= ATR_NODE_FLAG_HISTORY;
                    d->historyManager->NodeAdded(dc, "ADD NEW NORD");
                }
                changed = 1;
                if (cursor == nullptr) {
                    cursor = dc;
                }
            }
            enter(dc, sc);
            AtrNode*& parentCursor = cursors[cursors.size() - 2];
            while (parentCursor != nullptr && (parentCursor->flags & ATR_NODE_FLAG_RENEW) != 0) {
                parentCursor = parentCursor->next;
            }
            d = dc;
            s = sc;
            sc = s->child;
            continue;
        }
        finish(d);
        if (d == this) {
            break;
        }
        sc = s->next;
        s = s->parent;
        d = d->parent;
    }

    for (AtrNode* n = this; n != nullptr; n = NextPreOrder(n, this)) {
        n->flags &= ~ATR_NODE_FLAG_RENEW;
    }
    return changed;
}

// ----------------------------------------------------------- history support

void AtrNode::_attachHistoryManager(AtrHistoryManager* manager, int32_t record)
{
    if (manager == nullptr) {
        return;
    }
    for (AtrNode* n = this; n != nullptr; n = NextPreOrder(n, this)) {
        if (n->historyManager != nullptr) {
            continue;
        }
        n->historyManager = manager;
        n->historyId = manager->NewHistoryId();
        if (record != 0) {
            n->flags |= ATR_NODE_FLAG_HISTORY;
        } else {
            n->flags &= ~ATR_NODE_FLAG_HISTORY;
        }
    }
}

void AtrNode::_setHistoryIdFromAttribute()
{
    for (AtrNode* n = this; n != nullptr; n = NextPreOrder(n, this)) {
        AtrAttribute* a = n->GetAttribute(kHistoryIdName, 0);
        if (a != nullptr) {
            n->historyId = a->GetS32();
            delete n->_unlinkAttribute(a);
        }
    }
}

void AtrNode::_setHistoryIdToAttribute()
{
    for (AtrNode* n = this; n != nullptr; n = NextPreOrder(n, this)) {
        AtrAttribute* a = n->GetAttribute(kHistoryIdName, 0);
        if (a != nullptr) {
            a->data.SetS32(n->historyId);
        } else {
            a = new AtrAttribute(CvString(kHistoryIdName), AtrData(n->historyId));
            if (a != nullptr) {
                n->_insertAttribute(a, -1);
            }
        }
    }
}
