// The directives: "#include", "#instdef", "#define", "#name" and "enum".
#include "attribute/AtrConverter.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "dresser/DrsErrorInfo.h"
#include "dresser/DrsLexScan.h"
#include "kit/CvkFile.h"
#include "kit/CvkHeap.h"
#include "kit/CvkStringCharClass.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// True when `p` starts with the directive word followed by a space or tab.
bool IsDirective(const char* p, const char* word)
{
    const size_t n = std::strlen(word);
    return std::strncmp(p, word, n) == 0 && (p[n] == ' ' || p[n] == '\t');
}

int32_t SkipSpaces(const char* p, int32_t i)
{
    while (p[i] == ' ' || p[i] == '\t') {
        ++i;
    }
    return i;
}

// A search path joined with a file name: '/' when the path uses it, else '\'
// (which the file layer maps), nothing when either side brings its own.
CvString JoinPath(const CvString& path, const CvString& name)
{
    const char last = path.GetLength() > 0 ? path[path.GetLength() - 1] : '\0';
    const char first = name[0];
    CvString joined(path);
    if (last != '\\' && last != '/' && first != '\\' && first != '/') {
        joined += path.Find('/') >= 0 ? "/" : "\\";
    }
    joined += name;
    return joined;
}

// A whole file read through the kit into a NUL-terminated buffer.
struct FileText {
    CvkFile* file = nullptr;
    char* text = nullptr;
    uint32_t size = 0;

    ~FileText() { delete file; }

    bool Read(const CvString& path)
    {
        delete file;
        file = new CvkFile(path.GetBuffer());
        text = nullptr;
        if (file != nullptr && file->ReadFile(nullptr, 0, 0)) {
            text = static_cast<char*>(file->GetBuffer());
            size = file->ThreadGetSize();
        }
        return text != nullptr;
    }
};

// An instruction definition: a converter image when it starts with "ATRB",
// else attribute text.
AtrNode* ReadDefinitionTree(FileText& file)
{
    if (file.size >= 4 && std::memcmp(file.text, "ATRB", 4) == 0) {
        AtrConverter converter;
        return converter.CreateTree(file.text, file.size);
    }
    AtrParser parser;
    return parser.CreateTreeFromText(file.text, nullptr);
}

// Opens the file as named, then in each include path in order.
bool FindFile(const _drsIncludePath* paths, const CvString& name, FileText& out)
{
    if (out.Read(name)) {
        return true;
    }
    for (const _drsIncludePath* entry = paths; entry != nullptr; entry = entry->next) {
        if (out.Read(JoinPath(entry->path, name))) {
            return true;
        }
    }
    return false;
}

} // namespace

bool DrsLexScan::_allDepthsZero() const
{
    return m_lexer.m_parenDepth == 0 && m_lexer.m_braceDepth == 0 && m_lexer.m_bracketDepth == 0;
}

int32_t DrsLexScan::Directive(const char* p)
{
    if (p[0] == 'e') {
        return std::strncmp(p, "enum", 4) == 0 && (p[4] == ' ' || p[4] == '\t' || p[4] == '{') ? Enum(p) : 0;
    }
    if (p[0] != '#') {
        return 0;
    }
    if (IsDirective(p, "#include")) {
        return Include(p);
    }
    if (IsDirective(p, "#instdef")) {
        return InstDef(p);
    }
    if (IsDirective(p, "#define")) {
        return Define(p);
    }
    if (IsDirective(p, "#name")) {
        return NameDirective(p);
    }
    return 0;
}

// The quoted file name of "#include" and "#instdef": its length and where
// it starts, or -1 when it is not well formed.
static int32_t QuotedName(const char* p, int32_t i, int32_t* start)
{
    i = SkipSpaces(p, i);
    if (p[i] != '"') {
        return -1;
    }
    *start = ++i;
    while (p[i] != '"') {
        if (p[i] == '\0' || p[i] == '\n' || p[i] == '\r' || p[i] == '\t') {
            return -1;
        }
        ++i;
    }
    return i - *start;
}

// A directive that cannot be carried out marks the lexer in error; the scan
// goes on.
int32_t DrsLexScan::_directiveFailed(int32_t code, int32_t line, const char* text)
{
    Report(code, line, text);
    m_lexer.SetError();
    return 0;
}

