#pragma once
// LexFunctionList: one instruction or one script module.
//
// The lexer keeps two singly linked lists of these: the registered
// instructions (code = instruction code) and the modules the script declares
// (code = module number, in declaration order). A module also owns its
// variable scope and the labels and gotos of its body, which the parser
// fills and resolves.

#include "dresser/DrsNameIndex.h"
#include "dresser/LexScopeVariant.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

// A label or a goto of a module body.
struct _lexLabelList {
    char name[49];          // at most 48 characters
    uint32_t codePos;       // word index into the module's code
    uint16_t line;          // source line (gotos: where the goto stands)
    _lexLabelList* next;
};

class LUMIVOR_EXPORT LexFunctionList : public CvkBase {
public:
    LexFunctionList(uint16_t code, const char* name, uint8_t minArgs, uint8_t maxArgs);
    ~LexFunctionList() override;
    LexFunctionList(const LexFunctionList&) = delete;
    LexFunctionList& operator=(const LexFunctionList&) = delete;

    LexFunctionList* GetNext() const { return m_next; }
    void SetNext(LexFunctionList* next) { m_next = next; }
    // Null when the name could not be copied (Error flag).
    const char* GetName() const { return m_name; }

    uint16_t GetFunctionCode() const { return m_code; }
    // The maximum argument count.
    uint8_t GetArgCount() const { return m_maxArgs; }
    uint8_t GetMinArgCount() const { return m_minArgs; }
    void SetArgCount(uint8_t n) { m_maxArgs = n; }
    // True when min <= n <= max.
    bool CheckArgCount(int32_t n) const { return m_minArgs <= n && n <= m_maxArgs; }
    uint32_t GetModuleCodePos() const { return m_codePos; }
    void SetModuleCodePos(uint32_t pos) { m_codePos = pos; }

    // Adds a label; a name already there reports DRS_LOG_DUPLICATE_NAME with
    // the name and fails (0); allocation failure reports DRS_LOG_NO_MEMORY.
    int32_t AddLabel(const char* name, uint32_t pos, uint16_t line = 0);
    // The label named exactly `name`, or null.
    _lexLabelList* GetLabelList(const char* name) const;
    // Adds a goto (names may repeat); allocation failure reports
    // DRS_LOG_NO_MEMORY and fails.
    int32_t AddGoto(const char* name, uint32_t pos, uint16_t line = 0);
    // First label / goto in the order they were added.
    _lexLabelList* GetLabelHead() const { return m_labels; }
    _lexLabelList* GetGotoHead() const { return m_gotos; }

    // Discards any previous scope and makes a new root scope; null when
    // memory runs out.
    LexScopeVariant* CreateScopeVariant();
    LexScopeVariant* GetScopeVariant() const { return m_scope; }
    // Slots used by the scope, 0 without one.
    uint16_t GetVariantCount() const;

private:
    static _lexLabelList* _newEntry(const char* name, uint32_t pos, uint16_t line);
    static void _freeChain(_lexLabelList* head);

    LexScopeVariant* m_scope;
    LexFunctionList* m_next;
    _lexLabelList* m_labels;
    _lexLabelList* m_labelsTail;
    _lexLabelList* m_gotos;
    _lexLabelList* m_gotosTail;
    char* m_name;
    uint32_t m_codePos;
    uint16_t m_code;
    uint8_t m_minArgs;
    uint8_t m_maxArgs;
    DrsNameIndex<_lexLabelList> m_labelIndex;
};
