#pragma once
// The tables one compile shares between a lexer and the child lexers of its
// included files: instructions, modules, defines and include paths, each a
// list in its observable order with an index beside it.

#include "dresser/DrsNameIndex.h"
#include "dresser/DrsToken.h"
#include "dresser/LexFunctionList.h"
#include "kit/CvString.h"

#include <cstdint>

// One "#define" (newest first).
struct _drsDefineList {
    CvString name;
    CvString value;
    _drsDefineList* next;
};

// One include search path (newest first).
struct _drsIncludePath {
    CvString path;
    _drsIncludePath* next;
};

// Instruction codes to their first entry, in pages of 256 made on demand.
class DrsCodeIndex {
public:
    DrsCodeIndex();
    ~DrsCodeIndex();
    DrsCodeIndex(const DrsCodeIndex&) = delete;
    DrsCodeIndex& operator=(const DrsCodeIndex&) = delete;
    LexFunctionList* Find(uint16_t code) const;
    // Keeps an entry already there. False when memory runs out.
    bool Insert(uint16_t code, LexFunctionList* entry);
    void Clear();

private:
    LexFunctionList** m_pages[256];
};

// Tokens made in blocks of the system heap; the blocks go back all at once.
class DrsTokenPool {
public:
    DrsTokenPool();
    ~DrsTokenPool();
    DrsTokenPool(const DrsTokenPool&) = delete;
    DrsTokenPool& operator=(const DrsTokenPool&) = delete;
    // A new token of the pool, or null when memory runs out.
    DrsToken* New(uint16_t code, uint16_t line);
    // Destroys a token: a pooled one goes back to the pool, another is deleted.
    void Delete(DrsToken* token);
    // Destroys a token that will not be reused before Clear: a pooled one is
    // only destructed, another is deleted.
    static void Destroy(DrsToken* token);
    // Frees every block (their tokens must be destroyed already).
    void Clear();

private:
    struct Block;
    union Slot;
    Block* m_blocks;
    Slot* m_free;
    uint32_t m_used; // slots taken from the newest block
};

// One distinct name of the script, shared by all its tokens.
struct _drsName {
    CvString text;
    _drsName* next;
};

struct DrsLexTables {
    DrsLexTables();
    ~DrsLexTables();
    DrsLexTables(const DrsLexTables&) = delete;
    DrsLexTables& operator=(const DrsLexTables&) = delete;

    // Frees the instructions, modules, defines and names (not the include
    // paths).
    void ClearSymbols();
    // The shared text of a name; null when memory runs out.
    const CvString* Intern(const char* name, int32_t length, uint32_t hash);
    void ClearIncludePaths();

    LexFunctionList* instructions;
    LexFunctionList* instructionsTail;
    LexFunctionList* modules;
    LexFunctionList* modulesTail;
    _drsDefineList* defines;
    _drsIncludePath* includePaths;
    _drsName* nameList;
    uint16_t nextInstructionCode;
    uint16_t moduleCount;
    // Errors the lexers reported themselves (the log may be absent).
    int32_t errorCount;
    // Define expansions in progress, across include lexers.
    int32_t defineDepth;
    DrsNameIndex<LexFunctionList> instructionNames;
    DrsCodeIndex instructionCodes;
    DrsNameIndex<LexFunctionList> moduleNames;
    DrsNameIndex<_drsDefineList> defineNames;
    DrsNameIndex<_drsName> names;
    DrsTokenPool tokens;
};
