// lumivor build: builds a whole UI project from its manifest (lumivor.atr)
// with Ninja. The manifest becomes <build>/build.ninja (rewritten only when
// its text changes), then ninja runs there; its progress line is what the
// user sees and only what changed is rebuilt.
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliFiles.h"
#include "cli/CliKit.h"
#include "cli/ProjectManifest.h"
#include "cli/ProjectNinja.h"
#include "cli/ProjectWatch.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char* const kName = "lumivor build";
// The message that goes with a pushed output: to the tool (0), message 1,
// from 0; its first parameter is the output's name.
const char* const kPushMessage = "0,1,0";
// How long the files must be left alone before a rebuild starts.
const int kQuietMs = 150;

void Usage(FILE* out)
{
    std::fprintf(out, "usage: lumivor build [--manifest FILE] [-C DIR] [-j N] [--dry-run]\n"
                      "                     [--watch [--push HOST:PORT] [--rebuilds K]]\n"
                      "Builds the project described by its manifest with ninja: bundles, scripts, sounds,\n"
                      "images and QR symbols, rebuilding only what changed.\n"
                      "  -C DIR           the project folder (default: the current folder)\n"
                      "  --manifest FILE  the manifest (default: DIR/lumivor.atr)\n"
                      "  -j N             run N jobs at once (default: ninja's choice)\n"
                      "  --dry-run        show what would run, run nothing\n"
                      "  --watch          after building, watch the project's files and build again\n"
                      "                   whenever they change, until SIGINT or SIGTERM\n"
                      "  --push HOST:PORT with --watch: send every output a build changed to a tool's\n"
                      "                   socket server (lumivor link serve), named by its path under out/\n"
                      "  --rebuilds K     with --watch: stop after K rebuilds\n"
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
    bool watch = false;
    std::string pushHost;
    std::string pushPort;
    long rebuilds = 0; // 0: no limit
};

// A number of -j or --rebuilds: its value, or 0 when the text is no number
// from `lo` to `hi`.
long ParseCount(const char* text, long lo, long hi)
{
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    return *end == '\0' && n >= lo && n <= hi ? n : 0;
}

// HOST:PORT of --push into the options; false when it is not one.
bool ParsePushTarget(const std::string& target, Options* o)
{
    const size_t colon = target.rfind(':');
    char* end = nullptr;
    const long port = colon == std::string::npos ? 0 : std::strtol(target.c_str() + colon + 1, &end, 10);
    if (colon == 0 || port < 1 || port > 65535 || *end != '\0') return false;
    o->pushHost = target.substr(0, colon);
    o->pushPort = target.substr(colon + 1);
    return true;
}

// The options that go with --watch, and those it excludes; kRun or 2.
int CheckWatchOptions(CliArgs& args, const Options& o)
{
    if (!o.watch && (!o.pushHost.empty() || o.rebuilds != 0))
        return args.Refuse("--push and --rebuilds go with --watch");
    if (o.watch && o.dryRun) return args.Refuse("--watch and --dry-run exclude each other");
    return CliArgs::kRun;
}

// CliArgs::kRun to go on, else the exit status.
int ParseArguments(int argc, char** argv, Options* o)
{
    CliArgs args(kName, Usage, argc, argv);
    while (args.Next()) {
        const char* value = nullptr;
        if (args.Value("-C", o->project) || args.Value("--manifest", o->manifest)) {
            continue;
        } else if (args.Value("-j", o->jobs)) {
            if (ParseCount(o->jobs.c_str(), 1, 1024) == 0) args.Refuse("-j wants a number of jobs from 1 to 1024");
        } else if (args.Flag("--dry-run", "-n")) {
            o->dryRun = true;
        } else if (args.Flag("--watch")) {
            o->watch = true;
        } else if (args.Value("--push", value)) {
            if (!ParsePushTarget(value, o)) args.Refuse("--push wants HOST:PORT");
        } else if (args.Value("--rebuilds", value)) {
            o->rebuilds = ParseCount(value, 1, LONG_MAX);
            if (o->rebuilds == 0) args.Refuse("--rebuilds wants a positive number");
        } else {
            args.Unknown();
        }
    }
    return args.Status() == CliArgs::kRun ? CheckWatchOptions(args, *o) : args.Status();
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

// Writes the file unless it already holds exactly `text`, so that an
// unchanged plan leaves Ninja nothing to reconsider.
bool WriteIfChanged(const std::string& path, const std::string& text)
{
    std::string old;
    if (CliReadText(path, &old) && old == text) return true;
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
    if (!CliReadText(manifestPath, &text)) {
        std::fprintf(stderr, "%s: cannot read %s\n", kName, manifestPath.c_str());
        return 1;
    }
    ProjectManifest manifest;
    std::string error;
    bool ok = false;
    {
        CliKitHeap heap;
        CliKitSystem kit(false);
        ok = kit.Ready() && ProjectManifestRead(text.c_str(), manifestPath, &manifest, &error);
        if (!kit.Ready()) error = "cannot start the kit";
    }

    std::string trimmed = project;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const std::filesystem::path build(manifest.build);
    const ProjectPaths paths{
        trimmed, (build.is_absolute() ? build : std::filesystem::path(trimmed) / build).lexically_normal().string()};
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

// Runs a program found on PATH and waits for it; its exit status, 127 when
// it cannot be started.
int RunProgram(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return 127;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return 127;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// Plans the project, writes build.ninja and runs ninja; ninja's exit status,
// or 1 for a bad manifest. `buildDir` receives the build folder.
int BuildOnce(const Options& o, std::string* buildDir)
{
    std::string ninjaText;
    if (Plan(o, buildDir, &ninjaText) != 0) return 1;
    std::error_code ec;
    std::filesystem::create_directories(*buildDir, ec);
    if (!WriteIfChanged(*buildDir + "/build.ninja", ninjaText)) {
        std::fprintf(stderr, "%s: cannot write %s/build.ninja\n", kName, buildDir->c_str());
        return 1;
    }
    std::vector<std::string> args = {"ninja", "-C", *buildDir};
    if (!o.jobs.empty()) args.insert(args.end(), {"-j", o.jobs});
    if (o.dryRun) args.push_back("-n");
    const int status = RunProgram(args);
    if (status == 127) std::fprintf(stderr, "%s: cannot run ninja (install ninja-build)\n", kName);
    return status;
}

std::atomic<bool> g_stop{false};

void OnStopSignal(int) { g_stop.store(true); }

// Sends each changed output (dependency files left out) to the tool's socket
// server, named by its path under out/, with one message whose parameter is
// that name.
void Push(const Options& o, const std::string& outDir, const std::vector<std::string>& files)
{
    for (const std::string& file : files) {
        if (file.ends_with(".d") || file.ends_with(".tmp")) continue;
        const std::string name = file.substr(outDir.size() + 1);
        const int status =
            RunProgram({ThisProgram(), "link", "send", "--message", std::string(kPushMessage) + "," + name, "--host",
                        o.pushHost, "--port", o.pushPort, "--file", file, "--name", name});
        std::fprintf(stderr, "%s: %s %s\n", kName, status == 0 ? "pushed" : "could not push", name.c_str());
    }
}

// Builds, then builds again after every change of the project's files until
// stopped; build failures are reported and watching goes on.
int Watch(const Options& o)
{
    signal(SIGINT, OnStopSignal);
    signal(SIGTERM, OnStopSignal);
    std::string buildDir, ninjaText;
    if (Plan(o, &buildDir, &ninjaText) != 0) return 1;
    const std::string outDir = buildDir + "/out";
    ProjectWatcher watcher;
    std::string error;
    std::error_code ec;
    const std::string project = std::filesystem::absolute(o.project, ec).lexically_normal().string();
    if (!watcher.Start(project, buildDir, &error)) {
        std::fprintf(stderr, "%s: %s\n", kName, error.c_str());
        return 1;
    }
    long rebuilds = 0;
    for (bool first = true; first || watcher.WaitForChange(kQuietMs, g_stop); first = false) {
        const ProjectFileTimes before = ProjectScanFiles(outDir);
        BuildOnce(o, &buildDir);
        if (!o.pushHost.empty()) Push(o, outDir, ProjectChangedFiles(before, ProjectScanFiles(outDir)));
        std::fprintf(stderr, "%s: watching %s\n", kName, project.c_str());
        if (!first && o.rebuilds != 0 && ++rebuilds >= o.rebuilds) break;
    }
    return 0;
}

} // namespace

int CliBuildMain(int argc, char** argv)
{
    Options o;
    const int parsed = ParseArguments(argc, argv, &o);
    if (parsed != CliArgs::kRun) return parsed;
    if (o.watch) return Watch(o);
    std::string buildDir;
    return BuildOnce(o, &buildDir);
}
