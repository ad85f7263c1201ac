// The compiler driver: definition tables from the directory (binary before
// text), the output path rules, files in and out, the debug record and the
// log's lifetime.
#include "attribute/AtrNode.h"
#include "attribute/AtrUtil.h"
#include "dresser/DrsCompiler.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsScriptView.h"
#include "dresser/DrsToken.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"
#include "platform/tests/ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class DrsCompilerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CvkHeapSetSystem(&heap);
        CvkInitCorvantaSystem();
        CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
        ASSERT_FALSE(scratch.Path().empty());
    }
    void TearDown() override
    {
        CvkExitCorvantaSystem();
        CvkHeapSetSystem(nullptr);
    }

    void Write(const std::string& name, const std::string& text) const { scratch.Write(name, text); }
    std::string Read(const std::string& path) const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Exists(const std::string& path) const { return access(path.c_str(), F_OK) == 0; }

    // A table of one group whose first instruction is `name` (code 10).
    static AtrNode* Table(const char* name)
    {
        AtrNode* root = AtrNode::Create(nullptr, "DresserInstruction");
        AtrNode* group = root->AddChild("Group");
        group->AddAttribute("Base", int32_t(10));
        AtrNode* inst = group->AddChild(name);
        inst->AddAttribute("Max", int32_t(1));
        return root;
    }

    // Installs "E<code>" message texts on the compiler's log.
    static void Messages()
    {
        AtrNode* root = AtrNode::Create(nullptr, "DresserStringDef");
        AtrNode* info = root->AddChild(DRS_MESSAGE_NODE_NAME);
        for (int code = 0; code < DRS_LOG_CODE_NUM; ++code) info->AddData(("E" + std::to_string(code)).c_str());
        DrsGetErrorInfo()->SetMessageTree(root);
    }
    static std::string Log(const DrsCompiler& c)
    {
        const CvString* log = c.GetErrorString();
        return log != nullptr && log->GetLength() > 0 ? std::string(log->GetBuffer()) : std::string();
    }

    CvkHeapSimple heap{nullptr, 0, 16};
    ScratchDir scratch{"drs-compiler"};
    std::string dir = scratch.Path() + "/";
};

TEST_F(DrsCompilerTest, ReadsTheBinaryTableBeforeTheTextTable)
{
    Write("DresserInstruction.def", "<DresserInstruction>\n<Group Base = 10>\n<FromText Max = 1 />\n</Group>\n"
                                    "</DresserInstruction>\n");
    const char* script = "module m() { FromText(1); }\n";
    {
        DrsCompiler compiler(dir.c_str(), 1);
        EXPECT_EQ(compiler.GetInstructionTableCount(), 1);
        EXPECT_EQ(compiler.CompileText(script, nullptr, nullptr), 1);
    }
    AtrNode* table = Table("FromBinary");
    ASSERT_EQ(AtrUtilOutputBinary(table, (dir + "DresserInstruction.bin").c_str()), 1);
    AtrNode::Destroy(table);
    {
        DrsCompiler compiler(dir.c_str(), 1);
        EXPECT_EQ(compiler.GetInstructionTableCount(), 1);
        EXPECT_EQ(compiler.CompileText("module m() { FromBinary(1); }\n", nullptr, nullptr), 1);
    }
    {
        // Only the binary table was registered: FromText is a module call.
        DrsCompiler compiler(dir.c_str(), 1);
        EXPECT_EQ(compiler.CompileText(script, nullptr, nullptr), 0);
        EXPECT_EQ(compiler.CheckCompileError(), 1);
    }
    {
        DrsCompiler compiler(dir.c_str(), 0);
        EXPECT_EQ(compiler.GetInstructionTableCount(), 0);
        EXPECT_EQ(compiler.AddInstructionTable((dir + "DresserInstruction.def").c_str(), 0), 1);
        EXPECT_EQ(compiler.AddInstructionTable((dir + "missing.bin").c_str(), 1), 0);
        EXPECT_EQ(compiler.AddInstructionTable("", 1), 0);
        EXPECT_EQ(compiler.CompileText(script, nullptr, nullptr), 1);
    }
}

TEST_F(DrsCompilerTest, DerivesTheOutputPathFromTheFileName)
{
    const struct {
        const char* source;
        const char* output;
    } cases[] = {
        {"menu.drs", "menu.bin"}, {"dir/menu.txt", "dir/menu.bin"}, {"v1.0/prog", "v1.0/prog.bin"},
        {"a.b.c", "a.b.bin"},     {"dir\\x.scr", "dir\\x.bin"},     {"noext", "noext.bin"},
    };
    for (const auto& c : cases) EXPECT_STREQ(DrsMakeOutputPath(c.source).GetBuffer(), c.output) << c.source;
}

