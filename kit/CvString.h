#pragma once
// CvString: the kit's one string type.
//
// An 8-bit, NUL-terminated text (Shift_JIS code page 932 or plain ASCII)
// whose bytes live in a reference-counted CvStringValue shared by every copy.
// Copies and assignments between strings only share the value; the first
// change through one of the holders gives it a private value (copy-on-write).
// The empty string is always a null value.
//
// Values and their character arrays come from the buffer heap slot, tagged
// "cvk_string". A string that itself lives in an arena's memory (a name or
// value of an attribute tree) holds only values of that arena: copies share a
// value only on the same side of that line and take a private copy across
// it, so an arena can be released without visiting its strings. When memory
// runs out the operation leaves the string empty (construction, Assign) or
// unchanged (Append, formatting, Reserve). Nothing throws.
//
// Capacity rule: for a wanted size n (text length or requested reserve) the
// array holds 32 bytes when n < 32, else the smallest power of two strictly
// greater than n, at least 64. Capacity() reports that minus the terminator.
//
// Offsets are byte offsets. Left/Right/Middle/Insert/Remove* work on bytes;
// searching and case changes walk Shift_JIS characters, so the trail byte of
// a double-byte character is never taken for a character of its own.

#include "kit/CvkAllocator.h"
#include "platform/PlatformExport.h"

#include <cstdarg>
#include <cstdint>

class CvkArena;

// One shared text. Both the record and `text` come from the buffer heap, or
// for a string that lives in an arena (CvkArena.h) from one block of that
// arena, `text` right behind the record.
struct CvStringValue {
    int32_t capacity; // bytes of `text`, terminator included
    int32_t length;   // bytes of text, terminator excluded
    int32_t refCount; // strings holding this value
    int32_t copySlot; // arena values: the slot of the arena's copy cache that holds it, else -1
    char* text;       // NUL-terminated at `length`
    CvkArena* arena;  // the arena of the block, null for a heap value
};

class LUMIVOR_EXPORT CvString : public CvkAllocator {
public:
    CvString() : value(nullptr) {}
    CvString(const CvString& other);
    // The copy for a string placed in `home` (the arena of this string's own
    // memory, null outside arenas): the same value as the plain copy, without
    // looking up where this string lives. For containers that place their
    // strings themselves.
    CvString(const CvString& other, CvkArena* home) : value(other.value)
    {
        if (value != nullptr && value->arena == home) {
            ++value->refCount; // the common case, kept inline: the same arena
        } else {
            value = _copyFor(value, home);
        }
#ifndef NDEBUG
        _checkHome(home);
#endif
    }
    CvString(int32_t count, char ch);
    CvString(const char* begin, const char* end);
    // length < 1: up to the terminator. Null or empty text: empty string.
    CvString(const char* text, int32_t length = 0);
    CvString(const char* text, int32_t start, int32_t end);
    virtual ~CvString();

    CvString& Assign(const CvString& other);
    CvString& Assign(int32_t count, char ch);
    CvString& Assign(const char* begin, const char* end);
    CvString& Assign(const char* text, int32_t length = 0);
    CvString& Assign(const char* text, int32_t start, int32_t end);
    // A value of [begin, end) made in `arena` (null: the buffer heap) rather
    // than where this string lives: for a cache of texts that it hands to the
    // strings of one arena. The holder lets go of such a value before the
    // arena is released. Empty when memory runs out.
    CvString& AssignIn(CvkArena* arena, const char* begin, const char* end);
    CvString& operator=(const CvString& other);
    CvString& operator=(const char* text);

    // Reading never unshares the value.
    int32_t GetLength() const { return value != nullptr ? value->length : 0; }
    int32_t Capacity() const;
    char* GetBuffer() const { return value != nullptr ? value->text : s_emptyText; }
    operator char*() const { return GetBuffer(); }
    // The byte at i, or 0 outside [0, length).
    char operator[](int32_t i) const;

    CvString& Append(const CvString& other);
    CvString& Append(int32_t count, char ch);
    CvString& Append(const char* begin, const char* end);
    CvString& Append(const char* text, int32_t length = 0);
    CvString& Append(const char* text, int32_t start, int32_t end);
    CvString& operator+=(const CvString& other);
    CvString& operator+=(const char* text);

