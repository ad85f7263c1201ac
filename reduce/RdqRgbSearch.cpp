#include "reduce/RdqRgbSearch.h"

#include <algorithm>
#include <limits>

namespace rdq {

namespace {

// Squared distances from v to the nearest and farthest value of [lo, hi].
int32_t Near(int v, int lo, int hi)
{
    const int d = v < lo ? lo - v : v > hi ? v - hi : 0;
    return d * d;
}

int32_t Far(int v, int lo, int hi)
{
    const int d = std::max(v > lo ? v - lo : lo - v, v > hi ? v - hi : hi - v);
    return d * d;
}

} // namespace

RgbSearch::RgbSearch(const std::vector<Entry>& entries) : m_entries(entries)
{
    for (Level& level : m_levels) {
        level.start.assign(kCells, -1);
        level.count.assign(kCells, 0);
        level.outside.assign(kCells, 0);
    }
}

void RgbSearch::Reset(const std::vector<Entry>& entries)
{
    m_entries = entries;
    for (Level& level : m_levels) {
        for (int cell : level.listed) level.start[cell] = -1;
        level.listed.clear();
        level.candidates.clear();
        level.bounds.clear();
    }
}

// Lists the entries that can be nearest to some colour of a cell: those no
// farther from the cell than the cell's farthest point from the best single
// entry. A cell's list is drawn from the list of the large cell around it
// (whatever can be nearest in a part can be nearest in the whole).
void RgbSearch::BuildCell(int levelIndex, int cell)
{
    Level& level = m_levels[levelIndex];
    const int shift = levelIndex == 0 ? 5 : 4, size = 1 << shift, bits = 8 - shift;
    const int r0 = (cell >> (2 * bits)) << shift, g0 = ((cell >> bits) & ((1 << bits) - 1)) << shift,
              b0 = (cell & ((1 << bits) - 1)) << shift;
    // Where the candidates come from: every entry, or the large cell's list.
    std::vector<uint16_t> from;
    int32_t outside = std::numeric_limits<int32_t>::max();
    if (levelIndex == 0) {
        for (size_t i = 0; i < m_entries.size(); ++i) from.push_back(uint16_t(i));
    } else {
        const int large = (r0 >> 5) << 6 | (g0 >> 5) << 3 | (b0 >> 5);
        if (m_levels[0].start[large] < 0) BuildCell(0, large);
        const Level& up = m_levels[0];
        from.assign(up.candidates.begin() + up.start[large], up.candidates.begin() + up.start[large] + up.count[large]);
        outside = up.outside[large];
    }
    m_work += 2 * uint64_t(from.size());
    int32_t reach = std::numeric_limits<int32_t>::max();
    for (uint16_t i : from) {
        const Entry& e = m_entries[i];
        reach = std::min(reach, Far(e.r, r0, r0 + size - 1) + Far(e.g, g0, g0 + size - 1) + Far(e.b, b0, b0 + size - 1));
    }
    struct Candidate {
        int32_t bound;
        uint16_t pos;
    };
    std::vector<Candidate> list;
    for (uint16_t i : from) {
        const Entry& e = m_entries[i];
        const int32_t near = Near(e.r, r0, r0 + size - 1) + Near(e.g, g0, g0 + size - 1) + Near(e.b, b0, b0 + size - 1);
        if (near <= reach) list.push_back({near, i});
        else outside = std::min(outside, near);
    }
    std::stable_sort(list.begin(), list.end(), [](const Candidate& a, const Candidate& b) { return a.bound < b.bound; });
    level.outside[cell] = outside;
    level.listed.push_back(cell);
    level.start[cell] = int32_t(level.candidates.size());
    level.count[cell] = uint16_t(list.size());
    for (const Candidate& c : list) {
        level.candidates.push_back(c.pos);
        level.bounds.push_back(c.bound);
    }
}

int RgbSearch::Find(int r, int g, int b, int32_t* distance, int32_t* second)
{
    if (m_entries.empty()) return -1;
    const int cell = (r >> 4) << 8 | (g >> 4) << 4 | (b >> 4);
    Level& level = m_levels[1];
    if (level.start[cell] < 0) BuildCell(1, cell);
    const int start = level.start[cell], end = start + level.count[cell];
    int best = -1;
    int32_t bestD = 0, nextD = std::numeric_limits<int32_t>::max();
    for (int i = start; i < end; ++i) {
        // Candidates come by rising lower bound: past the best distance (or
        // the second best, when asked for) none can matter.
        if (best >= 0 && level.bounds[i] > (second ? nextD : bestD)) break;
        const Entry& e = m_entries[level.candidates[i]];
        const int32_t d = RgbDistance(r, g, b, e.r, e.g, e.b);
        ++m_work;
        // Equal distances go to the entry given first.
        if (best < 0 || d < bestD || (d == bestD && level.candidates[i] < best)) {
            if (best >= 0) nextD = bestD;
            best = level.candidates[i];
            bestD = d;
        } else if (d < nextD) {
            nextD = d;
        }
    }
    if (distance) *distance = bestD;
    if (second) *second = std::min(nextD, level.outside[cell]);
    return m_entries[best].id;
}

} // namespace rdq
