#include "reduce/RdqLloyd.h"

#include <algorithm>
#include <cmath>

namespace rdq {

namespace {

constexpr int kMaxIterations = 24;
constexpr int kSwaps = 24;
constexpr int kSwapIterations = 6;
// Entries whose moves are checked one by one between passes.
constexpr size_t kMovers = 8;
// Iterations stop once the error falls by less than 1/kSettle.
constexpr uint64_t kSettle = 2000;
constexpr uint32_t kUnplaced = 0xFFFFFFFFu;

std::vector<RgbSearch::Entry> SearchEntries(const std::vector<uint32_t>& fixed, const std::vector<uint32_t>& movable)
{
    std::vector<RgbSearch::Entry> entries;
    for (const std::vector<uint32_t>* list : {&fixed, &movable})
        for (uint32_t c : *list)
            entries.push_back({uint8_t(Red(c)), uint8_t(Green(c)), uint8_t(Blue(c)), int(entries.size())});
    return entries;
}

int Mean(uint64_t sum, uint64_t n) { return int((2 * sum + n) / (2 * n)); }

} // namespace

Lloyd::Lloyd(const std::vector<LloydPoint>& points, const std::vector<uint32_t>& fixed, bool sixteenBit,
             uint64_t budget)
    : m_points(points), m_fixed(fixed), m_sixteenBit(sixteenBit), m_budget(budget), m_cost(points.size(), 0),
      m_assign(points.size(), -1), m_lower(points.size(), 0.0)
{
}

LloydResult Lloyd::Run(std::vector<uint32_t> start, int freeEntries)
{
    if (int(start.size()) > freeEntries) start.resize(freeEntries);
    LloydResult best = Iterate(start, freeEntries, kMaxIterations);
    for (int trial = 0, rank = 0; trial < kSwaps && rank < int(best.colours.size()); ++trial) {
        if (m_budget < m_lastPass * (kSwapIterations + 2)) break;
        Assign(best.colours);
        std::vector<uint32_t> moved = best.colours;
        if (!MoveCheapest(moved, rank)) break;
        LloydResult r = Iterate(moved, freeEntries, kSwapIterations);
        if (r.error < best.error) {
            best = r;
            rank = 0;
        } else {
            ++rank; // try the next cheapest entry
        }
    }
    return best;
}

LloydResult Lloyd::Iterate(std::vector<uint32_t> movable, int freeEntries, int maxIterations)
{
    LloydResult best;
    uint64_t previous = 0;
    bool canSeed = true;
    for (int iteration = 0;; ++iteration) {
        const uint64_t error = Assign(movable);
        if (iteration == 0 || error < best.error) best = {movable, error};
        const int missing = canSeed ? freeEntries - int(movable.size()) : 0;
        const bool settled = iteration > 0 && error * kSettle >= previous * (kSettle - 1);
        if (iteration == maxIterations || m_budget < m_lastPass || (settled && missing == 0)) break;
        previous = error;
        const int empty = MoveToMeans(movable);
        if (empty + missing > 0) {
            canSeed = Seed(movable, empty + missing);
            Forget();
        }
    }
    return best;
}

uint64_t Lloyd::Assign(const std::vector<uint32_t>& movable)
{
    const int fixedCount = int(m_fixed.size());
    const std::vector<RgbSearch::Entry> entries = SearchEntries(m_fixed, movable);
    RgbSearch& search = m_search;
    search.Reset(entries);
    const uint64_t workBefore = search.Work();
    const bool bounded = m_bounded && m_previous.size() == movable.size();
    std::vector<int> movers;
    const double drift = bounded ? Moves(movable, movers) : 0.0;
    m_sums.assign(movable.size(), Sums());
    uint64_t error = 0, kept = 0;
    for (size_t i = 0; i < m_points.size(); ++i) {
        const LloydPoint& p = m_points[i];
        int32_t d = 0;
        int id = bounded ? Keep(i, entries, movers, drift, d) : -1;
        kept += bounded ? 1 + movers.size() : 0;
        if (id < 0) {
            int32_t second = 0;
            id = search.Find(Red(p.rgb), Green(p.rgb), Blue(p.rgb), &d, &second);
            if (id < 0) continue; // nothing to go to
            m_assign[i] = id;
            m_lower[i] = std::sqrt(double(second));
        }
        m_cost[i] = uint64_t(d) * p.count;
        error += m_cost[i];
        if (id < fixedCount) continue;
        Sums& s = m_sums[id - fixedCount];
        s.r += p.sum[0];
        s.g += p.sum[1];
        s.b += p.sum[2];
        s.n += p.count;
    }
    // Work: the distances computed, one visit per point at least.
    m_lastPass = std::max<uint64_t>(search.Work() - workBefore + kept, m_points.size());
    m_budget -= std::min(m_budget, m_lastPass);
    m_previous = movable;
    m_bounded = !search.Empty();
    return error;
}

// The entry ids that moved most since the last pass (at most kMovers of
// them); returns the largest move of all the others.
double Lloyd::Moves(const std::vector<uint32_t>& movable, std::vector<int>& movers) const
{
    std::vector<std::pair<int32_t, int>> moves;
    for (size_t k = 0; k < movable.size(); ++k) {
        const int32_t d = RgbDistance(movable[k], m_previous[k]);
        if (d > 0) moves.push_back({-d, int(m_fixed.size() + k)});
    }
    std::sort(moves.begin(), moves.end());
    size_t i = 0;
    for (; i < moves.size() && i < kMovers; ++i) movers.push_back(moves[i].second);
    return i < moves.size() ? std::sqrt(double(-moves[i].first)) : 0.0;
}

// The point's entry when no other can have come nearer, else -1.
int Lloyd::Keep(size_t i, const std::vector<RgbSearch::Entry>& entries, const std::vector<int>& movers, double drift,
                int32_t& d)
{
    const int r = Red(m_points[i].rgb), g = Green(m_points[i].rgb), b = Blue(m_points[i].rgb);
    const int own = m_assign[i];
    d = RgbDistance(r, g, b, entries[own].r, entries[own].g, entries[own].b);
    int32_t nearestMover = -1;
    for (int m : movers) {
        if (m == own) continue;
        const int32_t dm = RgbDistance(r, g, b, entries[m].r, entries[m].g, entries[m].b);
        if (dm < d) return -1;
        if (nearestMover < 0 || dm < nearestMover) nearestMover = dm;
    }
    double lower = m_lower[i] - drift;
    if (nearestMover >= 0) lower = std::min(lower, std::sqrt(double(nearestMover)));
    if (std::sqrt(double(d)) > lower) return -1;
    m_lower[i] = lower;
    return own;
}

// Moves every entry that has points to their mean; returns how many
// entries have none (they are marked unplaced).
int Lloyd::MoveToMeans(std::vector<uint32_t>& movable)
{
    int empty = 0;
    for (size_t k = 0; k < movable.size(); ++k) {
        const Sums& s = m_sums[k];
        if (s.n == 0) {
            movable[k] = kUnplaced;
            ++empty;
            continue;
        }
        movable[k] = SnapToPalette(PackRgb(Mean(s.r, s.n), Mean(s.g, s.n), Mean(s.b, s.n)), m_sixteenBit);
    }
    return empty;
}

// Unplaced entries, and the missing ones, go to the points of largest error
// (pixels times squared distance) that no entry holds. False when too few
// such points are left: then no entry is worth adding any more, and
// unplaced entries that found none are dropped.
bool Lloyd::Seed(std::vector<uint32_t>& movable, int wanted)
{
    std::vector<uint32_t> order(m_points.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = uint32_t(i);
    const size_t look = std::min(order.size(), size_t(wanted) * 4 + 16);
    auto costlier = [&](uint32_t a, uint32_t b) { return m_cost[a] != m_cost[b] ? m_cost[a] > m_cost[b] : a < b; };
    std::partial_sort(order.begin(), order.begin() + look, order.end(), costlier);
    std::vector<uint32_t> seeds;
    for (size_t i = 0; i < look && int(seeds.size()) < wanted; ++i) {
        if (m_cost[order[i]] == 0) break;
        const uint32_t c = SnapToPalette(m_points[order[i]].rgb, m_sixteenBit);
        if (Holds(movable, c) || Holds(seeds, c)) continue;
        seeds.push_back(c);
    }
    std::vector<uint32_t> kept;
    size_t next = 0;
    for (uint32_t m : movable) {
        if (m != kUnplaced) kept.push_back(m);
        else if (next < seeds.size()) kept.push_back(seeds[next++]);
    }
    while (next < seeds.size()) kept.push_back(seeds[next++]);
    movable.swap(kept);
    return int(seeds.size()) == wanted;
}

// After a pass: moves the entry of the rank-th smallest merge cost (about
// the error its points would add if they joined the nearest other entry)
// onto the costliest point of the cluster of most error. False when there
// is nothing to move.
bool Lloyd::MoveCheapest(std::vector<uint32_t>& movable, int rank)
{
    const int k = int(movable.size()), fixedCount = int(m_fixed.size());
    if (k < 2 || rank >= k) return false;
    std::vector<uint64_t> clusterError(k, 0);
    std::vector<int64_t> costliest(k, -1);
    for (size_t i = 0; i < m_points.size(); ++i) {
        const int e = m_assign[i] - fixedCount;
        if (e < 0) continue;
        clusterError[e] += m_cost[i];
        if (costliest[e] < 0 || m_cost[i] > m_cost[costliest[e]]) costliest[e] = int64_t(i);
    }
    // Merge cost n1 n2 / (n1 + n2) d^2 with the nearest other entry.
    std::vector<std::pair<double, int>> merge;
    for (int a = 0; a < k; ++a) {
        int nearest = -1;
        int32_t nearestD = 0;
        for (int b = 0; b < k; ++b) {
            if (a == b) continue;
            const int32_t d = RgbDistance(movable[a], movable[b]);
            if (nearest < 0 || d < nearestD) nearest = b, nearestD = d;
        }
        const double na = double(m_sums[a].n), nb = double(m_sums[nearest].n);
        merge.push_back({na + nb > 0 ? na * nb / (na + nb) * nearestD : 0.0, a});
    }
    m_budget -= std::min(m_budget, uint64_t(k) * uint64_t(k));
    std::stable_sort(merge.begin(), merge.end());
    const int victim = merge[rank].second;
    int target = -1;
    for (int e = 0; e < k; ++e)
        if (e != victim && costliest[e] >= 0 && (target < 0 || clusterError[e] > clusterError[target])) target = e;
    if (target < 0 || clusterError[target] == 0) return false;
    movable[victim] = SnapToPalette(m_points[costliest[target]].rgb, m_sixteenBit);
    return true;
}

bool Lloyd::Holds(const std::vector<uint32_t>& list, uint32_t c) const
{
    return std::find(list.begin(), list.end(), c) != list.end() ||
           std::find(m_fixed.begin(), m_fixed.end(), c) != m_fixed.end();
}

} // namespace rdq
