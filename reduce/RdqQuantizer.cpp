#include "reduce/RdqQuantizer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace rdq {

// ---------------------------------------------------------------- histogram

Histogram::Histogram() : heads_(kBuckets, -1) {}

uint32_t Histogram::Bucket(const WColor& c) { return uint32_t(256 * c.l + 4 * c.c1 + c.c2 + 1550) % kBuckets; }

void Histogram::Add(const WColor& c, double weight)
{
    const uint32_t b = Bucket(c);
    int32_t prev = -1;
    for (int32_t i = heads_[b]; i >= 0; prev = i, i = pool_[i].next) {
        Entry& e = pool_[i];
        if (e.l == c.l && e.c1 == c.c1 && e.c2 == c.c2) {
            e.weight += weight;
            if (prev >= 0) { // move to the head of the chain
                pool_[prev].next = e.next;
                e.next = heads_[b];
                heads_[b] = i;
            }
            return;
        }
    }
    pool_.push_back({c.l, c.c1, c.c2, heads_[b], weight});
    heads_[b] = int32_t(pool_.size() - 1);
    ++distinct_;
}

void Histogram::AddImage(const Dib& rgb, const Dib* alpha, bool transparency)
{
    // Adding an image with an alpha plane while transparency is on turns on
    // the key colour black for the rest of the reduction. Only fully
    // transparent black pixels are left out by it; opaque black is a real
    // colour and always counts.
    if (alpha && transparency) keyColour_ = true;
    const int w = rgb.Width(), h = rgb.Height();
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = rgb.Row(y);
        const uint8_t* a = alpha ? alpha->Row(y) : nullptr;
        int32_t lp = ForwardTransform(p[2], p[1], p[0]).l;
        for (int x = 0; x < w; ++x) {
            const uint8_t* q = p + 3 * x;
            WColor c = ForwardTransform(q[2], q[1], q[0]);
            int32_t step = std::abs(c.l - lp);
            int32_t weight = 16 - std::abs(16 - step) / 8;
            if (weight < 1) weight = 1;
            if (a && a[x] == 0) {
                if (transparency) continue;
                if (keyColour_ && q[0] == 0 && q[1] == 0 && q[2] == 0) continue;
            }
            Add(c, weight);
            lp = c.l;
        }
    }
}

std::vector<const Histogram::Entry*> Histogram::Gather() const
{
    std::vector<const Entry*> out;
    out.reserve(pool_.size());
    for (uint32_t b = 0; b < kBuckets; ++b)
        for (int32_t i = heads_[b]; i >= 0; i = pool_[i].next) out.push_back(&pool_[i]);
    return out;
}

// ----------------------------------------------------------- divisive phase

