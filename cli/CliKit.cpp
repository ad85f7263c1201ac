#include "cli/CliKit.h"

#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkSystem.h"

#include <fcntl.h>
#include <unistd.h>

CliKitHeap::CliKitHeap()
{
    CvkHeapSetSystem(&m_heap);
    CvkHeapSetMain(&m_heap);
    CvkHeapSetBuffer(&m_heap);
}

void CliKitHeap::End()
{
    if (m_ended) return;
    m_ended = true;
    CvkHeapSetSystem(nullptr);
    CvkHeapSetMain(nullptr);
    CvkHeapSetBuffer(nullptr);
}

CliKitSystem::CliKitSystem(bool currentDirectoryFiles)
{
    m_ready = CvkInitCorvantaSystem() != 0;
    if (m_ready && currentDirectoryFiles)
        CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
}

void CliKitSystem::End()
{
    if (m_ended) return;
    m_ended = true;
    CvkExitCorvantaSystem();
}

CliKitLog::CliKitLog(std::string* collected) : CliKitLog(_collect, collected) {}

CliKitLog::CliKitLog(CvkLogSink sink, void* context)
{
    std::fflush(stdout);
    m_savedStdout = dup(1);
    const int devnull = open("/dev/null", O_WRONLY);
    if (m_savedStdout >= 0 && devnull >= 0) dup2(devnull, 1);
    if (devnull >= 0) close(devnull);
    m_previousSink = CvkLogSetSink(sink, context);
}

void CliKitLog::_collect(const char* text, void* context) { static_cast<std::string*>(context)->append(text); }

FILE* CliKitLog::Out()
{
    if (m_out == nullptr && m_savedStdout >= 0) m_out = fdopen(dup(m_savedStdout), "w");
    return m_out != nullptr ? m_out : stdout;
}

void CliKitLog::End()
{
    if (m_ended) return;
    m_ended = true;
    CvkLogSetSink(m_previousSink, nullptr);
    if (m_out != nullptr) std::fclose(m_out);
    std::fflush(stdout);
    if (m_savedStdout >= 0) {
        dup2(m_savedStdout, 1);
        close(m_savedStdout);
    }
}
