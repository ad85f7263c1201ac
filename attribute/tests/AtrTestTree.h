#pragma once
// Helpers shared by the attribute tests: a heap that counts live blocks
// (fast enough for documents of a million nodes), a fixture that installs it
// in the three slots, a kit set up on it with the current-directory file
// protocol and a temporary folder, and a compact dump of trees.
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "kit/CvkArena.h"
#include "kit/CvkEnv.h"
#include "kit/CvkFcpCurrent.h"
#include "kit/CvkFileServer.h"
#include "kit/CvkHeap.h"
#include "kit/CvkSystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace atrtest {

// A heap that counts its live blocks.
class LiveCountHeap : public CvkHeap {
public:
    LiveCountHeap() : CvkHeap(nullptr, 0, 16) {}
    void* Alloc(uint32_t size) override { return AllocAlign(size, 0, nullptr, 0); }
    void* Alloc(uint32_t size, const char*, int) override { return AllocAlign(size, 0, nullptr, 0); }
    void* AllocAlign(uint32_t size, uint32_t alignment) override { return AllocAlign(size, alignment, nullptr, 0); }
    void* AllocAlign(uint32_t size, uint32_t, const char*, int) override
    {
        if (refuseFrom >= 0 && count >= refuseFrom) return nullptr;
        ++count;
        void* p = nullptr;
        if (posix_memalign(&p, 16, size != 0 ? size : 1) != 0) return nullptr;
        ++live;
        return p;
    }
    void Free(void* pointer) override { Free(pointer, nullptr, 0); }
    void Free(void* pointer, const char*, int) override
    {
        if (pointer != nullptr) {
            --live;
            std::free(pointer);
        }
    }
    std::atomic<long> live{0};
    long count = 0;       // allocations so far
    long refuseFrom = -1; // allocations from this count on fail (-1: none)
};

// Installs a counting heap in each of the system, main and buffer slots and
// checks that every test gives back what it took.
class LiveHeapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CvkHeapSetSystem(&systemHeap);
        CvkHeapSetMain(&mainHeap);
        CvkHeapSetBuffer(&bufferHeap);
    }
    void TearDown() override
    {
        CvkArena::Trim(); // chunks kept idle for the next document are not leaks
        EXPECT_EQ(systemHeap.live.load(), 0) << "system heap blocks leaked";
        EXPECT_EQ(mainHeap.live.load(), 0) << "main heap blocks leaked";
        EXPECT_EQ(bufferHeap.live.load(), 0) << "buffer heap blocks leaked";
        CvkHeapSetSystem(nullptr);
        CvkHeapSetMain(nullptr);
        CvkHeapSetBuffer(nullptr);
    }

    LiveCountHeap systemHeap;
    LiveCountHeap mainHeap;
    LiveCountHeap bufferHeap;
};

// The kit started on counting heaps, with files of the current directory,
// and a fresh temporary folder; leaks are reported at the end.
class KitTest : public LiveHeapTest {
protected:
    void SetUp() override
    {
        LiveHeapTest::SetUp();
        CvkInitCorvantaSystem();
        CvkEnvGet()->GetFileServer()->AttachCurrentProtocol(CvkFcpCurrent::SetUp, CvkFcpCurrent::CheckEnableControl);
        char pattern[] = "/tmp/lumivor-atr-XXXXXX";
        const char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        dir = made;
    }
    void TearDown() override
    {
        CvkExitCorvantaSystem();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        LiveHeapTest::TearDown();
    }
    std::string Path(const char* name) const { return dir + "/" + name; }

    std::string dir;
};

inline std::string Str(const CvString& s) { return std::string(s.GetBuffer(), static_cast<size_t>(s.GetLength())); }

inline std::string DumpValue(const AtrData* d)
{
    char buffer[64];
    switch (d->GetType()) {
    case CVK_VARIANT_TYPE_SINT: std::snprintf(buffer, sizeof buffer, "S:%d", d->GetS32()); return buffer;
    case CVK_VARIANT_TYPE_UINT: std::snprintf(buffer, sizeof buffer, "U:%u", d->GetU32()); return buffer;
    case CVK_VARIANT_TYPE_FLOAT:
        std::snprintf(buffer, sizeof buffer, "F:%g", static_cast<double>(d->GetF32()));
        return buffer;
    case CVK_VARIANT_TYPE_STRING: return "T:" + Str(d->GetCvString());
    case CVK_VARIANT_TYPE_BUF: {
        std::string out = "B:";
        const uint8_t* p = static_cast<const uint8_t*>(d->GetBuffer());
        for (uint32_t i = 0; i < d->GetBufferSize(); ++i) {
            std::snprintf(buffer, sizeof buffer, "%02x", p[i]);
            out += buffer;
        }
        return out;
    }
    default: return "?";
    }
}

// element#flags(attributes)[data]{children}, siblings separated by ' '.
inline std::string Dump(const AtrNode* first)
{
    if (first == nullptr) return "null";
    std::string out;
    for (const AtrNode* n = first; n != nullptr; n = n->GetNext()) {
        if (!out.empty()) out += ' ';
        out += Str(n->GetElement());
        if (n->GetFlag() != 0) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "#%x", n->GetFlag());
            out += buffer;
        }
        if (const AtrAttribute* a = n->GetAttribute(0)) {
            out += '(';
            for (; a != nullptr; a = a->GetNext()) {
                out += Str(a->GetName()) + "=" + DumpValue(a->GetData());
                if (a->GetNext() != nullptr) out += ',';
            }
            out += ')';
        }
        if (const AtrData* d = n->GetData(0)) {
            out += '[';
            for (; d != nullptr; d = d->GetNext()) {
                out += DumpValue(d);
                if (d->GetNext() != nullptr) out += ',';
            }
            out += ']';
        }
        if (n->GetChild(0) != nullptr) out += '{' + Dump(n->GetChild(0)) + '}';
    }
    return out;
}

// A tree from attribute text (a sibling chain), or null.
inline AtrNode* Parse(const char* text)
{
    AtrParser parser;
    return parser.CreateTreeFromText(text, nullptr);
}

} // namespace atrtest
