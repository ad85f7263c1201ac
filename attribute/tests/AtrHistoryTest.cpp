// The edit history: every kind of change undone and redone exactly, the
// bounded list, ids kept across deletion, and bad uses that must not crash.
#include "attribute/AtrHistory.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"

#include "attribute/tests/AtrTestTree.h"
#include "kit/tests/CountingTestHeap.h"
#include "kit/tests/KitHeapSlots.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const char kTree[] = "<root><a x = 1>1, 2<a1/><a2 k = \"v\"/></a><b/><c p = 1, q = \"s\", r = 2.5 /></root>";

class AtrHistoryTest : public KitHeapTest {
protected:
    static AtrNode* Parse(const char* text)
    {
        AtrParser parser;
        return parser.CreateTreeFromText(text, nullptr);
    }
    // The tree's text with every node's history id in front of it.
    static std::string State(AtrNode* root)
    {
        std::string ids;
        std::vector<AtrNode*> stack{root};
        while (!stack.empty()) {
            AtrNode* n = stack.back();
            stack.pop_back();
            ids += std::string(n->GetElement().GetBuffer()) + ":" + std::to_string(n->_getHistoryId()) + " ";
            for (AtrNode* c = n->GetChildBtm(); c != nullptr; c = c->GetPrev()) {
                stack.push_back(c);
            }
        }
        AtrParser parser;
        return ids + "\n" + parser.WriteNode(root, 0, 0).GetBuffer();
    }
};

struct EditCase {
    const char* name;
    std::function<void(AtrNode* root, std::vector<AtrNode*>& keep)> edit;
};

TEST_F(AtrHistoryTest, EveryChangeIsUndoneAndRedoneExactly)
{
    const EditCase cases[] = {
        {"create", [](AtrNode* r, auto&) { AtrNode::Create(r->GetChild("b"), "new"); }},
        {"add next", [](AtrNode* r, auto&) { r->GetChild(0)->AddNext("next"); }},
        {"insert subtree first", [](AtrNode* r, auto&) { r->AddChild(Parse("<d y = 2><e>\"t\"</e></d>"), 0); }},
        {"destroy subtree", [](AtrNode* r, auto&) { AtrNode::Destroy(r->GetChild("a"), "DEL"); }},
        {"delete child", [](AtrNode* r, auto&) { r->DeleteChild("b"); }},
        {"cut",
         [](AtrNode* r, auto& keep) {
             keep.push_back(r->GetChild("a"));
             keep.back()->Cut();
         }},
        {"attribute at front", [](AtrNode* r, auto&) { r->GetChild("a")->AddAttribute("w", AtrData(5), 0); }},
        {"set attribute", [](AtrNode* r, auto&) { r->GetChild("a")->SetAttribute("x", "text"); }},
        {"delete middle attribute", [](AtrNode* r, auto&) { r->GetChild("c")->DeleteAttribute("q"); }},
        {"data at front", [](AtrNode* r, auto&) { r->GetChild("a")->AddData(7, 0); }},
        {"set data", [](AtrNode* r, auto&) { r->GetChild("a")->SetData(1, 42.5f); }},
        {"delete first data", [](AtrNode* r, auto&) { r->GetChild("a")->DeleteData(0); }},
        {"flags", [](AtrNode* r, auto&) { r->GetChild("b")->SetFlag(~0u, 0x10100); }},
    };
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.name);
        AtrNode* root = Parse(kTree);
        ASSERT_NE(root, nullptr);
        std::vector<AtrNode*> keep;
        {
            AtrHistoryManager history(nullptr, 16);
            history.SetRootNode(root, 1);
            const std::string before = State(root);
            c.edit(root, keep);
            const std::string after = State(root);
            ASSERT_EQ(history.GetActionListCount(), 1);
            ASSERT_NE(before, after);
            for (int round = 0; round < 2; ++round) {
                history.Undo(1);
                EXPECT_EQ(State(root), before);
                history.Redo(1);
                EXPECT_EQ(State(root), after);
            }
            EXPECT_EQ(history.GetActionListCount(), 1); // undo and redo record nothing
            EXPECT_EQ(history.CheckError(), 0u);
        }
        AtrNode::Destroy(root);
        for (AtrNode* n : keep) {
            AtrNode::Destroy(n);
        }
    }
}

