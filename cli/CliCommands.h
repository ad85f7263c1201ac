#pragma once
// Entry points of the lumivor subcommands. Each returns the process exit code;
// argv[0] is the subcommand's own name.
//
// They are weak: a subcommand whose source the build leaves out (its folder
// is not built) has a null entry point, and the front end does not offer it.

#define LUMIVOR_SUBCOMMAND __attribute__((weak))

LUMIVOR_SUBCOMMAND int CliKitMain(int argc, char** argv);       // kit: exercises the runtime kit
LUMIVOR_SUBCOMMAND int CliAttributeMain(int argc, char** argv); // atr: attribute trees as text and binary images
LUMIVOR_SUBCOMMAND int CliBundleMain(int argc, char** argv);    // bundle: attribute documents to an image
LUMIVOR_SUBCOMMAND int CliScriptMain(int argc, char** argv);    // script: Dresser scripts to word code
LUMIVOR_SUBCOMMAND int CliAudioMain(int argc, char** argv);     // audio: WAV to ZAF
LUMIVOR_SUBCOMMAND int CliReduceMain(int argc, char** argv);    // reduce: colour reduction of PNG images
LUMIVOR_SUBCOMMAND int CliQrMain(int argc, char** argv);        // qr: text to a QR symbol bitmap
LUMIVOR_SUBCOMMAND int CliBuildMain(int argc, char** argv);     // build: a whole project through ninja
LUMIVOR_SUBCOMMAND int CliLinkMain(int argc, char** argv);      // link: commands over the tool links
