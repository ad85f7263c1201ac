#include "attribute/AtrNode.h"

#include "attribute/AtrNodeAppend.h"
#include "attribute/AtrNodePool.h"
#include "kit/CvkArena.h"
#include "kit/CvkFileName.h"
#include "kit/CvkStringScan.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>
#include <typeinfo>
#include <utility>
#include <vector>

namespace {

using atr_node::CopiedWhole;
using atr_node::InsertAt;

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

float Atof(const char* text) { return static_cast<float>(std::atof(text != nullptr ? text : "")); }

// A value from text and a kind name, for attributes: "SINT" and "UINT" are
// read with CvkStringCnvAtoI and kept as "SINT".
void ParseAttributeValue(AtrData& out, const char* text, const char* kind)
{
    const int32_t k = CvkGetVariantTypeNum(kind != nullptr ? kind : "STRING");
    switch (k) {
    case CVK_VARIANT_TYPE_SINT:
    case CVK_VARIANT_TYPE_UINT: out.SetS32(static_cast<int32_t>(CvkStringCnvAtoI(text))); break;
    case CVK_VARIANT_TYPE_FLOAT: out.SetF32(Atof(text)); break;
    case CVK_VARIANT_TYPE_BUF:
    case CVK_VARIANT_TYPE_FIXED: out.Set(text != nullptr ? text : "", static_cast<CVK_VARIANT_TYPE>(k)); break;
    default: out.SetString(text); break;
    }
}

// A value from text and a kind name, for data: "SINT" with CvkStringCnvAtoI
// (hexadecimal prefixes and signs), "UINT" with atoi.
void ParseDataValue(AtrData& out, const char* text, const char* kind)
{
    const int32_t k = CvkGetVariantTypeNum(kind != nullptr ? kind : "STRING");
    switch (k) {
    case CVK_VARIANT_TYPE_SINT: out.SetS32(static_cast<int32_t>(CvkStringCnvAtoI(text))); break;
    case CVK_VARIANT_TYPE_UINT: out.SetU32(static_cast<uint32_t>(CvkStringAtoIClamped(text))); break;
    case CVK_VARIANT_TYPE_FLOAT: out.SetF32(Atof(text)); break;
    case CVK_VARIANT_TYPE_BUF:
    case CVK_VARIANT_TYPE_FIXED: out.Set(text != nullptr ? text : "", static_cast<CVK_VARIANT_TYPE>(k)); break;
    default: out.SetString(text); break;
    }
}

// The last node of the sibling chain that starts at `node`.
AtrNode* ChainEnd(AtrNode* node)
{
    while (node->GetNext() != nullptr) {
        node = node->GetNext();
    }
    return node;
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

AtrNode::AtrNode(const CvString& element_) : AtrNode(element_, CvkArenaOf(this)) {}

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
    if (parent == nullptr) {
        if (CvkArena* arena = CvkArenaOf(this)) {
            arena->AddRoots(-1);
        }
    }
    parent = prev = next = nullptr;
    if (child == nullptr && attributes == nullptr && data == nullptr) {
        return; // a leaf: no batches to set up
    }
    _FreeBatches batches;
    _deleteSubtree(batches);
    _freeContents(batches);
}

namespace {

void MarkMixed(CvkArena* arena)
{
    if (arena != nullptr) {
        arena->MarkMixed();
    }
}

// Destroys an object whose links are already cleared. Objects of an arena
// go back to it, pooled ones to `batch`; anything else (a derived class) is
// deleted as usual.
template <class T, class Batch>
void Dispose(T* object, Batch& batch)
{
    if (typeid(*object) != typeid(T)) {
        delete object;
        return;
    }
    CvkArena* arena = CvkArenaOf(object);
    object->T::~T();
    if (arena != nullptr) {
        arena->Free(object, sizeof(T));
    } else {
        batch.Add(object);
    }
}

} // namespace

void AtrNode::_freeContents(_FreeBatches& batches)
{
    for (AtrAttribute* a = attributes; a != nullptr;) {
        AtrAttribute* following = a->next;
        Dispose(a, batches.attributes);
        a = following;
    }
    attributes = attributeTail = nullptr;
    for (AtrData* d = data; d != nullptr;) {
        AtrData* following = d->next;
        Dispose(d, batches.data);
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
        if (CvkArena* arena = CvkArenaOf(n)) {
            arena->AddRoots(1); // n dies as a child, not as a root: balances its destructor
        }
        n->_freeContents(batches);
        Dispose(n, batches.nodes);
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

void AtrNode::_setParent(AtrNode* newParent)
{
    if (parent == newParent) {
        return;
    }
    CvkArena* mine = CvkArenaOf(this);
    if (newParent != nullptr) {
        CvkArena* theirs = CvkArenaOf(newParent);
        if (theirs != mine) {
            MarkMixed(mine);
            MarkMixed(theirs);
        }
    }
    if (mine != nullptr && (parent == nullptr) != (newParent == nullptr)) {
        mine->AddRoots(newParent == nullptr ? 1 : -1);
    }
    parent = newParent;
}

AtrNode* AtrNode::_newDocument(const CvString& element)
{
    CvkArena* arena = CvkArena::Create();
    if (arena == nullptr) {
        return _newNode(nullptr, element); // the pools' way
    }
    AtrNode* node = _make<AtrNode>(arena, element, arena);
    if (node == nullptr) {
        arena->Release();
        return nullptr;
    }
    arena->AddRoots(1);
    if (node->element.GetLength() != element.GetLength()) {
        delete node; // the arena goes with its last block
        return nullptr;
    }
    return node;
}

AtrNode* AtrNode::Create(AtrNode* parent, const CvString& element, const char* label)
{
    (void)label;
    return parent != nullptr ? parent->_appendChild(CvkArenaOf(parent), element) : _newDocument(element);
}

void AtrNode::_joinHistory(AtrNode* node, CvkArena* arena)
{
    MarkMixed(arena);
    node->historyManager = historyManager;
    node->historyId = historyManager->NewHistoryId();
    node->flags |= flags & ATR_NODE_FLAG_HISTORY;
    if (_recording()) {
        historyManager->NodeAdded(node, "ADD NEW NORD");
    }
}

AtrNode* AtrNode::Create(AtrNode* parent, const char* element, const char* label)
{
    return Create(parent, CvString(element), label);
}

bool AtrNode::_releaseDocument(bool following)
{
    CvkArena* arena = CvkArenaOf(this);
    if (arena == nullptr || arena->Mixed() || parent != nullptr) {
        return false;
    }
    int32_t roots = 1;
    for (const AtrNode* n = following ? next : nullptr; n != nullptr; n = n->next, ++roots) {
        if (CvkArenaOf(n) != arena) {
            return false;
        }
    }
    if (arena->Roots() != roots) {
        return false;
    }
    if (following) {
        if (prev != nullptr) {
            prev->next = nullptr;
        }
    } else {
        _unlinkFromParent(); // from the siblings of a top-level chain
    }
    arena->Release();
    return true;
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
    if (!node->_releaseDocument(false)) {
        delete node;
    }
}

AtrNode* AtrNodeCreate(AtrNode* parent, const char* element, const char* label)
{
    return AtrNode::Create(parent, element, label);
}

void AtrNodeDestroy(AtrNode* node) { AtrNode::Destroy(node, nullptr); }

void AtrNodeDestroyChain(AtrNode* first)
{
    if (first != nullptr && first->_releaseDocument(true)) {
        return; // the chain was the whole document
    }
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
        c->_setParent(nullptr);
    }
}

void AtrNode::_indexFrom(AtrNode* first, AtrNode* parent)
{
    int32_t i = first->prev != nullptr ? first->prev->childIndex + 1 : 0;
    AtrNode* last = first;
    for (AtrNode* c = first; c != nullptr; c = c->next) {
        c->_setParent(parent);
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
    AtrNode* last = ChainEnd(node);
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

AtrNode* AtrNode::AddChild(const CvString& element_) { return Create(this, element_); }

AtrNode* AtrNode::AddChild(const char* element_) { return Create(this, CvString(element_)); }

int32_t AtrNode::AddNext(AtrNode* node)
{
    if (node == nullptr || _chainHoldsSelfOrAncestor(node)) {
        return 0;
    }
    _detachChain(node);
    AtrNode* last = ChainEnd(node);
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
    AtrNode* node = _newNode(CvkArenaOf(this), element_);
    if (node != nullptr) {
        AddNext(node);
    }
    return node;
}

AtrNode* AtrNode::AddNext(const char* element_) { return AddNext(CvString(element_)); }

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
    AtrNode* last = ChainEnd(node);
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
    _setParent(nullptr);
    prev = next = nullptr;
    childIndex = 0;
}

AtrNode* AtrNode::Remove()
{
    Cut();
    AtrNode* first = child;
    for (AtrNode* c = child; c != nullptr; c = c->next) {
        c->_setParent(nullptr);
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
    node->_setParent(parent);
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
    _setParent(nullptr);
    prev = next = nullptr;
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
    // The copy joins newParent's document, or starts one of its own.
    auto copyContents = [](AtrNode* c, const AtrNode* s, CvkArena* arena) {
        c->flags = s->flags & ATR_NODE_FLAG_DUPLICATE_MASK;
        for (const AtrAttribute* a = s->attributes; a != nullptr; a = a->next) {
            AtrAttribute* na = _make<AtrAttribute>(arena, a->name, a->data);
            if (na != nullptr) {
                c->_insertAttribute(na, -1);
            }
        }
        for (const AtrData* d = s->data; d != nullptr; d = d->next) {
            AtrData* nd = _make<AtrData>(arena, *d);
            if (nd != nullptr) {
                nd->next = nullptr;
                c->_insertData(nd, -1);
            }
        }
    };
    auto copyOne = [&copyContents](const AtrNode* s, CvkArena* arena) -> AtrNode* {
        AtrNode* c = _newNode(arena, s->element);
        if (c != nullptr) {
            copyContents(c, s, arena);
        }
        return c;
    };

    AtrNode* root = newParent != nullptr ? _newNode(CvkArenaOf(newParent), element) : _newDocument(element);
    if (root == nullptr) {
        return nullptr;
    }
    CvkArena* arena = CvkArenaOf(root);
    copyContents(root, this, arena);
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
        AtrNode* c = copyOne(s, arena);
        if (c == nullptr) {
            delete root;
            return nullptr;
        }
        under->_appendNew(c, arena);
        d = c;
    }

    if (newParent != nullptr) {
        newParent->_appendNew(root, CvkArenaOf(root));
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

AtrNode* AtrNode::GetChild(int32_t index) const { return NthOfList(child, childTail, childCount, index); }

AtrNode* AtrNode::GetChild(const char* element_, int32_t n) const { return NthNamed(child, element_, n, ElementOf); }

int32_t AtrNode::GetChildSize(const char* element_) const { return CountNamed(child, element_, ElementOf); }

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
    InsertAt(attributes, attributeTail, attributeCount, attribute, index);
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
    AtrAttribute* a = _make<AtrAttribute>(CvkArenaOf(this), name, value);
    if (a == nullptr) {
        return nullptr;
    }
    if (a->name.GetLength() != name.GetLength() || !CopiedWhole(a->data, static_cast<const CvVariant&>(value))) {
        delete a;
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
    return _appendAttribute(CvkArenaOf(this), name, v);
}

AtrAttribute* AtrNode::AddAttribute(const CvString& name, const char* text) { return _addAttributeDirect(name, text); }

AtrAttribute* AtrNode::AddAttribute(const CvString& name, const CvString& text)
{
    return _addAttributeDirect(name, text);
}

AtrAttribute* AtrNode::AddAttribute(const CvString& name, int32_t v) { return _addAttributeDirect(name, v); }

AtrAttribute* AtrNode::AddAttribute(const CvString& name, float v) { return _addAttributeDirect(name, v); }

AtrAttribute* AtrNode::AddAttribute(const CvString& name, const void* bytes, uint32_t size)
{
    return AddAttribute(name, AtrData(bytes, size));
}

AtrAttribute* AtrNode::AddAttributeU32(const CvString& name, uint32_t v) { return _addAttributeDirect(name, v); }

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

int32_t AtrNode::SetAttribute(const char* name, const AtrData& value) { return _setAttributeValue(name, value); }

int32_t AtrNode::SetAttribute(const char* name, const char* text) { return _setAttributeValue(name, AtrData(text)); }

int32_t AtrNode::SetAttribute(const char* name, const CvString& text)
{
    return _setAttributeValue(name, AtrData(text));
}

int32_t AtrNode::SetAttribute(const char* name, int32_t v) { return _setAttributeValue(name, AtrData(v)); }

int32_t AtrNode::SetAttribute(const char* name, float v) { return _setAttributeValue(name, AtrData(v)); }

int32_t AtrNode::SetAttribute(const char* name, const void* bytes, uint32_t size)
{
    return _setAttributeValue(name, AtrData(bytes, size));
}

int32_t AtrNode::SetAttributeU32(const char* name, uint32_t v) { return _setAttributeValue(name, AtrData(v)); }

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

AtrAttribute* AtrNode::GetAttribute(const char* name, int32_t n) const { return NthNamed(attributes, name, n, NameOf); }

int32_t AtrNode::GetAttributeNum(const char* name) const { return CountNamed(attributes, name, NameOf); }

int32_t AtrNode::CheckAttribute(const char* name) const { return GetAttribute(name, 0) != nullptr ? 1 : 0; }

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
int32_t AtrNode::GetAttributeParam(const char* name, int32_t& v) const { return ParamS32(GetAttribute(name, 0), v); }
int32_t AtrNode::GetAttributeParam(const char* name, float& v) const { return ParamF32(GetAttribute(name, 0), v); }
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
    // Attributes handed to the caller hang from no node of the arena until
    // they come back (they count as roots); attributes of elsewhere mix the
    // arenas.
    CvkArena* arena = CvkArenaOf(this);
    auto account = [arena](AtrAttribute* chain, int32_t delta) {
        for (AtrAttribute* a = chain; a != nullptr; a = a->next) {
            CvkArena* theirs = CvkArenaOf(a);
            if (theirs != arena) {
                MarkMixed(arena);
                MarkMixed(theirs);
            } else if (arena != nullptr) {
                arena->AddRoots(delta);
            }
        }
    };
    account(attributes, 1);
    account(head, -1);
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

void AtrNode::_insertData(AtrData* value, int32_t index) { InsertAt(data, dataTail, dataCount, value, index); }

template <class V>
AtrData* AtrNode::_addDataDirect(const V& v, int32_t index)
{
    return _addDataIn(CvkArenaOf(this), v, index);
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

AtrData* AtrNode::GetData(int32_t index) const { return NthOfList(data, dataTail, dataCount, index); }

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
            mine = _make<AtrAttribute>(CvkArenaOf(this), sa->name, sa->data);
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

// Renewal of one node: it gets the renewal mark, its recording is
// suspended (ATR_NODE_FLAG_RENEW_SUSPENDED remembers it) and its attributes
// follow `source`'s; its first child becomes the cursor of its level.
int32_t AtrNode::_renewEnter(AtrNode* source, int32_t mode, std::vector<AtrNode*>& cursors)
{
    const uint32_t recorded = flags & ATR_NODE_FLAG_HISTORY;
    flags = (flags & ~(ATR_NODE_FLAG_HISTORY | ATR_NODE_FLAG_RENEW_SUSPENDED)) | ATR_NODE_FLAG_RENEW;
    if (recorded != 0 && historyManager != nullptr) {
        flags |= ATR_NODE_FLAG_RENEW_SUSPENDED;
    } else {
        flags |= recorded;
    }
    cursors.push_back(child);
    return RenewAttribute(source, mode) != 0 ? 1 : 0;
}

// The end of a node's renewal: children left without a renewal mark are
// destroyed and its recording comes back.
int32_t AtrNode::_renewFinish(std::vector<AtrNode*>& cursors)
{
    int32_t changed = 0;
    cursors.pop_back();
    for (AtrNode* c = child; c != nullptr;) {
        AtrNode* following = c->next;
        if ((c->flags & ATR_NODE_FLAG_RENEW) == 0) {
            Destroy(c, nullptr);
            changed = 1;
        }
        c = following;
    }
    if ((flags & ATR_NODE_FLAG_RENEW_SUSPENDED) != 0) {
        flags = (flags & ~ATR_NODE_FLAG_RENEW_SUSPENDED) | ATR_NODE_FLAG_HISTORY;
    }
    return changed;
}

// The child of this node (being renewed) that follows `source`: the first
// one from `cursor` on with that name and no renewal mark, else a new one
// (recorded when this node's recording is suspended); null when memory ran
// out. `created` tells which.
AtrNode* AtrNode::_renewMatch(AtrNode*& cursor, const AtrNode* source, bool& created)
{
    created = false;
    for (AtrNode* c = cursor; c != nullptr; c = c->next) {
        if ((c->flags & ATR_NODE_FLAG_RENEW) == 0 && SameName(c->element, source->element)) {
            return c;
        }
    }
    AtrNode* made = Create(this, source->element);
    if (made == nullptr) {
        return nullptr;
    }
    if ((flags & ATR_NODE_FLAG_RENEW_SUSPENDED) != 0) {
        made->flags |= ATR_NODE_FLAG_HISTORY;
        historyManager->NodeAdded(made, "ADD NEW NORD");
    }
    created = true;
    if (cursor == nullptr) {
        cursor = made;
    }
    return made;
}

int32_t AtrNode::RenewNodeTree(AtrNode* source, int32_t mode)
{
    if (source == nullptr || source == this || !SameName(element, source->element)) {
        return 0;
    }
    // Per level: the first child of the node being renewed that has no
    // renewal mark yet (every child before it has one).
    std::vector<AtrNode*> cursors;
    AtrNode* d = this;
    AtrNode* s = source;
    int32_t changed = _renewEnter(s, mode, cursors);
    AtrNode* sc = s->child;
    for (;;) {
        if (sc != nullptr) {
            bool created = false;
            AtrNode* dc = d->_renewMatch(cursors.back(), sc, created);
            if (dc == nullptr) {
                sc = sc->next; // out of memory: this child stays out
                continue;
            }
            changed |= (created ? 1 : 0) | dc->_renewEnter(sc, mode, cursors);
            AtrNode*& parentCursor = cursors[cursors.size() - 2];
            while (parentCursor != nullptr && (parentCursor->flags & ATR_NODE_FLAG_RENEW) != 0) {
                parentCursor = parentCursor->next;
            }
            d = dc;
            s = sc;
            sc = s->child;
            continue;
        }
        changed |= d->_renewFinish(cursors);
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
        MarkMixed(CvkArenaOf(n));
        n->historyManager = manager;
        n->historyId = manager->NewHistoryId();
        if (record != 0) {
            n->flags |= ATR_NODE_FLAG_HISTORY;
        } else {
            n->flags &= ~ATR_NODE_FLAG_HISTORY;
        }
    }
}

void AtrNode::_setHistoryManager(AtrHistoryManager* manager)
{
    if (manager != nullptr) {
        MarkMixed(CvkArenaOf(this));
    }
    historyManager = manager;
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
            a = _make<AtrAttribute>(CvkArenaOf(n), CvString(kHistoryIdName), AtrData(n->historyId));
            if (a != nullptr) {
                n->_insertAttribute(a, -1);
            }
        }
    }
}
