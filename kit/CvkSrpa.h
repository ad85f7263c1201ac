#pragma once
// CvkSrpa: a parameter sheet, a compiled table of rows of 32-bit parameters
// (signed integers, floats, strings) shipped as one "SRPA" chunk and read in
// place.
//
// Data area of the chunk (chunk start + headSize, `size` bytes), 32-bit
// little-endian words, offsets relative to the data area:
//   sheet table  S, then S row counts (diagnostics only)
//   row table    R, then R row offsets; rows of all sheets numbered 0..R-1
//   rows         N, then N parameter words (value, float bits, or the offset
//                of a zero-terminated string in the data area)
//   type table   optional, at the first 16-byte boundary after the last
//                parameter word of row R-1, present when that lies below
//                `size`: one byte per word of the rows area (which starts at
//                row 0's count word); 1 integer, 2 float, 3 string.
//
// Row-table words and the chunk's mapFlags word:
//   On a 32-bit build RelocateAddress adds the data-area address to every
//   row-table word and sets mapFlags to 1 (bit 0: the words hold addresses);
//   FloatAddress subtracts it again and clears bit 0.
//   A 64-bit address does not fit a 32-bit word, so on a 64-bit build the
//   words keep their offsets and bit 0 stays clear (it would claim addresses
//   that are not there). Instead RelocateAddress sets mapFlags to 2
//   (CVK_SRPA_FLAG_ADOPTED) and FloatAddress clears that bit. Bit 1 plays the
//   role bit 0 plays on a 32-bit build, so both builds answer alike:
//   - a second sheet over the same chunk finds the chunk already relocated
//     (adopted), leaves the words alone and has no type table;
//   - FloatAddress followed by a new sheet relocates (adopts) afresh and
//     finds the type table again.
//   Either way a word is resolved to an offset on every access (word minus
//   the low 32 bits of the data-area address while bit 0 is set, else the
//   word itself), so a sheet keeps answering after another sheet over the
//   same chunk has called FloatAddress.
//
// Bad input: every offset and count is checked against the chunk's recorded
// data size before it is used. A sheet or row table that does not fit in the
// data area puts the object in error (every call then answers 0, null or the
// default); a row, string or type byte outside the data area, or a string
// without its terminator inside it, makes that look-up answer the default,
// 0 or null. Nothing outside [data area, data area + size) is read or
// written; the caller guarantees that much memory behind the header.
//
// Nothing is logged and nothing is thrown. The typed setters write into the
// chunk in place; string overrides (SetParamStr) never touch the chunk.

#include "kit/CvChunk.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

constexpr unsigned CVK_CHUNK_TAG_SRPA = 0x53525041u; // "SRPA"
constexpr unsigned CVK_SRPA_TAG = 0x53525041u;       // object tag "SRPA"

// mapFlags bit 0: the row table holds addresses (32-bit builds).
constexpr uint32_t CVK_SRPA_FLAG_ADDRESS = 0x1u;
// mapFlags bit 1: the chunk has been relocated by a sheet while its words
// stay offsets (64-bit builds).
constexpr uint32_t CVK_SRPA_FLAG_ADOPTED = 0x2u;

// Type answers: the variant type codes, or invalid.
constexpr uint32_t CVK_SRPA_TYPE_S32 = 0;     // CVK_VARIANT_TYPE_SINT
constexpr uint32_t CVK_SRPA_TYPE_F32 = 2;     // CVK_VARIANT_TYPE_FLOAT
constexpr uint32_t CVK_SRPA_TYPE_STR = 3;     // CVK_VARIANT_TYPE_STRING
constexpr uint32_t CVK_SRPA_TYPE_INVALID = 0x80000000u;

class LUMIVOR_EXPORT CvkSrpa : public CvkBase {
public:
    // Error for a null chunk, a tag other than "SRPA" or tables that do not
    // fit in the data area; otherwise relocates, clears Error, sets Ready.
    explicit CvkSrpa(CvChunk* chunk);
    ~CvkSrpa() override;

