#pragma once
// Exact colour census of the pixels a palette reduction counts: every
// distinct 24-bit colour with its number of pixels. The quality mode builds
// exact palettes and refines computed ones over it.
#include <cstdint>
#include <vector>

#include "reduce/RdqBitmap.h"
#include "reduce/RdqRgb.h"

namespace rdq {

class Census {
public:
    struct Colour {
        uint32_t rgb;   // 0xRRGGBB
        uint32_t count; // pixels of this colour
    };

    Census();
    // Counts the pixels of a 24-bit bitmap; with transparency and an alpha
    // plane, alpha-0 pixels are left out (as the histogram does).
    void AddImage(const Dib& rgb, const Dib* alpha, bool transparency);
    void Add(uint32_t rgb, uint32_t count = 1);

    size_t Distinct() const { return m_used; }
    // The distinct colours in ascending 0xRRGGBB order.
    std::vector<Colour> Colours() const;

private:
    void Grow();

    // Open addressing; a slot holds rgb | kUsed, or 0 when empty.
    static constexpr uint32_t kUsed = 0x1000000u;
    std::vector<uint32_t> m_keys, m_counts;
    uint32_t m_shift;
    size_t m_used = 0;
};

} // namespace rdq
