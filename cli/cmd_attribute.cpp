// lumivor atr: attribute trees between their text form and the
// template-free binary image, and the renewal of one tree from another.
// Each job is one AtrCommand, listed in the table kAtrJobs.
#include "attribute/AtrDefAnalyzer.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrReformer.h"
#include "attribute/AtrUtil.h"
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliDispatch.h"
#include "cli/CliFiles.h"
#include "cli/CliKit.h"
#include "cli/CliText.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Arguments shared by the jobs: input files, "-o OUTPUT" and flags.

struct AtrArgs {
    std::vector<std::string> inputs; // as typed (terminal encoding)
    std::string output;
    std::vector<std::string> flags; // the flags given, of those allowed
    bool Has(const char* flag) const
    {
        for (const std::string& f : flags)
            if (f == flag) return true;
        return false;
    }
};

enum {
    PARSE_GO = CliArgs::kRun,
    EXIT_DONE = 0,
    EXIT_FAILED = 1,
};

// AtrCommand::inputs of a job that takes one input file or more.
constexpr size_t kOneOrMore = static_cast<size_t>(-1);

struct AtrCommand {
    const char* name;
    const char* synopsis; // arguments after "lumivor atr NAME"
    const char* summary;
    size_t inputs;            // input files wanted (kOneOrMore: at least one)
    bool output;              // "-o OUTPUT" wanted
    const char* const* flags; // allowed flags, null-terminated (or null)
    int (*run)(const AtrArgs& args);
};

void CommandUsage(const AtrCommand& c, FILE* out)
{
    std::fprintf(out, "usage: lumivor atr %s %s\n%s\n", c.name, c.synopsis, c.summary);
    std::fprintf(out, "Exit status: 0 done, 1 failed (no output file left), 2 bad arguments.\n");
}

// The job's flag that the argument at hand is; null when it is none.
const char* FlagAt(CliArgs& walk, const AtrCommand& c)
{
    for (const char* const* f = c.flags; f != nullptr && *f != nullptr; ++f)
        if (walk.Flag(*f)) return *f;
    return nullptr;
}

// PARSE_GO to run the command, else the exit status.
int ParseArgs(const AtrCommand& c, int argc, char** argv, AtrArgs* args)
{
    CliArgs walk(
        std::string("lumivor atr ") + c.name, [&c](FILE* out) { CommandUsage(c, out); }, argc, argv);
    while (walk.Next()) {
        const char* input = nullptr;
        if (c.output && walk.Value("-o", args->output)) continue;
        if (const char* flag = FlagAt(walk, c)) {
            args->flags.push_back(flag);
        } else if (walk.Positional(input)) {
            args->inputs.push_back(input);
        } else {
            walk.Unknown();
        }
    }
    if (walk.Status() != CliArgs::kRun) return walk.Status();
    const bool inputsOk = c.inputs == kOneOrMore ? !args->inputs.empty() : args->inputs.size() == c.inputs;
    if (!inputsOk || (c.output && args->output.empty())) return walk.RefuseUsage();
    return PARSE_GO;
}

// ---------------------------------------------------------------------------
// The kit for one job: a heap in every slot, files of the current directory,
// and its log kept off the terminal (standard output carries only the jobs'
// own results; each job reports its failures itself).

class KitSession {
public:
    bool Ready() const { return m_kit.Ready(); }

    // Stops the kit and gives the terminal back.
    void End()
    {
        m_kit.End();
        m_heap.End();
        m_quiet.End();
    }

private:
    std::string m_log;
    CliKitHeap m_heap;
    CliKitLog m_quiet{&m_log};
    CliKitSystem m_kit{true};
};

// Kit paths are Shift_JIS.
std::string KitPath(const std::string& typed) { return CliFromTerminal(typed); }

int Fail(const char* command, const std::string& message)
{
    std::fprintf(stderr, "lumivor atr %s: %s\n", command, message.c_str());
    return EXIT_FAILED;
}

// Reads an attribute text with exactly one top-level node; null after
// printing why not.
AtrNode* ReadOneRoot(const char* command, const std::string& path)
{
    CvString log;
    AtrNode* tree = AtrUtilCreateFromText(KitPath(path).c_str(), nullptr, &log);
    if (tree == nullptr) {
        if (log.GetLength() != 0) std::fputs(CliToTerminal(log.GetBuffer()).c_str(), stderr);
        Fail(command, "cannot read " + path);
        return nullptr;
    }
    int count = 0;
    for (AtrNode* n = tree; n != nullptr; n = n->GetNext()) ++count;
    if (count != 1) {
        AtrNodeDestroyChain(tree);
        Fail(command, path + " holds " + std::to_string(count) + " top-level nodes; a tree has one root");
        return nullptr;
    }
    return tree;
}

// Removes what a failed write may have left.
int WriteFailed(const char* command, const std::string& output)
{
    std::remove(output.c_str());
    return Fail(command, "cannot write " + output);
}

// ---------------------------------------------------------------------------
// The jobs.

int RunPack(const AtrArgs& args)
{
    KitSession kit;
    if (!kit.Ready()) return Fail("pack", "the kit could not start");
    AtrNode* tree = ReadOneRoot("pack", args.inputs[0]);
    if (tree == nullptr) return EXIT_FAILED;
    const int32_t ok = AtrUtilOutputBinary(tree, KitPath(args.output).c_str(), args.Has("--scramble") ? 1 : 0);
    AtrNode::Destroy(tree);
    return ok ? EXIT_DONE : WriteFailed("pack", args.output);
}

