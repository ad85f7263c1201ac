#pragma once
#include <cstdio>

// The zafencoder program: banner, options, one encoding job, closing message.
// Returns the exit code (0 done or usage, 1 failed, 2 stopped). Standard
// output texts go to `out`, errors and progress to `err`.
int ZafEncoderMain(int argc, char** argv, FILE* out, FILE* err);
