// The virtual unit as real SNMP clients see it: net-snmp's snmpget and snmpwalk against a
// running veltrane-unitsim, compared with the description it was given.
#include "UnitSimTestSupport.h"

#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QThread>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

#define REQUIRE_PORT_161()                                                                                            \
    if (!CanBindPrivilegedPorts())                                                                                     \
    GTEST_SKIP() << "needs root to serve port 161"

// A 2-port unit without sub-tables: a sensor in table 16 at port 0, one in table 17 at port 1.
QJsonObject TwoPortUnit()
{
    return QJsonObject{
        {"portCount", 2},
        {"ports",
         QJsonArray{QJsonObject{{"index", 0},
                                {"table16", QJsonObject{{"status", 1}, {"description", "Temp Room"}, {"value", 215}}}},
                    QJsonObject{{"index", 1},
                                {"table17", QJsonObject{{"status", 1},
                                                        {"description", "Humidity"},
                                                        {"value", 47},
                                                        {"type", 3}}}}}},
    };
}

QString Line(const QString& rest, const QString& value)
{
    return Oem(rest) + " = " + value;
}

QStringList Lines(const QString& text)
{
    return text.split('\n', Qt::SkipEmptyParts);
}

} // namespace

TEST(SnmpClients, SnmpwalkShowsExactlyTheDescribedPrivateMib)
{
    REQUIRE_PORT_161();
    UnitSimProcess sim;
    ASSERT_TRUE(sim.StartUnit(TwoPortUnit(), CurrentTestAddress())) << sim.Error().toStdString();

    const ToolRun walk = RunTool("snmpwalk", SnmpArgs(CurrentTestAddress()) << Oem("1"));
    ASSERT_EQ(walk.exitCode, 0) << walk.err.toStdString();
    const QStringList expected = {
        Line("1.2.2.1.16.1.1.0", "STRING: \"Temp Room\""),
        Line("1.2.2.1.16.1.1.1", "\"\""),
        Line("1.2.2.1.16.1.3.0", "INTEGER: 215"),
        Line("1.2.2.1.16.1.3.1", "INTEGER: 0"),
        Line("1.2.2.1.16.1.5.0", "INTEGER: 1"),
        Line("1.2.2.1.16.1.5.1", "INTEGER: 0"),
        Line("1.2.2.1.17.1.1.0", "\"\""),
        Line("1.2.2.1.17.1.1.1", "STRING: \"Humidity\""),
        Line("1.2.2.1.17.1.3.0", "INTEGER: 0"),
        Line("1.2.2.1.17.1.3.1", "INTEGER: 47"),
        Line("1.2.2.1.17.1.5.0", "INTEGER: 0"),
        Line("1.2.2.1.17.1.5.1", "INTEGER: 1"),
        Line("1.2.2.1.18.1.9.0", "INTEGER: 0"),
        Line("1.2.2.1.18.1.9.1", "INTEGER: 3"),
        "End of MIB",
    };
    EXPECT_EQ(Lines(walk.out), expected);
}

