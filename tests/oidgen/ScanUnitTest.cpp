// The discovery scan and sub-table walk against virtual units of every shape these units come
// in: rows, their order, count, final status text, ticks, message boxes, and - counted on the
// unit's side - exactly the reads the scan sends.
#include "ScanTestSupport.h"

#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <QThread>

#include <arpa/inet.h>

#include <atomic>
#include <thread>

using namespace testsupport;

namespace {

#define REQUIRE_PORT_161()                                                                                            \
    if (!CanBindPrivilegedPorts())                                                                                     \
    GTEST_SKIP() << "needs root to serve port 161"

QJsonObject Row(int status, const QJsonValue& description, const QJsonValue& value = 0)
{
    return QJsonObject{{"status", status}, {"description", description}, {"value", value}};
}

QJsonObject Typed(int type, const QJsonValue& description)
{
    QJsonObject row = Row(1, description);
    row["type"] = type;
    return row;
}

QJsonObject Port(int index, const QJsonValue& table16, const QJsonValue& table17 = QJsonValue::Undefined)
{
    QJsonObject port{{"index", index}};
    if (!table16.isUndefined())
        port["table16"] = table16;
    if (!table17.isUndefined())
        port["table17"] = table17;
    return port;
}

QJsonObject Entry(int index, int status, const QJsonValue& description)
{
    return QJsonObject{{"index", index}, {"status", status}, {"description", description}, {"value", 0}};
}

QJsonObject Array(int array, const QJsonArray& entries = {})
{
    return QJsonObject{{"array", array}, {"entries", entries}};
}

QJsonArray AllArrays(std::map<int, QJsonArray> entries)
{
    QJsonArray arrays;
    for (int a = 1; a <= 8; ++a)
        arrays.append(Array(a, entries[a]));
    return arrays;
}

std::string Text(const char* format, const std::string& address, int count = 0)
{
    char text[256];
    std::snprintf(text, sizeof text, format, address.c_str(), count);
    return text;
}

const char* const kPlural = " IP %s has %d sensors online , then select wanted sensor and press GenOID.";
const char* const kSingular = " IP %s has %d sensor online , then select wanted sensor and press GenOID.";
const char* const kNone = " IP %s has no sensor online.";

// Starts the unit on the test's address and scans it with community.
class ScanFixture : public ::testing::Test {
protected:
    testing::AssertionResult StartUnit(const QJsonObject& unit)
    {
        return Started(m_sim, m_sim.StartUnit(unit, m_address));
    }

    int Scan(const std::string& community = "public")
    {
        m_scan.SetScanView(&m_view);
        m_scan.m_strIpAddress = m_address;
        m_scan.m_strCommunity = community;
        return m_scan.ScanUnit();
    }

    const std::string m_address = CurrentTestAddress();
    UnitSimProcess m_sim;
    CSensorScan m_scan;
    RecordingView m_view;
};

} // namespace

