// Report files byte for byte, file names, and what happens to a file when a write fails.
#include "RecordingView.h"
#include "UtcTime.h"
#include "common/FolderSyncSpy.h"

#include "download/CDatalogReport.h"
#include "download/getdata.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <ctime>

namespace {


status_block Status(int type, int count, std::int32_t newest, int zone = 0)
{
    status_block s;
    s.port = 2;
    s.sensor_type = static_cast<std::uint8_t>(type);
    s.unit_time = static_cast<std::int32_t>(Utc(2009, 8, 20, 10, 35, 7));
    s.newest_time = newest;
    s.record_count = static_cast<std::int16_t>(count);
    s.width = 2;
    s.interval = 10;
    s.capacity = 1000;
    s.instant_high = 260;
    s.instant_low = -5;
    s.average_low = 7;
    s.average_high = 235;
    std::strcpy(s.description, "Server room");
    std::strcpy(s.system_name, "Lab unit");
    std::strcpy(s.unit_of_measure, "C");
    s.zone_index = static_cast<std::uint8_t>(zone);
    return s;
}

std::string Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("<missing>");
}

struct Fixture : ::testing::Test {
    QTemporaryDir dir;
    RecordingView view;
    CDatalogReport report;
    Fixture() { report.m_pDialog = &view; }
    std::string Path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
    int Write(const std::string& path, const status_block& s, std::vector<int> samples, bool append)
    {
        return report.WriteReport(path, "192.0.2.20", s, [samples](int i) { return samples.at(i); },
                                  static_cast<int>(samples.size()), append);
    }
};

using DatalogReport = Fixture;

} // namespace

TEST_F(DatalogReport, WholeDegreesOptionOffByteForByte)
{
    const std::string path = Path("r.txt");
    ASSERT_EQ(Write(path, Status(1, 3, Utc(2009, 8, 20, 10, 30, 0), 35), {21, -3, 22}, false), 0);
    EXPECT_EQ(Read(QString::fromStdString(path)),
              "Data download from system.\n"
              "system address: 192.0.2.20\n"
              "System name : Lab unit\n"
              "Sensor port : 3\n"
              "Sensor description : Server room\n"
              "Current system time (UTC) Coordinated Universal Time : 20/08/2009 10:35:07\n"
              "Average high value : 235 C\n"
              "Average low value : 7 C\n"
              "Instantaneous high value : 260 C\n"
              "Instantaneous low value : -5 C\n"
              "Average value : 13.3 C\n"
              "20/08/2009 10:10:00, 21\n"
              "20/08/2009 10:20:00, -3\n"
              "20/08/2009 10:30:00, 22\n"
              "\n");
    EXPECT_EQ(view.Calls(), std::vector<std::string> {"link: Saving data to \"" + path + "\" ...\n"});
}

// The unit's header texts each stay on their line: a CR or LF in one becomes a space, so it
// cannot start lines that read as records; every other byte is written as it came.
TEST_F(DatalogReport, LineBreaksInHeaderTextsBecomeSpaces)
{
    const struct {
        const char* text;
        const char* written;
    } cases[] = {
        {"Lab\r\n20/08/2009 10:00:00, 99", "Lab  20/08/2009 10:00:00, 99"},
        {"\nLab\n", " Lab "},
        {"\r", " "},
        {"a\tb\x01" "c,\xe9\x7f", "a\tb\x01" "c,\xe9\x7f"},
    };
    for (const auto& c : cases) {
        status_block s = Status(1, 1, Utc(2009, 8, 20, 10, 30, 0));
        std::strncpy(s.system_name, c.text, sizeof s.system_name - 1);
        std::strncpy(s.description, c.text, sizeof s.description - 1);
        std::strncpy(s.unit_of_measure, c.text, sizeof s.unit_of_measure - 1);
        const std::string text = report.FormatReport("192.0.2.20", s, [](int) { return 21; }, 1);
        const std::string w = c.written;
        const std::string u = w.substr(0, sizeof s.unit_of_measure - 1); // the unit has 16 bytes
        EXPECT_EQ(text, "Data download from system.\n"
                        "system address: 192.0.2.20\n"
                        "System name : " + w + "\n"
                        "Sensor port : 3\n"
                        "Sensor description : " + w + "\n"
                        "Current system time (UTC) Coordinated Universal Time : 20/08/2009 10:35:07\n"
                        "Average high value : 235 " + u + "\n"
                        "Average low value : 7 " + u + "\n"
                        "Instantaneous high value : 260 " + u + "\n"
                        "Instantaneous low value : -5 " + u + "\n"
                        "Average value : 21.0 " + u + "\n"
                        "20/08/2009 10:30:00, 21\n"
                        "\n")
            << c.text;
    }
}

