#include "qr/QrEncoder.h"

#include "qr/QrTables.h"

#include <cstring>

namespace {

int AlnumValue(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    switch (c) {
    case ' ': return 36;
    case '$': return 37;
    case '%': return 38;
    case '*': return 39;
    case '+': return 40;
    case '-': return 41;
    case '.': return 42;
    case '/': return 43;
    case ':': return 44;
    default: return -1;
    }
}

// A Shift_JIS double-byte character inside the ranges that Kanji mode can
// carry: 0x8140-0x9FFC and 0xE040-0xEBBF.
bool IsKanjiPair(const uint8_t* data, size_t i, size_t length)
{
    if (i + 1 >= length) return false;
    const uint8_t b0 = data[i];
    const uint8_t b1 = data[i + 1];
    if (!((b0 >= 0x81 && b0 <= 0x9F) || (b0 >= 0xE0 && b0 <= 0xEB))) return false;
    if (b1 < 0x40) return false;
    if (b0 == 0x9F && b1 > 0xFC) return false;
    if (b0 == 0xEB && b1 >= 0xC0) return false;
    return true;
}

int Bits(const QrSegment& s, int group)
{
    return QrSegmentBits(s.mode, s.length, group);
}

void Erase(QrSegment* s, int& count, int index)
{
    std::memmove(s + index, s + index + 1, sizeof(QrSegment) * static_cast<size_t>(count - index - 1));
    --count;
}

// Numeric and alphanumeric neighbours: merge them into one alphanumeric
// segment, or hand one of them to a byte neighbour, whichever is shortest.
void MergeNumericAlnum(QrSegment* s, int& n, int group)
{
    int k = 0;
    while (k + 1 < n) {
        const QrSegment a = s[k];
        const QrSegment b = s[k + 1];
        const bool pair = (a.mode == QR_MODE_NUMERIC && b.mode == QR_MODE_ALNUM) ||
                          (a.mode == QR_MODE_ALNUM && b.mode == QR_MODE_NUMERIC);
        if (!pair) { ++k; continue; }
        const int united = QrSegmentBits(QR_MODE_ALNUM, a.length + b.length, group);
        if (!(united < Bits(a, group) + Bits(b, group))) { ++k; continue; }

        bool openA = false;
        bool openB = false;
        int totalA = 0;
        int totalB = 0;
        if (k >= 1 && s[k - 1].mode == QR_MODE_BYTE) {
            totalA = Bits(b, group) + QrSegmentBits(QR_MODE_BYTE, s[k - 1].length + a.length, group);
            openA = !(united + Bits(s[k - 1], group) < totalA);
        }
        if (k + 2 < n && s[k + 2].mode == QR_MODE_BYTE) {
            totalB = Bits(a, group) + QrSegmentBits(QR_MODE_BYTE, b.length + s[k + 2].length, group);
            openB = !(united + Bits(s[k + 2], group) < totalB);
        }
        if (openA && (!openB || totalA < totalB)) {
            s[k - 1].length += a.length;        // k joins the byte segment before it
            Erase(s, n, k);
        } else if (openB) {
            s[k + 1].mode = QR_MODE_BYTE;       // k+1 becomes bytes with the byte segment after it
            s[k + 1].length += s[k + 2].length;
            Erase(s, n, k + 2);
        } else {
            s[k].mode = QR_MODE_ALNUM;
            s[k].length += b.length;
            Erase(s, n, k + 1);
            if (k + 1 < n && s[k + 1].mode == QR_MODE_ALNUM) {
                s[k].length += s[k + 1].length;
                Erase(s, n, k + 1);
            }
            if (k >= 1 && s[k - 1].mode == QR_MODE_ALNUM) {
                s[k - 1].length += s[k].length;
                Erase(s, n, k);
            }
        }
    }
}

// Neighbours that cost less as one byte segment (counting the header saved
// on each byte neighbour it joins) become one.
void MergeBytes(QrSegment* s, int& n, int group)
{
    const int header = QrCountBits(QR_MODE_BYTE, group) + 4;
    int l = 0;
    while (l + 1 < n) {
        const bool left = l >= 1 && s[l - 1].mode == QR_MODE_BYTE;
        const bool right = l + 2 < n && s[l + 2].mode == QR_MODE_BYTE;
        const int joined = QrSegmentBits(QR_MODE_BYTE, s[l].length + s[l + 1].length, group) -
                           header * ((left ? 1 : 0) + (right ? 1 : 0));
        if (joined < Bits(s[l], group) + Bits(s[l + 1], group)) {
            s[l].mode = QR_MODE_BYTE;
            s[l].length += s[l + 1].length;
            Erase(s, n, l + 1);
            if (right) {
                s[l].length += s[l + 1].length;
                Erase(s, n, l + 1);
            }
            if (left) {
                s[l - 1].length += s[l].length;
                Erase(s, n, l);
            }
            if (l > 0) --l;
        } else {
            ++l;
        }
    }
}

// Every mask repeats every 12 columns and 12 rows, so one 12 x 12 tile per
// mask spares the divisions in the module loops.
struct MaskTiles {
    uint8_t bit[8][12][12]{};
};

constexpr MaskTiles MakeMaskTiles()
{
    MaskTiles t;
    for (int m = 0; m < 8; ++m)
        for (int x = 0; x < 12; ++x)
            for (int y = 0; y < 12; ++y) t.bit[m][x][y] = QrMaskBit(m, x, y) ? 1 : 0;
    return t;
}

constexpr MaskTiles kMaskTiles = MakeMaskTiles();

// Runs of five or more and finder-like 1:1:3:1:1 patterns along one line;
// positions past either end count as light.
int LinePenalty(const uint8_t* line, int n)
{
    int score = 0;
    int run = 1;
    for (int i = 1; i < n; ++i) {
        // Branch-free: data modules are close to random.
        const int same = line[i] == line[i - 1];
        score += (1 - same) * (run >= 5) * (run - 2);
        run = same * run + 1;
    }
    if (run >= 5) score += run - 2;
    // A 15-module window slides along the line with four light modules of
    // margin at each end; bit 14 is the oldest module. A pattern starting at
    // i needs light at i-1 and i+7 (the core 0 1011101 0 in bits 11..3) and
    // light at i-4..i-2 (bits 14..12) or at i+8..i+10 (bits 2..0).
    uint32_t w = 0;
    int finders = 0;
    for (int j = 0; j < n + 4; ++j) {
        w = ((w << 1) | (j < n ? line[j] : 0u)) & 0x7FFFu;
        if ((w & 0xFF8u) == 0x5D0u && (!(w & 0x7000u) || !(w & 0x7u))) ++finders;
    }
    return score + 40 * finders;
}

} // namespace

