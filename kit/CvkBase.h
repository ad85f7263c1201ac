#pragma once
// Base of kit objects: a four-character type tag, a word of status flags and
// a last-error code. Objects whose construction fails set their Error flag
// instead of throwing; callers test CheckError before use.

#include "kit/CvkAllocator.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class CvkHeap;

enum : uint16_t {
    CVK_STATUS_BUSY = 0x0001,
    CVK_STATUS_ERROR = 0x0002,
    CVK_STATUS_READY = 0x0004,
    CVK_STATUS_RUN = 0x0008,
    CVK_STATUS_FINISH = 0x0010,
    CVK_STATUS_CANCEL = 0x0020,
};

class LUMIVOR_EXPORT CvkBase : public CvkAllocator {
public:
    CvkBase();
    virtual ~CvkBase();

    // The tag as one number, first character in the most significant byte.
    unsigned GetTag() const;

    void ClearStatus() { m_status = 0; }
    void SetBusy() { m_status |= CVK_STATUS_BUSY; }
    void ResetBusy() { m_status &= static_cast<uint16_t>(~CVK_STATUS_BUSY); }
    unsigned CheckBusy() const { return m_status & CVK_STATUS_BUSY; }
    void SetError() { m_status |= CVK_STATUS_ERROR; }
    void ResetError() { m_status &= static_cast<uint16_t>(~CVK_STATUS_ERROR); }
    unsigned CheckError() const { return m_status & CVK_STATUS_ERROR; }
    void SetReady() { m_status |= CVK_STATUS_READY; }
    void ResetReady() { m_status &= static_cast<uint16_t>(~CVK_STATUS_READY); }
    unsigned CheckReady() const { return m_status & CVK_STATUS_READY; }
    void SetRun() { m_status |= CVK_STATUS_RUN; }
    void ResetRun() { m_status &= static_cast<uint16_t>(~CVK_STATUS_RUN); }
    unsigned CheckRun() const { return m_status & CVK_STATUS_RUN; }
    void SetFinish() { m_status |= CVK_STATUS_FINISH; }
    void ResetFinish() { m_status &= static_cast<uint16_t>(~CVK_STATUS_FINISH); }
    unsigned CheckFinish() const { return m_status & CVK_STATUS_FINISH; }
    void SetCancel() { m_status |= CVK_STATUS_CANCEL; }
    void ResetCancel() { m_status &= static_cast<uint16_t>(~CVK_STATUS_CANCEL); }
    unsigned CheckCancel() const { return m_status & CVK_STATUS_CANCEL; }

    short GetLastError() const { return m_lastError; }
    void SetLastError(short error) { m_lastError = error; }

protected:
    // tag: first character in the most significant byte (0x42415345 = "BASE").
    void SetTag(unsigned tag);

    // The kit's main heap, refreshed from the heap slots by every construction.
    static CvkHeap* _pHeap;

private:
    char m_tag[4];          // in reading order
    uint16_t m_status;
    int16_t m_lastError;
};
