#pragma once
// A readable listing of a compiled script image: the header, the module
// table with names, the constants with the kinds the code uses them as, the
// strings, the global initializers and the code, one instruction per line
// with its word position and decoded operands (targets as positions, calls
// with module names).

#include "dresser/DrsScriptView.h"
#include "platform/PlatformExport.h"

#include <string>

LUMIVOR_EXPORT std::string DrsDumpScript(const DrsScriptView& view);
