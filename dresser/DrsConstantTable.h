#pragma once
// The table of the script language's built-in constants.

#include "platform/PlatformExport.h"

#include <cstdint>

enum : int32_t {
    DRS_BUILTIN_NAME_MAX = 47,
};

struct DrsBuiltinConstant {
    const char* name;
    int32_t value;
};

// Entries of the table, in its order.
LUMIVOR_EXPORT int32_t DrsGetBuiltinConstantCount();
LUMIVOR_EXPORT const DrsBuiltinConstant* DrsGetBuiltinConstant(int32_t index);
// The entry named exactly `name` (length bytes; -1: up to the terminator),
// or null.
LUMIVOR_EXPORT const DrsBuiltinConstant* DrsFindBuiltinConstant(const char* name, int32_t length = -1);
// True when the name starts with "DRS_", "GLM_", "ACS_" or "VG_": such a
// name must be a built-in constant.
LUMIVOR_EXPORT bool DrsHasReservedPrefix(const char* name, int32_t length);
