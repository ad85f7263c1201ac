// lumivor script: compiles a Dresser script into its word-code image through
// DrsCompiler, and lists an image (--dump).
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliDepfile.h"
#include "cli/CliFiles.h"
#include "cli/CliKit.h"
#include "cli/CliText.h"
#include "dresser/CvkScriptDebugInfo.h"
#include "dresser/DrsCompiler.h"
#include "dresser/DrsScriptDump.h"
#include "dresser/DrsScriptView.h"
#include "kit/CvkEndian.h"
#include "kit/CvkHeap.h"

#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const kName = "lumivor script";

// The heap of one compile: blocks are cut in turn from one reserved area,
// backed by huge pages where the system offers them, and come back only when
// the process ends. A compile frees nearly everything at its very end, so
// reuse would buy nothing, while faulting in fresh small pages costs a large
// compile more than the compile itself. Requests beyond the area go to the C
// library.
class CompileArenaHeap : public CvkHeap {
public:
    CompileArenaHeap() : CvkHeap(nullptr, 0, 16)
    {
        void* area =
            mmap(nullptr, kReserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (area == MAP_FAILED) return;
        m_area = static_cast<char*>(area);
        madvise(m_area, kReserve, MADV_HUGEPAGE);
    }
    ~CompileArenaHeap() override
    {
        if (m_area != nullptr) munmap(m_area, kReserve);
    }
    CompileArenaHeap(const CompileArenaHeap&) = delete;
    CompileArenaHeap& operator=(const CompileArenaHeap&) = delete;

    void* Alloc(uint32_t size) override { return AllocAlign(size, 0); }
    void* Alloc(uint32_t size, const char*, int) override { return AllocAlign(size, 0); }
    void* AllocAlign(uint32_t size, uint32_t alignment, const char*, int) override
    {
        return AllocAlign(size, alignment);
    }
    void* AllocAlign(uint32_t size, uint32_t alignment) override
    {
        size_t align = 16;
        while (align < alignment && align < (size_t(1) << 30)) align <<= 1;
        const size_t bytes = size != 0 ? size : 1;
        if (m_area != nullptr) {
            size_t used = m_used.load(std::memory_order_relaxed);
            for (;;) {
                const size_t at = (used + align - 1) & ~(align - 1);
                if (at + bytes > kReserve) break;
                if (m_used.compare_exchange_weak(used, at + bytes, std::memory_order_relaxed)) return m_area + at;
            }
        }
        void* p = nullptr;
        return posix_memalign(&p, align, bytes) == 0 ? p : nullptr;
    }
    void Free(void* pointer) override
    {
        const char* p = static_cast<const char*>(pointer);
        if (p != nullptr && !(m_area != nullptr && p >= m_area && p < m_area + kReserve)) std::free(pointer);
    }
    void Free(void* pointer, const char*, int) override { Free(pointer); }

private:
    static constexpr size_t kReserve = size_t(1) << 32; // address space only

    char* m_area = nullptr;
    std::atomic<size_t> m_used{0};
};

void Usage(FILE* out)
{
    std::fprintf(out, "usage: lumivor script SOURCE [-o OUTPUT] [-I DIR]... [--defs DIR] [--fixed N] [--debug]\n"
                      "                      [--assign-warning] [--big-endian]\n"
                      "       lumivor script --dump IMAGE\n"
                      "Compiles a Dresser script (Shift_JIS text) into its word-code image.\n"
                      "  -o OUTPUT         image path (default: SOURCE with its extension replaced by .bin)\n"
                      "  -I DIR            add an include search path (repeatable)\n"
                      "  --defs DIR        definition directory: DresserInstruction.bin or .def and\n"
                      "                    DresserStringDef.bin (default: the one shipped with lumivor)\n"
                      "  --fixed N         real constants as fixed point with N fraction bits (default: floats)\n"
                      "  --debug           line markers and a debug chunk named after the source file\n"
                      "  --assign-warning  an assignment inside an if or switch condition is a warning\n"
                      "  --big-endian      write the image for a big-endian target\n"
                      "  --depfile FILE    write the files the image was made from (the source, every\n"
                      "                    included file and the instruction tables) as a Make rule\n"
                      "  --dump IMAGE      list a compiled image: header, modules, constants, strings,\n"
                      "                    initializers and code\n"
                      "The compiler's log goes to standard error. Exit status: 0 when the image was written,\n"
                      "1 on compile errors or a failed write, 2 for bad arguments.\n");
}

// The definition directory shipped with the executable: where the install
// puts it relative to the program (LUMIVOR_DEFS_FROM_BINDIR, usually ../share/
// lumivor/dresser/, in any prefix the tree is moved to), then the build
// tree's <build>/share/lumivor/dresser/, then the configured install
// location. The first that holds the message file wins; when none does, the
// first is named in the compiler's complaint.
std::string DefaultDefinitionDirectory()
{
    std::string candidates[3];
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        std::string dir(exe);
        dir.erase(dir.rfind('/') + 1);
        candidates[0] = dir + LUMIVOR_DEFS_FROM_BINDIR;
        candidates[1] = dir + "../share/lumivor/dresser/";
    }
    candidates[2] = LUMIVOR_DEFS_INSTALLED;
    for (const std::string& dir : candidates)
        if (!dir.empty() && access((dir + "DresserStringDef.bin").c_str(), R_OK) == 0) return dir;
    return candidates[0];
}

