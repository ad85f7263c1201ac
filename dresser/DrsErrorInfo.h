#pragma once
// The script compiler's log: one process-wide DrsErrorInfo that the lexer,
// the parser and the driver report to through DrsSetErrorInfo.
//
// Each report names a DRS_LOG_CODE, a source line and an optional argument
// text (a name, a file, the expected token). The entry starts with the line
// as "%04d " ("---- " for line 0) and continues by the code's category:
//   plain error     "<message>\n"
//   error with arg  "<argument><message>\n"
//   warning         "<argument> <message>\n"
// (the message alone when the argument is null). Errors and warnings are
// counted apart. A report below DRS_LOG_INCLUDE with the same code as the
// report before it is counted but not written again, so a run of one error
// shows once. The message texts are Shift_JIS and come from the message
// file "DresserStringDef.bin" of the definition directory (a converter
// image whose node "DRS_ERROR_INFO" holds one text per code); without it
// every report only raises the error count.

#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class AtrNode;

enum DRS_LOG_CODE : int32_t {
    DRS_LOG_SYNTAX = 0,               // unexpected character or token, misplaced directive
    DRS_LOG_UNUSED_1 = 1,
    DRS_LOG_UNUSED_2 = 2,
    DRS_LOG_NO_SOURCE = 3,            // arg: source file missing or empty
    DRS_LOG_UNUSED_4 = 4,
    DRS_LOG_UNUSED_5 = 5,
    DRS_LOG_NAME_TOO_LONG = 6,        // name longer than 47 characters
    DRS_LOG_UNDEFINED_VARIABLE = 7,   // arg: variable name
    DRS_LOG_BAD_DECLARATION = 8,      // malformed variable declaration
    DRS_LOG_DUPLICATE_NAME = 9,       // arg: label, module, variable or parameter defined twice
    DRS_LOG_EXPECTED = 10,            // arg: the missing token "(", ";", ":", "{" or "["
    DRS_LOG_BAD_NUMBER = 11,          // misplaced 'f' in a number
    DRS_LOG_BAD_OPERATOR = 12,        // operator not allowed here
    DRS_LOG_MISPLACED = 13,           // arg: "break", "case", "default", ":" or "goto" outside its construct
    DRS_LOG_UNUSED_14 = 14,
    DRS_LOG_UNDEFINED_LABEL = 15,     // arg: goto target without a label
    DRS_LOG_UNUSED_16 = 16,
    DRS_LOG_LABEL_PLACE = 17,         // label not at the top level of a module body
    DRS_LOG_CONTINUE_OUTSIDE = 18,    // continue outside a loop
    DRS_LOG_UNUSED_19 = 19,
    DRS_LOG_UNMATCHED_PAREN = 20,     // unmatched )
    DRS_LOG_UNMATCHED_BRACE = 21,     // unmatched }
    DRS_LOG_UNMATCHED_BRACKET = 22,   // unmatched ]
    DRS_LOG_UNTERMINATED_COMMENT = 23,
    DRS_LOG_PARAMETER_END = 24,       // end of text inside a module parameter list
    DRS_LOG_UNCLOSED_BRACE = 25,      // { not closed at the end of the text
    DRS_LOG_UNUSED_26 = 26,
    DRS_LOG_UNTERMINATED_STRING = 27,
    DRS_LOG_NO_MEMORY = 28,
    DRS_LOG_UNUSED_29 = 29,
    DRS_LOG_SEMICOLON_IN_ARGS = 30,   // ; inside an argument list
    DRS_LOG_ARG_COUNT = 31,           // arg: callee with a wrong number of arguments
    DRS_LOG_UNKNOWN_CONSTANT = 32,    // arg: unknown built-in constant
    DRS_LOG_BAD_EXPRESSION = 33,
    DRS_LOG_FILE_NOT_FOUND = 34,      // arg: include or instruction file
    DRS_LOG_BAD_INCLUDE = 35,         // arg: malformed "#include" or include failure
    DRS_LOG_INSTDEF_FAILED = 36,      // "#instdef" failed
    DRS_LOG_MODULE_FAILED = 37,       // module failed to compile (after the specific error)
    DRS_LOG_MODULE_NAME = 38,         // module name expected after "module"
    DRS_LOG_MODULE_IN_BLOCK = 39,
    DRS_LOG_UNDEFINED_MODULE = 40,    // arg: called module name
    DRS_LOG_UNUSED_41 = 41,
    DRS_LOG_ELSE_WITHOUT_IF = 42,
    DRS_LOG_BAD_INITIALIZER = 43,     // global initializer is not a single constant
    DRS_LOG_TOO_MANY_STRINGS = 44,    // more than 65534 strings, or too many constants
    DRS_LOG_BAD_ENUM = 45,            // malformed enumeration
    DRS_LOG_ASSIGN_IN_CONDITION = 46, // assignment inside an if or switch condition
    DRS_LOG_SWITCH_DEPTH = 47,        // switches nested 32 deep
    DRS_LOG_CASE_VALUE = 48,          // case value is not an integer constant
    DRS_LOG_CONSTRUCT_DEPTH = 49,     // constructs nested 255 deep
    DRS_LOG_EXPRESSION_DEPTH = 50,    // more than 8 pending operands
    DRS_LOG_INCLUDE = 51,             // warning, arg: file included
    DRS_LOG_INCLUDE_ERRORS = 52,      // warning, arg: errors in an included file
    DRS_LOG_LINE_LIMIT = 53,          // warning: line counter exhausted
    DRS_LOG_ASSIGN_WARNING = 54,      // warning: assignment inside a condition
    DRS_LOG_CODE_NUM = 55,
};