TEST_F(DatalogReport, TenthsForFourToTwentyAndAtoD)
{
    for (int type : {2, 5}) {
        const std::string text = report.FormatReport("192.0.2.20", Status(type, 3, Utc(2009, 8, 20, 10, 30, 0)),
                                                     [](int i) { return std::vector<int> {235, -15, 0}.at(i); }, 3);
        EXPECT_NE(text.find("Average high value : 23.5 C\n"
                            "Average low value : 0.7 C\n"
                            "Instantaneous high value : 26.0 C\n"
                            "Instantaneous low value : -0.5 C\n"
                            "Average value : 7.3 C\n"
                            "20/08/2009 10:10:00, 23.5\n"
                            "20/08/2009 10:20:00, -1.5\n"
                            "20/08/2009 10:30:00, 0.0\n\n"),
                  std::string::npos)
            << text;
    }
    // The extremes of a four-byte sample, and no records at all.
    const std::string text = report.FormatReport("a", Status(5, 2, 0), [](int i) { return i ? INT32_MIN : INT32_MAX; }, 2);
    EXPECT_NE(text.find(", 214748364.7\n"), std::string::npos) << text;
    EXPECT_NE(text.find(", -214748364.8\n"), std::string::npos) << text;
    const std::string empty = report.FormatReport("a", Status(1, 0, 0), [](int) { return 0; }, 0);
    EXPECT_NE(empty.find("Average value : 0.0 C\n\n"), std::string::npos) << empty;
}

TEST_F(DatalogReport, LocalZoneShiftsEveryTimeAndNamesTheZone)
{
    report.m_bLocalZone = true;
    auto records = [&](std::int32_t newest) {
        return report.FormatReport("a", Status(1, 2, newest, 35), [](int) { return 1; }, 2);
    };
    const std::string july = records(Utc(2009, 7, 1, 12, 0, 0));
    EXPECT_NE(july.find("Current system time (GMT-05:00, DST observed) Eastern Time (US & Canada) : 20/08/2009 06:35:07\n"),
              std::string::npos)
        << july;
    EXPECT_NE(july.find("01/07/2009 07:50:00, 1\n01/07/2009 08:00:00, 1\n"), std::string::npos) << july;
    const std::string january = records(Utc(2009, 1, 1, 3, 0, 0));
    EXPECT_NE(january.find("31/12/2008 21:50:00, 1\n31/12/2008 22:00:00, 1\n"), std::string::npos) << january;

    // A zone the table does not have: UTC, under a name that says so.
    const std::string unknown = report.FormatReport("a", Status(1, 1, Utc(2009, 7, 1, 12, 0, 0), 200), [](int) { return 1; }, 1);
    EXPECT_NE(unknown.find("time (UTC) Unknown time zone index 200 of the unit : 20/08/2009 10:35:07\n"), std::string::npos);
    EXPECT_NE(unknown.find("01/07/2009 12:00:00, 1\n"), std::string::npos);
}

TEST(DatalogReportName, FileNamesAndTheRoomTheyNeed)
{
    char name[CDatalogReport::kNameRoom];
    struct Case {
        int type;
        const char* name;
    } const cases[] = {{1, "192.0.2.20_p2_temperature.txt"}, {3, "192.0.2.20_p2_humidity.txt"}, {8, "192.0.2.20_p2_airflow.txt"},
                       {10, "192.0.2.20_p2_airflow.txt"}, {16, "192.0.2.20_p2_motion.txt"}};
    for (const Case& c : cases) {
        EXPECT_EQ(CDatalogReport::BuildFileName(name, sizeof name, "192.0.2.20", 1, c.type), int(std::strlen(c.name)));
        EXPECT_STREQ(name, c.name);
    }
    for (int type : {0, 7, 9, 11, 13, 17, 18, 255}) {
        EXPECT_EQ(CDatalogReport::BuildFileName(name, sizeof name, "192.0.2.20", 1, type), 18);
        EXPECT_STREQ(name, "192.0.2.20_p2_.txt");
    }
    // "a_p1_temperature.txt" is 20 characters: room 21 holds it, 20 does not.
    EXPECT_EQ(CDatalogReport::BuildFileName(name, 21, "a", 0, 1), 20);
    EXPECT_EQ(CDatalogReport::BuildFileName(name, 20, "a", 0, 1), -1);
    EXPECT_STREQ(name, "a_p1_temperature");
    EXPECT_EQ(CDatalogReport::BuildFileName(name, 16, "a", 0, 1), -1);
    EXPECT_STREQ(name, "a_");
}

