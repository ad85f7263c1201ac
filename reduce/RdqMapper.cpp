#include "reduce/RdqMapper.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "reduce/RdqRgbMapper.h"

namespace rdq {

namespace {

const int kDivisor[12] = {100, 80, 60, 40, 32, 25, 22, 20, 19, 18, 17, 16};
const int kFraction[12] = {200, 210, 220, 230, 240, 242, 244, 246, 248, 250, 254, 256};

struct Curves {
    int t[3][1025];
    Curves()
    {
        const double e[3] = {0.9, 0.85, 0.85};
        const double s[3] = {241.0, 253.0, 229.0};
        for (int ch = 0; ch < 3; ++ch)
            for (int k = 0; k <= 1024; ++k)
                t[ch][k] = k <= 7 ? k : int(std::floor(Pow(k - 8, e[ch]) * s[ch] / 256.0 + 8.0));
    }
};

const Curves& CurveTable()
{
    static const Curves curves;
    return curves;
}

int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

} // namespace

int LevelDivisor(int level) { return kDivisor[Clamp(level, 0, 11)]; }
int LevelFraction(int level) { return kFraction[Clamp(level, 0, 11)]; }

int ShapeError(int ch, int k)
{
    k = Clamp(k, -1024, 1024);
    const int* t = CurveTable().t[ch];
    return k < 0 ? -t[-k] : t[k];
}

void RowNoise::Next(int out[4])
{
    for (int i = 0; i < 4; ++i) {
        state_ = state_ * 214013u + 2531011u;
        out[i] = int((state_ >> 16) & 0x7FFF);
    }
}

// ------------------------------------------------------------------ search

NearestSearch::NearestSearch(const Palette& pal) : pal_(pal)
{
    const double* g = GammaTable();
    const int n = int(pal.search.size());
    gammaOf_.resize(n);
    for (int i = 0; i < n; ++i) gammaOf_[i] = g[pal.search[i].l];
    // For each lightness the first entry of greater lightness; the last
    // entry for lightness beyond the largest one.
    int e = 0;
    for (int l = 0; l < kLevels; ++l) {
        while (e < n && pal.search[e].l <= l) ++e;
        start_[l] = e < n ? e : n - 1;
    }
    ClearCache();
}

void NearestSearch::ClearCache()
{
    for (CacheRecord& r : cache_) r = {-1, 0, 0};
}

int NearestSearch::Find(const WColor& c)
{
    const int n = int(pal_.search.size());
    if (n == 0) return -1;
    const int l = Clamp(c.l, 0, kLevels - 1);
    CacheRecord& rec = cache_[l];
    if (rec.result >= 0 && rec.c1 == c.c1 && rec.c2 == c.c2) return rec.result;
    const WColor q = {l, c.c1, c.c2};
    const double gl = GammaTable()[l];
    int best = -1;
    int64_t bestD = 0;
    int up = start_[l], down = up - 1;
    bool goUp = true, goDown = true;
    while (goUp || goDown) {
        if (goUp) {
            if (up >= n) {
                goUp = false;
            } else {
                int64_t t = int64_t(std::floor(kWeightL * std::fabs(gammaOf_[up] - gl)));
                if (best >= 0 && t * t > bestD) {
                    goUp = false;
                } else {
                    int64_t d = Distance(pal_.search[up], q);
                    if (best < 0 || d <= bestD) {
                        best = up;
                        bestD = d;
                    }
                    ++up;
                }
            }
        }
        if (goDown) {
            if (down < 0) {
                goDown = false;
            } else {
                int64_t t = int64_t(std::floor(kWeightL * std::fabs(gammaOf_[down] - gl)));
                if (best >= 0 && t * t > bestD) {
                    goDown = false;
                } else {
                    int64_t d = Distance(pal_.search[down], q);
                    if (best < 0 || d < bestD) {
                        best = down;
                        bestD = d;
                    }
                    --down;
                }
            }
        }
    }
    rec = {best, c.c1, c.c2};
    return best;
}

// ----------------------------------------------------------------- mapping

namespace {

// Each pixel to its nearest palette entry.
void MapNearest(const Dib& rgb, const Dib* alpha, NearestSearch& search, uint8_t* out)
{
    const int w = rgb.Width(), h = rgb.Height();
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = rgb.Row(y);
        const uint8_t* a = alpha ? alpha->Row(y) : nullptr;
        uint8_t* o = out + size_t(y) * w;
        for (int x = 0; x < w; ++x) {
            if (a && a[x] == 0) {
                o[x] = 0;
                continue;
            }
            o[x] = uint8_t(search.Output(search.Find(ForwardTransform(p[3 * x + 2], p[3 * x + 1], p[3 * x]))));
        }
    }
}

// Error diffusion in the working colour space, serpentine over the stored
// rows (bottom to top). A pixel is dithered only where its smoothed
// neighbourhood lies between palette colours and close to the pixel itself;
// elsewhere it takes its nearest entry and passes no error on.
class DitherMapper {
public:
    DitherMapper(const Dib& rgb, const Dib* alpha, NearestSearch& search, int divisor) :
        rgb_(rgb), alpha_(alpha), search_(search), divisor_(divisor < 1 ? 1 : divisor), w_(rgb.Width()), prev_(w_ + 2),
        cur_(w_ + 2), errCur_(size_t(w_ + 2) * 3, 0), errNext_(size_t(w_ + 2) * 3, 0)
    {}

