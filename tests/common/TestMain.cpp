// Test programs run with a QApplication on the offscreen platform, so widgets work headless
// and workers can hand calls to the UI thread. A message box that no test expects fails the test.
#include "common/TestSupport.h"

#include "platform/MessageBox.h"
#include "download/getdata.h"
#include "snmp/CSnmpSession.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No test may reach anything but a unit of its own on this machine.
    CSnmpSession::RestrictToLoopback();
    getdata::restrict_to_loopback();
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    platform::SetMessageBoxHandler([](const QString&, const QString& text) {
        ADD_FAILURE() << "unexpected message box: " << text.toStdString();
    });
    return RUN_ALL_TESTS();
}
