#include "kit/CvkBase.h"

#include "kit/CvkHeap.h"

CvkHeap* CvkBase::_pHeap = nullptr;

CvkBase::CvkBase() : m_tag{'B', 'A', 'S', 'E'}, m_status(0), m_lastError(-1) {
    _pHeap = CvkHeapGetMain();
}

CvkBase::~CvkBase() = default;

unsigned CvkBase::GetTag() const {
    return (static_cast<unsigned>(static_cast<uint8_t>(m_tag[0])) << 24) |
           (static_cast<unsigned>(static_cast<uint8_t>(m_tag[1])) << 16) |
           (static_cast<unsigned>(static_cast<uint8_t>(m_tag[2])) << 8) |
           static_cast<unsigned>(static_cast<uint8_t>(m_tag[3]));
}

void CvkBase::SetTag(unsigned tag) {
    m_tag[0] = static_cast<char>(tag >> 24);
    m_tag[1] = static_cast<char>(tag >> 16);
    m_tag[2] = static_cast<char>(tag >> 8);
    m_tag[3] = static_cast<char>(tag);
}
