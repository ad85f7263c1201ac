#pragma once
// AtrAttribute: a named value on an attribute-tree node. Names are
// case-sensitive; a node may carry several attributes of one name.
//
// The setters that take a trailing `name` rename the attribute when it is
// non-null. Objects come from the system heap slot (CvkAllocator). The
// destructor frees the attribute alone, never the `next` chain.

#include "attribute/AtrData.h"
#include "kit/CvString.h"
#include "kit/CvkAllocator.h"
#include "platform/PlatformExport.h"

#include <cstddef>
#include <cstdint>

class LUMIVOR_EXPORT AtrAttribute : public CvkAllocator {
public:
    // Objects of exactly this class come from the tree's slot pool (chunks
    // of the system heap slot); other sizes go to the system heap directly.
    static void* operator new(std::size_t size) noexcept;
    static void* operator new(std::size_t size, const char* fileName, int line) noexcept;
    static void* operator new(std::size_t size, void* place) noexcept { (void)size; return place; }
    static void operator delete(void* pointer, std::size_t size) noexcept;
    static void operator delete(void* pointer, const char* fileName, int line) noexcept;
    static void operator delete(void* pointer, void* place) noexcept { (void)pointer; (void)place; }

    AtrAttribute() : name(), data(), next(nullptr) {}
    AtrAttribute(const CvString& name_, const AtrData& data_) : name(name_), data(data_), next(nullptr)
    {
        data.next = nullptr;
    }
    AtrAttribute(const AtrAttribute&) = delete;
    AtrAttribute& operator=(const AtrAttribute&) = delete;
    virtual ~AtrAttribute();

    const CvString& GetName() const { return name; }
    void SetName(const char* text) { name = text; }
    void SetName(const CvString& text) { name = text; }

    CVK_VARIANT_TYPE GetType() const { return data.GetType(); }
    int32_t GetS32() const { return data.GetS32(); }
    uint32_t GetU32() const { return data.GetU32(); }
    float GetF32() const { return data.GetF32(); }
    const char* GetString() const { return data.GetString(); }
    const CvString& GetCvString() const { return data.GetCvString(); }
    int32_t GetStrLength() const { return data.GetStrLength(); }
    void* GetBuffer() const { return data.GetBuffer(); }
    uint32_t GetBufferSize() const { return data.GetBufferSize(); }
    uint32_t CheckFlag(uint32_t bit) const { return data.CheckFlag(bit); }
    AtrData* GetData() { return &data; }
    const AtrData* GetData() const { return &data; }

    void SetS32(int32_t v, const char* newName = nullptr);
    void SetU32(uint32_t v, const char* newName = nullptr);
    void SetF32(float v, const char* newName = nullptr);
    void SetString(const char* text, const char* newName = nullptr);
    void SetString(const CvString& text, const char* newName = nullptr);
    void SetBuffer(const void* bytes, uint32_t size, const char* newName = nullptr);
    // Value kind becomes "UINT", value := (value AND mask) OR bits.
    void SetFlag(uint32_t mask, uint32_t bits, const char* newName = nullptr);
    void SetData(const CvVariant& value, const char* newName = nullptr);
    void Set(const CvString& newName, const CvVariant& value);
    // Parses `text` by kind name: "SINT" and "UINT" with atoi, "FLOAT" with
    // atof, anything else keeps the text as "STRING".
    void Set(const CvString& newName, const char* text, const char* kind);

    AtrAttribute* GetNext() const { return next; }
    void SetNext(AtrAttribute* attribute) { next = attribute; }

private:
    friend class AtrNode;
    // Direct construction of the value, without a temporary AtrData copied
    // in (the tag keeps these out of the public overload set).
    // `home` is the arena the tree placed the attribute in (null outside
    // arenas): its name and text are shared from there without lookups.
    struct DirectTag {};
    template <class V>
    AtrAttribute(DirectTag, CvkArena* home, const CvString& name_, const V& v) :
        name(name_, home), data(AtrData::HomeTag{}, home, v), next(nullptr)
    {}

    CvString name;
    AtrData data;
    AtrAttribute* next;
};