TEST_F(ScanFixture, EightPortZeroBasedUnitWithSubTablesAndArrays)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{
        {"numbering", 0},
        {"ports", QJsonArray{Port(0, Row(1, "Room")), Port(1, QJsonValue::Undefined, Typed(3, "Humidity")),
                             Port(2, QJsonValue::Undefined, Typed(8, "Airflow")), Port(3, Row(1, "Rack")),
                             Port(4, QJsonValue::Undefined, Typed(5, "Door")),
                             Port(5, Row(1, "Inlet"), Typed(13, "Current")), Port(6, Row(2, "Unplugged")),
                             Port(7, QJsonValue::Undefined, Typed(1, "Probe 8"))}},
        {"families",
         QJsonObject{{"30", QJsonObject{{"count", 3},
                                        {"entries", QJsonArray{Entry(0, 1, "UPS A"), Entry(1, 0, "UPS B"),
                                                               Entry(2, 1, "UPS C")}}}},
                     {"26", QJsonObject{{"count", 0}}},
                     {"28", QJsonObject{{"count", -2}}},
                     {"32", QJsonObject{{"count", 1}, {"entries", QJsonArray{Entry(0, 1, "Smoke")}}}}}},
        {"arrays", AllArrays({{1, QJsonArray{Entry(0, 1, "Top"), Entry(7, 1, "Bottom")}},
                              {8, QJsonArray{Entry(3, 1, "Middle")}}})},
    }));

    EXPECT_EQ(Scan(), 14);
    EXPECT_EQ(m_scan.m_nSensorCount, 14);
    EXPECT_EQ(m_scan.m_nPortCount, 8);
    EXPECT_TRUE(m_scan.m_bZeroBasedPorts);
    EXPECT_TRUE(m_scan.m_bHasSubTables);
    ExpectRows(m_scan, m_view,
               {
                   {"Port 1", "Room", 0, "1.2.2.1.16.1.3.0"},
                   {"Port 2", "Humidity", 1, "1.2.2.1.17.1.3.1"},
                   {"Port 3", "Airflow", 2, "1.2.2.1.17.1.3.2"},
                   {"Port 4", "Rack", 0, "1.2.2.1.16.1.3.3"},
                   {"Port 5", "Door", 3, "1.2.2.1.17.1.3.4"},
                   {"Port 6", "Inlet", 0, "1.2.2.1.16.1.3.5"},
                   {"Port 6", "Current", 0, "1.2.2.1.17.1.3.5"},
                   {"Port 8", "Probe 8", 0, "1.2.2.1.17.1.3.7"},
                   {"Port 1", "UPS A", 3, "1.2.2.1.19.30.2.1.13.0"},
                   {"Port 3", "UPS C", 3, "1.2.2.1.19.30.2.1.13.2"},
                   {"Port 1", "Smoke", 3, "1.2.2.1.19.32.2.1.13.0"},
                   {"Port 1.1", "Top", 0, "1.2.2.1.19.33.1.2.1.3.0"},
                   {"Port 1.8", "Bottom", 0, "1.2.2.1.19.33.1.2.1.3.7"},
                   {"Port 8.4", "Middle", 0, "1.2.2.1.19.33.8.2.1.3.3"},
               },
               true);
    EXPECT_EQ(m_scan.m_rows[1]->m_nType, 3);
    EXPECT_EQ(m_scan.m_rows[4]->m_nType, 5);
    EXPECT_EQ(m_scan.m_rows[8]->m_nType, 0);
    EXPECT_EQ(m_scan.m_rows[13]->m_nArray, 8);
    EXPECT_EQ(m_scan.m_rows[13]->m_nType, 13);
    EXPECT_EQ(m_view.statusTexts, std::vector<std::string>{Text(kPlural, m_address, 14)});
    EXPECT_EQ(m_view.checkAllCalls, 1);

    ExpectedReads reads;
    reads.PortCountProbe().NumberingProbe();
    reads.StatusPair(0).Description16(0);
    reads.StatusPair(1).Description17AndType(1);
    reads.StatusPair(2).Description17AndType(2);
    reads.StatusPair(3).Description16(3);
    reads.StatusPair(4).Description17AndType(4);
    reads.StatusPair(5).Description16(5).Description17AndType(5);
    reads.StatusPair(6);
    reads.StatusPair(7).Description17AndType(7);
    reads.FamilyCount(30).FamilyStatus(30, 0).FamilyDescription(30, 0).FamilyStatus(30, 1);
    reads.FamilyStatus(30, 2).FamilyDescription(30, 2);
    reads.FamilyCount(26);
    reads.FamilyCount(27); // no such family: the walk ends here
    reads.FamilyCount(28);
    reads.FamilyCount(32).FamilyStatus(32, 0).FamilyDescription(32, 0);
    for (int a = 1; a <= 8; ++a) {
        reads.ArrayProbe(a);
        for (int e = 0; e < 8; ++e) {
            reads.ArrayStatus(a, e);
            if ((a == 1 && (e == 0 || e == 7)) || (a == 8 && e == 3))
                reads.ArrayDescription(a, e);
        }
    }
    EXPECT_EQ(m_sim.Requests(), reads.requests);
}