int QrVersionGroup(int version)
{
    return version <= 9 ? 1 : (version <= 26 ? 2 : 3);
}

int QrCountBits(int mode, int group)
{
    static constexpr int kBits[4][3] = {{10, 12, 14}, {9, 11, 13}, {8, 16, 16}, {8, 10, 12}};
    return kBits[mode & 3][group - 1];
}

int QrSegmentBits(int mode, int length, int group)
{
    const int head = 4 + QrCountBits(mode, group);
    switch (mode) {
    case QR_MODE_NUMERIC: {
        static constexpr int kTail[3] = {0, 4, 7};
        return head + 10 * (length / 3) + kTail[length % 3];
    }
    case QR_MODE_ALNUM: return head + 11 * (length / 2) + 6 * (length % 2);
    case QR_MODE_BYTE: return head + 8 * length;
    default: return head + 13 * (length / 2);
    }
}

int QrSegmentText(const uint8_t* data, size_t length, int group, QrSegment* out, int maxSegments)
{
    int n = 0;
    for (size_t i = 0; i < length;) {
        uint8_t mode;
        int take = 1;
        if (IsKanjiPair(data, i, length)) {
            mode = QR_MODE_KANJI;
            take = 2;
        } else if (data[i] >= '0' && data[i] <= '9') {
            mode = QR_MODE_NUMERIC;
        } else if (AlnumValue(data[i]) >= 0) {
            mode = QR_MODE_ALNUM;
        } else {
            mode = QR_MODE_BYTE;
        }
        if (n > 0 && out[n - 1].mode == mode) {
            out[n - 1].length += take;
        } else {
            if (n == maxSegments) return -1;
            out[n++] = QrSegment{mode, take};
        }
        i += static_cast<size_t>(take);
    }
    MergeNumericAlnum(out, n, group);
    MergeBytes(out, n, group);
    return n;
}

