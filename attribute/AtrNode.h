#pragma once
// AtrNode: a node of an attribute tree, the document model of the tool
// chain: an ordered tree of named nodes, each with named attributes (kept in
// insertion order, duplicates allowed) and an ordered list of data values.
//
// Ownership: a node owns its children, attributes and data. A document
// (the tree under a node created without a parent, or a Duplicate without
// one) takes its nodes, attributes, data and their strings from one arena of
// system-heap chunks (CvkArena.h); nodes created under a parent, or behind a
// node with AddNext, join that node's document. Destroying the one root of a
// document releases the arena whole without visiting the tree; destroying a
// subtree, or a root of a document whose nodes were moved to or from other
// documents, or given an edit history, frees the objects one by one (such an
// arena lives on while any of its objects does). Copies of names and values
// taken out of a tree are private, so they outlive it. Where no arena can be
// had, objects come from the tree pools of the system heap slot.
// Allocation failures leave the tree unchanged (the value is not added,
// Create/AddNext(element)/Duplicate give null). Delete trees with
// AtrNode::Destroy (or plain delete); destruction, copying, renewal and
// searches are iterative, so the depth of a tree is not bounded by the
// machine stack.
//
// Appending a child, an attribute or a data value at the end is O(1): the
// node keeps tail pointers and indexes only the new entry. Access by index
// walks the list; walk with GetChild(0)/GetNext(), GetAttribute(0)/
// AtrAttribute::GetNext() and GetData(0)/AtrData::GetNext().
//
// Names compare byte for byte (case-sensitive). Edit history: a node with a
// manager and flag ATR_NODE_FLAG_HISTORY reports its changes (see
// AtrHistory.h); nodes have no manager unless one is attached.

#include "attribute/AtrAttribute.h"
#include "attribute/AtrData.h"
#include "attribute/AtrHistory.h"
#include "kit/CvString.h"
#include "kit/CvVariant.h"
#include "kit/CvkArena.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Node flags. The low byte is bookkeeping of the tree and its tools and is
// never recorded in the edit history; 0x100 and up are the author's.
enum : uint32_t {
    ATR_NODE_FLAG_HISTORY = 0x1,          // changes of this node are recorded
    ATR_NODE_FLAG_DESTROY = 0x2,          // the node is being destroyed
    ATR_NODE_FLAG_RENEW = 0x4,            // renewal mark of RenewNodeTree
    ATR_NODE_FLAG_INSTRUCTION = 0x8,      // read from a "<? ... ?>" instruction
    ATR_NODE_FLAG_COMMENT = 0x10,         // read from a comment
    ATR_NODE_FLAG_RENEW_SUSPENDED = 0x80, // history switched off during a renewal
    ATR_NODE_FLAG_LEFT_OUT = 0x100,       // the binary compiler leaves the node out
    ATR_NODE_FLAG_NO_STRUCT = 0x200,      // the binary compiler writes no structure for it
    ATR_NODE_FLAG_VISIT = 0x400,          // visit mark of the binary compiler's passes
    ATR_NODE_FLAG_NO_FILE = 0x800,        // the binary compiler writes no file for it
    ATR_NODE_FLAG_DUPLICATE_MASK = ATR_NODE_FLAG_INSTRUCTION | ATR_NODE_FLAG_COMMENT | ATR_NODE_FLAG_LEFT_OUT |
                                   ATR_NODE_FLAG_NO_STRUCT | ATR_NODE_FLAG_NO_FILE | 0xFFFF0000u,
    ATR_NODE_FLAG_RECORDED_MASK = 0xFFFFFF00u,
};

// The attribute name under which node flags are written out in texts and
// converter images.
constexpr const char ATR_NODE_FLAG_NAME[] = "ATR_NODE_FLAG";

class LUMIVOR_EXPORT AtrNode : public CvkBase {
public:
    // Objects of exactly this class come from the tree's slot pool (chunks
    // of the system heap slot); other sizes go to the system heap directly.
    static void* operator new(std::size_t size) noexcept;
    static void* operator new(std::size_t size, const char* fileName, int line) noexcept;
    static void* operator new(std::size_t size, void* place) noexcept
    {
        (void)size;
        return place;
    }
    static void operator delete(void* pointer, std::size_t size) noexcept;
    static void operator delete(void* pointer, const char* fileName, int line) noexcept;
    static void operator delete(void* pointer, void* place) noexcept
    {
        (void)pointer;
        (void)place;
    }

