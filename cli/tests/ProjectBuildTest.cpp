// lumivor build on a copy of the example project: a full build, a rebuild
// with nothing changed runs no edge, touching one input reruns exactly the
// edges that read it (an included script, an embedded file, an image), and
// the outputs are the very bytes of the tools run one by one.
#include "platform/tests/ScratchDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::string kLumivor = LUMIVOR_PATH;

class ProjectBuildTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir.empty());
        ASSERT_EQ(Shell("cp -r '" LUMIVOR_SOURCE_DIR "/examples/project/.' '" + dir + "/'"), 0);
        ASSERT_EQ(Shell("rm -rf '" + dir + "/build'"), 0);
    }
    void TearDown() override
    {
        for (const char* pidFile : {"watch.pid", "serve.pid"})
            if (Alive(pidFile)) kill(std::atoi(Read(dir + "/" + pidFile).c_str()), SIGTERM);
    }

    static int Shell(const std::string& command)
    {
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Read(const std::string& path) const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Runs lumivor build on the copy; its exit status, with the output in `log`.
    int Build(const std::string& options = "")
    {
        const int status = Shell("'" + kLumivor + "' build -C '" + dir + "' " + options + " > '" + dir + "/log.txt' 2>&1");
        log = Read(dir + "/log.txt");
        return status;
    }
    // The first output of every edge Ninja ran ("[1/3] script /x/out/a.bin"),
    // relative to the output tree. A tool's progress without a line end may
    // come before Ninja's line, so the marks are searched anywhere.
    std::set<std::string> EdgesRun() const
    {
        std::set<std::string> outputs;
        const std::regex edge("\\[[0-9]+/[0-9]+\\] [a-z]+ " + std::regex_replace(dir, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&") +
                              "/build/out/([^ \n]+)");
        for (auto m = std::sregex_iterator(log.begin(), log.end(), edge); m != std::sregex_iterator(); ++m)
            outputs.insert((*m)[1]);
        return outputs;
    }

    // Whether the process whose id the file `pidFile` of the copy holds still runs.
    bool Alive(const std::string& pidFile) const
    {
        const std::string pid = Read(dir + "/" + pidFile);
        return !pid.empty() && kill(std::atoi(pid.c_str()), 0) == 0;
    }

    ScratchDir scratch{"project-build"};
    std::string dir = scratch.Path();
    std::string log;
};

TEST_F(ProjectBuildTest, RebuildsExactlyWhatDependsOnAChangedInput)
{
    ASSERT_EQ(Build("-j 2"), 0) << log;
    EXPECT_EQ(EdgesRun(), (std::set<std::string>{"help.bmp", "images/icons.idx", "images565/icons.rgb565.raw",
                                                 "menu.bin", "script/intro.bin", "script/menu.bin",
                                                 "sounds/chime.zaf", "sounds/click.zaf"}));
    ASSERT_EQ(Build(), 0) << log;
    EXPECT_NE(log.find("ninja: no work to do."), std::string::npos) << log;

    const struct {
        const char* touched;
        std::set<std::string> rebuilt;
    } cases[] = {
        {"script/keys.drs", {"script/menu.bin"}},
        {"script/MenuInstruction.def", {"script/menu.bin", "script/intro.bin"}},
        {"menu/logo.bin", {"menu.bin"}},
        {"menu/menu_ids.h", {"menu.bin"}},
        {"images/icons.png", {"images/icons.idx", "images565/icons.rgb565.raw"}},
        {"sounds/click.wav", {"sounds/click.zaf"}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Shell("touch '" + dir + "/" + c.touched + "'"), 0);
        ASSERT_EQ(Build(), 0) << log;
        EXPECT_EQ(EdgesRun(), c.rebuilt) << c.touched << "\n" << log;
    }
}

TEST_F(ProjectBuildTest, WritesTheBytesOfTheToolsRunOneByOne)
{
    ASSERT_EQ(Build(), 0) << log;
    const std::string by = dir + "/by-hand/";
    const std::string run = "mkdir -p '" + by + "' && cd '" + dir + "/menu' && '" + kLumivor +
                            "' bundle instance.atr template.atr -o '" + by + "menu.bin' --code MENU --defs menu_ids.h"
                            " && cd ../script && '" + kLumivor + "' script menu.drs -I . --fixed 12 -o '" + by +
                            "menu.drs.bin' && cd .. && '" + kLumivor + "' reduce images/icons.png -o '" + by +
                            "' --colors 64 && '" + kLumivor + "' qr https://example.com/menu/help -o '" + by +
                            "help.bmp' --png";
    ASSERT_EQ(Shell("(" + run + ") > /dev/null 2>&1"), 0);
    const std::string out = dir + "/build/out/";
    const std::pair<std::string, std::string> same[] = {
        {"menu.bin", "menu.bin"},           {"script/menu.bin", "menu.drs.bin"}, {"images/icons.idx", "icons.idx"},
        {"images/icons.pal", "icons.pal"}, {"help.bmp", "help.bmp"},            {"help.png", "help.png"},
    };
    for (const auto& [built, byHand] : same) {
        const std::string a = Read(out + built), b = Read(by + byHand);
        EXPECT_FALSE(a.empty()) << built;
        EXPECT_TRUE(a == b) << built << " differs from " << byHand;
    }
}

TEST_F(ProjectBuildTest, ReportsAManifestErrorWithItsLine)
{
    std::ofstream(dir + "/lumivor.atr") << "<Project>\n<Qr text = \"A\", output = \"a.bmp\" />\n<Sprite />\n</Project>\n";
    EXPECT_EQ(Build(), 1);
    EXPECT_NE(log.find(dir + "/lumivor.atr:3: unknown element <Sprite>"), std::string::npos) << log;
}

// A bounded watch: the tool's server takes one command; the watcher stops
// after one rebuild. Editing the included script pushes the one output that
// changed, and the server receives its very bytes.
TEST_F(ProjectBuildTest, WatchRebuildsAndPushesTheChangedOutput)
{
    ASSERT_EQ(Build(), 0) << log;
    const std::string received = dir + "/received";
    ASSERT_EQ(Shell("cd '" + dir + "' && (timeout 60 '" + kLumivor + "' link serve --port 0 --dir '" + received +
                    "' --count 1 > serve.txt 2>&1 & echo $! > serve.pid)"),
              0);
    std::string port;
    for (int i = 0; i < 200 && port.empty(); ++i) {
        const std::string text = Read(dir + "/serve.txt");
        const size_t at = text.find("listening on port ");
        if (at != std::string::npos && text.find('\n', at) != std::string::npos)
            port = text.substr(at + 18, text.find('\n', at) - at - 18);
        else
            usleep(50000);
    }
    ASSERT_FALSE(port.empty()) << Read(dir + "/serve.txt");
    ASSERT_EQ(Shell("cd '" + dir + "' && (timeout 60 '" + kLumivor + "' build -C . --watch --push 127.0.0.1:" + port +
                    " --rebuilds 1 > watch.txt 2>&1 & echo $! > watch.pid)"),
              0);
    for (int i = 0; i < 400 && Read(dir + "/watch.txt").find("watching") == std::string::npos; ++i) usleep(50000);
    ASSERT_NE(Read(dir + "/watch.txt").find("watching"), std::string::npos) << Read(dir + "/watch.txt");

    std::ofstream(dir + "/script/keys.drs", std::ios::app) << "// edited\n";
    // Both programs end by themselves: one rebuild, one command.
    for (int i = 0; i < 600 && (Alive("watch.pid") || Alive("serve.pid")); ++i) usleep(50000);
    const std::string watchLog = Read(dir + "/watch.txt");
    EXPECT_FALSE(Alive("watch.pid")) << watchLog;
    EXPECT_NE(watchLog.find("pushed script/menu.bin"), std::string::npos) << watchLog;
    EXPECT_EQ(watchLog.find("pushed script/intro.bin"), std::string::npos) << watchLog;
    const std::string built = Read(dir + "/build/out/script/menu.bin");
    EXPECT_FALSE(built.empty());
    EXPECT_TRUE(Read(received + "/script/menu.bin") == built) << Read(dir + "/serve.txt");
}

} // namespace
