#include "cli/CliDispatch.h"

#include <cstring>

void CliCommandUsage(const CliCommandTable& table, FILE* out)
{
    std::fprintf(out, "%s\n%ss:\n", table.usage, table.noun);
    for (const CliCommand* c = table.commands; c->name != nullptr; ++c)
        if (c->main != nullptr) std::fprintf(out, "  %-*s %s\n", table.nameWidth, c->name, c->summary);
    std::fprintf(out, "\n%s\n", table.footer);
}

const CliCommand* CliFindCommand(const CliCommandTable& table, const char* name)
{
    for (const CliCommand* c = table.commands; c->name != nullptr; ++c)
        if (c->main != nullptr && std::strcmp(name, c->name) == 0) return c;
    std::fprintf(stderr, "%s: unknown %s '%s'\n", table.prefix, table.noun, name);
    CliCommandUsage(table, stderr);
    return nullptr;
}

int CliRunCommand(const CliCommandTable& table, int argc, char** argv)
{
    if (argc < 2) {
        CliCommandUsage(table, stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        CliCommandUsage(table, stdout);
        return 0;
    }
    const CliCommand* c = CliFindCommand(table, argv[1]);
    return c != nullptr ? c->main(argc - 1, argv + 1) : 2;
}