namespace {

constexpr int kBins = 4096;           // projection bins of a large box (quality level 9)
constexpr int kBudgetSixteenths = 40; // boxes per palette entry, in sixteenths (level 9)

struct Item {
    double x[3]; // 40 G(L), 20 C1, 20 C2
    double w;
    WColor c;
};

struct Box {
    int begin = 0, end = 0;
    bool splittable = false;
    double weight = 0.0;
    double sum[3] = {0, 0, 0};
    double priority = 0.0;
    WColor rep = {0, 0, 0};
    int split = 0; // sorted mode: index; bin mode: unused
    bool binMode = false;
    double threshold = 0.0; // bin mode: projections up to this go left
    double axis[3] = {0, 0, 0};
    int left = -1, right = -1;
};

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Eigenvectors of a symmetric 3x3 matrix by cyclic Jacobi rotations; the
// columns of v are the eigenvectors, the diagonal of a the eigenvalues.
void Jacobi(double a[3][3], double v[3][3])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) v[i][j] = i == j ? 1.0 : 0.0;
    for (int sweep = 0; sweep < 300; ++sweep) {
        double off = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
        if (off == 0.0) break;
        for (int p = 0; p < 2; ++p) {
            for (int q = p + 1; q < 3; ++q) {
                double apq = a[p][q];
                if (apq == 0.0) continue;
                double g = 100.0 * std::fabs(apq);
                if (sweep > 3 && std::fabs(a[p][p]) + g == std::fabs(a[p][p]) &&
                    std::fabs(a[q][q]) + g == std::fabs(a[q][q])) {
                    a[p][q] = a[q][p] = 0.0;
                    continue;
                }
                double h = a[q][q] - a[p][p];
                double t;
                if (std::fabs(h) + g == std::fabs(h)) {
                    t = apq / h;
                } else {
                    double theta = 0.5 * h / apq;
                    t = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
                    if (theta < 0.0) t = -t;
                }
                double c = 1.0 / std::sqrt(1.0 + t * t);
                double s = t * c;
                // A' = J^T A J for the rotation in the (p, q) plane.
                for (int k = 0; k < 3; ++k) {
                    double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (int k = 0; k < 3; ++k) {
                    double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
                a[p][q] = a[q][p] = 0.0;
                for (int k = 0; k < 3; ++k) {
                    double vkp = v[k][p], vkq = v[k][q];
                    v[k][p] = c * vkp - s * vkq;
                    v[k][q] = s * vkp + c * vkq;
                }
            }
        }
    }
}

WColor RepresentativeOf(const double mean[3])
{
    return {LightnessFromWeighted(mean[0]), int32_t(mean[1] / kWeightC), int32_t(mean[2] / kWeightC)};
}

class Splitter {
public:
    explicit Splitter(const std::vector<const Histogram::Entry*>& entries)
    {
        const double* g = GammaTable();
        items_.reserve(entries.size());
        for (const Histogram::Entry* e : entries)
            items_.push_back(
                {{kWeightL * g[e->l], kWeightC * e->c1, kWeightC * e->c2}, e->weight, {e->l, e->c1, e->c2}});
        proj_.resize(items_.size());
    }

    std::vector<Box> Run(int target, uint32_t mask)
    {
        boxes_.clear();
        if (items_.empty()) return {};
        Box root;
        root.begin = 0;
        root.end = int(items_.size());
        Analyse(root);
        boxes_.push_back(root);
        int leaves = 1;
        while (leaves < target) {
            int pick = Best(0);
            if (pick < 0) break;
            boxes_[pick].splittable = false;
            Box parent = boxes_[pick];
            int mid = Partition(parent);
            if (mid <= parent.begin || mid >= parent.end) continue;
            Box lo, hi;
            lo.begin = parent.begin;
            lo.end = mid;
            hi.begin = mid;
            hi.end = parent.end;
            Analyse(lo);
            Analyse(hi);
            bool keepLo = lo.weight >= 1.0, keepHi = hi.weight >= 1.0;
            if (keepLo && keepHi && MaskedRgb(lo.rep, mask) == MaskedRgb(hi.rep, mask)) continue;
            if (keepLo) {
                boxes_.push_back(lo);
                boxes_[pick].left = int(boxes_.size() - 1);
            }
            if (keepHi) {
                boxes_.push_back(hi);
                boxes_[pick].right = int(boxes_.size() - 1);
            }
            if (keepLo && keepHi) ++leaves;
            if (!keepLo && !keepHi) --leaves;
        }
        std::vector<Box> out;
        Collect(0, out);
        return out;
    }

private:
    // The splittable leaf of largest priority; on equal priority the one
    // found in the right subtree wins.
    int Best(int node) const
    {
        const Box& b = boxes_[node];
        if (b.left < 0 && b.right < 0) return b.splittable ? node : -1;
        int l = b.left >= 0 ? Best(b.left) : -1;
        int r = b.right >= 0 ? Best(b.right) : -1;
        if (r >= 0 && (l < 0 || boxes_[r].priority >= boxes_[l].priority)) return r;
        return l;
    }

    void Collect(int node, std::vector<Box>& out) const
    {
        const Box& b = boxes_[node];
        if (b.left < 0 && b.right < 0) {
            if (b.weight >= 1.0) out.push_back(b);
            return;
        }
        if (b.left >= 0) Collect(b.left, out);
        if (b.right >= 0) Collect(b.right, out);
    }

    // Reorders the box's range so that its left part comes first; returns
    // the index where the right part starts.
    int Partition(const Box& b)
    {
        if (!b.binMode) return b.split;
        scratch_.clear();
        for (int i = b.begin; i < b.end; ++i)
            if (Dot(items_[i].x, b.axis) <= b.threshold) scratch_.push_back(items_[i]);
        int mid = b.begin + int(scratch_.size());
        for (int i = b.begin; i < b.end; ++i)
            if (!(Dot(items_[i].x, b.axis) <= b.threshold)) scratch_.push_back(items_[i]);
        std::copy(scratch_.begin(), scratch_.end(), items_.begin() + b.begin);
        return mid;
    }

    // Weight, sums and representative of a box; when its items spread along
    // their principal axis, also the best cut across that axis and the
    // priority of splitting there.
    void Analyse(Box& b)
    {
        const int n = b.end - b.begin;
        b.splittable = false;
        b.priority = 0.0;
        b.weight = 0.0;
        b.sum[0] = b.sum[1] = b.sum[2] = 0.0;
        if (n <= 0) return;
        if (n == 1) {
            const Item& it = items_[b.begin];
            b.weight = it.w;
            for (int k = 0; k < 3; ++k) b.sum[k] = it.w * it.x[k];
            b.rep = it.c;
            return;
        }
        const double q = AddMoments(b);
        const double w = b.weight;
        const double mean[3] = {b.sum[0] / w, b.sum[1] / w, b.sum[2] / w};
        b.rep = RepresentativeOf(mean);
        FindAxis(b, mean);
        double lo = 0.0, hi = 0.0;
        Project(b, lo, hi);
        if (hi - lo < 1e-9) return;

        const int bins = FillBins(b, lo, hi);
        double bestErr = 0.0;
        const int cut = BestCut(bins, w, b.sum, q, bestErr);
        if (b.binMode) {
            b.threshold = cut >= bins ? lo + (hi - lo) / 2.0 : lo + cut * (hi - lo) / double(kBins);
        } else {
            b.split = b.begin + std::min(std::max(cut, 1), n - 1);
        }
        b.splittable = true;
        b.priority = (q - Dot(mean, mean) * w - bestErr) / std::sqrt(w);
    }

    // Sets the box's weight and weighted sums; returns its weighted sum of
    // squared norms.
    double AddMoments(Box& b) const
    {
        double w = 0.0, s[3] = {0, 0, 0}, q = 0.0;
        for (int i = b.begin; i < b.end; ++i) {
            const Item& it = items_[i];
            w += it.w;
            for (int k = 0; k < 3; ++k) s[k] += it.w * it.x[k];
            q += it.w * Dot(it.x, it.x);
        }
        b.weight = w;
        for (int k = 0; k < 3; ++k) b.sum[k] = s[k];
        return q;
    }

    // The box's axis: the eigenvector of the weighted covariance with the
    // largest eigenvalue.
    void FindAxis(Box& b, const double mean[3]) const
    {
        double cov[3][3] = {};
        for (int i = b.begin; i < b.end; ++i) {
            const Item& it = items_[i];
            double d[3] = {it.x[0] - mean[0], it.x[1] - mean[1], it.x[2] - mean[2]};
            for (int r = 0; r < 3; ++r)
                for (int c = r; c < 3; ++c) cov[r][c] += it.w * d[r] * d[c];
        }
        for (int r = 0; r < 3; ++r)
            for (int c = r; c < 3; ++c) {
                cov[r][c] /= b.weight;
                cov[c][r] = cov[r][c];
            }
        double vec[3][3];
        Jacobi(cov, vec);
        int best = 0;
        for (int k = 1; k < 3; ++k)
            if (std::fabs(cov[k][k]) > std::fabs(cov[best][best])) best = k;
        for (int k = 0; k < 3; ++k) b.axis[k] = vec[k][best];
    }

    // Projections of the box's items on its axis, and their range.
    void Project(const Box& b, double& lo, double& hi)
    {
        for (int i = b.begin; i < b.end; ++i) {
            double p = Dot(items_[i].x, b.axis);
            proj_[i] = p;
            if (i == b.begin || p < lo) lo = p;
            if (i == b.begin || p > hi) hi = p;
        }
    }

    // Bins along the axis: a large box falls into kBins equal parts of its
    // projection range; a small one is sorted by projection, one item a bin.
    // Returns the number of bins.
    int FillBins(Box& b, double lo, double hi)
    {
        const int n = b.end - b.begin;
        b.binMode = n > kBins;
        int bins = b.binMode ? kBins : n;
        binW_.assign(bins, 0.0);
        binS_.assign(size_t(bins) * 3, 0.0);
        binQ_.assign(bins, 0.0);
        if (b.binMode) {
            for (int i = b.begin; i < b.end; ++i) {
                double f = std::floor(double(kBins) * (proj_[i] - lo) / (hi - lo));
                int bin = f < 0.0 ? 0 : f > kBins - 1 ? kBins - 1 : int(f);
                AddToBin(bin, items_[i]);
            }
        } else {
            order_.resize(n);
            for (int i = 0; i < n; ++i) order_[i] = b.begin + i;
            std::stable_sort(order_.begin(), order_.end(), [&](int x, int y) { return proj_[x] < proj_[y]; });
            scratch_.clear();
            for (int i : order_) scratch_.push_back(items_[i]);
            std::copy(scratch_.begin(), scratch_.end(), items_.begin() + b.begin);
            for (int i = 0; i < n; ++i) AddToBin(i, items_[b.begin + i]);
        }
        return bins;
    }

    // The cut before bin c (1 <= c < bins) that leaves the least squared
    // error on its two sides, the first on ties, with that error; bins and
    // error 0 when no bin before a cut has weight.
    int BestCut(int bins, double w, const double s[3], double q, double& bestErr) const
    {
        double lw = 0.0, ls[3] = {0, 0, 0}, lq = 0.0;
        bestErr = 0.0;
        int cut = bins;
        for (int c = 1; c < bins; ++c) {
            lw += binW_[c - 1];
            for (int k = 0; k < 3; ++k) ls[k] += binS_[size_t(c - 1) * 3 + k];
            lq += binQ_[c - 1];
            if (binW_[c - 1] <= 0.0) continue;
            double rw = w - lw;
            if (rw < 0.0001) rw = 0.0001;
            double rs[3] = {s[0] - ls[0], s[1] - ls[1], s[2] - ls[2]};
            double err = (lq - Dot(ls, ls) / lw) + ((q - lq) - Dot(rs, rs) / rw);
            if (cut == bins || err < bestErr) {
                bestErr = err;
                cut = c;
            }
        }
        return cut;
    }

    void AddToBin(int bin, const Item& it)
    {
        binW_[bin] += it.w;
        for (int k = 0; k < 3; ++k) binS_[size_t(bin) * 3 + k] += it.w * it.x[k];
        binQ_[bin] += it.w * Dot(it.x, it.x);
    }

    std::vector<Item> items_, scratch_;
    std::vector<double> proj_, binW_, binS_, binQ_;
    std::vector<int> order_;
    std::vector<Box> boxes_;
};

// ------------------------------------------------------------- merge phase

struct Cluster {
    float w;
    float s[3];
    float e; // |S|^2 / W
};

WColor ClusterColour(const Cluster& c, double chromaBias)
{
    double w = c.w;
    return {LightnessFromWeighted(c.s[0] / w), int32_t(c.s[1] / w / kWeightC + chromaBias),
            int32_t(c.s[2] / w / kWeightC + chromaBias)};
}

// Increase of the squared error when two clusters join:
// |Si|^2/Wi + |Sj|^2/Wj - |Si+Sj|^2/(Wi+Wj), evaluated as
// Wi Wj / (Wi + Wj) |Si/Wi - Sj/Wj|^2, which is the same quantity without
// the cancellation of large terms in single precision.
float MergeCost(const Cluster& a, const Cluster& b)
{
    float d0 = a.s[0] / a.w - b.s[0] / b.w;
    float d1 = a.s[1] / a.w - b.s[1] / b.w;
    float d2 = a.s[2] / a.w - b.s[2] / b.w;
    float dd = d0 * d0 + d1 * d1 + d2 * d2;
    return a.w * b.w / (a.w + b.w) * dd;
}

// Agglomerative merge of the leaf boxes: clusters join, cheapest pair
// first, until the target count is left. Each row of the symmetric cost
// matrix keeps its cheapest partner so that a step rescans only the rows
// the join touched.
class Merger {
public:
    Merger(const std::vector<Box>& leaves, uint32_t mask) :
        n_(int(leaves.size())), mask_(mask), cl_(n_), cost_(size_t(n_) * n_, 0.0f), alive_(n_, 1), rowMin_(n_),
        rowArg_(n_), look_(n_)
    {
        for (int i = 0; i < n_; ++i) {
            Cluster& c = cl_[i];
            c.w = float(leaves[i].weight);
            for (int k = 0; k < 3; ++k) c.s[k] = float(leaves[i].sum[k]);
            c.e = (c.s[0] * c.s[0] + c.s[1] * c.s[1] + c.s[2] * c.s[2]) / c.w;
        }
        for (int i = 0; i < n_; ++i)
            for (int j = i + 1; j < n_; ++j) Cost(i, j) = Cost(j, i) = MergeCost(cl_[i], cl_[j]);
        for (int i = 0; i < n_; ++i) Rescan(i);
        for (int i = 0; i < n_; ++i) look_[i] = MaskedRgb(ClusterColour(cl_[i], 0.5), mask_);
    }

    std::vector<WColor> Run(int target)
    {
        for (int clusters = n_; clusters > target; --clusters) {
            int a = -1, b = -1;
            // Near the end, clusters that would look the same at palette
            // precision join first, whatever their cost.
            if (clusters - target > 31 || !FindLookAlikes(a, b)) {
                a = CheapestRow();
                b = rowArg_[a];
            }
            Join(std::min(a, b), std::max(a, b));
        }
        std::vector<WColor> out;
        for (int i = 0; i < n_; ++i)
            if (alive_[i]) out.push_back(ClusterColour(cl_[i], 0.0));
        return out;
    }

private:
    float& Cost(int i, int j) { return cost_[size_t(i) * n_ + j]; }

    // The cheapest partner of row i among the living clusters.
    void Rescan(int i)
    {
        const int n = n_;
        const float* row = &cost_[size_t(i) * n];
        const char* alive = alive_.data();
        int arg = -1;
        float min = rowMin_[i];
        for (int j = 0; j < n; ++j) {
            if (j == i || !alive[j]) continue;
            const float v = row[j];
            if (arg < 0 || v < min) {
                min = v;
                arg = j;
            }
        }
        rowMin_[i] = min;
        rowArg_[i] = arg;
    }

    // The first pair of living clusters with the same look.
    bool FindLookAlikes(int& a, int& b) const
    {
        for (int i = 0; i < n_; ++i) {
            if (!alive_[i]) continue;
            for (int j = i + 1; j < n_; ++j)
                if (alive_[j] && look_[j] == look_[i]) {
                    a = i;
                    b = j;
                    return true;
                }
        }
        return false;
    }

    // The living row with the cheapest partner (the first on ties).
    int CheapestRow() const
    {
        int a = -1;
        for (int i = 0; i < n_; ++i)
            if (alive_[i] && rowArg_[i] >= 0 && (a < 0 || rowMin_[i] < rowMin_[a])) a = i;
        return a;
    }

    // Cluster lo joins hi; the costs of hi and the rows that pointed at
    // either are brought up to date.
    void Join(int lo, int hi)
    {
        Cluster& c = cl_[hi];
        c.w += cl_[lo].w;
        for (int k = 0; k < 3; ++k) c.s[k] += cl_[lo].s[k];
        c.e = (c.s[0] * c.s[0] + c.s[1] * c.s[1] + c.s[2] * c.s[2]) / c.w;
        alive_[lo] = 0;
        look_[hi] = MaskedRgb(ClusterColour(c, 0.5), mask_);
        for (int j = 0; j < n_; ++j)
            if (alive_[j] && j != hi) Cost(hi, j) = Cost(j, hi) = MergeCost(c, cl_[j]);
        for (int i = 0; i < n_; ++i) {
            if (!alive_[i]) continue;
            if (i == hi || rowArg_[i] == lo || rowArg_[i] == hi) {
                Rescan(i);
                continue;
            }
            float v = Cost(i, hi);
            if (v < rowMin_[i] || (v == rowMin_[i] && hi < rowArg_[i])) {
                rowMin_[i] = v;
                rowArg_[i] = hi;
            }
        }
    }

    const int n_;
    const uint32_t mask_;
    std::vector<Cluster> cl_;
    std::vector<float> cost_;
    std::vector<char> alive_;
    std::vector<float> rowMin_;
    std::vector<int> rowArg_;
    std::vector<uint32_t> look_; // masked RGB of each cluster's colour
};

std::vector<WColor> Merge(const std::vector<Box>& leaves, int target, uint32_t mask)
{
    if (int(leaves.size()) <= target) {
        std::vector<WColor> out;
        for (const Box& b : leaves) out.push_back(b.rep);
        return out;
    }
    return Merger(leaves, mask).Run(target);
}

} // namespace

