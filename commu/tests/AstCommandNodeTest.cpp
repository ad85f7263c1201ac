// Command messages: the default tree and its text, the attribute accessors,
// the settings node, and the conversion of message buffers to trees and back.
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "commu/AstCommandNode.h"
#include "commu/AstCommuNode.h"
#include "commu/CvkMessageBufferNode.h"
#include "kit/CvkMessageBuffer.h"
#include "kit/tests/CountingTestHeap.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using AstCommandNodeTest = KitHeapTest;

std::string Str(const CvString& s)
{
    return std::string(s.GetBuffer() != nullptr ? s.GetBuffer() : "", static_cast<size_t>(s.GetLength()));
}

TEST_F(AstCommandNodeTest, DefaultTreeAndItsText)
{
    AstCommandNode command;
    EXPECT_EQ(Str(command.GetText()), "");
    ASSERT_EQ(command.Create(), 1);
    const std::string text = Str(command.GetText());
    EXPECT_EQ(text,
              "<VELDRA To = 0>\n"
              "\t<COMMU>\n"
              "\t\t<root TessolinDdeName = \"Tessolin\" />\n"
              "\t</COMMU>\n"
              "\t<MSG>\n"
              "\t\t<MSGBUF />\n"
              "\t</MSG>\n"
              "</VELDRA>\n");

    // The text reads back into the same tree.
    AstCommandNode parsed;
    ASSERT_EQ(parsed.CreateFromAtrText(text.c_str()), 1);
    EXPECT_EQ(Str(parsed.GetText()), text);
    EXPECT_EQ(Str(AstCommuNode(parsed.GetCommuNode()).GetTessolinDdeName()), "Tessolin");
    ASSERT_NE(parsed.GetMessageNode(), nullptr);
    EXPECT_EQ(Str(parsed.GetMessageNode()->GetElement()), "MSGBUF");
    EXPECT_EQ(CvkMessageBufferNode().GetMessageBlockNum(parsed.GetMessageNode()), 0);
}

TEST_F(AstCommandNodeTest, ParsingAndEmptyObjects)
{
    AstCommandNode command;
    EXPECT_EQ(command.CreateFromAtrText(nullptr), 0);
    EXPECT_EQ(command.CreateFromAtrText("<VELDRA></X>"), 0);
    EXPECT_EQ(command.GetRootNode(), nullptr);
    EXPECT_EQ(command.GetTo(), 0);
    EXPECT_EQ(command.GetCommuNode(), nullptr);
    EXPECT_EQ(command.GetMessageNode(), nullptr);
    command.SetTo(5);
    command.SetMorrinFileName("m.exe");
    EXPECT_EQ(command.GetRootNode(), nullptr) << "setters do nothing on an empty object";

    // Without "To" a command goes to the Morrin tool; siblings after the root are not kept.
    ASSERT_EQ(command.CreateFromAtrText("<VELDRA MorrinFileName = \"run.exe\" /><OTHER />"), 1);
    EXPECT_EQ(command.GetTo(), AST_COMMAND_TO_MORRIN);
    EXPECT_EQ(Str(command.GetMorrinFileName()), "run.exe");
    EXPECT_EQ(command.GetRootNode()->GetNext(), nullptr);
    command.SetMorrinFileName("other.exe");
    EXPECT_EQ(command.GetRootNode()->GetAttributeSize(), 1) << "a present attribute is replaced";
    EXPECT_EQ(Str(command.GetMorrinFileName()), "other.exe");
}

TEST_F(AstCommandNodeTest, SettersInvalidateTheCachedText)
{
    AstCommandNode command;
    ASSERT_EQ(command.Create(), 1);
    EXPECT_NE(Str(command.GetText()).find("To = 0"), std::string::npos);
    command.SetTo(AST_COMMAND_TO_TESSOLIN);
    EXPECT_NE(Str(command.GetText()).find("To = 1"), std::string::npos);
    command.SetMorrinFileName("viewer.exe");
    EXPECT_NE(Str(command.GetText()).find("MorrinFileName = \"viewer.exe\""), std::string::npos);
    command.ClearMessageNode();
    EXPECT_EQ(Str(command.GetText()).find("MSGBUF"), std::string::npos);
    EXPECT_NE(Str(command.GetText()).find("<MSG />"), std::string::npos);
}

