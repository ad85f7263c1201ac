// The scan of enum headers and the table of constants.
#include "attribute/AtrDefAnalyzer.h"

#include "attribute/AtrUtil.h"

#include "kit/CvkFile.h"
#include "kit/CvkHeap.h"
#include "kit/CvkStringScan.h"

#include <cstring>

namespace {

bool IsNameStart(char ch)
{
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '_';
}

bool IsNameChar(char ch)
{
    return IsNameStart(ch) || (ch >= '0' && ch <= '9');
}

uint32_t HashName(const char* name, size_t length)
{
    uint32_t h = 2166136261u; // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        h = (h ^ static_cast<unsigned char>(name[i])) * 16777619u;
    }
    return h;
}

const char* SkipBlanks(const char* p)
{
    CvkStringSkipSpace(&p);
    return p;
}

// The end of a value text: the next ',' or '}' outside a comment. Null when
// the text or a comment inside the value ends first (the entry is cut off).
const char* FindValueEnd(const char* p)
{
    for (;;) {
        switch (*p) {
        case 0:
            return nullptr;
        case ',':
        case '}':
            return p;
        case '/':
            if (p[1] == '/') {
                p = strchr(p, '\n');
                if (p == nullptr) {
                    return nullptr;
                }
            } else if (p[1] == '*') {
                p = strstr(p + 2, "*/");
                if (p == nullptr) {
                    return nullptr;
                }
                ++p;
            }
            break;
        default:
            break;
        }
        ++p;
    }
}

} // namespace

AtrDefAnalyzer::AtrDefAnalyzer()
    : constants(nullptr), ok(1), m_index(nullptr), m_indexCapacity(0), m_indexCount(0), m_tokens(nullptr),
      m_tokenCapacity(0)
{
    SetTag(0x41545244); // "ATRD"
}

AtrDefAnalyzer::~AtrDefAnalyzer()
{
    while (constants != nullptr) {
        AtrAttribute* next = constants->GetNext();
        delete constants;
        constants = next;
    }
    if (m_index != nullptr) {
        t_cvkSystemHeapFree(m_index, __FILE__, __LINE__);
    }
    if (m_tokens != nullptr) {
        t_cvkSystemHeapFree(m_tokens, __FILE__, __LINE__);
    }
}

int32_t AtrDefAnalyzer::_fail()
{
    ok = 0;
    SetError();
    return 0;
}

// ---------------------------------------------------------------------------
// Reading headers.

int32_t AtrDefAnalyzer::AddConstantDefinition(const char* path)
{
    if (path == nullptr) {
        return _fail();
    }
    const CvString expanded = AtrUtilExtractEnvName(path);
    CvkFile file(expanded.GetBuffer());
    if (file.CheckError() != 0) {
        return _fail();
    }
    // The file layer reports an empty file and a missing one alike; both add
    // nothing (front ends check that the files they are given exist).
    if (!file.ReadFile(nullptr, 0, 0) || file.GetBuffer() == nullptr) {
        return ok;
    }
    return AddConstantDefinitionText(static_cast<const char*>(file.GetBuffer()));
}

int32_t AtrDefAnalyzer::AddConstantDefinitionText(const char* text)
{
    if (text == nullptr) {
        return _fail();
    }
    if (_readDefinitions(text) == 0) {
        _fail();
    }
    return ok;
}

int32_t AtrDefAnalyzer::_readDefinitions(const char* text)
{
    const char* p = text;
    for (;;) {
        CvkStringSkipSpace(&p);
        if (*p == '#' && strncmp(p, "#define", 7) == 0) {
            p += 7;
        }
        if (*p == 'e' && strncmp(p, "enum", 4) == 0) {
            p = _readEnumeration(p + 4);
            if (p == nullptr) {
                return 0;
            }
        }
        if (*p == 0) {
            return 1;
        }
        ++p;
    }
}

const char* AtrDefAnalyzer::_readEnumeration(const char* p)
{
    // Only "enum", an optional tag and '{' open a definition; "enum Color"
    // naming a type (typedef enum Color Color; void Paint(enum Color c);)
    // does not, or the next struct's body would be read as its entries.
    const char* open = SkipBlanks(p);
    while (IsNameChar(*open)) {
        ++open;
    }
    open = SkipBlanks(open);
    if (*open != '{') {
        return p;
    }
    p = open + 1;
    int32_t counter = 0;
    for (;;) {
        // Comments are skipped too, so a note behind the last entry's comma
        // adds nothing.
        p = SkipBlanks(p);
        if (*p == '}') {
            return p;
        }
        p = _readEntry(p, &counter);
        if (p == nullptr) {
            return nullptr;
        }
        if (*p == ',') {
            ++p;
        }
    }
}

