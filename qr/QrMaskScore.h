#pragma once
// Penalty scores of the eight data masks, computed on bit-packed lines.
//
// The unmasked matrix is packed once into rows and columns of bits: the
// modules that stay fixed (function patterns, unmasked data) and the data
// modules that a mask inverts. Each mask then builds its lines with a few
// word operations per line and counts the four penalty rules (runs of five
// or more, 2 x 2 blocks, finder-like patterns, dark balance) with shifts and
// population counts instead of module by module. The scores equal those of
// QrPenalty on the masked matrix with its format information.
#include "qr/QrTables.h"

#include <cstdint>

class QrMaskScore {
public:
    // Line bit p holds module p - QR_LINE_OFFSET; the light margin in front
    // lets the finder rule look four modules before the line's start.
    static constexpr int LINE_OFFSET = 4;
    static constexpr int LINE_WORDS = 3;

    // Packs an n x n working matrix indexed [x * stride + y]. A module is
    // fixed where functionFlag is set (dark where darkFlags is), otherwise it
    // is data (dark before masking where darkFlags is). The format areas are
    // left light: Score places each mask's own format bits.
    void Load(const uint8_t* modules, int stride, int n, uint8_t functionFlag, uint8_t darkFlags);

    // Penalty of the loaded matrix under a mask with the format information
    // of that mask at a level.
    int Score(int mask, int level) const;

private:
    template <int W>
    int _score(int mask, uint32_t formatBits) const;

    int m_n = 0;
    uint64_t m_rowFixed[QR_SIZE_MAX][LINE_WORDS];
    uint64_t m_rowFree[QR_SIZE_MAX][LINE_WORDS];
    uint64_t m_colFixed[QR_SIZE_MAX][LINE_WORDS];
    uint64_t m_colFree[QR_SIZE_MAX][LINE_WORDS];
};