int QrPenalty(const uint8_t* dark, int n)
{
    int score = 0;
    uint8_t line[QR_SIZE_MAX];
    for (int x = 0; x < n; ++x) score += LinePenalty(dark + x * n, n);  // columns
    for (int y = 0; y < n; ++y) {                                        // rows
        for (int x = 0; x < n; ++x) line[x] = dark[x * n + y];
        score += LinePenalty(line, n);
    }
    int darkCount = 0;
    for (int x = 0; x < n; ++x) {
        const uint8_t* c0 = dark + x * n;
        for (int y = 0; y < n; ++y) darkCount += c0[y];
        if (x + 1 == n) break;
        const uint8_t* c1 = c0 + n;
        int blocks = 0;
        for (int y = 0; y + 1 < n; ++y) {
            const uint8_t v = c0[y];
            blocks += ((c0[y + 1] ^ v) | (c1[y] ^ v) | (c1[y + 1] ^ v)) == 0;
        }
        score += 3 * blocks;
    }
    const int light = n * n - darkCount;
    const int k = 100 * light / (n * n);
    const int off = k > 50 ? k - 50 : 50 - k;
    score += 10 * (off / 5);
    return score;
}

QrEncoder::QrEncoder()
{
    std::memset(modules_, 0, sizeof(modules_));
}

bool QrEncoder::Encode(const uint8_t* data, size_t length, int level, int version, int mask,
                       bool autoExtend)
{
    version_ = 0;
    size_ = 0;
    segmentCount_ = 0;
    bitCount_ = 0;
    codewordCount_ = 0;
    if (level < 0 || level > 3 || version > QR_VERSION_MAX || mask < -1 || mask > 7) return false;
    if (!data || length == 0) return false;
    level_ = level;
    requested_ = version < 0 ? 0 : version;
    mask_ = mask;
    if (!_chooseVersion(data, length, autoExtend)) return false;
    if (!_writeStream(data)) {
        version_ = 0;
        return false;
    }
    size_ = 4 * version_ + 17;
    _makeCodewords();
    _placeFunctionPatterns();
    _placeData();
    if (mask_ < 0) _chooseMask();
    _applyMask(mask_);
    _placeFormat(mask_);
    for (int x = 0; x < size_; ++x)
        for (int y = 0; y < size_; ++y)
            modules_[x][y] = (modules_[x][y] & (QR_MODULE_FUNCTION_DARK | QR_MODULE_MASKED_DARK)) ? 1 : 0;
    return true;
}

bool QrEncoder::_chooseVersion(const uint8_t* data, size_t length, bool autoExtend)
{
    static constexpr int kFirst[4] = {0, 1, 10, 27};
    static constexpr int kLast[4] = {0, 9, 26, 40};
    for (int group = QrVersionGroup(requested_); group <= 3; ++group) {
        const int n = QrSegmentText(data, length, group, segments_, QR_SEGMENTS_MAX);
        if (n < 0) return false;
        long long bits = 0;
        for (int i = 0; i < n; ++i) bits += Bits(segments_[i], group);
        if (bits > QR_DATA_BITS_MAX) continue;
        const int need = static_cast<int>((bits + 7) / 8);
        for (int v = kFirst[group]; v <= kLast[group]; ++v) {
            if (QrDataCodewords(v, level_) < need) continue;
            if (requested_ != 0 && requested_ < v && !autoExtend) return false;
            segmentCount_ = n;
            version_ = v > requested_ ? v : requested_;
            return true;
        }
    }
    return false;
}

void QrEncoder::_putBits(uint32_t value, int bits)
{
    if (bitCount_ < 0) return;
    if (bitCount_ + bits > QR_DATA_BITS_MAX) {
        bitCount_ = -1;
        return;
    }
    for (int i = bits - 1; i >= 0; --i, ++bitCount_)
        if ((value >> i) & 1) bits_[bitCount_ >> 3] |= static_cast<uint8_t>(0x80 >> (bitCount_ & 7));
}

