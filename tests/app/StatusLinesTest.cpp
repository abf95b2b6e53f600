#include "AppTestSupport.h"
#include "common/QtPrinters.h"
#include "common/TestSupport.h"

#include "app/CMainDialog.h"
#include "ui/CStatusListBox.h"

#include <gtest/gtest.h>

namespace {

QString Link(int n)
{
    return QStringLiteral("Saving data to \"/data/report%1.txt\" ...\n").arg(n);
}

class StatusLinesTest : public ::testing::Test {
protected:
    StatusLinesTest() : m_list(qobject_cast<CStatusListBox*>(m_dialog.GetDlgItem(CMainDialog::IdStatusList))) {}

    TempCurrentDir m_cwd;
    CMainDialog m_dialog;
    CStatusListBox* m_list;
};

} // namespace

TEST_F(StatusLinesTest, TheNewestFiftyAreKeptAndTheLastIsSelected)
{
    ASSERT_NE(m_list, nullptr);
    for (int i = 1; i <= 50; ++i)
        m_dialog.AddStatusLine(QStringLiteral("line %1").arg(i), false);
    EXPECT_EQ(m_list->GetCount(), 50);
    EXPECT_EQ(m_list->GetCurSel(), 49);

    m_dialog.AddStatusLine(QStringLiteral("line 51"), false);
    EXPECT_EQ(m_list->GetCount(), 50);
    EXPECT_EQ(m_list->GetText(0), QStringLiteral("line 2"));
    EXPECT_EQ(m_list->GetText(49), QStringLiteral("line 51"));
    EXPECT_EQ(m_list->GetCurSel(), 49);
}

TEST_F(StatusLinesTest, LinkMarksHoldUntilTheFiftyFirstLineForgetsThemAll)
{
    m_dialog.AddStatusLine(Link(1), true);
    m_dialog.AddStatusLine(QStringLiteral("plain"), false);
    m_dialog.AddStatusLine(Link(2), true);
    EXPECT_TRUE(m_list->IsLinkLine(0));
    EXPECT_FALSE(m_list->IsLinkLine(1));
    EXPECT_TRUE(m_list->IsLinkLine(2));

    for (int i = 3; i < 49; ++i)
        m_dialog.AddStatusLine(QStringLiteral("plain"), false);
    m_dialog.AddStatusLine(Link(49), true); // the 50th line keeps its mark
    EXPECT_TRUE(m_list->IsLinkLine(49));
    EXPECT_TRUE(m_list->IsLinkLine(0));

    // The 51st: every mark goes, this line's own included.
    m_dialog.AddStatusLine(Link(50), true);
    EXPECT_EQ(m_list->GetCount(), 50);
    for (int i = 0; i < 50; ++i)
        EXPECT_FALSE(m_list->IsLinkLine(i)) << i;
    EXPECT_EQ(m_list->GetText(49), Link(50)) << "the line itself is kept whole";

    // Once full, every new link line loses its mark at once.
    m_dialog.AddStatusLine(Link(51), true);
    EXPECT_FALSE(m_list->IsLinkLine(49));
}

TEST_F(StatusLinesTest, StatusTextReadsBackWhatWasSet)
{
    m_dialog.SetStatusText(QStringLiteral("Downloading Data..."));
    EXPECT_EQ(m_dialog.GetStatusText(), QStringLiteral("Downloading Data..."));
}

TEST_F(StatusLinesTest, SettingInputsAreSwitchedTogether)
{
    const int inputs[] = {CMainDialog::IdFolder, CMainDialog::IdPassword, CMainDialog::IdPeriod,
                          CMainDialog::IdBrowse, CMainDialog::IdIpAddress};
    m_dialog.EnableSettingInputs(false);
    for (int id : inputs)
        EXPECT_FALSE(m_dialog.GetDlgItem(id)->isEnabled()) << id;
    EXPECT_TRUE(m_dialog.GetDlgItem(CMainDialog::IdGetOid)->isEnabled());
    m_dialog.EnableSettingInputs(true);
    for (int id : inputs)
        EXPECT_TRUE(m_dialog.GetDlgItem(id)->isEnabled()) << id;
}
