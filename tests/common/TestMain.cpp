// Test programs run with a QApplication on the offscreen platform, so widgets work headless
// and workers can hand calls to the UI thread. A message box that no test expects fails the test.
#include "common/TestSupport.h"

#include "platform/MessageBox.h"
#include "platform/ModalDialog.h"
#include "platform/NotifyIcon.h"
#include "platform/ShellActions.h"
#include "platform/UiThread.h"
#include "download/getdata.h"
#include "snmp/CSnmpSession.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// The platform's process-wide hooks as a program starts with them, except that a message box
// fails the test instead of waiting for a user.
void ResetPlatformHooks()
{
    platform::RestartUi();
    platform::SetMessageBoxHandler([](const QString&, const QString& text) {
        ADD_FAILURE() << "unexpected message box: " << text.toStdString();
    });
    platform::SetMessageBoxPresenter({});
    platform::SetModalHandler({});
    platform::SetShellActionHandler({});
    platform::SetNotifyIconFactory({});
}

// Every test starts from those hooks, whatever the tests before it changed (a ShutdownUi(), a
// handler left installed), so a test program passes run whole and in any order, not only test
// by test under ctest.
class FreshPlatformHooks : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { ResetPlatformHooks(); }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No test may reach anything but a unit of its own on this machine.
    CSnmpSession::RestrictToLoopback();
    getdata::restrict_to_loopback();
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshPlatformHooks);
    return RUN_ALL_TESTS();
}