bool QrEncoder::_writeStream(const uint8_t* data)
{
    static constexpr uint32_t kIndicator[4] = {0x1, 0x2, 0x4, 0x8};
    const int group = QrVersionGroup(version_);
    std::memset(bits_, 0, sizeof(bits_));
    bitCount_ = 0;
    const uint8_t* p = data;
    for (int s = 0; s < segmentCount_; ++s) {
        const QrSegment& seg = segments_[s];
        const int countBits = QrCountBits(seg.mode, group);
        const int count = seg.mode == QR_MODE_KANJI ? seg.length / 2 : seg.length;
        if (count >= (1 << countBits)) return false;
        _putBits(kIndicator[seg.mode], 4);
        _putBits(static_cast<uint32_t>(count), countBits);
        int i = 0;
        switch (seg.mode) {
        case QR_MODE_NUMERIC:
            for (; i + 3 <= seg.length; i += 3)
                _putBits(static_cast<uint32_t>((p[i] - '0') * 100 + (p[i + 1] - '0') * 10 + (p[i + 2] - '0')), 10);
            if (seg.length - i == 2) _putBits(static_cast<uint32_t>((p[i] - '0') * 10 + (p[i + 1] - '0')), 7);
            else if (seg.length - i == 1) _putBits(static_cast<uint32_t>(p[i] - '0'), 4);
            break;
        case QR_MODE_ALNUM:
            for (; i + 2 <= seg.length; i += 2)
                _putBits(static_cast<uint32_t>(AlnumValue(p[i]) * 45 + AlnumValue(p[i + 1])), 11);
            if (i < seg.length) _putBits(static_cast<uint32_t>(AlnumValue(p[i])), 6);
            break;
        case QR_MODE_BYTE:
            for (; i < seg.length; ++i) _putBits(p[i], 8);
            break;
        default:
            for (; i + 2 <= seg.length; i += 2) {
                uint32_t v = (static_cast<uint32_t>(p[i]) << 8) | p[i + 1];
                v -= v <= 0x9FFC ? 0x8140 : 0xC140;
                _putBits((v >> 8) * 0xC0 + (v & 0xFF), 13);
            }
            break;
        }
        p += seg.length;
    }
    if (bitCount_ < 0) return false;

    // Terminator, zero bits to the byte boundary, then alternating pad bytes.
    const int capacity = QrDataCodewords(version_, level_) * 8;
    if (bitCount_ > capacity) return false;
    const int terminator = capacity - bitCount_ < 4 ? capacity - bitCount_ : 4;
    _putBits(0, terminator);
    bitCount_ = (bitCount_ + 7) & ~7;
    for (int i = bitCount_ / 8, pad = 0; i < capacity / 8; ++i, pad ^= 1) bits_[i] = pad ? 0x11 : 0xEC;
    return true;
}

void QrEncoder::_makeCodewords()
{
    const QrBlockLayout& b = QrLayout(version_, level_);
    const int blocks = b.blocks1 + b.blocks2;
    uint8_t ec[81][QR_EC_LENGTH_MAX];
    const uint8_t* start[81];
    int length[81];
    const uint8_t* p = bits_;
    for (int i = 0; i < blocks; ++i) {
        start[i] = p;
        length[i] = i < b.blocks1 ? b.data1 : b.data2;
        QrReedSolomon(p, length[i], b.ecPerBlock, ec[i]);
        p += length[i];
    }
    int out = 0;
    const int longest = b.blocks2 ? b.data2 : b.data1;
    for (int j = 0; j < longest; ++j)
        for (int i = 0; i < blocks; ++i)
            if (j < length[i]) codewords_[out++] = start[i][j];
    for (int j = 0; j < b.ecPerBlock; ++j)
        for (int i = 0; i < blocks; ++i) codewords_[out++] = ec[i][j];
    codewordCount_ = out;
}

void QrEncoder::_placeFinder(int x0, int y0)
{
    // The 7 x 7 pattern and its one-module light separator.
    for (int dx = -1; dx <= 7; ++dx) {
        for (int dy = -1; dy <= 7; ++dy) {
            const int x = x0 + dx;
            const int y = y0 + dy;
            if (x < 0 || y < 0 || x >= size_ || y >= size_) continue;
            const int ax = dx > 3 ? dx - 3 : 3 - dx;
            const int ay = dy > 3 ? dy - 3 : 3 - dy;
            const int ring = ax > ay ? ax : ay;
            modules_[x][y] = QR_MODULE_FUNCTION | ((ring != 2 && ring != 4) ? QR_MODULE_FUNCTION_DARK : 0);
        }
    }
}

void QrEncoder::_placeAlignment(int cx, int cy)
{
    for (int dx = -2; dx <= 2; ++dx) {
        for (int dy = -2; dy <= 2; ++dy) {
            const int ring = (dx < 0 ? -dx : dx) > (dy < 0 ? -dy : dy) ? (dx < 0 ? -dx : dx) : (dy < 0 ? -dy : dy);
            modules_[cx + dx][cy + dy] = QR_MODULE_FUNCTION | (ring != 1 ? QR_MODULE_FUNCTION_DARK : 0);
        }
    }
}

