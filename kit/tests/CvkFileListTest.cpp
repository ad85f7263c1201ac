#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileList.h"
#include "kit/CvkFileServer.h"

#include "KitFileTest.h"
#include "platform/PlatformBytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Tag(const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), 4); }

class CvkFileListTest : public KitFileTest {
protected:
    // A three-entry package: "alpha" (5 bytes), a null entry, "gamma.bin" (40 bytes).
    std::vector<uint8_t> MakeImage(uint32_t align = 16)
    {
        CvkFileList list;
        list.SetAlignSize(align);
        EXPECT_EQ(list.AddBuffer("hello", 5, 1, "alpha"), 0);
        EXPECT_EQ(list.AddNull(), 1);
        std::string big(40, 'g');
        EXPECT_EQ(list.AddBuffer(big.data(), 40, 1, "gamma.bin"), 2);
        const auto* image = static_cast<const uint8_t*>(list.CreateChunk());
        EXPECT_NE(image, nullptr);
        return image != nullptr ? std::vector<uint8_t>(image, image + list.GetChunkSize()) : std::vector<uint8_t>();
    }
};

TEST_F(CvkFileListTest, ThreeEntryLayoutAndRoundTrip)
{
    const std::vector<uint8_t> image = MakeImage();
    // FILS root 48 + FILE 32+5→48 + FILE 32 + FILE 32+40→80 + FLNM 32+(8+4+12)→64 + EOFC 32.
    ASSERT_EQ(image.size(), 48u + 48 + 32 + 80 + 64 + 32);
    const uint8_t* p = image.data();
    EXPECT_EQ(Tag(p), "FILS");
    EXPECT_EQ(PlatformGetLe32(p + 4), 48u + 32 + 80);  // size: the FILE chunks
    EXPECT_EQ(PlatformGetLe32(p + 8), 48u);            // headSize
    EXPECT_EQ(PlatformGetLe32(p + 20), 48u);           // child
    EXPECT_EQ(PlatformGetLe32(p + 24), 48u + 160);     // sibling: FLNM
    EXPECT_EQ(PlatformGetLe32(p + 32), 3u);
    EXPECT_EQ(PlatformGetLe32(p + 36), 0xFFFFFFFFu);
    EXPECT_EQ(PlatformGetLe32(p + 40), 16u);
    EXPECT_EQ(Tag(p + 48), "FILE");
    EXPECT_EQ(PlatformGetLe32(p + 48 + 4), 5u);
    EXPECT_EQ(PlatformGetLe32(p + 48 + 24), 48u);
    EXPECT_EQ(std::memcmp(p + 48 + 32, "hello\0\0\0", 8), 0);
    EXPECT_EQ(Tag(p + 208), "FLNM");
    EXPECT_EQ(PlatformGetLe32(p + 208 + 24), 64u);
    EXPECT_EQ(PlatformGetLe32(p + 208 + 4), 32u);
    EXPECT_EQ(std::memcmp(p + 240, "alpha\0\0\0\0\0\0\0gamma.bin\0\0\0", 24), 0);
    EXPECT_EQ(Tag(p + 272), "EOFC");

    CvkFileList back(image.data(), static_cast<uint32_t>(image.size()));
    ASSERT_FALSE(back.CheckError());
    ASSERT_EQ(back.GetFileNum(), 3);
    EXPECT_STREQ(back.GetFileName(0), "alpha");
    EXPECT_EQ(back.GetFileName(1), nullptr);
    EXPECT_STREQ(back.GetFileName(2), "gamma.bin");
    EXPECT_EQ(back.GetFileSize(0), 5u);
    EXPECT_EQ(back.GetFileSize(1), 0u);
    EXPECT_EQ(back.GetFileSize("gamma.bin"), 40u);
    EXPECT_EQ(std::memcmp(back.GetFileBuffer(0), "hello", 5), 0);
    EXPECT_EQ(std::memcmp(back.GetFileBuffer(2), std::string(40, 'g').data(), 40), 0);
    EXPECT_EQ(back.GetFileIndex("gamma.bin", CVK_FILELIST_KIND_DATA), 2);
    EXPECT_EQ(back.GetFileIndex("Gamma.bin", CVK_FILELIST_KIND_DATA), -1);
    // Rebuilding the read package gives the same bytes.
    ASSERT_EQ(back.GetChunkSize(), image.size());
    EXPECT_EQ(std::memcmp(back.CreateChunk(), image.data(), image.size()), 0);
    back.SwapFile(0, 2);
    EXPECT_STREQ(back.GetFileName(0), "gamma.bin");
    const std::vector<uint8_t> swapped(static_cast<const uint8_t*>(back.CreateChunk()),
                                       static_cast<const uint8_t*>(back.CreateChunk()) + back.GetChunkSize());
    CvkFileList again(swapped.data(), static_cast<uint32_t>(swapped.size()));
    EXPECT_STREQ(again.GetFileName(2), "alpha");
    EXPECT_EQ(std::memcmp(again.GetFileBuffer(2), "hello", 5), 0);
}

