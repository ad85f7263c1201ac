#pragma once
// Palette build of the quality mode. When the counted colours fit the free
// entries the palette holds exactly those colours and the reduction is
// lossless. Otherwise the colours of the divisive and merge phases start
// Lloyd iterations and swap trials (RdqLloyd.h) by squared R, G, B distance,
// the error the eye sees on screen and that PSNR counts. Images of many
// colours are refined first over their colours gathered in cells of 4 x 4 x 4
// levels and then over the exact colours. Reserved and caller entries never
// move. Every build gives the same palette.
#include <cstdint>
#include <vector>

#include "reduce/RdqCensus.h"
#include "reduce/RdqQuantizer.h"

namespace rdq {

// Same request, same failures as BuildPalette.
bool BuildPaletteBest(const Histogram& hist, const Census& census, const PaletteRequest& req, Palette& out);

struct RefineResult {
    std::vector<uint32_t> colours; // the free entries, 0xRRGGBB
    uint64_t error = 0;            // sum over pixels of the squared distance
};

// Refined free entries from the start colours. fixed: entries the pixels
// may map to but that never move; sixteenBit: entries at 5-6-5 precision.
// Never worse than the start colours.
RefineResult Refine(const std::vector<Census::Colour>& colours, const std::vector<uint32_t>& fixed,
                    const std::vector<uint32_t>& start, int freeEntries, bool sixteenBit);

// Squared-distance error of mapping every colour to its nearest entry.
uint64_t PaletteError(const std::vector<Census::Colour>& colours, const std::vector<uint32_t>& entries);

} // namespace rdq
