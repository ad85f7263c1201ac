#pragma once
// Lloyd iterations of palette entries over weighted colour points: every
// point goes to its nearest entry by squared R, G, B distance, every movable
// entry to the mean of its points (at palette precision), and entries left
// without points to the points of largest error. Then swap trials: the
// entry that costs least to lose moves into the cluster of most error and
// the iterations run again; a trial is kept only when the error falls.
//
// Between passes each point keeps its entry and a lower bound of its
// distance to every other one; the few entries that moved most are measured
// exactly and the bound shrinks by the largest move of the rest, so a point
// whose entry is still the nearest needs no search. The work (distances
// computed) is bounded by a budget, never by a clock, so the result depends
// on the input alone; all arithmetic that decides it is integer or exactly
// rounded.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "reduce/RdqRgbSearch.h"

namespace rdq {

struct LloydPoint {
    uint32_t rgb;      // 0xRRGGBB searched with (the rounded mean of its colours)
    uint32_t count;    // pixels
    uint64_t sum[3];   // sums of R, G and B over those pixels
};

struct LloydResult {
    std::vector<uint32_t> colours; // movable entries, 0xRRGGBB
    uint64_t error = 0;            // sum over points of pixels x squared distance
};

class Lloyd {
public:
    // fixed: entries the points may go to but that never move; sixteenBit:
    // entries at 5-6-5 precision; budget: distances to compute at most
    // (a pass may overrun it; none starts once it is spent).
    Lloyd(const std::vector<LloydPoint>& points, const std::vector<uint32_t>& fixed, bool sixteenBit, uint64_t budget);

    // Iterations and then swap trials from the start entries; up to
    // freeEntries entries (missing ones are seeded from the points).
    LloydResult Run(std::vector<uint32_t> start, int freeEntries);
    // Iterations only, at most maxIterations of them.
    LloydResult Iterate(std::vector<uint32_t> movable, int freeEntries, int maxIterations);
    // Error of the entries as they are (one pass).
    uint64_t Assign(const std::vector<uint32_t>& movable);

private:
    struct Sums {
        uint64_t r = 0, g = 0, b = 0, n = 0;
    };

    double Moves(const std::vector<uint32_t>& movable, std::vector<int>& movers) const;
    int Keep(size_t i, const std::vector<RgbSearch::Entry>& entries, const std::vector<int>& movers, double drift,
             int32_t& d);
    int MoveToMeans(std::vector<uint32_t>& movable);
    bool Seed(std::vector<uint32_t>& movable, int wanted);
    bool MoveCheapest(std::vector<uint32_t>& movable, int rank);
    bool Holds(const std::vector<uint32_t>& list, uint32_t c) const;
    void Forget() { m_bounded = false; }

    const std::vector<LloydPoint>& m_points;
    const std::vector<uint32_t>& m_fixed;
    const bool m_sixteenBit;
    uint64_t m_budget;
    uint64_t m_lastPass = 0; // work of the latest pass
    std::vector<uint64_t> m_cost; // error of each point
    std::vector<int> m_assign;    // entry of each point
    std::vector<double> m_lower;  // lower bound of its distance to every other entry
    std::vector<uint32_t> m_previous;
    std::vector<Sums> m_sums;
    RgbSearch m_search;
    bool m_bounded = false;
};

} // namespace rdq
