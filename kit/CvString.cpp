#include "kit/CvString.h"

#include "kit/CvStringIteratorSJIS.h"
#include "kit/CvkArena.h"
#include "kit/CvkHeap.h"

#include <cassert>
#include <cstdio>
#include <cstring>

namespace {

const char kSourceTag[] = "cvk_string";

// Largest capacity the signed 32-bit field can hold under the power-of-two rule.
constexpr int32_t kMaxCapacity = 0x40000000;

// Capacity for a wanted size n (see the header); -1 when too large.
int32_t CapacityFor(int32_t n)
{
    if (n < 32) {
        return 32;
    }
    if (n >= kMaxCapacity) {
        return -1;
    }
    int32_t c = 64;
    while (c <= n) {
        c <<= 1;
    }
    return c;
}

// A private value of length 0 with capacity for n bytes, made in `arena`
// (null: the buffer heap); null when there is no memory.
CvStringValue* NewValueIn(int32_t n, CvkArena* arena)
{
    const int32_t capacity = CapacityFor(n);
    if (capacity < 0) {
        return nullptr;
    }
    CvStringValue* v;
    char* text;
    if (arena != nullptr) {
        v = static_cast<CvStringValue*>(arena->Alloc(sizeof(CvStringValue) + static_cast<size_t>(capacity)));
        if (v == nullptr) {
            return nullptr;
        }
        text = reinterpret_cast<char*>(v + 1);
    } else {
        v = static_cast<CvStringValue*>(
            t_cvkBufferHeapAlloc(sizeof(CvStringValue), alignof(CvStringValue), kSourceTag, __LINE__));
        if (v == nullptr) {
            return nullptr;
        }
        text = static_cast<char*>(t_cvkBufferHeapAlloc(static_cast<uint32_t>(capacity), 0, kSourceTag, __LINE__));
        if (text == nullptr) {
            t_cvkBufferHeapFree(v, kSourceTag, __LINE__);
            return nullptr;
        }
    }
    text[0] = 0;
    v->capacity = capacity;
    v->length = 0;
    v->refCount = 1;
    v->text = text;
    v->arena = arena;
    v->copySlot = -1;
    return v;
}

// The same where a string at `home` keeps its values (its arena, else the
// buffer heap).
CvStringValue* NewValue(int32_t n, const void* home) { return NewValueIn(n, CvkArenaOf(home)); }

// A private value holding the n bytes at src, made in `arena`, or null.
CvStringValue* NewValueFrom(const char* src, int32_t n, CvkArena* arena)
{
    CvStringValue* v = NewValueIn(n, arena);
    if (v != nullptr) {
        std::memcpy(v->text, src, static_cast<size_t>(n));
        v->text[n] = 0;
        v->length = n;
    }
    return v;
}

// copySlot k >= 0: the value is what slot k of its arena's copy cache holds
// as the copy of an outside value (such a value is never written in place).

void ReleaseValue(CvStringValue* v);

// Lets go of copy slot k of `arena` (its outside value is released).
void ForgetCopy(CvkArena* arena, int32_t k)
{
    CvkArena::CopySlot& slot = arena->CopySlots()[k];
    auto* from = static_cast<CvStringValue*>(slot.from);
    if (auto* copy = static_cast<CvStringValue*>(slot.copy)) {
        copy->copySlot = -1;
    }
    slot.from = slot.copy = nullptr;
    ReleaseValue(from);
}

void ReleaseValue(CvStringValue* v)
{
    if (v == nullptr || --v->refCount > 0) {
        return;
    }
    if (CvkArena* arena = v->arena) {
        if (v->copySlot >= 0) {
            ForgetCopy(arena, v->copySlot);
        }
        arena->Free(v, sizeof(CvStringValue) + static_cast<size_t>(v->capacity));
    } else {
        t_cvkBufferHeapFree(v->text, kSourceTag, __LINE__);
        t_cvkBufferHeapFree(v, kSourceTag, __LINE__);
    }
}

// An arena being released lets go of the outside values its cache holds.
void ForgetCopies(CvkArena* arena)
{
    CvkArena::CopySlot* slots = arena->CopySlotsIfAny();
    for (int32_t k = 0; slots != nullptr && k < CvkArena::kCopySlots; ++k) {
        if (slots[k].from != nullptr) {
            slots[k].copy = nullptr; // its memory goes with the arena
            ForgetCopy(arena, k);
        }
    }
}
const bool g_forgetCopiesHooked = (CvkArena::SetReleaseHook(&ForgetCopies), true);

// True when the string holding `v` may write it in place.
bool Exclusive(const CvStringValue* v)
{
    return v->refCount == 1 && v->copySlot < 0;
}

// The copy in `arena` of the outside value `v`: the cached one when `v` was
// copied in before, so that names copied in again and again share one value.
CvStringValue* CopyIntoArena(CvStringValue* v, CvkArena* arena)
{
    CvkArena::CopySlot* slots = arena->CopySlots();
    if (slots == nullptr) {
        return NewValueFrom(v->text, v->length, arena);
    }
    const auto k = static_cast<int32_t>(static_cast<uint32_t>((reinterpret_cast<uintptr_t>(v) >> 4) * 0x9E3779B1u) >>
                                        22) &
                   (CvkArena::kCopySlots - 1);
    CvkArena::CopySlot& slot = slots[k];
    if (slot.from == v) {
        auto* copy = static_cast<CvStringValue*>(slot.copy);
        ++copy->refCount;
        return copy;
    }
    CvStringValue* copy = NewValueFrom(v->text, v->length, arena);
    if (copy == nullptr) {
        return nullptr;
    }
    if (slot.from != nullptr) {
        ForgetCopy(arena, k);
    }
    ++v->refCount;
    slot.from = v;
    slot.copy = copy;
    copy->copySlot = k;
    return copy;
}

// The value a string in `here` (its arena, or null outside arenas) takes as
// a copy of `v`: `v` itself, shared, when both lie on the same side (the
// heap, or one arena); otherwise a private copy made on the string's side
// (null when there is no memory). The copy across the line stays out of line.
CvStringValue* CopyAcross(CvStringValue* v, CvkArena* here);

[[gnu::always_inline]] inline CvStringValue* ShareOrCopy(CvStringValue* v, CvkArena* here)
{
    if (v == nullptr) {
        return nullptr;
    }
    if (v->arena == here) {
        ++v->refCount;
        return v;
    }
    return CopyAcross(v, here);
}

[[gnu::noinline]] CvStringValue* CopyAcross(CvStringValue* v, CvkArena* here)
{
    if (v->arena == nullptr) {
        return CopyIntoArena(v, here);
    }
    return NewValueFrom(v->text, v->length, here);
}

// Byte length of a terminated text, or -1 beyond what a string can hold.
int32_t TextLength(const char* text)
{
    const size_t n = std::strlen(text);
    return n >= static_cast<size_t>(kMaxCapacity) ? -1 : static_cast<int32_t>(n);
}

// Width in bytes of the Shift_JIS character at t[i] of a text of len bytes;
// a lead byte without a following byte counts as one.
int32_t CharWidth(const uint8_t* t, int32_t len, int32_t i)
{
    return CvkStringIsSJISLead(t[i]) && i + 1 < len && t[i + 1] != 0 ? 2 : 1;
}

// First character offset >= start of a text of len bytes at which the pattern
// [pat, pat + patLen) matches; -1 when none. The walk ends at a NUL byte as
// the iterator's does.
int32_t FindText(const char* text, int32_t len, const char* pat, int32_t patLen, int32_t start)
{
    const auto* t = reinterpret_cast<const uint8_t*>(text);
    for (int32_t i = 0; i < len && t[i] != 0; i += CharWidth(t, len, i)) {
        if (i >= start && patLen <= len - i && std::memcmp(text + i, pat, static_cast<size_t>(patLen)) == 0) {
            return i;
        }
    }
    return -1;
}

// Full-width forms of 0x20-0x7F (code page 932).
const uint16_t kWideAscii[96] = {
    0x8140, 0x8149, 0xFA57, 0x8194, 0x8190, 0x8193, 0x8195, 0xFA56,  // 　 ！ ＂ ＃ ＄ ％ ＆ ＇
    0x8169, 0x816A, 0x8196, 0x817B, 0x8143, 0x817C, 0x8144, 0x815E,  // （ ） ＊ ＋ ， － ． ／
    0x824F, 0x8250, 0x8251, 0x8252, 0x8253, 0x8254, 0x8255, 0x8256,  // ０ １ ２ ３ ４ ５ ６ ７
    0x8257, 0x8258, 0x8146, 0x8147, 0x8183, 0x8181, 0x8184, 0x8148,  // ８ ９ ： ； ＜ ＝ ＞ ？
    0x8197, 0x8260, 0x8261, 0x8262, 0x8263, 0x8264, 0x8265, 0x8266,  // ＠ Ａ Ｂ Ｃ Ｄ Ｅ Ｆ Ｇ
    0x8267, 0x8268, 0x8269, 0x826A, 0x826B, 0x826C, 0x826D, 0x826E,  // Ｈ Ｉ Ｊ Ｋ Ｌ Ｍ Ｎ Ｏ
    0x826F, 0x8270, 0x8271, 0x8272, 0x8273, 0x8274, 0x8275, 0x8276,  // Ｐ Ｑ Ｒ Ｓ Ｔ Ｕ Ｖ Ｗ
    0x8277, 0x8278, 0x8279, 0x816D, 0x818F, 0x816E, 0x814F, 0x8151,  // Ｘ Ｙ Ｚ ［ ￥ ］ ＾ ＿
    0x814D, 0x8281, 0x8282, 0x8283, 0x8284, 0x8285, 0x8286, 0x8287,  // ｀ ａ ｂ ｃ ｄ ｅ ｆ ｇ
    0x8288, 0x8289, 0x828A, 0x828B, 0x828C, 0x828D, 0x828E, 0x828F,  // ｈ ｉ ｊ ｋ ｌ ｍ ｎ ｏ
    0x8290, 0x8291, 0x8292, 0x8293, 0x8294, 0x8295, 0x8296, 0x8297,  // ｐ ｑ ｒ ｓ ｔ ｕ ｖ ｗ
    0x8298, 0x8299, 0x829A, 0x816F, 0x8162, 0x8170, 0x8160, 0x815F,  // ｘ ｙ ｚ ｛ ｜ ｝ ～ ＼
};

// Full-width forms of the half-width katakana 0xA0-0xDF (code page 932).
const uint16_t kWideKana[64] = {
    0x8140, 0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340,  // 　 。 「 」 、 ・ ヲ ァ
    0x8342, 0x8344, 0x8346, 0x8348, 0x8383, 0x8385, 0x8387, 0x8362,  // ィ ゥ ェ ォ ャ ュ ョ ッ
    0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C,  // ー ア イ ウ エ オ カ キ
    0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C,  // ク ケ コ サ シ ス セ ソ
    0x835E, 0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B,  // タ チ ツ テ ト ナ ニ ヌ
    0x836C, 0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D,  // ネ ノ ハ ヒ フ ヘ ホ マ
    0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,  // ミ ム メ モ ヤ ユ ヨ ラ
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,  // リ ル レ ロ ワ ン ゛ ゜
};

} // namespace