    // printf-style expansion replacing (Format) or extending (AppendFormat)
    // the text.
    void Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* fmt, va_list args) __attribute__((format(printf, 2, 0)));
    void AppendFormat(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void AppendFormatV(const char* fmt, va_list args) __attribute__((format(printf, 2, 0)));

    void Erase();
    void Insert(int32_t pos, const char* text);
    CvString Left(int32_t n) const;
    CvString Right(int32_t n) const;
    CvString Middle(int32_t start, int32_t count) const;
    void RemoveLeft(int32_t n);
    void RemoveRight(int32_t n);
    void Reserve(int32_t n);
    void MakeLower();
    void MakeUpper();
    // Half-width ASCII and katakana to their full-width double-byte forms.
    void MakeSJIS();
    // Replaces every occurrence of `from` by `to` (left to right, never
    // overlapping, replaced text not searched again). An empty `from` leaves
    // the string unchanged.
    void Permute(const char* from, const char* to);

    // Byte offset of the first/last character match, -1 when none.
    int32_t Find(char ch, int32_t start = 0) const;
    int32_t Find(const char* text, int32_t start = 0) const;
    int32_t ReverseFind(char ch) const;
    int32_t ReverseFind(const char* text) const;

    // strcmp ordering of the texts (the empty string compares as "").
    int32_t Compare(const char* text) const;

private:
    // What GetBuffer gives for the empty string.
    static char s_emptyText[1];
    // The value a string in `home` takes as a copy of `v` (CvString.cpp).
    static CvStringValue* _copyFor(CvStringValue* v, CvkArena* home);
    // Asserts that `home` is where this string lives (a no-op under NDEBUG).
    void _checkHome(CvkArena* home) const;
    void _release();
    // Private writable value for a text of newLength bytes; keeps the old
    // text. False (string unchanged) when no memory.
    bool _prepareWrite(int32_t newLength);
    void _appendBytes(const char* src, int32_t length);
    void _assignBytes(const char* src, int32_t length);
    void _appendFormatV(const char* fmt, va_list args, bool replace);

    CvStringValue* value;
};

LUMIVOR_EXPORT CvString operator+(const CvString& a, const CvString& b);
LUMIVOR_EXPORT CvString operator+(const CvString& a, const char* b);
LUMIVOR_EXPORT CvString operator+(const char* a, const CvString& b);

inline bool operator==(const CvString& a, const CvString& b) { return a.Compare(b.GetBuffer()) == 0; }
inline bool operator==(const CvString& a, const char* b) { return a.Compare(b) == 0; }
inline bool operator==(const char* a, const CvString& b) { return b.Compare(a) == 0; }
inline bool operator!=(const CvString& a, const CvString& b) { return a.Compare(b.GetBuffer()) != 0; }
inline bool operator!=(const CvString& a, const char* b) { return a.Compare(b) != 0; }
inline bool operator!=(const char* a, const CvString& b) { return b.Compare(a) != 0; }
inline bool operator<(const CvString& a, const CvString& b) { return a.Compare(b.GetBuffer()) < 0; }
inline bool operator<(const CvString& a, const char* b) { return a.Compare(b) < 0; }
inline bool operator<(const char* a, const CvString& b) { return b.Compare(a) > 0; }
inline bool operator>(const CvString& a, const CvString& b) { return a.Compare(b.GetBuffer()) > 0; }
inline bool operator>(const CvString& a, const char* b) { return a.Compare(b) > 0; }
inline bool operator>(const char* a, const CvString& b) { return b.Compare(a) < 0; }
inline bool operator<=(const CvString& a, const CvString& b) { return a.Compare(b.GetBuffer()) <= 0; }
inline bool operator<=(const CvString& a, const char* b) { return a.Compare(b) <= 0; }
inline bool operator<=(const char* a, const CvString& b) { return b.Compare(a) >= 0; }
inline bool operator>=(const CvString& a, const CvString& b) { return a.Compare(b.GetBuffer()) >= 0; }
inline bool operator>=(const CvString& a, const char* b) { return a.Compare(b) >= 0; }
inline bool operator>=(const char* a, const CvString& b) { return b.Compare(a) <= 0; }