const char* AtrDefAnalyzer::_readEntry(const char* p, int32_t* counter)
{
    if (!IsNameStart(*p)) {
        return nullptr;   // no name (or the enumeration is cut off)
    }
    const char* name = p;
    while (IsNameChar(*p)) {
        ++p;
    }
    const CvString nameText(name, p);
    p = SkipBlanks(p);
    if (*p == '=') {
        p = SkipBlanks(p + 1);
        const char* end = FindValueEnd(p);
        if (end == nullptr || _evaluate(p, end, counter) == 0) {
            return nullptr;
        }
        p = end;
    }
    if (*p != ',' && *p != '}') {
        return nullptr;
    }
    AddConstantDefinition(nameText.GetBuffer(), *counter);
    if (CheckError() != 0) {
        return nullptr;
    }
    *counter = static_cast<int32_t>(static_cast<uint32_t>(*counter) + 1u);
    return p;
}

// ---------------------------------------------------------------------------
// The constants.

void AtrDefAnalyzer::AddConstantDefinition(const char* name, int32_t value)
{
    if (name == nullptr) {
        SetError();
        return;
    }
    AtrAttribute* constant = new AtrAttribute(CvString(name), AtrData(value));
    if (constant == nullptr) {
        SetError();
        return;
    }
    if (_indexConstant(constant) == 0) {
        delete constant;
        SetError();
        return;
    }
    constant->SetNext(constants);
    constants = constant;
}

int32_t AtrDefAnalyzer::IsParam(const char* name) const
{
    int32_t value;
    return name != nullptr ? FindParam(name, strlen(name), &value) : 0;
}

int32_t AtrDefAnalyzer::GetParam(const char* name)
{
    int32_t value = 0;
    if (name == nullptr || FindParam(name, strlen(name), &value) == 0) {
        ok = 0;
        return 0;
    }
    return value;
}

int32_t AtrDefAnalyzer::FindParam(const char* name, size_t length, int32_t* value) const
{
    if (m_indexCount == 0) {
        return 0;
    }
    const IndexSlot* slot = _findSlot(name, length, HashName(name, length));
    if (slot->constant == nullptr) {
        return 0;
    }
    *value = slot->constant->GetS32();
    return 1;
}

// Open addressing with linear probing: the slot holding `name`, or the empty
// slot where it would go. The table is never full.
AtrDefAnalyzer::IndexSlot* AtrDefAnalyzer::_findSlot(const char* name, size_t length, uint32_t hash) const
{
    const uint32_t mask = m_indexCapacity - 1;
    for (uint32_t i = hash & mask;; i = (i + 1) & mask) {
        IndexSlot* slot = &m_index[i];
        if (slot->constant == nullptr) {
            return slot;
        }
        if (slot->hash == hash && slot->length == length && memcmp(slot->name, name, length) == 0) {
            return slot;
        }
    }
}

int32_t AtrDefAnalyzer::_indexConstant(AtrAttribute* constant)
{
    if ((m_indexCount + 1) * 2 > m_indexCapacity && _growIndex() == 0) {
        return 0;
    }
    const CvString& name = constant->GetName();
    const size_t length = static_cast<size_t>(name.GetLength());
    const uint32_t hash = HashName(name.GetBuffer(), length);
    IndexSlot* slot = _findSlot(name.GetBuffer(), length, hash);
    if (slot->constant == nullptr) {
        ++m_indexCount;
    }
    // The newest definition answers from now on.
    slot->hash = hash;
    slot->length = static_cast<uint32_t>(length);
    slot->name = name.GetBuffer();
    slot->constant = constant;
    return 1;
}

int32_t AtrDefAnalyzer::_growIndex()
{
    const uint32_t capacity = m_indexCapacity != 0 ? m_indexCapacity * 2 : 64;
    if (capacity > 0x10000000u) {
        return 0;
    }
    auto* grown = static_cast<IndexSlot*>(
        t_cvkSystemHeapAlloc(capacity * static_cast<uint32_t>(sizeof(IndexSlot)), 0, __FILE__, __LINE__));
    if (grown == nullptr) {
        return 0;
    }
    memset(grown, 0, capacity * sizeof(IndexSlot));
    IndexSlot* old = m_index;
    const uint32_t oldCapacity = m_indexCapacity;
    m_index = grown;
    m_indexCapacity = capacity;
    for (uint32_t i = 0; i < oldCapacity; ++i) {
        if (old[i].constant != nullptr) {
            *_findSlot(old[i].name, old[i].length, old[i].hash) = old[i];
        }
    }
    if (old != nullptr) {
        t_cvkSystemHeapFree(old, __FILE__, __LINE__);
    }
    return 1;
}
