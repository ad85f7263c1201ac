#pragma once
// A front end of several commands ("lumivor", "lumivor link", "lumivor atr"
// with its jobs): a table of commands, the usage that lists them, and the choice of one by the first
// argument.
#include <cstdio>

struct CliCommand {
    const char* name;
    const char* summary;
    int (*main)(int argc, char** argv); // argv[0] is the command's name; null: not built
};

struct CliCommandTable {
    const char* prefix;         // "lumivor link": starts the messages
    const char* noun;           // what a command is called: "command", "job"
    const char* usage;          // the lines before the list of commands
    const char* footer;         // the line after it
    const CliCommand* commands; // ends with a row whose name is null
    int nameWidth;              // the names' column in the list
};

// The usage, the list of the commands that are built, and how to ask for one.
void CliCommandUsage(const CliCommandTable& table, FILE* out);
// The command named `name`; null after "PREFIX: unknown NOUN 'NAME'" and
// the usage on standard error.
const CliCommand* CliFindCommand(const CliCommandTable& table, const char* name);
// Runs the command named by argv[1] with the arguments after it. No name:
// the usage on standard error, exit 2; --help or -h: the usage, exit 0; an
// unknown name: exit 2.
int CliRunCommand(const CliCommandTable& table, int argc, char** argv);
