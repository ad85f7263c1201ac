// TbnCompilerOutput end to end: arguments, the code word, failures that write
// nothing, and the menu example's image against its committed golden copy
// (the same bytes from every build).
#include "bundle/TbnCompiler.h"
#include "bundle/TbnCompilerCore.h"
#include "kit/CvkLog.h"
#include "platform/PlatformCodePage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string g_log;
void Collect(const char* text, void*) { g_log += text; }

std::vector<char> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

class TbnCompilerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        CvkLogSetSink(Collect, nullptr);
        std::remove(out.c_str());
    }
    void TearDown() override
    {
        CvkLogSetSink(nullptr, nullptr);
        std::remove(out.c_str());
    }
    std::string Log() const { return PlatformCp932ToUtf8(g_log); }

    // One file per test and process: CTest runs the cases in parallel.
    const std::string out = std::string(LUMIVOR_BINARY_DIR) + "/tbn_test_" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                            std::to_string(getpid()) + ".bin";
};

const char kInstance[] = "<P x = 5, s = \"ab\" />";
const char kTemplate[] =
    "<T><P><f type = \"SINT\", name = \"x\", size = 4 /><f type = \"STRING\", name = \"s\" /></P></T>";

TEST_F(TbnCompilerTest, NullOrEmptyArgumentsReturnZero)
{
    const char* empty = "";
    EXPECT_EQ(TbnCompilerOutput(out.c_str(), kInstance, empty, 0x41424344), 0);
    EXPECT_EQ(Log(), "[Error]TbnCompilerOutput\n\nいずれかの引数がnullもしくは空文字です。");
    EXPECT_EQ(TbnCompilerOutput(nullptr, kInstance, kTemplate, 0), 0);
    EXPECT_EQ(TbnCompilerOutput(out.c_str(), nullptr, kTemplate, 0), 0);
    EXPECT_EQ(TbnCompilerOutput(empty, kInstance, kTemplate, 0), 0);
    EXPECT_FALSE(Exists(out));
}

TEST_F(TbnCompilerTest, CodeWordStartsTheFile)
{
    ASSERT_EQ(TbnCompilerOutput(out.c_str(), kInstance, kTemplate, 0x41424344), 1) << Log();
    EXPECT_EQ(g_log, "");
    const std::vector<char> image = ReadFile(out);
    ASSERT_EQ(image.size(), 320u);
    EXPECT_EQ(std::string(image.data(), 4), "ABCD");
    EXPECT_EQ(image[8], 32) << "the rest of the header follows";
    EXPECT_EQ(std::string(image.data() + 64, 2), "ab");
    // Calls do not share state: the same call again gives the same file.
    ASSERT_EQ(TbnCompilerOutput(out.c_str(), kInstance, kTemplate, 0x41424344), 1);
    EXPECT_EQ(ReadFile(out), image);
}

