#include "attribute/AtrNode.h"

#include "kit/CvkFileName.h"
#include "kit/tests/CountingTestHeap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string S(const CvString& s)
{
    return s.GetBuffer() != nullptr ? s.GetBuffer() : "";
}

// Element names of the children, in order.
std::string Children(const AtrNode* n)
{
    std::string out;
    for (const AtrNode* c = n->GetChild(0); c != nullptr; c = c->GetNext()) {
        out += (out.empty() ? "" : ",") + S(c->GetElement());
    }
    return out;
}

std::string AttributeNames(const AtrNode* n)
{
    std::string out;
    for (const AtrAttribute* a = n->GetAttribute(0); a != nullptr; a = a->GetNext()) {
        out += (out.empty() ? "" : ",") + S(a->GetName()) + "=" + a->GetString();
    }
    return out;
}

// Checks every structural invariant of the subtree (without recursion):
// sibling links, parent links, indices, counts, tails.
void ExpectConsistent(const AtrNode* root)
{
    std::vector<const AtrNode*> stack{root};
    while (!stack.empty()) {
        const AtrNode* n = stack.back();
        stack.pop_back();
        int32_t i = 0;
        const AtrNode* last = nullptr;
        for (const AtrNode* c = n->GetChild(0); c != nullptr; c = c->GetNext()) {
            ASSERT_EQ(c->GetParent(), n);
            ASSERT_EQ(c->GetChildIndex(), i);
            ASSERT_EQ(c->GetPrev(), last);
            last = c;
            ++i;
            stack.push_back(c);
        }
        ASSERT_EQ(n->GetChildSize(), i);
        ASSERT_EQ(n->GetChildBtm(), last);
        int32_t a = 0;
        const AtrAttribute* lastA = nullptr;
        for (const AtrAttribute* x = n->GetAttribute(0); x != nullptr; x = x->GetNext()) {
            lastA = x;
            ++a;
        }
        ASSERT_EQ(n->GetAttributeSize(), a);
        ASSERT_EQ(n->GetAttributeBtm(), lastA);
        int32_t d = 0;
        const AtrData* lastD = nullptr;
        for (const AtrData* x = n->GetData(0); x != nullptr; x = x->GetNext()) {
            lastD = x;
            ++d;
        }
        ASSERT_EQ(n->GetDataSize(), d);
        ASSERT_EQ(n->GetDataBtm(), lastD);
    }
}

// Keeps every report as one line of text.
class RecordingManager : public AtrHistoryManager {
public:
    int32_t NewHistoryId() override { return nextId++; }
    void NodeAdded(AtrNode* node, const char* label) override { Log("add", node, label); }
    void NodeCut(AtrNode* node, const char* label) override { Log("cut", node, label); }
    void NodeDeleted(AtrNode* node, const char* label) override { Log("delete", node, label); }
    void FlagChanged(AtrNode* node, uint32_t oldFlags, const char* label) override
    {
        char buf[64];
        std::snprintf(buf, sizeof buf, "flag %x->%x", oldFlags, node->GetFlag());
        Log(buf, node, label);
    }
    void AttributeAdded(AtrNode* node, AtrAttribute* a, const char* label) override
    {
        Log("attr+ " + S(a->GetName()), node, label);
    }
    void AttributeChanged(AtrNode* node, AtrAttribute* a, const AtrData& v, const char* label) override
    {
        Log("attr " + S(a->GetName()) + " " + a->GetString() + "->" + v.GetString(), node, label);
    }
    void AttributeDeleted(AtrNode* node, AtrAttribute* a, const char* label) override
    {
        Log("attr- " + S(a->GetName()), node, label);
    }
    void DataAdded(AtrNode* node, AtrData* d, const char* label) override
    {
        Log(std::string("data+ ") + d->GetString(), node, label);
    }
    void DataChanged(AtrNode* node, AtrData* d, const AtrData& v, const char* label) override
    {
        Log(std::string("data ") + d->GetString() + "->" + v.GetString(), node, label);
    }
    void DataDeleted(AtrNode* node, AtrData* d, const char* label) override
    {
        Log(std::string("data- ") + d->GetString(), node, label);
    }

    std::vector<std::string> log;
    int32_t nextId = 100;

private:
    void Log(const std::string& what, AtrNode* node, const char* label)
    {
        log.push_back(what + " " + S(node->GetElement()) + " [" + (label != nullptr ? label : "") + "]");
    }
};

class AtrNodeTest : public KitHeapTest {
protected:
    // root with children a, b, c.
    AtrNode* MakeAbc()
    {
        AtrNode* root = AtrNode::Create(nullptr, "root");
        AtrNode::Create(root, "a");
        AtrNode::Create(root, "b");
        AtrNode::Create(root, "c");
        return root;
    }
};

TEST_F(AtrNodeTest, CreateAppendsLastAndDestroyUnlinks)
{
    AtrNode* root = AtrNode::Create(nullptr, "root");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetTag(), 0x4154524Eu);
    EXPECT_EQ(root->_getHistoryId(), -1);
    EXPECT_EQ(root->_getPtrIndex(), -1);
    AtrNode* a = AtrNode::Create(root, "a");
    AtrNode* b = AtrNodeCreate(root, "b");
    AtrNode* c = root->AddChild("c");
    EXPECT_EQ(Children(root), "a,b,c");
    EXPECT_EQ(root->GetChild(0), a);
    EXPECT_EQ(root->GetChild(2), c);
    EXPECT_EQ(root->GetChild(3), nullptr);
    EXPECT_EQ(root->GetChild(-1), nullptr);
    AtrNode::Create(b, "b1");
    ExpectConsistent(root);

    AtrNode::Destroy(b);
    EXPECT_EQ(Children(root), "a,c");
    EXPECT_EQ(c->GetChildIndex(), 1);
    ExpectConsistent(root);
    AtrNode::Destroy(c);
    EXPECT_EQ(root->GetChildBtm(), a);
    AtrNode::Create(root, "d"); // the tail is right after removing the last child
    EXPECT_EQ(Children(root), "a,d");
    ExpectConsistent(root);
    AtrNodeDestroy(root);
    AtrNode::Destroy(nullptr);
}

