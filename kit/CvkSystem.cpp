#include "kit/CvkSystem.h"

#include "anim/CvkController.h"
#include "kit/CvkArena.h"
#include "kit/CvkEnv.h"
#include "kit/CvkHeap.h"

namespace {

bool g_corvantaStarted = false;
bool g_vmlStarted = false;

} // namespace

int cvkInitVmlSystem()
{
    if (g_vmlStarted) {
        return CvkEnvGet() != nullptr ? 1 : 0;
    }
    CvkHeap* system = CvkHeapGetSystem();
    if (system != nullptr) {
        if (CvkHeapGetMain() == nullptr) {
            CvkHeapSetMain(system);
        }
        if (CvkHeapGetBuffer() == nullptr) {
            CvkHeapSetBuffer(system);
        }
    }
    if (CvkEnvGet() == nullptr) {
        CvkEnvSet(new CvkEnv());
    }
    g_vmlStarted = true;
    return CvkEnvGet() != nullptr ? 1 : 0;
}

void cvkExitVmlSystem()
{
    if (!g_vmlStarted) {
        return;
    }
    delete CvkEnvGet();
    CvkEnvSet(nullptr);
    CvkHeap* system = CvkHeapGetSystem();
    CvkHeap* main = CvkHeapGetMain();
    CvkHeap* buffer = CvkHeapGetBuffer();
    if (system != nullptr) {
        system->LogUseInfo();
    }
    if (main != nullptr && main != system) {
        main->LogUseInfo();
    }
    if (buffer != nullptr && buffer != system) {
        buffer->LogUseInfo();
    }
    CvkHeapSetSystem(nullptr);
    CvkHeapSetMain(nullptr);
    CvkHeapSetBuffer(nullptr);
    g_vmlStarted = false;
}

int CvkInitCorvantaSystem()
{
    if (g_corvantaStarted) {
        return CvkEnvGet() != nullptr ? 1 : 0;
    }
    const int result = cvkInitVmlSystem();
    CvkController_SysBoot();
    g_corvantaStarted = true;
    return result;
}

void CvkExitCorvantaSystem()
{
    CvkArena::Trim(); // documents' idle memory goes back before the heaps do
    if (!g_corvantaStarted) {
        return;
    }
    CvkController_SysEnd();
    cvkExitVmlSystem();
    g_corvantaStarted = false;
}