    void Run(uint8_t* out)
    {
        const int h = rgb_.Height();
        for (int s = 0; s < h; ++s) {
            LoadRow(s);
            if (s == 0) prev_ = cur_;
            noise_.Next(nz_);
            MapRow(s, out + size_t(h - 1 - s) * w_);
            std::swap(errCur_, errNext_);
            std::fill(errNext_.begin(), errNext_.end(), 0);
            std::swap(prev_, cur_);
        }
    }

private:
    // Working copy of a stored row with one repeated pixel at each end.
    void LoadRow(int stored)
    {
        const uint8_t* p = rgb_.StoredRow(stored);
        for (int x = 0; x < w_; ++x) cur_[x + 1] = ForwardTransform(p[3 * x + 2], p[3 * x + 1], p[3 * x]);
        cur_[0] = cur_[1];
        cur_[w_ + 1] = cur_[w_];
    }

    void MapRow(int r, uint8_t* o)
    {
        const uint8_t* a = alpha_ ? alpha_->StoredRow(r) : nullptr;
        const int dir = (r % 2 == 0) ? -1 : 1;
        for (int i = 0; i < w_; ++i) {
            const int x = dir < 0 ? w_ - 1 - i : i;
            if (a && a[x] == 0) {
                o[x] = 0;
                continue;
            }
            o[x] = MapPixel(r, x, dir);
        }
    }

    // Mean of working pixel cx's neighbourhood: the pixel, its two row
    // neighbours and the previous row's pixel at weight 3, the previous
    // row's two diagonal neighbours at weight 2.
    WColor Smoothed(int cx) const
    {
        const WColor* c = &cur_[cx];
        const WColor* p = &prev_[cx];
        auto mean = [&](int32_t WColor::*ch) {
            return (3 * (c[-1].*ch + c[0].*ch + c[1].*ch + p[0].*ch) + 2 * (p[-1].*ch + p[1].*ch)) / 16;
        };
        return {mean(&WColor::l), mean(&WColor::c1), mean(&WColor::c2)};
    }

    uint8_t MapPixel(int r, int x, int dir)
    {
        const int cx = x + 1;
        const WColor& own = cur_[cx];
        const WColor sm = Smoothed(cx);
        const int ns = search_.Find(sm);
        if (ns < 0 || Distance(sm, search_.Colour(ns)) < 3200 || Distance(own, sm) >= 176000)
            return uint8_t(search_.Output(search_.Find(own)));
        // The smoothed colour, moved by the shaped carried error and noise.
        const int n = nz_[(x + r) % 4];
        const int* e = &errCur_[size_t(cx) * 3];
        int adj[3];
        for (int ch = 0; ch < 3; ++ch) {
            int bit = (n >> ch) & 1;
            adj[ch] = ShapeError(ch, Clamp((bit + e[ch]) / divisor_, -1024, 1023));
        }
        WColor t = {sm.l + adj[0], sm.c1 + adj[1], sm.c2 + adj[2]};
        if (t.l < 0)
            t = {0, 0, 0};
        else if (t.l >= kLevels)
            t = {kLevels - 1, 0, 0};
        const int ps = search_.Find(t);
        const WColor& pc = search_.Colour(ps);
        const int err[3] = {t.l - pc.l, t.c1 - pc.c1, t.c2 - pc.c2};
        Spread(cx, dir, err);
        return uint8_t(search_.Output(ps));
    }

