#pragma once
// Whole files for the subcommands: read into memory, written at once.
#include <cstddef>
#include <memory>
#include <string>

// A whole file in one buffer, followed by a NUL so that a text can be used in
// place. Aligned as `new` aligns, so binary images can be walked in place.
struct CliFileBytes {
    std::unique_ptr<char[]> data;
    size_t size = 0;
};

// Reads a file into one buffer sized from its length, so that a large file is
// neither copied nor grown on the way (a file that grows meanwhile, or a pipe,
// still reads whole: the buffer then doubles). False when it cannot be opened
// or read.
bool CliReadFile(const std::string& path, CliFileBytes* out);
// The file's bytes as text; false when it cannot be opened or read.
bool CliReadText(const std::string& path, std::string* text);
// Whether the file can be opened for reading.
bool CliReadable(const std::string& path);
// Writes (replaces) the file; false when it cannot be written completely.
bool CliWriteFile(const std::string& path, const void* data, size_t size);
