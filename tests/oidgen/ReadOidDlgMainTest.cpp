// Get OID in the main dialog: the Generate OID dialog runs on the unit the main dialog names,
// and its result decides the OID list and whether Start is available.
#include "ScanTestSupport.h"

#include "app/CIpAddressCtrl.h"
#include "app/CMainDialog.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"
#include "oidgen/ReadOidDlg.h"
#include "platform/ModalDialog.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

QJsonObject TwoSensorUnit()
{
    return QJsonObject{
        {"portCount", 2},
        {"ports", QJsonArray{QJsonObject{{"index", 0}, {"table16", QJsonObject{{"status", 1}, {"description", "Room"}}}},
                             QJsonObject{{"index", 1}, {"table16", QJsonObject{{"status", 1}, {"description", "Rack"}}}}}},
    };
}

// What the user does in the Generate OID dialog once its scan is over.
enum class Answer { Ok, ClearAllThenOk, Cancel };

class GetOidTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir::setCurrent(m_cwd.path()); // the settings file lives in the current directory
        m_dialog = std::make_unique<CMainDialog>();
        m_dialog->show();
        static_cast<CIpAddressCtrl*>(m_dialog->GetDlgItem(CMainDialog::IdIpAddress))
            ->SetAddressText(QString::fromStdString(m_address));
        static_cast<QLineEdit*>(m_dialog->GetDlgItem(CMainDialog::IdPassword))->setText(QStringLiteral("public"));
    }

    void TearDown() override
    {
        platform::SetModalHandler({});
        m_dialog.reset();
        QDir::setCurrent(m_previous);
    }

    // Presses Get OID and answers the Generate OID dialog.
    void GetOid(Answer answer)
    {
        platform::SetModalHandler([&](QDialog& dialog) -> std::optional<int> {
            auto* oidGen = qobject_cast<COidGenDialog*>(&dialog);
            if (!oidGen) {
                ADD_FAILURE() << "unexpected dialog";
                return QDialog::Rejected;
            }
            ++m_nRuns;
            m_strSeenAddress = oidGen->m_strIpAddress;
            m_strSeenCommunity = oidGen->m_strCommunity;
            oidGen->show();
            if (!WaitUntil([&] { return oidGen->IsScanFinished(); }, 20000)) {
                ADD_FAILURE() << "scan did not finish";
                return QDialog::Rejected;
            }
            auto click = [&](int id) { QTest::mouseClick(static_cast<QPushButton*>(oidGen->GetDlgItem(id)), Qt::LeftButton); };
            if (answer == Answer::ClearAllThenOk)
                click(COidGenDialog::IdClearAll);
            click(answer == Answer::Cancel ? int(COidGenDialog::IdCancel) : int(COidGenDialog::IdOK));
            return oidGen->result();
        });
        QTest::mouseClick(static_cast<QPushButton*>(m_dialog->GetDlgItem(CMainDialog::IdGetOid)), Qt::LeftButton);
    }

    bool StartEnabled() const { return m_dialog->GetDlgItem(CMainDialog::IdStart)->isEnabled(); }

    const std::string m_address = CurrentTestAddress();
    const QString m_previous = QDir::currentPath();
    QTemporaryDir m_cwd;
    UnitSimProcess m_sim;
    std::unique_ptr<CMainDialog> m_dialog;
    int m_nRuns = 0;
    std::string m_strSeenAddress;
    std::string m_strSeenCommunity;
};

} // namespace

TEST_F(GetOidTest, OkTakesTheListCancelKeepsItAndAnEmptyListDisablesStart)
{
    if (!CanBindPrivilegedPorts())
        GTEST_SKIP() << "needs root to serve port 161";
    ASSERT_TRUE(m_sim.StartUnit(TwoSensorUnit(), m_address)) << m_sim.Error().toStdString();
    const std::vector<std::string> both{Oem("1.2.2.1.16.1.3.0").toStdString(), Oem("1.2.2.1.16.1.3.1").toStdString()};
    EXPECT_FALSE(StartEnabled());

    GetOid(Answer::Ok);
    EXPECT_EQ(m_nRuns, 1);
    EXPECT_EQ(m_strSeenAddress, m_address);
    EXPECT_EQ(m_strSeenCommunity, "public");
    EXPECT_EQ(m_dialog->OidList(), both);
    EXPECT_TRUE(StartEnabled());

    // Cancel after an earlier OK: the old list stays, and so does Start.
    GetOid(Answer::Cancel);
    EXPECT_EQ(m_nRuns, 2);
    EXPECT_EQ(m_dialog->OidList(), both);
    EXPECT_TRUE(StartEnabled());

    // OK with nothing ticked: an empty list, and no Start.
    GetOid(Answer::ClearAllThenOk);
    EXPECT_EQ(m_nRuns, 3);
    EXPECT_TRUE(m_dialog->OidList().empty());
    EXPECT_FALSE(StartEnabled());
}
