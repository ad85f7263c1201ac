// lumivor link serve / send as their users run them: a command and a file
// end to end over 127.0.0.1, and the failures that must end with exit 1.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class LinkCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("commu_cli_" + std::to_string(::getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override
    {
        if (m_serve > 0) {
            ::kill(m_serve, SIGKILL);
            ::waitpid(m_serve, nullptr, 0);
        }
        fs::remove_all(m_dir);
    }

    // Starts `lumivor link serve` with extra arguments; returns its port.
    int StartServe(const std::string& extra)
    {
        const std::string command = std::string("exec ") + LUMIVOR_PATH + " link serve --port 0 --dir '" +
                                    (m_dir / "in").string() + "' " + extra + " > '" + (m_dir / "serve.out").string() +
                                    "' 2> '" + (m_dir / "serve.err").string() + "'";
        m_serve = ::fork();
        if (m_serve == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500; ++i) {
            const std::string err = ReadAll(m_dir / "serve.err");
            const size_t at = err.find("listening on port ");
            if (at != std::string::npos && err.find('\n', at) != std::string::npos) {
                return std::atoi(err.c_str() + at + 18);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return 0;
    }

    // Waits (bounded) for serve to end; its exit status, or -1.
    int WaitServe()
    {
        for (int i = 0; i < 1000; ++i) {
            int status = 0;
            if (::waitpid(m_serve, &status, WNOHANG) == m_serve) {
                m_serve = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    int Run(const std::string& arguments)
    {
        const std::string command = std::string(LUMIVOR_PATH) + " link " + arguments + " >> '" +
                                    (m_dir / "send.out").string() + "' 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path m_dir;
    pid_t m_serve = 0;
};

TEST_F(LinkCliTest, CommandAndFileEndToEnd)
{
    const int port = StartServe("--count 2");
    ASSERT_GT(port, 0) << ReadAll(m_dir / "serve.err");
    {
        std::ofstream data(m_dir / "scene.bin", std::ios::binary);
        for (int i = 0; i < 200000; ++i) data.put(static_cast<char>(i * 31));
    }
    {
        std::ofstream command(m_dir / "command.txt");
        command << "<VELDRA To = 0><COMMU><root MachineName = \"elsewhere\", PortNo = 1 /></COMMU>"
                   "<MSG><MSGBUF /></MSG></VELDRA>\n";
    }
    const std::string at = " --host 127.0.0.1 --port " + std::to_string(port);
    ASSERT_EQ(Run("send --message 0,1000,9,scene.bin,2.5" + at + " --file '" + (m_dir / "scene.bin").string() +
                  "' --name ./sub/scene.bin"),
              0)
        << ReadAll(m_dir / "send.out");
    ASSERT_EQ(Run("send '" + (m_dir / "command.txt").string() + "'" + at), 0) << ReadAll(m_dir / "send.out");
    ASSERT_EQ(WaitServe(), 0);

    const std::string out = ReadAll(m_dir / "serve.out");
    EXPECT_EQ(out.find("command To=0 messages=1\n<VELDRA To = 0>"), 0u) << out;
    EXPECT_NE(out.find("<VAR Type = 3, Val = \"scene.bin\" />"), std::string::npos) << out;
    EXPECT_NE(out.find("command To=0 messages=0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("MachineName = \"127.0.0.1\", PortNo = " + std::to_string(port)), std::string::npos)
        << "the options override the file's settings: " << out;
    EXPECT_EQ(ReadAll(m_dir / "in" / "sub" / "scene.bin"), ReadAll(m_dir / "scene.bin"));
}

TEST_F(LinkCliTest, FailuresExitWithOne)
{
    const int port = StartServe("");
    ASSERT_GT(port, 0);
    const std::string at = " --host 127.0.0.1 --port " + std::to_string(port);
    // A missing file: nothing is sent at all.
    EXPECT_EQ(Run("send --message 0,1,9" + at + " --file '" + (m_dir / "missing.bin").string() + "'"), 1);
    // The port is taken.
    EXPECT_EQ(Run("serve --port " + std::to_string(port) + " --count 1"), 1);
    EXPECT_NE(ReadAll(m_dir / "send.out").find("cannot listen on port"), std::string::npos);
    ::kill(m_serve, SIGTERM);
    EXPECT_EQ(WaitServe(), 0) << "SIGTERM ends serve normally";
    EXPECT_EQ(ReadAll(m_dir / "serve.out"), "") << "no command arrived";
    // Nobody listens any more.
    EXPECT_EQ(Run("send --message 0,1,9" + at), 1);
    EXPECT_NE(ReadAll(m_dir / "send.out").find("cannot connect to 127.0.0.1"), std::string::npos)
        << ReadAll(m_dir / "send.out");
    EXPECT_EQ(Run("send --message 0,1" + at), 2);
}

TEST_F(LinkCliTest, LocalTransportServesPokesAndRefusesWhatIsAbsentOrTaken)
{
    // Services of this test live in a private directory of its own.
    const fs::path runtime = m_dir / "rt";
    fs::create_directories(runtime);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    EXPECT_EQ(Run("bus-send viewer --message 3,1,9"), 1) << "no such service";
    EXPECT_NE(ReadAll(m_dir / "send.out").find("no live service 'viewer'"), std::string::npos);

    const std::string command = std::string("exec ") + LUMIVOR_PATH +
                                " link bus-serve --service viewer --count 2 > '" + (m_dir / "serve.out").string() +
                                "' 2> '" + (m_dir / "serve.err").string() + "'";
    m_serve = ::fork();
    if (m_serve == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 500 && ReadAll(m_dir / "serve.err").find("serving") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(Run("bus-serve --service viewer --count 1"), 1) << "the name is taken";
    EXPECT_EQ(Run("services"), 0);
    EXPECT_NE(ReadAll(m_dir / "send.out").find("\nviewer\n"), std::string::npos) << ReadAll(m_dir / "send.out");
    {
        std::ofstream text(m_dir / "command.txt");
        text << "<VELDRA To = 1><MSG><MSGBUF /></MSG></VELDRA>\n";
    }
    EXPECT_EQ(Run("bus-send viewer --message 3,700,9,hello"), 0);
    EXPECT_EQ(Run("bus-send viewer '" + (m_dir / "command.txt").string() + "'"), 0);
    EXPECT_EQ(WaitServe(), 0);
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string out = ReadAll(m_dir / "serve.out");
    EXPECT_EQ(out.find("command To=0 messages=1\n<VELDRA To = 0>"), 0u) << out;
    EXPECT_NE(out.find("Val = \"hello\""), std::string::npos) << out;
    EXPECT_NE(out.find("command To=1 messages=0\n"), std::string::npos) << out;
}

} // namespace
