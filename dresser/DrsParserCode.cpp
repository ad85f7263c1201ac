// Code words, the constant table and the string pool of the parser.
#include "dresser/DrsParser.h"

#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsToken.h"
#include "kit/CvVariant.h"
#include "kit/CvkEndian.h"
#include "kit/CvkHeap.h"

#include <cstring>

namespace {

constexpr uint32_t kBufferStep = 0x80000;   // code and initializer buffers, bytes
constexpr uint32_t kBufferMargin = 1024;    // free bytes kept before each statement
constexpr uint32_t kConstantStep = 1024;    // constant table, bytes

} // namespace

int32_t PrsConstantIndex::Find(uint32_t bits) const
{
    if (m_keys.empty()) return -1;
    const uint32_t mask = uint32_t(m_keys.size()) - 1;
    for (uint32_t i = _hash(bits) & mask; m_values[i] != 0; i = (i + 1) & mask)
        if (m_keys[i] == bits) return int32_t(m_values[i] - 1);
    return -1;
}

bool PrsConstantIndex::Insert(uint32_t bits, uint16_t index)
{
    if (Find(bits) >= 0) return true;
    try {
        if ((m_count + 1) * 2 > m_keys.size()) {
            std::vector<uint32_t> keys(m_keys.empty() ? 256 : m_keys.size() * 2);
            std::vector<uint32_t> values(keys.size(), 0);
            const uint32_t mask = uint32_t(keys.size()) - 1;
            for (size_t j = 0; j < m_keys.size(); ++j) {
                if (m_values[j] == 0) continue;
                uint32_t i = _hash(m_keys[j]) & mask;
                while (values[i] != 0) i = (i + 1) & mask;
                keys[i] = m_keys[j];
                values[i] = m_values[j];
            }
            m_keys.swap(keys);
            m_values.swap(values);
        }
    } catch (...) {
        return false;
    }
    const uint32_t mask = uint32_t(m_keys.size()) - 1;
    uint32_t i = _hash(bits) & mask;
    while (m_values[i] != 0) i = (i + 1) & mask;
    m_keys[i] = bits;
    m_values[i] = uint32_t(index) + 1;
    ++m_count;
    return true;
}

void PrsConstantIndex::Clear()
{
    m_keys.clear();
    m_values.clear();
    m_count = 0;
}

void DrsParser::_freeBuffer(PrsWordBuffer* buffer)
{
    t_cvkMainHeapFree(buffer->words, __FILE__, __LINE__);
    *buffer = PrsWordBuffer();
}

bool DrsParser::_ensure(PrsWordBuffer* buffer, uint32_t words)
{
    const uint64_t needed = (uint64_t(buffer->count) + words) * 2;
    if (needed <= buffer->capacityBytes) return true;
    uint64_t capacity = uint64_t(buffer->capacityBytes) + kBufferStep;
    if (capacity < needed + kBufferMargin) capacity = (needed + kBufferMargin + kBufferStep - 1) / kBufferStep * kBufferStep;
    if (capacity > 0x7FFFFFFFu) {
        _failLine(DRS_LOG_NO_MEMORY, m_line);
        return false;
    }
    auto* words2 = static_cast<uint16_t*>(t_cvkMainHeapAlloc(uint32_t(capacity), 0, __FILE__, __LINE__));
    if (words2 == nullptr) {
        SetError();
        _failLine(DRS_LOG_NO_MEMORY, m_line);
        return false;
    }
    if (buffer->words != nullptr) {
        std::memcpy(words2, buffer->words, buffer->count * 2u);
        t_cvkMainHeapFree(buffer->words, __FILE__, __LINE__);
    }
    buffer->words = words2;
    buffer->capacityBytes = uint32_t(capacity);
    return true;
}

// Keeps a margin free before each statement, so that most statements never
// check again; words beyond the margin still grow the buffer in _emit.
void DrsParser::_ensureStatementRoom()
{
    if (m_code.capacityBytes - m_code.count * 2u < kBufferMargin) _ensure(&m_code, kBufferMargin / 2);
}

