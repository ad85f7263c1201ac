#include "attribute/AtrParser.h"

#include "attribute/AtrDefAnalyzer.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrTreeBuilder.h"
#include "kit/CvkFile.h"
#include "kit/CvkFileName.h"
#include "platform/PlatformCodePage.h"

#include <cstdio>
#include <string>

namespace {

// Messages: written here in UTF-8, converted once to the Shift_JIS bytes the
// log carries.
struct Messages {
    std::string lineFormat;  // "[%d行目] : %s\n"
    std::string badToken;    // トークンが不正です。
    std::string badEnd;      // 不正な終了。
    std::string closeBefore; // %sが閉じられる前に%sが閉じられています。
    Messages() :
        lineFormat(PlatformUtf8ToCp932("[%d行目] : %s\n")), badToken(PlatformUtf8ToCp932("トークンが不正です。")),
        badEnd(PlatformUtf8ToCp932("不正な終了。")),
        closeBefore(PlatformUtf8ToCp932("%sが閉じられる前に%sが閉じられています。"))
    {}
};

const Messages& Msg()
{
    static const Messages messages;
    return messages;
}

// The close-mismatch message with the open element's and the close tag's
// names filled in.
std::string CloseMismatchMessage(const AtrTextError& error)
{
    const std::string& f = Msg().closeBefore;
    const int n = snprintf(nullptr, 0, f.c_str(), error.open.c_str(), error.close.c_str());
    std::string message(static_cast<size_t>(n > 0 ? n : 0), '\0');
    snprintf(message.data(), message.size() + 1, f.c_str(), error.open.c_str(), error.close.c_str());
    return message;
}

} // namespace

AtrParser::AtrParser() : analyzer(new AtrDefAnalyzer), constants(analyzer), line(1), fileSize(0)
{
    SetTag(0x41545250); // "ATRP"
    if (analyzer == nullptr) {
        SetError();
    }
    Msg();
}

AtrParser::~AtrParser() { delete analyzer; }

void AtrParser::SetDefAnalyzer(AtrDefAnalyzer* lent) { constants = lent != nullptr ? lent : analyzer; }

void AtrParser::_logReadError(const AtrTextError& error)
{
    std::string message;
    switch (error.kind) {
    case AtrTextErrorKind::None:
    case AtrTextErrorKind::Silent: return;
    case AtrTextErrorKind::Memory: SetError(); return;
    case AtrTextErrorKind::BadToken: message = Msg().badToken; break;
    case AtrTextErrorKind::BadEnd: message = Msg().badEnd; break;
    case AtrTextErrorKind::CloseMismatch: message = CloseMismatchMessage(error); break;
    }
    errorLog.AppendFormat(Msg().lineFormat.c_str(), error.line, message.c_str());
    SetError();
}

int32_t AtrParser::AddConstantDefinition(const char* path)
{
    if (constants == nullptr) {
        SetError();
        return 0;
    }
    return constants->AddConstantDefinition(path);
}

AtrNode* AtrParser::CreateTreeFromText(const char* text, AtrNode* root)
{
    line = 1;
    if (text == nullptr) {
        SetError();
        return nullptr;
    }
    AtrTreeBuilder builder(text, constants);
    const bool read = builder.Read(root);
    line = builder.Line();
    _logReadError(builder.Error());
    if (!read || CheckError() != 0) {
        return nullptr;
    }
    return root != nullptr ? root : builder.ReleaseChain();
}

AtrNode* AtrParser::CreateTreeFromFile(const char* path, AtrNode*)
{
    fileSize = 0;
    if (path == nullptr) {
        SetError();
        return nullptr;
    }
    const CvString expanded = CvkFileNameExtractEnvName(path);
    CvkFile file(expanded.GetBuffer());
    if (file.CheckError() != 0 || !file.ReadFile(nullptr, 0, 0) || file.GetSize() == 0 || file.GetBuffer() == nullptr) {
        SetError();
        return nullptr;
    }
    fileSize = file.GetSize();
    return CreateTreeFromText(static_cast<const char*>(file.GetBuffer()), nullptr);
}
