#pragma once
// Nearest palette entry by squared R, G, B distance, the error measure of
// the quality mode. The colour cube is cut into 16 x 16 x 16 cells; the
// first query in a cell lists the entries that can be nearest to any colour
// of the cell (those no farther from the cell than the cell's farthest
// point is from the best single entry), sorted by that lower bound, so a
// query looks at a handful of entries. The lists are drawn from those of
// 8 x 8 x 8 larger cells, so listing stays cheap with many entries.
// Integer arithmetic only.
#include <cstdint>
#include <vector>

#include "reduce/RdqRgb.h"

namespace rdq {

class RgbSearch {
public:
    struct Entry {
        uint8_t r, g, b;
        int id; // caller's number of the entry
    };

    explicit RgbSearch(const std::vector<Entry>& entries = {});
    // Starts over with other entries (cheaper than a new search).
    void Reset(const std::vector<Entry>& entries);

    // Id of the nearest entry (-1 when there is none); of equally near
    // entries the one given first wins. distance: its squared distance;
    // second: a lower bound of the squared distance of every other entry.
    int Find(int r, int g, int b, int32_t* distance = nullptr, int32_t* second = nullptr);
    bool Empty() const { return m_entries.empty(); }
    // Distances computed so far (listing cells included): the work done.
    uint64_t Work() const { return m_work; }

private:
    // Cells of one size: 8 x 8 x 8 large ones (level 0), 16 x 16 x 16 small
    // ones (level 1); each cell's candidates lie in one run of `candidates`.
    struct Level {
        std::vector<int32_t> start; // -1: not listed yet
        std::vector<uint16_t> count;
        std::vector<int32_t> outside; // nearest approach of the unlisted entries
        std::vector<uint16_t> candidates; // entry positions, by rising bound
        std::vector<int32_t> bounds;      // each candidate's lower bound
        std::vector<int> listed;          // cells listed so far
    };
    static constexpr int kCells = 16 * 16 * 16;

    void BuildCell(int level, int cell);

    std::vector<Entry> m_entries;
    Level m_levels[2];
    uint64_t m_work = 0;
};

} // namespace rdq
