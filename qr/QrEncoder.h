#pragma once
// Encoder of one QR Code symbol (Model 2, versions 1 to 40): mode
// segmentation, version choice, data and error-correction codewords, the
// module matrix with its function patterns, data placement and mask choice.
#include "qr/QrMaskScore.h"
#include "qr/QrTables.h"

#include <cstddef>
#include <cstdint>

constexpr uint8_t QR_MODE_NUMERIC = 0;
constexpr uint8_t QR_MODE_ALNUM = 1;
constexpr uint8_t QR_MODE_BYTE = 2;
constexpr uint8_t QR_MODE_KANJI = 3;

constexpr int QR_DATA_BYTES_MAX = 2956;              // data codewords of version 40-L
constexpr int QR_DATA_BITS_MAX = QR_DATA_BYTES_MAX * 8;
constexpr int QR_CODEWORDS_MAX = 3706;               // all codewords of version 40
// The longest input that can fit (7089 digits); a segment list of that many
// entries never overflows before the stream itself would.
constexpr int QR_SEGMENTS_MAX = 7089;

// Module flags of the working matrix.
constexpr uint8_t QR_MODULE_FUNCTION = 0x20;   // finder, separator, timing, alignment, format, version
constexpr uint8_t QR_MODULE_FUNCTION_DARK = 0x10;
constexpr uint8_t QR_MODULE_DATA_DARK = 0x02;  // data bit before masking
constexpr uint8_t QR_MODULE_MASKED_DARK = 0x01;

struct QrSegment {
    uint8_t mode;     // QR_MODE_*
    int32_t length;   // characters (numeric, alphanumeric) or bytes (byte, Kanji)
};

// Version groups by character-count width: 1 = versions 1-9, 2 = 10-26, 3 = 27-40.
int QrVersionGroup(int version);

// Width of the character-count field of a mode in a version group.
int QrCountBits(int mode, int group);

// Length in bits of one segment (mode indicator, count and data).
int QrSegmentBits(int mode, int length, int group);

// Cuts bytes into mode segments for one version group. Returns the number
// of segments written to out (at most maxSegments), or -1 when there would
// be more.
int QrSegmentText(const uint8_t* data, size_t length, int group, QrSegment* out, int maxSegments);

// Penalty score of a finished n x n matrix held as 0/1 bytes indexed
// [x * n + y] (x = column, y = row).
int QrPenalty(const uint8_t* dark, int n);

// One encoder working record. It owns fixed buffers for the largest symbol
// and allocates nothing; create it once and call Encode as often as needed.
class QrEncoder {
public:
    QrEncoder();

    // Encodes bytes at a level (0..3 for L, M, Q, H). version 0 chooses the
    // smallest version that holds the data, 1..40 asks for at least that
    // version (a larger one is taken when autoExtend allows and the data
    // needs it). mask -1 chooses by penalty, 0..7 forces one. Returns false,
    // leaving no symbol, for empty input, input that no version holds, or an
    // out-of-range argument.
    bool Encode(const uint8_t* data, size_t length, int level, int version, int mask = -1,
                bool autoExtend = true);

    int Version() const { return version_; }
    int Size() const { return size_; }
    int Mask() const { return mask_; }
    int SegmentCount() const { return segmentCount_; }
    const QrSegment& Segment(int i) const { return segments_[i]; }
    int DataBits() const { return bitCount_; }
    int CodewordCount() const { return codewordCount_; }
    const uint8_t* Codewords() const { return codewords_; }
    // Penalty of each mask as scored during the last automatic choice.
    int MaskPenalty(int mask) const { return maskPenalty_[mask]; }

    // Finished symbol: 1 = dark, 0 = light; x is the column, y the row.
    bool IsDark(int x, int y) const { return modules_[x][y] != 0; }

private:
    bool _chooseVersion(const uint8_t* data, size_t length, bool autoExtend);
    bool _writeStream(const uint8_t* data);
    void _putBits(uint32_t value, int bits);
    void _makeCodewords();
    void _placeFunctionPatterns();
    void _placeFinder(int x, int y);
    void _placeAlignment(int cx, int cy);
    void _placeFormat(int mask);
    void _placeData();
    void _applyMask(int mask);
    void _chooseMask();

    int level_ = 1;
    int requested_ = 0;
    int version_ = 0;
    int mask_ = -1;
    int size_ = 0;
    int segmentCount_ = 0;
    int bitCount_ = 0;
    int codewordCount_ = 0;
    int maskPenalty_[8]{};
    QrSegment segments_[QR_SEGMENTS_MAX];
    uint8_t bits_[QR_DATA_BYTES_MAX];
    uint8_t codewords_[QR_CODEWORDS_MAX];
    uint8_t modules_[QR_SIZE_MAX][QR_SIZE_MAX];
    QrMaskScore scorer_;
};
