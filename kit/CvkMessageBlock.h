#pragma once
// CvkMessageBlock: one kit message - addressee, message number, sender and
// five variant parameters - in one slot of a CvkMessageBuffer.

#include "kit/CvVariant.h"
#include "kit/CvkAllocator.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class LUMIVOR_EXPORT CvkMessageBlock : public CvkAllocator {
public:
    // index, to, msg, from and use 0; every parameter "SINT" 0.
    CvkMessageBlock();
    CvkMessageBlock(const CvkMessageBlock& other) = default;
    CvkMessageBlock& operator=(const CvkMessageBlock& other) = default;
    virtual ~CvkMessageBlock();

    uint32_t GetIndex() const { return index; }
    void SetIndex(uint32_t v) { index = v; }
    uint32_t GetTo() const { return to; }
    void SetTo(uint32_t v) { to = v; }
    uint32_t GetMsg() const { return msg; }
    void SetMsg(uint32_t v) { msg = v; }
    uint32_t GetFrom() const { return from; }
    void SetFrom(uint32_t v) { from = v; }
    // 1 while the slot holds a live message, 0 when it is free.
    uint32_t GetUse() const { return use; }
    void SetUse(uint32_t v) { use = v; }

    const CvVariant& GetParam0() const { return param0; }
    const CvVariant& GetParam1() const { return param1; }
    const CvVariant& GetParam2() const { return param2; }
    const CvVariant& GetParam3() const { return param3; }
    const CvVariant& GetParam4() const { return param4; }
    void SetParam0(const CvVariant& v) { param0 = v; }
    void SetParam1(const CvVariant& v) { param1 = v; }
    void SetParam2(const CvVariant& v) { param2 = v; }
    void SetParam3(const CvVariant& v) { param3 = v; }
    void SetParam4(const CvVariant& v) { param4 = v; }

    // Fills the address fields and parameters; index and use stay.
    void Set(uint32_t to, uint32_t msg, uint32_t from, const CvVariant& p0, const CvVariant& p1,
             const CvVariant& p2, const CvVariant& p3, const CvVariant& p4);

private:
    uint32_t index;
    uint32_t to;
    uint32_t msg;
    uint32_t from;
    CvVariant param0;
    CvVariant param1;
    CvVariant param2;
    CvVariant param3;
    CvVariant param4;
    uint32_t use;
};
