#include "cli/CliText.h"

#include "platform/PlatformCodePage.h"

std::string CliToTerminal(std::string_view sjis) { return PlatformCp932ToUtf8(sjis); }
std::string CliFromTerminal(std::string_view utf8) { return PlatformUtf8ToCp932(utf8); }
