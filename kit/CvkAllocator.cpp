#include "kit/CvkAllocator.h"

#include "kit/CvkHeap.h"

// Alignment 0: the system heap's own alignment.
void* CvkAllocator::operator new(std::size_t size) noexcept {
    return t_cvkSystemHeapAlloc(static_cast<uint32_t>(size), 0, nullptr, 0);
}
void* CvkAllocator::operator new(std::size_t size, const char* fileName, int line) noexcept {
    return t_cvkSystemHeapAlloc(static_cast<uint32_t>(size), 0, fileName, line);
}
void* CvkAllocator::operator new[](std::size_t size) noexcept {
    return t_cvkSystemHeapAlloc(static_cast<uint32_t>(size), 0, nullptr, 0);
}
void* CvkAllocator::operator new[](std::size_t size, const char* fileName, int line) noexcept {
    return t_cvkSystemHeapAlloc(static_cast<uint32_t>(size), 0, fileName, line);
}
void CvkAllocator::operator delete(void* pointer) noexcept {
    if (pointer) t_cvkSystemHeapFree(pointer, nullptr, 0);
}
void CvkAllocator::operator delete(void* pointer, const char* fileName, int line) noexcept {
    if (pointer) t_cvkSystemHeapFree(pointer, fileName, line);
}
void CvkAllocator::operator delete[](void* pointer) noexcept {
    if (pointer) t_cvkSystemHeapFree(pointer, nullptr, 0);
}
void CvkAllocator::operator delete[](void* pointer, const char* fileName, int line) noexcept {
    if (pointer) t_cvkSystemHeapFree(pointer, fileName, line);
}
