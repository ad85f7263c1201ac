#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFile.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkSystem.h"
#include "kit/CvkVeldra.h"

#include "KitFileTest.h"
#include "platform/PlatformCodePage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Heaps installed, an environment current and the local protocol attached.
class CvkFileTest : public KitFileTest {
protected:
    static void Put(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Get(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(CvkFileTest, WholeReadIntoOwnedBufferAndOffsetRead)
{
    Put(P("a.bin"), "0123456789");
    CvkFile file(P("a.bin").c_str());
    ASSERT_FALSE(file.CheckError());
    EXPECT_EQ(file.GetSize(), 10u);

    ASSERT_EQ(file.ReadFile(nullptr, 0, 0), 1);
    EXPECT_TRUE(file.CheckReady());
    EXPECT_FALSE(file.CheckBusy());
    ASSERT_NE(file.GetBuffer(), nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(file.GetBuffer())), "0123456789");
    EXPECT_EQ(mainHeap.LiveBlocks(), 3) << "current entry, connection and the owned buffer";

    // A second read frees the first owned buffer.
    ASSERT_EQ(file.ReadFile(nullptr, 7, 0), 1);
    EXPECT_EQ(std::string(static_cast<char*>(file.GetBuffer())), "789");

    char buffer[4] = {};
    ASSERT_EQ(file.ReadFile(buffer, 2, 3), 1);
    EXPECT_EQ(std::string(buffer, 3), "234");
    EXPECT_EQ(file.GetBuffer(), nullptr);
}

TEST_F(CvkFileTest, ReadPastTheEndFailsAndDisablesTheFile)
{
    Put(P("short.bin"), "abc");
    CvkFile file(P("short.bin").c_str());
    char buffer[8];
    EXPECT_EQ(file.ReadFile(buffer, 1, 5), 0);
    EXPECT_TRUE(file.CheckError());
    EXPECT_FALSE(file.CheckBusy());
    // Every later call refuses.
    EXPECT_EQ(file.ReadFile(buffer, 0, 1), 0);
    EXPECT_EQ(file.GetSize(), 0u);
}

TEST_F(CvkFileTest, MissingAndEmptyFiles)
{
    CvkFile missing(P("none.bin").c_str());
    EXPECT_FALSE(missing.CheckError()) << "construction does not touch the file system";
    EXPECT_EQ(missing.ReadFile(nullptr, 0, 0), 0);
    EXPECT_TRUE(missing.CheckError());

    Put(P("empty.bin"), "");
    CvkFile empty(P("empty.bin").c_str());
    EXPECT_EQ(empty.ReadFile(nullptr, 0, 0), 0) << "a whole read of nothing fails";

    CvkFile none("");
    EXPECT_TRUE(none.CheckError());
}

TEST_F(CvkFileTest, WriteThenReadBackAndZeroByteWrite)
{
    std::vector<uint8_t> data(70000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7);
    }
    {
        CvkFile out(P("w.bin").c_str());
        ASSERT_EQ(out.WriteFile(data.data(), static_cast<uint32_t>(data.size())), 1);
        EXPECT_TRUE(out.CheckReady());
    }
    const std::string back = Get(P("w.bin"));
    ASSERT_EQ(back.size(), data.size());
    EXPECT_EQ(std::memcmp(back.data(), data.data(), data.size()), 0);

    Put(P("z.bin"), "old content");
    CvkFile zero(P("z.bin").c_str());
    EXPECT_EQ(zero.WriteFile(data.data(), 0), 0);
    EXPECT_TRUE(zero.CheckError());
    EXPECT_TRUE(fs::exists(P("z.bin")));
    EXPECT_EQ(fs::file_size(P("z.bin")), 0u);
}

TEST_F(CvkFileTest, WriteIntoMissingDirectoryFailsOnlyAtTheWrite)
{
    CvkFile out(P("no/such/dir/x.bin").c_str());
    EXPECT_FALSE(out.CheckError());
    EXPECT_EQ(out.WriteFile("x", 1), 0);
    EXPECT_TRUE(out.CheckError());
}

TEST_F(CvkFileTest, FilePrefixAndBackslashSeparators)
{
    fs::create_directories(dir / "sub");
    Put(P("sub/p.txt"), "prefixed");
    // "file://" and the slashes after it are skipped; on this system the
    // extra slash marks the absolute path.
    const std::string url = "file://" + P("sub/p.txt");
    CvkFile viaUrl(url.c_str());
    ASSERT_EQ(viaUrl.ReadFile(nullptr, 0, 0), 1);
    EXPECT_EQ(std::string(static_cast<char*>(viaUrl.GetBuffer())), "prefixed");

    std::string backslashed = P("sub\\p.txt");
    CvkFile viaBackslash(backslashed.c_str());
    EXPECT_EQ(viaBackslash.GetSize(), 8u);

    CvkFile twoParts((dir.string() + "\\sub\\").c_str(), "p.txt");
    EXPECT_EQ(twoParts.GetSize(), 8u);
    EXPECT_STREQ(twoParts.GetExtension(), "txt");
    CvkFile noExtension(P("sub/p").c_str());
    EXPECT_EQ(noExtension.GetExtension(), nullptr);
}

TEST_F(CvkFileTest, JapaneseNamesWithTrailByte5C)
{
    // Directory "表示" and file "ソフト.bin": both contain 0x5C in Shift_JIS.
    const std::string sjisDir = dir.string() + "\\" + PlatformUtf8ToCp932("表示");
    const std::string sjisFile = sjisDir + "\\" + PlatformUtf8ToCp932("ソフト.bin");
    CvkFile file(sjisFile.c_str());
    ASSERT_EQ(file.MakeAllDirectory(sjisDir.c_str()), 1);
    EXPECT_TRUE(fs::is_directory(dir / "表示"));
    ASSERT_EQ(file.WriteFile("kanji", 5), 1);
    EXPECT_EQ(Get((dir / "表示" / "ソフト.bin").string()), "kanji");
    EXPECT_EQ(file.GetSize(), 5u);
    ASSERT_EQ(file.ReadFile(nullptr, 0, 0), 1);
    EXPECT_EQ(std::string(static_cast<char*>(file.GetBuffer())), "kanji");
}

TEST_F(CvkFileTest, DirectoryOperations)
{
    CvkFile tool(P("anything").c_str());
    const std::string one = P("one");
    EXPECT_EQ(tool.MakeDirectory(one.c_str()), 1);
    EXPECT_EQ(tool.MakeDirectory(one.c_str()), 0) << "exists already";
    EXPECT_EQ(tool.MakeDirectory(P("x/y/z").c_str()), 0);
    EXPECT_EQ(tool.MakeAllDirectory(P("x\\y/z").c_str()), 1);
    EXPECT_TRUE(fs::is_directory(dir / "x" / "y" / "z"));
    Put(P("x/y/file"), "f");
    EXPECT_EQ(tool.EraseDirectory(P("x").c_str()), 0) << "not empty";
    EXPECT_EQ(tool.EraseDirectory(one.c_str()), 1);
    EXPECT_EQ(tool.EraseAllDirectory((P("x") + "\\").c_str()), 1);
    EXPECT_FALSE(fs::exists(dir / "x"));
    EXPECT_EQ(tool.EraseAllDirectory(P("x").c_str()), 0) << "nothing there";
    EXPECT_EQ(tool.EraseAllDirectory("/"), 0);
    EXPECT_EQ(tool.EraseAllDirectory("\\\\"), 0);
    EXPECT_EQ(tool.EraseAllDirectory(""), 0);
    EXPECT_TRUE(fs::exists("/tmp"));
}

TEST_F(CvkFileTest, EraseFile)
{
    Put(P("e.bin"), "e");
    CvkFile file(P("e.bin").c_str());
    EXPECT_EQ(file.EraseFile(), 1);
    EXPECT_FALSE(fs::exists(P("e.bin")));
}

void CountReads(void* user) { ++*static_cast<int*>(user); }

TEST_F(CvkFileTest, ReadEndCallback)
{
    Put(P("c.bin"), "cb");
    int reads = 0;
    CvkFile file(P("c.bin").c_str());
    file.SetReadEndCallback(CountReads, &reads);
    char b[2];
    ASSERT_EQ(file.ReadFile(b, 0, 2), 1);
    ASSERT_EQ(file.ReadFile(b, 1, 1), 1);
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(file.ReadFile(b, 5, 1), 0);
    EXPECT_EQ(reads, 2) << "no call after a failed read";
}

// A protocol that records what the server does with it.
struct Probe : CvkFcpBase {
    using CvkFcpBase::CvkFcpBase;
    int ReadFile(void*, uint32_t, uint32_t) override { return 1; }
    int WriteFile(const void*, uint32_t) override { return 1; }
    uint32_t GetSize() override { return 0; }
    void ServerExec() override { ++execs; }
    static inline int execs = 0;
    static CvkFcpBase* SetUp(CvkBase* owner, const char* path, CvkFileReadEndCallback cb, void* user)
    {
        return new Probe(owner, path, cb, user);
    }
    static int Check(const char* path) { return std::strncmp(path, "probe:", 6) == 0; }
    static CvkFcpBase* Refuse(CvkBase*, const char*, CvkFileReadEndCallback, void*) { return nullptr; }
};

TEST_F(CvkFileTest, ServerPicksProtocolsAndRunsConnections)
{
    CvkFileServer* server = env->GetFileServer();
    ASSERT_EQ(server->AttachProtocol(Probe::SetUp, Probe::Check), 1);
    EXPECT_EQ(server->GetProtocol("probe:x"), &Probe::SetUp);
    EXPECT_EQ(server->GetProtocol("/local"), &CvkFcpCurrent::SetUp);

    {
        CvkFile a("probe:a");
        CvkFile b("probe:b");
        CvkFile local(P("l").c_str());
        ASSERT_FALSE(a.CheckError());
        Probe::execs = 0;
        env->ServerExec();
        env->ServerExec();
        EXPECT_EQ(Probe::execs, 4) << "two frames, two probe connections";
        EXPECT_EQ(a.ReadFile(nullptr, 0, 0), 1);
    }
    // Connections are gone with their files: only the two protocol entries remain.
    EXPECT_EQ(mainHeap.LiveBlocks(), 2);

    EXPECT_EQ(server->ConnectStart(nullptr), 1u + 3u);
    server->ConnectFinish(4);
    server->ConnectFinish(12345); // unknown: ignored
    EXPECT_EQ(mainHeap.LiveBlocks(), 2);

    ASSERT_EQ(server->AttachCurrentProtocol(Probe::Refuse, nullptr), 1);
    CvkFile refused(P("r").c_str());
    EXPECT_TRUE(refused.CheckError());
    ASSERT_EQ(server->AttachCurrentProtocol(nullptr, nullptr), 1);
    EXPECT_EQ(server->GetProtocol("/x"), nullptr);
    CvkFile noProtocol(P("r").c_str());
    EXPECT_TRUE(noProtocol.CheckError());
}

TEST_F(CvkFileTest, FileWithoutEnvironmentIsInError)
{
    CvkEnvSet(nullptr);
    CvkFile file(P("x").c_str());
    EXPECT_TRUE(file.CheckError());
    EXPECT_EQ(file.WriteFile("x", 1), 0);
    CvkEnvSet(env);
}

TEST(CvkFcpBaseTest, MoveNextPrefixEnd)
{
    const char* text = "file:///\\x";
    EXPECT_STREQ(CvkFcpBase::MoveNextPrefixEnd(text, "file://", 7), "x");
    EXPECT_EQ(CvkFcpBase::MoveNextPrefixEnd("C:/x", "file://", 7), std::string("C:/x"));
    EXPECT_EQ(CvkFcpCurrent::ToSystemPath("file:///tmp/a\\b"), "/tmp/a/b");
    EXPECT_EQ(CvkFcpCurrent::ToSystemPath("file://C:\\x"), "C:/x");
    EXPECT_EQ(CvkFcpCurrent::ToSystemPath(PlatformUtf8ToCp932("表\\ソ").c_str()), "表/ソ");
}

} // namespace
