#pragma once
// The tables one compile shares between a lexer and the child lexers of its
// included files: instructions, modules, defines and include paths, each a
// list in its observable order with an index beside it.

#include "dresser/DrsNameIndex.h"
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

struct DrsLexTables {
    DrsLexTables();
    ~DrsLexTables();
    DrsLexTables(const DrsLexTables&) = delete;
    DrsLexTables& operator=(const DrsLexTables&) = delete;

    // Frees the instructions, modules and defines (not the include paths).
    void ClearSymbols();
    void ClearIncludePaths();

    LexFunctionList* instructions;
    LexFunctionList* instructionsTail;
    LexFunctionList* modules;
    LexFunctionList* modulesTail;
    _drsDefineList* defines;
    _drsIncludePath* includePaths;
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
};