    AtrNode();
    explicit AtrNode(const CvString& element);
    AtrNode(const AtrNode&) = delete;
    AtrNode& operator=(const AtrNode&) = delete;
    // Deletes the subtree (children first to last), unlinks the node from its
    // parent and siblings (re-indexing the parent's children), deletes its
    // attributes and data.
    ~AtrNode() override;

    // ---- creation and destruction ----
    // A node named `element`, appended as the last child of `parent` (if
    // any), inheriting its history manager and flag 0x1; recorded as
    // "ADD NEW NORD" when the parent records. The label is ignored. Null when
    // memory runs out.
    static AtrNode* Create(AtrNode* parent, const CvString& element, const char* label = nullptr);
    static AtrNode* Create(AtrNode* parent, const char* element, const char* label = nullptr);
    // Sets flag 0x2, hands the node to the manager's NodeDeleted when it
    // still records (a node without parent, or whose parent is itself being
    // destroyed, stops recording first), then deletes it. Null: nothing.
    static void Destroy(AtrNode* node, const char* label = nullptr);

    // ---- structure (each re-indexes the affected parent's children) ----
    // Inserts `node` and its following siblings before the child at `index`
    // (< 0 or beyond the end: at the end), detaching them from a former
    // parent first. 0 (nothing done) when `node` is null, has a previous
    // sibling, or is this node or one of its ancestors; else 1.
    int32_t AddChild(AtrNode* node, int32_t index = -1);
    AtrNode* AddChild(const CvString& element);
    AtrNode* AddChild(const char* element);
    // Inserts `node` and its following siblings directly behind this node
    // ("ADD NEXT NODE"). 0 when `node` is null or would create a cycle.
    int32_t AddNext(AtrNode* node);
    // Creates a detached node named `element` and inserts it behind this
    // node; the new node or null.
    AtrNode* AddNext(const CvString& element);
    AtrNode* AddNext(const char* element);
    // Inserts `node` and its following siblings directly before this node.
    // A null `node` only clears the `prev` link.
    int32_t SetPrev(AtrNode* node);
    // Unlinks this node alone ("CUT NORD"); its children stay with it.
    void Cut();
    // Cut(), then detaches all children (parent null, sibling links kept);
    // returns the first of them.
    AtrNode* Remove();
    // Puts `node` in this node's place (parent, position, following
    // siblings) and appends this node's children to `node`'s; this node is
    // left alone. 0 when `node` is null, this node, or related so that the
    // move would create a cycle.
    int32_t Swap(AtrNode* node);
    // Deep copy (element, flags in ATR_NODE_FLAG_DUPLICATE_MASK, attributes,
    // data, children in order) appended under `newParent` (may be null).
    AtrNode* Duplicate(AtrNode* newParent);
    // Destroys the n-th child (from 0) named `element`; 1 when one was found.
    int32_t DeleteChild(const char* element, int32_t n = 0, const char* label = nullptr);

    // ---- navigation ----
    AtrNode* GetParent() const { return parent; }
    AtrNode* GetParent(const char* element) const; // nearest ancestor of that name
    AtrNode* GetNext() const { return next; }
    AtrNode* GetNext(const char* element) const; // next following sibling of that name
    AtrNode* GetPrev() const { return prev; }
    AtrNode* GetPrev(const char* element) const; // nearest preceding sibling of that name
    AtrNode* GetChild(int32_t index = 0) const;  // GetChild(0) is O(1)
    AtrNode* GetChild(const char* element, int32_t n = 0) const;
    AtrNode* GetChildBtm() const { return childTail; }
    int32_t GetChildSize() const { return childCount; }
    int32_t GetChildSize(const char* element) const;
    int32_t GetChildIndex() const { return childIndex; }
    // First child with an attribute `attribute` whose text form equals
    // `text` (null text: any value).
    AtrNode* GetChildByAttribute(const char* attribute, const char* text) const;
    // The n-th node named `element` in pre-order over the descendants (this
    // node excluded).
    AtrNode* GetDescendant(const char* element, int32_t n = 0) const;
    // This node or a descendant with that history id.
    AtrNode* GetNodeByHistoryId(int32_t id) const;
    const CvString& GetElement() const { return element; }
    void SetElement(const char* text) { element = text; }
    void SetElement(const CvString& text) { element = text; }