    // The error goes on ahead (7) and to the next row behind, below and
    // ahead (3, 5, 1); the divisor scales what a pixel takes.
    void Spread(int cx, int dir, const int err[3])
    {
        for (int ch = 0; ch < 3; ++ch) {
            errCur_[size_t(cx + dir) * 3 + ch] += 7 * err[ch];
            errNext_[size_t(cx - dir) * 3 + ch] += 3 * err[ch];
            errNext_[size_t(cx) * 3 + ch] += 5 * err[ch];
            errNext_[size_t(cx + dir) * 3 + ch] += err[ch];
        }
    }

    const Dib& rgb_;
    const Dib* alpha_;
    NearestSearch& search_;
    const int divisor_;
    const int w_;
    // Working copies of the previous and current row; error rows with one
    // spare pixel at each end.
    std::vector<WColor> prev_, cur_;
    std::vector<int> errCur_, errNext_;
    RowNoise noise_;
    int nz_[4] = {};
};

} // namespace

std::vector<uint8_t> MapToPalette(const Dib& rgb, const Dib* alpha, bool transparency, const Palette& pal, bool dither,
                                  int divisor)
{
    std::vector<uint8_t> out(size_t(rgb.Width()) * rgb.Height(), 0);
    NearestSearch search(pal);
    const Dib* used = transparency ? alpha : nullptr;
    if (dither)
        DitherMapper(rgb, used, search, divisor).Run(out.data());
    else
        MapNearest(rgb, used, search, out.data());
    return out;
}

// ---------------------------------------------------------- 16-bit writers

namespace {

// Whether the mode holds a colour exactly (its low bits repeat its high ones).
bool Holds16(const int v[3], Mode16 mode)
{
    auto top = [](int c, int bits) {
        const int q = c & (0xFF << (8 - bits)) & 0xFF;
        return bits == 4 ? (c >> 4) * 17 : q | (q >> bits);
    };
    const int g = mode == Mode16::k565 ? 6 : mode == Mode16::k4444 ? 4 : 5, rb = mode == Mode16::k4444 ? 4 : 5;
    return v[0] == top(v[0], rb) && v[1] == top(v[1], g) && v[2] == top(v[2], rb);
}

int QuietShare(const Dib& rgb, int x, int y, const int v[3], Mode16 mode)
{
    if (Holds16(v, mode)) return 0;
    const int contrast = LocalContrast(rgb, x, y);
    return contrast >= kHardEdge ? 0 : ContrastShare(contrast);
}

} // namespace

