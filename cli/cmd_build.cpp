// lumivor build: builds a whole UI project from its manifest (lumivor.atr)
// with Ninja. The manifest becomes <build>/build.ninja (rewritten only when
// its text changes), then ninja runs there; its progress line is what the
// user sees and only what changed is rebuilt.
#include "cli/CliCommands.h"
#include "cli/ProjectManifest.h"
#include "cli/ProjectNinja.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kName = "lumivor build";

void Usage(FILE* out)
{
    std::fprintf(out,
                 "usage: lumivor build [--manifest FILE] [-C DIR] [-j N] [--dry-run]\n"
                 "Builds the project described by its manifest with ninja: bundles, scripts, sounds,\n"
                 "images and QR symbols, rebuilding only what changed.\n"
                 "  -C DIR           the project folder (default: the current folder)\n"
                 "  --manifest FILE  the manifest (default: DIR/lumivor.atr)\n"
                 "  -j N             run N jobs at once (default: ninja's choice)\n"
                 "  --dry-run        show what would run, run nothing\n"
                 "build.ninja is written into the build folder (<Project build = \"...\">, default\n"
                 "DIR/build); outputs go to its out/ folder.\n"
                 "Exit status: ninja's (0 when everything is built), 1 for a bad manifest, 2 for bad\n"
                 "arguments.\n");
}

struct Options {
    std::string project = ".";
    std::string manifest;
    std::string jobs;
    bool dryRun = false;
};

// 0 to go on, -1 after --help, else 2.
int ParseArguments(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            Usage(stdout);
            return -1;
        } else if (std::strcmp(a, "-C") == 0 && hasValue) {
            o->project = argv[++i];
        } else if (std::strcmp(a, "--manifest") == 0 && hasValue) {
            o->manifest = argv[++i];
        } else if (std::strcmp(a, "-j") == 0 && hasValue) {
            o->jobs = argv[++i];
            char* end = nullptr;
            const long n = std::strtol(o->jobs.c_str(), &end, 10);
            if (*end != '\0' || n < 1 || n > 1024) {
                std::fprintf(stderr, "%s: -j wants a number of jobs from 1 to 1024\n", kName);
                return 2;
            }
        } else if (std::strcmp(a, "--dry-run") == 0 || std::strcmp(a, "-n") == 0) {
            o->dryRun = true;
        } else {
            std::fprintf(stderr, "%s: unknown option or missing value '%s'\n", kName, a);
            Usage(stderr);
            return 2;
        }
    }
    return 0;
}

std::string ThisProgram()
{
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    exe[n] = '\0';
    return exe;
}

// zafencoder installed beside lumivor, or in the build tree's audio folder;
// empty when neither exists (the edges then run "lumivor audio").
std::string FindEncoder(const std::string& lumivor)
{
    const std::filesystem::path bin = std::filesystem::path(lumivor).parent_path();
    for (const std::filesystem::path& p : {bin / "zafencoder", bin / ".." / "audio" / "zafencoder"}) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(p, ec)) return std::filesystem::weakly_canonical(p, ec).string();
    }
    return "";
}

bool ReadText(const std::string& path, std::string* text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    *text = s.str();
    return !in.bad();
}

// Writes the file unless it already holds exactly `text`, so that an
// unchanged plan leaves Ninja nothing to reconsider.
bool WriteIfChanged(const std::string& path, const std::string& text)
{
    std::string old;
    if (ReadText(path, &old) && old == text) return true;
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

// Reads the manifest with the kit running; 0 with the plan's text, else 1.
int Plan(const Options& o, std::string* buildDir, std::string* ninjaText)
{
    std::error_code ec;
    const std::string project = std::filesystem::absolute(o.project, ec).lexically_normal().string();
    const std::string manifestPath = o.manifest.empty() ? project + "/lumivor.atr" : o.manifest;
    std::string text;
    if (!ReadText(manifestPath, &text)) {
        std::fprintf(stderr, "%s: cannot read %s\n", kName, manifestPath.c_str());
        return 1;
    }
    CvkHeapSimple heap(nullptr, 0, 16);
    CvkHeapSetSystem(&heap);
    CvkHeapSetMain(&heap);
    CvkHeapSetBuffer(&heap);
    ProjectManifest manifest;
    std::string error;
    bool ok = false;
    if (CvkInitCorvantaSystem() != 0) {
        ok = ProjectManifestRead(text.c_str(), manifestPath, &manifest, &error);
        CvkExitCorvantaSystem();
    } else {
        error = "cannot start the kit";
    }
    CvkHeapSetSystem(nullptr);
    CvkHeapSetMain(nullptr);
    CvkHeapSetBuffer(nullptr);

    std::string trimmed = project;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const std::filesystem::path build(manifest.build);
    const ProjectPaths paths{trimmed, (build.is_absolute() ? build : std::filesystem::path(trimmed) / build)
                                          .lexically_normal().string()};
    const std::string lumivor = ThisProgram();
    const ProjectTools tools{lumivor, FindEncoder(lumivor)};
    if (ok) ok = ProjectNinjaWrite(manifest, paths, tools, manifestPath, ninjaText, &error);
    if (!ok) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    *buildDir = paths.build;
    return 0;
}

} // namespace

int CliBuildMain(int argc, char** argv)
{
    Options o;
    const int parsed = ParseArguments(argc, argv, &o);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;
    std::string buildDir, ninjaText;
    if (Plan(o, &buildDir, &ninjaText) != 0) return 1;
    std::error_code ec;
    std::filesystem::create_directories(buildDir, ec);
    if (!WriteIfChanged(buildDir + "/build.ninja", ninjaText)) {
        std::fprintf(stderr, "%s: cannot write %s/build.ninja\n", kName, buildDir.c_str());
        return 1;
    }
    std::vector<std::string> args = {"ninja", "-C", buildDir};
    if (!o.jobs.empty()) args.insert(args.end(), {"-j", o.jobs});
    if (o.dryRun) args.push_back("-n");
    std::vector<char*> argvNinja;
    for (std::string& a : args) argvNinja.push_back(a.data());
    argvNinja.push_back(nullptr);
    std::fflush(stdout);
    execvp("ninja", argvNinja.data());
    std::fprintf(stderr, "%s: cannot run ninja (install ninja-build)\n", kName);
    return 1;
}
