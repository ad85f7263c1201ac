#include "attribute/AtrReformer.h"

#include "attribute/AtrNode.h"

#include <vector>

namespace {

bool SameText(const CvString& a, const CvString& b)
{
    return a.GetLength() == b.GetLength() && a.Compare(b.GetBuffer()) == 0;
}

// One matched pair of nodes whose children are being renewed.
struct Pair {
    AtrNode* source;
    AtrNode* target;
    AtrNode* nextSource;    // the source child to match next
    uint32_t savedHistory;  // the target's own recording bit, suspended meanwhile
};

using PairStack = std::vector<Pair>;

// The first child of `target` named `element` that has not been renewed yet.
AtrNode* UnrenewedChild(AtrNode* target, const CvString& element)
{
    for (AtrNode* c = target->GetChild(0); c != nullptr; c = c->GetNext()) {
        if (c->CheckFlag(ATR_NODE_FLAG_RENEW) == 0 && SameText(c->GetElement(), element)) return c;
    }
    return nullptr;
}

// The position of `attribute` among the attributes of its name from `first` on.
int32_t NameIndex(AtrAttribute* first, AtrAttribute* attribute)
{
    int32_t k = 0;
    for (AtrAttribute* a = first; a != attribute; a = a->GetNext()) {
        if (SameText(a->GetName(), attribute->GetName())) ++k;
    }
    return k;
}

void ClearRenewMarks(AtrNode* root)
{
    AtrNode* node = root;
    for (;;) {
        node->SetFlag(~ATR_NODE_FLAG_RENEW, 0);
        if (node->GetChild(0) != nullptr) {
            node = node->GetChild(0);
            continue;
        }
        while (node != root && node->GetNext() == nullptr) node = node->GetParent();
        if (node == root) return;
        node = node->GetNext();
    }
}

} // namespace

AtrReformer::~AtrReformer() = default;

int32_t AtrReformer::RenewAttribute(AtrNode* source, AtrNode* target, int32_t mode)
{
    (void)mode;
    if (source == nullptr || target == nullptr || !SameText(source->GetElement(), target->GetElement())) return 0;
    std::vector<AtrAttribute*> old;
    for (AtrAttribute* a = target->ResetAttributeList(nullptr); a != nullptr; a = a->GetNext()) old.push_back(a);
    std::vector<bool> kept(old.size(), false);

    int32_t changed = 0;
    AtrAttribute* head = nullptr;
    AtrAttribute* tail = nullptr;
    auto append = [&](AtrAttribute* a) {
        if (tail != nullptr) tail->SetNext(a);
        else head = a;
        tail = a;
    };
    for (AtrAttribute* s = source->GetAttribute(0); s != nullptr; s = s->GetNext()) {
        // The k-th attribute of this name in the source keeps the k-th in the target.
        int32_t k = NameIndex(source->GetAttribute(0), s);
        AtrAttribute* match = nullptr;
        for (size_t i = 0; i < old.size() && match == nullptr; ++i) {
            if (SameText(old[i]->GetName(), s->GetName()) && k-- == 0) {
                match = old[i];
                kept[i] = true;
            }
        }
        if (match == nullptr) {
            match = new AtrAttribute(s->GetName(), *s->GetData());
            if (match == nullptr) continue;
            m_log.AppendFormat("ADD ATTRIBUTE [%s]\n", s->GetName().GetBuffer());
            changed = 1;
        }
        append(match);
    }
    if (tail != nullptr) tail->SetNext(nullptr);
    // What is left goes: names the source lacks, and surplus duplicates of
    // names it has.
    for (size_t i = 0; i < old.size(); ++i) {
        if (kept[i]) continue;
        m_log.AppendFormat("DELETE ATTRIBUTE [%s]\n", old[i]->GetName().GetBuffer());
        delete old[i];
        changed = 1;
    }
    target->ResetAttributeList(head);
    return changed;
}

int32_t AtrReformer::RenewNodeTree(AtrNode* source, AtrNode* target, int32_t mode)
{
    if (source == nullptr || target == nullptr || !SameText(source->GetElement(), target->GetElement())) return 0;
    int32_t changed = 0;
    PairStack pending;
    // A pair is marked, its recording suspended and its attributes renewed
    // when it is entered; its children follow one by one.
    auto enter = [&](AtrNode* s, AtrNode* t) {
        const uint32_t history = t->CheckFlag(ATR_NODE_FLAG_HISTORY);
        t->SetFlag(~ATR_NODE_FLAG_HISTORY, ATR_NODE_FLAG_RENEW);
        if (RenewAttribute(s, t, mode) != 0) changed = 1;
        pending.push_back({s, t, s->GetChild(0), history});
    };
    enter(source, target);
    while (!pending.empty()) {
        Pair& top = pending.back();
        if (top.nextSource != nullptr) {
            AtrNode* s = top.nextSource;
            top.nextSource = s->GetNext();
            AtrNode* t = UnrenewedChild(top.target, s->GetElement());
            if (t == nullptr) {
                t = _createChild(top.target, s->GetElement(), s->GetChildIndex());
                if (t == nullptr) continue;
                m_log.AppendFormat("CREATE NODE [%s]\n", s->GetElement().GetBuffer());
                changed = 1;
            }
            enter(s, t);
            continue;
        }
        changed |= _destroyUnrenewed(top.target);
        top.target->SetFlag(~ATR_NODE_FLAG_HISTORY, top.savedHistory);
        pending.pop_back();
    }
    ClearRenewMarks(target);
    return changed;
}

AtrNode* AtrReformer::_createChild(AtrNode* target, const CvString& element, int32_t index)
{
    // Appending needs no search of the target's ancestors, so deep trees
    // grow in linear time.
    if (index >= target->GetChildSize()) return AtrNode::Create(target, element);
    AtrNode* node = AtrNode::Create(nullptr, element);
    if (node != nullptr) target->AddChild(node, index);
    return node;
}

int32_t AtrReformer::_destroyUnrenewed(AtrNode* target)
{
    int32_t changed = 0;
    AtrNode* c = target->GetChild(0);
    while (c != nullptr) {
        AtrNode* next = c->GetNext();
        if (c->CheckFlag(ATR_NODE_FLAG_RENEW) == 0) {
            m_log.AppendFormat("DESTROY NODE [%s]\n", c->GetElement().GetBuffer());
            c->SetFlag(~ATR_NODE_FLAG_HISTORY, 0);
            AtrNode::Destroy(c);
            changed = 1;
        }
        c = next;
    }
    return changed;
}
