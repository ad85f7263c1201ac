#include "reduce/RdqCensus.h"

#include <algorithm>

namespace rdq {

namespace {

constexpr uint32_t kInitialBits = 12;

uint32_t Hash(uint32_t key, uint32_t shift) { return (key * 0x9E3779B1u) >> shift; }

} // namespace

Census::Census() : m_keys(size_t(1) << kInitialBits, 0), m_counts(m_keys.size(), 0), m_shift(32 - kInitialBits) {}

void Census::Add(uint32_t rgb, uint32_t count)
{
    const uint32_t key = rgb | kUsed;
    const uint32_t mask = uint32_t(m_keys.size() - 1);
    for (uint32_t i = Hash(key, m_shift);; i = (i + 1) & mask) {
        if (m_keys[i] == key) {
            m_counts[i] += count;
            return;
        }
        if (m_keys[i] == 0) {
            m_keys[i] = key;
            m_counts[i] = count;
            if (++m_used * 2 > m_keys.size()) Grow();
            return;
        }
    }
}

void Census::Grow()
{
    std::vector<uint32_t> keys(m_keys.size() * 2, 0), counts(keys.size(), 0);
    keys.swap(m_keys);
    counts.swap(m_counts);
    --m_shift;
    m_used = 0;
    for (size_t i = 0; i < keys.size(); ++i)
        if (keys[i]) Add(keys[i] & ~kUsed, counts[i]);
}

void Census::AddImage(const Dib& rgb, const Dib* alpha, bool transparency)
{
    const bool skipClear = transparency && alpha;
    for (int y = 0; y < rgb.Height(); ++y) {
        const uint8_t* p = rgb.Row(y);
        const uint8_t* a = skipClear ? alpha->Row(y) : nullptr;
        // Runs of one colour (flat artwork) are counted once per run.
        uint32_t run = 0, length = 0;
        for (int x = 0; x < rgb.Width(); ++x) {
            if (a && a[x] == 0) continue;
            const uint32_t c = PackRgb(p[3 * x + 2], p[3 * x + 1], p[3 * x]);
            if (length > 0 && c == run) {
                ++length;
                continue;
            }
            if (length > 0) Add(run, length);
            run = c;
            length = 1;
        }
        if (length > 0) Add(run, length);
    }
}

std::vector<Census::Colour> Census::Colours() const
{
    std::vector<Colour> out;
    out.reserve(m_used);
    for (size_t i = 0; i < m_keys.size(); ++i)
        if (m_keys[i]) out.push_back({m_keys[i] & ~kUsed, m_counts[i]});
    std::sort(out.begin(), out.end(), [](const Colour& a, const Colour& b) { return a.rgb < b.rgb; });
    return out;
}

} // namespace rdq
