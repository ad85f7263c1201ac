// The project manifest reader over arbitrary text: a manifest either reads
// (and then plans) or fails with a message naming the manifest and a line.
#include "cli/ProjectManifest.h"
#include "cli/ProjectNinja.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/tests/KitHeapSlots.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CvkHeapSimple heap(nullptr, 0, 16);
    KitHeapSlotsSet(&heap);
    const std::string text(reinterpret_cast<const char*>(data), size);
    ProjectManifest manifest;
    std::string error, ninja;
    if (ProjectManifestRead(text.c_str(), "m.atr", &manifest, &error)) {
        // Patterns look in a folder that does not exist, so they match nothing.
        const ProjectPaths paths{"/nonexistent-project", "/nonexistent-project/build"};
        if (!ProjectNinjaWrite(manifest, paths, ProjectTools{"/bin/lumivor", ""}, "m.atr", &ninja, &error) &&
            error.rfind("m.atr:", 0) != 0)
            std::abort();
    } else if (error.rfind("m.atr:", 0) != 0) {
        std::abort();
    }
    CvkHeapSetSystem(nullptr);
    CvkHeapSetMain(nullptr);
    CvkHeapSetBuffer(nullptr);
    return 0;
}
