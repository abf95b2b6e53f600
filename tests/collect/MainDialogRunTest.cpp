// The main window's Start and Stop with the collector behind them, against the virtual unit:
// the controls of the collecting and idle states, the status area, a second run on the same
// collector, and closing the window during a run.
#include "CollectTestSupport.h"

#include "app/CIpAddressCtrl.h"
#include "app/CMainDialog.h"
#include "collect/CCollector.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"
#include "oidgen/OidTemplates.h"
#include "oidgen/ReadOidDlg.h"
#include "platform/ModalDialog.h"
#include "ui/CPlotChart.h"
#include "ui/CPlotWindow.h"
#include "ui/CStatusListBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QChartView>
#include <QLineSeries>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::WaitUntil;

namespace {

const std::vector<std::string> kOids {ExpandedOid(oidtpl::kTable16Value, 0), ExpandedOid(oidtpl::kTable16Value, 1)};

class MainDialogRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::CanBindPrivilegedPorts())
            GTEST_SKIP() << "the virtual unit needs port 161 (run as root)";
        const QJsonObject unit {
            {"numbering", 0},
            {"ports", QJsonArray {
                QJsonObject {{"index", 0}, {"table16", QJsonObject {{"status", 1}, {"description", "A"}, {"value", 21}}}},
                QJsonObject {{"index", 1}, {"table16", QJsonObject {{"status", 1}, {"description", "B"}, {"value", 22}}}},
            }},
        };
        ASSERT_TRUE(m_sim.StartUnit(unit, m_address)) << m_sim.Error().toStdString();
        // The settings file goes to the current folder: a fresh one of the test's own.
        QDir::setCurrent(m_dir.path());
        m_dialog = std::make_unique<CMainDialog>();
        m_dialog->show();
        m_dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_dialog.get()));
        Item<CIpAddressCtrl>(CMainDialog::IdIpAddress)->SetAddressText(QString::fromStdString(m_address));
        Item<QLineEdit>(CMainDialog::IdPassword)->setText(QStringLiteral("public"));
        Item<QLineEdit>(CMainDialog::IdPeriod)->setText(QStringLiteral("1"));
        Item<QLineEdit>(CMainDialog::IdFolder)->setText(m_dir.path());

        // Get OID: the Generate OID dialog is answered with the list at once.
        platform::SetModalHandler([](QDialog& dialog) -> std::optional<int> {
            auto* generate = dynamic_cast<COidGenDialog*>(&dialog);
            if (!generate)
                return std::nullopt;
            generate->m_oidList = kOids;
            generate->m_sensorNames = {"Port 1 A", "Port 2 B"};
            generate->m_columns = {{"Port 1", "A", "temperature", kOids[0]}, {"Port 2", "B", "humidity", kOids[1]}};
            return QDialog::Accepted;
        });
        Click(CMainDialog::IdGetOid);
        platform::SetModalHandler({});
        ASSERT_TRUE(Item<QWidget>(CMainDialog::IdStart)->isEnabled());
    }

    void TearDown() override
    {
        m_dialog.reset();
        QDir::setCurrent(m_previous);
    }

    template <typename T = QWidget>
    T* Item(int id) const
    {
        auto* widget = qobject_cast<T*>(m_dialog->GetDlgItem(id));
        EXPECT_NE(widget, nullptr) << id;
        return widget;
    }
    void Click(int id) { QTest::mouseClick(Item<QAbstractButton>(id), Qt::LeftButton); }
    bool Enabled(int id) const { return Item(id)->isEnabled(); }
    // The lamp tells its state to a screen reader in its description.
    QString Lamp() const { return Item(CMainDialog::IdLamp)->accessibleDescription(); }
    QStringList StatusLines() const
    {
        QStringList lines;
        const auto* list = Item<CStatusListBox>(CMainDialog::IdStatusList);
        for (int i = 0; i < list->GetCount(); ++i)
            lines << list->GetText(i);
        return lines;
    }
    QString DataPath() const { return m_dir.path() + "/data" + QString::fromStdString(m_address) + ".txt"; }
    int FileLines() const { return static_cast<int>(QString::fromStdString(collecttest::ReadFile(DataPath())).count("\r\n")); }

    void ExpectInputs(bool enabled)
    {
        for (const int id : {CMainDialog::IdFolder, CMainDialog::IdPassword, CMainDialog::IdPeriod, CMainDialog::IdBrowse,
                             CMainDialog::IdIpAddress})
            EXPECT_EQ(Enabled(id), enabled) << id;
        for (const int id : {CMainDialog::IdDownload, CMainDialog::IdCheckOverwrite, CMainDialog::IdCheckLocalTimezone})
            EXPECT_TRUE(Enabled(id)) << id << " stays on: a download may run during a collection";
    }

    const std::string m_address = testsupport::CurrentTestAddress();
    const QString m_previous = QDir::currentPath();
    testsupport::UnitSimProcess m_sim;
    QTemporaryDir m_dir;
    std::unique_ptr<CMainDialog> m_dialog;
};

