// Writes the message file of the script compiler's log:
//     DrsStringDefGen MESSAGES.txt OUTPUT.bin
// The UTF-8 table becomes Shift_JIS texts under a node "DRS_ERROR_INFO"
// (one "STRING" data value per code, in code order) and is written as a
// converter image.
#include "attribute/AtrNode.h"
#include "attribute/AtrUtil.h"
#include "dresser/tools/DrsMessageTable.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"
#include "platform/PlatformCodePage.h"

#include <cstdio>

static int Generate(const char* tablePath, const char* outputPath)
{
    std::string error;
    const std::vector<std::string> messages = DrsReadMessageTable(tablePath, error);
    if (messages.empty()) {
        std::fprintf(stderr, "DrsStringDefGen: %s\n", error.c_str());
        return 1;
    }
    AtrNode* root = AtrNode::Create(nullptr, "DresserStringDef");
    AtrNode* info = root != nullptr ? root->AddChild(DRS_MESSAGE_NODE_NAME) : nullptr;
    bool built = info != nullptr;
    for (size_t code = 0; built && code < messages.size(); ++code) {
        built = info->AddData(PlatformUtf8ToCp932(messages[code]).c_str()) != nullptr;
    }
    const bool written = built && AtrUtilOutputBinary(root, outputPath) == 1;
    AtrNode::Destroy(root);
    if (!written) {
        std::fprintf(stderr, "DrsStringDefGen: cannot write %s\n", outputPath);
        return 1;
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: DrsStringDefGen MESSAGES.txt OUTPUT.bin\n");
        return 2;
    }
    static CvkHeapSimple heap(nullptr, 0, 16);
    CvkHeapSetSystem(&heap);
    CvkInitCorvantaSystem();
    CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
    const int result = Generate(argv[1], argv[2]);
    CvkExitCorvantaSystem();
    CvkHeapSetSystem(nullptr);
    return result;
}