std::vector<WColor> ComputeColours(const Histogram& hist, int paletteSize, int freeEntries, uint32_t mask)
{
    if (freeEntries <= 0) return {};
    int target = std::min(paletteSize * kBudgetSixteenths / 16, 8192);
    Splitter splitter(hist.Gather());
    std::vector<Box> leaves = splitter.Run(target, mask);
    return Merge(leaves, freeEntries, mask);
}

// --------------------------------------------------------- palette assembly

namespace {

int64_t OrderKey(const uint8_t rgb[3])
{
    WColor c = ForwardTransform(rgb[0], rgb[1], rgb[2]);
    return int64_t(c.l) * 1000000 + int64_t(c.c1) * 1000 + c.c2 + 500500;
}

} // namespace

bool StartPalette(const PaletteRequest& req, Palette& out, PaletteFrame& frame)
{
    const int n = req.size, k = req.caller ? req.callerCount : 0;
    const int r = (req.transparency ? 1 : 0) + req.extraReserved;
    if (n < 2 || n > 256 || req.extraReserved < 0 || req.extraReserved > 2) return false;
    if (k > n || (k > 0 && k < r)) return false;
    if (k == 0 && r >= n) return false; // no entry left for any colour

    out = Palette();
    out.size = n;
    frame = PaletteFrame();
    frame.reserved = r;
    frame.callerCount = k;
    frame.first = k > 0 ? k : r;
    frame.mask = req.sixteenBit ? 0xFCFCFC : 0xFFFFFF;
    frame.work.assign(n, WColor{0, 0, 0});
    frame.searchable.assign(n, 0);
    for (int i = 0; i < k; ++i) {
        for (int c = 0; c < 3; ++c) out.rgb[i][c] = req.caller[3 * i + c];
        frame.work[i] = ForwardTransform(out.rgb[i][0], out.rgb[i][1], out.rgb[i][2]);
        frame.searchable[i] = i >= r;
    }
    return true;
}

