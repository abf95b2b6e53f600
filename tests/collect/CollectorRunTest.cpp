// Collection runs against the virtual unit: the data file line by line, the File Name dialog's
// choices, a silent unit, Stop and a new Start while a read is pending, cycles slower than the
// period, failed writes and closing during a read.
#include "CollectTestSupport.h"
#include "TestCollectorView.h"

#include "collect/CCollector.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"
#include "oidgen/OidTemplates.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <ctime>
#include <sys/resource.h>

using collecttest::CFileNameAnswers;
using collecttest::ReadFile;
using collecttest::WriteFile;
using testsupport::WaitUntil;

namespace {

const std::string kValue0 = ExpandedOid(oidtpl::kTable16Value, 0);
const std::string kValue1 = ExpandedOid(oidtpl::kTable17Value, 1);
const std::string kDescription0 = ExpandedOid(oidtpl::kTable16Description, 0);

// A unit with a temperature of 23 on port 1 and a humidity of 45 on port 2.
QJsonObject Unit(int delayMs = 0, bool silent = false)
{
    QJsonObject unit {
        {"numbering", 0},
        {"ports", QJsonArray {
            QJsonObject {{"index", 0}, {"table16", QJsonObject {{"status", 1}, {"description", "Room, north"}, {"value", 23}}}},
            QJsonObject {{"index", 1}, {"table17", QJsonObject {{"status", 1}, {"description", "Humidity"}, {"type", 3}, {"value", 45}}}},
        }},
    };
    QJsonObject faults;
    if (delayMs > 0)
        faults["delayMs"] = delayMs;
    if (silent)
        faults["silent"] = true;
    if (!faults.isEmpty())
        unit["faults"] = faults;
    return unit;
}

// The file's lines without their "\r\n"; fails the test if any line does not end with one.
QStringList FileLines(const QString& path)
{
    const std::string bytes = ReadFile(path);
    QStringList lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "half a line at the end of " << path.toStdString() << ": " << bytes.substr(start);
            break;
        }
        lines << QString::fromStdString(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The time of a data line's stamp.
std::time_t StampTime(const QString& line)
{
    std::tm tm {};
    if (std::sscanf(line.toLatin1().constData(), "%4d/%2d/%2d,  %2d:%2d:%2d,  ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6)
        return 0;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

const QRegularExpression kTwoValues(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d,  \\d\\d:\\d\\d:\\d\\d,  23,  45$"));

class CollectorRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::CanBindPrivilegedPorts())
            GTEST_SKIP() << "the virtual unit needs port 161 (run as root)";
        ASSERT_TRUE(m_sim.StartUnit(Unit(), m_address)) << m_sim.Error().toStdString();
        m_collector = std::make_unique<CCollector>(&m_view);
        Configure({kValue0, kValue1}, m_dir.path());
    }

    void Configure(const std::vector<std::string>& oids, const QString& folder)
    {
        m_collector->SetOidList(oids);
        m_collector->SetAgent(QString::fromStdString(m_address));
        m_collector->SetCommunity(std::string("public"));
        m_collector->SetPeriod(1);
        m_collector->SetFolder(QFile::encodeName(folder).toStdString());
    }

    bool RestartUnit(int delayMs, bool silent)
    {
        const bool ok = m_sim.StartUnit(Unit(delayMs, silent), m_address);
        EXPECT_TRUE(ok) << m_sim.Error().toStdString();
        return ok;
    }

    QString DataName() const { return QStringLiteral("data%1.txt").arg(QString::fromStdString(m_address)); }
    QString DataPath() const { return m_dir.path() + "/" + DataName(); }
    bool WaitForFileLines(int count, int ms) { return WaitUntil([&] { return FileLines(DataPath()).size() >= count; }, ms); }

    const std::string m_address = testsupport::CurrentTestAddress();
    testsupport::UnitSimProcess m_sim;
    QTemporaryDir m_dir;
    CTestView m_view;
    std::unique_ptr<CCollector> m_collector;
};

TEST_F(CollectorRun, ANewFileGetsItsFirstLineAtStartAndTheNextOnePeriodLater)
{
    m_view.lines << QStringLiteral("a line of before");
    const std::time_t started = std::time(nullptr);
    m_collector->StartRun();

    // The first line is written before StartRun returns, byte for byte.
    QStringList lines = FileLines(DataPath());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(kTwoValues.match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_LE(std::abs(StampTime(lines[0]) - started), 1);
    EXPECT_EQ(m_view.lines, QStringList {lines[0]}) << "the list is emptied, then shows the line";
    EXPECT_EQ(m_view.statusText, QStringLiteral("Saving data in file name : %1.").arg(DataName()));
    EXPECT_EQ(m_view.lamps, (std::vector<int> {2, 2}));
    EXPECT_TRUE(m_view.IsCollecting());
    EXPECT_TRUE(m_collector->IsRunActive());
    EXPECT_EQ(m_collector->Timer().interval(), 1000);
    EXPECT_EQ(m_sim.Requests(), (QList<QStringList> {{kValue0.c_str(), kValue1.c_str()}})) << "one GET for the list";

    ASSERT_TRUE(WaitForFileLines(2, 3000));
    lines = FileLines(DataPath());
    const auto gap = StampTime(lines[1]) - StampTime(lines[0]);
    EXPECT_TRUE(gap == 1 || gap == 2) << gap;
    EXPECT_TRUE(kTwoValues.match(lines[1]).hasMatch());

    m_collector->StopRun();
    EXPECT_TRUE(m_view.IsIdle());
    EXPECT_EQ(m_view.lamps.back(), 1);
    EXPECT_EQ(m_view.statusText, QStringLiteral("Ready..."));
    EXPECT_FALSE(m_collector->Timer().isActive());
    const int written = static_cast<int>(FileLines(DataPath()).size());
    EXPECT_FALSE(WaitForFileLines(written + 1, 1500)) << "nothing after Stop";
    EXPECT_TRUE(collecttest::ProbeFromOtherProgram(DataPath()).canLockForWriting) << "closed at Stop";
}

TEST_F(CollectorRun, PeriodsOutOfBoundsRunAtTheBound)
{
    CFileNameAnswers answers({collecttest::FileNameAnswer {1}});
    m_collector->SetPeriod(0);
    m_collector->StartRun();
    EXPECT_EQ(m_collector->Timer().interval(), 1000) << "never a busy loop";
    m_collector->StopRun();
    m_collector->SetPeriod(CCollector::PeriodFromText(QStringLiteral("99999999999")));
    m_collector->StartRun();
    EXPECT_EQ(m_collector->Timer().interval(), 2147483000) << "never wrapped";
    EXPECT_TRUE(m_collector->Timer().isActive());
    m_collector->StopRun();
    EXPECT_EQ(FileLines(DataPath()).size(), 2);
}

TEST_F(CollectorRun, OneValueAndValuesWithCommasAreWrittenUnchanged)
{
    Configure({kDescription0}, m_dir.path());
    m_collector->StartRun();
    m_collector->StopRun();
    const std::string bytes = ReadFile(DataPath());
    ASSERT_EQ(bytes.size(), 24 + 11 + 2);
    EXPECT_EQ(bytes.substr(24), "Room, north\r\n");
}

// A unit's value text holding CR or LF must not end the data line and start lines of its own
// that read as records: each becomes a space, in the file and in the status list, and every
// other byte stays as it came.
TEST_F(CollectorRun, LineBreaksInAValueBecomeSpacesAndForgeNoLines)
{
    const struct {
        const char* value;
        const char* written;
    } cases[] = {
        {"23\r\n2026/01/01,  00:00:00,  99", "23  2026/01/01,  00:00:00,  99"},
        {"23\n2026/01/01,  00:00:00,  99", "23 2026/01/01,  00:00:00,  99"},
        {"23\r", "23 "},
        {"x\n\n\r", "x   "}, // a first byte below 0x10 would make the value hex
        {"a\tb\x01" "c, d \xc3\xa9", "a\tb\x01" "c, d \xc3\xa9"},
    };
    for (const auto& c : cases) {
        const QJsonObject unit {
            {"numbering", 0},
            {"ports", QJsonArray {
                QJsonObject {{"index", 0}, {"table16", QJsonObject {{"status", 1}, {"description", "Room"}, {"value", QString::fromUtf8(c.value)}}}},
                QJsonObject {{"index", 1}, {"table17", QJsonObject {{"status", 1}, {"description", "Humidity"}, {"type", 3}, {"value", 45}}}},
            }},
        };
        ASSERT_TRUE(m_sim.StartUnit(unit, m_address)) << m_sim.Error().toStdString();
        QFile::remove(DataPath());
        m_view.lines.clear();
        m_collector->StartRun();
        m_collector->StopRun();
        const std::string bytes = ReadFile(DataPath());
        ASSERT_GE(bytes.size(), 24u) << c.value;
        EXPECT_EQ(bytes.substr(24), std::string(c.written) + ",  45\r\n") << c.value;
        ASSERT_EQ(m_view.lines.size(), 1) << c.value;
        EXPECT_EQ(m_view.lines[0].mid(24), QString::fromUtf8(c.written) + QStringLiteral(",  45")) << c.value;
    }
}

TEST_F(CollectorRun, AnEmptyCommunityIsSentAsItIs)
{
    QJsonObject unit = Unit();
    unit["community"] = "";
    ASSERT_TRUE(m_sim.StartUnit(unit, m_address)) << m_sim.Error().toStdString();
    m_collector->SetCommunity(std::string());
    m_collector->StartRun();
    m_collector->StopRun();
    const QStringList lines = FileLines(DataPath());
    ASSERT_EQ(lines.size(), 1) << m_view.lines.join('\n').toStdString();
    EXPECT_TRUE(kTwoValues.match(lines[0]).hasMatch()) << lines[0].toStdString();
}

TEST_F(CollectorRun, ASessionThatCannotOpenIsShownEveryCycleAndWritesNothing)
{
    // The unit's address as one hexadecimal number: the session refuses it before any packet.
    const QString agent = QString::asprintf("0x%08x", ntohl(inet_addr(m_address.c_str())));
    m_collector->SetAgent(agent);
    m_collector->StartRun();
    const QString path = m_dir.path() + "/data" + agent + ".txt";
    EXPECT_TRUE(m_collector->IsRunActive());
    EXPECT_EQ(m_view.lines, QStringList{"Session could not be opened successfully"});
    ASSERT_TRUE(WaitUntil([&] { return m_view.lines.size() >= 2; }, 5000)) << "the timer's cycle tries again";
    m_collector->StopRun();
    EXPECT_EQ(m_view.lines.mid(0, 2), QStringList(2, "Session could not be opened successfully"));
    EXPECT_EQ(m_view.lamps, (std::vector<int>{2, 1})) << "the lamp shows the run, never a failed read";
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_TRUE(m_sim.Requests().isEmpty());
}

TEST_F(CollectorRun, SaveContinuouslyAppendsWithNothingBetweenRuns)
{
    WriteFile(DataPath(), "old line\r\n");
    CFileNameAnswers answers({{1}, {1}});
    m_collector->StartRun();
    m_collector->StopRun();
    // A second run reuses the collector: a new existence test finds the file again.
    m_collector->StartRun();
    m_collector->StopRun();
    EXPECT_EQ(answers.ShownNames(), (QStringList {DataName(), DataName()}));
    const QStringList lines = FileLines(DataPath());
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("old line"));
    EXPECT_TRUE(kTwoValues.match(lines[1]).hasMatch());
    EXPECT_TRUE(kTwoValues.match(lines[2]).hasMatch());
}

TEST_F(CollectorRun, OverwriteEmptiesTheFileAndRenameWritesTheNewOne)
{
    WriteFile(DataPath(), "old line\r\n");
    {
        CFileNameAnswers answers({collecttest::FileNameAnswer {2}});
        m_collector->StartRun();
        m_collector->StopRun();
    }
    QStringList lines = FileLines(DataPath());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(kTwoValues.match(lines[0]).hasMatch());

    // A name typed under Rename and then dropped for Overwrite is not used.
    {
        CFileNameAnswers answers({{3, QStringLiteral("renamed.txt")}});
        m_collector->StartRun();
        EXPECT_EQ(m_view.statusText, QStringLiteral("Saving data in file name : renamed.txt."));
        m_collector->StopRun();
    }
    EXPECT_EQ(FileLines(DataPath()), lines);
    ASSERT_EQ(FileLines(m_dir.path() + "/renamed.txt").size(), 1);
}

TEST_F(CollectorRun, ASilentUnitGivesTimeOutLinesAndNothingInTheFileUntilItAnswers)
{
    m_collector->StartRun();
    ASSERT_TRUE(RestartUnit(0, true));
    const int before = static_cast<int>(FileLines(DataPath()).size());
    ASSERT_TRUE(WaitUntil([&] { return !m_view.OtherLines().isEmpty(); }, 12000));
    EXPECT_EQ(m_view.OtherLines().front(), QStringLiteral("Error No 40 : The request timed-out."));
    EXPECT_EQ(m_view.lamps.back(), 3);
    EXPECT_EQ(FileLines(DataPath()).size(), before);

    ASSERT_TRUE(RestartUnit(0, false));
    const int errors = static_cast<int>(m_view.OtherLines().size());
    ASSERT_TRUE(WaitForFileLines(before + 1, 12000)) << "lines resume when the unit answers";
    EXPECT_TRUE(WaitUntil([&] { return m_view.lamps.back() == 2; }, 2000));
    for (const QString& line : m_view.OtherLines())
        EXPECT_EQ(line, QStringLiteral("Error No 40 : The request timed-out."));
    EXPECT_LE(m_view.OtherLines().size(), errors + 1);
    m_collector->StopRun();
}

TEST_F(CollectorRun, StopDuringAPendingReadShowsTheLineButDoesNotWriteIt)
{
    ASSERT_TRUE(RestartUnit(1500, false));
    m_collector->StartRun();
    ASSERT_EQ(FileLines(DataPath()).size(), 1);
    ASSERT_TRUE(WaitUntil([&] { return m_collector->IsCycleBusy(); }, 3000));
    m_collector->StopRun();
    const size_t lamps = m_view.lamps.size();
    ASSERT_TRUE(WaitUntil([&] { return m_view.DataLines().size() == 2; }, 4000)) << "the late line is shown";
    EXPECT_EQ(FileLines(DataPath()).size(), 1) << "but not written";
    EXPECT_TRUE(m_view.OtherLines().isEmpty());
    EXPECT_EQ(m_view.lamps.size(), lamps) << "and the idle lamp stays";
    EXPECT_TRUE(m_view.IsIdle());
}

TEST_F(CollectorRun, AnEarlierRunsWorkerNeverWritesIntoTheNextRun)
{
    ASSERT_TRUE(RestartUnit(1500, false));
    m_collector->StartRun();
    ASSERT_TRUE(WaitUntil([&] { return m_collector->IsCycleBusy(); }, 3000));
    m_collector->StopRun();
    // At once a new run on the same file, overwritten, with other settings: one OID.
    Configure({kValue0}, m_dir.path());
    CFileNameAnswers answers({collecttest::FileNameAnswer {2}});
    m_collector->StartRun();
    ASSERT_TRUE(m_collector->IsRunActive());
    ASSERT_TRUE(WaitUntil([&] { return m_view.DataLines().size() >= 3; }, 5000));
    m_collector->StopRun();
    // The late line of the first run (two values) was shown but is in neither run's file.
    const QStringList shown = m_view.DataLines();
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const QString& l) { return kTwoValues.match(l).hasMatch(); }));
    const QStringList lines = FileLines(DataPath());
    ASSERT_FALSE(lines.isEmpty());
    for (const QString& line : lines)
        EXPECT_TRUE(line.endsWith(QStringLiteral(",  23")) && !kTwoValues.match(line).hasMatch()) << line.toStdString();
}

