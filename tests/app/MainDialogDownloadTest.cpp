// The Download button end to end against the virtual unit: reports, link lines, the progress
// bar, the controls, the status text, and closing the window while a download waits.
#include "AppTestSupport.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include "app/CIpAddressCtrl.h"
#include "app/CMainDialog.h"
#include "app/CSettings.h"
#include "platform/ShellActions.h"
#include "platform/TextBytes.h"
#include "ui/CStatusListBox.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <sys/stat.h>

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

// A settings file may spell the address otherwise than the address control reads it (blanks,
// leading zeros). Download asks the unit at the address Get OID and Start use: the control's.
TEST_F(MainDialogDownload, DownloadUsesTheAddressTheControlReads)
{
    const QJsonObject records {{"port", 0}, {"channel", 0}, {"sensorType", 1}, {"records", QJsonArray {21, 22}}};
    ASSERT_TRUE(StartUnit({{"channels", QJsonArray {records}}}));
    QStringList padded;
    for (const QString& field : QString::fromStdString(m_address).split('.'))
        padded << field.rightJustified(3, '0');
    const std::string spellings[] = {" " + m_address, padded.join('.').toStdString(), m_address + "\t"};
    const QString report = m_cwd.Path() + "/" + QString::fromStdString(m_address) + "_p1_temperature.txt";
    for (const std::string& spelling : spellings) {
        SCOPED_TRACE(spelling);
        CSettings stored;
        stored.m_strIpAddress = spelling;
        stored.m_strPassword = "public";
        stored.m_strFolder = m_cwd.Path().toStdString();
        ASSERT_TRUE(WriteSettingsFile(&stored));
        QFile::remove(report);
        m_dialog = std::make_unique<CMainDialog>();
        m_dialog->show();
        EXPECT_EQ(static_cast<CIpAddressCtrl*>(m_dialog->GetDlgItem(CMainDialog::IdIpAddress))->GetAddressText(),
                  QString::fromStdString(m_address));
        QTest::mouseClick(Button(CMainDialog::IdDownload), Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return Button(CMainDialog::IdDownload)->isEnabled(); }));
        EXPECT_EQ(Lines().value(0), "Saving data to \"" + report + "\" ...") << Lines().join(" | ").toStdString();
        EXPECT_TRUE(QFile::exists(report));
    }
    EXPECT_TRUE(m_spy.texts().isEmpty());
}

// In a folder whose name is not UTF-8 the link line shows the name readable, and its commands
// reach the report just written, by its own bytes.
TEST_F(MainDialogDownload, LinkLineOfAFolderNamedInAnotherEncodingOpensTheReport)
{
    const QJsonObject records {{"port", 0}, {"channel", 0}, {"sensorType", 1}, {"records", QJsonArray {21, 22}}};
    ASSERT_TRUE(StartUnit({{"channels", QJsonArray {records}}}));
    const std::string folder = QFile::encodeName(m_cwd.Path()).toStdString() + "/rep\xE9"; // Latin-1 "repé"
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    CSettings stored;
    stored.m_strIpAddress = m_address;
    stored.m_strPassword = "public";
    stored.m_strFolder = folder;
    ASSERT_TRUE(WriteSettingsFile(&stored));
    m_dialog = std::make_unique<CMainDialog>();
    m_dialog->show();
    QTest::mouseClick(Button(CMainDialog::IdDownload), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Button(CMainDialog::IdDownload)->isEnabled(); }));

    const std::string report = folder + "/" + m_address + "_p1_temperature.txt";
    struct stat st {};
    ASSERT_EQ(::stat(report.c_str(), &st), 0) << "the report is written in the folder";
    ASSERT_TRUE(List()->IsLinkLine(0));
    EXPECT_EQ(List()->GetText(0), "Saving data to \"" + m_cwd.Path() + QString::fromUtf8("/rep\u00e9/")
                                      + QString::fromStdString(m_address) + "_p1_temperature.txt\" ...");

    std::vector<std::pair<platform::ShellAction, std::string>> actions;
    platform::SetShellActionHandler([&](platform::ShellAction action, const QString& path) {
        actions.emplace_back(action, platform::EscapedBytes(path));
    });
    List()->SetCurSel(0);
    for (const int command : {CStatusListBox::IdOpen, CStatusListBox::IdOpenFolder, CStatusListBox::IdProperties})
        List()->OnCommand(command);
    platform::SetShellActionHandler({});
    using platform::ShellAction;
    EXPECT_EQ(actions, (std::vector<std::pair<ShellAction, std::string>> {
                           {ShellAction::OpenInEditor, report}, {ShellAction::OpenFolder, folder},
                           {ShellAction::ShowProperties, report}}));
    for (const auto& [action, path] : actions)
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
}

