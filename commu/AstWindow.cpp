#include "commu/AstWindow.h"
#include "platform/PlatformMessageLoop.h"

AstWindow::~AstWindow()
{
    PlatformLoopCancelPosts(this);
}

void AstWindow::PostCloseRequest()
{
    PlatformLoopPost(&AstWindow::_deliverClose, this);
}

void AstWindow::_deliverClose(void* context)
{
    static_cast<AstWindow*>(context)->OnCloseRequest();
}
