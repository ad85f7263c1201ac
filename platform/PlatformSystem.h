#pragma once
// Small system queries: processor count and file existence.

// Number of processors currently online (at least 1).
int PlatformProcessorCount();

// True when something (file or directory) exists at the path.
bool PlatformPathExists(const char* path);