TEST(SnmpClients, SnmpgetReadsSubTablesArraysAndNumbering)
{
    REQUIRE_PORT_161();
    const QJsonObject unit{
        {"numbering", 1},
        {"families",
         QJsonObject{{"30", QJsonObject{{"count", 2},
                                        {"entries", QJsonArray{QJsonObject{{"index", 2},
                                                                           {"status", 1},
                                                                           {"description", "Dry contact"},
                                                                           {"value", 1}}}}}},
                     {"26", QJsonObject{{"count", -1}}}}},
        {"arrays", QJsonArray{QJsonObject{
                       {"array", 3},
                       {"entries", QJsonArray{QJsonObject{
                                       {"index", 8}, {"status", 1}, {"description", "Rack top"}, {"value", 231}}}}}}},
    };
    UnitSimProcess sim;
    ASSERT_TRUE(sim.StartUnit(unit, CurrentTestAddress())) << sim.Error().toStdString();

    const ToolRun get = RunTool("snmpget", SnmpArgs(CurrentTestAddress()) << "-Cf"
                                                                          << Oem("1.2.2.1.101.0")
                                                                          << Oem("1.2.2.1.19.30.1.0")
                                                                          << Oem("1.2.2.1.19.30.2.1.5.1")
                                                                          << Oem("1.2.2.1.19.30.2.1.5.2")
                                                                          << Oem("1.2.2.1.19.30.2.1.2.2")
                                                                          << Oem("1.2.2.1.19.30.2.1.13.2")
                                                                          << Oem("1.2.2.1.19.26.1.0")
                                                                          << Oem("1.2.2.1.19.33.3.1.0")
                                                                          << Oem("1.2.2.1.19.33.3.2.1.5.8")
                                                                          << Oem("1.2.2.1.19.33.3.2.1.2.8")
                                                                          << Oem("1.2.2.1.19.33.3.2.1.3.8")
                                                                          << Oem("1.2.2.1.16.1.5.8"));
    ASSERT_EQ(get.exitCode, 0) << get.err.toStdString();
    EXPECT_EQ(Lines(get.out), (QStringList{
                                  Line("1.2.2.1.101.0", "INTEGER: 1"),
                                  Line("1.2.2.1.19.30.1.0", "INTEGER: 2"),
                                  Line("1.2.2.1.19.30.2.1.5.1", "INTEGER: 0"),
                                  Line("1.2.2.1.19.30.2.1.5.2", "INTEGER: 1"),
                                  Line("1.2.2.1.19.30.2.1.2.2", "STRING: \"Dry contact\""),
                                  Line("1.2.2.1.19.30.2.1.13.2", "INTEGER: 1"),
                                  Line("1.2.2.1.19.26.1.0", "INTEGER: -1"),
                                  Line("1.2.2.1.19.33.3.1.0", "INTEGER: 8"),
                                  Line("1.2.2.1.19.33.3.2.1.5.8", "INTEGER: 1"),
                                  Line("1.2.2.1.19.33.3.2.1.2.8", "STRING: \"Rack top\""),
                                  Line("1.2.2.1.19.33.3.2.1.3.8", "INTEGER: 231"),
                                  Line("1.2.2.1.16.1.5.8", "INTEGER: 0"),
                              }));

    // Zero-based indexes do not exist on a one-based unit, nor families and arrays not described.
    for (const char* missing : {"1.2.2.1.16.1.5.0", "1.2.2.1.19.30.2.1.5.0", "1.2.2.1.19.30.2.1.5.3",
                                "1.2.2.1.19.27.1.0", "1.2.2.1.19.33.2.1.0", "1.2.2.1.19.33.3.2.1.5.9"}) {
        const ToolRun miss = RunTool("snmpget", SnmpArgs(CurrentTestAddress()) << "-Cf" << Oem(missing));
        EXPECT_NE(miss.exitCode, 0) << missing;
        EXPECT_TRUE(miss.err.contains("(noSuchName)")) << missing << ": " << miss.err.toStdString();
    }
}

TEST(SnmpClients, HugeCountsAreAnsweredWithoutARowPerIndex)
{
    REQUIRE_PORT_161();
    const QJsonArray entries{
        QJsonObject{{"index", 1}, {"status", 1}, {"description", "Listed"}},
        QJsonObject{{"index", 2}, {"description", QJsonValue()}},
    };
    const QJsonObject family{{"count", 2147483647}, {"entries", entries}};
    const QJsonObject unit{{"numbering", 0}, {"families", QJsonObject{{"30", family}}}};
    UnitSimProcess sim;
    ASSERT_TRUE(sim.StartUnit(unit, CurrentTestAddress())) << sim.Error().toStdString();

    struct Case {
        const char* tool;
        const char* asked;
        QString answer; // empty: noSuchName
    };
    const Case cases[] = {
        {"snmpget", "1.2.2.1.19.30.1.0", Line("1.2.2.1.19.30.1.0", "INTEGER: 2147483647")},
        {"snmpget", "1.2.2.1.19.30.2.1.5.2147483646", Line("1.2.2.1.19.30.2.1.5.2147483646", "INTEGER: 0")},
        {"snmpget", "1.2.2.1.19.30.2.1.5.2147483647", {}},
        {"snmpget", "1.2.2.1.19.30.2.1.2.2", {}},
        {"snmpgetnext", "1.2.2.1.19.30.2.1.2.0", Line("1.2.2.1.19.30.2.1.2.1", "STRING: \"Listed\"")},
        {"snmpgetnext", "1.2.2.1.19.30.2.1.2.1", Line("1.2.2.1.19.30.2.1.2.3", "\"\"")},
        {"snmpgetnext", "1.2.2.1.19.30.2.1.5.2147483646.7", Line("1.2.2.1.19.30.2.1.13.0", "INTEGER: 0")},
        {"snmpgetnext", "1.2.2.1.19.30.2", Line("1.2.2.1.19.30.2.1.2.0", "\"\"")},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.tool, SnmpArgs(CurrentTestAddress()) << "-Cf" << Oem(c.asked));
        if (c.answer.isEmpty())
            EXPECT_TRUE(run.err.contains("(noSuchName)")) << c.asked << ": " << run.err.toStdString();
        else
            EXPECT_EQ(run.out.trimmed(), c.answer) << c.tool << " " << c.asked << ": " << run.err.toStdString();
    }
}

