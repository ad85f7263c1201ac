#pragma once
// AtrReformer: brings one tree into the shape of another and logs what it
// changed. The target keeps its own values wherever the source has the same
// attribute or child; what the source lacks goes, what the target lacks is
// added. The log (Shift_JIS) grows with every call and is never cleared:
//     "ADD ATTRIBUTE [name]"      an attribute copied from the source
//     "DELETE ATTRIBUTE [name]"   an attribute the source does not have
//     "CREATE NODE [element]"     a child the target lacked
//     "DESTROY NODE [element]"    a child the source does not have
// each followed by a line feed. Children are matched by element name in
// order; a renewal walks the trees without recursion.

#include "kit/CvString.h"
#include "kit/CvkAllocator.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class AtrNode;

class LUMIVOR_EXPORT AtrReformer : public CvkAllocator {
public:
    AtrReformer() = default;
    virtual ~AtrReformer();
    AtrReformer(const AtrReformer&) = delete;
    AtrReformer& operator=(const AtrReformer&) = delete;

    // Renews `target` and its subtree from `source`: the attributes of every
    // matched pair (RenewAttribute), children created at the source child's
    // position or destroyed (without recording them in an edit history).
    // Non-zero when anything was added, dropped, created or destroyed; 0
    // (nothing done) when the element names differ. `mode` is handed on.
    virtual int32_t RenewNodeTree(AtrNode* source, AtrNode* target, int32_t mode);
    // Rebuilds target's attribute list in source's order: the k-th attribute
    // of a name in source keeps the k-th of that name in target with its
    // value, or is copied from source; target's other attributes are
    // dropped. Non-zero when one was added or dropped; 0 (nothing done) when
    // the element names differ. `mode` has no effect.
    virtual int32_t RenewAttribute(AtrNode* source, AtrNode* target, int32_t mode);

    const CvString& GetLog() const { return m_log; }

private:
    // A new child named `element` of `target` at position `index`.
    AtrNode* _createChild(AtrNode* target, const CvString& element, int32_t index);
    // Destroys (without recording) and logs the children of `target` that
    // no source child matched; 1 when there was one.
    int32_t _destroyUnrenewed(AtrNode* target);

    CvString m_log;
};
