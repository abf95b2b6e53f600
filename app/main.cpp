#include "app/CMainApp.h"
#include "platform/WidgetMessageBox.h"
#include "snmp/CSnmpSession.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    platform::UseWidgetMessageBoxes();
    // Before any worker can start a session.
    CSnmpSession::InitLibrary();
    CMainApp app;
    return app.Run();
}