TEST_F(AtrNodeTest, AddChildAtIndex)
{
    struct Case {
        int32_t index;
        const char* order;
    } cases[] = {{0, "x,a,b"}, {1, "a,x,b"}, {-1, "a,b,x"}, {2, "a,b,x"}, {99, "a,b,x"}};
    for (const Case& k : cases) {
        AtrNode* root = AtrNode::Create(nullptr, "root");
        AtrNode::Create(root, "a");
        AtrNode::Create(root, "b");
        AtrNode* x = AtrNode::Create(nullptr, "x");
        EXPECT_EQ(root->AddChild(x, k.index), 1);
        EXPECT_EQ(Children(root), k.order) << k.index;
        ExpectConsistent(root);
        AtrNode::Destroy(root);
    }
}

TEST_F(AtrNodeTest, AddChildMovesChainsAndRefusesBadOnes)
{
    AtrNode* from = MakeAbc();
    AtrNode* to = AtrNode::Create(nullptr, "to");
    AtrNode::Create(to, "z");

    // A node with a previous sibling is refused and nothing changes.
    EXPECT_EQ(to->AddChild(from->GetChild(1), -1), 0);
    EXPECT_EQ(to->AddChild(static_cast<AtrNode*>(nullptr), -1), 0);
    EXPECT_EQ(Children(from), "a,b,c");

    // Moving the first child takes its following siblings along.
    EXPECT_EQ(to->AddChild(from->GetChild(0), 0), 1);
    EXPECT_EQ(Children(to), "a,b,c,z");
    EXPECT_EQ(from->GetChildSize(), 0);
    EXPECT_EQ(from->GetChild(0), nullptr);
    ExpectConsistent(from);
    ExpectConsistent(to);

    // A node cannot become a child of itself or of its own descendant.
    AtrNode* a = to->GetChild(0);
    AtrNode* deep = AtrNode::Create(AtrNode::Create(a, "a1"), "a2");
    AtrNode* lone = AtrNode::Create(nullptr, "lone");
    AtrNode* loneChild = AtrNode::Create(lone, "lc");
    EXPECT_EQ(loneChild->AddChild(lone, -1), 0);
    EXPECT_EQ(lone->AddChild(lone, -1), 0);
    EXPECT_EQ(deep->AddChild(a, -1), 0); // a chain holding deep's ancestor
    ExpectConsistent(to);
    ExpectConsistent(lone);

    AtrNode::Destroy(lone);
    AtrNode::Destroy(from);
    AtrNode::Destroy(to);
}

TEST_F(AtrNodeTest, AddNextSetPrevCutRemoveSwap)
{
    AtrNode* root = MakeAbc();
    AtrNode* a = root->GetChild(0);
    AtrNode* b = root->GetChild(1);
    AtrNode* c = root->GetChild(2);

    AtrNode* x = a->AddNext("x");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(Children(root), "a,x,b,c");
    AtrNode* y = AtrNode::Create(nullptr, "y");
    EXPECT_EQ(c->SetPrev(y), 1);
    EXPECT_EQ(Children(root), "a,x,b,y,c");
    AtrNode* w = AtrNode::Create(nullptr, "w");
    EXPECT_EQ(a->SetPrev(w), 1);
    EXPECT_EQ(root->GetChild(0), w);
    EXPECT_EQ(c->AddNext(AtrNode::Create(nullptr, "e")), 1);
    EXPECT_EQ(Children(root), "w,a,x,b,y,c,e");
    EXPECT_EQ(b->AddNext(root->GetChild(0)), 0); // a chain holding b itself
    ExpectConsistent(root);

    x->Cut();
    EXPECT_EQ(x->GetParent(), nullptr);
    EXPECT_EQ(x->GetNext(), nullptr);
    EXPECT_EQ(Children(root), "w,a,b,y,c,e");
    ExpectConsistent(root);
    AtrNode::Destroy(x);

    // Remove: the children keep their sibling links but lose their parent.
    AtrNode::Create(b, "b1");
    AtrNode::Create(b, "b2");
    AtrNode* first = b->Remove();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(S(first->GetElement()), "b1");
    EXPECT_EQ(first->GetParent(), nullptr);
    EXPECT_EQ(S(first->GetNext()->GetElement()), "b2");
    EXPECT_EQ(first->GetNext()->GetParent(), nullptr);
    EXPECT_EQ(b->GetChildSize(), 0);
    EXPECT_EQ(Children(root), "w,a,y,c,e");
    ExpectConsistent(root);
    AtrNode::Destroy(first->GetNext());
    AtrNode::Destroy(first);
    EXPECT_EQ(b->GetParent(), nullptr); // Remove cuts the node itself too
    AtrNode::Destroy(b);

    // Swap: s takes y's place and children; y is left alone.
    AtrNode::Create(y, "y1");
    AtrNode* s = AtrNode::Create(nullptr, "s");
    AtrNode::Create(s, "s1");
    EXPECT_EQ(y->Swap(s), 1);
    EXPECT_EQ(Children(root), "w,a,s,c,e");
    EXPECT_EQ(Children(s), "s1,y1");
    EXPECT_EQ(y->GetParent(), nullptr);
    EXPECT_EQ(y->GetNext(), nullptr);
    EXPECT_EQ(y->GetChildSize(), 0);
    EXPECT_EQ(s->Swap(root), 0); // an ancestor cannot take its descendant's place
    EXPECT_EQ(root->Swap(s->GetChild(1)->AddChild("deep")), 0);
    ExpectConsistent(root);
    AtrNode::Destroy(y);

    EXPECT_EQ(root->DeleteChild("c"), 1);
    EXPECT_EQ(root->DeleteChild("c"), 0);
    EXPECT_EQ(Children(root), "w,a,s,e");
    ExpectConsistent(root);
    AtrNode::Destroy(root);
}

