#pragma once
// The scanners of one text (a script, an included file or a define's value)
// for DrsLexer. Internal to the lexer: DrsLexer.cpp drives it, the scanners
// are in DrsLexScan.cpp and the directives in DrsLexDirective.cpp.

#include "dresser/DrsLexTables.h"
#include "dresser/DrsLexer.h"

#include <cstdint>

struct DrsLexScan {
    DrsLexScan(DrsLexer* lexer, const char* text);

    void SkipLeadingBlanks();
    // Scans until the terminating NUL or the stop flag.
    void Run();

    // Makes a token of the current line and adds it after the sequence
    // rules; null when it was dropped or memory ran out.
    DrsToken* AddToken(uint16_t code, int32_t value = 0, const char* text = nullptr, int32_t length = 0);
    // The same for a name whose hash (DrsNameIndexBase::Hash) is known.
    DrsToken* AddNameToken(uint16_t code, int32_t value, const char* name, int32_t length, uint32_t hash);
    // Reports to the log and counts the lexer's own errors.
    void Report(int32_t code, int32_t line, const char* text);
    void ReportName(int32_t code, const char* name, int32_t length);
    void Stop() { m_lexer.m_stop = 1; }
    // Reports at the current line and stops the scan; 0 for the scanner to
    // return (nothing consumed).
    int32_t Fail(int32_t code, const char* text = nullptr);
    // True when an error has been counted (by the log, or by the lexers
    // when there is no log).
    bool ErrorCounted() const;
    int32_t ErrorCount() const;
    uint16_t Line() const { return m_lexer.m_line; }
    // Counts one line break (a line past 65535 is not counted: warned once).
    void NewLine();

    // Scanners: each returns the characters it consumed (0: not its token).
    int32_t Comment(const char* p);
    int32_t Directive(const char* p);
    int32_t Identifier(const char* p);
    int32_t Number(const char* p);
    int32_t Operator(const char* p);
    int32_t Separator(const char* p);
    int32_t String(const char* p);
    int32_t Blank(const char* p);

    // Directives (DrsLexDirective.cpp), `p` at their first character.
    int32_t Include(const char* p);
    int32_t InstDef(const char* p);
    int32_t Define(const char* p);
    int32_t NameDirective(const char* p);
    int32_t Enum(const char* p);
    // Registers a define (newest wins); false when memory runs out.
    bool AddDefine(const char* name, int32_t nameLength, const char* value, int32_t valueLength);

    DrsLexer& m_lexer;
    DrsLexTables& m_tables;
    const char* m_text;
    int32_t m_pos;

private:
    int32_t _blockComment(const char* p);
    int32_t _lineComment(const char* p);
    int32_t _classifyName(const char* p, int32_t length, uint32_t hash);
    DrsToken* _addToken(uint16_t code, int32_t value, const CvString* text);
    void _addReal(int32_t value, int32_t fraction);
    int32_t _expandDefine(const _drsDefineList* define, const char* p, int32_t length);
    void _registerModule(const char* name, int32_t length);
    int32_t _checkSequence(const DrsToken* token);
    void _link(DrsToken* token);
    void _removeLast();
    bool _allDepthsZero() const;
    int32_t _directiveFailed(int32_t code, int32_t line, const char* text);
    bool _lexIncluded(const char* text);
    bool _registerInstructions(const CvString& name);
    int32_t _enumValue(const char* p, int32_t i, uint32_t* counter);
    int32_t _enumFailed(bool missingSemicolon);
};