// Four changes of one attribute: x goes 1 -> 2 -> 3 -> 4 -> 5.
int32_t X(AtrNode* root)
{
    int32_t v = 0;
    root->GetChild("a")->GetAttributeParam("x", v);
    return v;
}

void FourChanges(AtrNode* root)
{
    for (int32_t v = 2; v <= 5; ++v) {
        root->GetChild("a")->SetAttribute("x", v);
    }
}

TEST_F(AtrHistoryTest, TheListIsBoundedAndANewChangeDropsTheRedoBranch)
{
    AtrNode* root = Parse(kTree);
    {
        AtrHistoryManager history(nullptr, 3);
        history.SetRootNode(root, 1);
        FourChanges(root);
        EXPECT_EQ(history.GetActionListCount(), 3);
        history.Undo(10);
        EXPECT_EQ(X(root), 2); // the first change is out of reach
        history.Redo(10);
        EXPECT_EQ(X(root), 5);

        history.Undo(2);
        EXPECT_EQ(X(root), 3);
        root->GetChild("a")->SetAttribute("x", 9);
        EXPECT_EQ(history.GetActionListCount(), 2);
        history.Redo(1);
        EXPECT_EQ(X(root), 9);

        history.Undo(2);
        EXPECT_EQ(X(root), 2);
        history.Redo(10); // both, then Undo(1) takes back the last
        EXPECT_EQ(X(root), 9);
        history.Undo(1);
        EXPECT_EQ(X(root), 3);

        history.Clear();
        EXPECT_EQ(history.GetActionListCount(), 0);
        EXPECT_EQ(history.GetAction(), nullptr);
        history.Undo(1);
        EXPECT_EQ(X(root), 3);
        root->GetChild("a")->SetAttribute("x", 1);
        EXPECT_EQ(history.GetActionListCount(), 1);
    }
    {
        // A maximum of 0 is taken as 1; DeleteTopAction removes the oldest.
        AtrHistoryManager history(nullptr, 0);
        history.SetRootNode(root, 1);
        EXPECT_EQ(history.GetMaximum(), 1);
        FourChanges(root);
        EXPECT_EQ(history.GetActionListCount(), 1);
        EXPECT_EQ(history.DeleteTopAction(0), 1);
        EXPECT_EQ(history.DeleteTopAction(2), 0);
        EXPECT_EQ(history.GetActionListCount(), 0);
        history.Undo(1);
        EXPECT_EQ(X(root), 5);
        root->GetChild("a")->SetAttribute("x", 6);
        history.Undo(1);
        EXPECT_EQ(X(root), 5);
    }
    AtrNode::Destroy(root);
}

