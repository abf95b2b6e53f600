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
    // 0, or the status of a program that had to end (no socket for a download).
    return dialog->ExitStatus();
}