// ---- construction and assignment -------------------------------------------

CvString::CvString(const CvString& other) : value(ShareOrCopy(other.value, CvkArenaOf(this))) {}

CvStringValue* CvString::_copyFor(CvStringValue* v, CvkArena* home) { return ShareOrCopy(v, home); }

void CvString::_checkHome(CvkArena* home) const
{
    assert(home == CvkArenaOf(this));
    (void)home;
}

CvString::CvString(int32_t count, char ch) : value(nullptr) { Assign(count, ch); }
CvString::CvString(const char* begin, const char* end) : value(nullptr) { Assign(begin, end); }
CvString::CvString(const char* text, int32_t length) : value(nullptr) { Assign(text, length); }
CvString::CvString(const char* text, int32_t start, int32_t end) : value(nullptr) { Assign(text, start, end); }

CvString::~CvString() { _release(); }

void CvString::_release()
{
    ReleaseValue(value);
    value = nullptr;
}

// Replaces the value by a new one holding [src, src + length). The new value
// is made before the old one is let go, so src may point into this string.
void CvString::_assignBytes(const char* src, int32_t length)
{
    CvStringValue* v = (src != nullptr && length > 0) ? NewValueFrom(src, length, CvkArenaOf(this)) : nullptr;
    _release();
    value = v;
}

