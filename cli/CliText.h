#pragma once
#include <string>
#include <string_view>

// The kit's texts are Shift_JIS; the terminal speaks UTF-8. These convert
// for display and for arguments typed at the terminal.
std::string CliToTerminal(std::string_view sjis);
std::string CliFromTerminal(std::string_view utf8);