std::vector<uint8_t> Round16(const Dib& rgb, const Dib* alpha, const Write16Options& opt)
{
    const int w = rgb.Width(), h = rgb.Height();
    std::vector<uint8_t> out(size_t(w) * h * 4);
    const bool dither = opt.dither;
    const bool alphaDither = dither && opt.alphaDither && opt.mode != Mode16::k565;
    const int d = LevelDivisor(opt.level), f = LevelFraction(opt.level);
    const int da = LevelDivisor(opt.alphaLevel), fa = LevelFraction(opt.alphaLevel);
    std::vector<int> errCur(size_t(w + 2) * 4, 0), errNext(size_t(w + 2) * 4, 0);
    RowNoise noise;
    int nz[4];
    auto top5 = [](int v) {
        int q = v & 0xF8;
        return q | (q >> 5);
    };
    auto top6 = [](int v) {
        int q = v & 0xFC;
        return q | (q >> 6);
    };
    for (int y = 0; y < h; ++y) {
        const int r = y;
        noise.Next(nz);
        const uint8_t* p = rgb.Row(y);
        const uint8_t* a = alpha ? alpha->Row(y) : nullptr;
        const int dir = (r % 2 == 0) ? 1 : -1;
        for (int j = 0; j < w; ++j) {
            const int x = dir > 0 ? j : w - 1 - j;
            const int cx = x + 1;
            const int n = nz[(r + j) % 4];
            int* e = &errCur[size_t(cx) * 4];
            int v[3] = {p[3 * x + 2], p[3 * x + 1], p[3 * x]};
            const int srcA = a ? a[x] : 255;
            int adjA = srcA;
            // Share (/256) of the carried colour error this pixel takes in
            // the quality mode; 0: it neither takes nor passes any.
            const int share = opt.quiet && dither ? QuietShare(rgb, x, y, v, opt.mode) : 256;
            if (dither && opt.quiet)
                for (int ch = 0; ch < 3; ++ch) v[ch] = Clamp(v[ch] + e[ch] * share / 256 / d, 0, 255);
            else if (dither)
                for (int ch = 0; ch < 3; ++ch) v[ch] = Clamp(v[ch] + (((n >> ch) & 1) + e[ch]) / d, 0, 255);
            if (alphaDither) adjA = Clamp(srcA + (((n >> 3) & 1) + e[3]) / da, 0, 255);
            int q[3] = {0, 0, 0}, qa = 255, aa = 255;
            switch (opt.mode) {
            case Mode16::k565:
                q[0] = top5(v[0]);
                q[1] = top6(v[1]);
                q[2] = top5(v[2]);
                break;
            case Mode16::k4444:
                for (int ch = 0; ch < 3; ++ch) q[ch] = (v[ch] >> 4) * 17;
                aa = srcA == 255 ? 255 : srcA == 0 ? 0 : adjA;
                qa = (aa >> 4) * 17;
                break;
            case Mode16::k1555:
                for (int ch = 0; ch < 3; ++ch) q[ch] = top5(v[ch]);
                aa = srcA == 255 ? 255 : srcA == 0 ? 0 : adjA;
                qa = aa >= 128 ? 255 : 0;
                break;
            }
            uint8_t* o = &out[(size_t(y) * w + x) * 4];
            o[0] = uint8_t(q[0]);
            o[1] = uint8_t(q[1]);
            o[2] = uint8_t(q[2]);
            o[3] = uint8_t(opt.mode == Mode16::k565 ? 255 : qa);
            if (!dither) continue;
            int err[4] = {(v[0] - q[0]) * f / 256, (v[1] - q[1]) * f / 256, (v[2] - q[2]) * f / 256,
                          alphaDither ? (aa - qa) * fa / 256 : 0};
            if (share == 0) err[0] = err[1] = err[2] = 0;
            for (int ch = 0; ch < 4; ++ch) {
                errCur[size_t(cx + dir) * 4 + ch] += 7 * err[ch];
                errNext[size_t(cx - dir) * 4 + ch] += 3 * err[ch];
                errNext[size_t(cx) * 4 + ch] += 5 * err[ch];
                errNext[size_t(cx + dir) * 4 + ch] += err[ch];
            }
        }
        std::swap(errCur, errNext);
        std::fill(errNext.begin(), errNext.end(), 0);
    }
    return out;
}

std::vector<uint8_t> Pack16(const std::vector<uint8_t>& rgba, Mode16 mode)
{
    const size_t n = rgba.size() / 4;
    std::vector<uint8_t> out(n * 2);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = &rgba[i * 4];
        uint32_t v = 0;
        switch (mode) {
        case Mode16::k565: v = (p[0] >> 3) | ((p[1] >> 2) << 5) | ((p[2] >> 3) << 11); break;
        case Mode16::k4444: v = (p[0] >> 4) | ((p[1] >> 4) << 4) | ((p[2] >> 4) << 8) | ((p[3] >> 4) << 12); break;
        case Mode16::k1555:
            v = (p[0] >> 3) | ((p[1] >> 3) << 5) | ((p[2] >> 3) << 10) | (p[3] >= 128 ? 0x8000u : 0u);
            break;
        }
        out[2 * i] = uint8_t(v);
        out[2 * i + 1] = uint8_t(v >> 8);
    }
    return out;
}

} // namespace rdq
