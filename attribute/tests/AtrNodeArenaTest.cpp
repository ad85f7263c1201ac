// Lifetimes of documents that live in arenas: what a caller copied or moved
// out of a tree must outlive it, whichever way the tree is destroyed. ASan
// (x86-64 preset) reports any read of released memory; the fixture checks
// that the heap gets every block back.
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"

#include "kit/CvkArena.h"
#include "kit/tests/AlignedTestHeap.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string S(const CvString& s) { return s.GetBuffer() != nullptr ? s.GetBuffer() : ""; }

// menu > screen* > item* with a text attribute, a number, a text value and
// a byte buffer on every item.
AtrNode* BuildMenu(int screens, int items)
{
    AtrNode* menu = AtrNode::Create(nullptr, "menu");
    for (int s = 0; s < screens; ++s) {
        AtrNode* screen = AtrNode::Create(menu, "screen");
        screen->AddAttribute("name", ("screen " + std::to_string(s)).c_str());
        for (int i = 0; i < items; ++i) {
            AtrNode* item = AtrNode::Create(screen, "item");
            item->AddAttribute("text", ("item " + std::to_string(s) + "." + std::to_string(i)).c_str());
            item->AddAttribute("x", int32_t(i));
            item->AddData("caption of the item", "STRING");
            item->AddData(static_cast<const void*>("\x01\x02\x03"), uint32_t(3));
        }
    }
    return menu;
}

using AtrNodeArenaTest = AlignedHeapTest;

TEST_F(AtrNodeArenaTest, CopiesTakenOutOutliveTheDocument)
{
    AtrNode* menu = BuildMenu(3, 40);
    AtrNode* item = menu->GetChild(1)->GetChild(7);
    CvkArena* arena = CvkArenaOf(menu);
    ASSERT_NE(arena, nullptr);
    EXPECT_EQ(CvkArenaOf(item), arena);
    EXPECT_EQ(CvkArenaOf(item->GetAttribute(0)->GetString()), arena);

    // Names and values shared inside the document, private outside it.
    AtrNode* other = menu->GetChild(2)->GetChild(3);
    other->SetElement(item->GetElement());
    EXPECT_EQ(other->GetElement().GetBuffer(), item->GetElement().GetBuffer());
    CvString element = item->GetElement();
    CvString text = item->GetAttribute("text")->GetCvString();
    CvVariant caption = *item->GetData(0);
    AtrData bytes = *item->GetData(1);
    CvString param;
    ASSERT_EQ(item->GetAttributeParam("text", param), 1);
    EXPECT_NE(element.GetBuffer(), item->GetElement().GetBuffer());

    AtrNode::Destroy(menu); // the document is released whole
    EXPECT_EQ(S(element), "item");
    EXPECT_EQ(S(text), "item 1.7");
    EXPECT_EQ(S(param), "item 1.7");
    EXPECT_STREQ(caption.GetString(), "caption of the item");
    ASSERT_EQ(bytes.GetBufferSize(), 3u);
    EXPECT_EQ(static_cast<const unsigned char*>(bytes.GetBuffer())[2], 3);
}

// A node cut from one document and added to another keeps working whichever
// document goes first: its arena lives on while any of its objects does.
TEST_F(AtrNodeArenaTest, NodesMovedBetweenDocumentsStayValid)
{
    for (bool sourceFirst : {true, false}) {
        AtrNode* source = BuildMenu(2, 5);
        AtrNode* target = BuildMenu(1, 1);
        AtrNode* moved = source->GetChild(1);
        moved->Cut();
        ASSERT_EQ(target->AddChild(moved, 0), 1);
        AtrNode* item = source->GetChild(0)->GetChild(2);
        item->Cut();
        ASSERT_EQ(target->GetChild(1)->AddChild(item), 1);

        AtrNode::Destroy(sourceFirst ? source : target);
        AtrNode* survivor = sourceFirst ? target : nullptr;
        if (survivor != nullptr) {
            EXPECT_EQ(S(survivor->GetChild(0)->GetAttribute("name")->GetCvString()), "screen 1");
            EXPECT_EQ(survivor->GetChild(0)->GetChildSize(), 5);
            EXPECT_EQ(S(survivor->GetChild(1)->GetChild(1)->GetAttribute("text")->GetCvString()), "item 0.2");
        } else {
            // The source is all that is left; it lost the moved screen.
            EXPECT_EQ(source->GetChildSize(), 1);
            EXPECT_EQ(source->GetChild(0)->GetChildSize(), 4);
        }
        AtrNode::Destroy(sourceFirst ? target : source);
    }
}

// Destroying a subtree, a node cut out of the tree, or the root of a
// document that still has other parentless nodes frees objects one by one
// and leaves the rest intact.
TEST_F(AtrNodeArenaTest, PartsOfADocumentLiveAndDieOnTheirOwn)
{
    AtrNode* menu = BuildMenu(4, 10);
    AtrNode::Destroy(menu->GetChild(1));
    EXPECT_EQ(menu->GetChildSize(), 3);

    AtrNode* cut = menu->GetChild(0)->GetChild(4);
    cut->Cut();
    AtrNode* next = menu->GetChild(2)->AddNext("tail"); // joins the document
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(CvkArenaOf(next), CvkArenaOf(menu));
    AtrNode* removed = menu->GetChild(1);
    removed->Cut();
    AtrNode* firstItem = removed->Remove(); // its items become parentless

    AtrNode::Destroy(menu);
    EXPECT_EQ(S(cut->GetAttribute("text")->GetCvString()), "item 0.4");
    EXPECT_EQ(S(firstItem->GetNext()->GetAttribute("text")->GetCvString()), "item 2.1");
    AtrNode::Destroy(cut);
    AtrNode::Destroy(removed);
    for (AtrNode* item = firstItem; item != nullptr;) {
        AtrNode* following = item->GetNext();
        AtrNode::Destroy(item);
        item = following;
    }
}

