// Named constants and the edit history:
// - AddConstantDefinition over a generated 10 MB enum header with 200,000
//   enumerators, each defined from the one before (MB/s of header);
// - IsParam/GetParam with 200,000 constants (lookups per second);
// - 10,000 recorded actions with a maximum of 10,000, undone all and redone
//   all (actions per second).
#include "attribute/AtrDefAnalyzer.h"
#include "attribute/AtrHistory.h"
#include "attribute/AtrNode.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkSystem.h"
#include "kit/tests/KitHeapSlots.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Kit {
    KitSimpleHeap heaps;
    Kit()
    {
        CvkInitCorvantaSystem();
        CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
    }
    ~Kit() { CvkExitCorvantaSystem(); }
};

constexpr int kEnumerators = 200000;

std::string Name(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "MENU_ITEM_%06d", i);
    return name;
}

// About 10 MB: blocks of 1,000 enumerators, each with a value that refers to
// the previous one.
std::string MakeHeader()
{
    std::string text = "/* Generated menu identifiers. */\n#define MENU_ITEMS 200000\n";
    for (int i = 0; i < kEnumerators; ++i) {
        if (i % 1000 == 0) {
            text += "/* Block " + std::to_string(i / 1000) + " */\nenum MenuItemBlock" + std::to_string(i / 1000) + " {\n";
        }
        text += "    " + Name(i) + " = ";
        text += i == 0 ? std::string("0x100") : "(" + Name(i - 1) + " + 2) | 1";
        text += ",\n";
        if (i % 1000 == 999) {
            text += "};\n";
        }
    }
    return text;
}

void BM_AddConstantDefinition(benchmark::State& state)
{
    Kit kit;
    const std::string header = MakeHeader();
    const std::string path = "/tmp/lumivor_defs_bench_" + std::to_string(getpid()) + ".h";
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(header.data(), 1, header.size(), f);
    std::fclose(f);
    for (auto _ : state) {
        AtrDefAnalyzer analyzer;
        if (analyzer.AddConstantDefinition(path.c_str()) != 1) {
            state.SkipWithError("the header was refused");
            break;
        }
        benchmark::DoNotOptimize(analyzer.GetConstant());
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(header.size()));
    state.counters["header_MB"] = static_cast<double>(header.size()) / 1e6;
}
BENCHMARK(BM_AddConstantDefinition)->Unit(benchmark::kMillisecond);

void BM_IsParamGetParam(benchmark::State& state)
{
    Kit kit;
    AtrDefAnalyzer analyzer;
    std::vector<std::string> names;
    for (int i = 0; i < kEnumerators; ++i) {
        names.push_back(Name(i));
        analyzer.AddConstantDefinition(names.back().c_str(), i);
    }
    size_t next = 0;
    int64_t sum = 0;
    for (auto _ : state) {
        const char* name = names[next].c_str();
        next = (next + 7919) % names.size();   // strides over the whole table
        if (analyzer.IsParam(name) != 0) {
            sum += analyzer.GetParam(name);
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_IsParamGetParam);

constexpr int kActions = 10000;

// A menu of 64 items whose edits record kActions actions: attribute
// changes, data values added, flags changed and nodes created, in turn.
AtrNode* RecordActions(AtrHistoryManager& history)
{
    AtrNode* root = AtrNode::Create(nullptr, "menu");
    for (int i = 0; i < 64; ++i) {
        AtrNode* item = AtrNode::Create(root, "item");
        item->AddAttribute("label", "text");
        item->AddAttribute("x", int32_t(i));
    }
    history.SetRootNode(root, 1);
    for (int i = 0; i < kActions; ++i) {
        AtrNode* item = root->GetChild(i % 64);
        switch (i % 4) {
        case 0: item->SetAttribute("x", int32_t(i)); break;
        case 1: item->AddData(int32_t(i)); break;
        case 2: item->SetFlag(0xFFFFu, uint32_t(i) << 16); break;
        default: AtrNode::Create(item, "child")->AddAttribute("n", int32_t(i)); break;
        }
    }
    return root;
}

void BM_UndoRedoAll(benchmark::State& state)
{
    Kit kit;
    for (auto _ : state) {
        state.PauseTiming();
        AtrNode* root = nullptr;
        {
            AtrHistoryManager history(nullptr, kActions);
            root = RecordActions(history);
            if (history.GetActionListCount() != kActions) {
                state.SkipWithError("actions were not all recorded");
            }
            state.ResumeTiming();
            history.Undo(kActions);
            history.Redo(kActions);
            state.PauseTiming();
            if (history.CheckError() != 0) {
                state.SkipWithError("undo or redo failed");
            }
        }
        AtrNode::Destroy(root);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 2 * kActions);
}
BENCHMARK(BM_UndoRedoAll)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
