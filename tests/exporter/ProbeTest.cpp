// GET /probe and /targets against virtual units: which targets a probe may have, what it
// answers, how probes of one target share a read and a scan, and the cap on probes in flight.
#include "ExporterTestSupport.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"
#include "exporter/CExporter.h"
#include "oidgen/OidTemplates.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <vector>

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

const char* kSiteSecret = "site-s3cret";

struct Answer {
    int nStatus = 0;
    std::string strBody;
};

// One GET from its own connection (from: a loopback address of the test's).
Answer Get(const std::string& from, const CExporter& exporter, const std::string& to, const std::string& target,
           const std::string& headers = {})
{
    RawClient client;
    Answer answer;
    if (!client.Connect(from, to, exporter.ServerPort()) ||
        !client.Send("GET " + target + " HTTP/1.1\r\nHost: e\r\n" + headers + "Connection: close\r\n\r\n"))
        return answer;
    const std::string response = client.Read(20s);
    if (response.compare(0, 5, "HTTP/") == 0 && response.size() >= 12)
        answer.nStatus = std::atoi(response.c_str() + 9);
    const std::size_t end = response.find("\r\n\r\n");
    if (end != std::string::npos)
        answer.strBody = response.substr(end + 4);
    return answer;
}

// Requests of the log sent to address that asked for oid (alone: for nothing else).
int Asked(const UnitSimProcess& sim, const std::string& address, const std::string& oid, bool alone = false)
{
    int count = 0;
    for (const QString& line : sim.LogLines()) {
        const QStringList words = line.split(' ', Qt::SkipEmptyParts);
        const qsizetype oids = std::count_if(words.begin(), words.end(), [](const QString& w) { return w.startsWith('.'); });
        if (line.startsWith(QString::fromStdString(address + " ")) && words.contains(QString::fromStdString(oid)) &&
            (!alone || oids == 1))
            ++count;
    }
    return count;
}

// The status probe of port 2 begins every scan.
std::string ScanOid()
{
    return ExpandedOid(oidtpl::kTable16Status, 2);
}

} // namespace

TEST(Probe, AnswersForTheTargetsItMayHaveAndSaysWhyForTheOthers)
{
    REQUIRE_PORT_161();
    const std::string rack = UnitAddress(0), inside = UnitAddress(1), outside = UnitAddress(2);
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(rack, "Rack", {21}), VirtualUnit(inside, "Inside", {31}, {}, kSiteSecret),
        VirtualUnit(outside, "Outside", {41}, {}, kSiteSecret)}}})));
    CExporterConfig config;
    config.m_units = {ConfiguredUnit("Rack", rack)};
    config.m_probeTargets = {CIpv4Range{*CIpv4Range::Address(inside), 32}};
    config.m_auths["site"] = CExporterAuth{kSiteSecret, 1, 0};
    CExporter exporter(config);
    const std::string listen = UnitAddress(20), from = UnitAddress(21);
    QString error;
    ASSERT_TRUE(exporter.Listen(QHostAddress(QString::fromStdString(listen)), 0, error)) << error.toStdString();
    exporter.Rescan();
    ASSERT_TRUE(WaitUntil([&] { return exporter.ScansPending() == 0; }, 30000));

    const std::string rackUp = "veltrane_unit_up{unit=\"Rack\",address=\"" + rack + "\"} 1";
    const std::string insideValue = "veltrane_sensor_value{unit=\"" + inside + "\",address=\"" + inside +
                                    "\",port=\"Port 1\",description=\"Inside sensor 0\",type=\"1\",oid=\"" +
                                    ValueOid(0) + "\"} 31";
    struct Row {
        const char* name;
        std::string query;
        int status;
        std::string contains;
    };
    const std::vector<Row> rows{
        {"by name", "?target=Rack", 200, rackUp},
        {"by address", "?target=" + rack, 200, rackUp},
        {"by address, encoded and padded", "?target=%20" + rack, 200, rackUp},
        {"configured unit with an auth", "?target=Rack&auth=site", 200, rackUp},
        {"auth inside probeTargets", "?target=" + inside + "&auth=site", 200, insideValue},
        {"auth outside probeTargets", "?target=" + outside + "&auth=site", 400,
         "target is outside the configuration's probeTargets\n"},
        {"address without auth", "?target=" + inside, 400,
         "target is not a configured unit's name or address (other addresses need auth)\n"},
        {"unknown name", "?target=Nobody", 400, "target is not a configured unit's name or address"},
        {"name with auth", "?target=Nobody&auth=site", 400, "target is neither a configured unit nor an IPv4 address\n"},
        {"unknown auth", "?target=" + inside + "&auth=other", 400, "auth names no entry of the configuration's auths\n"},
        {"missing target", "", 400, "missing parameter target\n"},
        {"empty target", "?target=", 400, "missing parameter target\n"},
        {"repeated target", "?target=Rack&target=Rack", 400, "parameter target given more than once\n"},
        {"repeated auth", "?target=" + inside + "&auth=site&auth=site", 400, "parameter auth given more than once\n"},
        {"community in the URL", "?target=" + inside + "&auth=site&community=public", 400,
         "unknown parameter: a probe takes target and auth only\n"},
        {"zero byte in the target", "?target=Rack%00", 400, "target is not a configured unit's name or address"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Answer answer = Get(from, exporter, listen, "/probe" + row.query);
        EXPECT_EQ(answer.nStatus, row.status) << answer.strBody;
        EXPECT_NE(answer.strBody.find(row.contains), std::string::npos) << answer.strBody;
        if (row.status == 200) {
            EXPECT_EQ(LinesStartingWith(answer.strBody, "veltrane_unit_up").size(), 1u) << "that unit alone";
            bool skipped = false;
            EXPECT_EQ(PromtoolProblems(answer.strBody, skipped), "");
        } else {
            EXPECT_EQ(answer.strBody.find("veltrane_"), std::string::npos);
        }
        EXPECT_EQ(answer.strBody.find(kSiteSecret), std::string::npos);
    }

    const Answer targets = Get(from, exporter, listen, "/targets");
    EXPECT_EQ(targets.nStatus, 200);
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(targets.strBody)).toJson(QJsonDocument::Compact).toStdString(),
              "[{\"labels\":{\"address\":\"" + rack + "\",\"unit\":\"Rack\"},\"targets\":[\"" + rack + "\"]}]");
}