CvString& CvString::Assign(const CvString& other)
{
    CvStringValue* v = ShareOrCopy(other.value, CvkArenaOf(this));
    _release();
    value = v;
    return *this;
}

CvString& CvString::Assign(int32_t count, char ch)
{
    CvStringValue* v = count >= 1 ? NewValue(count, this) : nullptr;
    if (v != nullptr) {
        std::memset(v->text, static_cast<unsigned char>(ch), static_cast<size_t>(count));
        v->text[count] = 0;
        v->length = count;
    }
    _release();
    value = v;
    return *this;
}

CvString& CvString::Assign(const char* begin, const char* end)
{
    if (begin == nullptr || end == nullptr || end <= begin || end - begin >= kMaxCapacity) {
        _release();
    } else {
        _assignBytes(begin, static_cast<int32_t>(end - begin));
    }
    return *this;
}

CvString& CvString::Assign(const char* text, int32_t length)
{
    if (text != nullptr && length < 1) {
        length = TextLength(text);
    }
    _assignBytes(text, length);
    return *this;
}

CvString& CvString::Assign(const char* text, int32_t start, int32_t end)
{
    if (text == nullptr || start < 0 || end <= start) {
        _release();
    } else {
        _assignBytes(text + start, end - start);
    }
    return *this;
}

