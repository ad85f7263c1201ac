// Tokens and the token stack.
#include "dresser/DrsToken.h"

#include "kit/CvkHeap.h"

#include <cstring>

uint32_t DrsTokenFlagsOf(uint16_t code)
{
    if (code <= DRS_TOKEN_LOR) {
        return DRS_TOKEN_FLAG_EXPRESSION;
    }
    if (code <= DRS_TOKEN_SYNCH || (code >= DRS_TOKEN_ELSE && code <= DRS_TOKEN_CONTINUE)) {
        return DRS_TOKEN_FLAG_KEYWORD;
    }
    switch (code) {
    case DRS_TOKEN_MODULE_CALL:
    case DRS_TOKEN_INST_CALL:
        return DRS_TOKEN_FLAG_EXPRESSION | DRS_TOKEN_FLAG_CALL;
    case DRS_TOKEN_INT16:
    case DRS_TOKEN_INT32:
        return DRS_TOKEN_FLAG_EXPRESSION | DRS_TOKEN_FLAG_INTEGER;
    case DRS_TOKEN_FLOAT:
    case DRS_TOKEN_FIXED:
        return DRS_TOKEN_FLAG_EXPRESSION | DRS_TOKEN_FLAG_REAL;
    case DRS_TOKEN_STRING:
        return DRS_TOKEN_FLAG_EXPRESSION | DRS_TOKEN_FLAG_STRING;
    case DRS_TOKEN_VAR:
    case DRS_TOKEN_ARRAY:
        return DRS_TOKEN_FLAG_EXPRESSION | DRS_TOKEN_FLAG_VARIABLE;
    case DRS_TOKEN_DECL_VAR:
    case DRS_TOKEN_DECL_ARRAY:
        return DRS_TOKEN_FLAG_DECLARED;
    default:
        break;
    }
    if (code >= DRS_TOKEN_COLON && code <= DRS_TOKEN_RBRACKET) {
        return DRS_TOKEN_FLAG_SEPARATOR;
    }
    if (code >= 70 && code <= 81) {
        return DRS_TOKEN_FLAG_SYSTEM;
    }
    return 0;
}

DrsToken::DrsToken(uint16_t code, uint16_t line)
    : m_prev(nullptr), m_next(nullptr), m_paramWord(0), m_flags(0), m_code(code), m_line(line),
      m_paramKind(CVK_VARIANT_TYPE_SINT), m_pooled(0)
{
    SetTag(0x44544B4E); // "DTKN"
}

DrsToken::~DrsToken() = default;

CvVariant DrsToken::GetParam() const
{
    CvVariant v;
    switch (m_paramKind) {
    case CVK_VARIANT_TYPE_FLOAT:
        v.SetF32(GetParamF32());
        break;
    case CVK_VARIANT_TYPE_FIXED:
        v.SetFx32(static_cast<int32_t>(m_paramWord));
        break;
    default:
        v.SetS32(static_cast<int32_t>(m_paramWord));
        break;
    }
    return v;
}

int32_t DrsToken::GetParamS32() const
{
    return m_paramKind == CVK_VARIANT_TYPE_SINT ? static_cast<int32_t>(m_paramWord) : GetParam().GetS32();
}

float DrsToken::GetParamF32() const
{
    if (m_paramKind == CVK_VARIANT_TYPE_FLOAT) {
        float v;
        std::memcpy(&v, &m_paramWord, sizeof v);
        return v;
    }
    return GetParam().GetF32();
}

void DrsToken::SetParamF32(float v)
{
    uint32_t word;
    std::memcpy(&word, &v, sizeof word);
    _setParam(CVK_VARIANT_TYPE_FLOAT, word);
}

int32_t DrsToken::GetParamFx32() const
{
    return m_paramKind == CVK_VARIANT_TYPE_FIXED ? static_cast<int32_t>(m_paramWord) : GetParam().GetFx32();
}

const char* DrsToken::GetString() const
{
    return m_text.GetLength() > 0 ? m_text.GetBuffer() : nullptr;
}

int32_t DrsToken::GetStringLength() const
{
    return m_text.GetLength() > 0 ? m_text.GetLength() : -1;
}

void DrsToken::SetString(const char* text)
{
    if (text != nullptr) {
        m_text.Assign(text);
    }
}

void DrsToken::SetString(const char* text, int32_t length)
{
    if (text != nullptr) {
        m_text.Assign(text, text + length);
    }
}

struct DrsTokenStack::Link {
    DrsToken* token;
    Link* next;
};

DrsTokenStack::DrsTokenStack() : m_top(nullptr), m_size(0), m_maxSize(0)
{
    SetTag(0x44544B53); // "DTKS"
}

DrsTokenStack::~DrsTokenStack()
{
    while (m_top != nullptr) {
        Pop();
    }
}

void DrsTokenStack::Push(DrsToken* token)
{
    auto* link = static_cast<Link*>(t_cvkSystemHeapAlloc(sizeof(Link), 0, __FILE__, __LINE__));
    if (link == nullptr) {
        SetError();
        return;
    }
    link->token = token;
    link->next = m_top;
    m_top = link;
    if (++m_size > m_maxSize) {
        m_maxSize = m_size;
    }
}

DrsToken* DrsTokenStack::Pop()
{
    if (m_top == nullptr) {
        return nullptr;
    }
    Link* link = m_top;
    DrsToken* token = link->token;
    m_top = link->next;
    --m_size;
    t_cvkSystemHeapFree(link, __FILE__, __LINE__);
    return token;
}

DrsToken* DrsTokenStack::Top() const
{
    return m_top != nullptr ? m_top->token : nullptr;
}
