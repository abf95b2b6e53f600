// veltrane-cli download's exit status, as scripts and cron jobs read it: 0 only when every port
// and channel answered; distinct statuses for a unit that does not answer, an interrupted run
// and channels without an answer. And the unit's address, read as the window reads it.
#include "CliProcess.h"

#include "common/QtPrinters.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace testsupport;

namespace {

#define REQUIRE_PORT_811()                                                                                            \
    if (!CanBindPrivilegedPorts())                                                                                     \
    GTEST_SKIP() << "needs root to serve port 811"

QJsonObject Records(int port, int channel)
{
    return QJsonObject {{"port", port}, {"channel", channel}, {"sensorType", 1}, {"width", 2}, {"interval", 10},
                        {"unitTime", 1700000000}, {"records", QJsonArray {21, 22, 23}}};
}

QJsonObject Error(int port, int channel, int error)
{
    return QJsonObject {{"port", port}, {"channel", channel}, {"error", error}};
}

QJsonObject Unit(const QJsonArray& channels, const QJsonObject& more = {})
{
    QJsonObject datalog {{"password", "secret"}, {"channels", channels}};
    for (auto it = more.begin(); it != more.end(); ++it)
        datalog[it.key()] = it.value();
    return QJsonObject {{"datalog", datalog}};
}

QStringList Reports(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

// "127.016.005.009" for "127.16.5.9": every field zero-padded to three digits.
QString ZeroPadded(const std::string& address)
{
    QStringList fields;
    for (const QString& field : QString::fromStdString(address).split('.'))
        fields << field.rightJustified(3, '0');
    return fields.join('.');
}

TEST(CliDownloadStatus, ZeroOnlyWhenEveryChannelAnswered)
{
    REQUIRE_PORT_811();
    struct Case {
        const char* name;
        QJsonObject unit;
        const char* password;
        int status;
        QByteArray err; // standard error, exactly
        int reports;
    };
    const QByteArray who = "veltrane-cli download: ";
    const Case cases[] = {
        {"all answered: reports, no datalog, no records, offline ports",
         Unit({Records(0, 0), Error(0, 1, -2), QJsonObject {{"port", 1}, {"channel", 0}, {"count", 0}, {"capacity", 10}},
               Records(2, 1)}),
         "secret", 0, "veltrane-cli download: Sensor on port 2 has no data in datalogger\n", 2},
        {"some channels failed: an unknown error byte, meaningless ring values, a silent error byte",
         Unit({Records(0, 0), Error(0, 1, -7), QJsonObject {{"port", 1}, {"channel", 0}, {"width", 3}, {"count", 5}, {"capacity", 10}},
               Error(1, 1, -4)}),
         "secret", 5,
         who + "no answer from the unit for 3 of 10 channels (port 1 channel 1, port 2 channel 0, port 2 channel 1): "
               "no report for them\n",
         1},
        {"every channel failed",
         Unit({}, {{"otherPorts", -7}}), "secret", 5,
         who + "no answer from the unit for 16 of 16 channels (port 1 channel 0, port 1 channel 1, port 2 channel 0, "
               "port 2 channel 1, port 3 channel 0, port 3 channel 1, port 4 channel 0, port 4 channel 1, port 5 "
               "channel 0, port 5 channel 1, port 6 channel 0, port 6 channel 1, port 7 channel 0, port 7 channel 1, "
               "port 8 channel 0, port 8 channel 1): no report for them\n",
         0},
        {"wrong password", Unit({Records(0, 0)}), "guess", 2, who + "Wrong password !\n", 0},
        {"old firmware", Unit({QJsonObject {{"port", 0}, {"channel", 0}, {"oldFirmware", true}}}), "secret", 2, "", 0},
        {"unit silent (five requests of 5 s)", Unit({Records(0, 0)}, {{"faults", QJsonObject {{"silent", true}}}}),
         "secret", 2, who + "No system reply !\n", 0},
    };
    const std::string address = CurrentTestAddress();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UnitSimProcess sim;
        ASSERT_TRUE(Started(sim, sim.StartUnit(c.unit, address)));
        QTemporaryDir dir;
        const CliResult r = RunCli({"download", QString::fromStdString(address), "-p", c.password, "-f", dir.path()});
        EXPECT_EQ(r.status, c.status) << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(Reports(dir.path()).size(), c.reports) << Reports(dir.path()).join(", ").toStdString();
    }
}

// SIGINT or SIGTERM while the unit is being asked: the run ends at once with status 4.
TEST(CliDownloadStatus, AnInterruptedDownloadEndsWithFour)
{
    REQUIRE_PORT_811();
    const std::string address = CurrentTestAddress();
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.StartUnit(Unit({Records(0, 0)}, {{"faults", QJsonObject {{"silent", true}}}}), address)));
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signalNumber);
        sim.ClearLog();
        QTemporaryDir dir;
        QProcess process;
        process.start(QStringLiteral(VELTRANE_CLI), {"download", QString::fromStdString(address), "-p", "secret", "-f", dir.path()});
        ASSERT_TRUE(WaitUntil([&] { return !sim.LogLines().isEmpty(); }, 10000)) << "the first status request";
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        ASSERT_TRUE(process.waitForFinished(3000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 4);
        EXPECT_EQ(process.readAllStandardError(),
                  QByteArray("veltrane-cli download: interrupted before every channel was asked; the reports written "
                             "are whole\n"));
        EXPECT_TRUE(Reports(dir.path()).isEmpty());
    }
}

// The address is read as the window's address control reads it (leading zeros decimal) and the
// unit is asked at that address; what is no address is refused before any packet.
TEST(CliDownloadStatus, AddressIsReadAsTheWindowReadsIt)
{
    REQUIRE_PORT_811();
    const std::string address = CurrentTestAddress();
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.StartUnit(Unit({Records(0, 0)}), address)));
    const QString canonical = QString::fromStdString(address);
    struct Case {
        QString typed;
        int status;
    };
    const Case cases[] = {
        {ZeroPadded(address), 0},
        {" " + canonical, 0},
        {canonical + ".0", 1},
        {canonical.section('.', 0, 2), 1},
        {canonical + "0000", 1},
        {"0x7f" + canonical.mid(3), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        sim.ClearLog();
        QTemporaryDir dir;
        const CliResult r = RunCli({"download", c.typed, "-p", "secret", "-f", dir.path()});
        EXPECT_EQ(r.status, c.status) << r.err.toStdString();
        if (c.status == 0) {
            EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
            EXPECT_EQ(Reports(dir.path()), QStringList {canonical + "_p1_temperature.txt"});
            EXPECT_FALSE(sim.LogLines().isEmpty());
        } else {
            EXPECT_EQ(r.err, "veltrane-cli download: \"" + c.typed.toUtf8() + "\" is not a dotted IPv4 address\n");
            EXPECT_TRUE(r.out.isEmpty());
            EXPECT_TRUE(sim.LogLines().isEmpty()) << "nothing is sent";
        }
    }
}

} // namespace