TEST_F(TbnCompilerTest, FailuresReturnZeroAndWriteNothing)
{
    struct Case {
        const char* instance;
        const char* templ;
        const char* logStart;
        const char* logPart;
    } cases[] = {
        {"<P></Q>", kTemplate, "[Error]TbnCompilerOutput\n\nアトレインスタンスが作成できませんでした。", ""},
        {kInstance, "<T><P></Q></T>", "[Error]TbnCompilerOutput\n\nアトレテンプレートが作成できませんでした。",
         "[1行目] : "},
        {kInstance, "<T><P><f type = \"SINT\", name = \"x\" /></P></T>",
         "[Error]TbnCompilerOutput\n\nアトレバイナリが作成できませんでした。\n\n",
         "ポインタを指定しているテンプレートに size が見つかりませんでした。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.templ);
        g_log.clear();
        EXPECT_EQ(TbnCompilerOutput(out.c_str(), c.instance, c.templ, 0x41424344), 0);
        const std::string log = Log();
        EXPECT_EQ(log.rfind(c.logStart, 0), 0u) << log;
        EXPECT_NE(log.find(c.logPart), std::string::npos) << log;
        EXPECT_FALSE(Exists(out));
    }
}

TEST_F(TbnCompilerTest, UnwritablePathIsReported)
{
    const std::string bad = std::string(LUMIVOR_BINARY_DIR) + "/no-such-dir/x.bin";
    EXPECT_EQ(TbnCompilerOutput(bad.c_str(), kInstance, kTemplate, 0x41424344), 0);
    EXPECT_EQ(Log(), "[Error]TbnCompilerOutput\n\nアトレバイナリがファイル出力できませんでした。\n\n" + bad);
}

// The menu example compiles to the committed golden image in every build.
// LUMIVOR_REGENERATE_GOLDEN=1 rewrites the golden file instead.
TEST_F(TbnCompilerTest, MenuExampleMatchesGoldenImage)
{
    const std::string dir = std::string(LUMIVOR_SOURCE_DIR) + "/examples/menu";
    const std::string golden = std::string(LUMIVOR_SOURCE_DIR) + "/bundle/tests/menu.golden.bin";
    std::vector<char> instance = ReadFile(dir + "/instance.atr");
    std::vector<char> templ = ReadFile(dir + "/template.atr");
    ASSERT_FALSE(instance.empty());
    ASSERT_FALSE(templ.empty());
    instance.push_back('\0');
    templ.push_back('\0');
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0); // the logo file is named relative to the example
    const uint8_t ok = TbnCompilerOutput(out.c_str(), instance.data(), templ.data(), 0x4D454E55); // "MENU"
    ASSERT_EQ(chdir(cwd), 0);
    ASSERT_EQ(ok, 1) << Log();
    const std::vector<char> image = ReadFile(out);
    if (const char* regen = std::getenv("LUMIVOR_REGENERATE_GOLDEN"); regen != nullptr && *regen == '1') {
        std::ofstream(golden, std::ios::binary).write(image.data(), std::streamsize(image.size()));
        GTEST_SKIP() << "golden image rewritten";
    }
    const std::vector<char> expected = ReadFile(golden);
    ASSERT_FALSE(expected.empty()) << "missing " << golden;
    EXPECT_EQ(std::string(image.data(), 4), "MENU");
    EXPECT_TRUE(image == expected) << "image of " << image.size() << " bytes differs from the golden "
                                   << expected.size() << " bytes";
}

// A caller that owns the texts may free them once both are read: the
// compilation that follows reads nothing of them (ASan would see it) and
// gives the golden image. A bad argument returns before the texts are used.
TEST_F(TbnCompilerTest, TextsFreedOnceReadGiveTheGoldenImage)
{
    const std::string dir = std::string(LUMIVOR_SOURCE_DIR) + "/examples/menu";
    struct Texts
    {
        std::vector<char> instance, templ;
        int released = 0;
    } texts{ReadFile(dir + "/instance.atr"), ReadFile(dir + "/template.atr")};
    texts.instance.push_back('\0');
    texts.templ.push_back('\0');
    auto release = [](void* context) {
        Texts* t = static_cast<Texts*>(context);
        std::vector<char>().swap(t->instance);
        std::vector<char>().swap(t->templ);
        ++t->released;
    };
    EXPECT_EQ(TbnCompileTexts(out.c_str(), "", texts.templ.data(), 0, release, &texts), 0);
    EXPECT_EQ(texts.released, 0);

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0); // the logo file is named relative to the example
    const uint8_t ok = TbnCompileTexts(out.c_str(), texts.instance.data(), texts.templ.data(),
                                                       0x4D454E55, release, &texts);
    ASSERT_EQ(chdir(cwd), 0);
    ASSERT_EQ(ok, 1) << Log();
    EXPECT_EQ(texts.released, 1);
    EXPECT_TRUE(ReadFile(out) == ReadFile(std::string(LUMIVOR_SOURCE_DIR) + "/bundle/tests/menu.golden.bin"));
}

} // namespace
