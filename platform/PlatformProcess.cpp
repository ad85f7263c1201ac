#include "platform/PlatformProcess.h"

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Reads a "..." word part starting after the opening quote; p is left after
// the closing quote. False when the quote is not closed.
bool ReadDoubleQuoted(const char*& p, std::string& word)
{
    for (; *p != 0 && *p != '"'; ++p) {
        if (*p == '\\' && (p[1] == '"' || p[1] == '\\' || p[1] == '$' || p[1] == '`')) {
            ++p;
        }
        word += *p;
    }
    if (*p != '"') {
        return false;
    }
    ++p;
    return true;
}

bool ReadSingleQuoted(const char*& p, std::string& word)
{
    for (; *p != 0 && *p != '\''; ++p) {
        word += *p;
    }
    if (*p != '\'') {
        return false;
    }
    ++p;
    return true;
}

// The program's path: as given when it holds a '/', else the first match
// in PATH. Empty when no executable file is found. Looked up here rather
// than left to the spawn, which cannot always report a failed start.
std::string FindProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos) {
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::string();
}

} // namespace

bool PlatformSplitCommandLine(const char* line, std::vector<std::string>* arguments)
{
    arguments->clear();
    if (line == nullptr) {
        return false;
    }
    const char* p = line;
    for (;;) {
        while (IsBlank(*p)) {
            ++p;
        }
        if (*p == 0) {
            return true;
        }
        std::string word;
        while (*p != 0 && !IsBlank(*p)) {
            const char c = *p++;
            bool ok = true;
            if (c == '\'') {
                ok = ReadSingleQuoted(p, word);
            } else if (c == '"') {
                ok = ReadDoubleQuoted(p, word);
            } else if (c == '\\') {
                if (*p == 0) {
                    return false;
                }
                word += *p++;
            } else {
                word += c;
            }
            if (!ok) {
                return false;
            }
        }
        arguments->push_back(word);
    }
}

pid_t PlatformSpawn(const char* commandLine)
{
    std::vector<std::string> arguments;
    if (!PlatformSplitCommandLine(commandLine, &arguments) || arguments.empty()) {
        return -1;
    }
    std::vector<char*> argv;
    for (std::string& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const std::string program = FindProgram(arguments[0]);
    pid_t pid = -1;
    if (program.empty() || posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    return pid;
}

bool PlatformChildRunning(pid_t pid)
{
    if (pid <= 0) {
        return false;
    }
    int status = 0;
    pid_t rc;
    do {
        rc = waitpid(pid, &status, WNOHANG);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}
