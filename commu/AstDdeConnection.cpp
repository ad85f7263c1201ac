#include "commu/AstDdeConnection.h"
#include "kit/CvkHeap.h"

AstDdeConnection::AstDdeConnection()
{
    SetTag(0x41444343); // "ADCC"
}

AstDdeConnection::~AstDdeConnection()
{
    DestroyData();
}

uint8_t* AstDdeConnection::CreateData(uint32_t size)
{
    DestroyData();
    if (size == UINT32_MAX) {
        return nullptr;
    }
    // One byte more than asked: the zero that keeps the data a bounded text.
    m_data = static_cast<uint8_t*>(t_cvkSystemHeapAlloc(size + 1, 0, __FILE__, __LINE__));
    if (m_data == nullptr) {
        return nullptr;
    }
    m_data[size] = 0;
    m_size = size;
    return m_data;
}

void AstDdeConnection::DestroyData()
{
    if (m_data != nullptr) {
        t_cvkSystemHeapFree(m_data, __FILE__, __LINE__);
    }
    m_data = nullptr;
    m_size = 0;
}