// Each read takes one and a half seconds with a one-second period: the ticks that come during a
// read are dropped, so timer-started reads never overlap and start two seconds apart. (The first
// line comes from Start itself, which holds no tick back; the delay stays well under the cycle's
// two-second time-out, so a slow machine never sees a resend.)
TEST_F(CollectorRun, APeriodShorterThanAReadKeepsCyclesFromOverlapping)
{
    ASSERT_TRUE(RestartUnit(1500, false));
    m_collector->StartRun();
    ASSERT_TRUE(WaitForFileLines(4, 12000));
    m_collector->StopRun();
    const QStringList lines = FileLines(DataPath());
    ASSERT_GE(lines.size(), 4);
    // Overlapping reads would start a second apart (2 s over three lines); whole-second stamps
    // may round the true 4 s down by one.
    EXPECT_GE(StampTime(lines[3]) - StampTime(lines[1]), 3) << lines[1].toStdString() << " / "
                                                            << lines[3].toStdString();
    // A read still under way after Stop ends and shows its line.
    WaitUntil([&] { return !m_collector->IsCycleBusy() && m_sim.Requests().size() == m_view.DataLines().size(); },
              5000);
    EXPECT_EQ(m_sim.Requests().size(), m_view.DataLines().size()) << "every request was one cycle";
}