CvString& CvString::AssignIn(CvkArena* arena, const char* begin, const char* end)
{
    CvStringValue* v = begin != nullptr && end > begin && end - begin < kMaxCapacity
                           ? NewValueFrom(begin, static_cast<int32_t>(end - begin), arena)
                           : nullptr;
    _release();
    value = v;
    return *this;
}

CvString& CvString::operator=(const CvString& other) { return Assign(other); }
CvString& CvString::operator=(const char* text) { return Assign(text, 0); }

// ---- reading ---------------------------------------------------------------

int32_t CvString::Capacity() const { return value != nullptr ? value->capacity - 1 : 0; }
char CvString::s_emptyText[1] = {0};

char CvString::operator[](int32_t i) const
{
    if (value == nullptr || i < 0 || i >= value->length) {
        return 0;
    }
    return value->text[i];
}

int32_t CvString::Compare(const char* text) const
{
    return std::strcmp(GetBuffer(), text != nullptr ? text : "");
}

// ---- appending -------------------------------------------------------------

// Appends `length` bytes produced by `fill(dst)`. Copy-on-write: a shared
// value is left to its other holders and a private one that is too small is
// replaced; the old value is released only after fill has run, so the bytes
// may come from this string's own text.
template <typename Fill>
static bool AppendWith(CvStringValue*& value, int32_t length, Fill fill)
{
    const int32_t old = value != nullptr ? value->length : 0;
    if (length <= 0 || length >= kMaxCapacity - old) {
        return false;
    }
    const int32_t total = old + length;
    if (value != nullptr && Exclusive(value) && value->capacity >= total + 1) {
        fill(value->text + old);
    } else {
        CvStringValue* v = NewValue(total, &value);
        if (v == nullptr) {
            return false;
        }
        if (old > 0) {
            std::memcpy(v->text, value->text, static_cast<size_t>(old));
        }
        fill(v->text + old);
        ReleaseValue(value);
        value = v;
    }
    value->text[total] = 0;
    value->length = total;
    return true;
}

