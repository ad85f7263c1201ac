#pragma once
// The kit started once for a whole fuzz run: the simple heap in the system
// slot (start-up fills the main and buffer slots with it), the environment,
// and the current-directory file protocol attached.
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"

inline void KitFuzzStart()
{
    static const bool started = [] {
        static CvkHeapSimple heap(nullptr, 0, 16);
        CvkHeapSetSystem(&heap);
        CvkInitCorvantaSystem();
        CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
        return true;
    }();
    (void)started;
}
