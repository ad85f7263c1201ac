#pragma once
// Fixture of the script compiler tests: counting heaps in the three slots,
// the kit started with the current-directory file protocol, and a fresh log
// whose message texts are "E<code>" so that log lines are easy to read.

#include "attribute/AtrNode.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsLexer.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkSystem.h"
#include "kit/tests/CountingTestHeap.h"

#include <cstdio>
#include <string>

// A message tree like the message file's: "DRS_ERROR_INFO" with one text per code.
inline AtrNode* TestMessageTree()
{
    AtrNode* root = AtrNode::Create(nullptr, "DresserStringDef");
    AtrNode* info = root->AddChild(DRS_MESSAGE_NODE_NAME);
    for (int code = 0; code < DRS_LOG_CODE_NUM; ++code) {
        info->AddData(("E" + std::to_string(code)).c_str());
    }
    return root;
}

class DresserTest : public KitHeapTest {
protected:
    void SetUp() override
    {
        KitHeapTest::SetUp();
        ASSERT_EQ(CvkInitCorvantaSystem(), 1);
        CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
        DrsInitErrorInfo(nullptr);
        DrsGetErrorInfo()->SetMessageTree(TestMessageTree());
    }
    void TearDown() override
    {
        DrsExitErrorInfo();
        CvkExitCorvantaSystem();
        KitHeapTest::TearDown();
    }

    static std::string Log()
    {
        CvString* log = DrsGetErrorLog();
        return log != nullptr && log->GetLength() > 0 ? std::string(log->GetBuffer()) : std::string();
    }
};

// One token as "code", "code:text", "code=value" or "code=value:text".
inline std::string DescribeToken(const DrsToken* t)
{
    std::string s = std::to_string(t->GetCode());
    const bool real = t->GetCode() == DRS_TOKEN_FLOAT;
    const bool valued = t->CheckTokenFlag(DRS_TOKEN_FLAG_INTEGER | DRS_TOKEN_FLAG_REAL) != 0 ||
                        t->GetCode() == DRS_TOKEN_INST_CALL || t->GetCode() == DRS_TOKEN_MODULE_NAME;
    if (real) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "=%g", static_cast<double>(t->GetParamF32()));
        s += buffer;
    } else if (valued) {
        s += "=" + std::to_string(t->GetParamS32());
    }
    if (t->GetString() != nullptr) {
        s += ":" + std::string(t->GetString());
    }
    return s;
}

// The lexer's chain, tokens separated by spaces.
inline std::string DescribeChain(const DrsLexer& lexer)
{
    std::string s;
    for (const DrsToken* t = lexer.GetFirstToken(); t != nullptr; t = t->GetNext()) {
        s += (s.empty() ? "" : " ") + DescribeToken(t);
    }
    return s;
}
