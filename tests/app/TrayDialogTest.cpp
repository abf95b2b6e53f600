#include "AppTestSupport.h"

#include "app/CMainDialog.h"
#include "app/CTrayDialog.h"
#include "platform/ModalDialog.h"
#include "platform/NotifyIcon.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace {

using platform::TrayMouse;

// The notification area as the fake sees it: what was added and deleted, and whether it refuses.
struct FakeArea {
    bool refuseAdd = false;
    bool refuseDelete = false;
    int adds = 0;
    int deletes = 0;
    bool shown = false;
    platform::NotifyIconData last;
};

class FakeNotifyIcon : public platform::INotifyIcon {
public:
    explicit FakeNotifyIcon(std::shared_ptr<FakeArea> area) : m_area(std::move(area)) {}
    bool Add(const platform::NotifyIconData& data) override
    {
        if (m_area->refuseAdd)
            return false;
        ++m_area->adds;
        m_area->shown = true;
        m_area->last = data;
        return true;
    }
    bool Delete(const platform::NotifyIconData&) override
    {
        if (m_area->refuseDelete)
            return false;
        ++m_area->deletes;
        m_area->shown = false;
        return true;
    }

private:
    std::shared_ptr<FakeArea> m_area;
};

class TrayDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::SetNotifyIconFactory([area = m_area] { return std::make_unique<FakeNotifyIcon>(area); });
        m_dialog = std::make_unique<CMainDialog>();
        m_dialog->show();
    }
    void TearDown() override
    {
        m_dialog.reset();
        platform::SetNotifyIconFactory({});
    }

    // What the desktop reports of a mouse action on the icon.
    void Mouse(TrayMouse mouse, unsigned iconId = CTrayDialog::kTrayIconId)
    {
        platform::TrayIconEvent event(iconId, mouse);
        QCoreApplication::sendEvent(m_dialog.get(), &event);
    }
    // As the desktop minimises a window: the state changes, the command follows.
    void Minimise()
    {
        m_dialog->setWindowState(m_dialog->windowState() | Qt::WindowMinimized);
        QCoreApplication::processEvents();
    }
    bool InTray() const { return !m_dialog->isVisible() && m_area->shown && m_dialog->IsTrayIconShown(); }
    bool Shown() const
    {
        return m_dialog->isVisible() && !m_dialog->isMinimized() && !m_area->shown && !m_dialog->IsTrayIconShown();
    }

    TempCurrentDir m_cwd; // the main dialog reads its settings file from here
    std::shared_ptr<FakeArea> m_area = std::make_shared<FakeArea>();
    std::unique_ptr<CMainDialog> m_dialog;
};

TEST_F(TrayDialogTest, MinimiseHidesTheWindowBehindOneIconWithTheProgramsTip)
{
    Minimise();
    EXPECT_TRUE(InTray());
    EXPECT_EQ(m_area->adds, 1);
    EXPECT_EQ(m_area->last.hWnd, m_dialog.get());
    EXPECT_EQ(m_area->last.uID, 1u);
    EXPECT_EQ(m_area->last.uFlags, unsigned(platform::NifMessage | platform::NifIcon | platform::NifTip));
    EXPECT_EQ(m_area->last.szTip, QStringLiteral("VeltraneG"));
    EXPECT_FALSE(m_area->last.hIcon.isNull());

    // A second minimise, and a minimise command, add no second icon and show nothing.
    Minimise();
    m_dialog->OnSysCommand(CTrayDialog::SC_MINIMIZE | 0x2);
    EXPECT_TRUE(InTray());
    EXPECT_EQ(m_area->adds, 1);
}

TEST_F(TrayDialogTest, LeftClickOrDoubleClickBringsTheWindowBackOnce)
{
    for (const TrayMouse first : {TrayMouse::LButtonDown, TrayMouse::LButtonDblClk}) {
        SCOPED_TRACE(int(first));
        Minimise();
        ASSERT_TRUE(InTray());
        const int deletes = m_area->deletes;
        Mouse(first);
        EXPECT_TRUE(Shown());
        // The double click that follows a press finds no icon and changes nothing.
        Mouse(TrayMouse::LButtonDblClk);
        EXPECT_TRUE(Shown());
        EXPECT_EQ(m_area->deletes, deletes + 1);
    }
    // Minimised again after the restore, it goes to the notification area again.
    Minimise();
    EXPECT_TRUE(InTray());
    EXPECT_EQ(m_area->adds, 3);
}