void CvString::_appendBytes(const char* src, int32_t length)
{
    if (src == nullptr) {
        return;
    }
    AppendWith(value, length, [&](char* dst) { std::memmove(dst, src, static_cast<size_t>(length)); });
}

CvString& CvString::Append(const CvString& other)
{
    _appendBytes(other.GetBuffer(), other.GetLength());
    return *this;
}

CvString& CvString::Append(int32_t count, char ch)
{
    AppendWith(value, count, [&](char* dst) {
        std::memset(dst, static_cast<unsigned char>(ch), static_cast<size_t>(count));
    });
    return *this;
}

CvString& CvString::Append(const char* begin, const char* end)
{
    if (begin != nullptr && end != nullptr && end > begin && end - begin < kMaxCapacity) {
        _appendBytes(begin, static_cast<int32_t>(end - begin));
    }
    return *this;
}

CvString& CvString::Append(const char* text, int32_t length)
{
    if (text != nullptr && length < 1) {
        length = TextLength(text);
    }
    _appendBytes(text, length);
    return *this;
}

CvString& CvString::Append(const char* text, int32_t start, int32_t end)
{
    if (text != nullptr && start >= 0 && end > start) {
        _appendBytes(text + start, end - start);
    }
    return *this;
}

CvString& CvString::operator+=(const CvString& other) { return Append(other); }
CvString& CvString::operator+=(const char* text) { return Append(text, 0); }

CvString operator+(const CvString& a, const CvString& b)
{
    CvString r(a);
    r.Append(b);
    return r;
}

CvString operator+(const CvString& a, const char* b)
{
    CvString r(a);
    r.Append(b, 0);
    return r;
}

CvString operator+(const char* a, const CvString& b)
{
    CvString r(a, 0);
    r.Append(b);
    return r;
}

// ---- formatting ------------------------------------------------------------

void CvString::_appendFormatV(const char* fmt, va_list args, bool replace)
{
    if (fmt == nullptr) {
        if (replace) {
            _release();
        }
        return;
    }
    // Most expansions fit a local buffer of 510 characters; longer ones get a
    // heap buffer of 1024 bytes (1022 characters), doubled until they fit.
    char local[512];
    local[510] = 0;
    va_list ap;
    va_copy(ap, args);
    const int needed = std::vsnprintf(local, 511, fmt, ap);
    va_end(ap);
    if (needed < 0) {
        if (replace) {
            _release();
        }
        return;
    }
    if (needed <= 510) {
        if (replace) {
            _assignBytes(local, needed);
        } else {
            _appendBytes(local, needed);
        }
        return;
    }
    int64_t size = 1024;
    while (size - 2 < needed) {
        size *= 2;
    }
    char* heap = size <= kMaxCapacity
        ? static_cast<char*>(t_cvkBufferHeapAlloc(static_cast<uint32_t>(size), 0, kSourceTag, __LINE__))
        : nullptr;
    if (heap == nullptr) {
        if (replace) {
            _release();
        }
        return;
    }
    heap[size - 2] = 0;
    va_copy(ap, args);
    std::vsnprintf(heap, static_cast<size_t>(size - 1), fmt, ap);
    va_end(ap);
    if (replace) {
        _assignBytes(heap, needed);
    } else {
        _appendBytes(heap, needed);
    }
    t_cvkBufferHeapFree(heap, kSourceTag, __LINE__);
}

void CvString::Format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    _appendFormatV(fmt, args, true);
    va_end(args);
}

void CvString::FormatV(const char* fmt, va_list args) { _appendFormatV(fmt, args, true); }

void CvString::AppendFormat(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    _appendFormatV(fmt, args, false);
    va_end(args);
}

void CvString::AppendFormatV(const char* fmt, va_list args) { _appendFormatV(fmt, args, false); }

// ---- editing ---------------------------------------------------------------

void CvString::Erase() { _release(); }

