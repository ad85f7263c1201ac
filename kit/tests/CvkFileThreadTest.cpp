#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFile.h"
#include "kit/CvkFileServer.h"
#include "platform/PlatformNamedLock.h"

#include "KitFileTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class CvkFileThreadTest : public KitFileTest {
protected:
    void SetUp() override
    {
        KitFileTest::SetUp();
        // The lock file lives in the runtime directory: a private one keeps
        // test programs that run at the same time apart.
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    void TearDown() override
    {
        CvkFileCloseAccessMutex();
        KitFileTest::TearDown();
    }
    // Polls the busy flag for up to five seconds; true when it cleared.
    static bool WaitIdle(CvkFile& file)
    {
        for (int i = 0; i < 5000 && file.CheckBusy(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return !file.CheckBusy();
    }

    CvkEnv* env = nullptr;
    fs::path dir;
};

TEST_F(CvkFileThreadTest, WorkerReadWriteAndSizeWithAndWithoutTheLock)
{
    for (int withLock = 0; withLock < 2; ++withLock) {
        SCOPED_TRACE(withLock ? "lock created by the host" : "no lock: unserialised");
        if (withLock) {
            ASSERT_EQ(CvkFileCreateAccessMutex(), 1);
        }
        const std::string body(100000, static_cast<char>('a' + withLock));
        {
            CvkFile out(P("t.bin").c_str());
            ASSERT_EQ(out.ThreadWriteFile(body.data(), static_cast<uint32_t>(body.size())), 1);
            ASSERT_TRUE(WaitIdle(out));
            EXPECT_TRUE(out.CheckReady());
            EXPECT_FALSE(out.CheckError());
        }
        CvkFile in(P("t.bin").c_str());
        ASSERT_EQ(in.ThreadReadSize(), 1);
        ASSERT_TRUE(WaitIdle(in));
        EXPECT_EQ(in.ThreadGetSize(), body.size());
        ASSERT_EQ(in.ThreadReadFile(nullptr, 0, 0), 1);
        ASSERT_TRUE(WaitIdle(in));
        ASSERT_TRUE(in.CheckReady());
        EXPECT_EQ(std::memcmp(in.GetBuffer(), body.data(), body.size()), 0);

        CvkFile missing(P("none").c_str());
        ASSERT_EQ(missing.ThreadReadFile(nullptr, 0, 0), 1);
        ASSERT_TRUE(WaitIdle(missing));
        EXPECT_TRUE(missing.CheckError());
        EXPECT_EQ(missing.ThreadReadFile(nullptr, 0, 0), 0) << "a file in error refuses";
        CvkFileCloseAccessMutex();
    }
}

TEST_F(CvkFileThreadTest, WorkerWaitsForTheLock)
{
    ASSERT_EQ(CvkFileCreateAccessMutex(), 1);
    std::ofstream(P("w.bin"), std::ios::binary) << "locked";
    // Another holder of the lock (as another process would be).
    PlatformNamedLock* other = PlatformNamedLockOpen("CVK_FILE_ACCESS_MUTEX");
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(PlatformNamedLockLock(other));

    CvkFile file(P("w.bin").c_str());
    ASSERT_EQ(file.ThreadReadFile(nullptr, 0, 0), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(file.CheckBusy()) << "the worker runs only once the lock is free";
    EXPECT_FALSE(file.CheckReady());
    PlatformNamedLockUnlock(other);
    ASSERT_TRUE(WaitIdle(file));
    EXPECT_TRUE(file.CheckReady());
    EXPECT_EQ(std::string(static_cast<char*>(file.GetBuffer())), "locked");
    PlatformNamedLockClose(other);
}

TEST_F(CvkFileThreadTest, DestructionWaitsForTheWorker)
{
    const std::string body(4 << 20, 'z');
    std::ofstream(P("big.bin"), std::ios::binary) << body;
    for (int i = 0; i < 5; ++i) {
        CvkFile file(P("big.bin").c_str());
        ASSERT_EQ(file.ThreadReadFile(nullptr, 0, 0), 1);
        // Destroyed at once: the worker must finish before the buffer goes.
    }
    EXPECT_EQ(mainHeap.LiveBlocks(), 1) << "only the server's current entry";
}

TEST(PlatformNamedLockTest, OpenNeedsACreator)
{
    const fs::path runtime = fs::temp_directory_path() / ("lumivor_lock_" + std::to_string(getpid()));
    fs::create_directories(runtime);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    PlatformNamedLockRemove("lumivor-test-lock");
    EXPECT_EQ(PlatformNamedLockOpen("lumivor-test-lock"), nullptr);
    PlatformNamedLock* created = PlatformNamedLockCreate("lumivor-test-lock");
    ASSERT_NE(created, nullptr);
    PlatformNamedLock* opened = PlatformNamedLockOpen("lumivor-test-lock");
    ASSERT_NE(opened, nullptr);
    PlatformNamedLockClose(opened);
    PlatformNamedLockClose(created);
    PlatformNamedLockRemove("lumivor-test-lock");
    EXPECT_EQ(PlatformNamedLockOpen("lumivor-test-lock"), nullptr);
    fs::remove_all(runtime);
}

} // namespace
