// Starts that end before any read: the existence test, the File Name dialog's Cancel and
// Rename loop, and file errors. None of them starts a run or changes the window.
#include "CollectTestSupport.h"
#include "TestCollectorView.h"

#include "collect/CCollector.h"
#include "common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using collecttest::CFileNameAnswers;
using collecttest::ReadFile;
using collecttest::WriteFile;

namespace {

class CollectorStart : public ::testing::Test {
protected:
    CollectorStart() : m_collector(&m_view)
    {
        m_collector.SetOidList(QStringList {QStringLiteral(".1.3.6.1.4.1.32473.3.0")});
        m_collector.SetAgent(QString::fromStdString(testsupport::CurrentTestAddress()));
        m_collector.SetCommunity(std::string("public"));
        m_collector.SetPeriod(1);
        m_collector.SetFolder(QFile::encodeName(m_dir.path()).toStdString());
    }
    QString DataName() const { return QStringLiteral("data%1.txt").arg(testsupport::CurrentTestAddress().c_str()); }
    QString Path(const QString& name) const { return m_dir.path() + QLatin1Char('/') + name; }

    // Nothing of the window changed and no run started.
    void ExpectNoRun()
    {
        EXPECT_FALSE(m_collector.IsRunActive());
        EXPECT_FALSE(m_collector.Timer().isActive());
        EXPECT_TRUE(m_view.IsIdle());
        EXPECT_TRUE(m_view.lamps.empty());
        EXPECT_TRUE(m_view.lines.isEmpty());
        EXPECT_EQ(m_view.statusText, QStringLiteral("Ready..."));
    }

    QTemporaryDir m_dir;
    CTestView m_view;
    CCollector m_collector;
};

TEST_F(CollectorStart, CollectorIsTheProcessWideOne)
{
    EXPECT_EQ(g_pCollector, &m_collector);
    {
        CTestView other;
        CCollector second(&other);
        EXPECT_EQ(g_pCollector, &second);
    }
    EXPECT_EQ(g_pCollector, nullptr);
}

TEST_F(CollectorStart, AMissingFolderIsNeverCreatedAndStartsNoRun)
{
    const QString folder = Path(QStringLiteral("not/there"));
    m_collector.SetFolder(QFile::encodeName(folder).toStdString());
    testsupport::MessageBoxSpy boxes;
    m_collector.StartRun();
    ASSERT_EQ(boxes.texts().size(), 1);
    EXPECT_EQ(boxes.texts()[0], QStringLiteral("%1 contains an incorrect path.").arg(folder + "/" + DataName()));
    EXPECT_FALSE(QDir(Path(QStringLiteral("not"))).exists());
    EXPECT_EQ(m_view.fileNameDialogs, 0);
    ExpectNoRun();
}

TEST_F(CollectorStart, CancelLeavesEverythingAsItWas)
{
    WriteFile(Path(DataName()), "old\r\n");
    CFileNameAnswers answers({{1, {}, false}});
    m_collector.StartRun();
    EXPECT_EQ(answers.Count(), 1);
    EXPECT_EQ(ReadFile(Path(DataName())), "old\r\n");
    ExpectNoRun();
}

TEST_F(CollectorStart, RenameToAnExistingNameBringsTheDialogBackForThatFile)
{
    WriteFile(Path(DataName()), "first\r\n");
    WriteFile(Path("second.txt"), "second\r\n");
    CFileNameAnswers answers({{3, QStringLiteral("second.txt")}, {3, {}}, {1, {}, false}});
    m_collector.StartRun();
    // The third dialog comes after Rename with the name unchanged: the same file again.
    EXPECT_EQ(answers.ShownNames(), (QStringList {DataName(), "second.txt", "second.txt"}));
    EXPECT_EQ(answers.StatusTexts(), (QStringList {QStringLiteral("File %1 already exist.").arg(DataName()),
                                                   "File second.txt already exist.", "File second.txt already exist."}));
    EXPECT_EQ(ReadFile(Path(DataName())), "first\r\n");
    EXPECT_EQ(ReadFile(Path("second.txt")), "second\r\n");
    ExpectNoRun();
}

TEST_F(CollectorStart, RenameToAnEmptyNameShowsTheErrorAndStartsNothing)
{
    WriteFile(Path(DataName()), "old\r\n");
    CFileNameAnswers answers({{3, QString("")}});
    testsupport::MessageBoxSpy boxes;
    m_collector.StartRun();
    ASSERT_EQ(boxes.texts().size(), 1);
    EXPECT_EQ(boxes.texts()[0], QStringLiteral("%1/ is a folder, not a file.").arg(m_dir.path()));
    EXPECT_EQ(answers.Count(), 1);
    ExpectNoRun();
}

TEST_F(CollectorStart, AFileAnotherProgramHoldsIsASharingErrorAndStartsNothing)
{
    WriteFile(Path(DataName()), "old\r\n");
    collecttest::CLockHolder other(Path(DataName()), true);
    ASSERT_TRUE(other.Holds());
    testsupport::MessageBoxSpy boxes;
    m_collector.StartRun();
    ASSERT_EQ(boxes.texts().size(), 1);
    EXPECT_EQ(boxes.texts()[0], QStringLiteral("A sharing violation occurred while accessing %1.").arg(Path(DataName())));
    EXPECT_EQ(m_view.fileNameDialogs, 0);
    EXPECT_EQ(ReadFile(Path(DataName())), "old\r\n");
    ExpectNoRun();
}

} // namespace
