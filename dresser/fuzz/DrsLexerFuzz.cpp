// Tokenizing arbitrary bytes: no crash, no hang, no read outside the text,
// and the chain left behind is well formed. The first byte picks the
// fixed-point shift; no file protocol is attached, so every "#include" and
// "#instdef" reports a missing file.
#include "attribute/AtrNode.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsLexer.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

AtrNode* Messages()
{
    AtrNode* root = AtrNode::Create(nullptr, "DresserStringDef");
    AtrNode* info = root->AddChild(DRS_MESSAGE_NODE_NAME);
    for (int code = 0; code < DRS_LOG_CODE_NUM; ++code) {
        info->AddData("message");
    }
    return root;
}

AtrNode* Instructions()
{
    AtrNode* root = AtrNode::Create(nullptr, "DresserInstruction");
    AtrNode* group = root->AddChild("Basic");
    group->AddAttribute("Start", 10);
    group->AddChild("Print")->AddAttribute("Max", 3);
    group->AddChild("Wait");
    return root;
}

void CheckChain(const DrsLexer& lexer)
{
    const DrsToken* prev = nullptr;
    for (const DrsToken* t = lexer.GetFirstToken(); t != nullptr; t = t->GetNext()) {
        if (t->GetPrev() != prev || t->GetTokenFlag() != DrsTokenFlagsOf(t->GetCode())) {
            std::abort();
        }
        prev = t;
    }
    if (prev != lexer.GetLastToken()) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool started = [] {
        static CvkHeapSimple heap(nullptr, 0, 16);
        CvkHeapSetSystem(&heap);
        return CvkInitCorvantaSystem() != 0;
    }();
    if (!started || size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const DrsCompileOption option{0, data[0] % 20, 0, 0};
    DrsInitErrorInfo(nullptr);
    DrsGetErrorInfo()->SetMessageTree(Messages());
    auto* lexer = new DrsLexer;
    AtrNode* instructions = Instructions();
    lexer->RegistInstruction(instructions);
    AtrNode::Destroy(instructions);
    lexer->CreateToken(text.c_str(), &option);
    CheckChain(*lexer);
    delete lexer;
    DrsExitErrorInfo();
    return 0;
}
