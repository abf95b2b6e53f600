// The Generate OID dialog against virtual units: the scan behind the busy animation, the
// controls before and after it, ticking rows, the OID list OK gives, and what a screen reader
// can read of the list.
#include "ScanTestSupport.h"

#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"
#include "oidgen/ReadOidDlg.h"
#include "ui/CGifAnimator.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <ctime>

using namespace testsupport;

namespace {

#define REQUIRE_PORT_161()                                                                                            \
    if (!CanBindPrivilegedPorts())                                                                                     \
    GTEST_SKIP() << "needs root to serve port 161"

const int kAllButtonsAndList[] = {COidGenDialog::IdList, COidGenDialog::IdSelectAll, COidGenDialog::IdClearAll,
                                  COidGenDialog::IdOK, COidGenDialog::IdCancel, COidGenDialog::IdGenOid};

QJsonObject Sensor(const char* description, int type = 0)
{
    QJsonObject row{{"status", 1}, {"description", description}, {"value", 20}};
    if (type != 0)
        row["type"] = type;
    return row;
}

// Three online sensors on a 2-port unit without sub-tables: a table-16 probe at port 1, and at
// port 2 a table-16 probe and a table-17 door contact (type 5, no icon).
QJsonObject ThreeSensorUnit()
{
    return QJsonObject{
        {"portCount", 2},
        {"ports", QJsonArray{QJsonObject{{"index", 0}, {"table16", Sensor("Temperature 1")}},
                             QJsonObject{{"index", 1}, {"table16", Sensor("Temperature 2")},
                                         {"table17", Sensor("Door", 5)}}}},
    };
}

std::string Oid(const std::string& rest)
{
    return Oem(rest).toStdString();
}

class OidGenDialogTest : public ::testing::Test {
protected:
    testing::AssertionResult StartUnit(const QJsonObject& unit)
    {
        return Started(m_sim, m_sim.StartUnit(unit, m_address));
    }

    // Opens the dialog on the test's unit and waits for the scan to end.
    bool OpenAndScan(int timeoutMs = 15000)
    {
        m_dialog.m_strIpAddress = m_address;
        m_dialog.m_strCommunity = "public";
        m_dialog.show();
        return WaitUntil([&] { return m_dialog.IsScanFinished(); }, timeoutMs);
    }

    QTreeWidget* List() const { return static_cast<QTreeWidget*>(m_dialog.GetDlgItem(COidGenDialog::IdList)); }
    QPushButton* Button(int id) const { return static_cast<QPushButton*>(m_dialog.GetDlgItem(id)); }
    CGifAnimator* Busy() const { return static_cast<CGifAnimator*>(m_dialog.GetDlgItem(COidGenDialog::IdAnimation)); }
    // The status text; a screen reader reads the same words.
    QString Status() const
    {
        auto* label = static_cast<QLabel*>(m_dialog.GetDlgItem(COidGenDialog::IdStatus));
        EXPECT_EQ(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name), label->text());
        return label->text();
    }

    std::vector<Qt::CheckState> Checks() const
    {
        std::vector<Qt::CheckState> checks;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            checks.push_back(List()->topLevelItem(i)->checkState(0));
        return checks;
    }

    void Click(int id) { QTest::mouseClick(Button(id), Qt::LeftButton); }

    const std::string m_address = CurrentTestAddress();
    UnitSimProcess m_sim;
    COidGenDialog m_dialog;
};

} // namespace

