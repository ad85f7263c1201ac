// Tokenizing a generated 60,000-line menu script (about 3 MB): bytes and
// lines per second of DrsLexer::CreateToken, the lexer's tables and chain
// freed between runs. With --write-lua=PATH / --write-script=PATH the texts
// are written out instead (for the comparison with luac in
// dresser_lex_vs_luac.sh).
#include "attribute/AtrNode.h"
#include "bench/dresser_ScriptGen.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsLexer.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>

namespace {

constexpr int kLines = 60000;

// A lexer with the instructions the generated script calls.
DrsLexer* NewLexer()
{
    auto* lexer = new DrsLexer;
    AtrNode* root = AtrNode::Create(nullptr, "DresserInstruction");
    AtrNode* group = root->AddChild("Menu");
    group->AddAttribute("Start", 100);
    for (const char* name : {"Print", "SetPosition", "IsKeyPush", "PlaySound", "Wait"}) {
        group->AddChild(name)->AddAttribute("Max", 4);
    }
    lexer->RegistInstruction(root);
    AtrNode::Destroy(root);
    return lexer;
}

void BM_DresserTokenize(benchmark::State& state)
{
    const int lines = static_cast<int>(state.range(0));
    const std::string script = DresserBenchScript(lines);
    DrsInitErrorInfo(nullptr);
    int64_t tokens = 0;
    {
        DrsLexer* lexer = NewLexer();
        lexer->CreateToken(script.c_str(), nullptr);
        for (const DrsToken* t = lexer->GetFirstToken(); t != nullptr; t = t->GetNext()) {
            ++tokens;
        }
        delete lexer;
    }
    for (auto _ : state) {
        DrsLexer* lexer = NewLexer();
        lexer->CreateToken(script.c_str(), nullptr);
        benchmark::DoNotOptimize(lexer->GetLastToken());
        delete lexer;
    }
    if (DrsGetErrorCount() != 0) {
        state.SkipWithError("the generated script did not tokenize cleanly");
    }
    DrsExitErrorInfo();
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(script.size()));
    state.SetItemsProcessed(state.iterations() * lines);
    state.counters["tokens"] = static_cast<double>(tokens);
    state.counters["MB"] = static_cast<double>(script.size()) / 1e6;
}
BENCHMARK(BM_DresserTokenize)->Arg(6000)->Arg(kLines)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--write-lua=", 12) == 0) {
            std::ofstream(argv[i] + 12, std::ios::binary) << LuaBenchScript(kLines);
            return 0;
        }
        if (std::strncmp(argv[i], "--write-script=", 15) == 0) {
            std::ofstream(argv[i] + 15, std::ios::binary) << DresserBenchScript(kLines);
            return 0;
        }
    }
    static CvkHeapSimple heap(nullptr, 0, 16);
    CvkHeapSetSystem(&heap);
    CvkInitCorvantaSystem();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CvkExitCorvantaSystem();
    return 0;
}