TEST_F(AstCommandNodeTest, SectionNodesAreReplacedNotAdded)
{
    AstCommandNode command;
    ASSERT_EQ(command.SetMessageNode(AtrNode::Create(nullptr, "MSGBUF")), 1) << "creates VELDRA and MSG";
    ASSERT_EQ(command.SetMessageNode(AtrNode::Create(nullptr, "SECOND")), 1);
    const AtrNode* msg = command.GetRootNode()->GetChild("MSG");
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->GetChildSize(), 1);
    EXPECT_EQ(Str(command.GetMessageNode()->GetElement()), "SECOND");

    AtrNode* settings = AtrNode::Create(nullptr, "root");
    ASSERT_EQ(command.SetCommuNode(settings), 1);
    ASSERT_EQ(command.SetCommuNode(AtrNode::Create(nullptr, "root2")), 1);
    EXPECT_EQ(command.GetRootNode()->GetChild("COMMU")->GetChildSize(), 1);
    EXPECT_EQ(Str(command.GetCommuNode()->GetElement()), "root2");
}

TEST_F(AstCommandNodeTest, SettingsNodeAccessors)
{
    AstCommuNode none(nullptr);
    EXPECT_EQ(Str(none.GetMachineName()), "");
    EXPECT_EQ(none.GetPortNo(), 0u);
    none.SetPortNo(7); // nothing to do, nothing to crash

    AtrNode* node = AtrNode::Create(nullptr, "root");
    AstCommuNode commu(node);
    EXPECT_EQ(commu.GetPortNo(), 0u);
    commu.SetMachineName("127.0.0.1");
    commu.SetPortNo(7743);
    commu.SetMorrinDdeName("Morrin");
    commu.SetVeldraDdeName("Veldra");
    commu.SetTessolinDdeName("T1");
    commu.SetTessolinDdeName("T2");
    EXPECT_EQ(node->GetAttributeSize(), 5);
    EXPECT_EQ(Str(commu.GetMachineName()), "127.0.0.1");
    EXPECT_EQ(Str(commu.GetMorrinDdeName()), "Morrin");
    EXPECT_EQ(Str(commu.GetVeldraDdeName()), "Veldra");
    EXPECT_EQ(Str(commu.GetTessolinDdeName()), "T2");

    // A port written as text and read back (as a signed number) is the same port.
    AstCommandNode command;
    ASSERT_EQ(command.Create(), 1);
    ASSERT_EQ(command.SetCommuNode(node), 1);
    AstCommandNode parsed;
    ASSERT_EQ(parsed.CreateFromAtrText(command.GetText().GetBuffer()), 1);
    EXPECT_EQ(AstCommuNode(parsed.GetCommuNode()).GetPortNo(), 7743u);
}

// Slots 0, 2 and 3 live (slot 1 freed), with every kind of parameter.
void FillSample(CvkMessageBuffer& buffer)
{
    CvVariant fixed;
    fixed.SetFx32(6144); // 1.5
    ASSERT_EQ(buffer.SetMessage(3, 100, 9, CvVariant(int32_t{-7}), CvVariant(uint32_t{4000000000u}),
                                CvVariant(2.5f), CvVariant("say \"hi\""), fixed),
              1);
    ASSERT_EQ(buffer.SetMessage(1, 101, 9), 1);
    ASSERT_EQ(buffer.SetMessage(8, 1400, 2, CvVariant("path/test.bin")), 1);
    ASSERT_EQ(buffer.SetMessage(9, 1001, 2, CvVariant(int32_t{42})), 1);
    buffer.DisableMessageBlock(&buffer.GetMessageBlock()[1]);
}

void ExpectSameMessage(const CvkMessageBlock& a, const CvkMessageBlock& b)
{
    EXPECT_EQ(a.GetTo(), b.GetTo());
    EXPECT_EQ(a.GetMsg(), b.GetMsg());
    EXPECT_EQ(a.GetFrom(), b.GetFrom());
    const CvVariant* pa[] = {&a.GetParam0(), &a.GetParam1(), &a.GetParam2(), &a.GetParam3(), &a.GetParam4()};
    const CvVariant* pb[] = {&b.GetParam0(), &b.GetParam1(), &b.GetParam2(), &b.GetParam3(), &b.GetParam4()};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(pa[i]->GetType(), pb[i]->GetType()) << "param " << i;
        EXPECT_STREQ(pa[i]->GetString(), pb[i]->GetString()) << "param " << i;
    }
}

