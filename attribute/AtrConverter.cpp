#include "attribute/AtrConverter.h"

#include "kit/CvString.h"
#include "kit/CvkFile.h"
#include "kit/CvkFileName.h"
#include "kit/CvkHeap.h"

AtrConverter::AtrConverter() : m_buffer(nullptr), m_size(0)
{
    SetTag(0x41545256); // "ATRV"
}

AtrConverter::~AtrConverter() { _freeBuffer(); }

void AtrConverter::_freeBuffer()
{
    if (m_buffer != nullptr) {
        t_cvkMainHeapFree(m_buffer, __FILE__, __LINE__);
    }
    m_buffer = nullptr;
    m_size = 0;
}

AtrNode* AtrConverter::CreateTreeFromFile(const char* path)
{
    if (path == nullptr) {
        SetError();
        return nullptr;
    }
    const CvString expanded = CvkFileNameExtractEnvName(path);
    CvkFile file(expanded.GetBuffer());
    if (file.CheckError() != 0 || !file.ReadFile(nullptr, 0, 0) || file.GetSize() == 0 || file.GetBuffer() == nullptr) {
        SetError();
        return nullptr;
    }
    return CreateTree(file.GetBuffer(), file.GetSize());
}
