#pragma once
// CvVariant: one value of one of six kinds, with conversions between them.
//
// The value is kept in the native form of its kind (a 32-bit word, or the
// text of a "STRING", or the bytes of a "BUF") and converted on demand. For
// every kind but "STRING" the text member is a cached text form, rewritten by
// each GetString/GetCvString call. The bytes of a "BUF" come from the main
// heap slot, tagged "cvk_variant"; when they cannot be had the buffer stays
// null with the size still recorded.

#include "kit/CvString.h"
#include "kit/CvkAllocator.h"
#include "platform/PlatformExport.h"

#include <cstdint>
#include <cstring>

enum CVK_VARIANT_TYPE : int32_t {
    CVK_VARIANT_TYPE_SINT = 0,   // "SINT": signed 32-bit integer
    CVK_VARIANT_TYPE_UINT = 1,   // "UINT": unsigned 32-bit integer
    CVK_VARIANT_TYPE_FLOAT = 2,  // "FLOAT": IEEE 754 single
    CVK_VARIANT_TYPE_STRING = 3, // "STRING": text (in the text member)
    CVK_VARIANT_TYPE_BUF = 4,    // "BUF": bytes; the value word is their count
    CVK_VARIANT_TYPE_FIXED = 5,  // "FIXED": 20.12 fixed point (value x 4096)
    CVK_VARIANT_TYPE_NUM = 6,
};

class LUMIVOR_EXPORT CvVariant : public CvkAllocator {
public:
    // "SINT" 0.
    CvVariant();
    CvVariant(const CvVariant& other);
    CvVariant(const CvString& text);
    // "STRING" for a variant placed in `home` (the arena of its own memory,
    // null outside arenas): the text `t` copied as CvString(t, home) does.
    CvVariant(const CvString& t, CvkArena* home) :
        type(CVK_VARIANT_TYPE_STRING), value(0), text(t, home), buffer(nullptr)
    {}
    CvVariant(const char* text);
    // Stores text with the given kind and, unless the kind is "STRING",
    // parses the native value from it (see Set).
    CvVariant(const char* text, CVK_VARIANT_TYPE kind);
    CvVariant(int32_t v) : type(CVK_VARIANT_TYPE_SINT), value(static_cast<uint32_t>(v)), buffer(nullptr) {}
    CvVariant(uint32_t v) : type(CVK_VARIANT_TYPE_UINT), value(v), buffer(nullptr) {}
    // The float's bits (memcpy: the installed header stays valid C++17).
    CvVariant(float v) : type(CVK_VARIANT_TYPE_FLOAT), value(0), buffer(nullptr)
    {
        std::memcpy(&value, &v, sizeof value);
    }
    // "BUF": a copy of size bytes.
    CvVariant(const void* bytes, uint32_t size);
    virtual ~CvVariant();

    CvVariant& operator=(const CvVariant& other);

    void SetS32(int32_t v);
    void SetU32(uint32_t v);
    void SetF32(float v);
    // v: the fixed-point number (value x 4096).
    void SetFx32(int32_t v);
    void SetString(const CvString& text);
    void SetString(const char* text);
    void SetString(const char* text, int32_t length);
    void SetBuffer(const void* bytes, uint32_t size);
    // Stores text and kind; a non-empty text is parsed into the native value
    // ("SINT" atoi, "UINT" strtoul base 0, "FLOAT" atof, "FIXED" atof x 4096
    // rounded half away from zero, "BUF" the text's bytes and terminator). An
    // empty text leaves the value word as it was.
    void Set(const char* text, CVK_VARIANT_TYPE kind);
    void Set(const CvString& text, CVK_VARIANT_TYPE kind);
    // Takes the other's kind and its value converted by the matching getter.
    void Set(const CvVariant* other);
    // Kind becomes "UINT", value := (value AND mask) OR bits.
    void SetFlag(uint32_t mask, uint32_t bits);

    CVK_VARIANT_TYPE GetType() const { return type; }
    int32_t GetS32() const;
    uint32_t GetU32() const;
    float GetF32() const;
    int32_t GetFx32() const;
    const char* GetString() const;
    const CvString& GetCvString() const;
    int32_t GetStrLength() const { return type == CVK_VARIANT_TYPE_STRING ? text.GetLength() : 0; }
    void* GetBuffer() const { return buffer; }
    uint32_t GetBufferSize() const;
    // The bit (bit AND 31) of the value as an integer; 0 for "BUF".
    uint32_t CheckFlag(uint32_t bit) const;

    bool operator==(const CvVariant& other) const;
    bool operator!=(const CvVariant& other) const { return !(*this == other); }

private:
    void _freeBuffer();
    void _copyBuffer(const void* bytes, uint32_t size);
    void _setWord(CVK_VARIANT_TYPE kind, uint32_t word);
    void _parse(const char* text);

    CVK_VARIANT_TYPE type;
    uint32_t value;
    mutable CvString text;
    void* buffer;
};

// The kind named exactly (case-sensitively) `name`, or -1.
LUMIVOR_EXPORT int32_t CvkGetVariantTypeNum(const char* name);
// "SINT", "UINT", "FLOAT", "STRING", "BUF", "FIXED"; null for other kinds.
LUMIVOR_EXPORT const char* CvkGetVariantTypeString(int32_t kind);
// The type name of the variant's kind; null for a null variant.
LUMIVOR_EXPORT const char* CvkGetVariantTypeString(const CvVariant* variant);
