#include "kit/CvkEnv.h"

#include "kit/CvkFileServer.h"
#include "kit/CvkHeap.h"
#include "kit/CvkVeldra.h"
#include "platform/PlatformCodePage.h"

#include <string>

namespace {

CvkEnv* g_currentEnv = nullptr;

} // namespace

CvkEnv* CvkEnvGet() { return g_currentEnv; }
void CvkEnvSet(CvkEnv* environment) { g_currentEnv = environment; }

CvkEnv::CvkEnv() : m_heap(CvkHeapGetMain()), m_fileServer(nullptr), m_veldra(nullptr), m_errCallback(nullptr)
{
    SetTag(0x42415345); // "BASE"
    m_fileServer = new CvkFileServer();
}

CvkEnv::~CvkEnv()
{
    delete m_fileServer;
    if (g_currentEnv == this) {
        g_currentEnv = nullptr;
    }
}

void CvkEnv::ServerPre()
{
    if (m_veldra != nullptr) {
        m_veldra->ServerPre();
    }
}

void CvkEnv::ServerExec()
{
    if (m_veldra != nullptr) {
        m_veldra->ServerExec();
    }
    if (m_fileServer != nullptr) {
        m_fileServer->ServerExec();
    }
}

void CvkEnv::ServerDraw()
{
    if (m_veldra != nullptr) {
        m_veldra->ServerDraw();
    }
}

void CvkEnv::ServerPost()
{
    if (m_veldra != nullptr) {
        m_veldra->ServerPost();
    }
}

void CvkEnv::_setErrorMessage(int32_t code, const char* text1, const char* text2, const char* text3,
                              const char* text4)
{
    if (m_errCallback == nullptr) {
        return;
    }
    const char* utf8 = nullptr;
    switch (code) {
    case 1:
        utf8 = "存在しない {Param1} 番のGlimmetが呼び出されました。";
        break;
    case 2:
        utf8 = "存在しない {Param1} 番のモーメンタムが呼び出されました。";
        break;
    case 3:
        utf8 = "存在しない {Param1} 番のエッセンスが呼び出されました。";
        break;
    default:
        return;
    }
    const std::string sjis = PlatformUtf8ToCp932(utf8);
    CvString message(sjis.c_str());
    const char* texts[4] = {text1, text2, text3, text4};
    const char* names[4] = {"{Param1}", "{Param2}", "{Param3}", "{Param4}"};
    for (int i = 0; i < 4; ++i) {
        if (texts[i] != nullptr) {
            message.Permute(names[i], texts[i]);
        }
    }
    m_errCallback(code, message);
}