TEST_F(ScanFixture, OneBasedUnitReadsIndexesOneToEightAndLabelsEqualIndexes)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{
        {"numbering", 1},
        {"ports", QJsonArray{Port(1, Row(1, "First")), Port(8, QJsonValue::Undefined, Typed(3, "Last"))}},
        {"families",
         QJsonObject{{"30", QJsonObject{{"count", 2}, {"entries", QJsonArray{Entry(2, 1, "Second entry")}}}}}},
        {"arrays", AllArrays({{2, QJsonArray{Entry(8, 1, "Eighth")}}})},
    }));

    EXPECT_EQ(Scan(), 4);
    EXPECT_FALSE(m_scan.m_bZeroBasedPorts);
    EXPECT_TRUE(m_scan.m_bHasSubTables);
    ExpectRows(m_scan, m_view,
               {
                   {"Port 1", "First", 0, "1.2.2.1.16.1.3.1"},
                   {"Port 8", "Last", 1, "1.2.2.1.17.1.3.8"},
                   {"Port 2", "Second entry", 3, "1.2.2.1.19.30.2.1.13.2"},
                   {"Port 2.8", "Eighth", 0, "1.2.2.1.19.33.2.2.1.3.8"},
               },
               true);
    EXPECT_EQ(m_view.statusTexts, std::vector<std::string>{Text(kPlural, m_address, 4)});

    ExpectedReads reads;
    reads.PortCountProbe().NumberingProbe();
    reads.StatusPair(1).Description16(1);
    for (int p = 2; p <= 7; ++p)
        reads.StatusPair(p);
    reads.StatusPair(8).Description17AndType(8);
    reads.FamilyCount(30).FamilyStatus(30, 1).FamilyStatus(30, 2).FamilyDescription(30, 2);
    reads.FamilyCount(26).FamilyCount(27).FamilyCount(28).FamilyCount(32);
    for (int a = 1; a <= 8; ++a) {
        reads.ArrayProbe(a);
        for (int e = 1; e <= 8; ++e) {
            reads.ArrayStatus(a, e);
            if (a == 2 && e == 8)
                reads.ArrayDescription(a, e);
        }
    }
    EXPECT_EQ(m_sim.Requests(), reads.requests);
}

TEST_F(ScanFixture, TwoPortZeroBasedUnitReadsOnlyIndexesZeroAndOne)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{
        {"portCount", 2},
        {"ports", QJsonArray{Port(1, QJsonValue::Undefined, Typed(1, "Only sensor"))}},
    }));

    EXPECT_EQ(Scan(), 1);
    EXPECT_EQ(m_scan.m_nPortCount, 2);
    EXPECT_TRUE(m_scan.m_bZeroBasedPorts);
    EXPECT_FALSE(m_scan.m_bHasSubTables);
    ExpectRows(m_scan, m_view, {{"Port 2", "Only sensor", 0, "1.2.2.1.17.1.3.1"}}, true);
    EXPECT_EQ(m_view.statusTexts, std::vector<std::string>{Text(kSingular, m_address, 1)});

    ExpectedReads reads;
    reads.PortCountProbe().NumberingProbe().StatusPair(0).StatusPair(1).Description17AndType(1);
    EXPECT_EQ(m_sim.Requests(), reads.requests);
}

TEST_F(ScanFixture, OneBasedTwoPortUnitIsTakenForEightPortsAndMissingPortsAreSkippedSilently)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{
        {"portCount", 2},
        {"numbering", 1},
        {"ports", QJsonArray{Port(2, Row(1, "Second port"))}},
    }));

    EXPECT_EQ(Scan(), 1); // no message box either: the test program fails on any
    EXPECT_EQ(m_scan.m_nPortCount, 8);
    EXPECT_FALSE(m_scan.m_bZeroBasedPorts);
    ExpectRows(m_scan, m_view, {{"Port 2", "Second port", 0, "1.2.2.1.16.1.3.2"}}, true);
    EXPECT_EQ(m_view.statusTexts, std::vector<std::string>{Text(kSingular, m_address, 1)});

    ExpectedReads reads;
    reads.PortCountProbe().NumberingProbe().StatusPair(1).StatusPair(2).Description16(2);
    for (int p = 3; p <= 8; ++p)
        reads.StatusPair(p);
    for (int family : {30, 26, 27, 28, 32})
        reads.FamilyCount(family);
    reads.ArrayProbe(1);
    EXPECT_EQ(m_sim.Requests(), reads.requests);
}

TEST_F(ScanFixture, Table16OnlineWithoutTable17EntryGivesNoRowAtThatPort)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{
        {"portCount", 2},
        {"ports", QJsonArray{Port(0, Row(1, "Lonely"), QJsonValue::Null), Port(1, Row(1, "Paired"))}},
    }));

    EXPECT_EQ(Scan(), 1);
    ExpectRows(m_scan, m_view, {{"Port 2", "Paired", 0, "1.2.2.1.16.1.3.1"}}, true);

    ExpectedReads reads;
    reads.PortCountProbe().NumberingProbe().StatusPair(0).StatusPair(1).Description16(1);
    EXPECT_EQ(m_sim.Requests(), reads.requests);
}

