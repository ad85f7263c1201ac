#include "attribute/AtrAttribute.h"

#include "kit/CvkStringScan.h"

#include <cstdlib>
#include <cstring>

AtrAttribute::~AtrAttribute() = default;

void AtrAttribute::SetS32(int32_t v, const char* newName)
{
    data.SetS32(v);
    if (newName != nullptr) {
        name = newName;
    }
}

void AtrAttribute::SetU32(uint32_t v, const char* newName)
{
    data.SetU32(v);
    if (newName != nullptr) {
        name = newName;
    }
}

void AtrAttribute::SetF32(float v, const char* newName)
{
    data.SetF32(v);
    if (newName != nullptr) {
        name = newName;
    }
}

void AtrAttribute::SetString(const char* text, const char* newName)
{
    data.SetString(text);
    if (newName != nullptr) {
        name = newName;
    }
}

void AtrAttribute::SetString(const CvString& text, const char* newName)
{
    data.SetString(text);
    if (newName != nullptr) {
        name = newName;
    }
}

void AtrAttribute::SetBuffer(const void* bytes, uint32_t size, const char* newName)
{
    data.SetBuffer(bytes, size);
    if (newName != nullptr) {
        name = newName;
    }
}

void AtrAttribute::SetFlag(uint32_t mask, uint32_t bits, const char* newName)
{
    data.SetFlag(mask, bits);
    if (newName != nullptr) {
        name = newName;
    }
}

void AtrAttribute::SetData(const CvVariant& value, const char* newName)
{
    data = value;
    if (newName != nullptr) {
        name = newName;
    }
}

void AtrAttribute::Set(const CvString& newName, const CvVariant& value)
{
    name = newName;
    data = value;
}

void AtrAttribute::Set(const CvString& newName, const char* text, const char* kind)
{
    name = newName;
    const char* k = kind != nullptr ? kind : "STRING";
    if (std::strcmp(k, "SINT") == 0) {
        data.SetS32(CvkStringAtoIClamped(text));
    } else if (std::strcmp(k, "UINT") == 0) {
        data.SetU32(static_cast<uint32_t>(CvkStringAtoIClamped(text)));
    } else if (std::strcmp(k, "FLOAT") == 0) {
        data.SetF32(static_cast<float>(std::atof(text != nullptr ? text : "")));
    } else {
        data.SetString(text);
    }
}