TEST_F(AtrHistoryTest, ADeletedSubtreeComesBackWithItsIdsAtItsPlace)
{
    AtrNode* root = Parse(kTree);
    {
        AtrHistoryManager history(nullptr, 8);
        history.SetRootNode(root, 1);
        AtrNode* a = root->GetChild("a");
        const int32_t ids[] = {a->_getHistoryId(), a->GetChild(0)->_getHistoryId(), a->GetChild(1)->_getHistoryId()};
        AtrNode::Destroy(a, "DELETE A");
        const AtrAction* action = history.GetAction();
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->GetActionType(), ATR_ACTION_DELETE_NODE);
        EXPECT_EQ(action->GetHistoryId(), ids[0]);
        EXPECT_EQ(action->GetParentHistoryId(), root->_getHistoryId());
        EXPECT_EQ(action->GetIndex(), 0);
        EXPECT_STREQ(action->GetLabel(), "DELETE A");
        EXPECT_NE(strstr(action->GetDiffAtr().GetBuffer(), "ATR_HISTORY_ID"), nullptr);

        history.Undo(1);
        a = root->GetChild(0);
        ASSERT_NE(a, nullptr);
        EXPECT_STREQ(a->GetElement().GetBuffer(), "a");
        EXPECT_EQ(a->_getHistoryId(), ids[0]);
        EXPECT_EQ(a->GetChild(0)->_getHistoryId(), ids[1]);
        EXPECT_EQ(a->GetChild(1)->_getHistoryId(), ids[2]);
        EXPECT_EQ(a->CheckAttribute("ATR_HISTORY_ID"), 0);
        EXPECT_EQ(a->GetChild(1)->CheckAttribute("ATR_HISTORY_ID"), 0);
        EXPECT_EQ(history.GetLastNode(), a);
        // The restored nodes record again, under their old ids.
        a->GetChild(1)->SetAttribute("k", "w");
        EXPECT_EQ(history.GetActionListCount(), 1); // the deletion was dropped as a redo branch
        EXPECT_EQ(history.GetAction()->GetHistoryId(), ids[2]);
    }
    AtrNode::Destroy(root);
}

TEST_F(AtrHistoryTest, LabelsAreCopied)
{
    AtrNode* root = Parse(kTree);
    {
        AtrHistoryManager history(nullptr, 8);
        history.SetRootNode(root, 1);
        {
            std::string label = "TEMPORARY LABEL";
            root->SetFlag(~0u, 0x200, label.c_str());
            label.assign(64, 'X');
        }
        EXPECT_STREQ(history.GetAction()->GetLabel(), "TEMPORARY LABEL");
        root->SetFlag(~0u, 0x400000);
        EXPECT_EQ(history.GetAction()->GetNext()->GetLabel(), nullptr);
    }
    AtrNode::Destroy(root);
}

TEST_F(AtrHistoryTest, SetDataPastTheEndRecordsNothing)
{
    AtrNode* root = Parse(kTree);
    {
        AtrHistoryManager history(nullptr, 8);
        history.SetRootNode(root, 1);
        AtrNode* a = root->GetChild("a");
        EXPECT_EQ(history.SetData(a, 2, AtrData(1), "SET DATA"), 0);
        EXPECT_EQ(a->SetData(5, 1), 0);
        EXPECT_EQ(history.AddNode(nullptr, nullptr), 0);
        EXPECT_EQ(history.GetActionListCount(), 0);
        EXPECT_EQ(history.CheckError(), 0u);
    }
    AtrNode::Destroy(root);
}

TEST_F(AtrHistoryTest, NodesOfAnotherTreeAreNotRecorded)
{
    AtrNode* root = Parse(kTree);
    AtrNode* other = Parse(kTree);
    {
        AtrHistoryManager history(nullptr, 8);
        AtrHistoryManager otherHistory(nullptr, 8);
        history.SetRootNode(root, 1);
        otherHistory.SetRootNode(other, 1);
        AtrNode* foreign = other->GetChild("a");
        EXPECT_EQ(history.AddAttribute(foreign, foreign->GetAttribute(0), "ADD ATTRIBUTE"), 0);
        EXPECT_EQ(history.DeleteNode(foreign, nullptr), 0);

        // A cut node stays with the caller: its later changes are not ours.
        AtrNode* a = root->GetChild("a");
        a->Cut();
        a->SetAttribute("x", 8);
        a->AddData(3);
        EXPECT_EQ(history.GetActionListCount(), 1);
        history.Undo(1);
        EXPECT_EQ(history.CheckError(), 0u);
        EXPECT_EQ(X(root), 1);
        AtrNode::Destroy(a);
    }
    AtrNode::Destroy(root);
    AtrNode::Destroy(other);
}

