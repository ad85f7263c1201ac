// lumivor bundle: compiles an instance text and a template text into a binary
// attribute image through TbnCompilerOutput, and lists an image's chunks.
// With --defs the texts may use the named constants of C enum headers: they
// are read with a definition analyzer and compiled through the one-call
// helpers, which give the same image for the same trees.
#include "attribute/AtrDefAnalyzer.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrUtil.h"
#include "bundle/TbnCompiler.h"
#include "bundle/TbnCompilerCore.h"
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliDepfile.h"
#include "cli/CliFiles.h"
#include "cli/CliKit.h"
#include "cli/CliText.h"
#include "kit/CvChunk.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Usage(FILE* out)
{
    std::fprintf(out, "usage: lumivor bundle INSTANCE TEMPLATE -o OUTPUT [--code CODE] [--defs HEADER.h ...]\n"
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
    CliFileBytes bytes;
    if (!CliReadFile(path, &bytes)) {
        std::fprintf(stderr, "lumivor bundle: cannot read %s\n", path);
        return 1;
    }
    const char* image = bytes.data.get();
    const size_t size = bytes.size;
    std::printf("%s: %zu bytes\n", path, size);
    std::printf("  offset  tag   headSize      size\n");
    const CvChunk* c = CvChunk::GetFirst(image, size);
    const CvChunk* last = nullptr;
    for (; c != nullptr; c = c->GetNext(0, image, size)) {
        std::printf("  %6zu  %s  %8u  %8u\n", size_t(reinterpret_cast<const char*>(c) - image),
                    TagText(c->GetTag()).c_str(), c->GetHeadSize(), c->GetSize());
        last = c;
    }
    // The end chunk (GetNext stops before it).
    if (last != nullptr) {
        const size_t at = size_t(reinterpret_cast<const char*>(last) - image) + last->GetHeadSize() + last->GetSize();
        if (at + CVK_CHUNK_HEAD_SIZE <= size) {
            const CvChunk* end = reinterpret_cast<const CvChunk*>(image + at);
            std::printf("  %6zu  %s  %8u  %8u\n", at, TagText(end->GetTag()).c_str(), end->GetHeadSize(),
                        end->GetSize());
        }
    }
    std::printf("  well formed: %s\n", CvChunk::CheckImage(image, size) ? "yes" : "no");
    return 0;
}

// The first of `paths` that cannot be read, after a message; null when all can.
const char* FirstUnreadable(const std::vector<const char*>& paths)
{
    for (const char* path : paths) {
        if (!CliReadable(path)) {
            std::fprintf(stderr, "lumivor bundle: cannot read %s\n", path);
            return path;
        }
    }
    return nullptr;
}

// The constants of the headers, in order, in `constants`; false after a message.
bool ReadConstants(const std::vector<const char*>& defs, AtrDefAnalyzer* constants)
{
    for (const char* header : defs) {
        if (constants->AddConstantDefinition(header) == 0) {
            std::fprintf(stderr,
                         "lumivor bundle: cannot use the constants of %s (an unknown name, or an "
                         "enumeration a C compiler would refuse)\n",
                         header);
            return false;
        }
    }
    return true;
}

struct Options {
    const char* inputs[2] = {nullptr, nullptr};
    const char* output = nullptr;
    const char* list = nullptr;
    const char* depfile = nullptr;
    std::vector<const char*> defs;
    uint32_t code = CVK_CHUNK_TAG_ATRB;
};

// The texts read with the constants of the headers, compiled and written with
// the code as the first chunk's tag, with the kit running. 0 when written,
// else 1 with a message; the compiler's complaints go to `log`.
int CompileTreesWithDefs(const Options& o, std::string* log)
{
    AtrDefAnalyzer constants;
    if (!ReadConstants(o.defs, &constants)) return 1;
    CvString errors;
    AtrNode* trees[2] = {nullptr, nullptr};
    int result = 0;
    for (int i = 0; i < 2 && result == 0; ++i) {
        trees[i] = AtrUtilCreateFromText(o.inputs[i], constants, &errors);
        if (trees[i] == nullptr) {
            log->append(errors.GetLength() != 0 ? errors.GetBuffer() : "");
            std::fprintf(stderr, "lumivor bundle: cannot read the attribute text %s\n", o.inputs[i]);
            result = 1;
        }
    }
    uint32_t code = o.code;
    if (result == 0 && AtrUtilOutputStyledBinary(trees[0], trees[1], o.output, &code, &errors, 0) == 0) {
        log->append(errors.GetLength() != 0 ? errors.GetBuffer() : "");
        std::remove(o.output);
        result = 1;
    }
    AtrNodeDestroyChain(trees[0]);
    AtrNodeDestroyChain(trees[1]);
    return result;
}

// With --defs: the texts and headers checked, then compiled with a kit of
// our own. 0 when written, else 1 with a message.
int CompileWithDefs(const Options& o, std::string* log)
{
    if (FirstUnreadable({o.inputs[0], o.inputs[1]}) != nullptr || FirstUnreadable(o.defs) != nullptr) return 1;
    CliKitHeap heap;
    CliKitSystem kit(true);
    return kit.Ready() ? CompileTreesWithDefs(o, log) : 1;
}

// Without --defs: both texts, each ended by a NUL; false after a message.
bool ReadTexts(const Options& o, CliFileBytes texts[2])
{
    for (int i = 0; i < 2; ++i) {
        if (!CliReadFile(o.inputs[i], &texts[i])) {
            std::fprintf(stderr, "lumivor bundle: cannot read %s\n", o.inputs[i]);
            return false;
        }
    }
    return true;
}

// Without --defs: both texts handed to the compiler, which lets us free them
// as soon as both are read into trees, before the image is built. True when
// the image was written.
bool CompileTexts(const Options& o, CliFileBytes texts[2])
{
    auto release = [](void* context) {
        CliFileBytes* t = static_cast<CliFileBytes*>(context);
        t[0] = CliFileBytes{};
        t[1] = CliFileBytes{};
    };
    return TbnCompileTexts(o.output, texts[0].data.get(), texts[1].data.get(), o.code, release,
                                           texts) != 0;
}

// The kit's log in the terminal's encoding, then the dependency file, the
// written image and its chunks; the exit status.
int Report(const Options& o, const CliDepfileRecorder& inputsRead, const std::string& log, bool ok)
{
    if (!log.empty()) std::fputs(CliToTerminal(log).c_str(), ok ? stdout : stderr);
    if (!ok) {
        std::fprintf(stderr, "lumivor bundle: no image written\n");
        return 1;
    }
    if (o.depfile != nullptr && !inputsRead.Write(o.depfile, o.output)) {
        std::fprintf(stderr, "lumivor bundle: cannot write %s\n", o.depfile);
        return 1;
    }
    std::printf("wrote %s\n", o.output);
    return ListImage(o.output);
}

// CliArgs::kRun to go on, else the exit status.
int ParseArguments(int argc, char** argv, Options* o)
{
    CliArgs args("lumivor bundle", Usage, argc, argv);
    int inputCount = 0;
    while (args.Next()) {
        const char* value = nullptr;
        if (args.Value("-o", o->output) || args.Value("--list", o->list) || args.Value("--depfile", o->depfile)) {
            continue;
        } else if (args.Value("--code", value)) {
            if (!ParseCode(value, &o->code)) args.Refuse("bad code '%s' (four characters or a number)", value);
        } else if (args.Value("--defs", value)) {
            o->defs.push_back(value);
        } else if (inputCount < 2 && args.Positional(value)) {
            o->inputs[inputCount++] = value;
        } else {
            args.Unknown();
        }
    }
    if (args.Status() == CliArgs::kRun && o->list == nullptr && (inputCount != 2 || o->output == nullptr))
        args.RefuseUsage();
    return args.Status();
}

} // namespace

int CliBundleMain(int argc, char** argv)
{
    Options o;
    const int parsed = ParseArguments(argc, argv, &o);
    if (parsed != CliArgs::kRun) return parsed;
    if (o.list != nullptr) return ListImage(o.list);
    CliDepfileRecorder inputsRead;
    inputsRead.Add(o.inputs[0]);
    inputsRead.Add(o.inputs[1]);
    std::string log;
    bool ok = false;
    if (!o.defs.empty()) {
        CliKitLog quiet(&log);
        ok = CompileWithDefs(o, &log) == 0;
    } else {
        CliFileBytes texts[2];
        if (!ReadTexts(o, texts)) return 1;
        CliKitLog quiet(&log);
        ok = CompileTexts(o, texts);
    }
    return Report(o, inputsRead, log, ok);
}
