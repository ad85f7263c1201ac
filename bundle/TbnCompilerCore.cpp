#include "bundle/TbnCompilerCore.h"

#include "attribute/AtrCompiler.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "kit/CvString.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFile.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkLog.h"
#include "kit/CvkRandom.h"
#include "kit/CvkSystem.h"
#include "kit/CvkTimer.h"
#include "platform/PlatformCodePage.h"

#include <cstring>
#include <new>
#include <string>

namespace {

const char kEntryName[] = "TbnCompilerOutput";

// Log texts, readable here and turned into Shift_JIS once.
enum Text { T_ARGUMENT, T_INSTANCE, T_TEMPLATE, T_BINARY, T_WRITE, T_COUNT };
const char* const kTextsUtf8[T_COUNT] = {
    "いずれかの引数がnullもしくは空文字です。",
    "アトレインスタンスが作成できませんでした。テキストの解析に失敗しました。\n\n",
    "アトレテンプレートが作成できませんでした。テキストの解析に失敗しました。\n\n",
    "アトレバイナリが作成できませんでした。\n\n",
    "アトレバイナリがファイル出力できませんでした。\n\n",
};

const char* Sjis(Text t)
{
    static const std::string* texts = [] {
        static std::string converted[T_COUNT];
        for (int i = 0; i < T_COUNT; ++i) converted[i] = PlatformUtf8ToCp932(kTextsUtf8[i]);
        return converted;
    }();
    return texts[t].c_str();
}

const char* Str(const CvString& s)
{
    return s.GetBuffer() != nullptr ? s.GetBuffer() : "";
}

// The call's heap lives in static storage; only the object is constructed
// and destroyed per call.
alignas(CvkHeapSimple) unsigned char g_heapStorage[sizeof(CvkHeapSimple)];
CvkHeapSimple* g_heap = nullptr;

} // namespace

uint8_t TbnCompileTexts(const char* outputPath, const char* instanceText, const char* templateText, uint32_t code,
                        void (*textsRead)(void* context), void* context)
{
    if (outputPath == nullptr || *outputPath == '\0' || instanceText == nullptr || *instanceText == '\0' ||
        templateText == nullptr || *templateText == '\0') {
        CvkLogPrint("[Error]%s\n\n%s", kEntryName, Sjis(T_ARGUMENT));
        return 0;
    }

    g_heap = new (g_heapStorage) CvkHeapSimple(nullptr, 0, 32);
    CvkHeapSetSystem(g_heap);
    CvkInitCorvantaSystem();
    CvkInitTimer();
    CvkSetRandomSeed(uint32_t(CvkGetTimer()));
    if (CvkEnv* env = CvkEnvGet())
        if (CvkFileServer* server = env->GetFileServer())
            server->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);

    uint8_t written = 0;
    {
        AtrParser* instanceParser = new AtrParser();
        AtrParser* templateParser = new AtrParser();
        AtrNode* instance = instanceParser->CreateTreeFromText(instanceText, nullptr);
        AtrNode* templ = templateParser->CreateTreeFromText(templateText, nullptr);
        // The trees hold copies of everything they need from the texts.
        if (textsRead != nullptr) textsRead(context);
        AtrCompiler* compiler = new AtrCompiler();
        CvkFile* file = new CvkFile(outputPath);

        CvString text;
        if (instance == nullptr) {
            text = Sjis(T_INSTANCE);
            text += instanceParser->GetErrorLog();
        } else if (templ == nullptr) {
            text = Sjis(T_TEMPLATE);
            text += templateParser->GetErrorLog();
        } else if (!compiler->CreateBinary(instance, templ, 0, 32)) {
            text = Sjis(T_BINARY);
            text += compiler->GetErrorLog();
        } else {
            // The file begins with the code's bytes, most significant first.
            uint8_t* image = static_cast<uint8_t*>(compiler->GetDataChunk());
            const uint8_t tag[4] = {uint8_t(code >> 24), uint8_t(code >> 16), uint8_t(code >> 8), uint8_t(code)};
            std::memcpy(image, tag, 4);
            if (file->WriteFile(image, compiler->GetDataSize())) {
                written = 1;
            } else {
                text = Sjis(T_WRITE);
                text += outputPath;
            }
        }
        if (text.GetLength() > 0) CvkLogPrint("[Error]%s\n\n%s", kEntryName, Str(text));

        AtrNodeDestroyChain(instance);
        AtrNodeDestroyChain(templ);
        delete file;
        delete compiler;
        delete templateParser;
        delete instanceParser;
    }

    CvkFinishTimer();
    CvkExitCorvantaSystem();
    g_heap->~CvkHeapSimple();
    g_heap = nullptr;
    return written;
}
