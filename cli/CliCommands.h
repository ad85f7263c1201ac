#pragma once
// Entry points of the lumivor subcommands. Each returns the process exit code;
// argv[0] is the subcommand's own name.

int CliKitMain(int argc, char** argv);      // kit: exercises the runtime kit
int CliAttributeMain(int argc, char** argv); // atr: attribute trees as text and binary images
int CliBundleMain(int argc, char** argv);   // bundle: attribute documents to an image
int CliScriptMain(int argc, char** argv);   // script: Dresser scripts to word code
int CliAudioMain(int argc, char** argv);    // audio: WAV to ZAF
int CliReduceMain(int argc, char** argv);   // reduce: colour reduction of PNG images
int CliQrMain(int argc, char** argv);       // qr: text to a QR symbol bitmap
int CliBuildMain(int argc, char** argv);    // build: a whole project through ninja
int CliLinkMain(int argc, char** argv);     // link: commands over the tool links