    // ---- attributes ----
    // Inserts at `index` (< 0: the end, 0: the front); "ADD ATTRIBUTE". The
    // new attribute or null when memory ran out.
    AtrAttribute* AddAttribute(const CvString& name, const AtrData& data, int32_t index = -1);
    AtrAttribute* AddAttribute(const CvString& name, const char* text);     // "STRING"
    AtrAttribute* AddAttribute(const CvString& name, const CvString& text); // "STRING"
    AtrAttribute* AddAttribute(const CvString& name, int32_t v);
    AtrAttribute* AddAttribute(const CvString& name, float v);
    AtrAttribute* AddAttribute(const CvString& name, const void* bytes, uint32_t size);
    AtrAttribute* AddAttributeU32(const CvString& name, uint32_t v);
    // Kind by name: "SINT" and "UINT" parsed with CvkStringCnvAtoI and stored
    // as "SINT"; "FLOAT" atof; "STRING" (and unknown kinds) as text; other
    // variant kinds as CvVariant::Set parses them.
    AtrAttribute* AddAttribute(const CvString& name, const char* text, const char* kind);

    // Changes the first attribute named `name` ("SET ATTRIBUTE"); 1 when
    // there was one, else 0 and nothing added.
    int32_t SetAttribute(const char* name, const AtrData& data);
    int32_t SetAttribute(const char* name, const char* text);
    int32_t SetAttribute(const char* name, const CvString& text);
    int32_t SetAttribute(const char* name, int32_t v);
    int32_t SetAttribute(const char* name, float v);
    int32_t SetAttribute(const char* name, const void* bytes, uint32_t size);
    int32_t SetAttributeU32(const char* name, uint32_t v);
    int32_t SetAttribute(const char* name, const char* text, const char* kind);

    // "DELETE ATTRIBUTE"; 1 when one was removed.
    int32_t DeleteAttribute(const char* name);
    int32_t DeleteAttribute(int32_t index);

    AtrAttribute* GetAttribute(int32_t index = 0) const; // GetAttribute(0) is O(1)
    AtrAttribute* GetAttribute(const char* name, int32_t n = 0) const;
    AtrAttribute* GetAttributeBtm() const { return attributeTail; }
    int32_t GetAttributeNum(const char* name) const; // attributes of that name
    int32_t GetAttributeSize() const { return attributeCount; }
    int32_t CheckAttribute(const char* name) const; // 1 when present
    // Position of `attribute` among this node's attributes of its name; -1
    // when the node has no attributes (or `attribute` is not one of them).
    int32_t GetAttributeIndexName(const AtrAttribute* attribute) const;
    AtrData* GetAttributeData(int32_t index, AtrData* absent = nullptr) const;
    AtrData* GetAttributeData(const char* name, AtrData* absent = nullptr) const;
    // 1 when the attribute exists (output written), else 0 (output untouched).
    // Text goes to a caller buffer with strncpy (`length` bytes).
    int32_t GetAttributeParam(int32_t index, char* text, int32_t length) const;
    int32_t GetAttributeParam(int32_t index, int32_t& v) const;
    int32_t GetAttributeParam(int32_t index, float& v) const;
    int32_t GetAttributeParam(int32_t index, void*& bytes, uint32_t& size) const;
    int32_t GetAttributeParam(int32_t index, CvString& text) const;
    int32_t GetAttributeParam(const char* name, char* text, int32_t length) const;
    int32_t GetAttributeParam(const char* name, int32_t& v) const;
    int32_t GetAttributeParam(const char* name, float& v) const;
    int32_t GetAttributeParam(const char* name, void*& bytes, uint32_t& size) const;
    int32_t GetAttributeParam(const char* name, CvString& text) const;
    // Replaces the attribute list by the chain starting at `head` (now owned
    // by this node) and returns the former head, which the caller owns.
    AtrAttribute* ResetAttributeList(AtrAttribute* head);

    // ---- data ----
    // `index` < 0 appends (O(1)); 0 puts the value first; otherwise it goes
    // behind the value at index - 1. "ADD DATA". The new value or null.
    AtrData* AddData(const AtrData& value, int32_t index = -1);
    AtrData* AddData(const CvVariant& value, int32_t index = -1);
    AtrData* AddData(int32_t v, int32_t index = -1);
    AtrData* AddData(float v, int32_t index = -1);
    AtrData* AddDataU32(uint32_t v, int32_t index = -1);
    AtrData* AddData(const void* bytes, uint32_t size, int32_t index = -1);
    // Kind by name: "SINT" with CvkStringCnvAtoI ($1F, 0x1F, -5), "UINT"
    // with atoi, "FLOAT" atof, "STRING" (and unknown kinds) as text.
    AtrData* AddData(const char* text, const char* kind = "STRING", int32_t index = -1);
    AtrData* AddData(const CvString& text, const char* kind = "STRING", int32_t index = -1);

