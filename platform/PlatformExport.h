#pragma once
// Symbol export and calling-convention markers of the deliverables' C interfaces.

#define LUMIVOR_EXPORT __attribute__((visibility("default")))
// A Windows i386 build would declare the exports __stdcall; there is no such
// convention here, so the marker is empty.
#define LUMIVOR_STDCALL