// A click on Download right as the controls come back, while the driver's thread is still
// ending, starts a new download; the controls then come back again.
TEST_F(MainDialogDownload, AClickAsTheControlsComeBackStartsANewDownload)
{
    const QJsonObject records {{"port", 0}, {"channel", 0}, {"sensorType", 1}, {"records", QJsonArray {21, 22}}};
    ASSERT_TRUE(StartUnit({{"channels", QJsonArray {records}}}));
    QAbstractButton* download = Button(CMainDialog::IdDownload);
    int clicks = 0;
    // The click is queued the moment the button is enabled (inside the window's end of the
    // download, while the driver's thread waits for it), so it comes as soon as it can.
    class EnableWatch : public QObject {
    public:
        explicit EnableWatch(std::function<void()> onEnabled) : m_onEnabled(std::move(onEnabled)) {}
        bool eventFilter(QObject* object, QEvent* event) override
        {
            if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(object)->isEnabled())
                m_onEnabled();
            return false;
        }
        std::function<void()> m_onEnabled;
    } watch([&] {
        if (clicks++ == 0)
            QTimer::singleShot(0, download, [download] { download->click(); });
    });
    download->installEventFilter(&watch);
    download->click();
    const auto statusRequests = [&] { return int(m_sim.LogLines().filter(" datalog status port 0 channel 0").size()); };
    ASSERT_TRUE(WaitUntil([&] { return statusRequests() == 2 && download->isEnabled() && !m_dialog->IsDownloading(); }, 20000))
        << "status requests " << statusRequests() << ", enabled " << download->isEnabled();
    EXPECT_EQ(clicks, 2) << "enabled at the end of each download";
    EXPECT_TRUE(Button(CMainDialog::IdCheckLocalTimezone)->isEnabled());
    EXPECT_TRUE(Button(CMainDialog::IdCheckOverwrite)->isEnabled());
    download->removeEventFilter(&watch);
}

// A Download while one runs (the button is off then; a call of the handler all the same) is
// refused and leaves the controls as they are; the running download gives them back.
TEST_F(MainDialogDownload, ADownloadWhileOneRunsIsRefusedWithTheControlsAsTheyAre)
{
    ASSERT_TRUE(StartUnit({{"faults", QJsonObject {{"silent", true}}}}));
    m_dialog->DatalogClient().set_receive_timeout(200);
    QTest::mouseClick(Button(CMainDialog::IdDownload), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Requests() == 1; }));
    m_dialog->OnDownload();
    EXPECT_FALSE(Button(CMainDialog::IdDownload)->isEnabled());
    EXPECT_FALSE(Button(CMainDialog::IdCheckLocalTimezone)->isEnabled());
    EXPECT_FALSE(Button(CMainDialog::IdCheckOverwrite)->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return Button(CMainDialog::IdDownload)->isEnabled(); }, 10000));
    EXPECT_TRUE(Button(CMainDialog::IdCheckLocalTimezone)->isEnabled());
    EXPECT_TRUE(Button(CMainDialog::IdCheckOverwrite)->isEnabled());
    EXPECT_EQ(Requests(), 5) << "one download: five status requests, then \"No system reply !\"";
    EXPECT_EQ(m_spy.texts(), QStringList {"No system reply !"});
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
