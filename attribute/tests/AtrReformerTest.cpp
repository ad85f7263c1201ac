// Renewing one tree from another: what is kept, added, created and
// destroyed, the change log, and deep trees.
#include "attribute/AtrReformer.h"
#include "attribute/tests/AtrTestTree.h"

#include <string>

using namespace atrtest;

namespace {

class AtrReformerTest : public KitTest {};

} // namespace

TEST_F(AtrReformerTest, RenewsTargetFromSource)
{
    struct Case {
        const char* source;
        const char* target;
        const char* result; // the target afterwards
        const char* log;
        int changed;
    };
    const Case cases[] = {
        {"<A x = 1, y = 2 />", "<A y = 5, z = 3 />", "A(x=S:1,y=S:5)", "ADD ATTRIBUTE [x]\nDELETE ATTRIBUTE [z]\n", 1},
        {"<A/>", "<B x = 1><C/></B>", "B(x=S:1){C}", "", 0},
        {"<A a = 1, b = 2><B/></A>", "<A b = 3, a = 4><B/></A>", "A(a=S:4,b=S:3){B}", "", 0},
        {"<A><B/></A>", "<A><B/><C k = 1><D/></C></A>", "A{B}", "DESTROY NODE [C]\n", 1},
        {"<A><B/><C v = 1><D/></C><E/></A>", "<A><B/><E/></A>", "A{B C(v=S:1){D} E}",
         "CREATE NODE [C]\nADD ATTRIBUTE [v]\nCREATE NODE [D]\n", 1},
        // Children of one name are matched in order, attributes of one name too.
        {"<A><B i = 1 /><B i = 2 /></A>", "<A><B i = 9 /></A>", "A{B(i=S:9) B(i=S:2)}",
         "CREATE NODE [B]\nADD ATTRIBUTE [i]\n", 1},
        {"<A x = 1, x = 2 />", "<A x = 7 />", "A(x=S:7,x=S:2)", "ADD ATTRIBUTE [x]\n", 1},
        {"<A x = 1 />", "<A x = 7, x = 8 />", "A(x=S:7)", "DELETE ATTRIBUTE [x]\n", 1},
        // Flags stay; the renewal mark does not.
        {"<A><B/></A>", "<A ATR_NODE_FLAG = 0x301><B ATR_NODE_FLAG = 1 /><X/></A>", "A#301{B#1}", "DESTROY NODE [X]\n", 1},
        {"<A><B><C/></B></A>", "<A><X/><B><Y/></B></A>", "A{B{C}}", "CREATE NODE [C]\nDESTROY NODE [Y]\nDESTROY NODE [X]\n", 1},
    };
    for (const Case& c : cases) {
        AtrNode* source = Parse(c.source);
        AtrNode* target = Parse(c.target);
        ASSERT_NE(source, nullptr) << c.source;
        ASSERT_NE(target, nullptr) << c.target;
        AtrReformer reformer;
        EXPECT_EQ(reformer.RenewNodeTree(source, target, 0) != 0, c.changed != 0) << c.source;
        EXPECT_EQ(Dump(target), c.result) << c.source;
        EXPECT_EQ(Str(reformer.GetLog()), c.log) << c.source;
        AtrNode::Destroy(source);
        AtrNode::Destroy(target);
    }
}

TEST_F(AtrReformerTest, LogGrowsOverCalls)
{
    AtrNode* source = Parse("<A x = 1 />");
    AtrNode* first = Parse("<A/>");
    AtrNode* second = Parse("<A y = 1 />");
    AtrReformer reformer;
    EXPECT_NE(reformer.RenewAttribute(source, first, 0), 0);
    EXPECT_NE(reformer.RenewNodeTree(source, second, 0), 0);
    EXPECT_EQ(reformer.RenewNodeTree(source, second, 0), 0);
    EXPECT_EQ(Str(reformer.GetLog()), "ADD ATTRIBUTE [x]\nADD ATTRIBUTE [x]\nDELETE ATTRIBUTE [y]\n");
    AtrNode::Destroy(source);
    AtrNode::Destroy(first);
    AtrNode::Destroy(second);
}

// The renewal does not recurse: chains 100,000 and 50,000 deep.
TEST_F(AtrReformerTest, DeepTrees)
{
    AtrNode* source = AtrNode::Create(nullptr, "n");
    AtrNode* target = AtrNode::Create(nullptr, "n");
    AtrNode* s = source;
    AtrNode* t = target;
    for (int i = 1; i < 100000; ++i) {
        s = AtrNode::Create(s, "n");
        if (i < 50000) t = AtrNode::Create(t, "n");
    }
    s->AddAttribute("leaf", 1);
    AtrReformer reformer;
    EXPECT_NE(reformer.RenewNodeTree(source, target, 0), 0);
    int depth = 1;
    for (t = target; t->GetChild(0) != nullptr; t = t->GetChild(0)) ++depth;
    EXPECT_EQ(depth, 100000);
    EXPECT_EQ(t->CheckAttribute("leaf"), 1);
    EXPECT_EQ(target->CheckFlag(ATR_NODE_FLAG_RENEW), 0u);
    AtrNode::Destroy(source);
    AtrNode::Destroy(target);
}
