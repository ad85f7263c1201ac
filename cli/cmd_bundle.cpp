// lumivor bundle: compiles an instance text and a template text into a binary
// attribute image through TbnCompilerOutput, and lists an image's chunks.
// With --defs the texts may use the named constants of C enum headers: they
// are read with a definition analyzer and compiled through the one-call
// helpers, which give the same image for the same trees.
#include "attribute/AtrDefAnalyzer.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrUtil.h"
#include "bundle/TbnCompiler.h"
#include "cli/CliCommands.h"
#include "cli/CliDepfile.h"
#include "cli/CliText.h"
#include "kit/CvChunk.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkLog.h"
#include "kit/CvkSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

void Usage(FILE* out)
{
    std::fprintf(out,
                 "usage: lumivor bundle INSTANCE TEMPLATE -o OUTPUT [--code CODE] [--defs HEADER.h ...]\n"
                 "       lumivor bundle --list IMAGE\n"
                 "Compiles the instance text with the template text (attribute text, Shift_JIS) into\n"
                 "one binary image and prints its chunks. CODE replaces the first chunk's tag: four\n"
                 "characters (ABCD) or a number (0x41424344, 1094861636); default ATRB.\n"
                 "--defs (repeatable) reads the enumerations of a C header, in order; both texts may\n"
                 "then use their names as values (ITEM_KIND_BUTTON for 3).\n"
                 "--depfile FILE writes the files the image was made from (the texts, the headers\n"
                 "and every embedded file) as a Make rule for OUTPUT.\n"
                 "Exit status: 0 when the image was written, 1 otherwise, 2 for bad arguments.\n");
}

// A whole file in one buffer, NUL-terminated.
struct FileBytes
{
    std::unique_ptr<char[]> data;
    size_t size = 0;
};

// Reads a file into one buffer sized from its length, so that a large text
// is neither copied nor grown on the way (a file that grows meanwhile, or a
// pipe, still reads whole: the buffer then doubles).
bool ReadWhole(const char* path, FileBytes* out)
{
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    struct stat st;
    const size_t known = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) ? size_t(st.st_size) : 0;
    size_t capacity = known + 65536;
    std::unique_ptr<char[]> data(new char[capacity]);
    size_t size = 0, n;
    while ((n = std::fread(data.get() + size, 1, capacity - 1 - size, f)) > 0) {
        size += n;
        if (size == capacity - 1) {
            std::unique_ptr<char[]> larger(new char[capacity * 2]);
            std::memcpy(larger.get(), data.get(), size);
            data = std::move(larger);
            capacity *= 2;
        }
    }
    const bool ok = !std::ferror(f);
    std::fclose(f);
    data[size] = '\0';
    out->data = std::move(data);
    out->size = size;
    return ok;
}

