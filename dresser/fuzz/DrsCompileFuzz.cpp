// Compiling arbitrary bytes as a Dresser script: the first byte picks the
// options (fixed point, debug output, warnings, byte order), the rest is the
// text. No crash, no hang, no leak; every image written must read back as a
// well-formed script image whose size is the one announced.
#include "attribute/AtrNode.h"
#include "dresser/CvkScriptDebugInfo.h"
#include "dresser/DrsCompileOption.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsLexer.h"
#include "dresser/DrsParser.h"
#include "dresser/DrsScriptDump.h"
#include "dresser/DrsScriptView.h"
#include "kit/CvkEndian.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"
#include "kit/fuzz/KitFuzzStart.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

AtrNode* Messages()
{
    AtrNode* root = AtrNode::Create(nullptr, "DresserStringDef");
    AtrNode* info = root->AddChild(DRS_MESSAGE_NODE_NAME);
    for (int code = 0; code < DRS_LOG_CODE_NUM; ++code) info->AddData(("E" + std::to_string(code)).c_str());
    return root;
}

AtrNode* Instructions()
{
    AtrNode* root = AtrNode::Create(nullptr, "DresserInstruction");
    AtrNode* group = root->AddChild("Group");
    group->AddAttribute("Base", int32_t(100));
    AtrNode* play = group->AddChild("Play");
    play->AddAttribute("Min", int32_t(1));
    play->AddAttribute("Max", int32_t(2));
    group->AddChild("Stop");
    return root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    KitFuzzStart();
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    CvkEndianSetTarget(flags & 0x80 ? 1 : 0);
    DrsCompileOption option = {0, (flags & 1) ? 12 : 0, uint32_t(flags & 2), uint32_t((flags >> 2) & 1)};
    CvkScriptDebugInfo record = {};
    std::strcpy(record.name, "fuzz");
    // The driver's steps, with an instruction table registered in memory.
    DrsInitErrorInfo(nullptr);
    DrsGetErrorInfo()->SetMessageTree(Messages());
    {
        DrsLexer lexer;
        DrsParser parser;
        AtrNode* table = Instructions();
        lexer.RegistInstruction(table);
        AtrNode::Destroy(table);
        lexer.CreateToken(text.c_str(), &option);
        if (DrsGetErrorCount() == 0 && (parser.Compile(&lexer, &option, option.debug ? &record : nullptr), true) &&
            DrsGetErrorCount() == 0) {
            const uint32_t size = parser.GetChunkSize();
            void* image = parser.OutputChunk(nullptr);
            if (image == nullptr) std::abort();
            DrsScriptView view;
            if (!DrsReadScriptImage(image, size, &view, nullptr)) std::abort();
            if (DrsDumpScript(view).empty()) std::abort();
            CvkHeapGetMain()->Free(image);
        }
    }
    DrsExitErrorInfo();
    CvkEndianSetTarget(0);
    return 0;
}
