#include "kit/CvkMessageBlock.h"

CvkMessageBlock::CvkMessageBlock() : index(0), to(0), msg(0), from(0), use(0) {}

CvkMessageBlock::~CvkMessageBlock() = default;

void CvkMessageBlock::Set(uint32_t toValue, uint32_t msgValue, uint32_t fromValue, const CvVariant& p0,
                          const CvVariant& p1, const CvVariant& p2, const CvVariant& p3, const CvVariant& p4)
{
    to = toValue;
    msg = msgValue;
    from = fromValue;
    param0 = p0;
    param1 = p1;
    param2 = p2;
    param3 = p3;
    param4 = p4;
}