TEST_F(AstCommandNodeTest, MessageBufferRoundTripsThroughTreeAndText)
{
    CvkMessageBuffer source(4);
    FillSample(source);
    const CvkMessageBufferNode converter;
    AtrNode* tree = converter.WriteToNode(&source);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(converter.GetMessageBlockNum(tree), 3);
    EXPECT_EQ(tree->GetChild(0)->GetChildSize("VAR"), 5);

    // Straight from the tree, and through the attribute text a command carries.
    AtrParser parser;
    const CvString text = parser.WriteTree(tree);
    AtrParser reader;
    AtrNode* parsed = reader.CreateTreeFromText(text.GetBuffer());
    ASSERT_NE(parsed, nullptr) << Str(text);
    for (AtrNode* from : {tree, parsed}) {
        CvkMessageBuffer target(3);
        ASSERT_EQ(converter.ReadFromNode(&target, from), 1);
        CvkMessageBlock* blocks = target.GetMessageBlock();
        const CvkMessageBlock* expected = source.GetMessageBlock();
        ExpectSameMessage(blocks[0], expected[0]);
        ExpectSameMessage(blocks[1], expected[2]); // packed from slot 0 upward
        ExpectSameMessage(blocks[2], expected[3]);
        EXPECT_EQ(blocks[0].GetParam1().GetU32(), 4000000000u);
        EXPECT_EQ(blocks[0].GetParam2().GetF32(), 2.5f);
        EXPECT_STREQ(blocks[0].GetParam3().GetString(), "say \"hi\"");
        EXPECT_EQ(blocks[0].GetParam4().GetFx32(), 6144);
    }
    AtrNode::Destroy(tree);
    AtrNodeDestroyChain(parsed);
    EXPECT_EQ(converter.WriteToNode(nullptr), nullptr);
}

TEST_F(AstCommandNodeTest, ReadingRefusesBadTreesAndStopsAtTheFirstBadBlock)
{
    const char* const var = "<VAR Type = 0, Val = 1 />";
    auto block = [&](int vars) {
        std::string s = "<MSGBLK To = 3, Msg = 1, From = 9>";
        for (int i = 0; i < vars; ++i) s += var;
        return s + "</MSGBLK>";
    };
    struct Case {
        std::string text;
        int32_t result;
        int32_t stored;
    } cases[] = {
        {"<MSGBUF />", 1, 0},
        {"<msgbuf>" + block(5) + "</msgbuf>", 0, 0},                 // the name is case-sensitive
        {"<MSGBUF>" + block(4) + "</MSGBUF>", 0, 0},                 // four parameters are too few
        {"<MSGBUF>" + block(6) + "</MSGBUF>", 1, 1},                 // a sixth is ignored
        {"<MSGBUF>" + block(5) + block(4) + block(5) + "</MSGBUF>", 0, 1}, // stops at the bad one
        {"<MSGBUF>" + block(5) + "<OTHER />" + block(5) + "</MSGBUF>", 1, 2},
        {"<MSGBUF>" + block(5) + block(5) + block(5) + "</MSGBUF>", 0, 2}, // the buffer is full
        {"<MSGBUF><MSGBLK><VAR Type = 77 />" + std::string(var) + var + var + var + "</MSGBLK></MSGBUF>", 0, 0},
    };
    const CvkMessageBufferNode converter;
    for (const Case& c : cases) {
        AtrParser parser;
        AtrNode* tree = parser.CreateTreeFromText(c.text.c_str());
        ASSERT_NE(tree, nullptr) << c.text;
        CvkMessageBuffer buffer(2);
        EXPECT_EQ(converter.ReadFromNode(&buffer, tree), c.result) << c.text;
        int32_t stored = 0;
        for (int32_t i = 0; i < buffer.GetMessageBlockNum(); ++i) stored += buffer.GetMessageBlock()[i].GetUse();
        EXPECT_EQ(stored, c.stored) << c.text;
        AtrNodeDestroyChain(tree);
    }
    EXPECT_EQ(converter.GetMessageBlockNum(nullptr), 0);
}

TEST_F(AstCommandNodeTest, FailedCreationLeavesTheObjectEmpty)
{
    AstCommandNode command;
    for (int after = 0; after < 40; ++after) {
        systemHeap.refuseAfter = after;
        const int32_t ok = command.Create();
        systemHeap.refuseAfter = -1;
        if (ok) {
            EXPECT_NE(command.GetCommuNode(), nullptr);
            EXPECT_NE(command.GetMessageNode(), nullptr);
            return;
        }
        EXPECT_EQ(command.GetRootNode(), nullptr) << "refused after " << after;
    }
    FAIL() << "Create never succeeded";
}

} // namespace
