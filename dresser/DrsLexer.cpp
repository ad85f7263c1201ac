// The lexer's public face: creation, token walking and insertion, tables.
// The scanners live in DrsLexScan.cpp, the directives in DrsLexDirective.cpp.
#include "dresser/DrsLexer.h"

#include "attribute/AtrAttribute.h"
#include "attribute/AtrData.h"
#include "attribute/AtrNode.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsLexScan.h"
#include "dresser/DrsLexTables.h"
#include "kit/CvkHeap.h"

#include <new>

DrsLexer::DrsLexer()
    : m_parent(nullptr), m_tables(nullptr), m_stack(nullptr), m_first(nullptr), m_last(nullptr), m_current(nullptr),
      m_fixedShift(0), m_parenDepth(0), m_braceDepth(0), m_bracketDepth(0), m_stop(0), m_include(0),
      m_includeDepth(0), m_defineDepth(0), m_lineWarned(0), m_line(1)
{
    SetTag(0x444C4558); // "DLEX"
    void* place = t_cvkSystemHeapAlloc(sizeof(DrsLexTables), 0, __FILE__, __LINE__);
    m_tables = place != nullptr ? new (place) DrsLexTables : nullptr;
    m_stack = new DrsTokenStack;
    if (m_tables == nullptr || m_stack == nullptr) {
        SetError();
    }
}

DrsLexer::DrsLexer(DrsLexer* parent)
    : m_parent(parent), m_tables(parent->m_tables), m_stack(nullptr), m_first(nullptr), m_last(parent->m_last),
      m_current(nullptr), m_fixedShift(0), m_parenDepth(0), m_braceDepth(0), m_bracketDepth(0), m_stop(0),
      m_include(1), m_includeDepth(parent->m_includeDepth + 1), m_defineDepth(0), m_lineWarned(0), m_line(1)
{
    SetTag(0x444C4558); // "DLEX"
    m_stack = new DrsTokenStack;
    if (m_stack == nullptr) {
        SetError();
    }
}

DrsLexer::~DrsLexer()
{
    Clear();
    if (!m_include && m_tables != nullptr) {
        m_tables->~DrsLexTables();
        t_cvkSystemHeapFree(m_tables, __FILE__, __LINE__);
    }
    m_tables = nullptr;
}

void DrsLexer::Clear()
{
    if (!m_include && m_tables != nullptr) {
        for (DrsToken* token = m_first; token != nullptr;) {
            DrsToken* next = token->GetNext();
            DrsTokenPool::Destroy(token);
            token = next;
        }
        m_tables->tokens.Clear();
        m_tables->ClearSymbols();
    }
    delete m_stack;
    m_stack = nullptr;
    m_first = m_last = m_current = nullptr;
}

int32_t DrsLexer::CreateToken(const char* text, const DrsCompileOption* option)
{
    delete m_stack;
    m_stack = new DrsTokenStack;
    if (m_stack == nullptr || m_tables == nullptr || text == nullptr) {
        SetError();
        return 0;
    }
    m_fixedShift = option != nullptr ? option->fixedShift : 0;
    m_line = 1;
    m_stop = 0;
    m_lineWarned = 0;
    m_parenDepth = m_braceDepth = m_bracketDepth = 0;
    DrsToken* before = m_last;

    DrsLexScan scan(this, text);
    scan.SkipLeadingBlanks();
    scan.Run();
    if (!m_include && !scan.ErrorCounted()) {
        scan.AddToken(DRS_TOKEN_END);
    }
    if (m_braceDepth != 0 && !scan.ErrorCounted()) {
        scan.Report(m_braceDepth > 0 ? DRS_LOG_UNCLOSED_BRACE : DRS_LOG_UNMATCHED_BRACE, m_line, nullptr);
    }
    if (m_current == nullptr) {
        m_current = before != nullptr ? before->GetNext() : m_first;
    }
    const bool balanced = m_parenDepth == 0 && m_braceDepth == 0 && m_bracketDepth == 0;
    return balanced || scan.ErrorCounted() ? 1 : 0;
}

