#include "reduce/RdqRgbMapper.h"

#include <algorithm>
#include <cstdlib>

#include "reduce/RdqMapper.h"
#include "reduce/RdqRgb.h"
#include "reduce/RdqRgbSearch.h"

namespace rdq {

namespace {

// A pixel this close (squared distance) to its nearest entry keeps it and
// passes no error on.
constexpr int32_t kFits = 12;
// Carried error per channel is bounded to this many levels.
constexpr int kMaxError = 40;
// Eighths of a pixel's error that its neighbours receive: a little less than
// all of it keeps gradients smooth with less grain.
constexpr int kPassedOn = 7;

// Nearest entries of recent colours, by a hash of the colour.
class CachedSearch {
public:
    explicit CachedSearch(const Palette& pal)
        : m_search(Entries(pal)), m_keys(kSize, kEmpty), m_ids(kSize, 0), m_distances(kSize, 0)
    {
    }

    bool Empty() const { return m_search.Empty(); }

    int Find(uint32_t rgb, int32_t* distance)
    {
        const uint32_t slot = (rgb * 0x9E3779B1u) >> (32 - kBits);
        if (m_keys[slot] == rgb) {
            *distance = m_distances[slot];
            return m_ids[slot];
        }
        const int id = m_search.Find(Red(rgb), Green(rgb), Blue(rgb), distance);
        m_keys[slot] = rgb;
        m_ids[slot] = id;
        m_distances[slot] = *distance;
        return id;
    }
    int Find(int r, int g, int b) { return m_search.Find(r, g, b); }

private:
    static std::vector<RgbSearch::Entry> Entries(const Palette& pal)
    {
        std::vector<RgbSearch::Entry> e;
        for (int out : pal.searchToOut) e.push_back({pal.rgb[out][0], pal.rgb[out][1], pal.rgb[out][2], out});
        return e;
    }

    static constexpr int kBits = 14;
    static constexpr uint32_t kSize = 1u << kBits;
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    RgbSearch m_search;
    std::vector<uint32_t> m_keys;
    std::vector<int> m_ids;
    std::vector<int32_t> m_distances;
};

uint32_t PixelAt(const uint8_t* row, int x) { return PackRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]); }

int ContrastTo(uint32_t a, uint32_t b)
{
    return std::abs(Red(a) - Red(b)) + std::abs(Green(a) - Green(b)) + std::abs(Blue(a) - Blue(b));
}

const uint8_t* AlphaRow(const Dib* alpha, int y) { return alpha ? alpha->Row(y) : nullptr; }

std::vector<uint8_t> MapPlain(const Dib& rgb, const Dib* alpha, CachedSearch& search)
{
    const int w = rgb.Width(), h = rgb.Height();
    std::vector<uint8_t> out(size_t(w) * h, 0);
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = rgb.Row(y);
        const uint8_t* a = AlphaRow(alpha, y);
        for (int x = 0; x < w; ++x) {
            if (a && a[x] == 0) continue;
            int32_t d = 0;
            out[size_t(y) * w + x] = uint8_t(search.Find(PixelAt(p, x), &d));
        }
    }
    return out;
}

std::vector<uint8_t> MapDiffused(const Dib& rgb, const Dib* alpha, CachedSearch& search, const Palette& pal, int level)
{
    const int w = rgb.Width(), h = rgb.Height();
    std::vector<uint8_t> out(size_t(w) * h, 0);
    // Error rows in sixteenths, three channels, one spare pixel each side.
    std::vector<int> errCur(size_t(w + 2) * 3, 0), errNext(size_t(w + 2) * 3, 0);
    const int strength = std::min(256, 256 * 16 / LevelDivisor(level));
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = rgb.Row(y);
        const uint8_t* a = AlphaRow(alpha, y);
        const int dir = y % 2 == 0 ? 1 : -1;
        for (int i = 0; i < w; ++i) {
            const int x = dir > 0 ? i : w - 1 - i;
            const int cx = x + 1;
            if (a && a[x] == 0) continue;
            const uint32_t own = PixelAt(p, x);
            int32_t fit = 0;
            const int nearest = search.Find(own, &fit);
            uint8_t& o = out[size_t(y) * w + x];
            const int contrast = LocalContrast(rgb, x, y);
            if (fit <= kFits || contrast >= kHardEdge) {
                o = uint8_t(nearest);
                continue;
            }
            const int share = ContrastShare(contrast) * strength / 256;
            const int* e = &errCur[size_t(cx) * 3];
            int target[3] = {Red(own), Green(own), Blue(own)};
            for (int ch = 0; ch < 3; ++ch) {
                int carried = std::clamp(e[ch] / 16, -kMaxError, kMaxError);
                target[ch] = std::clamp(target[ch] + carried * share / 256, 0, 255);
            }
            const int id = search.Find(target[0], target[1], target[2]);
            o = uint8_t(id);
            for (int ch = 0; ch < 3; ++ch) {
                const int err = (target[ch] - pal.rgb[id][ch]) * kPassedOn / 8;
                errCur[size_t(cx + dir) * 3 + ch] += 7 * err;
                errNext[size_t(cx - dir) * 3 + ch] += 3 * err;
                errNext[size_t(cx) * 3 + ch] += 5 * err;
                errNext[size_t(cx + dir) * 3 + ch] += err;
            }
        }
        std::swap(errCur, errNext);
        std::fill(errNext.begin(), errNext.end(), 0);
    }
    return out;
}

} // namespace

int LocalContrast(const Dib& rgb, int x, int y)
{
    const uint32_t c = PixelAt(rgb.Row(y), x);
    int most = 0;
    if (x > 0) most = std::max(most, ContrastTo(c, PixelAt(rgb.Row(y), x - 1)));
    if (x + 1 < rgb.Width()) most = std::max(most, ContrastTo(c, PixelAt(rgb.Row(y), x + 1)));
    if (y > 0) most = std::max(most, ContrastTo(c, PixelAt(rgb.Row(y - 1), x)));
    if (y + 1 < rgb.Height()) most = std::max(most, ContrastTo(c, PixelAt(rgb.Row(y + 1), x)));
    return most;
}

int ContrastShare(int contrast) { return std::min(256, 128 + 8 * contrast); }

std::vector<uint8_t> MapToPaletteRgb(const Dib& rgb, const Dib* alpha, bool transparency, const Palette& pal,
                                     bool dither, int level)
{
    CachedSearch search(pal);
    const Dib* clear = transparency ? alpha : nullptr;
    if (search.Empty()) return std::vector<uint8_t>(size_t(rgb.Width()) * rgb.Height(), 0);
    return dither ? MapDiffused(rgb, clear, search, pal, level) : MapPlain(rgb, clear, search);
}

} // namespace rdq