TEST_F(OidGenDialogTest, TemplateControlsAndTheirStateWhileScanning)
{
    REQUIRE_PORT_161();
    // A unit that answers slowly keeps the dialog in its scanning state for a while.
    QJsonObject unit = ThreeSensorUnit();
    unit["faults"] = QJsonObject{{"delayMs", 300}};
    ASSERT_TRUE(StartUnit(unit));

    m_dialog.m_strIpAddress = m_address;
    m_dialog.m_strCommunity = "public";
    m_dialog.show();
    EXPECT_EQ(m_dialog.windowTitle(), QStringLiteral("Genarate OID"));
    EXPECT_EQ(Status(), QString::fromStdString(" Finding sensor online at IP " + m_address + " ."));
    EXPECT_TRUE(Busy()->IsAnimating());
    EXPECT_EQ(Busy()->FrameCount(), 7);
    for (int id : kAllButtonsAndList)
        EXPECT_FALSE(m_dialog.GetDlgItem(id)->isEnabled()) << id;
    EXPECT_FALSE(Button(COidGenDialog::IdGenOid)->isVisible());
    EXPECT_TRUE(Button(COidGenDialog::IdOK)->isDefault());
    EXPECT_EQ(List()->headerItem()->text(0), QStringLiteral("Port No."));
    EXPECT_EQ(List()->headerItem()->text(1), QStringLiteral("Description"));
    EXPECT_EQ(List()->headerItem()->text(2), QStringLiteral("Status"));

    // The close box and Escape are refused while the worker still uses the dialog.
    QCloseEvent close;
    QCoreApplication::sendEvent(&m_dialog, &close);
    EXPECT_FALSE(close.isAccepted());
    QTest::keyClick(&m_dialog, Qt::Key_Escape);
    m_dialog.reject();
    m_dialog.accept();
    EXPECT_TRUE(m_dialog.isVisible());
    EXPECT_FALSE(m_dialog.IsScanFinished());

    ASSERT_TRUE(WaitUntil([&] { return m_dialog.IsScanFinished(); }, 30000));
    EXPECT_TRUE(m_dialog.isVisible());
    EXPECT_FALSE(Busy()->IsAnimating());
    EXPECT_FALSE(Busy()->isVisible());
    for (int id : kAllButtonsAndList)
        EXPECT_TRUE(m_dialog.GetDlgItem(id)->isEnabled()) << id;
    EXPECT_FALSE(Button(COidGenDialog::IdGenOid)->isVisible());
    EXPECT_EQ(m_dialog.focusWidget(), Button(COidGenDialog::IdCancel));

    // Now the close box ends it, with the Cancel result.
    EXPECT_TRUE(m_dialog.close());
    EXPECT_EQ(m_dialog.result(), QDialog::Rejected);
}

TEST_F(OidGenDialogTest, ThreeSensorsOneClearedGivesTheOtherTwoInListOrder)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(ThreeSensorUnit()));
    ASSERT_TRUE(OpenAndScan());
    EXPECT_EQ(Status(), QString::fromStdString(" IP " + m_address
                                               + " has 3 sensors online , then select wanted sensor and press GenOID."));
    ASSERT_EQ(List()->topLevelItemCount(), 3);
    EXPECT_EQ(Checks(), (std::vector<Qt::CheckState>{Qt::Checked, Qt::Checked, Qt::Checked}));
    const QStringList labels{List()->topLevelItem(0)->text(0), List()->topLevelItem(1)->text(0),
                             List()->topLevelItem(2)->text(0)};
    EXPECT_EQ(labels, (QStringList{"Port 1", "Port 2", "Port 2"}));
    EXPECT_EQ(List()->topLevelItem(2)->text(1), QStringLiteral("Door"));
    EXPECT_EQ(List()->topLevelItem(2)->text(2), QStringLiteral("Online"));
    // Icons: thermometers for the table-16 probes, none for the door contact.
    auto opaquePixels = [&](int row) {
        const QImage image = List()->topLevelItem(row)->icon(0).pixmap(QSize(19, 20)).toImage();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += qAlpha(image.pixel(x, y)) != 0;
        return n;
    };
    EXPECT_EQ(opaquePixels(0), 19 * 20); // the thermometer on white: every pixel drawn
    EXPECT_EQ(opaquePixels(2), 0);

    // The user clears the middle row's check box.
    List()->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    Click(COidGenDialog::IdOK);
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
    EXPECT_EQ(m_dialog.m_oidList, (std::vector<std::string>{Oid("1.2.2.1.16.1.3.0"), Oid("1.2.2.1.17.1.3.1")}));
    EXPECT_EQ(Status(), QStringLiteral(" Generate OID complete."));
}

TEST_F(OidGenDialogTest, SelectAllAndClearAllTickEveryRowAndClearAllThenOkGivesAnEmptyList)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(ThreeSensorUnit()));
    ASSERT_TRUE(OpenAndScan());
    const QString scanText = Status();

    Click(COidGenDialog::IdClearAll);
    EXPECT_EQ(Checks(), (std::vector<Qt::CheckState>{Qt::Unchecked, Qt::Unchecked, Qt::Unchecked}));
    Click(COidGenDialog::IdSelectAll);
    EXPECT_EQ(Checks(), (std::vector<Qt::CheckState>{Qt::Checked, Qt::Checked, Qt::Checked}));
    EXPECT_EQ(Status(), scanText); // neither touches the status field
    EXPECT_TRUE(m_dialog.m_oidList.empty());

    Click(COidGenDialog::IdClearAll);
    Click(COidGenDialog::IdOK);
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(m_dialog.m_oidList.empty());
    EXPECT_EQ(Status(), QStringLiteral(" Cannot generate OID."));
}

