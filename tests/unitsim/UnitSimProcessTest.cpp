// The simulator as a process: it says when it listens, refuses an address it cannot bind,
// logs every request, and stops cleanly on SIGINT and SIGTERM.
#include "UnitSimTestSupport.h"

#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace testsupport;

#define REQUIRE_PORT_161()                                                                                            \
    if (!CanBindPrivilegedPorts())                                                                                     \
    GTEST_SKIP() << "needs root to serve port 161"

TEST(SimProcess, AnAddressInUseIsRefusedByName)
{
    REQUIRE_PORT_161();
    UnitSimProcess first;
    ASSERT_TRUE(first.StartUnit({}, CurrentTestAddress())) << first.Error().toStdString();
    UnitSimProcess second;
    EXPECT_FALSE(second.StartUnit({}, CurrentTestAddress()));
    EXPECT_TRUE(second.Error().startsWith(QString("veltrane-unitsim: cannot listen on %1 udp/161 (snmp): ")
                                              .arg(QString::fromStdString(CurrentTestAddress()))))
        << second.Error().toStdString();
    EXPECT_TRUE(first.IsRunning());
}

TEST(SimProcess, StopsCleanlyOnSigintAndSigterm)
{
    REQUIRE_PORT_161();
    for (int signal : {SIGINT, SIGTERM}) {
        QTemporaryDir dir;
        QProcess process;
        const QString ready = dir.filePath("ready");
        UnitSimProcess writer; // only for its description folder
        const QString description = dir.filePath("u.json");
        QFile file(description);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QString(R"({"units": [{"address": "%1"}]})").arg(QString::fromStdString(CurrentTestAddress())).toUtf8());
        file.close();
        process.start(UnitSimProcess::Program(), {"--ready-file", ready, description});
        ASSERT_TRUE(WaitUntil([&] { return QFile::exists(ready) && QFile(ready).size() > 0; }, 10000));
        QFile readyFile(ready);
        ASSERT_TRUE(readyFile.open(QIODevice::ReadOnly));
        EXPECT_EQ(readyFile.readAll().trimmed().toLongLong(), process.processId());
        ::kill(static_cast<pid_t>(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_TRUE(process.readAllStandardOutput().endsWith("veltrane-unitsim: stopped\n"));
    }
}

TEST(SimProcess, LogHasOneLinePerRequestWithItsOids)
{
    REQUIRE_PORT_161();
    UnitSimProcess sim;
    ASSERT_TRUE(sim.StartUnit(QJsonObject{{"portCount", 2}}, CurrentTestAddress())) << sim.Error().toStdString();
    const QString a = Oem("1.2.2.1.16.1.5.0"), b = Oem("1.2.2.1.17.1.5.1");
    RunTool("snmpget", SnmpArgs(CurrentTestAddress()) << a << b);
    RunTool("snmpget", SnmpArgs(CurrentTestAddress()) << b);
    EXPECT_EQ(sim.Requests(), (QList<QStringList>{{a, b}, {b}}));
    sim.ClearLog();
    RunTool("snmpget", SnmpArgs(CurrentTestAddress()) << a);
    EXPECT_EQ(sim.Requests(), (QList<QStringList>{{a}}));
    EXPECT_TRUE(sim.Stop());
}
