#include "kit/CvkSrpa.h"

#include "kit/CvkHeap.h"

#include <cstring>

namespace {

// Row-table words can hold addresses only where an address fits 32 bits.
#if UINTPTR_MAX == 0xFFFFFFFFu
constexpr bool kAddressesFitWords = true;
#else
constexpr bool kAddressesFitWords = false;
#endif

uint32_t Low32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

CvkSrpa* g_srpa = nullptr;

} // namespace

CvkSrpa::CvkSrpa(CvChunk* chunk) : m_chunk(chunk)
{
    SetTag(CVK_SRPA_TAG);
    if (chunk == nullptr || chunk->GetTag() != CVK_CHUNK_TAG_SRPA || chunk->GetHeadSize() < CVK_CHUNK_HEAD_SIZE) {
        SetError();
        return;
    }
    m_data = reinterpret_cast<uint8_t*>(chunk) + chunk->GetHeadSize();
    m_size = chunk->GetSize();

    // The sheet table and the row table must lie inside the data area; the
    // rows themselves are checked on every access.
    uint64_t rowTable = 0;
    if (m_size >= 4) {
        rowTable = 4 + 4 * uint64_t(_word(0));
    }
    if (m_size < 4 || rowTable + 4 > m_size ||
        rowTable + 4 + 4 * uint64_t(_word(uint32_t(rowTable))) > m_size) {
        SetError();
        return;
    }
    // The counts are kept as validated: a setter whose cell overlaps the
    // tables of a malformed chunk must not widen them afterwards.
    m_sheetNum = int32_t(_word(0));
    m_rowTable = m_data + rowTable;
    std::memcpy(&m_rowNum, m_rowTable, 4);
    RelocateAddress();
    ResetError();
    SetReady();
}

CvkSrpa::~CvkSrpa()
{
    while (m_overrides != nullptr) {
        Override* next = m_overrides->next;
        t_cvkMainHeapFree(m_overrides->text, __FILE__, __LINE__);
        t_cvkMainHeapFree(m_overrides, __FILE__, __LINE__);
        m_overrides = next;
    }
}

uint32_t CvkSrpa::_word(uint32_t offset) const
{
    uint32_t v;
    std::memcpy(&v, m_data + offset, 4);
    return v;
}

void CvkSrpa::_setWord(uint32_t offset, uint32_t value) { std::memcpy(m_data + offset, &value, 4); }

uint32_t CvkSrpa::_rowTableWord(int32_t row) const
{
    uint32_t v;
    std::memcpy(&v, m_rowTable + 4 + 4 * uint32_t(row), 4);
    return v;
}

bool CvkSrpa::_relocated() const
{
    const uint32_t mask = kAddressesFitWords ? CVK_SRPA_FLAG_ADDRESS : (CVK_SRPA_FLAG_ADDRESS | CVK_SRPA_FLAG_ADOPTED);
    return (m_chunk->mapFlags & mask) != 0;
}

void CvkSrpa::RelocateAddress()
{
    if (CheckError() || _relocated()) {
        return;
    }
    if (kAddressesFitWords) {
        const uint32_t base = Low32(m_data);
        for (int32_t i = 0; i < GetRowNum(); ++i) {
            const uint32_t word = _rowTableWord(i) + base;
            std::memcpy(m_rowTable + 4 + 4 * uint32_t(i), &word, 4);
        }
        m_chunk->mapFlags = CVK_SRPA_FLAG_ADDRESS;
    } else {
        m_chunk->mapFlags = CVK_SRPA_FLAG_ADOPTED;
    }
    _locateTypeTable();
}

void CvkSrpa::FloatAddress()
{
    if (CheckError()) {
        return;
    }
    if ((m_chunk->mapFlags & CVK_SRPA_FLAG_ADDRESS) != 0) {
        const uint32_t base = Low32(m_data);
        for (int32_t i = 0; i < GetRowNum(); ++i) {
            const uint32_t word = _rowTableWord(i) - base;
            std::memcpy(m_rowTable + 4 + 4 * uint32_t(i), &word, 4);
        }
        m_chunk->mapFlags &= ~CVK_SRPA_FLAG_ADDRESS;
    }
    if (!kAddressesFitWords) {
        m_chunk->mapFlags &= ~CVK_SRPA_FLAG_ADOPTED;
    }
}