TEST_F(ScanFixture, WrongCommunityShowsTheWrongPasswordText)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{{"community", "orchid"}, {"ports", QJsonArray{Port(0, Row(1, "Hidden"))}}}));

    EXPECT_EQ(Scan("public"), 0);
    EXPECT_TRUE(m_view.items.empty());
    EXPECT_TRUE(m_scan.m_rows.empty());
    EXPECT_EQ(m_view.checkAllCalls, 0);
    EXPECT_EQ(m_view.statusTexts,
              std::vector<std::string>{Text(" Cannot access IP %s because you may entered a wrong password. ", m_address)});
    EXPECT_EQ(m_sim.Requests(), ExpectedReads().PortCountProbe().requests);
}

TEST_F(ScanFixture, UnitThatDoesNotAnswerIsNotActive)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{{"faults", QJsonObject{{"silent", true}}}}));

    EXPECT_EQ(Scan(), 0);
    EXPECT_TRUE(m_view.items.empty());
    EXPECT_EQ(m_view.checkAllCalls, 0);
    EXPECT_EQ(m_view.statusTexts, std::vector<std::string>{Text(" IP %s is not active.", m_address)});
    // One read, sent once and resent four times.
    const QList<QStringList> requests = m_sim.Requests();
    ASSERT_EQ(requests.size(), 5);
    for (const QStringList& r : requests)
        EXPECT_EQ(r, ExpectedReads().PortCountProbe().requests.first());
}

TEST_F(ScanFixture, ArraysOneToThreeOnlyKeepTheirRowsUncountedAndUnticked)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{
        {"numbering", 0},
        {"arrays", QJsonArray{Array(1, {Entry(0, 1, "A1")}), Array(2), Array(3, {Entry(5, 1, "A3")})}},
    }));

    EXPECT_EQ(Scan(), 0);
    ExpectRows(m_scan, m_view, {{"Port 1.1", "A1", 0, "1.2.2.1.19.33.1.2.1.3.0"}, {"Port 3.6", "A3", 0, "1.2.2.1.19.33.3.2.1.3.5"}},
               false);
    EXPECT_EQ(m_view.checkAllCalls, 0);
    EXPECT_EQ(m_view.statusTexts, std::vector<std::string>{Text(kNone, m_address)});

    ExpectedReads reads;
    reads.PortCountProbe().NumberingProbe();
    for (int p = 0; p < 8; ++p)
        reads.StatusPair(p);
    for (int family : {30, 26, 27, 28, 32})
        reads.FamilyCount(family);
    for (int a = 1; a <= 3; ++a) {
        reads.ArrayProbe(a);
        for (int e = 0; e < 8; ++e) {
            reads.ArrayStatus(a, e);
            if ((a == 1 && e == 0) || (a == 3 && e == 5))
                reads.ArrayDescription(a, e);
        }
    }
    reads.ArrayProbe(4);
    EXPECT_EQ(m_sim.Requests(), reads.requests);
}

TEST_F(ScanFixture, ArrayWithFewerThanEightEntriesEndsTheWalk)
{
    REQUIRE_PORT_161();
    QJsonArray arrays = AllArrays({{1, QJsonArray{Entry(0, 1, "Short")}}});
    QJsonObject first = arrays[0].toObject();
    first["entryCount"] = 2;
    arrays[0] = first;
    ASSERT_TRUE(StartUnit(QJsonObject{{"numbering", 0}, {"ports", QJsonArray{Port(0, Row(1, "Port row"))}},
                                      {"arrays", arrays}}));

    EXPECT_EQ(Scan(), 1);
    ExpectRows(m_scan, m_view, {{"Port 1", "Port row", 0, "1.2.2.1.16.1.3.0"}, {"Port 1.1", "Short", 0, "1.2.2.1.19.33.1.2.1.3.0"}},
               true);
    EXPECT_EQ(m_view.statusTexts, std::vector<std::string>{Text(kSingular, m_address, 1)});
    const QList<QStringList> requests = m_sim.Requests();
    ASSERT_FALSE(requests.isEmpty());
    EXPECT_EQ(requests.last(), ExpectedReads().ArrayStatus(1, 2).requests.first());
}