// Copies and renewals across documents copy the values into the receiving
// document; attributes handed out of a node outlive it.
TEST_F(AtrNodeArenaTest, DuplicatesRenewalsAndHandedOutAttributes)
{
    AtrNode* menu = BuildMenu(2, 3);
    AtrNode* copy = menu->Duplicate(nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(CvkArenaOf(copy), CvkArenaOf(menu));
    AtrNode* other = BuildMenu(1, 1);
    ASSERT_NE(menu->GetChild(0)->Duplicate(other), nullptr);
    AtrNode* renewed = AtrNode::Create(nullptr, "menu");
    EXPECT_NE(renewed->RenewNodeTree(menu, 2), 0);

    AtrNode* screen = menu->GetChild(1);
    AtrAttribute* handed = screen->ResetAttributeList(nullptr);
    AtrNode::Destroy(menu);

    EXPECT_EQ(S(handed->GetCvString()), "screen 1");
    delete handed;
    for (AtrNode* tree : {copy, other, renewed}) {
        EXPECT_EQ(S(tree->GetChild(0)->GetAttribute("name")->GetCvString()), "screen 0");
    }
    EXPECT_EQ(S(copy->GetChild(1)->GetChild(2)->GetAttribute("text")->GetCvString()), "item 1.2");
    EXPECT_EQ(S(other->GetChild(1)->GetChild(0)->GetData(0)->GetCvString()), "caption of the item");
    EXPECT_EQ(S(renewed->GetChild(1)->GetChild(2)->GetAttribute("text")->GetCvString()), "item 1.2");
    AtrNode::Destroy(copy);
    AtrNode::Destroy(other);
    AtrNode::Destroy(renewed);
}

// When the heap refuses a chunk, additions fail and leave the tree as it was.
TEST_F(AtrNodeArenaTest, ArenaOutOfMemoryLeavesTheTreeUnchanged)
{
    AtrNode* root = AtrNode::Create(nullptr, "root");
    ASSERT_NE(CvkArenaOf(root), nullptr);
    heap.refuse = true;
    const std::string big(CvkArena::kMaxBlock * 2, 'x');
    EXPECT_EQ(root->AddAttribute("big", big.c_str()), nullptr);
    int added = 0;
    while (added < 1000000 && root->AddData("a value of some length", "STRING") != nullptr) {
        ++added; // until the chunk is used up
    }
    EXPECT_LT(added, 1000000);
    EXPECT_EQ(root->GetDataSize(), added);
    EXPECT_EQ(root->GetAttributeSize(), 0);
    EXPECT_EQ(AtrNode::Create(root, "child"), nullptr);
    heap.refuse = false;

    ASSERT_NE(root->AddAttribute("big", big.c_str()), nullptr); // a block of its own
    CvString out = root->GetAttribute("big")->GetCvString();
    AtrNode::Destroy(root);
    EXPECT_EQ(out.GetLength(), static_cast<int32_t>(big.size()));
}

// A parsed document takes its repeated names and values from one copy in
// its own arena, whether the reader makes the document or is given its
// root; copies taken out survive it, and a reading that fails leaves
// nothing behind (the fixture checks the heap).
TEST_F(AtrNodeArenaTest, ParsedDocumentsShareTheirTextsInTheirArena)
{
    const char* text = "<menu><item key = \"OK\", x = 1 /><item key = \"OK\", x = 2>\"OK\"</item></menu>";
    AtrParser parser;
    AtrNode* menu = parser.CreateTreeFromText(text, nullptr);
    ASSERT_NE(menu, nullptr);
    AtrNode* root = AtrNode::Create(nullptr, "root");
    ASSERT_EQ(AtrParser().CreateTreeFromText(text, root), root);

    for (AtrNode* m : {menu, root->GetChild(0)}) {
        CvkArena* arena = CvkArenaOf(m);
        ASSERT_NE(arena, nullptr);
        AtrNode* first = m->GetChild(0);
        AtrNode* second = m->GetChild(1);
        EXPECT_EQ(first->GetElement().GetBuffer(), second->GetElement().GetBuffer());
        EXPECT_EQ(first->GetAttribute(0)->GetName().GetBuffer(), second->GetAttribute(0)->GetName().GetBuffer());
        EXPECT_EQ(first->GetAttribute(0)->GetString(), second->GetData(0)->GetString());
        EXPECT_EQ(CvkArenaOf(first->GetAttribute(0)->GetString()), arena);
        EXPECT_EQ(CvkArenaOf(second->GetElement().GetBuffer()), arena);
    }
    CvString key = menu->GetChild(1)->GetAttribute(0)->GetCvString();
    AtrNode::Destroy(menu);
    AtrNode::Destroy(root);
    EXPECT_EQ(S(key), "OK");

    AtrParser failing;
    EXPECT_EQ(failing.CreateTreeFromText("<menu><item key = \"OK\" /></other>", nullptr), nullptr);
}

} // namespace
