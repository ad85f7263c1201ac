#pragma once
// Start-up and shut-down of the kit. The host installs its heaps in the
// slots first (at least the system heap) and destroys them after
// CvkExitCorvantaSystem; repeated calls of either do nothing.

#include "platform/PlatformExport.h"

// cvkInitVmlSystem, then the animation controller system. Returns 1 when
// the kit runs with an environment, 0 when none could be created.
LUMIVOR_EXPORT int CvkInitCorvantaSystem();
// The animation controller system end, then cvkExitVmlSystem.
LUMIVOR_EXPORT void CvkExitCorvantaSystem();

// Empty main and buffer slots take the system heap; the environment (with
// its file server) is created and made current.
LUMIVOR_EXPORT int cvkInitVmlSystem();
// Destroys the environment, logs the use of each distinct heap and empties
// all three slots (the heaps stay alive: they belong to the host).
LUMIVOR_EXPORT void cvkExitVmlSystem();