TEST_F(ScanFixture, FailedDescriptionAndTypeReadsShowErrorAndKeepTheRow)
{
    REQUIRE_PORT_161();
    QJsonObject noType = Typed(8, "Typeless");
    noType["type"] = QJsonValue::Null;
    ASSERT_TRUE(StartUnit(QJsonObject{
        {"numbering", 0},
        {"ports", QJsonArray{Port(0, Row(1, QJsonValue::Null)), Port(1, QJsonValue::Undefined, noType)}},
        {"families",
         QJsonObject{{"30", QJsonObject{{"count", 3},
                                        {"entries", QJsonArray{Entry(0, 1, "Kept"), Entry(1, 1, QJsonValue::Null),
                                                               Entry(2, 1, "Never read")}}}}}},
    }));

    // The scan runs on a worker, as in the dialog: its message boxes block it until answered.
    MessageBoxSpy spy;
    std::atomic<bool> done{false};
    int result = -1;
    std::thread worker([&] {
        result = Scan();
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }, 60000));
    worker.join();

    EXPECT_EQ(result, 2);
    EXPECT_EQ(spy.texts(), (QStringList{"Error", "Error"}));
    ExpectRows(m_scan, m_view,
               {
                   {"Port 1", "", 0, "1.2.2.1.16.1.3.0"},
                   {"Port 2", "Typeless", 3, "1.2.2.1.17.1.3.1"},
                   {"Port 1", "Kept", 3, "1.2.2.1.19.30.2.1.13.0"},
               },
               true);
    EXPECT_EQ(m_scan.m_rows[1]->m_nType, 0);
    EXPECT_EQ(m_view.statusTexts, std::vector<std::string>{Text(kPlural, m_address, 2)});

    ExpectedReads reads;
    reads.PortCountProbe().NumberingProbe();
    reads.StatusPair(0).Description16(0).StatusPair(1).Description17AndType(1);
    for (int p = 2; p < 8; ++p)
        reads.StatusPair(p);
    reads.FamilyCount(30).FamilyStatus(30, 0).FamilyDescription(30, 0).FamilyStatus(30, 1).FamilyDescription(30, 1);
    for (int family : {26, 27, 28, 32})
        reads.FamilyCount(family);
    reads.ArrayProbe(1);
    EXPECT_EQ(m_sim.Requests(), reads.requests);
}

TEST_F(ScanFixture, NumberingProbeFailingOtherwiseKeepsZeroBasedWithoutSubTables)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{
        {"numbering", 1},
        {"ports", QJsonArray{Port(1, Row(1, "Read at index 1"))}},
        {"faults", QJsonObject{{"errors", QJsonArray{QJsonObject{{"oid", "1.2.2.1.101.0"}, {"status", 5}}}}}},
    }));

    EXPECT_EQ(Scan(), 1);
    EXPECT_TRUE(m_scan.m_bZeroBasedPorts);
    EXPECT_FALSE(m_scan.m_bHasSubTables);
    // Zero-based reads of a one-based unit: index 0 fails, index 1 shows as "Port 2".
    ExpectRows(m_scan, m_view, {{"Port 2", "Read at index 1", 0, "1.2.2.1.16.1.3.1"}}, true);

    ExpectedReads reads;
    reads.PortCountProbe().NumberingProbe().StatusPair(0).StatusPair(1).Description16(1);
    for (int p = 2; p < 8; ++p)
        reads.StatusPair(p);
    EXPECT_EQ(m_sim.Requests(), reads.requests);
}

TEST_F(ScanFixture, OpenFailureShowsOpenSnmpErrorAndSendsNothing)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{{"ports", QJsonArray{Port(0, Row(1, "Unseen"))}}}));
    // The unit's address as one hexadecimal number: the session refuses it, though a resolver
    // would take it to the unit.
    const std::string hex = QString::asprintf("0x%08x", ntohl(inet_addr(m_address.c_str()))).toStdString();
    MessageBoxSpy spy;
    m_scan.SetScanView(&m_view);
    m_scan.m_strIpAddress = hex;
    m_scan.m_strCommunity = "public";
    EXPECT_EQ(m_scan.ScanUnit(), 0);
    EXPECT_EQ(spy.texts(), QStringList{"Open SNMP error"});
    EXPECT_TRUE(m_view.statusTexts.empty());
    EXPECT_TRUE(m_view.items.empty());
    QThread::msleep(300); // a packet sent anyway would be logged by now
    EXPECT_TRUE(m_sim.Requests().isEmpty());
}

