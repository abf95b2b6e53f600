#include "app/CMainApp.h"

#include "app/CMainDialog.h"
#include "platform/ModalDialog.h"
#include "platform/UiThread.h"

#include <memory>

int CMainApp::Run()
{
    const auto dialog = std::make_unique<CMainDialog>();
    platform::ExecModal(*dialog);
    // The window is done: a worker still handing a result to it is released and its result
    // dropped, so destroying the dialog never waits on a worker that waits on the dialog.
    platform::ShutdownUi();
    return 0;
}