void CvkSrpa::_locateTypeTable()
{
    uint32_t offset = 0;
    uint32_t count = 0;
    if (GetRowNum() == 0 || !_row(GetRowNum() - 1, &offset, &count)) {
        return;
    }
    const uint64_t end = uint64_t(offset) + 4 + 4 * uint64_t(count);
    const uint64_t table = (end + 15) & ~uint64_t(15);
    if (table < m_size) {
        m_typeTable = m_data + table;
    }
}

bool CvkSrpa::_row(int32_t row, uint32_t* offset, uint32_t* count) const
{
    if (CheckError() || row < 0 || row >= GetRowNum()) {
        return false;
    }
    // While bit 0 is set the word is an address in the data area (32-bit
    // builds); otherwise it is the offset itself.
    uint32_t word = _rowTableWord(row);
    if ((m_chunk->mapFlags & CVK_SRPA_FLAG_ADDRESS) != 0) {
        word -= Low32(m_data);
    }
    if (uint64_t(word) + 4 > m_size) {
        return false;
    }
    const uint32_t n = _word(word);
    if (uint64_t(word) + 4 + 4 * uint64_t(n) > m_size) {
        return false;
    }
    *offset = word;
    *count = n;
    return true;
}

bool CvkSrpa::_cell(int32_t row, int32_t col, uint32_t* offset) const
{
    uint32_t rowOffset = 0;
    uint32_t count = 0;
    if (!_row(row, &rowOffset, &count) || col < 0 || uint32_t(col) >= count) {
        return false;
    }
    *offset = rowOffset + 4 + 4 * uint32_t(col);
    return true;
}

uint32_t CvkSrpa::_typeOf(int32_t row, int32_t col) const
{
    uint32_t rowOffset = 0;
    uint32_t count = 0;
    uint32_t firstOffset = 0;
    uint32_t firstCount = 0;
    if (m_typeTable == nullptr || !_row(row, &rowOffset, &count) || col < 0 || uint32_t(col) >= count ||
        !_row(0, &firstOffset, &firstCount)) {
        return CVK_SRPA_TYPE_INVALID;
    }
    // The table has a byte per word of the rows area, which begins at the
    // first row's count word; a row elsewhere has no type byte.
    if (rowOffset < firstOffset || (rowOffset - firstOffset) % 4 != 0) {
        return CVK_SRPA_TYPE_INVALID;
    }
    const uint64_t at = uint64_t(m_typeTable - m_data) + (rowOffset - firstOffset) / 4 + 1 + uint32_t(col);
    if (at >= m_size) {
        return CVK_SRPA_TYPE_INVALID;
    }
    switch (m_data[at]) {
    case 1:
        return CVK_SRPA_TYPE_S32;
    case 2:
        return CVK_SRPA_TYPE_F32;
    case 3:
        return CVK_SRPA_TYPE_STR;
    default:
        return CVK_SRPA_TYPE_INVALID;
    }
}

bool CvkSrpa::_typedCell(int32_t row, int32_t col, uint32_t type, uint32_t* offset) const
{
    if (!_cell(row, col, offset)) {
        return false;
    }
    return m_typeTable == nullptr || _typeOf(row, col) == type;
}

int32_t CvkSrpa::GetRowNum() const
{
    return CheckError() ? 0 : m_rowNum;
}

int32_t CvkSrpa::GetParamNum(int32_t row) const
{
    uint32_t offset = 0;
    uint32_t count = 0;
    return _row(row, &offset, &count) ? int32_t(count) : 0;
}

int32_t CvkSrpa::DebugGetSheetNum() const { return CheckError() ? 0 : m_sheetNum; }

int32_t CvkSrpa::DebugGetSheetRowNum(int32_t sheet) const
{
    if (sheet < 0 || sheet >= DebugGetSheetNum()) {
        return 0;
    }
    return int32_t(_word(4 + 4 * uint32_t(sheet)));
}