TEST_F(ScanFixture, PortCountProbeAnsweredWithGenErrIsNotActive)
{
    REQUIRE_PORT_161();
    ASSERT_TRUE(StartUnit(QJsonObject{
        {"ports", QJsonArray{Port(0, Row(1, "Unseen"))}},
        {"faults", QJsonObject{{"errors", QJsonArray{QJsonObject{{"oid", "1.2.2.1.16.1.5.2"}, {"status", 5}}}}}},
    }));
    EXPECT_EQ(Scan(), 0);
    EXPECT_TRUE(m_view.items.empty());
    EXPECT_EQ(m_view.statusTexts, std::vector<std::string>{Text(" IP %s is not active.", m_address)});
    EXPECT_EQ(m_sim.Requests(), ExpectedReads().PortCountProbe().requests);
}

TEST_F(ScanFixture, EveryNumberingOtherThanZeroIsOneBased)
{
    REQUIRE_PORT_161();
    for (const int numbering : {1, 2, -1, 2147483647}) {
        SCOPED_TRACE(numbering);
        UnitSimProcess sim;
        ASSERT_TRUE(Started(sim, sim.StartUnit(QJsonObject{{"numbering", numbering},
                                                           {"ports", QJsonArray{Port(1, Row(1, "First"))}}},
                                               m_address)));
        CSensorScan scan;
        RecordingView view;
        scan.SetScanView(&view);
        scan.m_strIpAddress = m_address;
        scan.m_strCommunity = "public";
        EXPECT_EQ(scan.ScanUnit(), 1);
        EXPECT_FALSE(scan.m_bZeroBasedPorts);
        ExpectRows(scan, view, {{"Port 1", "First", 0, "1.2.2.1.16.1.3.1"}}, true);
        ASSERT_GE(sim.Requests().size(), 3);
        EXPECT_EQ(sim.Requests()[2], ExpectedReads().StatusPair(1).requests.first());
    }
}

TEST_F(ScanFixture, DescriptionsThatAreNotUtf8KeepTheirBytes)
{
    REQUIRE_PORT_161();
    const std::vector<std::pair<const char*, std::string>> texts = {
        {"636166e9", "caf\xE9"},           // Latin-1, as the original platform wrote it
        {"c328ff20", "\xC3\x28\xFF "},     // a broken UTF-8 sequence
        {"4142ef bfbd", "AB\xEF\xBF\xBD"}, // what a UTF-8 round trip would have made of it
    };
    QJsonArray ports;
    for (std::size_t i = 0; i < texts.size(); ++i)
        ports.append(Port(int(i), Row(1, QJsonObject{{"hex", QString(texts[i].first).remove(' ')}})));
    ASSERT_TRUE(StartUnit(QJsonObject{{"ports", ports}}));

    EXPECT_EQ(Scan(), int(texts.size()));
    ASSERT_EQ(m_view.items.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(m_view.items[i].description, texts[i].second) << i;
        EXPECT_EQ(m_scan.m_rows[i]->m_strDescription, texts[i].second) << i;
    }
}

TEST_F(ScanFixture, HugeFamilyCountIsCutToWhatAUnitCanHold)
{
    REQUIRE_PORT_161();
    // A count of 2,147,483,647 would keep the scan reading for days.
    ASSERT_TRUE(StartUnit(QJsonObject{
        {"numbering", 1},
        {"families", QJsonObject{{"30", QJsonObject{{"count", 2147483647},
                                                    {"entries", QJsonArray{Entry(64, 1, "Last read"),
                                                                           Entry(65, 1, "Never read")}}}}}},
    }));

    EXPECT_EQ(Scan(), 1);
    ExpectRows(m_scan, m_view, {{"Port 64", "Last read", 3, "1.2.2.1.19.30.2.1.13.64"}}, true);
    ExpectedReads reads;
    reads.PortCountProbe().NumberingProbe();
    for (int p = 1; p <= 8; ++p)
        reads.StatusPair(p);
    reads.FamilyCount(30);
    for (int e = 1; e <= 64; ++e)
        reads.FamilyStatus(30, e);
    reads.FamilyDescription(30, 64);
    for (int family : {26, 27, 28, 32})
        reads.FamilyCount(family);
    reads.ArrayProbe(1);
    EXPECT_EQ(m_sim.Requests(), reads.requests);
}
