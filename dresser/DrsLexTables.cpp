// Symbol tables shared by a lexer and its include lexers.
#include "dresser/DrsLexTables.h"

#include "kit/CvkHeap.h"

#include <cstring>
#include <initializer_list>

DrsCodeIndex::DrsCodeIndex()
{
    std::memset(m_pages, 0, sizeof(m_pages));
}

DrsCodeIndex::~DrsCodeIndex()
{
    Clear();
}

void DrsCodeIndex::Clear()
{
    for (auto*& page : m_pages) {
        if (page != nullptr) {
            t_cvkSystemHeapFree(page, __FILE__, __LINE__);
            page = nullptr;
        }
    }
}

LexFunctionList* DrsCodeIndex::Find(uint16_t code) const
{
    LexFunctionList** page = m_pages[code >> 8];
    return page != nullptr ? page[code & 0xFF] : nullptr;
}

bool DrsCodeIndex::Insert(uint16_t code, LexFunctionList* entry)
{
    LexFunctionList**& page = m_pages[code >> 8];
    if (page == nullptr) {
        const uint32_t size = 256 * sizeof(LexFunctionList*);
        page = static_cast<LexFunctionList**>(t_cvkSystemHeapAlloc(size, 0, __FILE__, __LINE__));
        if (page == nullptr) {
            return false;
        }
        std::memset(page, 0, size);
    }
    if (page[code & 0xFF] == nullptr) {
        page[code & 0xFF] = entry;
    }
    return true;
}

DrsLexTables::DrsLexTables()
    : instructions(nullptr), instructionsTail(nullptr), modules(nullptr), modulesTail(nullptr), defines(nullptr),
      includePaths(nullptr), nextInstructionCode(0), moduleCount(0), errorCount(0), defineDepth(0)
{
}

DrsLexTables::~DrsLexTables()
{
    ClearSymbols();
    ClearIncludePaths();
}

void DrsLexTables::ClearSymbols()
{
    for (LexFunctionList* list : {instructions, modules}) {
        while (list != nullptr) {
            LexFunctionList* next = list->GetNext();
            delete list;
            list = next;
        }
    }
    instructions = instructionsTail = nullptr;
    modules = modulesTail = nullptr;
    while (defines != nullptr) {
        _drsDefineList* next = defines->next;
        defines->~_drsDefineList();
        t_cvkSystemHeapFree(defines, __FILE__, __LINE__);
        defines = next;
    }
    instructionNames.Clear();
    instructionCodes.Clear();
    moduleNames.Clear();
    defineNames.Clear();
    moduleCount = 0;
    nextInstructionCode = 0;
}

void DrsLexTables::ClearIncludePaths()
{
    while (includePaths != nullptr) {
        _drsIncludePath* next = includePaths->next;
        includePaths->~_drsIncludePath();
        t_cvkSystemHeapFree(includePaths, __FILE__, __LINE__);
        includePaths = next;
    }
}