uint32_t CvkSrpa::GetParamType(int32_t row, int32_t col) const
{
    return CheckError() ? CVK_SRPA_TYPE_INVALID : _typeOf(row, col);
}

int32_t CvkSrpa::GetParamS32(int32_t row, int32_t col, int32_t def) const
{
    uint32_t offset = 0;
    return _typedCell(row, col, CVK_SRPA_TYPE_S32, &offset) ? int32_t(_word(offset)) : def;
}

float CvkSrpa::GetParamF32(int32_t row, int32_t col, float def) const
{
    uint32_t offset = 0;
    if (!_typedCell(row, col, CVK_SRPA_TYPE_F32, &offset)) {
        return def;
    }
    float v;
    std::memcpy(&v, m_data + offset, 4);
    return v;
}

const char* CvkSrpa::GetParamStr(int32_t row, int32_t col) const
{
    uint32_t offset = 0;
    if (!_typedCell(row, col, CVK_SRPA_TYPE_STR, &offset)) {
        return nullptr;
    }
    for (const Override* o = m_overrides; o != nullptr; o = o->next) {
        if (o->row == row && o->col == col) {
            return o->text;
        }
    }
    // The string and its terminator must lie inside the data area.
    const uint32_t at = _word(offset);
    if (at >= m_size || std::memchr(m_data + at, 0, m_size - at) == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<const char*>(m_data + at);
}

int CvkSrpa::SetParamS32(int32_t row, int32_t col, int32_t value)
{
    uint32_t offset = 0;
    if (!_typedCell(row, col, CVK_SRPA_TYPE_S32, &offset)) {
        return 0;
    }
    _setWord(offset, uint32_t(value));
    return 1;
}

int CvkSrpa::SetParamF32(int32_t row, int32_t col, float value)
{
    uint32_t offset = 0;
    if (!_typedCell(row, col, CVK_SRPA_TYPE_F32, &offset)) {
        return 0;
    }
    std::memcpy(m_data + offset, &value, 4);
    return 1;
}

int CvkSrpa::SetParamStr(int32_t row, int32_t col, const char* text)
{
    uint32_t offset = 0;
    if (text == nullptr || !_typedCell(row, col, CVK_SRPA_TYPE_STR, &offset)) {
        return 0;
    }
    const size_t length = std::strlen(text);
    if (length >= 0xFFFFFFFFu) {
        return 0;
    }
    char* copy = static_cast<char*>(t_cvkMainHeapAlloc(uint32_t(length + 1), 0, __FILE__, __LINE__));
    if (copy == nullptr) {
        return 0;
    }
    std::memset(copy, 0, length + 1);
    std::memcpy(copy, text, length);

    for (Override* o = m_overrides; o != nullptr; o = o->next) {
        if (o->row == row && o->col == col) {
            t_cvkMainHeapFree(o->text, __FILE__, __LINE__);
            o->text = copy;
            return 1;
        }
    }
    auto* record = static_cast<Override*>(
        t_cvkMainHeapAlloc(uint32_t(sizeof(Override)), uint32_t(alignof(Override)), __FILE__, __LINE__));
    if (record == nullptr) {
        t_cvkMainHeapFree(copy, __FILE__, __LINE__);
        return 0;
    }
    record->row = row;
    record->col = col;
    record->text = copy;
    record->next = m_overrides;
    m_overrides = record;
    return 1;
}

int CvkInitSrpa(CvChunk* chunk)
{
    if (g_srpa != nullptr) {
        return 1;
    }
    CvkSrpa* sheet = new CvkSrpa(chunk);
    if (sheet == nullptr) {
        return 0;
    }
    if (sheet->CheckError()) {
        delete sheet;
        return 0;
    }
    g_srpa = sheet;
    return 1;
}

CvkSrpa* CvkSrpaGet() { return g_srpa; }

void CvkExitSrpa()
{
    delete g_srpa;
    g_srpa = nullptr;
}

int CvkHotSwapSrpa(CvChunk* chunk)
{
    CvkExitSrpa();
    return CvkInitSrpa(chunk);
}
