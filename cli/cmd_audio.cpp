// lumivor audio: the zafencoder program as a subcommand, same options.
#include "cli/CliCommands.h"

#include "audio/ZafDriver.h"

#include <cstdio>

int CliAudioMain(int argc, char** argv)
{
    return ZafEncoderMain(argc, argv, stdout, stderr);
}
