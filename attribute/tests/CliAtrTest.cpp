// The lumivor atr front end: pack, unpack and reform through files, exit
// codes, and no output file left behind on failure.
#include "platform/tests/ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

class CliAtr : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.Path().empty()); }

    // Runs "lumivor atr ARGS" in the temporary folder; the exit status, with
    // standard output in `out`.
    int Run(const std::string& args)
    {
        const std::string log = dir.File("stdout.log");
        const std::string command =
            "cd '" + dir.Path() + "' && '" + LUMIVOR_PATH + "' atr " + args + " >'" + log + "' 2>/dev/null";
        const int status = std::system(command.c_str());
        out = Read("stdout.log");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Write(const char* name, const std::string& text) { dir.Write(name, text); }
    std::string Read(const char* name) { return dir.Read(name); }
    bool Exists(const char* name) { return fs::exists(dir.File(name)); }

    ScratchDir dir{"lumivor-cli-atr"};
    std::string out;
};

} // namespace

TEST_F(CliAtr, PackUnpackRoundTrip)
{
    Write("menu.txt", "<MENU title = \"top\", n = 3>\n\t1, 2.5, \"x\"\n\t<ITEM id = -1 />\n</MENU>\n");
    ASSERT_EQ(Run("pack menu.txt -o menu.bin"), 0);
    EXPECT_EQ(Read("menu.bin").substr(0, 4), "ATRB");
    ASSERT_EQ(Run("unpack menu.bin -o back.txt"), 0);
    EXPECT_EQ(Read("back.txt"), "<MENU title = \"top\", n = 3>\n\t1,\n\t2.500000,\n\t\"x\",\n\t<ITEM id = -1 />\n</MENU>\n");
    ASSERT_EQ(Run("pack back.txt -o scrambled.bin --scramble"), 0);
    EXPECT_EQ(Read("scrambled.bin")[16], 1);
    ASSERT_EQ(Run("unpack scrambled.bin -o again.txt"), 0);
    EXPECT_EQ(Read("again.txt"), Read("back.txt"));
}

TEST_F(CliAtr, FailuresAndBadArguments)
{
    Write("two.txt", "<A/>\n<B/>\n");
    Write("bad.txt", "<A></B>");
    Write("text.bin", "<A/>");
    struct Case {
        const char* args;
        int status;
        const char* output; // must not exist afterwards
    };
    const Case cases[] = {
        {"pack two.txt -o two.bin", 1, "two.bin"},
        {"pack bad.txt -o bad.bin", 1, "bad.bin"},
        {"pack missing.txt -o m.bin", 1, "m.bin"},
        {"unpack text.bin -o text.txt", 1, "text.txt"},
        {"unpack missing.bin -o m.txt", 1, "m.txt"},
        {"pack two.txt", 2, "two.bin"},
        {"pack two.txt -o", 2, "x"},
        {"pack two.txt -o x.bin --fast", 2, "x.bin"},
        {"unpack a.bin b.bin -o x.txt", 2, "x.txt"},
        {"nosuchjob", 2, "x"},
        {"", 2, "x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.args), c.status) << c.args;
        EXPECT_FALSE(Exists(c.output)) << c.args;
    }
    EXPECT_EQ(Run("--help"), 0);
    EXPECT_NE(out.find("reform"), std::string::npos);
    EXPECT_EQ(Run("pack --help"), 0);
}

TEST_F(CliAtr, ReformPrintsTheChangeLog)
{
    Write("source.txt", "<A x = 1><B/><C/></A>\n");
    Write("target.txt", "<A x = 5, y = 2><C/><D/></A>\n");
    ASSERT_EQ(Run("reform source.txt target.txt -o out.txt"), 0);
    EXPECT_EQ(out, "DELETE ATTRIBUTE [y]\nCREATE NODE [B]\nDESTROY NODE [D]\n");
    EXPECT_EQ(Read("out.txt"), "<A x = 5>\n\t<B />\n\t<C />\n</A>\n");
    ASSERT_EQ(Run("reform source.txt out.txt -o same.txt"), 0);
    EXPECT_EQ(out, "no changes\n");
    Write("other.txt", "<Z/>\n");
    EXPECT_EQ(Run("reform source.txt other.txt -o z.txt"), 1);
    EXPECT_FALSE(Exists("z.txt"));
}

TEST_F(CliAtr, DefsPrintsEveryConstantOldestFirst)
{
    Write("a.h", "enum { A, B = 0x10, C = B << 2 };\n#define X 5\n");
    Write("b.h", "enum { D = -(C + 1), A = A + 100 }; // the later A hides the first\n");
    EXPECT_EQ(Run("defs a.h b.h"), 0);
    EXPECT_EQ(out, "A = 0\nB = 16\nC = 64\nD = -65\nA = 100\n");
    Write("bad.h", "enum { E = UNKNOWN };\n");
    Write("compare.h", "enum { F = 1 < 2 };\n");
    EXPECT_EQ(Run("defs a.h bad.h"), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Run("defs compare.h"), 1);
    EXPECT_EQ(Run("defs missing.h"), 1);
    EXPECT_EQ(Run("defs"), 2);
}
