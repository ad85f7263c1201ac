// Parse and compile: the input is an instance text and a template text
// separated by the first NUL byte (without one, the whole input serves as
// both). Every successful image must be a well-formed chunk chain.
#include "attribute/AtrCompiler.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "kit/CvChunk.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"
#include "kit/fuzz/KitFuzzStart.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    KitFuzzStart();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string instance = input.substr(0, split);
    const std::string templ = split == std::string::npos ? instance : input.substr(split + 1);

    AtrParser instanceParser;
    AtrParser templateParser;
    AtrNode* a = instanceParser.CreateTreeFromText(instance.c_str(), nullptr);
    AtrNode* b = templateParser.CreateTreeFromText(templ.c_str(), nullptr);
    if (a != nullptr && b != nullptr) {
        AtrCompiler compiler;
        compiler.SetImageLimit(16u << 20);
        if (compiler.CreateBinary(a, b, 0, 32)) {
            if (!CvChunk::CheckImage(compiler.GetDataChunk(), compiler.GetDataSize())) std::abort();
        }
    }
    AtrNodeDestroyChain(a);
    AtrNodeDestroyChain(b);
    return 0;
}
