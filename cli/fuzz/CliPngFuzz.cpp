// The front end's PNG input over arbitrary bytes: a read either fails with a
// reason or gives a pixel buffer of exactly width x height x channels bytes.
#include "cli/CliPng.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CliImage image;
    std::string error;
    if (CliReadPngMemory(data, size, image, error)) {
        const uint64_t channels = image.alpha ? 4 : 3;
        if (image.pixels.size() != static_cast<uint64_t>(image.width) * image.height * channels)
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