    CvkSrpa(const CvkSrpa&) = delete;
    CvkSrpa& operator=(const CvkSrpa&) = delete;

    // Relocates the row table unless the chunk already is, then locates the
    // type table. Nothing on an object in error or a relocated chunk.
    void RelocateAddress();
    // Undoes RelocateAddress on the chunk.
    void FloatAddress();

    int32_t GetRowNum() const;
    // N of the row, 0 for a bad row.
    int32_t GetParamNum(int32_t row) const;
    int32_t DebugGetSheetNum() const;
    // Row count recorded for the sheet, 0 when out of range.
    int32_t DebugGetSheetRowNum(int32_t sheet) const;

    // CVK_SRPA_TYPE_S32/F32/STR, or CVK_SRPA_TYPE_INVALID (also without a
    // type table).
    uint32_t GetParamType(int32_t row, int32_t col) const;

    // The stored value, or def on a bad cell or (with a type table) a
    // parameter of another type.
    int32_t GetParamS32(int32_t row, int32_t col, int32_t def) const;
    float GetParamF32(int32_t row, int32_t col, float def) const;
    // The override for the cell if any, else the chunk's string; null on a
    // bad cell, another type, or a string outside the data area.
    const char* GetParamStr(int32_t row, int32_t col) const;

    // 1 after writing into the chunk's row; 0 on a bad cell or another type.
    int SetParamS32(int32_t row, int32_t col, int32_t value);
    int SetParamF32(int32_t row, int32_t col, float value);
    // 1 after storing a copy of text (main heap) as the cell's override; 0 on
    // a bad cell, another type, a null text or when memory runs out.
    int SetParamStr(int32_t row, int32_t col, const char* text);

    CvChunk* GetChunk() const { return m_chunk; }
    // Null when the sheet has no type table.
    const uint8_t* GetTypeTable() const { return m_typeTable; }

private:
    struct Override {
        int32_t row;
        int32_t col;
        char* text;
        Override* next;
    };

    // Offset (from the data area) of the row's count word when the row and
    // its N parameter words lie inside the data area; N in *count.
    bool _row(int32_t row, uint32_t* offset, uint32_t* count) const;
    // Offset of the parameter word of (row, col), when inside.
    bool _cell(int32_t row, int32_t col, uint32_t* offset) const;
    // Offset of (row, col) whose type, when the sheet has a type table, is
    // `type`; the check of every typed getter and setter.
    bool _typedCell(int32_t row, int32_t col, uint32_t type, uint32_t* offset) const;
    uint32_t _typeOf(int32_t row, int32_t col) const;
    uint32_t _word(uint32_t offset) const;
    void _setWord(uint32_t offset, uint32_t value);
    uint32_t _rowTableWord(int32_t row) const;
    bool _relocated() const;
    void _locateTypeTable();

    CvChunk* m_chunk = nullptr;
    uint8_t* m_data = nullptr;     // data area
    uint32_t m_size = 0;           // data bytes
    uint8_t* m_rowTable = nullptr; // row count word, then the row words
    int32_t m_sheetNum = 0;        // S and R as checked at construction
    int32_t m_rowNum = 0;
    uint8_t* m_typeTable = nullptr;
    Override* m_overrides = nullptr;
};

// The process-wide sheet.
// 1 when a sheet already exists (chunk ignored) or one was made; 0 when the
// sheet over chunk is in error or cannot be allocated (none is kept).
LUMIVOR_EXPORT int CvkInitSrpa(CvChunk* chunk);
// The sheet, or null.
LUMIVOR_EXPORT CvkSrpa* CvkSrpaGet();
// Destroys the sheet, if any.
LUMIVOR_EXPORT void CvkExitSrpa();
// Destroys the sheet, if any, then CvkInitSrpa(chunk).
LUMIVOR_EXPORT int CvkHotSwapSrpa(CvChunk* chunk);