TEST_F(OidGenDialogTest, SilentUnitLeavesOnlyOkAndCancel)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{{"faults", QJsonObject{{"silent", true}}}}));
    // One read and four resends of 4 seconds each.
    ASSERT_TRUE(OpenAndScan(40000));
    EXPECT_EQ(Status(), QString::fromStdString(" IP " + m_address + " is not active."));
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    for (int id : {COidGenDialog::IdList, COidGenDialog::IdSelectAll, COidGenDialog::IdClearAll,
                   COidGenDialog::IdGenOid})
        EXPECT_FALSE(m_dialog.GetDlgItem(id)->isEnabled()) << id;
    EXPECT_TRUE(Button(COidGenDialog::IdOK)->isEnabled());
    EXPECT_TRUE(Button(COidGenDialog::IdCancel)->isEnabled());

    Click(COidGenDialog::IdOK);
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(m_dialog.m_oidList.empty());
    EXPECT_EQ(Status(), QStringLiteral(" Cannot generate OID."));
}

TEST_F(OidGenDialogTest, CancelEndsWithTheCancelResult)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(ThreeSensorUnit()));
    ASSERT_TRUE(OpenAndScan());
    Click(COidGenDialog::IdCancel);
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(m_dialog.m_oidList.empty());
}

TEST_F(OidGenDialogTest, RowsCellsAndCheckStatesReachAssistiveTechnology)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(ThreeSensorUnit()));
    ASSERT_TRUE(OpenAndScan());
    List()->topLevelItem(2)->setCheckState(0, Qt::Unchecked);

    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(List());
    ASSERT_NE(list, nullptr);
    QAccessibleTableInterface* table = list->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->columnCount(), 3);
    auto cell = [&](int row, int column) { return table->cellAt(row, column); };
    EXPECT_EQ(cell(0, 0)->text(QAccessible::Name), QStringLiteral("Port 1"));
    EXPECT_EQ(cell(0, 1)->text(QAccessible::Name), QStringLiteral("Temperature 1"));
    EXPECT_EQ(cell(0, 2)->text(QAccessible::Name), QStringLiteral("Online"));
    EXPECT_TRUE(cell(0, 0)->state().checkable);
    EXPECT_TRUE(cell(0, 0)->state().checked);
    EXPECT_FALSE(cell(2, 0)->state().checked);
    EXPECT_EQ(table->columnDescription(1), QStringLiteral("Description"));
}

TEST_F(OidGenDialogTest, ColumnWidthsFollowTheListsClientWidth)
{
    EXPECT_EQ(COidGenDialog::ColumnWidths(450), (std::array<int, 3>{135, 225, 100}));
    EXPECT_EQ(COidGenDialog::ColumnWidths(458), (std::array<int, 3>{135, 225, 100}));
    EXPECT_EQ(COidGenDialog::ColumnWidths(8), (std::array<int, 3>{0, 0, 0}));
    // 2.7 x 37 = 99.9 is cut to 99, 4.5 x 37 = 166.5 to 166.
    EXPECT_EQ(COidGenDialog::ColumnWidths(333), (std::array<int, 3>{99, 166, 74}));

    // On the widget: a list whose client area is 450 pixels wide.
    QTreeWidget* list = List();
    list->ensurePolished();
    const int frame = list->width() - list->contentsRect().width();
    list->resize(450 + frame, list->height());
    m_dialog.SetupColumns();
    EXPECT_EQ(list->header()->sectionSize(0), 135);
    EXPECT_EQ(list->header()->sectionSize(1), 225);
    EXPECT_EQ(list->header()->sectionSize(2), 100);
}

TEST_F(OidGenDialogTest, DestroyedUnderARunningScanWaitsForItsWorker)
{
    REQUIRE_PORT_161();
    // As when the program ends while a scan runs: the dialog's end cuts the scan short and waits
    // for its worker, asleep, instead of pulling the rows and widgets from under it.
    QJsonObject unit = ThreeSensorUnit();
    unit["faults"] = QJsonObject{{"silent", true}}; // each read would wait 20 s
    ASSERT_TRUE(StartUnit(unit));
    auto dialog = std::make_unique<COidGenDialog>();
    dialog->m_strIpAddress = m_address;
    dialog->m_strCommunity = "public";
    dialog->show();
    ASSERT_TRUE(WaitUntil([&] { return !m_sim.Requests().isEmpty(); }));
    EXPECT_FALSE(dialog->IsScanFinished());

    auto cpuMs = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
    };
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuMs();
    dialog.reset();
    const double cpu = cpuMs() - cpuBefore;
    EXPECT_LT(wall.elapsed(), 1500) << "the read under way was given up";
    EXPECT_LT(cpu, 100.0) << "waited without spinning, " << wall.elapsed() << " ms wall";
    QTest::qWait(1000);
    EXPECT_EQ(m_sim.Requests().size(), 1) << "no further read";
}
