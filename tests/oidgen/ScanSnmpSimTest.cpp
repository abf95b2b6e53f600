// The discovery scan against snmpsim, an agent no one here wrote: units of three shapes as
// record files written from literal OIDs, one community per shape.
#include "ScanTestSupport.h"

#include "common/SnmpSimAgent.h"
#include "common/TestSupport.h"
#include "oidgen/OidTemplates.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

using testsupport::SnmpSimAgent;

namespace {

#define OEM "1.3.6.1.4.1.32473"

struct Record {
    std::string oid;
    int type; // 2 INTEGER, 4 OCTET STRING
    std::string value;
};

std::string Oid(const char* format, int a, int b = 0)
{
    char text[96];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// snmpsim wants its records in OID order.
std::vector<unsigned long> Numbers(const std::string& oid)
{
    std::vector<unsigned long> numbers;
    std::stringstream parts(oid);
    for (std::string part; std::getline(parts, part, '.');)
        numbers.push_back(std::stoul(part));
    return numbers;
}

void WriteRecordFile(const QString& path, std::vector<Record> records)
{
    std::sort(records.begin(), records.end(),
              [](const Record& a, const Record& b) { return Numbers(a.oid) < Numbers(b.oid); });
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (const Record& r : records)
        file.write(QByteArray::fromStdString(r.oid + "|" + std::to_string(r.type) + "|" + r.value + "\n"));
}

// A 2-port zero-based unit without sub-tables.
std::vector<Record> TwoPortUnit()
{
    return {
        {OEM ".1.2.2.1.16.1.5.0", 2, "1"},          {OEM ".1.2.2.1.16.1.5.1", 2, "0"},
        {OEM ".1.2.2.1.17.1.5.0", 2, "0"},          {OEM ".1.2.2.1.17.1.5.1", 2, "1"},
        {OEM ".1.2.2.1.16.1.1.0", 4, "Room"},       {OEM ".1.2.2.1.16.1.3.0", 2, "21"},
        {OEM ".1.2.2.1.17.1.1.1", 4, "Humidity"},   {OEM ".1.2.2.1.17.1.3.1", 2, "40"},
        {OEM ".1.2.2.1.18.1.9.1", 2, "3"},
    };
}

// An 8-port one-based unit with families 30, 26 and 28 but no 27, 32 or sensor arrays.
std::vector<Record> OneBasedUnit()
{
    std::vector<Record> records = {
        {OEM ".1.2.2.1.101.0", 2, "1"},
        {OEM ".1.2.2.1.16.1.1.3", 4, "Rack"},
        {OEM ".1.2.2.1.19.30.1.0", 2, "2"},
        {OEM ".1.2.2.1.19.30.2.1.5.1", 2, "1"},
        {OEM ".1.2.2.1.19.30.2.1.5.2", 2, "0"},
        {OEM ".1.2.2.1.19.30.2.1.2.1", 4, "UPS"},
        {OEM ".1.2.2.1.19.26.1.0", 2, "0"},
        {OEM ".1.2.2.1.19.28.1.0", 2, "1"},
        {OEM ".1.2.2.1.19.28.2.1.5.1", 2, "1"},
        {OEM ".1.2.2.1.19.28.2.1.2.1", 4, "Water"},
    };
    for (int p = 1; p <= 8; ++p) {
        records.push_back({Oid(OEM ".1.2.2.1.16.1.5.%d", p), 2, p == 3 ? "1" : "0"});
        records.push_back({Oid(OEM ".1.2.2.1.17.1.5.%d", p), 2, "0"});
    }
    return records;
}

// An 8-port zero-based unit with empty families and all eight sensor arrays.
std::vector<Record> ArrayUnit()
{
    std::vector<Record> records = {
        {OEM ".1.2.2.1.101.0", 2, "0"},
        {OEM ".1.2.2.1.19.33.2.2.1.2.5", 4, "Top"},
    };
    for (int p = 0; p < 8; ++p) {
        records.push_back({Oid(OEM ".1.2.2.1.16.1.5.%d", p), 2, "0"});
        records.push_back({Oid(OEM ".1.2.2.1.17.1.5.%d", p), 2, "0"});
    }
    for (int family : {30, 26, 27, 28, 32})
        records.push_back({Oid(OEM ".1.2.2.1.19.%d.1.0", family), 2, "0"});
    for (int a = 1; a <= 8; ++a) {
        records.push_back({Oid(OEM ".1.2.2.1.19.33.%d.1.0", a), 2, "8"});
        for (int e = 0; e < 8; ++e)
            records.push_back({Oid(OEM ".1.2.2.1.19.33.%d.2.1.5.%d", a, e), 2, a == 2 && e == 5 ? "1" : "0"});
    }
    return records;
}

struct Shape {
    const char* community;
    std::vector<Record> (*records)();
    int portCount;
    bool zeroBased;
    bool subTables;
    std::vector<ExpectedRow> rows;
};

} // namespace

TEST(ScanAgainstSnmpSim, UnitsOfEveryShape)
{
    if (!testsupport::CanBindPrivilegedPorts())
        GTEST_SKIP() << "snmpsim serves port 161 (run as root)";
    ASSERT_TRUE(SnmpSimAgent::IsAvailable()) << "snmpsimd is not installed (scripts/deps installs it)";
    if (oidtpl::OemPrefix() != "." OEM)
        GTEST_SKIP() << "the record files are written for enterprise number 32473";

    const std::vector<Shape> shapes = {
        {"twoport", TwoPortUnit, 2, true, false,
         {{"Port 1", "Room", 0, "1.2.2.1.16.1.3.0"}, {"Port 2", "Humidity", 1, "1.2.2.1.17.1.3.1"}}},
        {"onebased", OneBasedUnit, 8, false, true,
         {{"Port 3", "Rack", 0, "1.2.2.1.16.1.3.3"},
          {"Port 1", "UPS", 3, "1.2.2.1.19.30.2.1.13.1"},
          {"Port 1", "Water", 3, "1.2.2.1.19.28.2.1.13.1"}}},
        {"arrays", ArrayUnit, 8, true, true, {{"Port 2.6", "Top", 0, "1.2.2.1.19.33.2.2.1.3.5"}}},
    };
    QTemporaryDir dir;
    std::vector<std::string> files;
    for (const Shape& shape : shapes) {
        const QString path = dir.filePath(QString(shape.community) + ".snmprec");
        WriteRecordFile(path, shape.records());
        files.push_back(path.toStdString());
    }
    const std::string address = testsupport::CurrentTestAddress();
    SnmpSimAgent agent(address, files);
    ASSERT_TRUE(agent.IsReady()) << agent.Log();

    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.community);
        CSensorScan scan;
        RecordingView view;
        scan.SetScanView(&view);
        scan.m_strIpAddress = address;
        scan.m_strCommunity = shape.community;
        EXPECT_EQ(scan.ScanUnit(), int(shape.rows.size()));
        EXPECT_EQ(scan.m_nPortCount, shape.portCount);
        EXPECT_EQ(scan.m_bZeroBasedPorts, shape.zeroBased);
        EXPECT_EQ(scan.m_bHasSubTables, shape.subTables);
        ExpectRows(scan, view, shape.rows, true);
    }
}