int32_t DrsLexer::AddIncludePath(const char* path)
{
    if (path == nullptr || m_tables == nullptr) {
        return 0;
    }
    for (_drsIncludePath* entry = m_tables->includePaths; entry != nullptr; entry = entry->next) {
        if (entry->path == path) {
            return 1;
        }
    }
    void* place = t_cvkSystemHeapAlloc(sizeof(_drsIncludePath), 0, __FILE__, __LINE__);
    if (place == nullptr) {
        return 0;
    }
    auto* entry = new (place) _drsIncludePath{CvString(path), m_tables->includePaths};
    if (*path != '\0' && entry->path.GetLength() == 0) {
        entry->~_drsIncludePath();
        t_cvkSystemHeapFree(place, __FILE__, __LINE__);
        return 0;
    }
    m_tables->includePaths = entry;
    return 1;
}

namespace {

// An attribute's value as a signed integer, or `absent` without it.
int32_t AttributeS32(AtrNode* node, const char* name, int32_t absent)
{
    AtrData* data = node->GetAttributeData(name);
    return data != nullptr ? data->GetS32() : absent;
}

uint8_t ArgCount(int32_t n)
{
    return static_cast<uint8_t>(n < 0 ? 0 : n > 255 ? 255 : n);
}

} // namespace

int32_t DrsLexer::RegistInstruction(AtrNode* tree)
{
    if (tree == nullptr || tree->GetChildSize() == 0 || m_tables == nullptr) {
        return 0;
    }
    DrsLexTables& tables = *m_tables;
    for (AtrNode* group = tree->GetChild(0); group != nullptr; group = group->GetNext()) {
        if (AtrData* first = group->GetAttributeData(0)) {
            tables.nextInstructionCode = static_cast<uint16_t>(first->GetS32());
        }
        for (AtrNode* node = group->GetChild(0); node != nullptr; node = node->GetNext()) {
            const int32_t minArgs = AttributeS32(node, "Min", 0);
            const int32_t maxArgs = AttributeS32(node, "Max", minArgs);
            if (AtrData* code = node->GetAttributeData("Code")) {
                tables.nextInstructionCode = static_cast<uint16_t>(code->GetS32());
            }
            auto* entry = new LexFunctionList(tables.nextInstructionCode, node->GetElement().GetBuffer(),
                                              ArgCount(minArgs), ArgCount(maxArgs));
            if (entry == nullptr || entry->CheckError() ||
                !tables.instructionNames.Insert(entry->GetName(), entry, false) ||
                !tables.instructionCodes.Insert(entry->GetFunctionCode(), entry)) {
                delete entry;
                SetError();
                DrsSetErrorInfo(DRS_LOG_NO_MEMORY, 0, nullptr);
                return 0;
            }
            (tables.instructionsTail != nullptr ? tables.instructionsTail->SetNext(entry) : void(tables.instructions = entry));
            tables.instructionsTail = entry;
            ++tables.nextInstructionCode;
        }
    }
    return 1;
}

DrsToken* DrsLexer::GetCurrentToken(uint16_t* line) const
{
    if (m_current != nullptr && line != nullptr) {
        *line = m_current->GetLine();
    }
    return m_current;
}

DrsToken* DrsLexer::GetNextToken(uint16_t* line)
{
    if (m_current != nullptr) {
        m_current = m_current->GetNext();
    }
    return GetCurrentToken(line);
}

bool DrsLexer::IsTokenEnd() const
{
    return m_current == nullptr || m_current->GetCode() == DRS_TOKEN_END;
}

uint32_t DrsLexer::CheckCurrentTokenFlag(uint32_t mask) const
{
    return m_current != nullptr ? m_current->CheckTokenFlag(mask) : 0;
}

void DrsLexer::PushCurrentToken(DrsToken* token)
{
    if (m_stack != nullptr) {
        m_stack->Push(m_current);
    }
    m_current = token;
}

