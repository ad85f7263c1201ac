// lumivor kit: exercises the runtime kit and prints what it did.
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliKit.h"
#include "kit/CvChunk.h"
#include "kit/CvString.h"
#include "kit/CvVariant.h"
#include "kit/CvkCodec.h"
#include "kit/CvkPointerOffset.h"
#include "kit/CvkRandom.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

void PrintChain(const std::vector<uint8_t>& image)
{
    const void* base = image.data();
    const CvChunk* c = CvChunk::GetFirst(base, image.size());
    for (; c; c = c->GetNext(0, base, image.size())) {
        const unsigned t = c->GetTag();
        std::printf("  %c%c%c%c  size %4u  at %4u\n", t >> 24, (t >> 16) & 0xFF, (t >> 8) & 0xFF, t & 0xFF,
                    c->GetSize(), unsigned(reinterpret_cast<const uint8_t*>(c) - image.data()));
    }
    std::printf("  EOFC  (image of %u bytes, well formed: %s)\n", unsigned(image.size()),
                CvChunk::CheckImage(base, image.size()) ? "yes" : "no");
}

void RunDemo();

void Usage(FILE* out)
{
    std::fprintf(out, "usage: lumivor kit\nBuilds a small chunk image and prints what the kit did with it.\n");
}

} // namespace

int CliKitMain(int argc, char** argv)
{
    CliArgs args("lumivor kit", Usage, argc, argv);
    while (args.Next()) args.Unknown();
    if (args.Status() != CliArgs::kRun) return args.Status();
    // Every kit object is gone before the heap leaves the slots.
    CliKitHeap heap;
    std::printf("heap: CvkHeapSimple (alignment 16) in the system, main and buffer slots\n");
    RunDemo();
    return 0;
}

namespace {

void RunDemo()
{
    // An "ATRB" chunk of 96 data bytes with three chunk-relative pointers.
    std::vector<uint8_t> image(32 + 96, 0);
    CvChunk* atrb = reinterpret_cast<CvChunk*>(image.data());
    atrb->Clear();
    atrb->SetTag(CVK_CHUNK_TAG_ATRB);
    atrb->SetSize(96);
    std::memcpy(image.data() + 96, "Lumivor kit demo", 16);
    CvkPofControl pof(image.data());
    const uint32_t pointers[3][2] = {{40, 96}, {48, 104}, {120, 112}}; // word offset, target offset
    for (const auto& p : pointers) {
        std::memcpy(image.data() + p[0], &p[1], 4);
        pof.Attach(static_cast<const void*>(image.data() + p[0]));
    }
    pof.Build();
    std::printf("pointers at 40, 48, 120: POF0 table of %u bytes\n", pof.GetTableSize());
    const size_t at = image.size();
    image.resize(at + pof.GetChunkSize() + 32);
    atrb = reinterpret_cast<CvChunk*>(image.data());
    pof.WriteChunk(image.data() + at);
    CvkCnkWriteEOFCInfo(reinterpret_cast<CvChunk*>(image.data() + at + pof.GetChunkSize()));
    std::printf("  table bytes:");
    for (uint32_t i = 0; i < pof.GetTableSize(); ++i) std::printf(" %02X", image[at + 32 + i]);
    std::printf("\nchunks (bounded walk):\n");
    PrintChain(image);

    const std::vector<uint8_t> plain(image.begin() + 32, image.begin() + 128);
    cvkCodecEncodeChunk(atrb, 77, nullptr);
    std::printf("scrambled ATRB with key %u: first bytes", atrb->GetCode());
    for (int i = 0; i < 8; ++i) std::printf(" %02X", image[32 + i]);
    cvkCodecDecodeChunk(atrb, nullptr);
    std::printf("\ndescrambled: %s\n",
                std::memcmp(plain.data(), image.data() + 32, 96) == 0 ? "data restored" : "MISMATCH");

    const int mapped = CvkPointerOffsetMapping(atrb, nullptr, image.data(), image.size());
    std::printf("pointer mapping: %s\n",
                mapped ? "mapped and cleared" : "not possible here (addresses wider than 32 bits)");
    if (mapped) CvkPointerOffsetClear(atrb, nullptr, image.data(), image.size());

    CvkSetRandomSeed(12345);
    std::printf("random numbers 0..99 from seed 12345:");
    for (int i = 0; i < 8; ++i) std::printf(" %u", CvkRandomI(99));
    std::printf("\n");

    {
        CvString text("Shift_JIS text");
        CvVariant number(int32_t(42));
        std::printf("CvString \"Shift_JIS text\" has length %d; CvVariant 42 as text: %s\n", text.GetLength(),
                    number.GetString());
    }
}

} // namespace