void CvString::Insert(int32_t pos, const char* text)
{
    if (text == nullptr || text[0] == 0) {
        return;
    }
    const int32_t length = GetLength();
    if (pos >= length) {
        Append(text, 0);
        return;
    }
    if (pos < 0) {
        pos = 0;
    }
    const int32_t add = TextLength(text);
    if (add < 0 || add >= kMaxCapacity - length) {
        return;
    }
    // Head, text, tail, written into one new value (text may lie in this string).
    CvStringValue* v = NewValue(length + add, this);
    if (v == nullptr) {
        return;
    }
    std::memcpy(v->text, value->text, static_cast<size_t>(pos));
    std::memcpy(v->text + pos, text, static_cast<size_t>(add));
    std::memcpy(v->text + pos + add, value->text + pos, static_cast<size_t>(length - pos));
    v->length = length + add;
    v->text[v->length] = 0;
    _release();
    value = v;
}

CvString CvString::Left(int32_t n) const
{
    const int32_t length = GetLength();
    if (n <= 0 || length == 0) {
        return CvString();
    }
    if (n < length) {
        return CvString(value->text, n);
    }
    return *this;
}

CvString CvString::Right(int32_t n) const
{
    const int32_t length = GetLength();
    if (n <= 0 || length == 0) {
        return CvString();
    }
    if (length - n > 0) {
        return CvString(value->text + (length - n), n);
    }
    return *this;
}

CvString CvString::Middle(int32_t start, int32_t count) const
{
    const int32_t length = GetLength();
    int64_t from = start;
    int64_t n = count;
    if (from < 0) {
        n += from;
        from = 0;
    }
    if (from + n > length) {
        n = length - from;
    }
    if (n <= 0) {
        return CvString();
    }
    return CvString(value->text + from, static_cast<int32_t>(n));
}

void CvString::RemoveLeft(int32_t n)
{
    const int32_t length = GetLength();
    if (n <= 0 && length > 0) {
        return; // Right(length - n) would be the whole value
    }
    if (length > n) {
        *this = Right(length - n);
    } else {
        Erase();
    }
}

void CvString::RemoveRight(int32_t n)
{
    const int32_t length = GetLength();
    if (n <= 0 && length > 0) {
        return;
    }
    if (length > n) {
        *this = Left(length - n);
    } else {
        Erase();
    }
}

void CvString::Reserve(int32_t n)
{
    if (n < 1) {
        return;
    }
    if (value != nullptr && value->capacity >= n + 1) {
        return;
    }
    CvStringValue* v = NewValue(n, this);
    if (v == nullptr) {
        return;
    }
    if (value != nullptr) {
        std::memcpy(v->text, value->text, static_cast<size_t>(value->length) + 1);
        v->length = value->length;
    }
    _release();
    value = v;
}

// Gives the string a value of its own, leaving a shared one to its other
// holders. False when no memory.
static bool Unshare(CvStringValue*& value)
{
    if (value == nullptr || Exclusive(value)) {
        return true;
    }
    CvStringValue* v = NewValueFrom(value->text, value->length, CvkArenaOf(&value));
    if (v == nullptr) {
        return false;
    }
    ReleaseValue(value);
    value = v;
    return true;
}