    // "SET DATA"; 1 when the value at `index` exists.
    int32_t SetData(int32_t index, const AtrData& value);
    int32_t SetData(int32_t index, int32_t v);
    int32_t SetData(int32_t index, uint32_t v);
    int32_t SetData(int32_t index, float v);
    int32_t SetData(int32_t index, const char* text);
    // "DELETE DATA"; index < 0: the last. 1 when one was removed.
    int32_t DeleteData(int32_t index = -1);
    AtrData* GetData(int32_t index = 0) const; // GetData(0) is O(1); null when absent
    AtrData* GetDataBtm() const { return dataTail; }
    // An absent value gives 0 (text: an empty string when length > 0); the
    // result is 1 when the value exists.
    int32_t GetData(int32_t index, char* text, int32_t length) const;
    int32_t GetData(int32_t index, int32_t& v) const;
    int32_t GetData(int32_t index, float& v) const;
    int32_t GetDataSize() const { return dataCount; }

    // ---- flags ----
    uint32_t GetFlag() const { return flags; }
    uint32_t CheckFlag(uint32_t mask) const { return flags & mask; }
    // flags := (flags AND mask) OR bits; recorded under `label` when the
    // node records and bits 0x100 and above changed.
    void SetFlag(uint32_t mask, uint32_t bits, const char* label = nullptr);

    // ---- tree maintenance ----
    // Expands environment names in every "STRING" attribute and data value
    // of this node and its descendants.
    void ExtractEnvName();
    // Makes this tree follow `source` (matching children by element name in
    // order, creating missing ones, destroying unmatched ones); non-zero when
    // anything changed; 0 when the element names differ.
    int32_t RenewNodeTree(AtrNode* source, int32_t mode = 0);
    // Rebuilds the attribute list in `source`'s order. mode bit 0: do
    // nothing (0) when the element names differ; bit 1: shared attributes
    // take source's value. Attributes source lacks are dropped. Non-zero
    // when a value was taken from source or an attribute was dropped.
    int32_t RenewAttribute(AtrNode* source, int32_t mode = 0);

    // ---- history support ----
    // For this node and its descendants that have no manager: sets it, takes
    // a fresh history id, sets (record != 0) or clears flag 0x1.
    void _attachHistoryManager(AtrHistoryManager* manager, int32_t record);
    AtrHistoryManager* _getHistoryManager() const { return historyManager; }
    // This node alone reports to `manager` from now on (null: to none).
    void _setHistoryManager(AtrHistoryManager* manager);
    void _setHistoryId(int32_t id) { historyId = id; }
    int32_t _getHistoryId() const { return historyId; }
    // Subtree: an "ATR_HISTORY_ID" attribute becomes the history id and is
    // deleted (not recorded).
    void _setHistoryIdFromAttribute();
    // Subtree: the history id goes into an "ATR_HISTORY_ID" "SINT" attribute,
    // added or changed, not recorded.
    void _setHistoryIdToAttribute();

    // ---- reading support ----
    // AddChild, AddAttribute and AddData (appended, recorded as they are) for
    // a reader that knows `arena`, the arena holding this node (null outside
    // arenas): nothing is looked up per object, and names and texts that
    // already live in that arena are shared. The value `v` is an int32_t, a
    // float or a CvString; the additions are inline in AtrNodeAppend.h.
    AtrNode* _appendChild(CvkArena* arena, const CvString& element);
    template <class V>
    AtrAttribute* _appendAttribute(CvkArena* arena, const CvString& name, const V& v);
    template <class V>
    AtrData* _appendData(CvkArena* arena, const V& v);

    // ---- binary compiler scratch ----
    void _setAddress(uint32_t a) { address = a; }
    uint32_t _getAddress() const { return address; }
    void _setPtrIndex(int32_t i) { ptrIndex = i; }
    int32_t _getPtrIndex() const { return ptrIndex; }

private:
    // Frees of pooled objects gathered during a destruction, handed back to
    // the pools in groups (AtrNode.cpp).
    struct _FreeBatches;

