#include "kit/CvVariant.h"

#include "kit/CvkArena.h"
#include "kit/CvkHeap.h"
#include "kit/CvkStringScan.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

const char kSourceTag[] = "cvk_variant";

const char* const kTypeNames[CVK_VARIANT_TYPE_NUM] = {"SINT", "UINT", "FLOAT", "STRING", "BUF", "FIXED"};

float WordToFloat(uint32_t w)
{
    float f;
    std::memcpy(&f, &w, sizeof f);
    return f;
}

uint32_t FloatToWord(float f)
{
    uint32_t w;
    std::memcpy(&w, &f, sizeof w);
    return w;
}

// Truncation toward zero to 32 bits. A value outside the range (or NaN)
// gives 0x80000000, the processor's answer, instead of undefined behaviour.
int32_t TruncateS32(double d)
{
    if (!(d > -2147483649.0 && d < 2147483648.0)) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(d);
}

// Truncation toward zero through a 64-bit integer, keeping its low 32 bits;
// outside the 64-bit range (or NaN) the integer is 0x8000000000000000.
uint32_t TruncateThrough64(double d)
{
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) {
        return 0;
    }
    return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(d)));
}

// x rounded half away from zero, then truncated to 32 bits.
int32_t RoundHalfAway(double x)
{
    return TruncateS32(x > 0 ? x + 0.5 : x - 0.5);
}

// strtoul with base 0 as a 32-bit unsigned long does it: a magnitude beyond
// 32 bits gives 0xFFFFFFFF, a "-" negates modulo 2^32.
uint32_t Strtoul32(const char* text)
{
    errno = 0;
    const unsigned long long v = std::strtoull(text, nullptr, 0);
    if (errno == ERANGE) {
        return UINT32_MAX;
    }
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    const unsigned long long magnitude = *p == '-' ? 0ull - v : v;
    if (magnitude > UINT32_MAX) {
        return UINT32_MAX;
    }
    return static_cast<uint32_t>(v);
}

double Atof(const char* text)
{
    return std::strtod(text, nullptr);
}

} // namespace

// ---- construction ----------------------------------------------------------

CvVariant::CvVariant() : type(CVK_VARIANT_TYPE_SINT), value(0), buffer(nullptr) {}

CvVariant::CvVariant(const CvVariant& other)
    : CvkAllocator(), type(other.type), value(other.value), text(other.text), buffer(nullptr)
{
    if (other.buffer != nullptr) {
        _copyBuffer(other.buffer, other.value);
    }
}

CvVariant::CvVariant(const CvString& t) : type(CVK_VARIANT_TYPE_STRING), value(0), text(t), buffer(nullptr) {}

CvVariant::CvVariant(const char* t) : type(CVK_VARIANT_TYPE_STRING), value(0), text(t), buffer(nullptr) {}

CvVariant::CvVariant(const char* t, CVK_VARIANT_TYPE kind) : CvVariant()
{
    Set(t, kind);
}

CvVariant::CvVariant(const void* bytes, uint32_t size) : CvVariant()
{
    SetBuffer(bytes, size);
}

CvVariant::~CvVariant()
{
    _freeBuffer();
}

CvVariant& CvVariant::operator=(const CvVariant& other)
{
    if (&other == this) {
        return *this;
    }
    type = other.type;
    text = other.text;
    if (other.buffer != nullptr) {
        _copyBuffer(other.buffer, other.value);
    } else {
        _freeBuffer();
    }
    value = other.value;
    return *this;
}

// ---- buffer ----------------------------------------------------------------

