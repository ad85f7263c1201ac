#include "reduce/RdqRefiner.h"

#include <algorithm>

#include "reduce/RdqLloyd.h"

namespace rdq {

namespace {

// Work (distances computed) the refinement may spend per counted pixel and
// per distinct colour, whichever allows less: its time stays a small share
// of the whole reduction.
constexpr uint64_t kWorkPerPixel = 20;
constexpr uint64_t kWorkPerColour = 2000;
// Above this many distinct colours the iterations run over cells first.
constexpr size_t kCellsAbove = 8192;
// Passes over the exact colours after the cells (within the budget).
constexpr int kExactPasses = 3;

// Nearest value of `bits` precision with its low bits refilled from the
// high ones (for 5 bits: 0, 8, 16, ... 247, 255).
int SnapChannel(int v, int bits)
{
    int best = 0, bestD = 256;
    for (int q = 0; q < (1 << bits); ++q) {
        const int w = (q << (8 - bits)) | (q >> (2 * bits - 8));
        const int d = v > w ? v - w : w - v;
        if (d < bestD) best = w, bestD = d;
    }
    return best;
}

struct SnapTables {
    uint8_t five[256], six[256];
    SnapTables()
    {
        for (int v = 0; v < 256; ++v) {
            five[v] = uint8_t(SnapChannel(v, 5));
            six[v] = uint8_t(SnapChannel(v, 6));
        }
    }
};

bool Holds(const std::vector<uint32_t>& list, uint32_t c) { return std::find(list.begin(), list.end(), c) != list.end(); }

// The counted colours (at palette precision) that no fixed entry holds,
// when there are no more of them than free entries.
bool ExactColours(const std::vector<Census::Colour>& colours, const std::vector<uint32_t>& fixed, int freeEntries,
                  bool sixteenBit, std::vector<uint32_t>& out)
{
    out.clear();
    for (const Census::Colour& c : colours) {
        const uint32_t v = SnapToPalette(c.rgb, sixteenBit);
        if (Holds(fixed, v)) continue;
        out.push_back(v);
        // Colours come in ascending order and stay distinct at full
        // precision, so their number can be checked as they come.
        if (!sixteenBit && int(out.size()) > freeEntries) return false;
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return int(out.size()) <= freeEntries;
}

// The colours of the divisive and merge phases at palette precision.
std::vector<uint32_t> StartColours(const Histogram& hist, int paletteSize, int freeEntries, uint32_t mask,
                                   bool sixteenBit)
{
    std::vector<uint32_t> out;
    for (const WColor& c : ComputeColours(hist, paletteSize, freeEntries, mask)) {
        uint8_t rgb[3];
        InverseTransform(c, rgb);
        out.push_back(SnapToPalette(PackRgb(rgb[0], rgb[1], rgb[2]), sixteenBit));
    }
    return out;
}

std::vector<LloydPoint> ExactPoints(const std::vector<Census::Colour>& colours)
{
    std::vector<LloydPoint> points;
    points.reserve(colours.size());
    for (const Census::Colour& c : colours)
        points.push_back({c.rgb, c.count,
                          {uint64_t(Red(c.rgb)) * c.count, uint64_t(Green(c.rgb)) * c.count,
                           uint64_t(Blue(c.rgb)) * c.count}});
    return points;
}

// The colours gathered in cells of 4 x 4 x 4 levels, each searched by the
// rounded mean of its colours, in order of their first colour.
std::vector<LloydPoint> CellPoints(const std::vector<Census::Colour>& colours)
{
    std::vector<int32_t> cellOf(size_t(1) << 18, -1);
    std::vector<LloydPoint> points;
    for (const Census::Colour& c : colours) {
        const uint32_t cell = uint32_t(Red(c.rgb) >> 2) << 12 | uint32_t(Green(c.rgb) >> 2) << 6 | uint32_t(Blue(c.rgb) >> 2);
        if (cellOf[cell] < 0) {
            cellOf[cell] = int32_t(points.size());
            points.push_back({0, 0, {0, 0, 0}});
        }
        LloydPoint& p = points[cellOf[cell]];
        p.count += c.count;
        p.sum[0] += uint64_t(Red(c.rgb)) * c.count;
        p.sum[1] += uint64_t(Green(c.rgb)) * c.count;
        p.sum[2] += uint64_t(Blue(c.rgb)) * c.count;
    }
    for (LloydPoint& p : points) {
        auto mean = [&](uint64_t s) { return int((2 * s + p.count) / (2 * uint64_t(p.count))); };
        p.rgb = PackRgb(mean(p.sum[0]), mean(p.sum[1]), mean(p.sum[2]));
    }
    return points;
}

uint32_t Heaviest(const std::vector<Census::Colour>& colours)
{
    size_t best = 0;
    for (size_t i = 1; i < colours.size(); ++i)
        if (colours[i].count > colours[best].count) best = i;
    return colours[best].rgb;
}

} // namespace

uint32_t Snap565(uint32_t rgb)
{
    static const SnapTables tables;
    return PackRgb(tables.five[Red(rgb)], tables.six[Green(rgb)], tables.five[Blue(rgb)]);
}

RefineResult Refine(const std::vector<Census::Colour>& colours, const std::vector<uint32_t>& fixed,
                    const std::vector<uint32_t>& start, int freeEntries, bool sixteenBit)
{
    std::vector<uint32_t> first(start.begin(), start.begin() + std::min<size_t>(start.size(), size_t(freeEntries)));
    if (colours.empty() || freeEntries <= 0) return {first, 0};
    if (first.empty() && fixed.empty()) first.push_back(SnapToPalette(Heaviest(colours), sixteenBit));
    uint64_t pixels = 0;
    for (const Census::Colour& c : colours) pixels += c.count;
    const uint64_t budget = std::min(kWorkPerPixel * pixels, kWorkPerColour * colours.size());
    const std::vector<LloydPoint> exact = ExactPoints(colours);

    std::vector<uint32_t> refined = first;
    uint64_t exactBudget = budget;
    if (colours.size() > kCellsAbove) {
        const std::vector<LloydPoint> cells = CellPoints(colours);
        const uint64_t reserve = std::min(budget / 2, uint64_t(kExactPasses + 1) * exact.size() * 4);
        Lloyd coarse(cells, fixed, sixteenBit, budget - reserve);
        refined = coarse.Run(first, freeEntries).colours;
        exactBudget = reserve;
    }
    Lloyd fine(exact, fixed, sixteenBit, exactBudget);
    const uint64_t startError = fine.Assign(first);
    LloydResult r = colours.size() > kCellsAbove ? fine.Iterate(refined, freeEntries, kExactPasses)
                                                 : fine.Run(refined, freeEntries);
    if (startError < r.error) return {first, startError};
    return {r.colours, r.error};
}

uint64_t PaletteError(const std::vector<Census::Colour>& colours, const std::vector<uint32_t>& entries)
{
    const std::vector<uint32_t> none;
    const std::vector<LloydPoint> points = ExactPoints(colours);
    Lloyd lloyd(points, none, false, points.size());
    return lloyd.Assign(entries);
}

bool BuildPaletteBest(const Histogram& hist, const Census& census, const PaletteRequest& req, Palette& out)
{
    PaletteFrame frame;
    if (!StartPalette(req, out, frame)) return false;
    const int n = req.size, freeEntries = n - frame.first;
    std::vector<uint32_t> fixed;
    for (int i = frame.reserved; i < frame.callerCount; ++i)
        fixed.push_back(PackRgb(out.rgb[i][0], out.rgb[i][1], out.rgb[i][2]));

    const std::vector<Census::Colour> colours = census.Colours();
    std::vector<uint32_t> chosen;
    if (!ExactColours(colours, fixed, freeEntries, req.sixteenBit, chosen)) {
        const std::vector<uint32_t> start = StartColours(hist, n, freeEntries, frame.mask, req.sixteenBit);
        chosen = Refine(colours, fixed, start, freeEntries, req.sixteenBit).colours;
        // An entry equal to another or to a fixed one would find no pixels.
        std::sort(chosen.begin(), chosen.end());
        chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
        chosen.erase(std::remove_if(chosen.begin(), chosen.end(), [&](uint32_t c) { return Holds(fixed, c); }),
                     chosen.end());
    }
    std::vector<PaletteColour> placed;
    for (uint32_t c : chosen) {
        PaletteColour p;
        p.rgb[0] = uint8_t(Red(c));
        p.rgb[1] = uint8_t(Green(c));
        p.rgb[2] = uint8_t(Blue(c));
        p.work = ForwardTransform(p.rgb[0], p.rgb[1], p.rgb[2]);
        placed.push_back(p);
    }
    FinishPalette(placed, frame, out);
    return true;
}

} // namespace rdq