TEST(SnmpClients, NoSuchNameNamesTheFailingBindingAndNullRemovesRowsAndColumns)
{
    REQUIRE_PORT_161();
    const QJsonObject unit{
        {"numbering", 0},
        {"ports", QJsonArray{QJsonObject{{"index", 0},
                                         {"table16", QJsonObject{{"status", 1}, {"description", QJsonValue()}}},
                                         {"table17", QJsonValue()}}}},
    };
    UnitSimProcess sim;
    ASSERT_TRUE(sim.StartUnit(unit, CurrentTestAddress())) << sim.Error().toStdString();

    const ToolRun pair = RunTool("snmpget", SnmpArgs(CurrentTestAddress())
                                                << "-Cf" << Oem("1.2.2.1.16.1.5.0") << Oem("1.2.2.1.17.1.5.0")
                                                << Oem("1.2.2.1.16.1.5.1"));
    EXPECT_NE(pair.exitCode, 0);
    EXPECT_TRUE(pair.err.contains("Reason: (noSuchName)")) << pair.err.toStdString();
    EXPECT_TRUE(pair.err.contains("Failed object: " + Oem("1.2.2.1.17.1.5.0"))) << pair.err.toStdString();

    for (const char* missing : {"1.2.2.1.16.1.1.0", "1.2.2.1.18.1.9.0", "1.2.2.1.17.1.3.0"}) {
        const ToolRun miss = RunTool("snmpget", SnmpArgs(CurrentTestAddress()) << "-Cf" << Oem(missing));
        EXPECT_TRUE(miss.err.contains("Failed object: " + Oem(missing))) << missing << ": " << miss.err.toStdString();
    }
    const ToolRun present = RunTool("snmpget", SnmpArgs(CurrentTestAddress()) << Oem("1.2.2.1.16.1.3.0"));
    EXPECT_EQ(present.out.trimmed(), Line("1.2.2.1.16.1.3.0", "INTEGER: 0"));
}

TEST(SnmpClients, WrongCommunityGetsNoAccessOrSilence)
{
    REQUIRE_PORT_161();
    const std::string address = CurrentTestAddress();
    const std::string silentAddress = TestAddress(address + "-silence");
    const QJsonObject description{
        {"units", QJsonArray{QJsonObject{{"address", QString::fromStdString(address)}, {"community", "orchid"}},
                             QJsonObject{{"address", QString::fromStdString(silentAddress)},
                                         {"community", "orchid"},
                                         {"faults", QJsonObject{{"wrongCommunity", "silence"}}}}}},
    };
    UnitSimProcess sim;
    ASSERT_TRUE(sim.Start(description)) << sim.Error().toStdString();

    const ToolRun denied = RunTool("snmpget", SnmpArgs(address, "public") << Oem("1.2.2.1.16.1.5.0"));
    EXPECT_NE(denied.exitCode, 0);
    EXPECT_TRUE(denied.err.contains("Reason: noAccess")) << denied.err.toStdString();

    const ToolRun right = RunTool("snmpget", SnmpArgs(address, "orchid") << Oem("1.2.2.1.16.1.5.0"));
    EXPECT_EQ(right.out.trimmed(), Line("1.2.2.1.16.1.5.0", "INTEGER: 0"));

    const ToolRun silent = RunTool("snmpget", SnmpArgs(silentAddress, "public", "0.5") << Oem("1.2.2.1.16.1.5.0"));
    EXPECT_NE(silent.exitCode, 0);
    EXPECT_TRUE(silent.err.contains("Timeout")) << silent.err.toStdString();
    const ToolRun silentRight = RunTool("snmpget", SnmpArgs(silentAddress, "orchid") << Oem("1.2.2.1.16.1.5.0"));
    EXPECT_EQ(silentRight.exitCode, 0) << silentRight.err.toStdString();

    const QStringList log = sim.LogLines();
    ASSERT_EQ(log.size(), 4);
    EXPECT_EQ(log[0], QString::fromStdString(address) + " snmp GET " + Oem("1.2.2.1.16.1.5.0") +
                          " (wrong community \"public\")");
    EXPECT_EQ(log[1], QString::fromStdString(address) + " snmp GET " + Oem("1.2.2.1.16.1.5.0"));
}