// A variant that lives in an arena keeps its buffer in that arena, with the
// size in a prefix (the value word does not always still hold it when the
// buffer is freed); any other variant keeps it on the main heap.
namespace {

constexpr size_t kArenaPrefix = 16;

void* NewBuffer(uint32_t size, const void* home)
{
    CvkArena* arena = CvkArenaOf(home);
    if (arena == nullptr) {
        return t_cvkMainHeapAlloc(size, 0, kSourceTag, __LINE__);
    }
    if (size > UINT32_MAX - kArenaPrefix) {
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(arena->Alloc(kArenaPrefix + size));
    if (block == nullptr) {
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    return block + kArenaPrefix;
}

void DeleteBuffer(void* buffer)
{
    CvkArena* arena = CvkArenaOf(buffer);
    if (arena == nullptr) {
        t_cvkMainHeapFree(buffer, kSourceTag, __LINE__);
        return;
    }
    unsigned char* block = static_cast<unsigned char*>(buffer) - kArenaPrefix;
    uint32_t size;
    std::memcpy(&size, block, sizeof size);
    arena->Free(block, kArenaPrefix + size);
}

} // namespace

void CvVariant::_freeBuffer()
{
    if (buffer != nullptr) {
        DeleteBuffer(buffer);
        buffer = nullptr;
    }
}

// Replaces the buffer by a copy of size bytes (which may be the buffer
// itself) and records the size; the buffer stays null when there are no
// bytes or no memory.
void CvVariant::_copyBuffer(const void* bytes, uint32_t size)
{
    void* copy = nullptr;
    if (bytes != nullptr && size != 0) {
        copy = NewBuffer(size, this);
        if (copy != nullptr) {
            std::memcpy(copy, bytes, size);
        }
    }
    _freeBuffer();
    buffer = copy;
    value = size;
}

// ---- setters ---------------------------------------------------------------

void CvVariant::_setWord(CVK_VARIANT_TYPE kind, uint32_t word)
{
    _freeBuffer();
    type = kind;
    value = word;
    text.Erase();
}

void CvVariant::SetS32(int32_t v) { _setWord(CVK_VARIANT_TYPE_SINT, static_cast<uint32_t>(v)); }
void CvVariant::SetU32(uint32_t v) { _setWord(CVK_VARIANT_TYPE_UINT, v); }
void CvVariant::SetF32(float v) { _setWord(CVK_VARIANT_TYPE_FLOAT, FloatToWord(v)); }
void CvVariant::SetFx32(int32_t v) { _setWord(CVK_VARIANT_TYPE_FIXED, static_cast<uint32_t>(v)); }

void CvVariant::SetString(const CvString& t)
{
    _freeBuffer();
    type = CVK_VARIANT_TYPE_STRING;
    text = t;
}

void CvVariant::SetString(const char* t)
{
    SetString(CvString(t));
}

void CvVariant::SetString(const char* t, int32_t length)
{
    SetString(CvString(t, length));
}

void CvVariant::SetBuffer(const void* bytes, uint32_t size)
{
    type = CVK_VARIANT_TYPE_BUF;
    text.Erase();
    _copyBuffer(bytes, size);
}

void CvVariant::Set(const char* t, CVK_VARIANT_TYPE kind)
{
    Set(CvString(t), kind);
}

void CvVariant::Set(const CvString& t, CVK_VARIANT_TYPE kind)
{
    const CvString source(t); // t may be this variant's own text
    text = source;
    type = kind;
    if (kind != CVK_VARIANT_TYPE_BUF) {
        _freeBuffer();
    }
    if (kind != CVK_VARIANT_TYPE_STRING && source.GetLength() > 0) {
        _parse(source.GetBuffer());
    }
}

void CvVariant::_parse(const char* t)
{
    switch (type) {
    case CVK_VARIANT_TYPE_SINT:
        value = static_cast<uint32_t>(CvkStringAtoIClamped(t));
        break;
    case CVK_VARIANT_TYPE_UINT:
        value = Strtoul32(t);
        break;
    case CVK_VARIANT_TYPE_FLOAT:
        value = FloatToWord(static_cast<float>(Atof(t)));
        break;
    case CVK_VARIANT_TYPE_FIXED:
        value = static_cast<uint32_t>(RoundHalfAway(Atof(t) * 4096.0));
        break;
    case CVK_VARIANT_TYPE_BUF:
        _copyBuffer(t, static_cast<uint32_t>(std::strlen(t)) + 1);
        break;
    default:
        break;
    }
}

void CvVariant::Set(const CvVariant* other)
{
    if (other == nullptr) {
        return;
    }
    switch (other->type) {
    case CVK_VARIANT_TYPE_SINT:
        SetS32(other->GetS32());
        break;
    case CVK_VARIANT_TYPE_UINT:
        SetU32(other->GetU32());
        break;
    case CVK_VARIANT_TYPE_FLOAT:
        SetF32(other->GetF32());
        break;
    case CVK_VARIANT_TYPE_FIXED:
        SetFx32(other->GetFx32());
        break;
    case CVK_VARIANT_TYPE_STRING:
        SetString(other->text);
        break;
    case CVK_VARIANT_TYPE_BUF:
        type = CVK_VARIANT_TYPE_BUF;
        _copyBuffer(other->buffer, other->value);
        text.Erase();
        break;
    default:
        _setWord(other->type, other->value);
        break;
    }
}

void CvVariant::SetFlag(uint32_t mask, uint32_t bits)
{
    _setWord(CVK_VARIANT_TYPE_UINT, (value & mask) | bits);
}

// ---- getters ---------------------------------------------------------------

int32_t CvVariant::GetS32() const
{
    switch (type) {
    case CVK_VARIANT_TYPE_SINT:
    case CVK_VARIANT_TYPE_UINT:
    case CVK_VARIANT_TYPE_BUF:
        return static_cast<int32_t>(value);
    case CVK_VARIANT_TYPE_FLOAT:
        return TruncateS32(WordToFloat(value));
    case CVK_VARIANT_TYPE_STRING:
        return CvkStringAtoIClamped(text.GetBuffer());
    case CVK_VARIANT_TYPE_FIXED:
        return static_cast<int32_t>(value) >> 12;
    default:
        return 0;
    }
}

uint32_t CvVariant::GetU32() const
{
    switch (type) {
    case CVK_VARIANT_TYPE_SINT:
    case CVK_VARIANT_TYPE_UINT:
    case CVK_VARIANT_TYPE_BUF:
        return value;
    case CVK_VARIANT_TYPE_FLOAT:
        return TruncateThrough64(WordToFloat(value));
    case CVK_VARIANT_TYPE_STRING:
        return Strtoul32(text.GetBuffer());
    case CVK_VARIANT_TYPE_FIXED:
        return static_cast<uint32_t>(static_cast<int32_t>(value) >> 12);
    default:
        return 0;
    }
}

float CvVariant::GetF32() const
{
    switch (type) {
    case CVK_VARIANT_TYPE_SINT:
        return static_cast<float>(static_cast<int32_t>(value));
    case CVK_VARIANT_TYPE_UINT:
        return static_cast<float>(value);
    case CVK_VARIANT_TYPE_FLOAT:
        return WordToFloat(value);
    case CVK_VARIANT_TYPE_STRING:
        return static_cast<float>(Atof(text.GetBuffer()));
    case CVK_VARIANT_TYPE_FIXED:
        return static_cast<float>(static_cast<int32_t>(value)) / 4096.0f;
    default:
        return 0.0f;
    }
}

int32_t CvVariant::GetFx32() const
{
    switch (type) {
    case CVK_VARIANT_TYPE_SINT:
    case CVK_VARIANT_TYPE_UINT:
        return static_cast<int32_t>(value << 12);
    case CVK_VARIANT_TYPE_FLOAT:
        return RoundHalfAway(static_cast<double>(WordToFloat(value)) * 4096.0);
    case CVK_VARIANT_TYPE_STRING:
        return RoundHalfAway(Atof(text.GetBuffer()) * 4096.0);
    case CVK_VARIANT_TYPE_FIXED:
        return static_cast<int32_t>(value);
    default:
        return 0;
    }
}

const CvString& CvVariant::GetCvString() const
{
    switch (type) {
    case CVK_VARIANT_TYPE_SINT:
        text.Format("%d", static_cast<int32_t>(value));
        break;
    case CVK_VARIANT_TYPE_UINT:
    case CVK_VARIANT_TYPE_BUF:
        text.Format("%u", value);
        break;
    case CVK_VARIANT_TYPE_FLOAT:
        text.Format("%f", static_cast<double>(WordToFloat(value)));
        break;
    case CVK_VARIANT_TYPE_FIXED:
        text.Format("%f", static_cast<double>(static_cast<float>(static_cast<int32_t>(value)) / 4096.0f));
        break;
    default:
        break; // "STRING" holds its text; unknown kinds keep theirs
    }
    return text;
}

const char* CvVariant::GetString() const
{
    return GetCvString().GetBuffer();
}

uint32_t CvVariant::GetBufferSize() const
{
    return type == CVK_VARIANT_TYPE_BUF ? value : 0;
}

uint32_t CvVariant::CheckFlag(uint32_t bit) const
{
    const uint32_t mask = 1u << (bit & 31);
    switch (type) {
    case CVK_VARIANT_TYPE_SINT:
    case CVK_VARIANT_TYPE_UINT:
    case CVK_VARIANT_TYPE_FIXED:
        return mask & value;
    case CVK_VARIANT_TYPE_FLOAT:
        return mask & TruncateThrough64(WordToFloat(value));
    case CVK_VARIANT_TYPE_STRING:
        return mask & static_cast<uint32_t>(CvkStringAtoIClamped(text.GetBuffer()));
    default:
        return 0;
    }
}

bool CvVariant::operator==(const CvVariant& other) const
{
    if (type != other.type) {
        return false;
    }
    switch (type) {
    case CVK_VARIANT_TYPE_FLOAT:
        return WordToFloat(value) == WordToFloat(other.value);
    case CVK_VARIANT_TYPE_STRING:
        return text.GetLength() == other.text.GetLength() &&
               std::memcmp(text.GetBuffer(), other.text.GetBuffer(), static_cast<size_t>(text.GetLength())) == 0;
    case CVK_VARIANT_TYPE_BUF:
        if (value != other.value) {
            return false;
        }
        if (buffer == nullptr || other.buffer == nullptr) {
            return buffer == other.buffer || value == 0;
        }
        return std::memcmp(buffer, other.buffer, value) == 0;
    case CVK_VARIANT_TYPE_FIXED:
        return GetFx32() == other.GetFx32();
    default:
        return value == other.value;
    }
}

// ---- type names ------------------------------------------------------------

int32_t CvkGetVariantTypeNum(const char* name)
{
    if (name == nullptr) {
        return -1;
    }
    for (int32_t i = 0; i < CVK_VARIANT_TYPE_NUM; ++i) {
        if (std::strcmp(name, kTypeNames[i]) == 0) {
            return i;
        }
    }
    return -1;
}

const char* CvkGetVariantTypeString(int32_t kind)
{
    if (kind < 0 || kind >= CVK_VARIANT_TYPE_NUM) {
        return nullptr;
    }
    return kTypeNames[kind];
}

const char* CvkGetVariantTypeString(const CvVariant* variant)
{
    return variant != nullptr ? CvkGetVariantTypeString(static_cast<int32_t>(variant->GetType())) : nullptr;
}