int RunUnpack(const AtrArgs& args)
{
    KitSession kit;
    if (!kit.Ready()) return Fail("unpack", "the kit could not start");
    AtrNode* tree = AtrUtilCreateFromBinary(KitPath(args.inputs[0]).c_str(), nullptr);
    if (tree == nullptr)
        return Fail("unpack", "cannot read " + args.inputs[0] + " (missing, empty or not a tree image)");
    const int32_t ok = AtrUtilOutputText(tree, KitPath(args.output).c_str());
    AtrNode::Destroy(tree);
    return ok ? EXIT_DONE : WriteFailed("unpack", args.output);
}

int RunReform(const AtrArgs& args)
{
    KitSession kit;
    if (!kit.Ready()) return Fail("reform", "the kit could not start");
    AtrNode* source = ReadOneRoot("reform", args.inputs[0]);
    if (source == nullptr) return EXIT_FAILED;
    AtrNode* target = ReadOneRoot("reform", args.inputs[1]);
    if (target == nullptr) {
        AtrNode::Destroy(source);
        return EXIT_FAILED;
    }
    int status = EXIT_DONE;
    std::string changes;
    if (source->GetElement().Compare(target->GetElement().GetBuffer()) != 0) {
        status = Fail("reform", "the roots differ (" + CliToTerminal(source->GetElement().GetBuffer()) + ", " +
                                    CliToTerminal(target->GetElement().GetBuffer()) + ")");
    } else {
        AtrReformer reformer;
        reformer.RenewNodeTree(source, target, 0);
        changes = CliToTerminal(reformer.GetLog().GetBuffer());
        if (!AtrUtilOutputText(target, KitPath(args.output).c_str())) status = WriteFailed("reform", args.output);
    }
    AtrNode::Destroy(source);
    AtrNode::Destroy(target);
    kit.End();
    if (status == EXIT_DONE) std::fputs(changes.empty() ? "no changes\n" : changes.c_str(), stdout);
    return status;
}

// The headers' enumerations in order through one analyzer; every constant
// as "NAME = VALUE", oldest definition first.
int RunDefs(const AtrArgs& args)
{
    for (const std::string& header : args.inputs)
        if (!CliReadable(header)) return Fail("defs", "cannot read " + header);
    KitSession kit;
    if (!kit.Ready()) return Fail("defs", "the kit could not start");
    std::vector<std::string> lines; // newest first, as the analyzer keeps them
    {
        // The analyzer goes before the kit stops (it gives its memory back
        // to the kit's heaps).
        AtrDefAnalyzer constants;
        for (const std::string& header : args.inputs) {
            if (constants.AddConstantDefinition(KitPath(header).c_str()) == 0) {
                return Fail("defs", "cannot use the constants of " + header +
                                        " (an unknown name, or an enumeration a C compiler would refuse)");
            }
        }
        for (const AtrAttribute* c = constants.GetConstant(); c != nullptr; c = c->GetNext()) {
            lines.push_back(std::string(c->GetName().GetBuffer()) + " = " + std::to_string(c->GetS32()) + "\n");
        }
    }
    kit.End();
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) std::fputs(line->c_str(), stdout);
    return EXIT_DONE;
}

const char* const kPackFlags[] = {"--scramble", nullptr};

const AtrCommand kPack = {
    .name = "pack",
    .synopsis = "INPUT.txt -o OUTPUT.bin [--scramble]",
    .summary = "Writes the tree of an attribute text (one top-level node) as a binary tree image;\n"
               "--scramble scrambles its data with a random key.",
    .inputs = 1,
    .output = true,
    .flags = kPackFlags,
    .run = RunPack,
};
const AtrCommand kUnpack = {
    .name = "unpack",
    .synopsis = "INPUT.bin -o OUTPUT.txt",
    .summary = "Writes the tree of a binary tree image as attribute text.",
    .inputs = 1,
    .output = true,
    .flags = nullptr,
    .run = RunUnpack,
};
const AtrCommand kReform = {
    .name = "reform",
    .synopsis = "SOURCE.txt TARGET.txt -o OUTPUT.txt",
    .summary = "Brings the target tree into the shape of the source (attributes and children the source\n"
               "lacks go, those the target lacks are added; the target's values stay), writes it and\n"
               "prints the change log.",
    .inputs = 2,
    .output = true,
    .flags = nullptr,
    .run = RunReform,
};
const AtrCommand kDefs = {
    .name = "defs",
    .synopsis = "HEADER.h [HEADER.h ...]",
    .summary = "Reads the enumerations of C headers, in order, as the attribute texts' named constants\n"
               "and prints every constant as NAME = VALUE, oldest definition first.",
    .inputs = kOneOrMore,
    .output = false,
    .flags = nullptr,
    .run = RunDefs,
};

// Job C on its arguments (argv[0] is the job's name).
template <const AtrCommand& C>
int JobMain(int argc, char** argv)
{
    AtrArgs args;
    const int parsed = ParseArgs(C, argc, argv, &args);
    return parsed == PARSE_GO ? C.run(args) : parsed;
}

// The job's row in the list of jobs: its name and synopsis.
template <const AtrCommand& C>
constexpr CliCommand Row()
{
    return {C.name, C.synopsis, JobMain<C>};
}

const CliCommand kAtrJobs[] = {Row<kPack>(), Row<kUnpack>(), Row<kReform>(), Row<kDefs>(), {nullptr, nullptr, nullptr}};

const CliCommandTable kAtr = {
    .prefix = "lumivor atr",
    .noun = "job",
    .usage = "usage: lumivor atr <job> [arguments]\n",
    .footer = "'lumivor atr <job> --help' describes a job.",
    .commands = kAtrJobs,
    .nameWidth = 7,
};

} // namespace

int CliAttributeMain(int argc, char** argv) { return CliRunCommand(kAtr, argc, argv); }
