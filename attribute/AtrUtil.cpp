#include "attribute/AtrUtil.h"

#include "attribute/AtrCompiler.h"
#include "attribute/AtrConverter.h"
#include "attribute/AtrFileUtil.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "kit/CvChunk.h"
#include "kit/CvkCodec.h"
#include "kit/CvkFile.h"
#include "kit/CvkFileNameSjis.h"
#include "platform/PlatformCodePage.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Writes `size` bytes to the (expanded) path; 1 when written whole.
int32_t WriteWhole(const char* path, const void* bytes, uint32_t size)
{
    if (path == nullptr || bytes == nullptr || size == 0) return 0;
    const CvString expanded = AtrUtilExtractEnvName(path);
    CvkFile file(expanded.GetBuffer());
    return file.CheckError() == 0 && file.WriteFile(bytes, size) ? 1 : 0;
}

} // namespace

CvString AtrUtilExtractEnvName(const char* path)
{
    if (path == nullptr) return CvString();
    if (path[0] != '%') return CvString(path);
    const int32_t length = static_cast<int32_t>(std::strlen(path));
    int32_t close = -1;
    for (int32_t i = 1; i < length; i += cvkpath::CharWidth(path, length, i)) {
        if (path[i] == '%') {
            close = i;
            break;
        }
    }
    if (close < 0) return CvString();
    const CvString name(path + 1, path + close);
    const char* value = std::getenv(name.GetBuffer());
    if (value == nullptr) return CvString(path);
    // The environment speaks UTF-8; paths of the kit are Shift_JIS.
    AtrFileUtil names;
    names.SetCurrentDir(PlatformUtf8ToCp932(value).c_str());
    // The rest is relative to the variable's directory, whatever separator
    // leads it.
    const char* rest = path + close + 1;
    if ((rest[0] == '\\' || rest[0] == '/') && rest[1] != '\\' && rest[1] != '/') ++rest;
    return names.MakeFullName(rest);
}

AtrNode* AtrUtilCreateFromText(const char* path, const char* constants, CvString* errorLog)
{
    if (path == nullptr) return nullptr;
    std::unique_ptr<AtrParser> parser(new AtrParser);
    if (parser == nullptr) return nullptr;
    if (constants != nullptr) parser->AddConstantDefinition(constants);
    const CvString expanded = AtrUtilExtractEnvName(path);
    AtrNode* tree = parser->CreateTreeFromFile(expanded.GetBuffer(), nullptr);
    if (tree == nullptr && errorLog != nullptr) *errorLog = parser->GetErrorLog();
    return tree;
}

AtrNode* AtrUtilCreateFromText(const char* path, AtrDefAnalyzer& constants, CvString* errorLog)
{
    if (path == nullptr) return nullptr;
    std::unique_ptr<AtrParser> parser(new AtrParser);
    if (parser == nullptr) return nullptr;
    parser->SetDefAnalyzer(&constants);
    const CvString expanded = AtrUtilExtractEnvName(path);
    AtrNode* tree = parser->CreateTreeFromFile(expanded.GetBuffer(), nullptr);
    if (tree == nullptr && errorLog != nullptr) *errorLog = parser->GetErrorLog();
    return tree;
}

AtrNode* AtrUtilCreateFromTextBuffer(const char* text, const char* constants)
{
    if (text == nullptr) return nullptr;
    std::unique_ptr<AtrParser> parser(new AtrParser);
    if (parser == nullptr) return nullptr;
    if (constants != nullptr) parser->AddConstantDefinition(constants);
    return parser->CreateTreeFromText(text, nullptr);
}

int32_t AtrUtilOutputText(AtrNode* tree, const char* path)
{
    if (tree == nullptr || path == nullptr) return 0;
    std::unique_ptr<AtrParser> parser(new AtrParser);
    if (parser == nullptr) return 0;
    const CvString expanded = AtrUtilExtractEnvName(path);
    return parser->OutputTree(tree, expanded.GetBuffer(), 0);
}

AtrNode* AtrUtilCreateFromBinary(const char* path, uint32_t* size)
{
    if (size != nullptr) *size = 0;
    if (path == nullptr) return nullptr;
    const CvString expanded = AtrUtilExtractEnvName(path);
    std::unique_ptr<AtrConverter> converter(new AtrConverter);
    if (converter == nullptr) return nullptr;
    CvkFile file(expanded.GetBuffer());
    if (file.CheckError() != 0 || !file.ReadFile(nullptr, 0, 0) || file.GetSize() == 0 || file.GetBuffer() == nullptr) {
        return nullptr;
    }
    AtrNode* tree = converter->CreateTree(file.GetBuffer(), file.GetSize());
    if (tree != nullptr && size != nullptr) *size = file.GetSize();
    return tree;
}

uint32_t AtrUtilGetBinaryWorkSize(AtrNode* tree)
{
    std::unique_ptr<AtrConverter> converter(new AtrConverter);
    return converter != nullptr ? converter->GetBinaryWorkSize(tree) : 0;
}

int32_t AtrUtilOutputBinary(AtrNode* tree, const char* path, int32_t scramble, void* work, uint32_t workSize)
{
    if (tree == nullptr || path == nullptr) return 0;
    std::unique_ptr<AtrConverter> converter(new AtrConverter);
    if (converter == nullptr || !converter->CreateBinary(tree, scramble, work, workSize)) return 0;
    return WriteWhole(path, converter->GetBuffer(), converter->GetSize());
}

int32_t AtrUtilOutputStyledBinary(AtrNode* instance, AtrNode* templ, const char* path, const uint32_t* tag,
                                  CvString* errorLog, int32_t scramble)
{
    if (instance == nullptr || templ == nullptr || path == nullptr) return 0;
    std::unique_ptr<AtrCompiler> compiler(new AtrCompiler);
    if (compiler == nullptr) return 0;
    if (!compiler->CreateBinary(instance, templ, scramble, 32)) {
        if (errorLog != nullptr) *errorLog = compiler->GetErrorLog();
        return 0;
    }
    CvChunk* image = static_cast<CvChunk*>(compiler->GetDataChunk());
    if (tag != nullptr) image->SetTag(*tag);
    return WriteWhole(path, image, compiler->GetDataSize());
}

void AtrUtilCodecDecode(void* chunk)
{
    if (chunk != nullptr) cvkCodecDecodeChunk(static_cast<CvChunk*>(chunk), nullptr);
}
