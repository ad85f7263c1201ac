// lumivor: the command-line front end of the tool chain.
#include "LumivorVersion.h"
#include "cli/CliCommands.h"
#include "cli/CliDispatch.h"

#include <cstdio>
#include <cstring>

namespace {

const CliCommand kSubcommands[] = {
    {"kit", "exercise the runtime kit and print what it did", CliKitMain},
    {"atr", "convert attribute trees between text and binary images, renew one from another", CliAttributeMain},
    {"bundle", "compile an instance and a template text into a binary image", CliBundleMain},
    {"script", "compile Dresser scripts into word code, list compiled scripts", CliScriptMain},
    {"audio", "encode a WAV file into ZAF", CliAudioMain},
    {"reduce", "reduce true-colour PNG images to palettes or 16-bit pixels", CliReduceMain},
    {"qr", "render a text as a QR Code bitmap", CliQrMain},
    {"build", "build a whole project from its manifest with ninja, only what changed", CliBuildMain},
    {"link", "exchange commands and files with a tool over its links", CliLinkMain},
    {nullptr, nullptr, nullptr},
};

const CliCommandTable kLumivor = {
    .prefix = "lumivor",
    .noun = "command",
    .usage = "usage: lumivor <command> [options]\n       lumivor --version\n",
    .footer = "'lumivor <command> --help' or 'lumivor help <command>' describes a command's options.",
    .commands = kSubcommands,
    .nameWidth = 8,
};

// lumivor help [COMMAND]: the overview, or COMMAND --help.
int Help(int argc, char** argv)
{
    if (argc < 3) {
        CliCommandUsage(kLumivor, stdout);
        return 0;
    }
    const CliCommand* s = CliFindCommand(kLumivor, argv[2]);
    if (s == nullptr) return 2;
    char help[] = "--help";
    char* args[] = {argv[2], help, nullptr};
    return s->main(2, args);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("lumivor %s\n", LUMIVOR_VERSION);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "help") == 0) return Help(argc, argv);
    return CliRunCommand(kLumivor, argc, argv);
}
