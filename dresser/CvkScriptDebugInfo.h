#pragma once
// The debug record a host hands to a script compile. When debug output is
// enabled the compiler copies it into the image's "DDBG" chunk: the name
// (at most 47 bytes are kept), the source path and the position entries,
// whose values belong to the host and are copied as given.

#include <cstdint>

constexpr uint32_t CVK_SCRIPT_DEBUG_NAME_SIZE = 48;
constexpr uint32_t CVK_SCRIPT_DEBUG_PATH_SIZE = 260;

// One position entry; entries form a singly linked chain.
struct CvkScriptDebugPos {
    uint32_t value;
    CvkScriptDebugPos* next;
};

struct CvkScriptDebugInfo {
    char name[CVK_SCRIPT_DEBUG_NAME_SIZE];
    char path[CVK_SCRIPT_DEBUG_PATH_SIZE];
    CvkScriptDebugPos* positions; // null: none
};