void DrsParser::_emit(uint16_t word)
{
    if (m_code.count * 2u + 2 > m_code.capacityBytes && !_ensure(&m_code, 1)) return;
    m_code.words[m_code.count++] = word;
}

uint32_t DrsParser::_reserve(uint32_t count)
{
    const uint32_t at = m_code.count;
    if (!_ensure(&m_code, count)) return at;
    std::memset(m_code.words + at, 0, count * 2u);
    m_code.count += count;
    return at;
}

void DrsParser::_patch(uint32_t pos, uint16_t word)
{
    if (pos < m_code.count) m_code.words[pos] = word;
}

uint16_t DrsParser::_get32DataIndex(int32_t kind, int32_t sint, uint32_t uint, float real)
{
    uint32_t native;
    switch (kind) {
    case CVK_VARIANT_TYPE_SINT:
    case CVK_VARIANT_TYPE_FIXED: native = uint32_t(sint); break;
    case CVK_VARIANT_TYPE_UINT: native = uint; break;
    case CVK_VARIANT_TYPE_FLOAT: std::memcpy(&native, &real, 4); break;
    default:
        SetError();
        m_stop = true;
        return 0;
    }
    const uint32_t bits = m_swap ? CvkSwap32(native) : native;

    // The first entry equal to the value: bit for bit, or for a float as a
    // float (so +0 and -0 meet, and a NaN meets nothing).
    const bool isFloat = kind == CVK_VARIANT_TYPE_FLOAT;
    const bool nan = (bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0;
    if (!(isFloat && nan)) {
        int32_t found = m_constantIndex.Find(bits);
        if (isFloat && (bits & 0x7FFFFFFFu) == 0) {
            const int32_t other = m_constantIndex.Find(bits ^ 0x80000000u);
            if (other >= 0 && (found < 0 || other < found)) found = other;
        }
        if (found >= 0) return uint16_t(found);
    }

    if (m_constantCount >= DRS_PARSER_MAX_CONSTANTS) {
        _failLine(DRS_LOG_TOO_MANY_STRINGS, m_line);
        return 0;
    }
    if ((m_constantCount + 1) * 4 + 16 > m_constantCapacity) {
        uint32_t capacity = m_constantCapacity + (m_constantCapacity / 2 > kConstantStep ? m_constantCapacity / 2 : kConstantStep);
        capacity = (capacity + kConstantStep - 1) / kConstantStep * kConstantStep;
        auto* table = static_cast<uint32_t*>(t_cvkMainHeapAlloc(capacity, 0, __FILE__, __LINE__));
        if (table == nullptr) {
            SetError();
            _failLine(DRS_LOG_NO_MEMORY, m_line);
            return 0;
        }
        if (m_constants != nullptr) {
            std::memcpy(table, m_constants, m_constantCount * 4);
            t_cvkMainHeapFree(m_constants, __FILE__, __LINE__);
        }
        m_constants = table;
        m_constantCapacity = capacity;
    }
    const uint16_t index = uint16_t(m_constantCount);
    m_constants[m_constantCount++] = bits;
    if (!m_constantIndex.Insert(bits, index)) {
        SetError();
        _failLine(DRS_LOG_NO_MEMORY, m_line);
    }
    return index;
}

uint16_t DrsParser::_stringIndex(const char* text)
{
    const uint16_t index = m_strings.GetDataId(text);
    if (index == PRS_STRING_NONE) m_stop = true;
    return index;
}

void DrsParser::_failLine(int32_t code, uint16_t line, const char* text)
{
    DrsSetErrorInfo(code, line, text);
    m_stop = true;
}

void DrsParser::_fail(int32_t code, const DrsToken* token, const char* text)
{
    _failLine(code, _line(token), text);
}

uint16_t DrsParser::_line(const DrsToken* token) const
{
    return token != nullptr ? token->GetLine() : m_line;
}
