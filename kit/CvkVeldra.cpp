#include "kit/CvkVeldra.h"

CvkVeldra::CvkVeldra(int32_t sendCount, int32_t receiveCount) : sendBuffer(nullptr), receiveBuffer(nullptr)
{
    if (sendCount >= 1 && receiveCount >= 1) {
        sendBuffer = new CvkMessageBuffer(sendCount);
        receiveBuffer = new CvkMessageBuffer(receiveCount);
    }
    if (sendBuffer == nullptr || receiveBuffer == nullptr || sendBuffer->CheckError() ||
        receiveBuffer->CheckError()) {
        _releaseBuffers();
        SetError();
    }
}

CvkVeldra::~CvkVeldra()
{
    _releaseBuffers();
}

void CvkVeldra::_releaseBuffers()
{
    delete sendBuffer;
    delete receiveBuffer;
    sendBuffer = nullptr;
    receiveBuffer = nullptr;
}

int32_t CvkVeldra::SetSendMessage(uint32_t msg, CvVariant p0, CvVariant p1, CvVariant p2, CvVariant p3,
                                  CvVariant p4)
{
    if (sendBuffer == nullptr) {
        return 0;
    }
    return sendBuffer->SetMessage(CVK_MESSAGE_ADDRESS_TOOL, msg, CVK_MESSAGE_ADDRESS_RUNTIME, p0, p1, p2, p3, p4);
}