std::string WithSeparator(std::string dir)
{
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
    return dir;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Dump(const char* path)
{
    CliFileBytes bytes;
    if (!CliReadFile(path, &bytes)) {
        std::fprintf(stderr, "%s: cannot read %s\n", kName, path);
        return 1;
    }
    DrsScriptView view;
    std::string why;
    if (!DrsReadScriptImage(bytes.data.get(), bytes.size, &view, &why)) {
        std::fprintf(stderr, "%s: %s is not a script image (%s)\n", kName, path, why.c_str());
        return 1;
    }
    std::printf("%s: %zu bytes\n", path, bytes.size);
    std::fputs(CliToTerminal(DrsDumpScript(view)).c_str(), stdout);
    return 0;
}

struct Options {
    const char* source = nullptr;
    const char* output = nullptr;
    const char* dump = nullptr;
    const char* depfile = nullptr;
    std::string defs;
    std::vector<const char*> includes;
    DrsCompileOption compile = {0, 0, 0, 0};
    bool bigEndian = false;
};

// The fraction bits of --fixed; false when the text is no number from 0 to 30.
bool ParseFixed(const char* text, int32_t* shift)
{
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || n < 0 || n > 30) return false;
    *shift = int32_t(n);
    return true;
}

// CliArgs::kRun to go on, else the exit status.
int ParseArguments(int argc, char** argv, Options* o)
{
    CliArgs args(kName, Usage, argc, argv);
    while (args.Next()) {
        const char* value = nullptr;
        if (args.Value("-o", o->output) || args.Value("--defs", o->defs) || args.Value("--depfile", o->depfile) ||
            args.Value("--dump", o->dump)) {
            continue;
        } else if (args.Value("-I", value)) {
            o->includes.push_back(value);
        } else if (args.Value("--fixed", value)) {
            if (!ParseFixed(value, &o->compile.fixedShift))
                args.Refuse("--fixed wants a number of fraction bits from 0 to 30");
        } else if (args.Flag("--debug")) {
            o->compile.debug = 1;
        } else if (args.Flag("--assign-warning")) {
            o->compile.warningFlags |= DRS_WARNING_ASSIGN_IN_CONDITION;
        } else if (args.Flag("--big-endian")) {
            o->bigEndian = true;
        } else if (o->source == nullptr && args.Positional(o->source)) {
            continue;
        } else {
            args.Unknown();
        }
    }
    if (args.Status() == CliArgs::kRun && o->dump == nullptr && o->source == nullptr) args.RefuseUsage();
    return args.Status();
}

// Whether `output` names the source file itself.
bool Overwrites(const char* source, const std::string& output)
{
    char a[PATH_MAX], b[PATH_MAX];
    return output == source ||
           (realpath(source, a) != nullptr && realpath(output.c_str(), b) != nullptr && std::strcmp(a, b) == 0);
}

// Compiles with the kit running; returns the exit status.
int CompileScript(const Options& o, const std::string& output)
{
    CliDepfileRecorder inputsRead;
    inputsRead.Add(o.source);
    CliFileBytes text;
    if (!CliReadFile(o.source, &text)) {
        std::fprintf(stderr, "%s: cannot read %s\n", kName, o.source);
        return 1;
    }

    CvkScriptDebugInfo record = {};
    const std::string name = BaseName(o.source);
    std::memcpy(record.name, name.data(), std::min(name.size(), sizeof record.name - 1));
    std::memcpy(record.path, o.source, std::min(std::strlen(o.source), sizeof record.path - 1));

    const std::string defs = WithSeparator(o.defs.empty() ? DefaultDefinitionDirectory() : o.defs);
    DrsCompiler compiler(defs.c_str(), 1);
    for (const char* dir : o.includes) compiler.AddIncludePath(dir);
    const int32_t compiled = compiler.CompileText(text.data.get(), &o.compile, &record);
    const int32_t written = compiled ? compiler.OutputFile(output.c_str()) : 0;
    const CvString* log = compiler.GetErrorString();
    if (log != nullptr && log->GetLength() > 0)
        std::fputs(CliToTerminal(std::string_view(log->GetBuffer(), size_t(log->GetLength()))).c_str(), stderr);
    if (!compiled) {
        std::fprintf(stderr, "%s: %s: compile failed, no image written\n", kName, o.source);
        return 1;
    }
    if (!written) {
        std::remove(output.c_str());
        std::fprintf(stderr, "%s: cannot write %s\n", kName, output.c_str());
        return 1;
    }
    if (o.depfile != nullptr && !inputsRead.Write(o.depfile, output)) {
        std::fprintf(stderr, "%s: cannot write %s\n", kName, o.depfile);
        return 1;
    }
    std::printf("%s: wrote %s (%u bytes)\n", kName, output.c_str(), compiler.GetChunkSize());
    return 0;
}

} // namespace

int CliScriptMain(int argc, char** argv)
{
    Options o;
    const int parsed = ParseArguments(argc, argv, &o);
    if (parsed != CliArgs::kRun) return parsed;
    if (o.dump != nullptr) return Dump(o.dump);

    CompileArenaHeap heap;
    CvkHeapSetSystem(&heap);
    int status = 1;
    {
        CliKitSystem kit(true);
        CvkEndianSetTarget(o.bigEndian ? 1 : 0);
        const std::string output =
            o.output != nullptr ? o.output : std::string(DrsMakeOutputPath(o.source).GetBuffer());
        if (Overwrites(o.source, output)) {
            std::fprintf(stderr, "%s: the output %s would overwrite the source\n", kName, output.c_str());
            status = 2;
        } else {
            status = CompileScript(o, output);
        }
    }
    CvkHeapSetSystem(nullptr);
    return status;
}
