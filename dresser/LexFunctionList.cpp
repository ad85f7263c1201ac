// Instructions and modules, with a module's labels, gotos and scope.
#include "dresser/LexFunctionList.h"

#include "dresser/DrsErrorInfo.h"
#include "kit/CvkHeap.h"

#include <cstring>

LexFunctionList::LexFunctionList(uint16_t code, const char* name, uint8_t minArgs, uint8_t maxArgs)
    : m_scope(nullptr), m_next(nullptr), m_labels(nullptr), m_labelsTail(nullptr), m_gotos(nullptr),
      m_gotosTail(nullptr), m_name(nullptr), m_codePos(0), m_code(code), m_minArgs(minArgs), m_maxArgs(maxArgs)
{
    SetTag(0x4C58464C); // "LXFL"
    const size_t length = name != nullptr ? std::strlen(name) : 0;
    m_name = static_cast<char*>(t_cvkSystemHeapAlloc(static_cast<uint32_t>(length + 1), 0, __FILE__, __LINE__));
    if (m_name == nullptr) {
        SetError();
        return;
    }
    std::memcpy(m_name, name != nullptr ? name : "", length + 1);
}

LexFunctionList::~LexFunctionList()
{
    delete m_scope;
    _freeChain(m_labels);
    _freeChain(m_gotos);
    if (m_name != nullptr) {
        t_cvkSystemHeapFree(m_name, __FILE__, __LINE__);
    }
}

void LexFunctionList::_freeChain(_lexLabelList* head)
{
    while (head != nullptr) {
        _lexLabelList* next = head->next;
        t_cvkSystemHeapFree(head, __FILE__, __LINE__);
        head = next;
    }
}

_lexLabelList* LexFunctionList::_newEntry(const char* name, uint32_t pos, uint16_t line)
{
    auto* entry = static_cast<_lexLabelList*>(t_cvkSystemHeapAlloc(sizeof(_lexLabelList), 0, __FILE__, __LINE__));
    if (entry == nullptr) {
        return nullptr;
    }
    std::strncpy(entry->name, name != nullptr ? name : "", sizeof(entry->name) - 1);
    entry->name[sizeof(entry->name) - 1] = '\0';
    entry->codePos = pos;
    entry->line = line;
    entry->next = nullptr;
    return entry;
}

int32_t LexFunctionList::AddLabel(const char* name, uint32_t pos, uint16_t line)
{
    if (GetLabelList(name) != nullptr) {
        DrsSetErrorInfo(DRS_LOG_DUPLICATE_NAME, line, name);
        return 0;
    }
    _lexLabelList* entry = _newEntry(name, pos, line);
    if (entry == nullptr || !m_labelIndex.Insert(entry->name, entry, false)) {
        _freeChain(entry);
        DrsSetErrorInfo(DRS_LOG_NO_MEMORY, line, nullptr);
        return 0;
    }
    (m_labelsTail != nullptr ? m_labelsTail->next : m_labels) = entry;
    m_labelsTail = entry;
    return 1;
}

_lexLabelList* LexFunctionList::GetLabelList(const char* name) const
{
    return name != nullptr ? m_labelIndex.Find(name, static_cast<int32_t>(strnlen(name, sizeof(_lexLabelList::name) - 1))) : nullptr;
}

int32_t LexFunctionList::AddGoto(const char* name, uint32_t pos, uint16_t line)
{
    _lexLabelList* entry = _newEntry(name, pos, line);
    if (entry == nullptr) {
        DrsSetErrorInfo(DRS_LOG_NO_MEMORY, line, nullptr);
        return 0;
    }
    (m_gotosTail != nullptr ? m_gotosTail->next : m_gotos) = entry;
    m_gotosTail = entry;
    return 1;
}

LexScopeVariant* LexFunctionList::CreateScopeVariant()
{
    delete m_scope;
    m_scope = new LexScopeVariant(nullptr);
    return m_scope;
}

uint16_t LexFunctionList::GetVariantCount() const
{
    return m_scope != nullptr ? m_scope->GetVariantCount() : 0;
}