DrsToken* DrsLexer::PopCurrentToken()
{
    if (m_stack == nullptr || m_stack->Size() == 0) {
        return nullptr;
    }
    m_current = m_stack->Pop();
    return m_current;
}

DrsToken* DrsLexer::_newToken(uint16_t code, uint16_t line, int32_t value, const char* text)
{
    DrsToken* token = m_tables != nullptr ? m_tables->tokens.New(code, line) : nullptr;
    if (token == nullptr) {
        return nullptr;
    }
    token->SetTokenFlag(0, DrsTokenFlagsOf(code));
    token->SetParamS32(value);
    token->SetString(text);
    return token;
}

DrsToken* DrsLexer::InsertTokenNext(DrsToken* after, uint16_t code, int32_t value, const char* text)
{
    DrsToken* token = _newToken(code, 0, value, text);
    if (token == nullptr) {
        return nullptr;
    }
    if (after == nullptr) {
        after = m_last;
    }
    token->SetPrev(after);
    DrsToken* next = after != nullptr ? after->GetNext() : m_first;
    token->SetNext(next);
    (after != nullptr ? after->SetNext(token) : void(m_first = token));
    (next != nullptr ? next->SetPrev(token) : void(m_last = token));
    return token;
}

DrsToken* DrsLexer::InsertTokenNext(DrsToken* after, const DrsToken* model)
{
    if (model == nullptr) {
        return nullptr;
    }
    DrsToken* token = InsertTokenNext(after, model->GetCode(), 0, model->GetString());
    if (token != nullptr) {
        token->SetTokenFlag(0, model->GetTokenFlag());
        switch (model->GetParamType()) {
        case CVK_VARIANT_TYPE_FLOAT: token->SetParamF32(model->GetParamF32()); break;
        case CVK_VARIANT_TYPE_FIXED: token->SetParamFx32(model->GetParamFx32()); break;
        default: token->SetParamS32(model->GetParamS32()); break;
        }
    }
    return token;
}

DrsToken* DrsLexer::InsertTokenPrev(DrsToken* before, uint16_t code, int32_t value, const char* text)
{
    if (before == nullptr) {
        return nullptr;
    }
    DrsToken* token = _newToken(code, before->GetLine(), value, text);
    if (token == nullptr) {
        return nullptr;
    }
    DrsToken* prev = before->GetPrev();
    token->SetPrev(prev);
    token->SetNext(before);
    before->SetPrev(token);
    (prev != nullptr ? prev->SetNext(token) : void(m_first = token));
    if (m_current == before) {
        m_current = token;
    }
    return token;
}

LexFunctionList* DrsLexer::GetInstructionList(uint16_t code) const
{
    return m_tables != nullptr ? m_tables->instructionCodes.Find(code) : nullptr;
}

LexFunctionList* DrsLexer::GetInstructionList(const char* name) const
{
    return m_tables != nullptr ? m_tables->instructionNames.Find(name) : nullptr;
}

LexFunctionList* DrsLexer::GetModuleList(const char* name) const
{
    if (m_tables == nullptr) {
        return nullptr;
    }
    return name == nullptr ? m_tables->modules : m_tables->moduleNames.Find(name);
}

int32_t DrsLexer::SetModuleCodePos(const char* name, uint32_t pos)
{
    LexFunctionList* module = name != nullptr ? GetModuleList(name) : nullptr;
    if (module == nullptr) {
        return 0;
    }
    module->SetModuleCodePos(pos);
    return 1;
}

uint16_t DrsLexer::GetModuleCount() const
{
    return m_tables != nullptr ? m_tables->moduleCount : 0;
}

const char* DrsLexer::GetDefine(const char* name) const
{
    const _drsDefineList* entry = m_tables != nullptr ? m_tables->defineNames.Find(name) : nullptr;
    return entry != nullptr ? entry->value.GetBuffer() : nullptr;
}
