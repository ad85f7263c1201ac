#include "kit/CvkTimer.h"

#include "platform/PlatformTimer.h"

int CvkInitTimer() { return 1; }

uint64_t CvkGetTimer() { return PlatformMonotonicMicros(); }

void CvkFinishTimer() {}
