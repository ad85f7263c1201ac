#pragma once
// Make-style dependency files for the compilers' --depfile option: while a
// recorder lives, every file the kit reads is noted; Write then gives
// "OUTPUT: INPUT..." with each name once, made absolute, so that a build
// engine running the command from any folder finds them.
#include <string>
#include <vector>

class CliDepfileRecorder {
public:
    CliDepfileRecorder();    // starts noting the files the kit reads
    ~CliDepfileRecorder();   // stops
    CliDepfileRecorder(const CliDepfileRecorder&) = delete;
    CliDepfileRecorder& operator=(const CliDepfileRecorder&) = delete;

    // Notes a file read outside the kit (the job's own source texts).
    void Add(const std::string& path);
    // Writes the dependency file; false when it cannot be written.
    bool Write(const std::string& depfile, const std::string& output) const;

private:
    static void Note(const char* path, void* context);

    std::vector<std::string> m_files;
};