void QrEncoder::_placeFunctionPatterns()
{
    const int n = size_;
    for (int x = 0; x < n; ++x) std::memset(modules_[x], 0, static_cast<size_t>(n));
    _placeFinder(0, 0);
    _placeFinder(n - 7, 0);
    _placeFinder(0, n - 7);
    // Alignment patterns go everywhere except over the finder patterns. They
    // are placed before the timing patterns: those on row 6 and column 6
    // (from version 7 up) sit on the timing lines and must not be dropped.
    int centres[7];
    const int count = QrAlignmentCentres(version_, centres);
    for (int i = 0; i < count; ++i)
        for (int j = 0; j < count; ++j)
            if (!(modules_[centres[i]][centres[j]] & QR_MODULE_FUNCTION)) _placeAlignment(centres[i], centres[j]);
    for (int i = 0; i < n; ++i) {
        const uint8_t v = QR_MODULE_FUNCTION | (i % 2 == 0 ? QR_MODULE_FUNCTION_DARK : 0);
        if (!(modules_[6][i] & QR_MODULE_FUNCTION)) modules_[6][i] = v;
        if (!(modules_[i][6] & QR_MODULE_FUNCTION)) modules_[i][6] = v;
    }
    _placeFormat(0);  // reserves the format areas and sets the dark module
    if (version_ >= 7) {
        const uint32_t bits = QrVersionBits(version_);
        for (int i = 0; i < 18; ++i) {
            const uint8_t v = QR_MODULE_FUNCTION | (((bits >> i) & 1) ? QR_MODULE_FUNCTION_DARK : 0);
            const int a = n - 11 + i % 3;
            const int b = i / 3;
            modules_[a][b] = v;
            modules_[b][a] = v;
        }
    }
}

void QrEncoder::_placeFormat(int mask)
{
    const int n = size_;
    const uint32_t bits = QrFormatBits(level_, mask);
    for (int copy = 0; copy < 2; ++copy) {
        for (int i = 0; i < 15; ++i) {
            int x = 0;
            int y = 0;
            QrFormatPosition(n, copy, i, x, y);
            modules_[x][y] = QR_MODULE_FUNCTION | (((bits >> i) & 1) ? QR_MODULE_FUNCTION_DARK : 0);
        }
    }
    // The dark module beside the bottom-left finder.
    modules_[8][n - 8] = QR_MODULE_FUNCTION | QR_MODULE_FUNCTION_DARK;
}

void QrEncoder::_placeData()
{
    const int n = size_;
    const int total = codewordCount_ * 8;
    int index = 0;
    for (int right = n - 1; right >= 1; right -= 2) {
        if (right == 6) right = 5;  // the vertical timing column is skipped
        const bool upward = ((right + 1) & 2) == 0;
        for (int v = 0; v < n; ++v) {
            const int y = upward ? n - 1 - v : v;
            for (int j = 0; j < 2; ++j) {
                const int x = right - j;
                if (modules_[x][y] & QR_MODULE_FUNCTION) continue;
                if (index < total && ((codewords_[index >> 3] >> (7 - (index & 7))) & 1))
                    modules_[x][y] |= QR_MODULE_DATA_DARK;
                ++index;
            }
        }
    }
}

void QrEncoder::_applyMask(int mask)
{
    const int n = size_;
    for (int x = 0; x < n; ++x) {
        uint8_t* col = modules_[x];
        const uint8_t* tile = kMaskTiles.bit[mask][x % 12];
        for (int y = 0, ty = 0; y < n; ++y, ty = ty == 11 ? 0 : ty + 1) {
            uint8_t m = col[y];
            if (m & QR_MODULE_FUNCTION) continue;
            m &= static_cast<uint8_t>(~QR_MODULE_MASKED_DARK);
            if (((m & QR_MODULE_DATA_DARK) != 0) != (tile[ty] != 0)) m |= QR_MODULE_MASKED_DARK;
            col[y] = m;
        }
    }
}

void QrEncoder::_chooseMask()
{
    scorer_.Load(&modules_[0][0], QR_SIZE_MAX, size_, QR_MODULE_FUNCTION,
                 QR_MODULE_FUNCTION_DARK | QR_MODULE_DATA_DARK);
    int best = 0;
    for (int m = 0; m < 8; ++m) {
        maskPenalty_[m] = scorer_.Score(m, level_);
        if (maskPenalty_[m] < maskPenalty_[best]) best = m;
    }
    mask_ = best;
}
