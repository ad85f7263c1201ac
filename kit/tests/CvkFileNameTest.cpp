#include "kit/CvkFileName.h"

#include "CountingTestHeap.h"
#include "platform/PlatformCodePage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class CvkFileNameTest : public KitHeapTest {
protected:
    std::string S(const CvString& s) { return std::string(s.GetBuffer(), static_cast<size_t>(s.GetLength())); }
    void SetUp() override
    {
        KitHeapTest::SetUp();
        names = new CvkFileName();
        ASSERT_NE(names, nullptr);
    }
    void TearDown() override
    {
        delete names; // its current directory lives in the buffer heap
        KitHeapTest::TearDown();
    }
    CvkFileName* names = nullptr;
};

TEST_F(CvkFileNameTest, DirectoryAndNameParts)
{
    struct Case {
        const char* path;
        const char* dir;
        const char* parent;
        const char* pure;
        const char* ext;
    } cases[] = {
        {"C:\\a\\b\\c.txt", "C:\\a\\b\\", "C:\\a\\", "c.txt", "txt"},
        {"dir/sub/file.tar.gz", "dir/sub/", "dir/", "file.tar.gz", "gz"},
        {"mixed\\sub/x", "mixed\\sub/", "mixed\\", "x", ""},
        {"plain", "plain", "plain", "plain", ""},
        // The separator at index 0 is not searched.
        {"\\top", "\\top", "\\top", "\\top", ""},
        {"C:\\a\\", "C:\\a\\", "C:\\", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(S(names->GetDir(c.path)), c.dir);
        EXPECT_EQ(S(names->GetParentDir(c.path)), c.parent);
        EXPECT_EQ(S(names->GetPureFileName(c.path)), c.pure);
        EXPECT_EQ(S(names->GetExtension(c.path)), c.ext);
    }
}

TEST_F(CvkFileNameTest, TrailByte5CIsNotASeparator)
{
    // "表示\ソフト.txt" in Shift_JIS: both 表 (95 5C) and ソ (83 5C) end in 0x5C.
    const std::string path = PlatformUtf8ToCp932("表示\\ソフト.txt");
    ASSERT_NE(path.find('\x5C'), path.rfind('\x5C'));
    const std::string dir = PlatformUtf8ToCp932("表示\\");
    const std::string pure = PlatformUtf8ToCp932("ソフト.txt");
    EXPECT_EQ(S(names->GetDir(path.c_str())), dir);
    EXPECT_EQ(S(names->GetPureFileName(path.c_str())), pure);
    EXPECT_EQ(S(names->GetDir(PlatformUtf8ToCp932("ソ").c_str())), PlatformUtf8ToCp932("ソ"));
}

TEST_F(CvkFileNameTest, ExtensionsReplacedAndCompared)
{
    EXPECT_EQ(S(names->ReplaceExtension("a\\b.txt", "bin")), "a\\b.bin");
    EXPECT_EQ(S(names->ReplaceExtension("a\\b", "bin")), "a\\b.bin");
    EXPECT_EQ(S(names->ReplaceExtension("a.b.c", "")), "a.b.");
    EXPECT_EQ(names->IsSameExtension("TXT", "txt"), 1);
    EXPECT_EQ(names->IsSameExtension("txt", "tx"), 0);
    EXPECT_EQ(names->IsSameExtension("", ""), 1);
}

TEST_F(CvkFileNameTest, CurrentDirGetsASeparator)
{
    names->SetCurrentDir("C:\\work");
    EXPECT_EQ(S(names->GetCurrentDir()), "C:\\work\\");
    names->SetCurrentDir("/tmp/x/");
    EXPECT_EQ(S(names->GetCurrentDir()), "/tmp/x/");
}

TEST_F(CvkFileNameTest, MakeFullName)
{
    struct Case {
        const char* name;
        const char* base;
        const char* full;
    } cases[] = {
        {"..\\d.txt", "C:\\a\\b\\", "C:\\a\\d.txt"},
        {"..\\..\\d.txt", "C:\\a\\b\\", "C:\\d.txt"},
        {".\\x\\y", "C:\\a\\", "C:\\a\\x\\y"},
        {"./../e", "base/one/", "base/e"},
        {"\\rooted", "C:\\a\\", "C:\\a\\rooted"},
        {"plain.txt", "C:\\a\\", "C:\\a\\plain.txt"},
        {"\\\\server\\share", "C:\\a\\", "\\\\server\\share"},
        {"D:\\other", "C:\\a\\", "D:\\other"},
        {"http://host/x", "C:\\a\\", "http://host/x"},
        // A ':' after a separator is no scheme.
        {"dir\\a:b", "C:\\", "C:\\dir\\a:b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S(names->MakeFullName(c.name, c.base)), c.full);
    }
    names->SetCurrentDir("C:\\cur");
    EXPECT_EQ(S(names->MakeFullName("f")), "C:\\cur\\f");
}

TEST_F(CvkFileNameTest, MakeRelativeName)
{
    struct Case {
        const char* name;
        const char* base;
        const char* relative;
    } cases[] = {
        {"C:\\x\\a.txt", "C:\\x\\y\\", "..\\a.txt"},
        {"C:\\x\\y\\b.txt", "C:\\x\\y\\", "b.txt"},
        {"c:/X/y/b.txt", "C:\\x\\y\\", "b.txt"},
        {"C:\\x\\z\\c.txt", "C:\\x\\y\\", "..\\z\\c.txt"},
        {"C:\\a.txt", "C:\\x\\y\\", "..\\..\\a.txt"},
        {"D:\\x\\a.txt", "C:\\x\\y\\", "D:\\x\\a.txt"},
        {"C:\\x\\y\\deep\\er\\f", "C:\\x\\", "y\\deep\\er\\f"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(S(names->MakeRelativeName(c.name, c.base)), c.relative);
    }
    names->SetCurrentDir("C:\\x\\y");
    EXPECT_EQ(S(names->MakeRelativeName("C:\\x\\a.txt")), "..\\a.txt");
}

TEST_F(CvkFileNameTest, EnvironmentNames)
{
    setenv("LUMIVOR_TEST_ROOT", "C:\\proj\\data", 1);
    unsetenv("LUMIVOR_TEST_UNSET");
    EXPECT_EQ(S(CvkFileNameExtractEnvName("%LUMIVOR_TEST_ROOT%\\img\\a.png")), "C:\\proj\\data\\img\\a.png");
    EXPECT_EQ(S(CvkFileNameExtractEnvName("%LUMIVOR_TEST_ROOT%\\..\\b.png")), "C:\\proj\\b.png");
    EXPECT_EQ(S(CvkFileNameExtractEnvName("%LUMIVOR_TEST_UNSET%\\a")), "%LUMIVOR_TEST_UNSET%\\a");
    EXPECT_EQ(S(CvkFileNameExtractEnvName("%LUMIVOR_TEST_ROOT")), "");
    EXPECT_EQ(S(CvkFileNameExtractEnvName("plain\\a")), "plain\\a");

    EXPECT_EQ(S(CvkFileNameMakeEnvName("C:\\proj\\data\\img\\a.png", "LUMIVOR_TEST_ROOT")),
              "%LUMIVOR_TEST_ROOT%\\img\\a.png");
    EXPECT_EQ(S(CvkFileNameMakeEnvName("C:\\proj\\other.png", "LUMIVOR_TEST_ROOT")),
              "%LUMIVOR_TEST_ROOT%\\..\\other.png");
    EXPECT_EQ(S(CvkFileNameMakeEnvName("C:\\proj\\x", "LUMIVOR_TEST_UNSET")), "C:\\proj\\x");
    // Round trip.
    const CvString made = CvkFileNameMakeEnvName("C:\\proj\\data\\s\\t.bin", "LUMIVOR_TEST_ROOT");
    EXPECT_EQ(S(CvkFileNameExtractEnvName(made.GetBuffer())), "C:\\proj\\data\\s\\t.bin");

    // A '%' that is the trail byte of a double-byte character does not close the name.
    const std::string odd = "%\x81%X";
    EXPECT_EQ(S(CvkFileNameExtractEnvName(odd.c_str())), "");
    unsetenv("LUMIVOR_TEST_ROOT");
}

} // namespace
