#pragma once
// LexScopeVariant: the variable slots of one module or of the globals.
//
// Variables take consecutive slots in declaration order; an array takes one
// slot per element. A scope made with a parent continues the parent's
// numbering (base = parent's base + parent's used slots) and links itself as
// the parent's child; a name may not repeat one of the scope or of any
// ancestor. Slot numbers are 16-bit and 0xFFFF means "none".

#include "dresser/DrsNameIndex.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

// One variable of a scope.
struct _lexVariantList {
    char name[49];          // at most 48 characters
    uint16_t size;          // slots
    uint16_t offset;        // slots of the entries before it
    _lexVariantList* next;
};

enum : uint16_t {
    DRS_SLOT_NONE = 0xFFFF,
    DRS_SLOT_LIMIT = 65534, // base + used slots may not pass this
};

class LUMIVOR_EXPORT LexScopeVariant : public CvkBase {
public:
    explicit LexScopeVariant(LexScopeVariant* parent = nullptr);
    ~LexScopeVariant() override;
    LexScopeVariant(const LexScopeVariant&) = delete;
    LexScopeVariant& operator=(const LexScopeVariant&) = delete;

    // The new variable's slot, or DRS_SLOT_NONE when the slots would pass
    // DRS_SLOT_LIMIT, the name is known here or in an ancestor, the name is
    // longer than 48 characters, or memory runs out (Error flag).
    uint16_t AddVariant(const char* name, uint16_t size);
    // The slot of `name` here or in the nearest ancestor, or DRS_SLOT_NONE.
    uint16_t GetVariantId(const char* name) const;
    // Slots used by this scope.
    uint16_t GetVariantCount() const { return m_used; }
    // Variables declared in this scope.
    uint16_t GetVariantNum() const { return m_count; }
    uint16_t GetBaseSlot() const { return m_base; }
    // The first variable (declaration order), or null.
    const _lexVariantList* GetVariantList() const { return m_first; }
    // The entry of `name` in this scope only, or null.
    const _lexVariantList* FindVariant(const char* name) const;
    LexScopeVariant* GetParent() const { return m_parent; }
    LexScopeVariant* GetChild() const { return m_child; }

private:
    LexScopeVariant* m_parent;
    LexScopeVariant* m_child;
    _lexVariantList* m_first;
    _lexVariantList* m_last;
    uint16_t m_used;
    uint16_t m_base;
    uint16_t m_count;
    DrsNameIndex<_lexVariantList> m_index;
};
