// Keeps the reference tables of the guide in step with the code:
//     DocTables --check|--update MESSAGES.txt DrsErrorInfo.h PAGE.md
// The page holds regions
//     <!-- generated: NAME -->  ...  <!-- end generated -->
// whose contents this program writes from the code's own tables:
//   builtin-constants  the script language's built-in constants, in table order
//   log-codes          the script compiler's log codes: category, message (from
//                      the message table) and typical cause (the comment beside
//                      the code's name in DrsErrorInfo.h)
// --check exits 1 when a region differs from what the code gives (the test of
// the guide), --update rewrites the regions in place.
#include "dresser/DrsConstantTable.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/tools/DrsMessageTable.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace {

const char kBegin[] = "<!-- generated: ";
const char kEnd[] = "<!-- end generated -->";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string BuiltinConstants()
{
    std::string out = "| name | value |\n|---|---|\n";
    for (int32_t i = 0; i < DrsGetBuiltinConstantCount(); ++i) {
        const DrsBuiltinConstant* entry = DrsGetBuiltinConstant(i);
        out += "| `" + std::string(entry->name) + "` | " + std::to_string(entry->value) + " |\n";
    }
    return out;
}

// Code number to (name, comment) from the enumeration of DrsErrorInfo.h.
std::map<int, std::pair<std::string, std::string>> LogCodeNames(const std::string& header)
{
    static const std::regex line(R"(^\s*(DRS_LOG_[A-Z0-9_]+)\s*=\s*(\d+),\s*(?://\s*(.*))?$)");
    std::map<int, std::pair<std::string, std::string>> names;
    std::istringstream in(header);
    std::string text;
    std::smatch match;
    bool inside = false;
    while (std::getline(in, text)) {
        if (text.rfind("enum DRS_LOG_CODE", 0) == 0) {
            inside = true;
        } else if (inside && text.rfind("};", 0) == 0) {
            break;
        } else if (inside && std::regex_match(text, match, line) && match[1] != "DRS_LOG_CODE_NUM") {
            std::string comment = match[3];
            // The kind column says "warning"; "arg: X" says what NAME is.
            for (const char* prefix : {"warning: ", "warning, "}) {
                if (comment.rfind(prefix, 0) == 0) {
                    comment.erase(0, std::strlen(prefix));
                }
            }
            if (comment.rfind("arg: ", 0) == 0) {
                comment = "NAME: " + comment.substr(5);
            }
            names[std::stoi(match[2])] = {match[1], comment};
        }
    }
    return names;
}

const char* CategoryName(DRS_LOG_CATEGORY category)
{
    switch (category) {
    case DRS_LOG_CATEGORY_ERROR_ARG:
        return "error";
    case DRS_LOG_CATEGORY_WARNING:
        return "warning";
    default:
        return "error";
    }
}

// Markdown table cells must not contain a bare '|'.
std::string Cell(std::string text)
{
    for (size_t at = 0; (at = text.find('|', at)) != std::string::npos; at += 2) {
        text.replace(at, 1, "\\|");
    }
    return text;
}

bool LogCodes(const std::string& messagesPath, const std::string& headerPath, std::string& out)
{
    std::string error;
    const std::vector<std::string> messages = DrsReadMessageTable(messagesPath, error);
    if (messages.empty()) {
        std::fprintf(stderr, "DocTables: %s\n", error.c_str());
        return false;
    }
    const auto names = LogCodeNames(ReadFile(headerPath));
    out = "| code | name | kind | message | when |\n|---|---|---|---|---|\n";
    for (int code = 0; code < DRS_LOG_CODE_NUM; ++code) {
        const auto found = names.find(code);
        if (found == names.end()) {
            std::fprintf(stderr, "DocTables: no name for log code %d in %s\n", code, headerPath.c_str());
            return false;
        }
        const std::string& name = found->second.first;
        if (name.find("_UNUSED_") != std::string::npos) {
            continue;
        }
        // The entry as the log shows it, NAME standing for the argument.
        const DRS_LOG_CATEGORY category = DrsGetLogCategory(code);
        std::string message = messages[static_cast<size_t>(code)];
        if (category == DRS_LOG_CATEGORY_ERROR_ARG) {
            message = "NAME" + message;
        } else if (category == DRS_LOG_CATEGORY_WARNING && found->second.second.rfind("NAME", 0) == 0) {
            message = "NAME " + message;
        }
        out += "| " + std::to_string(code) + " | `" + name + "` | " + CategoryName(category) + " | "
            + Cell(message) + " | " + Cell(found->second.second) + " |\n";
    }
    return true;
}

// Replaces the contents of every generated region; false when a region has
// no end or an unknown name, or a region of the code's is missing.
bool Regenerate(const std::string& page, const std::map<std::string, std::string>& regions, std::string& out)
{
    size_t at = 0;
    size_t seen = 0;
    out.clear();
    for (size_t begin; (begin = page.find(kBegin, at)) != std::string::npos;) {
        const size_t nameEnd = page.find(" -->\n", begin);
        const size_t end = page.find(kEnd, begin);
        if (nameEnd == std::string::npos || end == std::string::npos || end < nameEnd) {
            std::fprintf(stderr, "DocTables: unclosed generated region\n");
            return false;
        }
        const std::string name = page.substr(begin + std::strlen(kBegin), nameEnd - begin - std::strlen(kBegin));
        const auto region = regions.find(name);
        if (region == regions.end()) {
            std::fprintf(stderr, "DocTables: unknown generated region '%s'\n", name.c_str());
            return false;
        }
        out += page.substr(at, nameEnd + 5 - at) + region->second;
        at = end;
        ++seen;
    }
    out += page.substr(at);
    if (seen != regions.size()) {
        std::fprintf(stderr, "DocTables: the page lacks a generated region\n");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5 || (std::strcmp(argv[1], "--check") != 0 && std::strcmp(argv[1], "--update") != 0)) {
        std::fprintf(stderr, "usage: DocTables --check|--update MESSAGES.txt DrsErrorInfo.h PAGE.md\n");
        return 2;
    }
    std::map<std::string, std::string> regions;
    regions["builtin-constants"] = BuiltinConstants();
    if (!LogCodes(argv[2], argv[3], regions["log-codes"])) {
        return 1;
    }
    const std::string page = ReadFile(argv[4]);
    std::string current;
    if (page.empty() || !Regenerate(page, regions, current)) {
        std::fprintf(stderr, "DocTables: cannot read the regions of %s\n", argv[4]);
        return 1;
    }
    if (std::strcmp(argv[1], "--update") == 0) {
        std::ofstream(argv[4], std::ios::binary) << current;
        return 0;
    }
    if (current != page) {
        std::fprintf(stderr, "%s: the generated tables differ from the code's; refresh them with\n"
                             "  DocTables --update %s %s %s\n", argv[4], argv[2], argv[3], argv[4]);
        return 1;
    }
    return 0;
}
