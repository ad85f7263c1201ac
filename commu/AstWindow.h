#pragma once
// AstWindow: the stand-in for an application's main window as the
// communication layer sees it - something that can be asked to close.
//
// A close request is posted: it reaches the window through the message
// loop (AstProcessMessages), as a window message would, and calls
// OnCloseRequest. The default marks the window closed; an application
// overrides it to shut down.

#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

class LUMIVOR_EXPORT AstWindow : public CvkBase {
public:
    AstWindow() = default;
    ~AstWindow() override;
    AstWindow(const AstWindow&) = delete;
    AstWindow& operator=(const AstWindow&) = delete;

    // Queues a close request for the next round of the message loop.
    void PostCloseRequest();
    virtual void OnCloseRequest() { m_closed = true; }
    bool IsClosed() const { return m_closed; }

private:
    static void _deliverClose(void* context);

    bool m_closed = false;
};
