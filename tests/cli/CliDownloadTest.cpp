// The command line's download against a virtual unit, compared with the reports the window's
// download driver writes for the same unit.
#include "CliProcess.h"

#include "common/QtPrinters.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"
#include "download/CDatalogReport.h"
#include "download/CDownloadDriver.h"
#include "download/RecordingView.h"
#include "download/getdata.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

using namespace testsupport;

namespace {

#define REQUIRE_PORT_811()                                                                                            \
    if (!CanBindPrivilegedPorts())                                                                                     \
    GTEST_SKIP() << "needs root to serve port 811"

QJsonObject Channel(int port, int channel, int type, int count)
{
    return QJsonObject {{"port", port}, {"channel", channel}, {"sensorType", type}, {"description", "Probe"},
                        {"systemName", "Lab"}, {"unitOfMeasure", "C"}, {"zone", 35}, {"interval", 10},
                        {"width", 2}, {"capacity", 100}, {"writeIndex", 7}, {"unitTime", 1700000000},
                        {"records", QJsonObject {{"count", count}, {"wave", QJsonObject {{"base", 200}, {"amplitude", 30}, {"period", 20}}}}},
                        {"instantHigh", 230}, {"instantLow", 170}, {"averageHigh", 220}, {"averageLow", 180}};
}

QJsonObject Unit()
{
    const QJsonArray channels {Channel(0, 0, 1, 60), QJsonObject {{"port", 1}, {"channel", 0}, {"error", -2}},
                               Channel(2, 1, 2, 30)};
    return QJsonObject {{"datalog", QJsonObject {{"password", "secret"}, {"channels", channels}}}};
}

// Every file of a folder by name.
std::map<QString, QByteArray> Files(const QString& folder)
{
    std::map<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        QFile file(folder + QLatin1Char('/') + name);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        files[name] = file.readAll();
    }
    return files;
}

TEST(CliDownload, WritesTheReportsTheWindowWritesAndAppendsWithoutOverwrite)
{
    REQUIRE_PORT_811();
    UnitSimProcess sim;
    const std::string address = CurrentTestAddress();
    ASSERT_TRUE(Started(sim, sim.StartUnit(Unit(), address)));
    QTemporaryDir dir;
    const QString window = dir.path() + "/window", cli = dir.path() + "/cli";
    ASSERT_TRUE(QDir().mkdir(window) && QDir().mkdir(cli));

    QStringList windowLines; // the window's status lines, named for the command line's folder
    {
        // The window's driver, as its Download button runs it.
        RecordingView view;
        getdata client;
        CDatalogReport report;
        report.m_bLocalZone = true;
        CDownloadDriver driver(client, report, view);
        DownloadSettings settings {address, "secret", window.toStdString(), true, false};
        ASSERT_EQ(driver.Run(settings).reportsWritten, 2);
        for (const std::string& call : view.Calls())
            if (call.starts_with("line: ") || call.starts_with("link: "))
                windowLines << QString::fromStdString(call.substr(6)).trimmed().replace(window, cli);
    }
    const QString ip = QString::fromStdString(address);
    const CliResult r = RunCli({"download", ip, "-p", "secret", "--folder", cli, "--local-zone", "--overwrite"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const auto expected = Files(window);
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(Files(cli), expected);
    EXPECT_EQ(r.OutLines(), windowLines);
    EXPECT_TRUE(windowLines.contains("Saving data to \"" + cli + "/" + ip + "_p3_4-20ma.txt\" ..."));
    EXPECT_TRUE(r.err.isEmpty()) << "no progress bar off a terminal: " << r.err.toStdString();

    // Without --overwrite a second download adds its reports behind the first ones.
    EXPECT_EQ(RunCli({"download", ip, "-p", "secret", "-f", cli, "--local-zone"}).status, 0);
    for (const auto& [name, bytes] : Files(cli))
        EXPECT_EQ(bytes, expected.at(name) + expected.at(name)) << name.toStdString();
}

TEST(CliDownload, AWrongPasswordEndsWithStatus2AndWritesNothing)
{
    REQUIRE_PORT_811();
    UnitSimProcess sim;
    const std::string address = CurrentTestAddress();
    ASSERT_TRUE(Started(sim, sim.StartUnit(Unit(), address)));
    QTemporaryDir dir;
    const CliResult r = RunCli({"download", QString::fromStdString(address), "-p", "guess", "-f", dir.path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, QByteArray("veltrane-cli download: Wrong password !\n"));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

// A folder whose name is not UTF-8 is used as named: arguments reach the program as bytes.
// QProcess passes only UTF-8, so the shell's printf makes the byte.
TEST(CliDownload, AFolderNamedInAnotherEncodingGetsTheReports)
{
    REQUIRE_PORT_811();
    UnitSimProcess sim;
    const std::string address = CurrentTestAddress();
    ASSERT_TRUE(Started(sim, sim.StartUnit(Unit(), address)));
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + "/rep\xFF";
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    QProcess process;
    process.start("/bin/sh", {"-c", "exec \"$0\" download \"$1\" -p secret -f \"$(printf \"$2\")\"", VELTRANE_CLI,
                              QString::fromStdString(address), dir.path() + "/rep\\377"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    int reports = 0;
    if (DIR* listing = ::opendir(folder.constData())) {
        while (const dirent* entry = ::readdir(listing))
            reports += entry->d_type == DT_REG;
        ::closedir(listing);
    }
    EXPECT_EQ(reports, 2);
}

} // namespace