void FinishPalette(const std::vector<PaletteColour>& colours, PaletteFrame& frame, Palette& out)
{
    const int n = out.size;
    struct Computed {
        PaletteColour colour;
        int64_t key;
    };
    std::vector<Computed> comp;
    for (const PaletteColour& c : colours) {
        if (frame.first + int(comp.size()) >= n) break;
        comp.push_back({c, OrderKey(c.rgb)});
    }
    std::stable_sort(comp.begin(), comp.end(), [](const Computed& a, const Computed& b) { return a.key < b.key; });
    for (size_t i = 0; i < comp.size(); ++i) {
        const int pos = frame.first + int(i);
        for (int c = 0; c < 3; ++c) out.rgb[pos][c] = comp[i].colour.rgb[c];
        frame.work[pos] = comp[i].colour.work;
        frame.searchable[pos] = 1;
    }
    // Entries left without a colour stay black and are not searchable.

    std::vector<int> order;
    for (int i = 0; i < n; ++i)
        if (frame.searchable[i]) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return frame.work[a].l < frame.work[b].l; });
    for (int i : order) {
        out.search.push_back(frame.work[i]);
        out.searchToOut.push_back(i);
    }
}

bool BuildPalette(const Histogram& hist, const PaletteRequest& req, Palette& out)
{
    PaletteFrame frame;
    if (!StartPalette(req, out, frame)) return false;
    const int n = req.size, r = frame.reserved, k = frame.callerCount;
    std::vector<WColor> colours = ComputeColours(hist, n, n - frame.first, frame.mask);
    // Computed colours equal to a fixed caller colour would be duplicates.
    if (k > r) {
        colours.erase(std::remove_if(colours.begin(), colours.end(),
                                     [&](const WColor& c) {
                                         for (int i = r; i < k; ++i)
                                             if (frame.work[i] == c) return true;
                                         return false;
                                     }),
                      colours.end());
    }
    std::vector<PaletteColour> placed;
    for (const WColor& c : colours) {
        PaletteColour e;
        InverseTransform(c, e.rgb);
        e.work = c;
        if (req.sixteenBit) {
            e.rgb[0] = uint8_t((e.rgb[0] & 0xF8) | (e.rgb[0] >> 5));
            e.rgb[1] = uint8_t((e.rgb[1] & 0xFC) | (e.rgb[1] >> 6));
            e.rgb[2] = uint8_t((e.rgb[2] & 0xF8) | (e.rgb[2] >> 5));
            e.work = ForwardTransform(e.rgb[0], e.rgb[1], e.rgb[2]);
        }
        placed.push_back(e);
    }
    FinishPalette(placed, frame, out);
    return true;
}

} // namespace rdq
