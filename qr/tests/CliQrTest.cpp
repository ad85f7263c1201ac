// The lumivor qr front end: exit codes, the files it leaves, and its PNG
// read by the decoder as it is.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

int RunQr(const std::string& args)
{
    const int status = std::system((std::string("'") + LUMIVOR_PATH + "' qr " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(CliQr, WritesBitmapAndDecodablePngAndReportsFailures)
{
    const fs::path dir = fs::path(LUMIVOR_BINARY_DIR) / "qr-test-out" / "cli";
    fs::create_directories(dir);
    const fs::path bmp = dir / "menu.bmp";
    const fs::path png = dir / "menu.png";
    fs::remove(bmp);
    fs::remove(png);
    ASSERT_EQ(RunQr("'メニュー MENU 12' -o '" + bmp.string() + "' --version 3 --png"), 0);
    EXPECT_EQ(fs::file_size(bmp), 54u + 4u * 29u * 29u);
    const fs::path txt = dir / "menu.txt";
    ASSERT_EQ(std::system(("zbarimg --nodbus -q --raw '" + png.string() + "' > '" + txt.string() + "' 2>/dev/null").c_str()), 0);
    std::ifstream in(txt);
    std::string decoded((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(decoded, "メニュー MENU 12\n");

    const fs::path empty = dir / "empty.bmp";
    EXPECT_EQ(RunQr("'' -o '" + empty.string() + "'"), 1);
    EXPECT_FALSE(fs::exists(empty));
    EXPECT_EQ(RunQr("TEXT -o '" + (dir / "no-such-dir" / "x.bmp").string() + "'"), 1);
    EXPECT_EQ(RunQr("TEXT -o '" + (dir / "v.bmp").string() + "' --version 41"), 2);
    EXPECT_EQ(RunQr("TEXT"), 2);
}
