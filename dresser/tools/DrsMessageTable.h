#pragma once
// Reads the UTF-8 message table of the script compiler's log
// (defs/DrsMessages.txt): lines "<code>\t<message>", '#' comments and blank
// lines ignored. Shared by the generator of the message file and its test.

#include "dresser/DrsErrorInfo.h"

#include <fstream>
#include <string>
#include <vector>

// The messages indexed by code (UTF-8), or an empty vector with `error` set
// when a code is missing, repeated, out of range or a line is malformed.
inline std::vector<std::string> DrsReadMessageTable(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return {};
    }
    std::vector<std::string> messages(DRS_LOG_CODE_NUM);
    std::vector<bool> seen(DRS_LOG_CODE_NUM, false);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const size_t tab = line.find('\t');
        int code = -1;
        try {
            code = tab == std::string::npos ? -1 : std::stoi(line.substr(0, tab));
        } catch (...) {
            code = -1;
        }
        if (code < 0 || code >= DRS_LOG_CODE_NUM || seen[static_cast<size_t>(code)]) {
            error = path + ":" + std::to_string(number) + ": bad or repeated code";
            return {};
        }
        seen[static_cast<size_t>(code)] = true;
        messages[static_cast<size_t>(code)] = line.substr(tab + 1);
    }
    for (int code = 0; code < DRS_LOG_CODE_NUM; ++code) {
        if (!seen[static_cast<size_t>(code)]) {
            error = path + ": no message for code " + std::to_string(code);
            return {};
        }
    }
    return messages;
}
