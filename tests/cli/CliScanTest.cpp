// The command line's rules (usage errors, --help, --version) and its discovery scan against a
// virtual unit.
#include "CliProcess.h"

#include "common/QtPrinters.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

TEST(Cli, UsageErrorsNameWhatWasWrong)
{
    struct Case {
        QStringList args;
        int status;
        const char* text; // in standard error, or standard output for --help/--version
    };
    const Case cases[] = {
        {{}, 1, "no command given"},
        {{"frobnicate"}, 1, "unknown command \"frobnicate\""},
        {{"--bogus"}, 1, "Unknown option 'bogus'"},
        {{"scan"}, 1, "veltrane-cli scan: missing argument"},
        {{"scan", "127.0.0.1", "127.0.0.2"}, 1, "unexpected argument \"127.0.0.2\""},
        {{"scan", "unit.example"}, 1, "\"unit.example\" is not a dotted IPv4 address"},
        {{"scan", "127.0.0.256"}, 1, "\"127.0.0.256\" is not a dotted IPv4 address"},
        {{"scan", "127.1"}, 1, "\"127.1\" is not a dotted IPv4 address"},
        {{"scan", "127.0.0.1", "--bogus"}, 1, "Unknown option 'bogus'"},
        {{"scan", "127.0.0.1", "-c"}, 1, "Missing value after '-c'"},
        {{"--version"}, 0, "veltrane-cli 3.5.0"},
        {{"--help"}, 0, "2  the unit did not answer"},
        {{"scan", "--help"}, 0, "Usage: veltrane-cli scan [options] ADDRESS"},
        {{"download", "127.0.0.1", "-f", "/"}, 1, "--password is required"},
        {{"download", "127.0.0.1", "-p", "secret"}, 1, "--folder is required"},
        {{"download", "127.0.0.1", "-p", "secret", "-f", "/nonexistent/reports"}, 3,
         "the folder \"/nonexistent/reports\" does not exist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.status, c.status);
        const QByteArray& where = c.status == 0 ? r.out : r.err;
        EXPECT_TRUE(where.contains(c.text)) << where.toStdString();
        EXPECT_TRUE(c.status == 0 || r.out.isEmpty()) << r.out.toStdString();
    }
}

#define REQUIRE_PORT_161()                                                                                            \
    if (!CanBindPrivilegedPorts())                                                                                     \
    GTEST_SKIP() << "needs root to serve port 161"

QJsonObject Unit()
{
    const QJsonObject temperature {{"status", 1}, {"description", "Room\tone"}, {"value", 21}};
    const QJsonObject humidity {{"status", 1}, {"description", "Humidity"}, {"value", 40}, {"type", 3}};
    return QJsonObject {{"numbering", 0},
                        {"ports", QJsonArray {QJsonObject {{"index", 0}, {"table16", temperature}},
                                              QJsonObject {{"index", 3}, {"table17", humidity}}}}};
}

TEST(Cli, ScanPrintsOneLinePerSensorAndTheStatus)
{
    REQUIRE_PORT_161();
    UnitSimProcess sim;
    const std::string address = CurrentTestAddress();
    ASSERT_TRUE(Started(sim, sim.StartUnit(Unit(), address)));
    const QString ip = QString::fromStdString(address);
    const QString prefix = QStringLiteral(".1.3.6.1.4.1." VELTRANE_TEST_ENTERPRISE ".1.2.2.1.");

    const CliResult r = RunCli({"scan", ip});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.OutLines(),
              (QStringList {"Port 1\tRoom\\tone\t" + prefix + "16.1.3.0", "Port 4\tHumidity\t" + prefix + "17.1.3.3",
                            "IP " + ip + " has 2 sensors online , then select wanted sensor and press GenOID."}));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();

    const CliResult oids = RunCli({"scan", "--oids", ip, "--community", "public"});
    EXPECT_EQ(oids.status, 0);
    EXPECT_EQ(oids.OutLines(), (QStringList {prefix + "16.1.3.0", prefix + "17.1.3.3"}));
    EXPECT_TRUE(oids.err.contains("has 2 sensors online"));
}

TEST(Cli, ScanOfAUnitThatRefusesTheCommunityEndsWithStatus2)
{
    REQUIRE_PORT_161();
    UnitSimProcess sim;
    const std::string address = CurrentTestAddress();
    QJsonObject unit = Unit();
    unit["faults"] = QJsonObject {{"wrongCommunity", "noAccess"}};
    ASSERT_TRUE(Started(sim, sim.StartUnit(unit, address)));
    const QString ip = QString::fromStdString(address);

    const CliResult r = RunCli({"scan", ip, "-c", "wrong"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.OutLines(), QStringList {"Cannot access IP " + ip + " because you may entered a wrong password."});
}

} // namespace