TEST(Probe, ProbesOfOneTargetShareOneScanAndOneReadAndALaterProbeDoesNotScanAgain)
{
    REQUIRE_PORT_161();
    const std::string slow = UnitAddress(0);
    UnitSimProcess sim;
    // Late answers, so that the probes meet while the target is scanned and read.
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(slow, "Slow", {5, 6}, {{"delayMs", 60}}, kSiteSecret)}}})));
    CExporterConfig config;
    config.m_probeTargets = {CIpv4Range{*CIpv4Range::Address(slow) & 0xffffff00u, 24}};
    config.m_auths["site"] = CExporterAuth{kSiteSecret, 1, 0};
    CExporter exporter(config);
    const std::string listen = UnitAddress(20);
    QString error;
    ASSERT_TRUE(exporter.Listen(QHostAddress(QString::fromStdString(listen)), 0, error)) << error.toStdString();
    const std::string probe = "/probe?target=" + slow + "&auth=site";
    const std::string up = "veltrane_unit_up{unit=\"" + slow + "\",address=\"" + slow + "\"} ";

    struct Row {
        const char* name;
        int nProbes;
        const char* timeout; // X-Prometheus-Scrape-Timeout-Seconds
        std::string up;      // what every probe gives
        int nScans;          // scans begun, counted in the unit's request log
        int nReads;          // reads of its values
    };
    // A probe allowed half a second cannot wait for the scan: 42, and the scan goes on.
    const std::vector<Row> rows{
        {"first probe, too short for the scan", 1, "1", "veltrane_unit_error_code{unit=\"" + slow + "\",address=\"" +
                                                            slow + "\"} 42", 1, 0},
        {"five at once, list ready", 5, "10", up + "1", 0, 1},
        {"a later one", 1, "10", up + "1", 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(WaitUntil([&] { return exporter.ScansPending() == 0; }, 30000));
        sim.ClearLog();
        std::vector<std::future<Answer>> answers;
        for (int i = 0; i < row.nProbes; ++i)
            answers.push_back(std::async(std::launch::async, [&, i] {
                return Get(UnitAddress(21 + i), exporter, listen, probe,
                           std::string("X-Prometheus-Scrape-Timeout-Seconds: ") + row.timeout + "\r\n");
            }));
        for (auto& answer : answers) {
            const Answer one = answer.get();
            EXPECT_EQ(one.nStatus, 200);
            EXPECT_NE(one.strBody.find(row.up), std::string::npos) << one.strBody;
        }
        ASSERT_TRUE(WaitUntil([&] { return exporter.ScansPending() == 0; }, 30000));
        EXPECT_EQ(Asked(sim, slow, ScanOid(), true), row.nScans) << sim.LogLines().join('\n').toStdString();
        EXPECT_EQ(Asked(sim, slow, ValueOid(0)), row.nReads) << sim.LogLines().join('\n').toStdString();
    }
}

TEST(Probe, ProbesPastTheCapGet503)
{
    REQUIRE_PORT_161();
    const std::string silent = UnitAddress(0), other = UnitAddress(1);
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(silent, "Silent", {1}, {{"silent", true}}), VirtualUnit(other, "Other", {2})}}})));
    CExporterConfig config;
    config.m_units = {ConfiguredUnit("Silent", silent), ConfiguredUnit("Other", other)};
    config.m_units[0].m_oidList = {ValueOid(0)}; // a list already: the probe only reads
    config.m_units[0].m_bAllOnline = false;
    config.m_units[0].m_nTimeout = 2;
    CExporter exporter(config);
    exporter.SetProbeLimits(CExporter::ProbeLimits{std::chrono::duration<double>(0.5), 1});
    const std::string listen = UnitAddress(20);
    QString error;
    ASSERT_TRUE(exporter.Listen(QHostAddress(QString::fromStdString(listen)), 0, error)) << error.toStdString();

    auto held = std::async(std::launch::async, [&] { return Get(UnitAddress(21), exporter, listen, "/probe?target=Silent"); });
    ASSERT_TRUE(WaitUntil([&] { return Asked(sim, silent, ValueOid(0)) == 1; }, 5000)) << "the first probe reads";
    const Answer refused = Get(UnitAddress(22), exporter, listen, "/probe?target=Other");
    EXPECT_EQ(refused.nStatus, 503);
    EXPECT_EQ(refused.strBody, "Too many probes in flight; try again later.\n");
    EXPECT_NE(held.get().strBody.find("veltrane_unit_error_code{unit=\"Silent\",address=\"" + silent + "\"} 40"),
              std::string::npos);
    EXPECT_EQ(Get(UnitAddress(22), exporter, listen, "/probe?target=Other").nStatus, 200) << "the cap is free again";
}