TEST_F(AtrNodeTest, NavigationByName)
{
    // root: a(a(x), b), b, a   -- pre-order a, a, x, b, b, a
    AtrNode* root = AtrNode::Create(nullptr, "root");
    AtrNode* a0 = AtrNode::Create(root, "a");
    AtrNode* a0a = AtrNode::Create(a0, "a");
    AtrNode* x = AtrNode::Create(a0a, "x");
    AtrNode::Create(a0, "b");
    AtrNode* b = AtrNode::Create(root, "b");
    AtrNode* a2 = AtrNode::Create(root, "a");
    a2->AddAttribute("id", "7");
    b->AddAttribute("id", 7);

    EXPECT_EQ(root->GetDescendant("a", 0), a0);
    EXPECT_EQ(root->GetDescendant("a", 1), a0a);
    EXPECT_EQ(root->GetDescendant("a", 2), a2);
    EXPECT_EQ(root->GetDescendant("a", 3), nullptr);
    EXPECT_EQ(root->GetDescendant("root", 0), nullptr); // the node itself is excluded
    EXPECT_EQ(a0a->GetDescendant("b", 0), nullptr);     // stays inside the subtree
    EXPECT_EQ(root->GetChild("a", 1), a2);
    EXPECT_EQ(root->GetChild("A", 0), nullptr); // case-sensitive
    EXPECT_EQ(root->GetChildSize("a"), 2);
    EXPECT_EQ(x->GetParent("a"), a0a);
    EXPECT_EQ(x->GetParent("root"), root);
    EXPECT_EQ(x->GetParent("none"), nullptr);
    EXPECT_EQ(a0->GetNext("a"), a2);
    EXPECT_EQ(a2->GetPrev("a"), a0);
    EXPECT_EQ(a2->GetPrev("root"), nullptr);
    EXPECT_EQ(root->GetChildByAttribute("id", "7"), b); // the text form of the SINT 7
    EXPECT_EQ(root->GetChildByAttribute("id", nullptr), b);
    EXPECT_EQ(root->GetChildByAttribute("id", "8"), nullptr);
    EXPECT_EQ(root->GetChild(nullptr, 0), nullptr);
    AtrNode::Destroy(root);
}

TEST_F(AtrNodeTest, AttributesInOrderWithPositionsAndKinds)
{
    AtrNode* n = AtrNode::Create(nullptr, "n");
    n->AddAttribute("b", "2");
    n->AddAttribute("c", AtrData("3"), -1);
    n->AddAttribute("a", AtrData("1"), 0);
    n->AddAttribute("m", AtrData("x"), 2);
    n->AddAttribute("b", "dup");
    EXPECT_EQ(AttributeNames(n), "a=1,b=2,m=x,c=3,b=dup");
    EXPECT_EQ(n->GetAttributeNum("b"), 2);
    EXPECT_EQ(n->GetAttributeIndexName(n->GetAttribute("b", 1)), 1);
    EXPECT_EQ(n->GetAttributeIndexName(n->GetAttribute(0)), 0);
    EXPECT_EQ(S(n->GetAttribute("b", 1)->GetCvString()), "dup");
    EXPECT_EQ(n->GetAttribute("B", 0), nullptr);
    ExpectConsistent(n);

    // SetAttribute changes the first of the name and never adds.
    EXPECT_EQ(n->SetAttribute("b", 5), 1);
    EXPECT_EQ(n->SetAttribute("zz", 5), 0);
    EXPECT_EQ(n->CheckAttribute("zz"), 0);
    EXPECT_EQ(AttributeNames(n), "a=1,b=5,m=x,c=3,b=dup");

    EXPECT_EQ(n->DeleteAttribute("b"), 1);
    EXPECT_EQ(n->DeleteAttribute(3), 1); // the last one: the tail moves back
    EXPECT_EQ(n->DeleteAttribute(3), 0);
    n->AddAttribute("t", "tail");
    EXPECT_EQ(AttributeNames(n), "a=1,m=x,c=3,t=tail");
    ExpectConsistent(n);

    struct Case {
        const char* text;
        const char* kind;
        CVK_VARIANT_TYPE type;
        const char* shown;
    } kinds[] = {
        {"0x10", "SINT", CVK_VARIANT_TYPE_SINT, "16"},
        {"$1F", "UINT", CVK_VARIANT_TYPE_SINT, "31"},
        {"-5", "SINT", CVK_VARIANT_TYPE_SINT, "-5"},
        {"1.5", "FLOAT", CVK_VARIANT_TYPE_FLOAT, "1.500000"},
        {"0x10", "STRING", CVK_VARIANT_TYPE_STRING, "0x10"},
        {"plain", "NOKIND", CVK_VARIANT_TYPE_STRING, "plain"},
    };
    for (const Case& k : kinds) {
        AtrAttribute* a = n->AddAttribute("k", k.text, k.kind);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->GetType(), k.type) << k.text << " " << k.kind;
        EXPECT_STREQ(a->GetString(), k.shown) << k.text << " " << k.kind;
        n->SetAttribute("k", "1", "SINT"); // every setter form goes through the same parsing
        EXPECT_EQ(n->GetAttribute("k", 0)->GetS32(), 1);
        n->DeleteAttribute("k");
    }

    // Readers leave their outputs alone for an absent attribute.
    int32_t i = -9;
    float f = -9.0f;
    char text[8] = "keep";
    CvString cs("keep");
    EXPECT_EQ(n->GetAttributeParam("none", i), 0);
    EXPECT_EQ(n->GetAttributeParam("none", f), 0);
    EXPECT_EQ(n->GetAttributeParam("none", text, sizeof text), 0);
    EXPECT_EQ(n->GetAttributeParam(99, cs), 0);
    EXPECT_EQ(i, -9);
    EXPECT_EQ(f, -9.0f);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(S(cs), "keep");
    EXPECT_EQ(n->GetAttributeParam("c", i), 1);
    EXPECT_EQ(i, 3);
    EXPECT_EQ(n->GetAttributeParam(0, text, sizeof text), 1);
    EXPECT_STREQ(text, "1");
    AtrData absent(42);
    EXPECT_EQ(n->GetAttributeData("none", &absent), &absent);
    EXPECT_EQ(n->GetAttributeData("c")->GetS32(), 3);

    const uint8_t bytes[3] = {1, 2, 3};
    n->AddAttribute("buf", bytes, 3);
    void* p = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(n->GetAttributeParam("buf", p, size), 1);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(p, bytes, 3), 0);

    AtrAttribute* former = n->ResetAttributeList(nullptr);
    EXPECT_EQ(n->GetAttributeSize(), 0);
    EXPECT_EQ(n->GetAttributeIndexName(former), -1);
    EXPECT_EQ(n->ResetAttributeList(former), nullptr);
    EXPECT_EQ(n->GetAttributeSize(), 5);
    ExpectConsistent(n);
    AtrNode::Destroy(n);
}

