#pragma once
// Palette quantiser: a weighted colour histogram of all images, a top-down
// split along principal axes into about 2.5 N boxes, a bottom-up merge to
// the free palette entries and the assembly of the final palette.
#include <cstdint>
#include <vector>

#include "reduce/RdqBitmap.h"
#include "reduce/RdqColor.h"

namespace rdq {

class Histogram {
public:
    static constexpr uint32_t kBuckets = 131072;

    Histogram();
    // Adds every counted pixel of a 24-bit bitmap; alpha (8-bit plane of the
    // same size) or null. With transparency on, alpha-0 pixels are left out.
    void AddImage(const Dib& rgb, const Dib* alpha, bool transparency);
    void Add(const WColor& c, double weight);

    uint32_t Distinct() const { return distinct_; }

    struct Entry {
        int32_t l, c1, c2;
        int32_t next; // index of the next entry of the chain, -1 at the end
        double weight;
    };
    // Entries bucket by bucket, each chain from its head.
    std::vector<const Entry*> Gather() const;
    static uint32_t Bucket(const WColor& c);

private:
    std::vector<int32_t> heads_;
    std::vector<Entry> pool_;
    uint32_t distinct_ = 0;
    bool keyColour_ = false;
};

// Computed colours of the divisive and merge phases, at most `free` colours.
std::vector<WColor> ComputeColours(const Histogram& hist, int paletteSize, int freeEntries, uint32_t mask);

struct PaletteRequest {
    int size = 256;            // N
    bool transparency = false; // index 0 reserved
    int extraReserved = 0;     // 0..2 further reserved entries
    const uint8_t* caller = nullptr; // caller palette, 8-bit R, G, B per entry (already widened)
    int callerCount = 0;
    bool sixteenBit = false;   // 5-6-5 palette precision
};

struct Palette {
    int size = 0;
    uint8_t rgb[256][3] = {};
    // Searchable entries sorted by lightness: their working colours and the
    // output index of each.
    std::vector<WColor> search;
    std::vector<int> searchToOut;
};

// False when the caller palette does not fit (more than N entries or fewer
// than the reserved ones) or no entry would be left free for the colours.
bool BuildPalette(const Histogram& hist, const PaletteRequest& req, Palette& out);

// The two ends of every palette build, shared by the quality mode: the
// fixed entries laid out first, the computed colours placed last.
struct PaletteFrame {
    int reserved = 0;    // r: entries 0..r-1 take no part in the search
    int callerCount = 0; // k: entries 0..k-1 hold the caller's colours
    int first = 0;       // first free position
    uint32_t mask = 0xFFFFFF; // channel mask of the palette precision
    std::vector<WColor> work;    // working colour of every entry
    std::vector<char> searchable;
};

struct PaletteColour {
    uint8_t rgb[3]; // at palette precision
    WColor work;
};

// Checks the request and lays out the reserved and caller entries; false
// on the same conditions as BuildPalette.
bool StartPalette(const PaletteRequest& req, Palette& out, PaletteFrame& frame);
// Fills the free positions with the colours (as many as fit) in ascending
// order key and lists the searchable entries by lightness.
void FinishPalette(const std::vector<PaletteColour>& colours, PaletteFrame& frame, Palette& out);

} // namespace rdq
