#pragma once
// AtrData: one value of a node's data list (also the value of an attribute).
// A CvVariant plus the link to the following value of the same node.
//
// Objects come from the system heap slot (CvkAllocator); new yields null
// when the slot is empty or exhausted.

#include "kit/CvString.h"
#include "kit/CvVariant.h"
#include "platform/PlatformExport.h"

#include <cstddef>
#include <cstdint>

class LUMIVOR_EXPORT AtrData : public CvVariant {
public:
    // Objects of exactly this class come from the tree's slot pool (chunks
    // of the system heap slot); other sizes go to the system heap directly.
    static void* operator new(std::size_t size) noexcept;
    static void* operator new(std::size_t size, const char* fileName, int line) noexcept;
    static void* operator new(std::size_t size, void* place) noexcept { (void)size; return place; }
    static void operator delete(void* pointer, std::size_t size) noexcept;
    static void operator delete(void* pointer, const char* fileName, int line) noexcept;
    static void operator delete(void* pointer, void* place) noexcept { (void)pointer; (void)place; }

    AtrData() : CvVariant(), next(nullptr) {}
    // Copies the value (a buffer's bytes included) and the `next` link.
    AtrData(const AtrData& other) : CvVariant(other), next(other.next) {}
    AtrData(const CvVariant& value) : CvVariant(value), next(nullptr) {}
    AtrData(const CvString& text) : CvVariant(text), next(nullptr) {}
    AtrData(const CvString& text, CVK_VARIANT_TYPE kind) : CvVariant(text.GetBuffer(), kind), next(nullptr) {}
    AtrData(int32_t v) : CvVariant(v), next(nullptr) {}
    AtrData(uint32_t v) : CvVariant(v), next(nullptr) {}
    AtrData(float v) : CvVariant(v), next(nullptr) {}
    AtrData(const char* text) : CvVariant(text), next(nullptr) {}
    AtrData(const char* text, CVK_VARIANT_TYPE kind) : CvVariant(text, kind), next(nullptr) {}
    // "BUF": a copy of size bytes.
    AtrData(const void* bytes, uint32_t size) : CvVariant(bytes, size), next(nullptr) {}
    ~AtrData() override;

    // Copies the value only; the `next` link stays.
    AtrData& operator=(const AtrData& other)
    {
        CvVariant::operator=(other);
        return *this;
    }
    AtrData& operator=(const CvVariant& other)
    {
        CvVariant::operator=(other);
        return *this;
    }

    AtrData* GetNext() const { return next; }
    void SetNext(AtrData* data) { next = data; }

private:
    friend class AtrNode;
    friend class AtrAttribute;
    // Construction by the tree, which knows `home`, the arena it placed the
    // value in (null outside arenas): a text of that arena is shared without
    // looking anything up.
    struct HomeTag {};
    template <class V>
    AtrData(HomeTag, CvkArena* home, const V& v) : CvVariant(v), next(nullptr)
    {
        (void)home;
    }
    AtrData(HomeTag, CvkArena* home, const CvString& text) : CvVariant(text, home), next(nullptr) {}

    AtrData* next;
};
