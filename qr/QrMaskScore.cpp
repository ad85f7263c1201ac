#include "qr/QrMaskScore.h"

#include <cstring>

namespace {

constexpr int kOffset = QrMaskScore::LINE_OFFSET;
constexpr int kWords = QrMaskScore::LINE_WORDS;

// Every mask repeats every 12 modules along both axes: per mask and residue,
// the line of inverted modules of a row (bits along x) and of a column
// (bits along y).
struct MaskLines {
    uint64_t row[8][12][kWords]{};
    uint64_t col[8][12][kWords]{};
};

constexpr MaskLines MakeMaskLines()
{
    MaskLines t;
    for (int m = 0; m < 8; ++m) {
        for (int r = 0; r < 12; ++r) {
            for (int i = 0; i + kOffset < 64 * kWords; ++i) {
                const int p = i + kOffset;
                if (QrMaskBit(m, i, r)) t.row[m][r][p >> 6] |= uint64_t{1} << (p & 63);
                if (QrMaskBit(m, r, i)) t.col[m][r][p >> 6] |= uint64_t{1} << (p & 63);
            }
        }
    }
    return t;
}

constexpr MaskLines kMaskLines = MakeMaskLines();

// Set bits of a word, inline: without a population-count instruction in the
// target, std::popcount becomes a call into the compiler's run-time library.
inline int Population(uint64_t w)
{
    w = w - ((w >> 1) & 0x5555555555555555ull);
    w = (w & 0x3333333333333333ull) + ((w >> 2) & 0x3333333333333333ull);
    w = (w + (w >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<int>((w * 0x0101010101010101ull) >> 56);
}

// A line of W 64-bit words; bit p of the line is bit p % 64 of word p / 64.
template <int W>
struct Line {
    uint64_t w[W];

    static Line Load(const uint64_t* words)
    {
        Line r;
        for (int i = 0; i < W; ++i) r.w[i] = words[i];
        return r;
    }
    // Bit p of the result is bit p + k of this line (0 < k < 64).
    Line Next(int k) const
    {
        Line r;
        for (int i = 0; i < W; ++i) r.w[i] = (w[i] >> k) | (i + 1 < W ? w[i + 1] << (64 - k) : 0);
        return r;
    }
    // Bit p of the result is bit p - k of this line (0 < k < 64).
    Line Previous(int k) const
    {
        Line r;
        for (int i = 0; i < W; ++i) r.w[i] = (w[i] << k) | (i > 0 ? w[i - 1] >> (64 - k) : 0);
        return r;
    }
    Line operator&(const Line& o) const { Line r; for (int i = 0; i < W; ++i) r.w[i] = w[i] & o.w[i]; return r; }
    Line operator|(const Line& o) const { Line r; for (int i = 0; i < W; ++i) r.w[i] = w[i] | o.w[i]; return r; }
    Line operator^(const Line& o) const { Line r; for (int i = 0; i < W; ++i) r.w[i] = w[i] ^ o.w[i]; return r; }
    Line operator~() const { Line r; for (int i = 0; i < W; ++i) r.w[i] = ~w[i]; return r; }
    int Count() const
    {
        int c = 0;
        for (int i = 0; i < W; ++i) c += Population(w[i]);
        return c;
    }
    void Set(int p) { w[p >> 6] |= uint64_t{1} << (p & 63); }
};

// Line with bits first..last set.
template <int W>
Line<W> Range(int first, int last)
{
    Line<W> r{};
    for (int p = first; p <= last; ++p) r.Set(p);
    return r;
}

// Runs of five or more (length - 2 each) and finder-like 1:1:3:1:1 patterns
// with four light modules on one side (40 each) along one line; modules
// outside the line count as light. starts5 marks where a five-module window
// fits inside the line.
template <int W>
int LinePenalty(const Line<W>& dark, const Line<W>& starts5)
{
    // A window of five equal modules starts at p when no neighbour pair in
    // p..p+4 differs; the first window of each run adds the extra 2.
    const Line<W> change = dark ^ dark.Next(1);
    const Line<W> same5 = ~(change | change.Next(1) | change.Next(2) | change.Next(3)) & starts5;
    const Line<W> firsts = same5 & ~same5.Previous(1);
    int score = same5.Count() + 2 * firsts.Count();

    // Core 0 1011101 0 around p..p+6, and light at p-4..p-2 or p+8..p+10.
    const Line<W> light = ~dark;
    const Line<W> core = light.Previous(1) & dark & light.Next(1) & dark.Next(2) & dark.Next(3) &
                         dark.Next(4) & light.Next(5) & dark.Next(6) & light.Next(7);
    const Line<W> before = light.Previous(4) & light.Previous(3) & light.Previous(2);
    const Line<W> after = light.Next(8) & light.Next(9) & light.Next(10);
    score += 40 * (core & (before | after)).Count();
    return score;
}

} // namespace

void QrMaskScore::Load(const uint8_t* modules, int stride, int n, uint8_t functionFlag, uint8_t darkFlags)
{
    m_n = n;
    const size_t lineBytes = sizeof(m_rowFixed[0]) * static_cast<size_t>(n);
    std::memset(m_rowFixed, 0, lineBytes);
    std::memset(m_rowFree, 0, lineBytes);
    std::memset(m_colFixed, 0, lineBytes);
    std::memset(m_colFree, 0, lineBytes);
    for (int x = 0; x < n; ++x) {
        const uint8_t* col = modules + x * stride;
        const int px = x + kOffset;
        const uint64_t xBit = uint64_t{1} << (px & 63);
        for (int y = 0; y < n; ++y) {
            const uint8_t m = col[y];
            const int py = y + kOffset;
            const uint64_t yBit = uint64_t{1} << (py & 63);
            if (m & darkFlags) {
                m_rowFixed[y][px >> 6] |= xBit;
                m_colFixed[x][py >> 6] |= yBit;
            }
            if (!(m & functionFlag)) {
                m_rowFree[y][px >> 6] |= xBit;
                m_colFree[x][py >> 6] |= yBit;
            }
        }
    }
    for (int copy = 0; copy < 2; ++copy) {
        for (int i = 0; i < 15; ++i) {
            int x = 0;
            int y = 0;
            QrFormatPosition(n, copy, i, x, y);
            const int px = x + kOffset;
            const int py = y + kOffset;
            m_rowFixed[y][px >> 6] &= ~(uint64_t{1} << (px & 63));
            m_colFixed[x][py >> 6] &= ~(uint64_t{1} << (py & 63));
        }
    }
}

int QrMaskScore::Score(int mask, int level) const
{
    const uint32_t format = QrFormatBits(level, mask);
    // The finder rule looks ten modules past a pattern's start, which may
    // begin seven modules before the line's end.
    if (m_n + kOffset + 7 <= 64) return _score<1>(mask, format);
    if (m_n + kOffset + 7 <= 128) return _score<2>(mask, format);
    return _score<3>(mask, format);
}

template <int W>
int QrMaskScore::_score(int mask, uint32_t formatBits) const
{
    const int n = m_n;
    Line<W> rows[QR_SIZE_MAX];
    Line<W> cols[QR_SIZE_MAX];
    for (int i = 0, r = 0; i < n; ++i, r = r == 11 ? 0 : r + 1) {
        rows[i] = Line<W>::Load(m_rowFixed[i]) ^ (Line<W>::Load(m_rowFree[i]) & Line<W>::Load(kMaskLines.row[mask][r]));
        cols[i] = Line<W>::Load(m_colFixed[i]) ^ (Line<W>::Load(m_colFree[i]) & Line<W>::Load(kMaskLines.col[mask][r]));
    }
    for (int copy = 0; copy < 2; ++copy) {
        for (int i = 0; i < 15; ++i) {
            if (!((formatBits >> i) & 1)) continue;
            int x = 0;
            int y = 0;
            QrFormatPosition(n, copy, i, x, y);
            rows[y].Set(x + kOffset);
            cols[x].Set(y + kOffset);
        }
    }

    const Line<W> starts5 = Range<W>(kOffset, kOffset + n - 5);
    const Line<W> starts2 = Range<W>(kOffset, kOffset + n - 2);
    int score = 0;
    int darkCount = 0;
    for (int i = 0; i < n; ++i) {
        score += LinePenalty(rows[i], starts5) + LinePenalty(cols[i], starts5);
        darkCount += rows[i].Count();
    }
    // 2 x 2 blocks of one colour: rows y and y + 1 agree at x and x + 1.
    int blocks = 0;
    for (int y = 0; y + 1 < n; ++y) {
        const Line<W>& a = rows[y];
        const Line<W>& b = rows[y + 1];
        blocks += (~((a ^ b) | (a ^ a.Next(1)) | (b ^ b.Next(1))) & starts2).Count();
    }
    score += 3 * blocks;
    const int light = n * n - darkCount;
    const int k = 100 * light / (n * n);
    const int off = k > 50 ? k - 50 : 50 - k;
    return score + 10 * (off / 5);
}