int32_t DrsLexScan::Include(const char* p)
{
    if (!_allDepthsZero()) {
        return Fail(DRS_LOG_SYNTAX);
    }
    int32_t start = 0;
    const int32_t length = QuotedName(p, 8, &start);
    if (length < 0) {
        return _directiveFailed(DRS_LOG_BAD_INCLUDE, Line(), "#include");
    }
    const CvString name(p + start, p + start + length);
    if (m_lexer.m_includeDepth + 1 >= DRS_INCLUDE_DEPTH_MAX) {
        return _directiveFailed(DRS_LOG_BAD_INCLUDE, Line(), name.GetBuffer());
    }
    FileText file;
    if (!FindFile(m_tables.includePaths, name, file)) {
        return _directiveFailed(DRS_LOG_FILE_NOT_FOUND, Line(), name.GetBuffer());
    }
    Report(DRS_LOG_INCLUDE, 0, name.GetBuffer());
    const int32_t errorsBefore = ErrorCount();
    if (!_lexIncluded(file.text)) {
        return _directiveFailed(DRS_LOG_NO_MEMORY, Line(), nullptr);
    }
    if (ErrorCount() > errorsBefore) {
        return _directiveFailed(DRS_LOG_INCLUDE_ERRORS, 0, name.GetBuffer());
    }
    return start + length + 1;
}

// Lexes an included text with a lexer of its own and appends its tokens to
// this lexer's chain; false when that lexer cannot be made.
bool DrsLexScan::_lexIncluded(const char* text)
{
    auto* child = new DrsLexer(&m_lexer);
    if (child == nullptr || child->CheckError()) {
        delete child;
        return false;
    }
    // The included text's reals take the same form as the includer's: a
    // fixed-point script must not get float constants from its includes.
    const DrsCompileOption childOption{0, m_lexer.m_fixedShift, 0, 0};
    child->CreateToken(text, &childOption);
    if (m_lexer.m_first == nullptr) {
        m_lexer.m_first = child->m_first;
    }
    m_lexer.m_last = child->m_last;
    delete child;
    return true;
}

int32_t DrsLexScan::InstDef(const char* p)
{
    if (!_allDepthsZero()) {
        return Fail(DRS_LOG_SYNTAX);
    }
    int32_t start = 0;
    const int32_t length = QuotedName(p, 8, &start);
    if (length < 0 || !_registerInstructions(CvString(p + start, p + start + length))) {
        return _directiveFailed(DRS_LOG_INSTDEF_FAILED, Line(), nullptr);
    }
    return start + length + 1;
}

// Reads an instruction definition file (converter image or attribute text)
// and registers its instructions; a file that is not found is reported.
bool DrsLexScan::_registerInstructions(const CvString& name)
{
    FileText file;
    if (!FindFile(m_tables.includePaths, name, file)) {
        Report(DRS_LOG_FILE_NOT_FOUND, Line(), name.GetBuffer());
        return false;
    }
    AtrNode* tree = ReadDefinitionTree(file);
    const bool done = m_lexer.RegistInstruction(tree) != 0;
    AtrNodeDestroyChain(tree);
    return done;
}

// #define NAME VALUE: the value runs to the end of the line or to a comment,
// which is left for the comment scanner.
int32_t DrsLexScan::Define(const char* p)
{
    if (!_allDepthsZero()) {
        return Fail(DRS_LOG_SYNTAX);
    }
    const int32_t nameStart = SkipSpaces(p, 7);
    int32_t i = nameStart;
    while (p[i] != ' ' && p[i] != '\t' && p[i] != '\0' && p[i] != '\n' && p[i] != '\r') {
        ++i;
    }
    const int32_t nameLength = i - nameStart;
    const int32_t valueStart = SkipSpaces(p, i);
    i = valueStart;
    while (p[i] != '\0' && p[i] != '\n' && p[i] != '\r' && !(p[i] == '/' && (p[i + 1] == '/' || p[i + 1] == '*'))) {
        ++i;
    }
    int32_t valueEnd = i;
    while (valueEnd > valueStart && (p[valueEnd - 1] == ' ' || p[valueEnd - 1] == '\t')) {
        --valueEnd;
    }
    if (nameLength == 0 || valueEnd == valueStart) {
        return Fail(DRS_LOG_SYNTAX);
    }
    if (!AddDefine(p + nameStart, nameLength, p + valueStart, valueEnd - valueStart)) {
        return Fail(DRS_LOG_NO_MEMORY);
    }
    // The line break that ends the directive is part of it.
    if (p[i] == '\r' && p[i + 1] == '\n') {
        i += 2;
        NewLine();
    } else if (p[i] == '\n') {
        i += 1;
        NewLine();
    }
    return i;
}

bool DrsLexScan::AddDefine(const char* name, int32_t nameLength, const char* value, int32_t valueLength)
{
    void* place = t_cvkSystemHeapAlloc(sizeof(_drsDefineList), 0, __FILE__, __LINE__);
    if (place == nullptr) {
        return false;
    }
    auto* entry = new (place)
        _drsDefineList{CvString(name, name + nameLength), CvString(value, value + valueLength), m_tables.defines};
    if (entry->name.GetLength() != nameLength || entry->value.GetLength() != valueLength ||
        !m_tables.defineNames.Insert(entry->name.GetBuffer(), entry, true)) {
        entry->~_drsDefineList();
        t_cvkSystemHeapFree(place, __FILE__, __LINE__);
        return false;
    }
    m_tables.defines = entry;
    return true;
}