TEST_F(DrsCompilerTest, CompilesFilesAndNeverOverwritesTheSource)
{
    Write("main.drs", "variant g = 1;\nmodule main() { g = g + 1; }\n");
    {
        DrsCompiler compiler(dir.c_str(), 0);
        ASSERT_EQ(compiler.CompileFile((dir + "main.drs").c_str(), nullptr), 1);
        EXPECT_EQ(std::string(compiler.GetOutputPath().GetBuffer()), dir + "main.bin");
        ASSERT_EQ(compiler.OutputFile(nullptr), 1);
        std::vector<char> chunk(compiler.GetChunkSize());
        ASSERT_EQ(compiler.GetChunk(chunk.data()), chunk.data());
        EXPECT_EQ(Read(dir + "main.bin"), std::string(chunk.begin(), chunk.end()));
        EXPECT_EQ(compiler.GetChunk(nullptr), nullptr);
        ASSERT_EQ(compiler.OutputFile((dir + "other.img").c_str()), 1);
        EXPECT_EQ(Read(dir + "other.img"), std::string(chunk.begin(), chunk.end()));
        EXPECT_EQ(compiler.OutputFile((dir + "main.drs").c_str()), 0);
        EXPECT_EQ(Read(dir + "main.drs"), "variant g = 1;\nmodule main() { g = g + 1; }\n");
    }
    // A source named like its output, a missing and an empty source report 3.
    Write("s.bin", "module m() { }\n");
    Write("empty.drs", "");
    for (const char* name : {"s.bin", "missing.drs", "empty.drs"}) {
        DrsCompiler compiler(dir.c_str(), 0);
        Messages();
        EXPECT_EQ(compiler.CompileFile((dir + name).c_str(), nullptr), 0) << name;
        EXPECT_EQ(Log(compiler), "---- " + dir + name + "E3\n") << name;
        EXPECT_EQ(compiler.OutputFile(nullptr), 0) << name;
    }
    EXPECT_EQ(Read(dir + "s.bin"), "module m() { }\n");
}

TEST_F(DrsCompilerTest, UsesTheDebugRecordOnlyWhenAskedAndOwnsTheLog)
{
    CvkScriptDebugInfo record = {};
    std::snprintf(record.name, sizeof record.name, "main");
    const char* script = "module m() {\nvariant x;\nx = 1;\n}\n";
    for (uint32_t debug : {0u, 1u}) {
        DrsCompiler compiler(dir.c_str(), 0);
        DrsCompileOption option = {0, 0, debug, 0};
        ASSERT_EQ(compiler.CompileText(script, &option, &record), 1);
        std::vector<char> image(compiler.GetChunkSize());
        compiler.GetChunk(image.data());
        DrsScriptView view;
        ASSERT_TRUE(DrsReadScriptImage(image.data(), image.size(), &view, nullptr));
        EXPECT_EQ(view.hasDebug, debug != 0);
        EXPECT_EQ(view.code[0] == DRS_TOKEN_LINE, debug != 0);
    }
    // The compiler's log ends with it.
    EXPECT_EQ(DrsGetErrorCount(), -1);
    {
        DrsCompiler compiler(dir.c_str(), 0);
        EXPECT_EQ(compiler.CompileText("module m() { x = 1; }\n", nullptr, nullptr), 0);
        EXPECT_EQ(compiler.GetLogCount(), 2) << "the undefined variable, then the module that failed";
        EXPECT_EQ(compiler.CompileText(nullptr, nullptr, nullptr), 0);
    }
    EXPECT_EQ(DrsGetErrorCount(), -1);
}

// The shipped example compiles to one image, the same in every build (the
// hash is the 64-bit and 32-bit builds' common answer).
TEST_F(DrsCompilerTest, CompilesTheMenuExampleToTheSameImageInEveryBuild)
{
    const std::string defs = std::string(LUMIVOR_BINARY_DIR) + "/share/lumivor/dresser/";
    const std::string example = std::string(LUMIVOR_SOURCE_DIR) + "/examples/script/";
    DrsCompiler compiler(defs.c_str(), 1);
    ASSERT_EQ(compiler.AddIncludePath(example.c_str()), 1);
    const DrsCompileOption option = {0, 12, 0, 0};
    ASSERT_EQ(compiler.CompileFile((example + "menu.drs").c_str(), &option), 1) << Log(compiler);
    std::vector<uint8_t> image(compiler.GetChunkSize());
    ASSERT_EQ(compiler.GetChunk(image.data()), image.data());
    uint64_t hash = 14695981039346656037ull;
    for (uint8_t b : image) hash = (hash ^ b) * 1099511628211ull;
    EXPECT_EQ(image.size(), 1600u);
    EXPECT_EQ(hash, 13141547296686858436ull);
    DrsScriptView view;
    ASSERT_TRUE(DrsReadScriptImage(image.data(), image.size(), &view, nullptr));
    EXPECT_EQ(view.modules.size(), 7u);
}

} // namespace
