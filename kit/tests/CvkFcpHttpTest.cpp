#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFcpHttp.h"
#include "kit/CvkFile.h"
#include "kit/CvkFileServer.h"
#include "platform/PlatformTimer.h"

#include "HttpTestServer.h"
#include "KitFileTest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Heaps, an environment with both protocols, and a loopback server on a
// fresh directory.
class CvkFcpHttpTest : public KitFileTest {
protected:
    void SetUp() override
    {
        KitFileTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        env->GetFileServer()->AttachProtocol(CvkFcpHttp::SetUp, CvkFcpHttp::CheckEnableControl);
#ifndef LUMIVOR_HAVE_CURL
        GTEST_SKIP() << "this build has no libcurl for its architecture: the HTTP protocol is built out";
#endif
        ASSERT_TRUE(http.Start(dir.string(), 60)) << "python3 loopback server did not start";
    }
    void TearDown() override
    {
        http.Stop();
        KitFileTest::TearDown();
    }
    void Put(const std::string& name, const std::string& bytes)
    {
        std::ofstream((dir / name).string(), std::ios::binary) << bytes;
    }
    static std::string Pattern(size_t n)
    {
        std::string s(n, 0);
        for (size_t i = 0; i < n; ++i) {
            s[i] = static_cast<char>((i * 131) ^ (i >> 8));
        }
        return s;
    }

    HttpTestServer http;
};

TEST_F(CvkFcpHttpTest, WholeGetAndSize)
{
    const std::string body = Pattern(300000);
    Put("whole.bin", body);
    CvkFile file(http.Url("whole.bin").c_str());
    ASSERT_FALSE(file.CheckError());
    EXPECT_EQ(file.GetSize(), body.size());
    ASSERT_EQ(file.ReadFile(nullptr, 0, 0), 1);
    EXPECT_TRUE(file.CheckReady());
    ASSERT_NE(file.GetBuffer(), nullptr);
    EXPECT_EQ(std::memcmp(file.GetBuffer(), body.data(), body.size()), 0);
    EXPECT_EQ(file.ThreadGetSize(), body.size());
}

TEST_F(CvkFcpHttpTest, OffsetReads)
{
    const std::string body = Pattern(100000);
    Put("part.bin", body);
    CvkFile file(http.Url("part.bin").c_str());
    std::vector<char> buffer(1000);
    ASSERT_EQ(file.ReadFile(buffer.data(), 54321, 1000), 1);
    EXPECT_EQ(std::string(buffer.data(), 1000), body.substr(54321, 1000));
    // Size 0: from the offset to the end.
    ASSERT_EQ(file.ReadFile(nullptr, 99990, 0), 1);
    EXPECT_EQ(std::string(static_cast<char*>(file.GetBuffer()), 10), body.substr(99990));
    // Past the end fails.
    EXPECT_EQ(file.ReadFile(buffer.data(), 99990, 20), 0);
    EXPECT_TRUE(file.CheckError());
}

TEST_F(CvkFcpHttpTest, PutThenGet)
{
    const std::string body = Pattern(65537);
    {
        CvkFile out(http.Url("up.bin").c_str());
        ASSERT_EQ(out.WriteFile(body.data(), static_cast<uint32_t>(body.size())), 1);
        EXPECT_TRUE(out.CheckReady());
    }
    CvkFile in(http.Url("up.bin").c_str());
    ASSERT_EQ(in.ReadFile(nullptr, 0, 0), 1);
    EXPECT_EQ(std::string(static_cast<char*>(in.GetBuffer()), body.size()), body);
    EXPECT_EQ(fs::file_size(dir / "up.bin"), body.size());
}