TEST_F(AtrNodeTest, DataListPositionsKindsAndReaders)
{
    AtrNode* n = AtrNode::Create(nullptr, "n");
    n->AddData(2);
    n->AddData(4);
    n->AddData(1, 0);  // first
    n->AddData(3, 2);  // behind the value at 1
    n->AddData(5, 99); // beyond the end: appended
    std::string seq;
    for (AtrData* d = n->GetData(0); d != nullptr; d = d->GetNext()) {
        seq += d->GetString();
    }
    EXPECT_EQ(seq, "12345");
    ExpectConsistent(n);

    EXPECT_EQ(n->DeleteData(), 1); // the last
    EXPECT_EQ(n->DeleteData(0), 1);
    EXPECT_EQ(n->DeleteData(7), 0);
    n->AddData(6);
    EXPECT_EQ(n->GetDataSize(), 4);
    EXPECT_EQ(n->GetData(3)->GetS32(), 6);
    ExpectConsistent(n);
    EXPECT_EQ(n->SetData(0, 20), 1);
    EXPECT_EQ(n->SetData(9, 20), 0);
    EXPECT_EQ(n->GetData(0)->GetS32(), 20);

    struct Case {
        const char* text;
        const char* kind;
        CVK_VARIANT_TYPE type;
        const char* shown;
    } kinds[] = {
        {"0x10", "SINT", CVK_VARIANT_TYPE_SINT, "16"},
        {"$1F", "SINT", CVK_VARIANT_TYPE_SINT, "31"},
        {"-5", "SINT", CVK_VARIANT_TYPE_SINT, "-5"},
        {"0x10", "UINT", CVK_VARIANT_TYPE_UINT, "0"},
        {"17", "UINT", CVK_VARIANT_TYPE_UINT, "17"},
        {"2.25", "FLOAT", CVK_VARIANT_TYPE_FLOAT, "2.250000"},
        {"$1F", "STRING", CVK_VARIANT_TYPE_STRING, "$1F"},
    };
    for (const Case& k : kinds) {
        AtrData* d = n->AddData(k.text, k.kind);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->GetType(), k.type) << k.text << " " << k.kind;
        EXPECT_STREQ(d->GetString(), k.shown) << k.text << " " << k.kind;
    }
    EXPECT_EQ(n->AddData(CvString("shared"))->GetType(), CVK_VARIANT_TYPE_STRING);

    int32_t i = -1;
    float f = -1.0f;
    char text[4] = "xyz";
    EXPECT_EQ(n->GetData(99, i), 0);
    EXPECT_EQ(n->GetData(99, f), 0);
    EXPECT_EQ(n->GetData(99, text, sizeof text), 0);
    EXPECT_EQ(i, 0);
    EXPECT_EQ(f, 0.0f);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(n->GetData(0, i), 1);
    EXPECT_EQ(i, 20);
    EXPECT_EQ(n->GetData(99), nullptr);
    EXPECT_EQ(n->GetData(-1), nullptr);
    ExpectConsistent(n);
    AtrNode::Destroy(n);
}

TEST_F(AtrNodeTest, AtrDataCopiesValueAndLink)
{
    AtrNode* n = AtrNode::Create(nullptr, "n");
    AtrData* first = n->AddData("abc", "STRING");
    AtrData* second = n->AddData(7);
    AtrData copy(*first);
    EXPECT_EQ(copy.GetNext(), second); // construction copies the link
    AtrData other(1.0f);
    other = *first;
    EXPECT_EQ(other.GetNext(), nullptr); // assignment copies the value only
    EXPECT_STREQ(other.GetString(), "abc");
    // A value added from a linked one starts unlinked.
    AtrNode* m = AtrNode::Create(nullptr, "m");
    EXPECT_EQ(m->AddData(*first)->GetNext(), nullptr);
    EXPECT_EQ(AtrData(CvString("12"), CVK_VARIANT_TYPE_SINT).GetS32(), 12);
    AtrNode::Destroy(m);
    AtrNode::Destroy(n);
}

