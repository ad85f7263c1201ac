#pragma once
// Writing a whole file so that readers never see half of it: the bytes go to
// a temporary file in the same folder, which is renamed over the target once
// complete. Missing parent folders are created.
#include <cstddef>
#include <string>

// True when path now holds exactly the bytes; on failure nothing is left
// behind and *error (when given) says why.
bool PlatformWriteFileReplacing(const char* path, const void* data, size_t size, std::string* error = nullptr);

// Creates the folder and its missing parents; true when it exists afterwards.
bool PlatformCreateDirectories(const char* path);
