#include "bundle/TbnCompiler.h"

#include "bundle/TbnCompilerCore.h"

extern "C" LUMIVOR_EXPORT uint8_t LUMIVOR_STDCALL TbnCompilerOutput(const char* outputPath, const char* instanceText,
                                                                     const char* templateText, uint32_t code)
{
    return TbnCompileTexts(outputPath, instanceText, templateText, code, nullptr, nullptr);
}
