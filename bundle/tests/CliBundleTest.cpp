// The lumivor bundle front end with C enum headers: the menu example written
// with named constants compiles to the very image of its numeric twin, and
// headers that cannot be used stop it with no image written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kMenu = std::string(LUMIVOR_SOURCE_DIR) + "/examples/menu";
const std::string kGolden = std::string(LUMIVOR_SOURCE_DIR) + "/bundle/tests/menu.golden.bin";

std::vector<char> ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The exit status of "lumivor bundle ARGS" run in the menu example's folder
// (its instance names the logo file relative to it).
int Bundle(const std::string& args)
{
    const std::string command =
        "cd '" + kMenu + "' && '" + LUMIVOR_PATH + "' bundle " + args + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CliBundleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // One folder per test: ctest runs them in parallel.
        dir = fs::path(LUMIVOR_BINARY_DIR) / "bundle-cli-test" /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir);
        out = (dir / "menu.bin").string();
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
    std::string out;
};

TEST_F(CliBundleTest, NamedConstantsGiveTheNumericImage)
{
    const std::vector<char> golden = ReadFile(kGolden);
    ASSERT_FALSE(golden.empty());
    const struct {
        const char* instance;
        const char* defs;
    } cases[] = {
        {"instance.atr", ""},                                   // through TbnCompilerOutput
        {"instance.atr", "--defs menu_ids.h"},                  // no constant used: the same bytes
        {"instance.defs.atr", "--defs menu_ids.h"},             // constants for the numbers
        {"instance.defs.atr", "--defs /dev/null --defs menu_ids.h"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.instance) + " " + c.defs);
        fs::remove(out);
        ASSERT_EQ(Bundle(std::string(c.instance) + " template.atr -o '" + out + "' --code MENU " + c.defs), 0);
        EXPECT_TRUE(ReadFile(out) == golden);
    }
}

TEST_F(CliBundleTest, UnusableHeadersWriteNoImage)
{
    std::ofstream(dir / "unknown.h") << "enum { A = NOT_DEFINED + 1 };\n";
    std::ofstream(dir / "compare.h") << "enum { A = 1 < 2 };\n";
    const struct {
        std::string args;
        int status;
    } cases[] = {
        {"instance.defs.atr template.atr -o '" + out + "'", 1},   // the names without their header
        {"instance.defs.atr template.atr -o '" + out + "' --defs missing.h", 1},
        {"instance.atr template.atr -o '" + out + "' --defs '" + (dir / "unknown.h").string() + "'", 1},
        {"instance.atr template.atr -o '" + out + "' --defs '" + (dir / "compare.h").string() + "'", 1},
        {"instance.atr template.atr -o '" + out + "' --defs", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(Bundle(c.args), c.status);
        EXPECT_FALSE(fs::exists(out));
    }
}

} // namespace
