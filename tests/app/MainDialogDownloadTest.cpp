// The Download button end to end against the virtual unit: reports, link lines, the progress
// bar, the controls, the status text, and closing the window while a download waits.
#include "AppTestSupport.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include "app/CIpAddressCtrl.h"
#include "app/CMainDialog.h"
#include "ui/CStatusListBox.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

class MainDialogDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!CanBindPrivilegedPorts())
            GTEST_SKIP() << "the virtual unit needs root for port 811";
        m_address = CurrentTestAddress();
        m_dialog = std::make_unique<CMainDialog>();
        m_dialog->show();
        static_cast<CIpAddressCtrl*>(m_dialog->GetDlgItem(CMainDialog::IdIpAddress))->SetAddressText(QString::fromStdString(m_address));
        static_cast<QLineEdit*>(m_dialog->GetDlgItem(CMainDialog::IdPassword))->setText("public");
        static_cast<QLineEdit*>(m_dialog->GetDlgItem(CMainDialog::IdFolder))->setText(m_cwd.Path());
    }

    bool StartUnit(const QJsonObject& datalog)
    {
        return Started(m_sim, m_sim.StartUnit(QJsonObject {{"datalog", datalog}}, m_address));
    }
    QAbstractButton* Button(int id) const { return static_cast<QAbstractButton*>(m_dialog->GetDlgItem(id)); }
    QProgressBar* Progress() const { return m_dialog->findChild<QProgressBar*>(); }
    CStatusListBox* List() const { return static_cast<CStatusListBox*>(m_dialog->GetDlgItem(CMainDialog::IdStatusList)); }
    QStringList Lines() const
    {
        QStringList lines;
        for (int i = 0; i < List()->count(); ++i)
            lines << List()->item(i)->text();
        return lines;
    }
    int Requests() const { return int(m_sim.LogLines().filter(" datalog ").size()); }

    TempCurrentDir m_cwd;
    MessageBoxSpy m_spy;
    UnitSimProcess m_sim;
    std::string m_address;
    std::unique_ptr<CMainDialog> m_dialog;
};

} // namespace

TEST_F(MainDialogDownload, DownloadWritesReportsAndOffersThemInTheList)
{
    const QJsonObject records {{"port", 0}, {"channel", 0}, {"sensorType", 1}, {"zone", 35},
                               {"newestTime", 1246449600}, {"interval", 10}, {"records", QJsonArray {21, 22}}};
    ASSERT_TRUE(StartUnit({{"channels", QJsonArray {records}}}));
    m_dialog->DatalogClient().set_receive_timeout(500);
    EXPECT_FALSE(Progress()->isVisible());
    EXPECT_EQ(Progress()->accessibleName(), QStringLiteral("Download progress"));

    QTest::mouseClick(Button(CMainDialog::IdCheckLocalTimezone), Qt::LeftButton);
    QTest::mouseClick(Button(CMainDialog::IdDownload), Qt::LeftButton);
    EXPECT_FALSE(Button(CMainDialog::IdDownload)->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return Button(CMainDialog::IdDownload)->isEnabled(); }));
    EXPECT_TRUE(Button(CMainDialog::IdCheckLocalTimezone)->isEnabled());
    EXPECT_TRUE(Button(CMainDialog::IdCheckOverwrite)->isEnabled());
    EXPECT_FALSE(Progress()->isVisible());
    EXPECT_EQ(static_cast<QLabel*>(m_dialog->GetDlgItem(CMainDialog::IdStatusText))->text(), QStringLiteral("Ready..."));

    const QString path = m_cwd.Path() + "/" + QString::fromStdString(m_address) + "_p1_temperature.txt";
    EXPECT_EQ(Lines(), (QStringList {"Saving data to \"" + path + "\" ...", "Sensor on port 1 has no datalog.",
                                     "Port 2 offline.", "Port 3 offline.", "Port 4 offline.", "Port 5 offline.",
                                     "Port 6 offline.", "Port 7 offline.", "Port 8 offline."}));
    EXPECT_TRUE(List()->IsLinkLine(0));
    const QByteArray report = ReadFileBytes(path);
    EXPECT_TRUE(report.contains("(GMT-05:00, DST observed) Eastern Time (US & Canada)")) << report.constData();
    EXPECT_TRUE(report.contains("\n01/07/2009 07:50:00, 21\n01/07/2009 08:00:00, 22\n\n")) << report.constData();
    EXPECT_TRUE(m_spy.texts().isEmpty());
}

// Closing the window ends a download that waits for a silent unit at once: no further request,
// no report, and the window's exit status stays 0.
TEST_F(MainDialogDownload, ClosingTheWindowEndsTheDownload)
{
    ASSERT_TRUE(StartUnit({{"faults", QJsonObject {{"silent", true}}}}));
    QTest::mouseClick(Button(CMainDialog::IdDownload), Qt::LeftButton);
    // The bar is posted, not waited for: it may show a moment after the request went out.
    ASSERT_TRUE(WaitUntil([&] { return Requests() == 1 && Progress()->isVisible(); }));
    EXPECT_TRUE(m_dialog->IsDownloading());

    QElapsedTimer timer;
    timer.start();
    m_dialog->reject(); // the close box
    EXPECT_EQ(m_dialog->ExitStatus(), 0);
    m_dialog.reset();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_FALSE(WaitUntil([&] { return Requests() > 1; }, 1500));
    EXPECT_EQ(QDir(m_cwd.Path()).entryList(QDir::Files | QDir::Hidden), QStringList {"VeltraneG.ini"});
    EXPECT_TRUE(m_spy.texts().isEmpty());
}

TEST(MainDialogHalt, HaltEndsTheWindowWithItsStatus)
{
    TempCurrentDir cwd;
    CMainDialog dialog;
    dialog.show();
    dialog.HaltProgram(255);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.ExitStatus(), 255);
}
