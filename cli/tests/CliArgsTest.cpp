// The argument helper of the subcommands: help, the shared refusals and the
// subcommand's own, each with its exit status and its words on the right
// stream, and the values and positional arguments it hands over.
#include "cli/CliArgs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void Usage(FILE* out) { std::fputs("usage: t [-o FILE] [--flag] [--n N] [INPUT]\n", out); }

// A subcommand "t" with a value option, a flag, a checked number and one
// positional argument; what it read, and what it printed.
struct Outcome {
    int status = CliArgs::kRun;
    std::string output, input, out, err;
    bool flag = false;
};

Outcome Parse(std::vector<std::string> words)
{
    std::vector<char*> argv{const_cast<char*>("t")};
    for (std::string& w : words) argv.push_back(w.data());
    Outcome r;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    CliArgs args("t", Usage, int(argv.size()), argv.data());
    while (args.Next()) {
        const char* value = nullptr;
        if (args.Value("-o", "--output", value)) {
            r.output = value;
        } else if (args.Flag("--flag")) {
            r.flag = true;
        } else if (args.Value("--n", value)) {
            if (std::string(value) != "7") args.Refuse("bad n '%s'", value);
        } else if (r.input.empty() && args.Positional(value)) {
            r.input = value;
        } else {
            args.Unknown();
        }
    }
    r.status = args.Status();
    r.out = testing::internal::GetCapturedStdout();
    r.err = testing::internal::GetCapturedStderr();
    return r;
}

const std::string kUsage = "usage: t [-o FILE] [--flag] [--n N] [INPUT]\n";

TEST(CliArgsTest, HelpRefusalsAndValues)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    } cases[] = {
        {{"-o", "x", "--flag", "in", "--n", "7"}, CliArgs::kRun, "", ""},
        {{"--help"}, 0, kUsage, ""},
        {{"in", "-h", "--bogus"}, 0, kUsage, ""},                        // help ends the walk
        {{"--bogus", "--help"}, 2, "", "t: unknown option '--bogus'\n" + kUsage},
        {{"in", "-o"}, 2, "", "t: -o needs a value\n" + kUsage},
        {{"--output"}, 2, "", "t: --output needs a value\n" + kUsage},
        {{"a", "b"}, 2, "", kUsage},                                      // one positional too many
        {{"--n", "8", "--bogus"}, 2, "", "t: bad n '8'\n"},               // the first refusal only
        {{"--flag=1"}, 2, "", "t: unknown option '--flag=1'\n" + kUsage},
    };
    for (const Case& c : cases) {
        const Outcome r = Parse(c.args);
        const std::string line = testing::PrintToString(c.args);
        EXPECT_EQ(r.status, c.status) << line;
        EXPECT_EQ(r.out, c.out) << line;
        EXPECT_EQ(r.err, c.err) << line;
    }
}

TEST(CliArgsTest, ValuesAreTakenAsTheyStand)
{
    // The word after a value option is its value even when it looks like an
    // option; "-" alone is a positional argument.
    const Outcome r = Parse({"-o", "--help", "-", "--flag"});
    EXPECT_EQ(r.status, CliArgs::kRun) << r.err;
    EXPECT_EQ(r.output, "--help");
    EXPECT_EQ(r.input, "-");
    EXPECT_TRUE(r.flag);
}

} // namespace