TEST_F(CvkFileListTest, OtherAlignmentAndFiles)
{
    std::ofstream((dir / "one.txt").string(), std::ios::binary) << "file one";
    const std::string onePath = (dir / "one.txt").string();
    {
        CvkFileList list;
        list.SetAlignSize(64);
        EXPECT_EQ(list.AddFile(onePath.c_str()), 0);
        EXPECT_EQ(list.AddFile(onePath.c_str()), -1) << "already present with that kind";
        EXPECT_EQ(list.AddFile((dir / "missing").string().c_str()), -1);
        EXPECT_EQ(list.AddFile(""), -1);
        EXPECT_EQ(list.AddBuffer("first", 5, 0, "inserted", 0), 0);
        EXPECT_EQ(list.AddBuffer("x", 1, 1, "last", 99), 2);
        EXPECT_EQ(list.GetFileSize(1), 8u);
        ASSERT_EQ(list.OutputBinary((dir / "pack.bin").string().c_str()), 1);
        EXPECT_EQ((list.GetChunkSize() - 32) % 64, 0u) << "the end chunk starts on the alignment";
    }
    CvkFileList back((dir / "pack.bin").string().c_str());
    ASSERT_FALSE(back.CheckError());
    ASSERT_EQ(back.GetFileNum(), 3);
    EXPECT_EQ(back.GetAlignSize(), 64u);
    EXPECT_STREQ(back.GetFileName(0), "inserted");
    EXPECT_STREQ(back.GetFileName(1), onePath.c_str());
    EXPECT_EQ(std::string(static_cast<const char*>(back.GetFileBuffer(1)), 8), "file one");
    EXPECT_STREQ(back.GetFileName(2), "last");

    CvkFileList missing((dir / "nothing.bin").string().c_str());
    EXPECT_TRUE(missing.CheckError());
}

TEST_F(CvkFileListTest, FileChangedAfterAddingIsAnError)
{
    const std::string path = (dir / "grow.txt").string();
    std::ofstream(path, std::ios::binary) << "abc";
    CvkFileList list;
    ASSERT_EQ(list.AddFile(path.c_str()), 0);
    std::ofstream(path, std::ios::binary) << "abcdef";
    EXPECT_EQ(list.CreateChunk(), nullptr);
    EXPECT_TRUE(list.CheckError());
}

TEST_F(CvkFileListTest, FullList)
{
    CvkFileList list;
    for (int i = 0; i < CVK_FILELIST_MAX_ENTRIES; ++i) {
        ASSERT_EQ(list.AddNull(), i);
    }
    EXPECT_EQ(list.AddNull(), -1);
    EXPECT_FALSE(list.CheckError());
}

TEST_F(CvkFileListTest, MalformedImagesAreRefused)
{
    const std::vector<uint8_t> good = MakeImage();
    struct Case {
        const char* what;
        size_t offset; // word to overwrite (SIZE_MAX: none)
        uint32_t value;
        size_t keep;   // bytes of the image given (0: all)
    } cases[] = {
        {"truncated before the end chunk", SIZE_MAX, 0, good.size() - 1},
        {"truncated inside the root", SIZE_MAX, 0, 40},
        {"empty", SIZE_MAX, 0, 0},
        {"wrong root tag", 0, 0x53494C47, 0},
        {"entry count above 4096", 32, 4097, 0},
        {"more entries than chunks", 32, 4, 0},
        {"name table sibling off the end", 208 + 24, 0x7FFFFFF0, 0},
        {"names sibling into the middle", 208 + 24, 40, 0},
        {"root sibling outside", 24, 0xFFFFFFF0, 0},
        {"file sibling outside", 48 + 24, 0x80000000, 0},
        {"file sibling zero", 48 + 24, 0, 0},
        {"file data larger than its chunk", 48 + 4, 1000, 0},
        {"root child past the names", 20, 0x10000, 0},
        {"alignment zero", 40, 0, 0},
        {"root header reaching into the names", 8, 250, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bad = good;
        if (c.offset != SIZE_MAX) {
            PlatformPutLe32(bad.data() + c.offset, c.value);
        }
        const size_t n = c.keep != 0 || c.offset != SIZE_MAX ? (c.keep != 0 ? c.keep : bad.size()) : 0;
        // Exactly the given bytes, so ASan sees any read beyond them.
        std::vector<uint8_t> exact(bad.begin(), bad.begin() + static_cast<std::ptrdiff_t>(n));
        CvkFileList list(exact.empty() ? nullptr : exact.data(), static_cast<uint32_t>(exact.size()));
        EXPECT_TRUE(list.CheckError());
        EXPECT_EQ(list.GetFileNum(), 0);
        EXPECT_EQ(list.GetFileBuffer(0), nullptr);
    }
    // A name table without the closing zero of the last name.
    std::vector<uint8_t> unterminated = good;
    std::memset(unterminated.data() + 240, 'n', 32);
    CvkFileList list(unterminated.data(), static_cast<uint32_t>(unterminated.size()));
    EXPECT_TRUE(list.CheckError());
}

} // namespace