enum DRS_LOG_CATEGORY : int32_t {
    DRS_LOG_CATEGORY_ERROR = 0,     // "<message>"
    DRS_LOG_CATEGORY_ERROR_ARG = 1, // "<argument><message>"
    DRS_LOG_CATEGORY_WARNING = 2,   // "<argument> <message>"
};

// The category of a code (codes outside the table: plain error).
LUMIVOR_EXPORT DRS_LOG_CATEGORY DrsGetLogCategory(int32_t code);

class LUMIVOR_EXPORT DrsErrorInfo : public CvkBase {
public:
    // Loads directory + "DresserStringDef.bin"; without a directory, a
    // readable file or its "DRS_ERROR_INFO" node the Error flag is set.
    explicit DrsErrorInfo(const char* directory);
    ~DrsErrorInfo() override;
    DrsErrorInfo(const DrsErrorInfo&) = delete;
    DrsErrorInfo& operator=(const DrsErrorInfo&) = delete;

    void SetErrorInfo(int32_t code, int32_t line, const char* text);
    int32_t GetErrorCount() const { return m_errorCount; }
    int32_t GetWarningCount() const { return m_warningCount; }
    int32_t GetLogCount() const { return m_errorCount + m_warningCount; }
    CvString* GetErrorLog() { return &m_log; }
    const CvString& GetMessageFilePath() const { return m_path; }
    // The message text of a code, or null.
    const char* GetMessage(int32_t code) const;
    // Installs a message tree (taken over; null removes it) in place of the
    // file's, clearing or setting the Error flag accordingly.
    void SetMessageTree(AtrNode* tree);

private:
    AtrNode* _messageNode() const;

    CvString m_log;
    AtrNode* m_messages;
    CvString m_path;
    int32_t m_lastCode;
    int32_t m_errorCount;
    int32_t m_warningCount;
};

// The name of the message file inside the definition directory.
#define DRS_MESSAGE_FILE_NAME "DresserStringDef.bin"
// The node of the message file that holds the texts.
#define DRS_MESSAGE_NODE_NAME "DRS_ERROR_INFO"

// The process-wide log.
// Replaces the current log by a new one for `directory` (may be null).
LUMIVOR_EXPORT void DrsInitErrorInfo(const char* directory);
LUMIVOR_EXPORT void DrsExitErrorInfo();
// Nothing without a log.
LUMIVOR_EXPORT void DrsSetErrorInfo(int32_t code, int32_t line, const char* text);
// Errors, or -1 without a log.
LUMIVOR_EXPORT int32_t DrsGetErrorCount();
// Errors and warnings, or -1 without a log.
LUMIVOR_EXPORT int32_t DrsGetLogCount();
// The log text, or null without a log.
LUMIVOR_EXPORT CvString* DrsGetErrorLog();
// The current log object, or null.
LUMIVOR_EXPORT DrsErrorInfo* DrsGetErrorInfo();
