#pragma once
// Base of kit classes: class-level new and delete go to the system heap slot.
//
// The operators are noexcept: when the system slot is empty or the heap is
// exhausted, new yields null and no constructor runs (nothing throws).
// Placement new stays available for objects built in caller memory.

#include "platform/PlatformExport.h"

#include <cstddef>

class LUMIVOR_EXPORT CvkAllocator {
public:
    static void* operator new(std::size_t size) noexcept;
    static void* operator new(std::size_t size, const char* fileName, int line) noexcept;
    static void* operator new[](std::size_t size) noexcept;
    static void* operator new[](std::size_t size, const char* fileName, int line) noexcept;
    static void* operator new(std::size_t size, void* place) noexcept { (void)size; return place; }

    static void operator delete(void* pointer) noexcept;
    static void operator delete(void* pointer, const char* fileName, int line) noexcept;
    static void operator delete[](void* pointer) noexcept;
    static void operator delete[](void* pointer, const char* fileName, int line) noexcept;
    static void operator delete(void* pointer, void* place) noexcept { (void)pointer; (void)place; }
};
