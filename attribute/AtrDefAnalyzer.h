#pragma once
// AtrDefAnalyzer: the named constants that attribute texts may use as
// values, read from the C enum headers that the product's embedded code
// compiles.
//
// A header is scanned one character at a time: blanks and comments are
// skipped at every step, "#define" is stepped over (it defines nothing), and
// wherever the four letters "enum" stand under the cursor and are followed
// by an optional tag and '{', the enumeration up to its '}' is read. Every enumerator becomes a signed
// 32-bit constant with the value a C compiler with a 32-bit int gives it:
// C's operators and precedence, int and unsigned int literals (decimal,
// octal with a leading 0, hexadecimal with 0x; U and L suffixes) and C's
// usual conversions. Where C leaves a result undefined the value is fixed:
// division by 0 gives 0, INT_MIN / -1 gives INT_MIN (remainder 0), shift
// counts are taken modulo 32, signed overflow wraps.
//
// Anything C would not accept as a constant expression (an unknown name, a
// comparison, an assignment, a character literal, an unbalanced
// parenthesis, an entry without a name...) makes the definition fail. The OK
// flag then falls to 0 and never comes back to 1; the Error flag is set.
//
// Constants are kept as a chain of AtrAttributes, newest first (a later
// definition of a name hides the earlier one), indexed by a hash of their
// names so that lookups take constant time.
#include "attribute/AtrAttribute.h"
#include "attribute/AtrDefNode.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstddef>
#include <cstdint>

class LUMIVOR_EXPORT AtrDefAnalyzer : public CvkBase {
public:
    AtrDefAnalyzer();
    ~AtrDefAnalyzer() override;
    AtrDefAnalyzer(const AtrDefAnalyzer&) = delete;
    AtrDefAnalyzer& operator=(const AtrDefAnalyzer&) = delete;

    // Reads the header file `path` (environment names expanded) and adds its
    // enumerators. Returns the OK flag. An empty or missing file adds nothing
    // and leaves the flag as it is; a file object that cannot be made fails.
    int32_t AddConstantDefinition(const char* path);
    // The same scan over a NUL-terminated text in memory.
    int32_t AddConstantDefinitionText(const char* text);
    // Adds one constant in front of the chain (hiding an older one of that
    // name). A failed allocation sets the Error flag.
    void AddConstantDefinition(const char* name, int32_t value);

    // 1 when a constant of exactly that name (case-sensitive) exists.
    int32_t IsParam(const char* name) const;
    // The newest value of `name`; an unknown name gives 0 and the OK flag
    // falls to 0.
    int32_t GetParam(const char* name);
    // 1 and *value when the `length` bytes at `name` name a constant, else 0
    // (nothing changes: a lookup for the text parser).
    int32_t FindParam(const char* name, size_t length, int32_t* value) const;

    int32_t GetOk() const { return ok; }
    // The newest constant; follow AtrAttribute::GetNext() to the oldest.
    const AtrAttribute* GetConstant() const { return constants; }

private:
    // The name's bytes and length sit in the slot, so that a lookup touches
    // the constant only when it is found.
    struct IndexSlot {
        uint32_t hash;
        uint32_t length;
        const char* name;
        AtrAttribute* constant;
    };

    // Marks the failure of a definition: the OK flag falls, Error is set.
    int32_t _fail();
    // The scan of a whole text; 0 on failure.
    int32_t _readDefinitions(const char* text);
    // One enumeration from behind "enum" when a '{' follows (behind an
    // optional tag); the cursor on its '}' (or left where it was when this
    // "enum" opens no definition), null on failure.
    const char* _readEnumeration(const char* p);
    // One entry at p (a name, maybe "= value"); the cursor on the ',' or
    // '}' behind it, null on failure. `counter` is the implicit value.
    const char* _readEntry(const char* p, int32_t* counter);
    // The value text [begin, end) evaluated as C does; 0 on failure.
    int32_t _evaluate(const char* begin, const char* end, int32_t* value);
    // Cuts the value text into m_tokens (ended by an end token).
    int32_t _tokenize(const char* begin, const char* end);
    // Combines the tokens by precedence into one number.
    int32_t _combine(int32_t* value);

    IndexSlot* _findSlot(const char* name, size_t length, uint32_t hash) const;
    int32_t _indexConstant(AtrAttribute* constant);
    int32_t _growIndex();

    AtrAttribute* constants;
    int32_t ok;
    IndexSlot* m_index;
    uint32_t m_indexCapacity;   // a power of two, or 0
    uint32_t m_indexCount;
    AtrDefToken* m_tokens;      // the tokens of the value being evaluated
    uint32_t m_tokenCapacity;
};