bool ParseCode(const char* text, uint32_t* code)
{
    const size_t len = std::strlen(text);
    bool digits = len > 0;
    for (size_t i = 0; i < len; ++i)
        if (text[i] < '0' || text[i] > '9') digits = false;
    if (len == 4 && !digits && !(text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))) {
        *code = (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
                (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
        return true;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (len == 0 || errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
    *code = uint32_t(v);
    return true;
}

std::string TagText(unsigned tag)
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((tag >> shift) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? c : '.';
    }
    return s;
}

int ListImage(const char* path)
{
    FileBytes bytes;
    if (!ReadWhole(path, &bytes)) {
        std::fprintf(stderr, "lumivor bundle: cannot read %s\n", path);
        return 1;
    }
    const void* image = bytes.data.get();
    const size_t size = bytes.size;
    std::printf("%s: %zu bytes\n", path, size);
    std::printf("  offset  tag   headSize      size\n");
    const CvChunk* c = CvChunk::GetFirst(image, size);
    const CvChunk* last = nullptr;
    for (; c != nullptr; c = c->GetNext(0, image, size)) {
        std::printf("  %6zu  %s  %8u  %8u\n", size_t(reinterpret_cast<const char*>(c) - bytes.data.get()),
                    TagText(c->GetTag()).c_str(), c->GetHeadSize(), c->GetSize());
        last = c;
    }
    // The end chunk (GetNext stops before it).
    if (last != nullptr) {
        const size_t at = size_t(reinterpret_cast<const char*>(last) - bytes.data.get()) + last->GetHeadSize() + last->GetSize();
        if (at + CVK_CHUNK_HEAD_SIZE <= size) {
            const CvChunk* end = reinterpret_cast<const CvChunk*>(bytes.data.get() + at);
            std::printf("  %6zu  %s  %8u  %8u\n", at, TagText(end->GetTag()).c_str(), end->GetHeadSize(), end->GetSize());
        }
    }
    std::printf("  well formed: %s\n", CvChunk::CheckImage(image, size) ? "yes" : "no");
    return 0;
}

void CollectLog(const char* text, void* context)
{
    static_cast<std::string*>(context)->append(text);
}

// Runs `body` with the kit's log gathered into `log` instead of standard
// output (the kit prints Shift_JIS there).
template <class Body>
auto WithLogCaptured(std::string* log, Body body)
{
    CvkLogSink previous = CvkLogSetSink(CollectLog, log);
    std::fflush(stdout);
    const int saved = dup(1);
    const int devnull = open("/dev/null", O_WRONLY);
    if (saved >= 0 && devnull >= 0) dup2(devnull, 1);
    const auto result = body();
    std::fflush(stdout);
    if (saved >= 0) {
        dup2(saved, 1);
        close(saved);
    }
    if (devnull >= 0) close(devnull);
    CvkLogSetSink(previous, nullptr);
    return result;
}

bool Readable(const char* path)
{
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

// The texts read with the constants of `defs`, compiled and written with
// the code as the first chunk's tag. 0 when written, else 1 with a message.
int CompileWithDefs(const char* const inputs[2], const char* output, uint32_t code,
                    const std::vector<const char*>& defs, std::string* log)
{
    for (const char* path : {inputs[0], inputs[1]}) {
        if (!Readable(path)) {
            std::fprintf(stderr, "lumivor bundle: cannot read %s\n", path);
            return 1;
        }
    }
    for (const char* header : defs) {
        if (!Readable(header)) {
            std::fprintf(stderr, "lumivor bundle: cannot read %s\n", header);
            return 1;
        }
    }
    CvkHeapSimple heap(nullptr, 0, 16);
    CvkHeapSetSystem(&heap);
    CvkHeapSetMain(&heap);
    CvkHeapSetBuffer(&heap);
    int status = 1;
    if (CvkInitCorvantaSystem() != 0) {
        CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
        status = [&] {
            AtrDefAnalyzer constants;
            for (const char* header : defs) {
                if (constants.AddConstantDefinition(header) == 0) {
                    std::fprintf(stderr,
                                 "lumivor bundle: cannot use the constants of %s (an unknown name, or an "
                                 "enumeration a C compiler would refuse)\n",
                                 header);
                    return 1;
                }
            }
            CvString errors;
            AtrNode* trees[2] = {nullptr, nullptr};
            int result = 0;
            for (int i = 0; i < 2 && result == 0; ++i) {
                trees[i] = AtrUtilCreateFromText(inputs[i], constants, &errors);
                if (trees[i] == nullptr) {
                    log->append(errors.GetLength() != 0 ? errors.GetBuffer() : "");
                    std::fprintf(stderr, "lumivor bundle: cannot read the attribute text %s\n", inputs[i]);
                    result = 1;
                }
            }
            if (result == 0 && AtrUtilOutputStyledBinary(trees[0], trees[1], output, &code, &errors, 0) == 0) {
                log->append(errors.GetLength() != 0 ? errors.GetBuffer() : "");
                std::remove(output);
                result = 1;
            }
            AtrNodeDestroyChain(trees[0]);
            AtrNodeDestroyChain(trees[1]);
            return result;
        }();
        CvkExitCorvantaSystem();
    }
    CvkHeapSetSystem(nullptr);
    CvkHeapSetMain(nullptr);
    CvkHeapSetBuffer(nullptr);
    return status;
}

} // namespace

int CliBundleMain(int argc, char** argv)
{
    const char* inputs[2] = {nullptr, nullptr};
    int inputCount = 0;
    const char* output = nullptr;
    const char* list = nullptr;
    const char* depfile = nullptr;
    std::vector<const char*> defs;
    uint32_t code = CVK_CHUNK_TAG_ATRB;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            Usage(stdout);
            return 0;
        } else if (std::strcmp(a, "-o") == 0 && i + 1 < argc) {
            output = argv[++i];
        } else if (std::strcmp(a, "--code") == 0 && i + 1 < argc) {
            if (!ParseCode(argv[++i], &code)) {
                std::fprintf(stderr, "lumivor bundle: bad code '%s' (four characters or a number)\n", argv[i]);
                return 2;
            }
        } else if (std::strcmp(a, "--list") == 0 && i + 1 < argc) {
            list = argv[++i];
        } else if (std::strcmp(a, "--defs") == 0 && i + 1 < argc) {
            defs.push_back(argv[++i]);
        } else if (std::strcmp(a, "--depfile") == 0 && i + 1 < argc) {
            depfile = argv[++i];
        } else if (a[0] == '-' && a[1] != '\0') {
            std::fprintf(stderr, "lumivor bundle: unknown option '%s'\n", a);
            Usage(stderr);
            return 2;
        } else if (inputCount < 2) {
            inputs[inputCount++] = a;
        } else {
            Usage(stderr);
            return 2;
        }
    }
    if (list != nullptr) return ListImage(list);
    if (inputCount != 2 || output == nullptr) {
        Usage(stderr);
        return 2;
    }
    std::string log;
    bool ok;
    CliDepfileRecorder inputsRead;
    inputsRead.Add(inputs[0]);
    inputsRead.Add(inputs[1]);
    if (!defs.empty()) {
        const int status = WithLogCaptured(&log, [&] { return CompileWithDefs(inputs, output, code, defs, &log); });
        ok = status == 0;
    } else {
        FileBytes instance, templ;
        if (!ReadWhole(inputs[0], &instance)) {
            std::fprintf(stderr, "lumivor bundle: cannot read %s\n", inputs[0]);
            return 1;
        }
        if (!ReadWhole(inputs[1], &templ)) {
            std::fprintf(stderr, "lumivor bundle: cannot read %s\n", inputs[1]);
            return 1;
        }
        // The texts are freed as soon as both are read into trees, before the
        // image is built.
        FileBytes* texts[2] = {&instance, &templ};
        auto release = [](void* context) {
            for (FileBytes* t : *static_cast<FileBytes* (*)[2]>(context)) *t = FileBytes{};
        };
        ok = WithLogCaptured(&log, [&] {
                 return TbnCompilerOutputReleasingTexts(output, instance.data.get(), templ.data.get(), code, release,
                                                        &texts);
             }) != 0;
    }

    if (!log.empty()) std::fputs(CliToTerminal(log).c_str(), ok ? stdout : stderr);
    if (!ok) {
        std::fprintf(stderr, "lumivor bundle: no image written\n");
        return 1;
    }
    if (depfile != nullptr && !inputsRead.Write(depfile, output)) {
        std::fprintf(stderr, "lumivor bundle: cannot write %s\n", depfile);
        return 1;
    }
    std::printf("wrote %s\n", output);
    return ListImage(output);
}