// A file size limit stands in for a full disk: the write fails, the run goes on and writes again
// once there is room.
TEST_F(CollectorRun, AFailedWriteIsReportedAndTheRunGoesOn)
{
    m_collector->StartRun();
    const std::string first = ReadFile(DataPath());
    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = saved;
    full.rlim_cur = first.size() + 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    const QString diskFull = QStringLiteral("There is no room left on the disk for %1.").arg(DataPath());
    const bool failedTwice = WaitUntil([&] { return m_view.OtherLines().count(diskFull) >= 2; }, 5000);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(failedTwice) << "each failed write is reported and the ticks go on";
    EXPECT_EQ(ReadFile(DataPath()), first) << "no half line";
    EXPECT_EQ(m_view.OtherLines().count(diskFull), m_view.OtherLines().size());

    ASSERT_TRUE(WaitForFileLines(2, 3000));
    EXPECT_TRUE(WaitUntil([&] { return m_view.lamps.back() == 2; }, 2000));
    m_collector->StopRun();
    EXPECT_TRUE(std::find(m_view.lamps.begin(), m_view.lamps.end(), 3) != m_view.lamps.end());
}

TEST_F(CollectorRun, DestroyingTheCollectorDuringAReadLeavesTheWindowAndFileAlone)
{
    ASSERT_TRUE(RestartUnit(1500, false));
    m_collector->StartRun();
    ASSERT_TRUE(WaitUntil([&] { return m_collector->IsCycleBusy(); }, 3000));
    m_collector.reset(); // the window closes without Stop
    EXPECT_EQ(g_pCollector, nullptr);
    EXPECT_TRUE(collecttest::ProbeFromOtherProgram(DataPath()).canLockForWriting) << "the file is closed";
    const QStringList shown = m_view.lines;
    WaitUntil([] { return false; }, 2000); // the late answer arrives
    EXPECT_EQ(m_view.lines, shown) << "a worker never reaches a window whose collector is gone";
    EXPECT_EQ(FileLines(DataPath()).size(), 1);
}