TEST_F(AtrNodeTest, AttributeSettersRename)
{
    AtrAttribute a(CvString("old"), AtrData(1));
    a.SetS32(5);
    EXPECT_EQ(S(a.GetName()), "old");
    a.SetF32(0.5f, "half");
    EXPECT_EQ(S(a.GetName()), "half");
    EXPECT_EQ(a.GetF32(), 0.5f);
    a.SetFlag(0, 0x8, "flags");
    EXPECT_EQ(a.GetType(), CVK_VARIANT_TYPE_UINT);
    EXPECT_EQ(a.CheckFlag(3), 0x8u);
    struct Case {
        const char* text;
        const char* kind;
        CVK_VARIANT_TYPE type;
        const char* shown;
    } cases[] = {
        {"12", "SINT", CVK_VARIANT_TYPE_SINT, "12"},
        {"0x10", "SINT", CVK_VARIANT_TYPE_SINT, "0"}, // atoi here
        {"12", "UINT", CVK_VARIANT_TYPE_UINT, "12"},
        {"0.25", "FLOAT", CVK_VARIANT_TYPE_FLOAT, "0.250000"},
        {"txt", "STRING", CVK_VARIANT_TYPE_STRING, "txt"},
    };
    for (const Case& k : cases) {
        a.Set(CvString("v"), k.text, k.kind);
        EXPECT_EQ(a.GetType(), k.type) << k.kind;
        EXPECT_STREQ(a.GetString(), k.shown) << k.kind;
    }
    EXPECT_EQ(S(a.GetName()), "v");
}

TEST_F(AtrNodeTest, FlagsAndDuplicate)
{
    AtrNode* root = AtrNode::Create(nullptr, "root");
    AtrNode* n = AtrNode::Create(root, "n");
    n->SetFlag(0, ATR_NODE_FLAG_VISIT | ATR_NODE_FLAG_HISTORY | ATR_NODE_FLAG_INSTRUCTION | 0x10000 | ATR_NODE_FLAG_RENEW);
    EXPECT_EQ(n->CheckFlag(ATR_NODE_FLAG_VISIT), 0x400u);
    n->SetFlag(~0x10000u, 0);
    EXPECT_EQ(n->GetFlag(), 0x40Du);
    n->SetFlag(~0u, 0x20000);
    n->AddAttribute("x", 1);
    n->AddData("d", "STRING");
    AtrNode* kid = AtrNode::Create(n, "kid");
    AtrNode::Create(kid, "grandkid")->AddData(3);
    AtrNode::Create(n, "kid2");

    AtrNode* copy = n->Duplicate(root);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetParent(), root);
    EXPECT_EQ(copy->GetChildIndex(), 1);
    EXPECT_EQ(copy->GetFlag(), 0x20000u | ATR_NODE_FLAG_INSTRUCTION); // no visit, renewal or history bits
    EXPECT_EQ(AttributeNames(copy), "x=1");
    EXPECT_STREQ(copy->GetData(0)->GetString(), "d");
    EXPECT_EQ(Children(copy), "kid,kid2");
    EXPECT_EQ(copy->GetChild(0)->GetChild(0)->GetData(0)->GetS32(), 3);
    EXPECT_NE(copy->GetChild(0), kid);
    ExpectConsistent(root);

    // Copying a node under its own descendant is safe.
    AtrNode* inner = n->Duplicate(kid);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(Children(kid), "grandkid,n");
    EXPECT_EQ(Children(inner), "kid,kid2");
    EXPECT_EQ(Children(inner->GetChild(0)), "grandkid");
    ExpectConsistent(root);

    AtrNode* detached = kid->Duplicate(nullptr);
    ASSERT_NE(detached, nullptr);
    EXPECT_EQ(detached->GetParent(), nullptr);
    AtrNode::Destroy(detached);
    AtrNode::Destroy(root);
}