TEST_F(CvkFcpHttpTest, MissingResourcesFail)
{
    CvkFile missing(http.Url("nothing.bin").c_str());
    EXPECT_EQ(missing.GetSize(), 0u);
    EXPECT_TRUE(missing.CheckError());
    CvkFile missingRead(http.Url("nothing.bin").c_str());
    char b[4];
    EXPECT_EQ(missingRead.ReadFile(b, 0, 4), 0);
    EXPECT_TRUE(missingRead.CheckError());
    CvkFile noDir(http.Url("no/such/dir.bin").c_str());
    EXPECT_EQ(noDir.WriteFile("x", 1), 0) << "the server refuses the PUT";
}

TEST_F(CvkFcpHttpTest, SizeWithoutContentLengthFallsBackToGet)
{
    const std::string body = Pattern(12345);
    Put("nl.bin", body);
    CvkFile file(http.Url("nolength/nl.bin").c_str());
    EXPECT_EQ(file.GetSize(), body.size());
    ASSERT_EQ(file.ReadFile(nullptr, 0, 0), 1);
    EXPECT_EQ(std::string(static_cast<char*>(file.GetBuffer()), body.size()), body);
}

TEST_F(CvkFcpHttpTest, LyingLengthCostsOnlyTheBytesSent)
{
    // The server announces 4,000,000,000 bytes and sends 1,000: the read
    // fails without a buffer the size of the announcement.
    Put("lie.bin", Pattern(1000));
    CvkFile file(http.Url("lying/lie.bin").c_str());
    EXPECT_EQ(file.GetSize(), 4000000000u);
    CvkFile read(http.Url("lying/lie.bin").c_str());
    EXPECT_EQ(read.ReadFile(nullptr, 0, 0), 0);
    EXPECT_TRUE(read.CheckError());
    EXPECT_EQ(read.GetBuffer(), nullptr);
    EXPECT_LT(mainHeap.largest, 1u << 20);
}

TEST_F(CvkFcpHttpTest, SilentServerHitsTheTimeLimit)
{
    const std::string url = "http://127.0.0.1:" + std::to_string(http.silentPort) + "/x.bin";
    CvkFile file(url.c_str());
    const uint64_t start = PlatformMonotonicMicros();
    EXPECT_EQ(file.GetSize(), 0u);
    const uint64_t elapsed = PlatformMonotonicMicros() - start;
    EXPECT_TRUE(file.CheckError());
    EXPECT_GE(elapsed, 2500000u);
    EXPECT_LT(elapsed, 6000000u);
}

TEST_F(CvkFcpHttpTest, RefusedConnectionFailsAtOnce)
{
    // The silent server's port after it is gone: nothing listens there.
    const int port = http.silentPort;
    http.Stop();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/x.bin";
    CvkFile file(url.c_str());
    EXPECT_EQ(file.GetSize(), 0u);
    EXPECT_TRUE(file.CheckError());
}

TEST(CvkFcpHttpCheck, AcceptsOnlyHttpPaths)
{
    EXPECT_EQ(CvkFcpHttp::CheckEnableControl("http://host/x"), 1);
    EXPECT_EQ(CvkFcpHttp::CheckEnableControl("https://host/x"), 0);
    EXPECT_EQ(CvkFcpHttp::CheckEnableControl("C:\\http://"), 0);
}

class CvkFcpHttpBuild : public KitHeapTest {};

TEST_F(CvkFcpHttpBuild, HttpFileWithoutLibcurlIsInError)
{
    CvkEnv* env = new CvkEnv();
    ASSERT_NE(env, nullptr);
    CvkEnvSet(env);
    env->GetFileServer()->AttachProtocol(CvkFcpHttp::SetUp, CvkFcpHttp::CheckEnableControl);
    {
        CvkFile file("http://127.0.0.1:1/x");
#ifdef LUMIVOR_HAVE_CURL
        EXPECT_EQ(CvkFcpHttp::IsAvailable(), 1);
        EXPECT_FALSE(file.CheckError());
#else
        EXPECT_EQ(CvkFcpHttp::IsAvailable(), 0);
        EXPECT_TRUE(file.CheckError());
#endif
    }
    delete env;
    CvkEnvSet(nullptr);
}

} // namespace