void CvString::MakeLower()
{
    if (GetLength() == 0 || !Unshare(value)) {
        return;
    }
    CvStringIteratorSJIS it(this);
    for (int32_t on = it.GetFirst(); on; on = it.GetNext()) {
        char& c = value->text[it.GetPos()];
        if (it.GetKind() == CVK_STRING_CHAR_SINGLE && c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
}

void CvString::MakeUpper()
{
    if (GetLength() == 0 || !Unshare(value)) {
        return;
    }
    CvStringIteratorSJIS it(this);
    for (int32_t on = it.GetFirst(); on; on = it.GetNext()) {
        char& c = value->text[it.GetPos()];
        if (it.GetKind() == CVK_STRING_CHAR_SINGLE && c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
}

void CvString::MakeSJIS()
{
    const int32_t length = GetLength();
    if (length == 0) {
        return;
    }
    auto* scratch = static_cast<uint8_t*>(
        t_cvkBufferHeapAlloc(static_cast<uint32_t>(length) * 2 + 1, 0, kSourceTag, __LINE__));
    if (scratch == nullptr) {
        return;
    }
    int32_t out = 0;
    CvStringIteratorSJIS it(this);
    for (int32_t on = it.GetFirst(); on; on = it.GetNext()) {
        const uint8_t* code = it.GetCode();
        uint16_t wide = 0;
        if (it.GetKind() == CVK_STRING_CHAR_DOUBLE) {
            scratch[out++] = code[0];
            scratch[out++] = code[1];
            continue;
        }
        if (code[0] >= 0x20 && code[0] <= 0x7F) {
            wide = kWideAscii[code[0] - 0x20];
        } else if (code[0] >= 0xA0 && code[0] <= 0xDF) {
            wide = kWideKana[code[0] - 0xA0];
        }
        if (wide != 0) {
            scratch[out++] = static_cast<uint8_t>(wide >> 8);
            scratch[out++] = static_cast<uint8_t>(wide & 0xFF);
        } else {
            scratch[out++] = code[0];
        }
    }
    scratch[out] = 0;
    _assignBytes(reinterpret_cast<const char*>(scratch), out);
    t_cvkBufferHeapFree(scratch, kSourceTag, __LINE__);
}

void CvString::Permute(const char* from, const char* to)
{
    if (from == nullptr || from[0] == 0) {
        return;
    }
    const int32_t fromLength = TextLength(from);
    if (fromLength < 0) {
        return;
    }
    // Walk a shared copy of the text: each search starts afresh at the
    // remainder behind the last replacement, as a search of the remainder
    // would.
    const CvString source(*this);
    const char* text = source.GetBuffer();
    const int32_t length = source.GetLength();
    CvString result;
    int32_t rest = 0;
    for (;;) {
        const int32_t p = FindText(text + rest, length - rest, from, fromLength, 0);
        if (p < 0) {
            break;
        }
        result.Append(text + rest, text + rest + p);
        if (to != nullptr && to[0] != 0) {
            result.Append(to, 0);
        }
        rest += p + fromLength;
    }
    result.Append(text + rest, text + length);
    *this = result;
}

// ---- searching -------------------------------------------------------------

int32_t CvString::Find(char ch, int32_t start) const
{
    const int32_t length = GetLength();
    const auto* t = reinterpret_cast<const uint8_t*>(GetBuffer());
    for (int32_t i = 0; i < length && t[i] != 0; i += CharWidth(t, length, i)) {
        if (i >= start && t[i] == static_cast<uint8_t>(ch)) {
            return i;
        }
    }
    return -1;
}

int32_t CvString::Find(const char* text, int32_t start) const
{
    if (text == nullptr) {
        return -1;
    }
    const int32_t patLength = TextLength(text);
    if (patLength < 0) {
        return -1;
    }
    return FindText(GetBuffer(), GetLength(), text, patLength, start);
}

// The reverse searches report the last character at which the match starts.
// They walk forward over whole characters, so that a trail byte (0x5C of a
// double-byte character, say) is never taken for a character of its own.
int32_t CvString::ReverseFind(char ch) const
{
    const int32_t length = GetLength();
    const auto* t = reinterpret_cast<const uint8_t*>(GetBuffer());
    int32_t found = -1;
    for (int32_t i = 0; i < length && t[i] != 0; i += CharWidth(t, length, i)) {
        if (t[i] == static_cast<uint8_t>(ch)) {
            found = i;
        }
    }
    return found;
}

int32_t CvString::ReverseFind(const char* text) const
{
    if (text == nullptr) {
        return -1;
    }
    const int32_t patLength = TextLength(text);
    const int32_t length = GetLength();
    const char* s = GetBuffer();
    const auto* t = reinterpret_cast<const uint8_t*>(s);
    int32_t found = -1;
    for (int32_t i = 0; patLength >= 0 && i < length && t[i] != 0; i += CharWidth(t, length, i)) {
        if (patLength <= length - i && std::memcmp(s + i, text, static_cast<size_t>(patLength)) == 0) {
            found = i;
        }
    }
    return found;
}
