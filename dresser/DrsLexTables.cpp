// Symbol tables shared by a lexer and its include lexers.
#include "dresser/DrsLexTables.h"

#include "kit/CvkHeap.h"

#include <cstring>
#include <initializer_list>
#include <new>

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

// ---- token pool ----

namespace {
constexpr uint32_t kTokensPerBlock = 1024;
}

union DrsTokenPool::Slot {
    Slot* next;
    alignas(DrsToken) unsigned char bytes[sizeof(DrsToken)];
};

struct DrsTokenPool::Block {
    Block* next;
    Slot slots[kTokensPerBlock];
};

DrsTokenPool::DrsTokenPool() : m_blocks(nullptr), m_free(nullptr), m_used(kTokensPerBlock) {}

DrsTokenPool::~DrsTokenPool()
{
    Clear();
}

DrsToken* DrsTokenPool::New(uint16_t code, uint16_t line)
{
    Slot* slot = m_free;
    if (slot != nullptr) {
        m_free = slot->next;
    } else {
        if (m_used == kTokensPerBlock) {
            auto* block = static_cast<Block*>(t_cvkSystemHeapAlloc(sizeof(Block), 0, __FILE__, __LINE__));
            if (block == nullptr) {
                return nullptr;
            }
            block->next = m_blocks;
            m_blocks = block;
            m_used = 0;
        }
        slot = &m_blocks->slots[m_used++];
    }
    auto* token = new (slot->bytes) DrsToken(code, line);
    token->m_pooled = 1;
    return token;
}

void DrsTokenPool::Delete(DrsToken* token)
{
    if (token == nullptr) {
        return;
    }
    if (!token->IsPooled()) {
        delete token;
        return;
    }
    token->DrsToken::~DrsToken();
    auto* slot = reinterpret_cast<Slot*>(token);
    slot->next = m_free;
    m_free = slot;
}

void DrsTokenPool::Destroy(DrsToken* token)
{
    if (token->IsPooled()) {
        token->DrsToken::~DrsToken();
    } else {
        delete token;
    }
}

void DrsTokenPool::Clear()
{
    while (m_blocks != nullptr) {
        Block* next = m_blocks->next;
        t_cvkSystemHeapFree(m_blocks, __FILE__, __LINE__);
        m_blocks = next;
    }
    m_free = nullptr;
    m_used = kTokensPerBlock;
}

// ---- tables ----

DrsLexTables::DrsLexTables()
    : instructions(nullptr), instructionsTail(nullptr), modules(nullptr), modulesTail(nullptr), defines(nullptr),
      includePaths(nullptr), nameList(nullptr), nextInstructionCode(0), moduleCount(0), errorCount(0), defineDepth(0)
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
    while (nameList != nullptr) {
        _drsName* next = nameList->next;
        nameList->~_drsName();
        t_cvkSystemHeapFree(nameList, __FILE__, __LINE__);
        nameList = next;
    }
    names.Clear();
    instructionNames.Clear();
    instructionCodes.Clear();
    moduleNames.Clear();
    defineNames.Clear();
    moduleCount = 0;
    nextInstructionCode = 0;
}

const CvString* DrsLexTables::Intern(const char* name, int32_t length, uint32_t hash)
{
    if (_drsName* entry = names.FindHashed(name, length, hash)) {
        return &entry->text;
    }
    void* place = t_cvkSystemHeapAlloc(sizeof(_drsName), 0, __FILE__, __LINE__);
    if (place == nullptr) {
        return nullptr;
    }
    auto* entry = new (place) _drsName{CvString(name, name + length), nameList};
    if (entry->text.GetLength() != length || !names.Insert(entry->text.GetBuffer(), entry, false)) {
        entry->~_drsName();
        t_cvkSystemHeapFree(place, __FILE__, __LINE__);
        return nullptr;
    }
    nameList = entry;
    return &entry->text;
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