    bool _recording() const { return historyManager != nullptr && (flags & ATR_NODE_FLAG_HISTORY) != 0; }
    // An object constructed in `arena`, or from the pools when it is null;
    // null when memory ran out.
    template <class T, class... Args>
    static T* _make(CvkArena* arena, Args&&... args);
    // A detached node named `element` in `arena` (null: the pools); null when
    // memory ran out, the name included.
    static AtrNode* _newNode(CvkArena* arena, const CvString& element);
    // A detached node named `element` that starts a document of its own.
    static AtrNode* _newDocument(const CvString& element);
    // Appends a node just made in this node's arena (`arena`).
    void _appendNew(AtrNode* node, CvkArena* arena);
    // A node just appended here meets this node's history manager.
    void _joinHistory(AtrNode* node, CvkArena* arena);
    AtrNode(const CvString& element, CvkArena* home);
    // Every change of `parent` goes through here: it keeps the arena's count
    // of parentless nodes and marks arenas whose objects get mixed.
    void _setParent(AtrNode* newParent);
    // Releases this node's arena whole when the node (with `following`, the
    // node and its following siblings) is every root of an unmixed document:
    // the trees are then everything the arena holds. False when the nodes
    // must be deleted object by object.
    bool _releaseDocument(bool following);
    friend void AtrNodeDestroyChain(AtrNode* first);
    void _unlinkFromParent();
    void _deleteSubtree(_FreeBatches& batches);
    // Destroys the attributes and data values (the lists become empty).
    void _freeContents(_FreeBatches& batches);
    void _insertAttribute(AtrAttribute* attribute, int32_t index);
    void _insertData(AtrData* data, int32_t index);
    // An attribute or data value constructed straight from `v` (no
    // temporary AtrData copied in), inserted and recorded as by
    // AddAttribute/AddData.
    template <class V>
    AtrAttribute* _addAttributeDirect(const CvString& name, const V& v);
    template <class V>
    AtrData* _addDataDirect(const V& v, int32_t index);
    // The same where `arena` is known to hold this node.
    template <class V>
    AtrData* _addDataIn(CvkArena* arena, const V& v, int32_t index);
    AtrAttribute* _unlinkAttribute(AtrAttribute* attribute);
    int32_t _setAttributeValue(const char* name, const AtrData& value);
    int32_t _setDataValue(int32_t index, const AtrData& value);
    // True when the chain `node`, node->next, ... holds this node or one of
    // its ancestors (inserting that chain here would make a cycle).
    bool _chainHoldsSelfOrAncestor(const AtrNode* node) const;
    // Takes `node` and its following siblings out of their list.
    static void _detachChain(AtrNode* node);
    // Sets parent and childIndex from `first` to the end of its list and,
    // with a parent, its childCount and childTail.
    static void _indexFrom(AtrNode* first, AtrNode* parent);
    // Stages of RenewNodeTree (AtrNode.cpp).
    int32_t _renewEnter(AtrNode* source, int32_t mode, std::vector<AtrNode*>& cursors);
    int32_t _renewFinish(std::vector<AtrNode*>& cursors);
    AtrNode* _renewMatch(AtrNode*& cursor, const AtrNode* source, bool& created);
    // The nodes first..last of a chain insertion meet this node's manager.
    void _adoptChain(AtrNode* first, AtrNode* last, const char* label);

    CvString element;
    AtrNode* parent;
    AtrNode* child;
    AtrNode* childTail;
    AtrNode* prev;
    AtrNode* next;
    AtrAttribute* attributes;
    AtrAttribute* attributeTail;
    AtrData* data;
    AtrData* dataTail;
    AtrHistoryManager* historyManager;
    int32_t childIndex;
    int32_t childCount;
    int32_t attributeCount;
    int32_t dataCount;
    int32_t historyId;
    uint32_t address;
    int32_t ptrIndex;
    uint32_t flags;
};

// Create(parent, element, label) and Destroy(node, null).
LUMIVOR_EXPORT AtrNode* AtrNodeCreate(AtrNode* parent, const char* element, const char* label = nullptr);
LUMIVOR_EXPORT void AtrNodeDestroy(AtrNode* node);
// Destroys `first` and every sibling after it: a parsed document's chain of
// top-level nodes (Destroy alone takes one node and its subtree).
LUMIVOR_EXPORT void AtrNodeDestroyChain(AtrNode* first);
