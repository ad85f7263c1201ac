#pragma once
// AtrNode's construction and list appends, inline: the tree's own source
// and the text reader's loops build nodes, attributes and data values in
// place, without a call per object.
//
// Only AtrNode.cpp and the reader include this header; everyone else adds
// through AtrNode's public calls.
#include "attribute/AtrNode.h"

#include <cassert>
#include <cstring>
#include <new>
#include <utility>

namespace atr_node {

constexpr unsigned kNodeTag = 0x4154524Eu; // "ATRN"

// Inserts `item` into a list of attributes or data values at `index` (< 0
// or past the end: appended; 0: first; else behind the entry at index - 1).
template <class T>
inline void InsertAt(T*& head, T*& tail, int32_t& count, T* item, int32_t index)
{
    if (index < 0 || index >= count || head == nullptr) {
        item->SetNext(nullptr);
        if (tail != nullptr) {
            tail->SetNext(item);
        } else {
            head = item;
        }
        tail = item;
    } else if (index == 0) {
        item->SetNext(head);
        head = item;
    } else {
        T* before = head;
        while (--index > 0) {
            before = before->GetNext();
        }
        item->SetNext(before->GetNext());
        before->SetNext(item);
    }
    ++count;
}

// False when memory ran out while a text or buffer was copied into a new
// value (the copy came out short); numbers always copy whole.
inline bool CopiedWhole(const AtrData& made, const CvVariant& from)
{
    return made.GetStrLength() == from.GetStrLength() && (made.GetBuffer() == nullptr) == (from.GetBuffer() == nullptr);
}
inline bool CopiedWhole(const AtrData& made, const CvString& from) { return made.GetStrLength() == from.GetLength(); }
inline bool CopiedWhole(const AtrData& made, const char* from)
{
    return made.GetStrLength() == (from != nullptr ? static_cast<int32_t>(std::strlen(from)) : 0);
}
template <class V>
inline bool CopiedWhole(const AtrData&, const V&)
{
    return true;
}

} // namespace atr_node

template <class T, class... Args>
inline T* AtrNode::_make(CvkArena* arena, Args&&... args)
{
    if (arena == nullptr) {
        return new T(std::forward<Args>(args)...);
    }
    void* place = arena->Alloc(sizeof(T));
    return place != nullptr ? new (place) T(std::forward<Args>(args)...) : nullptr;
}

inline AtrNode::AtrNode(const CvString& element_, CvkArena* home) :
    element(element_, home), parent(nullptr), child(nullptr), childTail(nullptr), prev(nullptr), next(nullptr),
    attributes(nullptr), attributeTail(nullptr), data(nullptr), dataTail(nullptr), historyManager(nullptr),
    childIndex(0), childCount(0), attributeCount(0), dataCount(0), historyId(-1), address(0), ptrIndex(-1), flags(0)
{
    SetTag(atr_node::kNodeTag);
}

inline void AtrNode::_appendNew(AtrNode* node, CvkArena* arena)
{
    if (arena != nullptr) {
        arena->AddRoots(-1);
    }
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

inline AtrNode* AtrNode::_newNode(CvkArena* arena, const CvString& element)
{
    AtrNode* node = _make<AtrNode>(arena, element, arena);
    if (node == nullptr) {
        return nullptr;
    }
    if (arena != nullptr) {
        arena->AddRoots(1);
    }
    if (node->element.GetLength() != element.GetLength()) {
        delete node; // no memory for the name in the arena
        return nullptr;
    }
    return node;
}

inline AtrNode* AtrNode::_appendChild(CvkArena* arena, const CvString& element_)
{
    assert(arena == CvkArenaOf(this));
    AtrNode* node = _newNode(arena, element_);
    if (node == nullptr) {
        return nullptr;
    }
    _appendNew(node, arena);
    if (historyManager != nullptr) {
        _joinHistory(node, arena);
    }
    return node;
}

template <class V>
inline AtrAttribute* AtrNode::_appendAttribute(CvkArena* arena, const CvString& name, const V& v)
{
    assert(arena == CvkArenaOf(this));
    AtrAttribute* a = _make<AtrAttribute>(arena, AtrAttribute::DirectTag{}, arena, name, v);
    if (a == nullptr) {
        return nullptr;
    }
    if (a->name.GetLength() != name.GetLength() || !atr_node::CopiedWhole(a->data, v)) {
        delete a;
        return nullptr;
    }
    atr_node::InsertAt(attributes, attributeTail, attributeCount, a, -1);
    if (_recording()) {
        historyManager->AttributeAdded(this, a, "ADD ATTRIBUTE");
    }
    return a;
}

template <class V>
inline AtrData* AtrNode::_addDataIn(CvkArena* arena, const V& v, int32_t index)
{
    assert(arena == CvkArenaOf(this));
    AtrData* d = _make<AtrData>(arena, AtrData::HomeTag{}, arena, v);
    if (d == nullptr) {
        return nullptr;
    }
    if (!atr_node::CopiedWhole(*d, v)) {
        delete d;
        return nullptr;
    }
    atr_node::InsertAt(data, dataTail, dataCount, d, index);
    if (_recording()) {
        historyManager->DataAdded(this, d, "ADD DATA");
    }
    return d;
}

template <class V>
inline AtrData* AtrNode::_appendData(CvkArena* arena, const V& v)
{
    return _addDataIn(arena, v, -1);
}
