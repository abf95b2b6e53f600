#include "app/CMainApp.h"

#include "app/CMainDialog.h"
#include "platform/ModalDialog.h"

#include <memory>

int CMainApp::Run()
{
    const auto dialog = std::make_unique<CMainDialog>();
    platform::ExecModal(*dialog);
    return 0;
}