TEST_F(AtrNodeTest, HistoryReportsWhenRecording)
{
    RecordingManager manager;
    AtrNode* root = AtrNode::Create(nullptr, "root");
    AtrNode* quiet = AtrNode::Create(root, "quiet");
    root->_attachHistoryManager(&manager, 1);
    EXPECT_EQ(root->_getHistoryManager(), &manager);
    EXPECT_EQ(root->_getHistoryId(), 100);
    EXPECT_EQ(quiet->_getHistoryId(), 101);
    EXPECT_EQ(root->GetNodeByHistoryId(101), quiet);
    EXPECT_EQ(root->GetNodeByHistoryId(100), root);
    EXPECT_EQ(root->GetNodeByHistoryId(7), nullptr);
    quiet->SetFlag(~ATR_NODE_FLAG_HISTORY, 0); // stops recording this one

    AtrNode* n = AtrNode::Create(root, "n");
    EXPECT_EQ(n->CheckFlag(ATR_NODE_FLAG_HISTORY), 1u);
    EXPECT_EQ(n->_getHistoryManager(), &manager);
    n->SetFlag(~0u, ATR_NODE_FLAG_INSTRUCTION, "low"); // bookkeeping bits: not recorded
    n->SetFlag(~0u, ATR_NODE_FLAG_LEFT_OUT, "high");   // recorded
    n->SetFlag(~0u, ATR_NODE_FLAG_LEFT_OUT, "same");   // no change: not recorded
    n->AddAttribute("a", 1);
    n->SetAttribute("a", 2);
    n->DeleteAttribute("a");
    n->AddData(7);
    n->SetData(0, 8);
    n->DeleteData(0);
    quiet->AddAttribute("q", 1);
    AtrNode* loose = AtrNode::Create(nullptr, "loose");
    root->AddChild(loose, 0); // only the inserted node is reported
    n->Cut();
    root->AddChild(n, -1);
    AtrNode::Destroy(n, "bye");

    const std::vector<std::string> expected = {
        "add n [ADD NEW NORD]",
        "flag 9->109 n [high]",
        "attr+ a n [ADD ATTRIBUTE]",
        "attr a 1->2 n [SET ATTRIBUTE]",
        "attr- a n [DELETE ATTRIBUTE]",
        "data+ 7 n [ADD DATA]",
        "data 7->8 n [SET DATA]",
        "data- 8 n [DELETE DATA]",
        "add loose [INSERT CHILD NODE]",
        "cut n [CUT NORD]",
        "add n [INSERT CHILD NODE]",
        "delete n [bye]",
    };
    EXPECT_EQ(manager.log, expected);
    EXPECT_EQ(loose->_getHistoryManager(), &manager);

    // A detached node stops recording when destroyed; the children of a node
    // being destroyed are not reported one by one.
    manager.log.clear();
    AtrNode* top = AtrNode::Create(nullptr, "top");
    AtrNode::Create(top, "sub");
    top->_attachHistoryManager(&manager, 1);
    AtrNode::Destroy(top, "gone");
    EXPECT_TRUE(manager.log.empty());

    // Duplicate under a recording parent records, and the copy records.
    AtrNode* src = AtrNode::Create(nullptr, "src");
    src->SetFlag(0, 0x401);
    AtrNode* copy = src->Duplicate(root);
    EXPECT_EQ(copy->GetFlag(), ATR_NODE_FLAG_HISTORY);
    EXPECT_EQ(manager.log.back(), "add src [ADD NEW NORD]");
    AtrNode::Destroy(src);
    AtrNode::Destroy(root);
}

TEST_F(AtrNodeTest, HistoryIdsThroughAttributes)
{
    AtrNode* root = AtrNode::Create(nullptr, "root");
    AtrNode* a = AtrNode::Create(root, "a");
    root->_setHistoryId(5);
    a->_setHistoryId(6);
    root->_setHistoryIdToAttribute();
    EXPECT_EQ(a->GetAttribute("ATR_HISTORY_ID", 0)->GetS32(), 6);
    a->_setHistoryId(9);
    root->_setHistoryIdToAttribute(); // changed, not added twice
    EXPECT_EQ(a->GetAttributeNum("ATR_HISTORY_ID"), 1);
    EXPECT_EQ(a->GetAttribute("ATR_HISTORY_ID", 0)->GetS32(), 9);
    a->_setHistoryId(-1);
    root->_setHistoryId(-1);
    root->_setHistoryIdFromAttribute();
    EXPECT_EQ(root->_getHistoryId(), 5);
    EXPECT_EQ(a->_getHistoryId(), 9);
    EXPECT_EQ(a->GetAttributeSize(), 0);
    ExpectConsistent(root);
    AtrNode::Destroy(root);
}

TEST_F(AtrNodeTest, RenewAttributeModes)
{
    struct Case {
        int32_t mode;
        const char* targetElement;
        const char* result;
        int32_t changed;
    } cases[] = {
        {0, "n", "b=own,c=src-c", 1},  // keeps own value, drops a, adds c
        {2, "n", "b=src-b,c=src-c", 1}, // shared attributes take the source's value
        {1, "other", "a=own-a,b=own", 0}, // names differ: nothing happens
        {0, "other", "b=own,c=src-c", 1},
    };
    for (const Case& k : cases) {
        AtrNode* src = AtrNode::Create(nullptr, "n");
        src->AddAttribute("b", "src-b");
        src->AddAttribute("c", "src-c");
        AtrNode* dst = AtrNode::Create(nullptr, k.targetElement);
        dst->AddAttribute("a", "own-a");
        dst->AddAttribute("b", "own");
        EXPECT_EQ(dst->RenewAttribute(src, k.mode) != 0, k.changed != 0) << k.mode;
        EXPECT_EQ(AttributeNames(dst), k.result) << k.mode;
        ExpectConsistent(dst);
        AtrNode::Destroy(src);
        AtrNode::Destroy(dst);
    }
    // Same attributes, same values: nothing changed.
    AtrNode* x = AtrNode::Create(nullptr, "x");
    AtrNode* y = AtrNode::Create(nullptr, "x");
    x->AddAttribute("k", 1);
    x->AddAttribute("k", 2);
    y->AddAttribute("k", 1);
    y->AddAttribute("k", 2);
    EXPECT_EQ(y->RenewAttribute(x, 2), 0);
    EXPECT_EQ(AttributeNames(y), "k=1,k=2");
    AtrNode::Destroy(x);
    AtrNode::Destroy(y);
}

