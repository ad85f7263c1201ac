#pragma once
// DrsScriptView: reads a compiled script image back into its parts, for
// tools (the disassembler of the front end) and tests. Every offset and
// count is checked against the image's size; an image of either byte order
// is accepted (the version word tells them apart) and the parts come back in
// this machine's order.

#include "dresser/DrsScriptImage.h"
#include "platform/PlatformExport.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DrsScriptModuleView {
    uint32_t codePos;
    uint16_t frameSize;
    std::string name;
};

struct DrsScriptVariableView {
    uint16_t size;
    std::string name;
};

struct DrsScriptView {
    bool swapped = false;          // the image is in the other byte order
    DrsScriptHeader header = {};
    std::vector<DrsScriptModuleView> modules;
    std::vector<uint32_t> constants;
    std::vector<std::string> strings;
    std::vector<uint16_t> initializers; // three words per entry
    std::vector<uint16_t> code;
    uint32_t scriptDataSize = 0;
    // The "DDBG" chunk, when present.
    bool hasDebug = false;
    std::string debugName;
    std::string debugPath;
    std::vector<uint32_t> debugPositions;
    std::vector<DrsScriptVariableView> debugGlobals;
    std::vector<std::vector<DrsScriptVariableView>> debugModules;
};

// Fills *view from the image; false with a reason in *error when the image
// is not a well-formed script image.
LUMIVOR_EXPORT bool DrsReadScriptImage(const void* image, size_t size, DrsScriptView* view, std::string* error);
