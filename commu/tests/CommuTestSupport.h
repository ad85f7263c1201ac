#pragma once
// Support of the communication tests: a fixture with counting heaps and a
// private service directory, and a forked child process that plays the
// other side of a conversation.

#include "kit/tests/CountingTestHeap.h"
#include "platform/tests/ScratchDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// Counting heaps in the kit's slots, and XDG_RUNTIME_DIR pointed at a fresh
// temporary directory, so the services of one test meet no others.
class CommuTest : public KitHeapTest {
protected:
    void SetUp() override
    {
        KitHeapTest::SetUp();
        ASSERT_FALSE(m_runtimeDir.empty());
        setenv("XDG_RUNTIME_DIR", m_runtimeDir.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("XDG_RUNTIME_DIR");
        KitHeapTest::TearDown();
    }

    ScratchDir m_runtime{"lumivor-commu-test"};
    std::string m_runtimeDir = m_runtime.Path();
};

// A forked child running body; its exit status is body's result. The child
// may call SignalReady once to release the parent's WaitReady.
class ChildProcess {
public:
    explicit ChildProcess(const std::function<int()>& body)
    {
        int fds[2] = {-1, -1};
        if (pipe(fds) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            ReadyFd() = fds[1];
            _exit(body() & 0xFF);
        }
        close(fds[1]);
        m_readyFd = fds[0];
    }
    ~ChildProcess()
    {
        Kill();
        if (m_readyFd >= 0) {
            close(m_readyFd);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    static void SignalReady()
    {
        const char byte = 1;
        if (write(ReadyFd(), &byte, 1) != 1) {
            _exit(99);
        }
    }
    bool WaitReady(int timeoutMs = 10000)
    {
        pollfd p{m_readyFd, POLLIN, 0};
        char byte = 0;
        return poll(&p, 1, timeoutMs) == 1 && read(m_readyFd, &byte, 1) == 1;
    }
    bool Running()
    {
        if (m_pid <= 0) {
            return false;
        }
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            m_pid = -1;
            return false;
        }
        return true;
    }
    // The child's exit status; a child still running after timeoutMs is
    // killed and gives -1.
    int Wait(int timeoutMs = 30000)
    {
        for (int waited = 0; Running() && waited < timeoutMs; waited += 10) {
            usleep(10000);
        }
        Kill();
        return m_status;
    }
    void Kill()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }
    pid_t Pid() const { return m_pid; }

private:
    static int& ReadyFd()
    {
        static int fd = -1;
        return fd;
    }

    pid_t m_pid = -1;
    int m_readyFd = -1;
    int m_status = -1;
};