int32_t DrsLexScan::NameDirective(const char* p)
{
    (void)p;
    if (!_allDepthsZero()) {
        return Fail(DRS_LOG_SYNTAX);
    }
    AddToken(DRS_TOKEN_NAME_DIRECTIVE);
    return 5;
}

// Skips blanks and comments inside an enumeration, counting its lines; -1
// when a comment is not closed.
static int32_t SkipEnumBlanks(DrsLexScan& scan, const char* p, int32_t i)
{
    for (;;) {
        const char c = p[i];
        if (c == '\n') {
            scan.NewLine();
            ++i;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '\'' || (c == '/' && p[i + 1] == '/')) {
            const char* lf = std::strchr(p + i, '\n');
            if (lf == nullptr) {
                return -1;
            }
            i = static_cast<int32_t>(lf - p);
        } else if (c == '/' && p[i + 1] == '*') {
            int32_t depth = 0;
            do {
                if (p[i] == '\0') {
                    return -1;
                }
                if (p[i] == '/' && p[i + 1] == '*') {
                    ++depth;
                    i += 2;
                } else if (p[i] == '*' && p[i + 1] == '/') {
                    --depth;
                    i += 2;
                } else {
                    if (p[i] == '\n') {
                        scan.NewLine();
                    }
                    ++i;
                }
            } while (depth > 0);
        } else {
            return i;
        }
    }
}

// enum { NAME [= [+|-]DIGITS], ... };  Each entry becomes a define of its
// value's decimal text; the counter runs on from the last explicit value.
int32_t DrsLexScan::Enum(const char* p)
{
    if (m_lexer.m_parenDepth != 0 || m_lexer.m_bracketDepth != 0) {
        return Fail(DRS_LOG_SYNTAX);
    }
    int32_t i = SkipEnumBlanks(*this, p, 4);
    if (i < 0 || p[i] != '{') {
        return _enumFailed(false);
    }
    ++m_lexer.m_braceDepth;
    i = SkipEnumBlanks(*this, p, i + 1);
    uint32_t counter = 0;
    while (i >= 0 && p[i] != '}') {
        const int32_t nameStart = i;
        while (CvkCharIsSymbol(p[i])) {
            ++i;
        }
        const int32_t nameLength = i - nameStart;
        i = nameLength > 0 ? SkipEnumBlanks(*this, p, i) : -1;
        if (i >= 0 && p[i] == '=') {
            i = SkipEnumBlanks(*this, p, i + 1);
            i = i >= 0 ? _enumValue(p, i, &counter) : -1;
        }
        if (i < 0) {
            break;
        }
        char text[16];
        const int32_t textLength = std::snprintf(text, sizeof(text), "%d", static_cast<int32_t>(counter));
        if (!AddDefine(p + nameStart, nameLength, text, textLength)) {
            --m_lexer.m_braceDepth;
            return Fail(DRS_LOG_NO_MEMORY);
        }
        ++counter;
        i = SkipEnumBlanks(*this, p, i);
        if (i >= 0 && p[i] == ',') {
            i = SkipEnumBlanks(*this, p, i + 1);
            if (i >= 0 && p[i] == '}') {
                i = -1; // a comma must be followed by an entry
            }
        } else if (i >= 0 && p[i] != '}') {
            i = -1;
        }
    }
    --m_lexer.m_braceDepth;
    if (i < 0) {
        return _enumFailed(false);
    }
    if (p[i + 1] != ';') {
        return _enumFailed(true);
    }
    return i + 2;
}

// An explicit value: optional sign and decimal digits, directly followed by
// ',' or '}'. Returns the position after the digits, or -1.
int32_t DrsLexScan::_enumValue(const char* p, int32_t i, uint32_t* counter)
{
    const bool negative = p[i] == '-';
    if (p[i] == '+' || p[i] == '-') {
        ++i;
    }
    const int32_t digits = i;
    uint32_t value = 0;
    while (CvkCharIsNumber(p[i])) {
        value = value * 10 + static_cast<uint32_t>(p[i] - '0');
        ++i;
    }
    if (i == digits || (p[i] != ',' && p[i] != '}')) {
        return -1;
    }
    *counter = negative ? 0u - value : value;
    return i;
}

int32_t DrsLexScan::_enumFailed(bool missingSemicolon)
{
    if (missingSemicolon) {
        Report(DRS_LOG_EXPECTED, Line(), ";");
    }
    return Fail(DRS_LOG_BAD_ENUM);
}
