// lumivor: the command-line front end of the tool chain.
#include "cli/CliCommands.h"
#include "LumivorVersion.h"

#include <cstdio>
#include <cstring>

namespace {

struct Subcommand {
    const char* name;
    const char* summary;
    int (*main)(int, char**);
};

const Subcommand kSubcommands[] = {
#ifdef LUMIVOR_HAVE_KIT
    {"kit", "exercise the runtime kit and print what it did", CliKitMain},
#endif
#ifdef LUMIVOR_HAVE_ATTRIBUTE
    {"atr", "convert attribute trees between text and binary images, renew one from another", CliAttributeMain},
#endif
#ifdef LUMIVOR_HAVE_BUNDLE
    {"bundle", "compile an instance and a template text into a binary image", CliBundleMain},
#endif
#ifdef LUMIVOR_HAVE_DRESSER
    {"script", "compile Dresser scripts into word code, list compiled scripts", CliScriptMain},
#endif
#ifdef LUMIVOR_HAVE_AUDIO
    {"audio", "encode a WAV file into ZAF", CliAudioMain},
#endif
#ifdef LUMIVOR_HAVE_REDUCE
    {"reduce", "reduce true-colour PNG images to palettes or 16-bit pixels", CliReduceMain},
#endif
#ifdef LUMIVOR_HAVE_QR
    {"qr", "render a text as a QR Code bitmap", CliQrMain},
#endif
#ifdef LUMIVOR_HAVE_BUILD
    {"build", "build a whole project from its manifest with ninja, only what changed", CliBuildMain},
#endif
#ifdef LUMIVOR_HAVE_COMMU
    {"link", "exchange commands and files with a tool over its links", CliLinkMain},
#endif
    {nullptr, nullptr, nullptr},
};

void Usage(FILE* out)
{
    std::fprintf(out, "usage: lumivor <command> [options]\n       lumivor --version\n\ncommands:\n");
    for (const Subcommand* s = kSubcommands; s->name; ++s)
        std::fprintf(out, "  %-8s %s\n", s->name, s->summary);
    std::fprintf(out, "\n'lumivor <command> --help' or 'lumivor help <command>' describes a command's options.\n");
}

const Subcommand* Find(const char* name)
{
    for (const Subcommand* s = kSubcommands; s->name; ++s)
        if (std::strcmp(name, s->name) == 0) return s;
    std::fprintf(stderr, "lumivor: unknown command '%s'\n", name);
    Usage(stderr);
    return nullptr;
}

// lumivor help [COMMAND]: the overview, or COMMAND --help.
int Help(int argc, char** argv)
{
    if (argc < 3) {
        Usage(stdout);
        return 0;
    }
    const Subcommand* s = Find(argv[2]);
    if (s == nullptr) return 2;
    char help[] = "--help";
    char* args[] = {argv[2], help, nullptr};
    return s->main(2, args);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        Usage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("lumivor %s\n", LUMIVOR_VERSION);
        return 0;
    }
    if (std::strcmp(argv[1], "help") == 0) return Help(argc, argv);
    const Subcommand* s = Find(argv[1]);
    return s != nullptr ? s->main(argc - 1, argv + 1) : 2;
}