TEST_F(DatalogReport, AppendAddsReportsOverwriteKeepsTheNewest)
{
    const std::string path = Path("r.txt");
    const status_block s = Status(1, 1, Utc(2009, 8, 20, 10, 30, 0));
    const std::string one = report.FormatReport("192.0.2.20", s, [](int) { return 1; }, 1);
    const std::string two = report.FormatReport("192.0.2.20", s, [](int) { return 2; }, 1);
    ASSERT_EQ(Write(path, s, {1}, true), 0);
    ASSERT_EQ(Write(path, s, {2}, true), 0);
    EXPECT_EQ(Read(QString::fromStdString(path)), one + two);
    ASSERT_EQ(Write(path, s, {1}, false), 0);
    EXPECT_EQ(Read(QString::fromStdString(path)), one);
    // The replacement keeps the old file's permissions and leaves nothing beside it.
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(Write(path, s, {2}, false), 0);
    EXPECT_EQ(Read(QString::fromStdString(path)), two);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"r.txt"});
}

TEST_F(DatalogReport, PathsThatCannotBeWritten)
{
    const status_block s = Status(1, 1, 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    const std::string missing = Path("no-such-folder/r.txt");
    const std::string folder = Path("folder");
    const std::string zero = Path("r.txt") + std::string(1, '\0') + "x";
    for (bool append : {false, true}) {
        EXPECT_EQ(Write("", s, {1}, append), -1);
        EXPECT_EQ(Write(missing, s, {1}, append), -1);
        EXPECT_EQ(Write(folder, s, {1}, append), -1);
        EXPECT_EQ(Write(zero, s, {1}, append), -1);
    }
    const std::vector<std::string> once {
        "line: No file name to write data to !\n",
        "line: Can't open file:" + missing + " to write data !\n",
        "line: Can't open file:" + folder + " to write data !\n",
        "line: Can't open file:" + zero + " to write data !\n",
    };
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(view.Calls(), twice);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {});
}

// A full disk, played by a file size limit: the write stops part way, the file keeps exactly
// what it held, and the status line says why.
TEST_F(DatalogReport, FailedWriteLeavesTheFileAsItWas)
{
    std::signal(SIGXFSZ, SIG_IGN);
    const std::string path = Path("r.txt");
    const std::string fresh = Path("fresh.txt");
    const status_block s = Status(1, 2000, Utc(2009, 8, 20, 10, 30, 0));
    const std::vector<int> samples(2000, 5);
    ASSERT_EQ(Write(path, Status(1, 1, 0), {7}, false), 0);
    const std::string before = Read(QString::fromStdString(path));

    rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int overwrite = Write(path, s, samples, false);
    const int append = Write(path, s, samples, true);
    const int created = Write(fresh, s, samples, true);
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_EQ(overwrite, -1);
    EXPECT_EQ(append, -1);
    EXPECT_EQ(created, -1);
    EXPECT_EQ(Read(QString::fromStdString(path)), before);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(fresh)));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"r.txt"});
    const auto calls = view.Calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[2], "line: Can't write data to file:" + path + " (File too large), the file is left as it was.\n");
}

// A new report, and one that replaces the old by rename, survive a power cut: the folder is
// synced once the report holds its name, with no temporary beside it.
TEST_F(DatalogReport, TheFolderIsSyncedAfterEachNewOrReplacedReport)
{
    const status_block s = Status(1, 1, 0);
    const struct {
        const char* what;
        bool append;
        bool existed;
    } cases[] = {
        {"append, new file", true, false},
        {"append, file there", true, true},   // nothing new in the folder: no sync needed
        {"overwrite, new file", false, false},
        {"overwrite, replaced", false, true},
    };
    for (const auto& c : cases) {
        QFile::remove(dir.filePath("r.txt"));
        if (c.existed) {
            ASSERT_EQ(Write(Path("r.txt"), s, {1}, false), 0);
        }
        testsupport::FolderSyncSpy spy;
        ASSERT_EQ(Write(Path("r.txt"), s, {2}, c.append), 0) << c.what;
        if (c.append && c.existed)
            continue;
        EXPECT_TRUE(spy.SyncedHolding(dir.path().toStdString(), {"r.txt"}))
            << c.what << ": " << spy.SyncsOf(dir.path().toStdString()).size() << " syncs of the folder";
    }
}