TEST_F(AtrNodeTest, RenewNodeTreeFollowsSource)
{
    // source: root(a[v=1](a1), b, a[v=2], c)
    AtrNode* src = AtrNode::Create(nullptr, "root");
    AtrNode* sa = AtrNode::Create(src, "a");
    sa->AddAttribute("v", 1);
    AtrNode::Create(sa, "a1");
    AtrNode::Create(src, "b");
    AtrNode::Create(src, "a")->AddAttribute("v", 2);
    AtrNode::Create(src, "c");

    // target: root(x, a[v=9, keep], a(stale))
    AtrNode* dst = AtrNode::Create(nullptr, "root");
    AtrNode* x = AtrNode::Create(dst, "x");
    (void)x;
    AtrNode* da = AtrNode::Create(dst, "a");
    da->AddAttribute("v", 9);
    da->AddAttribute("keep", 1);
    AtrNode* da2 = AtrNode::Create(dst, "a");
    AtrNode::Create(da2, "stale");
    da->SetFlag(~0u, 0x100);

    EXPECT_NE(dst->RenewNodeTree(src, 0), 0);
    EXPECT_EQ(Children(dst), "a,a,b,c");
    EXPECT_EQ(dst->GetChild(0), da); // matched nodes are kept, in their order
    EXPECT_EQ(dst->GetChild(1), da2);
    EXPECT_EQ(AttributeNames(da), "v=9"); // own value kept, keep dropped
    EXPECT_EQ(AttributeNames(da2), "v=2");
    EXPECT_EQ(Children(da), "a1");
    EXPECT_EQ(Children(da2), "");
    EXPECT_EQ(da->GetFlag(), 0x100u);
    for (const AtrNode* n = dst; n != nullptr; n = n->GetChild(0)) {
        EXPECT_EQ(n->CheckFlag(ATR_NODE_FLAG_RENEW), 0u);
    }
    ExpectConsistent(dst);

    // Renewing again changes nothing; different roots are refused.
    EXPECT_EQ(dst->RenewNodeTree(src, 0), 0);
    AtrNode* other = AtrNode::Create(nullptr, "other");
    EXPECT_EQ(dst->RenewNodeTree(other, 0), 0);
    EXPECT_EQ(Children(dst), "a,a,b,c");
    AtrNode::Destroy(other);
    AtrNode::Destroy(src);
    AtrNode::Destroy(dst);
}

TEST_F(AtrNodeTest, RenewKeepsRecordingAndReportsOnce)
{
    RecordingManager manager;
    AtrNode* src = AtrNode::Create(nullptr, "root");
    AtrNode::Create(src, "new");
    AtrNode* dst = AtrNode::Create(nullptr, "root");
    AtrNode::Create(dst, "old");
    dst->_attachHistoryManager(&manager, 1);
    EXPECT_NE(dst->RenewNodeTree(src, 0), 0);
    EXPECT_EQ(dst->CheckFlag(ATR_NODE_FLAG_HISTORY), 1u);
    EXPECT_EQ(dst->GetChild(0)->CheckFlag(ATR_NODE_FLAG_HISTORY), 1u);
    EXPECT_EQ(dst->GetChild(0)->_getHistoryManager(), &manager);
    EXPECT_EQ(dst->GetFlag() & 0xFF, ATR_NODE_FLAG_HISTORY);
    const std::vector<std::string> expected = {"add new [ADD NEW NORD]", "delete old []"};
    EXPECT_EQ(manager.log, expected);
    AtrNode::Destroy(src);
    AtrNode::Destroy(dst);
}

TEST_F(AtrNodeTest, ExtractEnvNameExpandsStringsOfTheSubtree)
{
    setenv("LUMIVOR_ATR_TEST_ROOT", "C:\\assets", 1);
    const std::string expanded = S(CvkFileNameExtractEnvName("%LUMIVOR_ATR_TEST_ROOT%img\\a.png"));
    ASSERT_NE(expanded, "%LUMIVOR_ATR_TEST_ROOT%img\\a.png");
    AtrNode* root = AtrNode::Create(nullptr, "root");
    AtrNode* leaf = AtrNode::Create(AtrNode::Create(root, "mid"), "leaf");
    root->AddAttribute("file", "%LUMIVOR_ATR_TEST_ROOT%img\\a.png");
    leaf->AddData("%LUMIVOR_ATR_TEST_ROOT%img\\a.png", "STRING");
    leaf->AddData(5);
    leaf->AddAttribute("plain", "no\\change");
    root->ExtractEnvName();
    EXPECT_EQ(S(root->GetAttribute(0)->GetCvString()), expanded);
    EXPECT_EQ(S(leaf->GetData(0)->GetCvString()), expanded);
    EXPECT_EQ(leaf->GetData(1)->GetS32(), 5);
    EXPECT_STREQ(leaf->GetAttribute(0)->GetString(), "no\\change");
    AtrNode::Destroy(root);
    unsetenv("LUMIVOR_ATR_TEST_ROOT");
}

// Tree objects come from pooled chunks of the system heap: an allocation
// fails when a fresh chunk is needed and the heap refuses it.
TEST_F(AtrNodeTest, OutOfMemoryLeavesTreeUnchanged)
{
    systemHeap.refuse = 1;
    EXPECT_EQ(AtrNode::Create(nullptr, "x"), nullptr);
    systemHeap.refuse = 0;
    AtrNode* root = AtrNode::Create(nullptr, "root");
    ASSERT_NE(root, nullptr);
    systemHeap.refuse = 1; // no attribute or data chunk exists yet
    EXPECT_EQ(root->AddAttribute("b", 2), nullptr);
    EXPECT_EQ(root->AddData(1), nullptr);
    EXPECT_EQ(root->AddData("5", "SINT"), nullptr);
    systemHeap.refuse = 0;
    EXPECT_EQ(root->GetAttributeSize(), 0);
    EXPECT_EQ(root->GetDataSize(), 0);
    ExpectConsistent(root);

    // Enough nodes that copying needs new chunks: a copy that runs out
    // half-way gives null back, leaves the original alone and leaks nothing
    // (the fixture checks the heaps).
    const int32_t kChildren = 2000;
    for (int i = 0; i < kChildren; ++i) {
        AtrNode::Create(root, "k");
    }
    int failed = 0;
    for (int after = 0; after < 8; ++after) {
        systemHeap.refuseAfter = after;
        AtrNode* copy = root->Duplicate(nullptr);
        systemHeap.refuseAfter = -1;
        if (copy == nullptr) {
            ++failed;
        } else {
            EXPECT_EQ(copy->GetChildSize(), kChildren);
            AtrNode::Destroy(copy);
        }
        EXPECT_EQ(root->GetChildSize(), kChildren);
    }
    EXPECT_GT(failed, 0);
    ExpectConsistent(root);
    AtrNode::Destroy(root);
}

