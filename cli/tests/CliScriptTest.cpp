// lumivor script as a process: exit status 0 with an image, 1 on compile
// errors with the log on standard error and no image, 2 for bad arguments
// (and for an output that would overwrite the source); --dump lists images.
#include "platform/tests/ScratchDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class CliScriptTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(scratch.Path().empty()); }

    void Write(const std::string& name, const std::string& text) const { scratch.Write(name, text); }
    std::string Read(const std::string& name) const { return scratch.Read(name); }
    bool Exists(const std::string& name) const
    {
        struct stat st;
        return stat((dir + name).c_str(), &st) == 0;
    }
    // Runs lumivor with the arguments in the temporary folder; the exit
    // status, with standard output and error in out and err.
    int Run(const std::string& args)
    {
        const std::string command = "cd '" + dir + "' && '" LUMIVOR_PATH "' " + args + " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        out = Read("out.txt");
        err = Read("err.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    ScratchDir scratch{"cli-script"};
    std::string dir = scratch.Path() + "/";
    std::string out;
    std::string err;
};

TEST_F(CliScriptTest, CompilesListsAndRefuses)
{
    Write("menu.drs", "variant g = 2;\nmodule main() {\nvariant k;\nk = g * 3;\n}\n");
    EXPECT_EQ(Run("script menu.drs"), 0) << err;
    ASSERT_TRUE(Exists("menu.bin"));
    EXPECT_EQ(Run("script --dump menu.bin"), 0) << err;
    EXPECT_NE(out.find("module main:"), std::string::npos) << out;
    EXPECT_NE(out.find("global    0"), std::string::npos) << out;
    EXPECT_EQ(Run("script menu.drs -o big.img --big-endian --debug --fixed 12"), 0) << err;
    EXPECT_EQ(Run("script --dump big.img"), 0) << err;
    EXPECT_NE(out.find("big-endian"), std::string::npos) << out;
    EXPECT_NE(out.find("debug: name \"menu.drs\""), std::string::npos) << out;

    // A compile error: the log's line on standard error, no image.
    Write("bad.drs", "module main() {\nx = 1;\n}\n");
    EXPECT_EQ(Run("script bad.drs"), 1);
    EXPECT_NE(err.find("0002 x"), std::string::npos) << err;
    EXPECT_FALSE(Exists("bad.bin"));
    EXPECT_EQ(Run("script --dump bad.drs"), 1);

    const char* bad[] = {"script", "script menu.drs --fixed x", "script menu.drs --bogus", "script a.drs b.drs",
                         "script menu.drs -o menu.drs"};
    for (const char* args : bad) EXPECT_EQ(Run(args), 2) << args;
    EXPECT_EQ(Read("menu.drs"), "variant g = 2;\nmodule main() {\nvariant k;\nk = g * 3;\n}\n");
}

} // namespace
