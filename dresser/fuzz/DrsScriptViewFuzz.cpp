// Reading arbitrary bytes as a compiled script image and listing it, as
// `lumivor script --dump` does: no crash, no read outside the bytes.
#include "dresser/DrsScriptDump.h"
#include "dresser/DrsScriptView.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly `size` bytes, so that any over-read is caught.
    std::vector<uint8_t> image(data, data + size);
    DrsScriptView view;
    std::string why;
    if (DrsReadScriptImage(image.data(), image.size(), &view, &why)) DrsDumpScript(view);
    return 0;
}