TEST(SnmpClients, SilentDroppingDelayedAndErrorFaults)
{
    REQUIRE_PORT_161();
    const std::string base = CurrentTestAddress();
    const std::string silent = TestAddress(base + "-silent"), dropping = TestAddress(base + "-drop"),
                      slow = TestAddress(base + "-slow"), failing = TestAddress(base + "-genErr");
    auto unit = [](const std::string& address, const QJsonObject& faults) {
        return QJsonObject{{"address", QString::fromStdString(address)}, {"numbering", 0}, {"faults", faults}};
    };
    UnitSimProcess sim;
    ASSERT_TRUE(sim.Start(QJsonObject{
        {"units",
         QJsonArray{unit(silent, {{"silent", true}}), unit(dropping, {{"dropShare", 1.0}}),
                    unit(slow, {{"delayMs", 1500}}),
                    unit(failing, {{"errors", QJsonArray{QJsonObject{{"oid", "1.2.2.1.101.0"}, {"status", 5}}}}})}}}))
        << sim.Error().toStdString();
    const QString oid = Oem("1.2.2.1.101.0");

    for (const std::string& quiet : {silent, dropping}) {
        const ToolRun run = RunTool("snmpget", SnmpArgs(quiet, "public", "0.5") << oid);
        EXPECT_TRUE(run.err.contains("Timeout")) << quiet << ": " << run.err.toStdString();
    }
    const ToolRun tooSoon = RunTool("snmpget", SnmpArgs(slow, "public", "0.5") << oid);
    EXPECT_TRUE(tooSoon.err.contains("Timeout")) << tooSoon.err.toStdString();
    QElapsedTimer timer;
    timer.start();
    const ToolRun patient = RunTool("snmpget", SnmpArgs(slow, "public", "5") << oid);
    EXPECT_EQ(patient.out.trimmed(), oid + " = INTEGER: 0");
    EXPECT_GE(timer.elapsed(), 1400);

    const ToolRun genErr = RunTool("snmpget", SnmpArgs(failing) << "-Cf" << oid);
    EXPECT_TRUE(genErr.err.contains("Reason: (genError)")) << genErr.err.toStdString();

    // Every request is logged, also those that got no answer.
    EXPECT_EQ(sim.LogLines().size(), 5);
}

TEST(SnmpClients, WaveValuesMoveAndUptimeCounts)
{
    REQUIRE_PORT_161();
    const QJsonObject unit{
        {"name", "Moving"},
        {"ports",
         QJsonArray{QJsonObject{
             {"index", 0},
             {"table16", QJsonObject{{"status", 1},
                                     {"value", QJsonObject{{"base", 1000}, {"amplitude", 900}, {"periodSeconds", 2}}}}}}}},
    };
    UnitSimProcess sim;
    ASSERT_TRUE(sim.StartUnit(unit, CurrentTestAddress())) << sim.Error().toStdString();
    QStringList readings;
    for (int i = 0; i < 3; ++i) {
        const ToolRun run = RunTool("snmpget", SnmpArgs(CurrentTestAddress()) << Oem("1.2.2.1.16.1.3.0"));
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const int value = run.out.section("INTEGER: ", 1).trimmed().toInt();
        EXPECT_GE(value, 100);
        EXPECT_LE(value, 1900);
        readings << QString::number(value);
        QThread::msleep(300);
    }
    readings.removeDuplicates();
    EXPECT_GT(readings.size(), 1) << readings.join(",").toStdString();

    const ToolRun system = RunTool("snmpget", SnmpArgs(CurrentTestAddress())
                                                  << ".1.3.6.1.2.1.1.5.0" << ".1.3.6.1.2.1.1.3.0");
    EXPECT_TRUE(system.out.contains(".1.3.6.1.2.1.1.5.0 = STRING: \"Moving\"")) << system.out.toStdString();
    EXPECT_TRUE(system.out.contains(".1.3.6.1.2.1.1.3.0 = Timeticks: (")) << system.out.toStdString();
}

TEST(SnmpClients, OnlyVersion1IsAnswered)
{
    REQUIRE_PORT_161();
    UnitSimProcess sim;
    ASSERT_TRUE(sim.StartUnit(TwoPortUnit(), CurrentTestAddress())) << sim.Error().toStdString();
    QStringList args = SnmpArgs(CurrentTestAddress(), "public", "0.5");
    args[0] = "-v2c";
    const ToolRun v2 = RunTool("snmpget", args << Oem("1.2.2.1.16.1.5.0"));
    EXPECT_TRUE(v2.err.contains("Timeout")) << v2.err.toStdString();
    const QStringList log = sim.LogLines();
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith(QString::fromStdString(CurrentTestAddress()) + " snmp unreadable ")) << log[0].toStdString();
}
