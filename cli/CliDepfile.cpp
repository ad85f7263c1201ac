#include "cli/CliDepfile.h"

#include "kit/CvkFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

// A name in a Make rule: blanks, '#' and '\' are escaped with '\', '$' doubled.
std::string MakeName(const std::string& path)
{
    std::string e;
    for (char c : path) {
        if (c == ' ' || c == '\t' || c == '#' || c == '\\') e += '\\';
        if (c == '$') e += '$';
        e += c;
    }
    return e;
}

} // namespace

CliDepfileRecorder::CliDepfileRecorder() { CvkFileSetReadObserver(Note, this); }

CliDepfileRecorder::~CliDepfileRecorder() { CvkFileSetReadObserver(nullptr, nullptr); }

void CliDepfileRecorder::Note(const char* path, void* context)
{
    static_cast<CliDepfileRecorder*>(context)->Add(path);
}

void CliDepfileRecorder::Add(const std::string& path)
{
    std::error_code ec;
    const std::string full = std::filesystem::absolute(path, ec).lexically_normal().string();
    const std::string& name = ec ? path : full;
    if (std::find(m_files.begin(), m_files.end(), name) == m_files.end()) m_files.push_back(name);
}

bool CliDepfileRecorder::Write(const std::string& depfile, const std::string& output) const
{
    std::error_code ec;
    std::string text = MakeName(std::filesystem::absolute(output, ec).lexically_normal().string()) + ":";
    for (const std::string& f : m_files) text += " \\\n  " + MakeName(f);
    text += "\n";
    std::ofstream out(depfile, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out.flush());
}