TEST_F(MainDialogRun, StartAndStopSwitchTheWindowBetweenCollectingAndIdle)
{
    Item<CStatusListBox>(CMainDialog::IdStatusList)->AddString(QStringLiteral("an old line"));
    Click(CMainDialog::IdStart);
    EXPECT_TRUE(m_dialog->IsCollecting());
    ASSERT_NE(m_dialog->Collector(), nullptr);
    EXPECT_EQ(m_dialog->Collector(), g_pCollector);
    EXPECT_FALSE(Enabled(CMainDialog::IdStart));
    EXPECT_TRUE(Enabled(CMainDialog::IdStop));
    EXPECT_FALSE(Enabled(CMainDialog::IdGetOid));
    ExpectInputs(false);
    EXPECT_EQ(QApplication::focusWidget(), Item(CMainDialog::IdStop));
    EXPECT_EQ(m_dialog->GetStatusText(), QStringLiteral("Saving data in file name : data%1.txt.").arg(m_address.c_str()));
    EXPECT_EQ(Lamp(), QStringLiteral("Collecting"));
    const QStringList lines = StatusLines();
    ASSERT_EQ(lines.size(), 1) << "the list was emptied at Start";
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d,  \\d\\d:\\d\\d:\\d\\d,  21,  22$")).match(lines[0]).hasMatch())
        << lines[0].toStdString();
    EXPECT_EQ(FileLines(), 1);
    EXPECT_TRUE(WaitUntil([&] { return FileLines() == 2 && StatusLines().size() == 2; }, 3000));

    Click(CMainDialog::IdStop);
    EXPECT_FALSE(m_dialog->IsCollecting());
    EXPECT_TRUE(Enabled(CMainDialog::IdStart));
    EXPECT_FALSE(Enabled(CMainDialog::IdStop));
    EXPECT_TRUE(Enabled(CMainDialog::IdGetOid));
    ExpectInputs(true);
    EXPECT_EQ(QApplication::focusWidget(), Item(CMainDialog::IdStart));
    EXPECT_EQ(m_dialog->GetStatusText(), QStringLiteral("Ready..."));
    EXPECT_EQ(Lamp(), QStringLiteral("Idle"));

    // The next Start reuses the collector and finds the file of the first run.
    const CCollector* collector = m_dialog->Collector();
    const int before = FileLines();
    collecttest::CFileNameAnswers answers({collecttest::FileNameAnswer {1}});
    Click(CMainDialog::IdStart);
    EXPECT_EQ(answers.Count(), 1);
    EXPECT_EQ(m_dialog->Collector(), collector);
    EXPECT_EQ(FileLines(), before + 1);
    Click(CMainDialog::IdStop);
}

TEST_F(MainDialogRun, ClosingTheWindowDuringARunClosesTheFile)
{
    Click(CMainDialog::IdStart);
    ASSERT_TRUE(m_dialog->IsCollecting());
    m_dialog->reject(); // Exit
    m_dialog.reset();
    EXPECT_EQ(g_pCollector, nullptr);
    EXPECT_TRUE(collecttest::ProbeFromOtherProgram(DataPath()).canLockForWriting);
    const int lines = FileLines();
    EXPECT_GE(lines, 1);
    EXPECT_FALSE(WaitUntil([&] { return FileLines() > lines; }, 1500)) << "nothing after the window is gone";
}

} // namespace

namespace {

TEST_F(MainDialogRun, PlotOfTheRunningDataFileGainsEachNewLine)
{
    Click(CMainDialog::IdStart);
    ASSERT_TRUE(WaitUntil([&] { return FileLines() >= 1; }));
    m_dialog->OnPlotDataFile();
    CPlotWindow* plot = m_dialog->findChild<CPlotWindow*>();
    ASSERT_NE(plot, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return plot->IsLoaded(); }));
    ASSERT_EQ(plot->Chart()->SeriesCount(), 2);
    EXPECT_EQ(plot->Chart()->SeriesName(0), QStringLiteral("Port 1 A"));
    EXPECT_EQ(plot->Chart()->SeriesName(1), QStringLiteral("Port 2 B"));
    const int shown = plot->Chart()->Series(0)->count();
    // The next tick's line appears without anything done in the window.
    ASSERT_TRUE(WaitUntil([&] { return plot->Chart()->Series(0)->count() > shown; }, 8000));
    EXPECT_TRUE(plot->ChartView()->accessibleDescription().contains(QStringLiteral("latest 21")));
    Click(CMainDialog::IdStop);
}

} // namespace
