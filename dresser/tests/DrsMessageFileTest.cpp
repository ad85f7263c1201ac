// The shipped definition directory: the message file holds the message
// table's texts in Shift_JIS, the log reads them, the sample instruction
// table registers.
#include "attribute/AtrData.h"
#include "attribute/AtrUtil.h"
#include "dresser/tests/DresserTestKit.h"
#include "dresser/tools/DrsMessageTable.h"
#include "platform/PlatformCodePage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kDefsDir = std::string(LUMIVOR_BINARY_DIR) + "/share/lumivor/dresser/";
const std::string kTable = std::string(LUMIVOR_SOURCE_DIR) + "/dresser/defs/DrsMessages.txt";

using DrsMessageFileTest = DresserTest;

TEST_F(DrsMessageFileTest, ShippedFileHoldsTheTable)
{
    std::string error;
    const std::vector<std::string> messages = DrsReadMessageTable(kTable, error);
    ASSERT_EQ(messages.size(), static_cast<size_t>(DRS_LOG_CODE_NUM)) << error;
    AtrNode* tree = AtrUtilCreateFromBinary((kDefsDir + DRS_MESSAGE_FILE_NAME).c_str());
    ASSERT_NE(tree, nullptr);
    AtrNode* info = tree->GetChild(DRS_MESSAGE_NODE_NAME);
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->GetDataSize(), DRS_LOG_CODE_NUM);
    for (int code = 0; code < DRS_LOG_CODE_NUM; ++code) {
        AtrData* data = info->GetData(code);
        EXPECT_EQ(data->GetType(), CVK_VARIANT_TYPE_STRING);
        EXPECT_EQ(std::string(data->GetString()), PlatformUtf8ToCp932(messages[static_cast<size_t>(code)])) << code;
        EXPECT_EQ(PlatformCp932ToUtf8(data->GetString()), messages[static_cast<size_t>(code)]) << "no character lost";
    }
    AtrNode::Destroy(tree);
}

TEST_F(DrsMessageFileTest, LogReadsTheShippedTexts)
{
    DrsInitErrorInfo(kDefsDir.c_str());
    ASSERT_EQ(DrsGetErrorInfo()->CheckError(), 0u);
    auto* lexer = new DrsLexer;
    lexer->CreateToken("module m(){\nx += y;\nz = \"open\n}\n", nullptr);
    delete lexer;
    EXPECT_EQ(PlatformCp932ToUtf8(Log()),
              "0002 ここでは使えない演算子です (複合代入はありません)\n"
              "---- 文字列が閉じられていません (\" の前に改行かテキストの終わりがあります)\n"
              "0003 構文エラー: ここでは使えない文字・トークン・ディレクティブです\n");
    DrsSetErrorInfo(DRS_LOG_UNDEFINED_VARIABLE, 4, "speed");
    DrsSetErrorInfo(DRS_LOG_INCLUDE, 0, "keys.drs");
    EXPECT_NE(PlatformCp932ToUtf8(Log()).find("0004 speed : 定義されていない変数です\n---- keys.drs を取り込みました\n"),
              std::string::npos);
}

TEST_F(DrsMessageFileTest, SampleInstructionTableRegisters)
{
    AtrNode* tree = AtrUtilCreateFromText((kDefsDir + "DresserInstruction.def").c_str());
    ASSERT_NE(tree, nullptr);
    auto* lexer = new DrsLexer;
    EXPECT_EQ(lexer->RegistInstruction(tree), 1);
    AtrNodeDestroyChain(tree);
    ASSERT_NE(lexer->GetInstructionList("PlaySound"), nullptr);
    EXPECT_EQ(lexer->GetInstructionList("PlaySound")->GetFunctionCode(), 300);
    EXPECT_EQ(lexer->GetInstructionList("Print")->GetArgCount(), 8);
    delete lexer;
}

} // namespace
