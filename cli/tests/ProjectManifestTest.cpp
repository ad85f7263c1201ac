// The project manifest reader (errors with the manifest's lines) and the
// Ninja plan it becomes.
#include "cli/CliKit.h"
#include "cli/ProjectManifest.h"
#include "cli/ProjectNinja.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

class ProjectManifestTest : public ::testing::Test {
protected:
    // The error of reading `text`, or "" when it reads.
    std::string ReadError(const char* text)
    {
        std::string error;
        return ProjectManifestRead(text, "m.atr", &manifest, &error) ? "" : error;
    }
    // The Ninja text of `text` planned in /p with build folder /p/build.
    std::string Plan(const char* text, std::string* error)
    {
        std::string ninja;
        if (!ProjectManifestRead(text, "m.atr", &manifest, error)) return "";
        const ProjectPaths paths{"/p", "/p/" + manifest.build};
        return ProjectNinjaWrite(manifest, paths, ProjectTools{"/bin/lumivor", "/bin/zafencoder"}, "m.atr", &ninja,
                                 error)
                   ? ninja
                   : "";
    }

    CliKitHeap heap;
    ProjectManifest manifest;
};

TEST_F(ProjectManifestTest, ReportsBadElementsAndAttributesWithTheirLines)
{
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"<Project>\n<Qr text = \"A\", output = \"a.bmp\" />\n</Project>", ""},
        {"<Qr text = \"A\", output = \"a.bmp\" />\n<Qr text = \"B\", output = \"b.bmp\" />", ""},
        {"<Project>\n<Qr text = \"A\", output = \"a.bmp\" />\n\n<Movie file = \"x\" />\n</Project>",
         "m.atr:4: unknown element <Movie> (Bundle, Script, Sound, Image or Qr)"},
        {"<Project>\n// a comment <Qr>\n<Qr text = \"A<\",\n output = \"a.bmp\" />\n<Script source = \"a.drs\", "
         "output = \"a.bin\", colour = 1 />\n</Project>",
         "m.atr:5: unknown attribute 'colour' of <Script>"},
        {"<Project>\n<Bundle instance = \"i.atr\", output = \"o.bin\" />\n</Project>",
         "m.atr:2: <Bundle> needs 'template'"},
        {"<Script source = \"a.drs\", output = \"a.bin\", fixed = \"twelve\" />",
         "m.atr:1: 'fixed' of <Script> wants a number"},
        {"<Qr text = \"A\", output = \"a.bmp\", output = \"b.bmp\" />", "m.atr:1: 'output' of <Qr> is given twice"},
        {"<Project tree = \"x\">\n</Project>", "m.atr:1: unknown attribute 'tree' of <Project> (build = \"FOLDER\")"},
        {"<Project>\n<Qr text = \"A\", output = \"a.bmp\">\n<Qr text = \"B\", output = \"b.bmp\" />\n</Qr>\n</Project>",
         "m.atr:3: a job element holds no elements"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadError(c.text), c.error) << c.text;
    EXPECT_NE(ReadError("<Project>\n<Qr text = \"A\"\n"), "");
}

TEST_F(ProjectManifestTest, PlansOneEdgePerOutputWithTheToolsOptions)
{
    std::string error;
    const std::string ninja = Plan("<Project build = \"b d\">\n"
                                   "<Bundle instance = \"i.atr\", template = \"t.atr\", output = \"m.bin\", "
                                   "code = \"MENU\", defs = \"a.h\", defs = \"b.h\" />\n"
                                   "<Script source = \"s/m.drs\", output = \"m.drs.bin\", include = \"s\", fixed = 12, "
                                   "debug = 1 />\n"
                                   "<Image input = \"/abs/x.png\", input = \"y.png\", output = \"img\", format = "
                                   "\"rgb565\", dither = 0 />\n"
                                   "<Image input = \"u.png\", input = \"v.png\", output = \"pal\", shared = 1, colors = 64 />\n"
                                   "<Qr text = \"it's\", output = \"q.bmp\", png = 1 />\n"
                                   "</Project>",
                                   &error);
    ASSERT_EQ(error, "");
    const char* expected[] = {
        "build /p/b$ d/out/m.bin: bundle /p/i.atr /p/t.atr\n"
        "  cmd = cd '/p' && '/bin/lumivor' 'bundle' '/p/i.atr' '/p/t.atr' '-o' '/p/b d/out/m.bin' '--code' 'MENU' '--defs' "
        "'/p/a.h' '--defs' '/p/b.h' --depfile '/p/b d/out/m.bin.d' > /dev/null\n",
        "build /p/b$ d/out/m.drs.bin: script /p/s/m.drs\n"
        "  cmd = cd '/p/s' && '/bin/lumivor' 'script' '/p/s/m.drs' '-o' '/p/b d/out/m.drs.bin' '-I' '/p/s' '--fixed' '12' "
        "'--debug' --depfile",
        "build /p/b$ d/out/img/x.rgb565.raw /p/b$ d/out/img/x.rgb565.png: image /abs/x.png\n",
        "'-o' '/p/b d/out/img' '--format' 'rgb565' '--no-dither' > /dev/null\n",
        "build /p/b$ d/out/img/y.rgb565.raw /p/b$ d/out/img/y.rgb565.png: image /p/y.png\n",
        "build /p/b$ d/out/pal/u.idx /p/b$ d/out/pal/u.pal /p/b$ d/out/pal/u.palette.png /p/b$ d/out/pal/v.idx "
        "/p/b$ d/out/pal/v.pal /p/b$ d/out/pal/v.palette.png: image /p/u.png /p/v.png\n",
        "build /p/b$ d/out/q.bmp /p/b$ d/out/q.png: qr\n"
        "  cmd = '/bin/lumivor' 'qr' 'it'\\''s' '-o' '/p/b d/out/q.bmp' '--png' > /dev/null\n",
        "rule script\n  command = $cmd\n  description = script $out\n  depfile = $out.d\n  deps = gcc\n",
    };
    for (const char* line : expected) EXPECT_NE(ninja.find(line), std::string::npos) << line << "\n--- in ---\n" << ninja;
}

TEST_F(ProjectManifestTest, RefusesPlansThatCannotBeBuilt)
{
    char dir[] = "/tmp/project-plan-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::ofstream(std::string(dir) + "/a.wav") << "x";
    const std::string wav = std::string(dir) + "/*.wav", none = std::string(dir) + "/*.none";
    const std::string cases[][2] = {
        {"<Sound input = \"" + wav + "\", output = \"s\", quality = 3 />", ""},
        {"<Sound input = \"" + none + "\", output = \"s\" />", "m.atr:1: '" + none + "' matches no file"},
        {"<Image input = \"a.png\", output = \"i\", format = \"jpeg\" />",
         "m.atr:1: unknown image format 'jpeg' (palette, palette565, rgb565, rgba4444, rgba5551)"},
        {"<Qr text = \"A\", output = \"a.bmp\" />\n<Qr text = \"B\", output = \"a.bmp\" />",
         "m.atr:2: another job already writes /p/build/out/a.bmp"},
    };
    for (const auto& c : cases) {
        std::string error;
        const std::string ninja = Plan(c[0].c_str(), &error);
        EXPECT_EQ(error, c[1]) << c[0];
        if (c[1].empty()) {
            EXPECT_NE(ninja.find("'/bin/zafencoder' '--quality' '3' '" + std::string(dir) + "/a.wav' '/p/build/out/s/a.zaf'"),
                      std::string::npos)
                << ninja;
        }
    }
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

} // namespace
