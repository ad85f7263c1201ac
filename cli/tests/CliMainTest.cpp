// The lumivor front end itself: --version, help, unknown commands, and the
// refusals every subcommand shares.
#include "LumivorVersion.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct Outcome {
    int status;
    std::string out;
};

// Runs lumivor with the arguments: its exit status and standard output (the
// arguments may end with 2>&1 to capture standard error as well).
Outcome Lumivor(const std::string& args)
{
    const std::string command = "'" LUMIVOR_PATH "' " + args;
    Outcome r{-1, ""};
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return r;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

TEST(CliMainTest, VersionHelpAndUnknownCommands)
{
    const Outcome version = Lumivor("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "lumivor " LUMIVOR_VERSION "\n");

    // help COMMAND is COMMAND --help, for every kind of subcommand.
    for (const char* command : {"script", "bundle", "audio", "link"}) {
        const Outcome help = Lumivor(std::string("help ") + command);
        const Outcome direct = Lumivor(std::string(command) + " --help");
        EXPECT_EQ(help.status, direct.status) << command;
        EXPECT_EQ(help.out, direct.out) << command;
        EXPECT_FALSE(help.out.empty()) << command;
    }

    const Outcome overview = Lumivor("help");
    EXPECT_EQ(overview.status, 0);
    EXPECT_EQ(overview.out.rfind("usage: lumivor", 0), 0u) << overview.out;

    struct Case {
        const char* args;
        int status;
        const char* err;
    } refused[] = {
        {"help bogus 2>&1", 2, "lumivor: unknown command 'bogus'\n"},
        {"bogus 2>&1", 2, "lumivor: unknown command 'bogus'\n"},
        {"2>&1", 2, "usage: lumivor"},
    };
    for (const Case& c : refused) {
        const Outcome r = Lumivor(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.out.find(c.err), std::string::npos) << c.args << ": " << r.out;
    }
}

TEST(CliMainTest, SubcommandsRefuseAlike)
{
    // Each subcommand with one of its options that takes a value (null: it
    // takes none). An unknown option and a missing value read the same in
    // every one, the usage follows on standard error, and the exit status is 2.
    struct Case {
        const char* command;
        const char* valued;
    } cases[] = {
        {"kit", nullptr},
        {"atr pack", "-o"},
        {"bundle", "--code"},
        {"script", "-o"},
        {"reduce", "--colors"},
        {"qr", "-o"},
        {"build", "-C"},
        {"link serve", "--port"},
        {"link send", "--host"},
        {"link bus-serve", "--service"},
        {"link bus-send", "--message"},
        {"link services", nullptr},
    };
    for (const Case& c : cases) {
        const std::string name = std::string("lumivor ") + c.command;
        const Outcome unknown = Lumivor(std::string(c.command) + " --bogus 2>&1");
        EXPECT_EQ(unknown.status, 2) << c.command;
        EXPECT_EQ(unknown.out.rfind(name + ": unknown option '--bogus'\nusage: " + name, 0), 0u) << unknown.out;
        if (c.valued == nullptr) continue;
        const Outcome missing = Lumivor(std::string(c.command) + " " + c.valued + " 2>&1");
        EXPECT_EQ(missing.status, 2) << c.command;
        EXPECT_EQ(missing.out.rfind(name + ": " + c.valued + " needs a value\nusage: " + name, 0), 0u) << missing.out;
    }
}

} // namespace
