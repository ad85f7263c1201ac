#pragma once
// Starting programs from a command line, without a shell.

#include <string>
#include <sys/types.h>
#include <vector>

// Splits a command line into arguments as a POSIX shell would for plain
// words: blanks separate, '...' keeps everything literally, "..." keeps
// everything but \" \\ \$ \` (escaped), and \ outside quotes escapes the
// next character. Nothing is expanded. False on an unterminated quote or a
// trailing backslash.
bool PlatformSplitCommandLine(const char* line, std::vector<std::string>* arguments);

// Starts the program named by the first argument (searched in PATH when it
// holds no '/') with the rest as its arguments. Returns its process id, or
// -1 when the line is empty or malformed or the program cannot be started.
pid_t PlatformSpawn(const char* commandLine);

// True while the child has not ended (it is reaped once it has).
bool PlatformChildRunning(pid_t pid);