TEST_F(TrayDialogTest, OtherMouseActionsAndOtherIconIdsChangeNothing)
{
    Minimise();
    for (const TrayMouse mouse : {TrayMouse::RButtonDown, TrayMouse::ContextMenu, TrayMouse::RButtonDblClk,
                                  TrayMouse::MouseMove, TrayMouse::Other})
        Mouse(mouse);
    Mouse(TrayMouse::LButtonDown, 2);
    EXPECT_TRUE(InTray());
    EXPECT_EQ(m_area->deletes, 0);
}

TEST_F(TrayDialogTest, WithoutANotificationAreaMinimiseGoesToTheTaskbar)
{
    m_area->refuseAdd = true;
    Minimise();
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_TRUE(m_dialog->isMinimized());
    EXPECT_FALSE(m_dialog->IsTrayIconShown());
    m_dialog->showNormal();
    EXPECT_FALSE(m_dialog->isMinimized());
}

TEST_F(TrayDialogTest, AnIconTheDesktopKeepsKeepsTheWindowHiddenUntilTheNextClick)
{
    Minimise();
    m_area->refuseDelete = true;
    Mouse(TrayMouse::LButtonDown);
    EXPECT_TRUE(InTray());
    m_area->refuseDelete = false;
    Mouse(TrayMouse::LButtonDown);
    EXPECT_TRUE(Shown());
}

TEST_F(TrayDialogTest, WindowComesBackWhenTheNotificationAreaGoesAway)
{
    Minimise();
    Mouse(TrayMouse::HostGone);
    EXPECT_TRUE(Shown());
    EXPECT_EQ(m_area->deletes, 1);
}

TEST_F(TrayDialogTest, EndingWhileHiddenRemovesTheIconAndEndingWhileShownRemovesNothing)
{
    m_dialog.reset();
    EXPECT_EQ(m_area->deletes, 0);

    m_dialog = std::make_unique<CMainDialog>();
    m_dialog->show();
    Minimise();
    m_dialog.reset();
    EXPECT_EQ(m_area->deletes, 1);
    EXPECT_FALSE(m_area->shown);
}

// The modal run goes on while the window is in the notification area (collection and downloads
// with it) and ends only when the dialog does.
TEST_F(TrayDialogTest, ModalRunGoesOnWhileHidden)
{
    bool hiddenWhileRunning = false;
    bool shownAgain = false;
    QTimer::singleShot(0, m_dialog.get(), [&] {
        Minimise();
        QTimer::singleShot(50, m_dialog.get(), [&] {
            hiddenWhileRunning = InTray();
            Mouse(TrayMouse::LButtonDown);
            shownAgain = Shown();
            m_dialog->reject();
        });
    });
    EXPECT_EQ(platform::ExecModal(*m_dialog), QDialog::Rejected);
    EXPECT_TRUE(hiddenWhileRunning);
    EXPECT_TRUE(shownAgain);
}

TEST(TrayDialogRecord, IconWithoutResourceChangesNothingAndTipKeeps63Characters)
{
    CTrayDialog dialog;
    EXPECT_EQ(dialog.TrayIconData().uFlags, unsigned(platform::NifMessage));
    EXPECT_TRUE(dialog.SetTrayIcon(9999).isNull());
    EXPECT_EQ(dialog.TrayIconData().uFlags, unsigned(platform::NifMessage));
    EXPECT_FALSE(dialog.SetTrayIcon(128).isNull());
    const QString tip = QString(62, QChar(u'x')) + QStringLiteral("äü");
    dialog.SetTrayTip(tip);
    EXPECT_EQ(dialog.TrayIconData().szTip, tip.left(63));
    EXPECT_EQ(dialog.TrayIconData().uFlags, unsigned(platform::NifMessage | platform::NifIcon | platform::NifTip));
    // Nothing to remove yet.
    EXPECT_FALSE(dialog.RemoveTrayIcon());
}

} // namespace