TEST_F(AtrHistoryTest, ANodeDestroyedBehindItsBackStopsTheHistory)
{
    AtrNode* root = Parse(kTree);
    {
        AtrHistoryManager history(nullptr, 8);
        history.SetRootNode(root, 1);
        root->GetChild("b")->SetAttribute("n", 1); // nothing: b has no n
        root->GetChild("b")->AddAttribute("n", 1);
        root->GetChild("c")->SetAttribute("p", 2);
        // The caller destroys b without recording.
        AtrNode* b = root->GetChild("b");
        b->SetFlag(~ATR_NODE_FLAG_HISTORY, 0);
        AtrNode::Destroy(b);
        history.Undo(2);
        EXPECT_NE(history.CheckError(), 0u);
        int32_t p = 0;
        root->GetChild("c")->GetAttributeParam("p", p);
        EXPECT_EQ(p, 1); // the step before the failure stands
        // From now on nothing is recorded or applied.
        root->GetChild("c")->SetAttribute("p", 3);
        EXPECT_EQ(history.GetActionListCount(), 2);
        history.Redo(1);
        root->GetChild("c")->GetAttributeParam("p", p);
        EXPECT_EQ(p, 3);
    }
    AtrNode::Destroy(root);
}

TEST_F(AtrHistoryTest, AnActionThatCannotBeAllocatedStopsTheHistory)
{
    AtrNode* root = Parse(kTree);
    {
        AtrHistoryManager history(nullptr, 8);
        history.SetRootNode(root, 1);
        root->SetFlag(~0u, ATR_NODE_FLAG_LEFT_OUT);
        systemHeap.refuse = 1;
        root->SetFlag(~0u, ATR_NODE_FLAG_NO_STRUCT); // the change stands; its action cannot be made
        systemHeap.refuse = 0;
        EXPECT_NE(history.CheckError(), 0u);
        EXPECT_EQ(history.GetActionListCount(), 1);
        history.Undo(1);
        EXPECT_EQ(root->GetFlag() & (ATR_NODE_FLAG_LEFT_OUT | ATR_NODE_FLAG_NO_STRUCT),
                  ATR_NODE_FLAG_LEFT_OUT | ATR_NODE_FLAG_NO_STRUCT);
    }
    AtrNode::Destroy(root);
}

TEST_F(AtrHistoryTest, ASubtreeOfAHundredThousandLevels)
{
#if defined(__x86_64__)
    constexpr int kDepth = 100000;
#else
    constexpr int kDepth = 20000; // the emulated 32-bit run is many times slower
#endif
    // Counts live blocks only: the deep case makes a million allocations.
    atrtest::LiveCountHeap heap;
    KitHeapSlotsSet(&heap);
    AtrNode* root = Parse(kTree);
    {
        AtrHistoryManager history(nullptr, 8);
        history.SetRootNode(root, 1);
        AtrNode* top = AtrNode::Create(nullptr, "deep");
        AtrNode* n = top;
        for (int i = 1; i < kDepth; ++i) {
            n = AtrNode::Create(n, "deep");
        }
        n->AddData(77);
        root->AddChild(top, 1);
        const std::string before = State(root);
        AtrNode::Destroy(root->GetChild(1));
        history.Undo(1);
        EXPECT_EQ(State(root), before);
        history.Redo(1);
        history.Undo(1);
        AtrNode* leaf = root->GetChild(1);
        for (int i = 1; i < kDepth && leaf != nullptr; ++i) {
            leaf = leaf->GetChild(0);
        }
        ASSERT_NE(leaf, nullptr);
        int32_t v = 0;
        leaf->GetData(0, v);
        EXPECT_EQ(v, 77);
        EXPECT_EQ(history.CheckError(), 0u);
    }
    AtrNode::Destroy(root);
    EXPECT_EQ(heap.live.load(), 0);
    SetUp();
}

} // namespace