TEST_F(AtrNodeTest, PooledObjectsGoBackToTheHeap)
{
    // Many objects in several chunks; once all are gone the chunks are back
    // with the heap (checked by the fixture), and a heap installed later
    // serves the next ones.
    AtrNode* root = AtrNode::Create(nullptr, "root");
    for (int i = 0; i < 2000; ++i) {
        AtrNode* n = AtrNode::Create(root, "n");
        n->AddAttribute("i", i);
        n->AddData(i);
    }
    EXPECT_GT(systemHeap.LiveBlocks(), 3);
    // Freed slots are reused before the pool grows.
    const int blocks = systemHeap.LiveBlocks();
    for (int round = 0; round < 3; ++round) {
        while (root->GetChildSize() > 1000) {
            AtrNode::Destroy(root->GetChildBtm());
        }
        while (root->GetChildSize() < 2000) {
            AtrNode::Create(root, "m")->AddAttribute("j", 1);
        }
    }
    EXPECT_EQ(systemHeap.LiveBlocks(), blocks);
    AtrNode::Destroy(root);
    EXPECT_EQ(systemHeap.LiveBlocks(), 0);

    CountingTestHeap other;
    CvkHeapSetSystem(&other);
    AtrNode* n = AtrNode::Create(nullptr, "n");
    EXPECT_EQ(other.LiveBlocks(), 1);
    AtrNode::Destroy(n);
    EXPECT_EQ(other.LiveBlocks(), 0);
    CvkHeapSetSystem(&systemHeap);
}

// Destruction takes pooled objects back in groups; objects of derived
// classes (larger or of the same size) in the same tree still get their own
// destructor and go back to where they came from (the fixture checks that
// no block is left).
TEST_F(AtrNodeTest, DestroyingMixedTreesRunsEveryDestructor)
{
    static int destroyed = 0;
    struct BigNode : AtrNode {
        BigNode() : AtrNode(CvString("big")) {}
        ~BigNode() override { ++destroyed; }
        char extra[40] = {};
    };
    struct SameSizeNode : AtrNode {
        SameSizeNode() : AtrNode(CvString("same")) {}
        ~SameSizeNode() override { ++destroyed; }
    };
    struct BigAttribute : AtrAttribute {
        BigAttribute() : AtrAttribute(CvString("big"), AtrData("value")) {}
        ~BigAttribute() override { ++destroyed; }
        char extra[24] = {};
    };
    destroyed = 0;
    AtrNode* root = AtrNode::Create(nullptr, "root");
    for (int i = 0; i < 300; ++i) {
        AtrNode* n = AtrNode::Create(root, "n");
        n->AddAttribute("i", i);
        n->AddData("text");
        if (i % 50 == 0) {
            AtrNode* big = new BigNode;
            AtrNode::Create(big, "below")->AddData(i);
            ASSERT_EQ(n->AddChild(big), 1);
            ASSERT_EQ(n->AddChild(new SameSizeNode), 1);
            AtrAttribute* a = new BigAttribute;
            a->SetNext(n->ResetAttributeList(nullptr));
            EXPECT_EQ(n->ResetAttributeList(a), nullptr);
            EXPECT_EQ(n->GetAttributeSize(), 2);
        }
    }
    AtrNode::Destroy(root);
    EXPECT_EQ(destroyed, 6 * 3);
}

// 100,000 levels: every whole-tree operation must work without recursion.
TEST_F(AtrNodeTest, DeepTreesWithoutStackGrowth)
{
    const int kDepth = 100000;
    AtrNode* root = AtrNode::Create(nullptr, "n");
    AtrNode* n = root;
    for (int i = 1; i < kDepth; ++i) {
        n = AtrNode::Create(n, "n");
        if (i % 1000 == 0) {
            n->AddAttribute("level", i);
        }
    }
    AtrNode* bottom = n;
    AtrNode::Create(bottom, "leaf");

    EXPECT_EQ(root->GetDescendant("leaf", 0)->GetParent(), bottom);
    EXPECT_EQ(root->GetDescendant("n", kDepth - 2), bottom);

    AtrNode* copy = root->Duplicate(nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->GetDescendant("leaf", 0), nullptr);
    EXPECT_EQ(copy->GetDescendant("n", 999)->GetAttribute("level", 0)->GetS32(), 1000);

    // Renew the copy after changing the original at the bottom.
    bottom->GetChild(0)->SetElement("other");
    EXPECT_NE(copy->RenewNodeTree(root, 0), 0);
    EXPECT_EQ(copy->GetDescendant("leaf", 0), nullptr);
    EXPECT_NE(copy->GetDescendant("other", 0), nullptr);
    EXPECT_EQ(copy->RenewNodeTree(root, 0), 0);

    root->ExtractEnvName();
    root->_setHistoryIdToAttribute();
    root->_setHistoryIdFromAttribute();
    EXPECT_EQ(root->GetNodeByHistoryId(12345), nullptr);

    // Destroy from the top, and a subtree from its middle.
    AtrNode::Destroy(copy->GetDescendant("n", kDepth / 2));
    AtrNode::Destroy(copy);
    AtrNode::Destroy(root);
}

} // namespace