// The program's way out: the main window's modal loop ends and the window, with its collector,
// is destroyed. A read that waits for a silent unit (six seconds to its time-out) must not keep
// the process alive.
TEST_F(CollectorRun, ClosingWhileAReadWaitsForASilentUnitEndsTheProcessPromptly)
{
    m_collector.reset();
    QProcess helper;
    helper.setProgram(QStringLiteral(COLLECT_CLOSE_HELPER));
    helper.setArguments({QString::fromStdString(m_address), m_dir.path(), QString::fromStdString(kValue0)});
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start();
    ASSERT_TRUE(helper.waitForStarted(5000));
    ASSERT_TRUE(WaitUntil([&] { return helper.canReadLine(); }, 10000));
    EXPECT_EQ(helper.readLine().trimmed(), QByteArray("running"));

    ASSERT_TRUE(RestartUnit(0, true));
    helper.write("close\n");
    ASSERT_TRUE(WaitUntil([&] { return helper.canReadLine(); }, 5000));
    EXPECT_EQ(helper.readLine().trimmed(), QByteArray("closing"));
    // Well before the read's time-out would end it.
    EXPECT_TRUE(helper.waitForFinished(4000)) << "the process still runs";
    EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper.exitCode(), 0);
    const QStringList lines = FileLines(DataPath());
    ASSERT_GE(lines.size(), 1);
    for (const QString& line : lines)
        EXPECT_TRUE(line.endsWith(QStringLiteral(",  23"))) << line.toStdString();
}

} // namespace
