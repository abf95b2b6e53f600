// The exporter against virtual units: the page a scrape gives, the discovery scan behind it,
// and the HTTP endpoint.
#include "ExporterTestSupport.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"
#include "exporter/CExporter.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

using namespace testsupport;

namespace {

const char* kSecret = "s3cr3t-community";

// The log lines an exporter writes, kept for the test.
struct LogLines {
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
    std::shared_ptr<std::vector<std::string>> lines = std::make_shared<std::vector<std::string>>();
    CExporter::LogFunction Function() const
    {
        return [mutex = mutex, lines = lines](const std::string& line) {
            std::lock_guard lock(*mutex);
            lines->push_back(line);
        };
    }
    std::string All() const
    {
        std::lock_guard lock(*mutex);
        std::string all;
        for (const auto& line : *lines)
            all += line + '\n';
        return all;
    }
};

bool ScansDone(const CExporter& exporter)
{
    return WaitUntil([&exporter] { return exporter.ScansPending() == 0; }, 60000);
}

std::string Sample(const std::string& unit, const std::string& address, int port, const std::string& value)
{
    return "veltrane_sensor_value{unit=\"" + unit + "\",address=\"" + address + "\",port=\"Port " +
           std::to_string(port + 1) + "\",description=\"" + unit + " sensor " + std::to_string(port) +
           "\",type=\"1\",oid=\"" + ValueOid(port) + "\"} " + value;
}

} // namespace

TEST(Exporter, ScrapeGivesValuesOfAnsweringUnitsAndDownForTheOthers)
{
    REQUIRE_PORT_161();
    const std::string good = UnitAddress(0), silent = UnitAddress(1), refusing = UnitAddress(2);
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(good, "Good \"one\"", {23, -5, "0f41", "not a number"}, {}, kSecret),
        VirtualUnit(silent, "Silent", {1}, {{"silent", true}}, kSecret),
        VirtualUnit(refusing, "Refusing", {1}, {{"wrongCommunity", "noAccess"}}, "another")}}})));

    CExporterConfig config;
    config.m_units = {ConfiguredUnit("Good \"one\"", good, kSecret), ConfiguredUnit("Silent", silent, kSecret),
                      ConfiguredUnit("Refusing", refusing, kSecret)};
    LogLines log;
    CExporter exporter(config, log.Function());
    exporter.Rescan();
    ASSERT_TRUE(ScansDone(exporter));
    const std::string page = exporter.Scrape();

    const std::string goodName = "Good \\\"one\\\"";
    EXPECT_EQ(LinesStartingWith(page, "veltrane_sensor_value"),
              (std::vector<std::string>{Sample(goodName, good, 0, "23"), Sample(goodName, good, 1, "-5")}));
    const std::string g = "{unit=\"" + goodName + "\",address=\"" + good + "\"}";
    const std::string s = "{unit=\"Silent\",address=\"" + silent + "\"}";
    const std::string r = "{unit=\"Refusing\",address=\"" + refusing + "\"}";
    EXPECT_EQ(LinesStartingWith(page, "veltrane_unit_up"),
              (std::vector<std::string>{"veltrane_unit_up" + g + " 1", "veltrane_unit_up" + s + " 0",
                                        "veltrane_unit_up" + r + " 0"}));
    EXPECT_EQ(LinesStartingWith(page, "veltrane_unit_error_code"),
              (std::vector<std::string>{"veltrane_unit_error_code" + g + " 0", "veltrane_unit_error_code" + s + " 40",
                                        "veltrane_unit_error_code" + r + " 6"}));
    EXPECT_EQ(LinesStartingWith(page, "veltrane_unit_sensors"),
              (std::vector<std::string>{"veltrane_unit_sensors" + g + " 4", "veltrane_unit_sensors" + s + " 0",
                                        "veltrane_unit_sensors" + r + " 0"}));
    EXPECT_EQ(LinesStartingWith(page, "veltrane_unit_scan_success"),
              (std::vector<std::string>{"veltrane_unit_scan_success" + g + " 1",
                                        "veltrane_unit_scan_success" + s + " 0",
                                        "veltrane_unit_scan_success" + r + " 0"}));
    EXPECT_EQ(LinesStartingWith(page, "veltrane_unit_request_seconds").size(), 3u);
    EXPECT_EQ(LinesStartingWith(page, "veltrane_scrape_duration_seconds ").size(), 1u);

    EXPECT_EQ(page.find(kSecret), std::string::npos);
    const std::string logText = log.All();
    EXPECT_EQ(logText.find(kSecret), std::string::npos) << logText;
    EXPECT_NE(logText.find("unit \"Refusing\" (" + refusing + "): scan failed: Cannot access IP " + refusing),
              std::string::npos)
        << logText;
    EXPECT_NE(logText.find("unit \"Silent\" (" + silent + "): read failed: Error No 40 : The request timed-out."),
              std::string::npos)
        << logText;

    bool skipped = false;
    EXPECT_EQ(PromtoolProblems(page, skipped), "");
}

TEST(Exporter, ListedOidsAreReadInOrderWithTheScansLabels)
{
    REQUIRE_PORT_161();
    const std::string address = UnitAddress(0);
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{VirtualUnit(address, "L", {7, 8, 9})}}})));
    CExporterUnit unit = ConfiguredUnit("L", address);
    unit.m_bAllOnline = false;
    // Port 5 has no sensor online: its OID keeps empty labels and the unit answers 0 there.
    unit.m_oidList = {ValueOid(2), ValueOid(5), ValueOid(0)};
    CExporterConfig config;
    config.m_units = {unit};
    CExporter exporter(config);

    // Before any scan the listed OIDs are read already, without labels.
    const std::string unlabelled = "veltrane_sensor_value{unit=\"L\",address=\"" + address +
                                   "\",port=\"\",description=\"\",type=\"\",oid=\"" + ValueOid(5) + "\"} 0";
    EXPECT_EQ(LinesStartingWith(exporter.Scrape(), "veltrane_sensor_value")[1], unlabelled);

    exporter.Rescan();
    ASSERT_TRUE(ScansDone(exporter));
    EXPECT_EQ(LinesStartingWith(exporter.Scrape(), "veltrane_sensor_value"),
              (std::vector<std::string>{Sample("L", address, 2, "9"), unlabelled, Sample("L", address, 0, "7")}));
}

TEST(Exporter, ScrapeDuringRescanUsesTheLastCompletedList)
{
    REQUIRE_PORT_161();
    const std::string address = UnitAddress(0);
    UnitSimProcess sim;
    // Every answer late, so that the scan's dozen reads take a while.
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(address, "Slow", {4, 5}, {{"delayMs", 150}})}}})));
    CExporterConfig config;
    config.m_units = {ConfiguredUnit("Slow", address)};
    CExporter exporter(config);
    exporter.Rescan();
    ASSERT_TRUE(ScansDone(exporter));
    const auto before = LinesStartingWith(exporter.Scrape(), "veltrane_sensor_value");
    ASSERT_EQ(before.size(), 2u);

    exporter.Rescan();
    ASSERT_EQ(exporter.ScansPending(), 1);
    EXPECT_EQ(LinesStartingWith(exporter.Scrape(), "veltrane_sensor_value"), before);
    EXPECT_EQ(exporter.ScansPending(), 1) << "the scrape did not overlap the scan";
    ASSERT_TRUE(ScansDone(exporter));
}

TEST(Exporter, UnitThatNoLongerKnowsAnOidIsScannedAgainAtOnce)
{
    REQUIRE_PORT_161();
    const std::string address = UnitAddress(0);
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{VirtualUnit(address, "U", {4, 5})}}})));
    CExporterConfig config;
    config.m_units = {ConfiguredUnit("U", address)};
    CExporter exporter(config);
    exporter.Rescan();
    ASSERT_TRUE(ScansDone(exporter));
    ASSERT_EQ(LinesStartingWith(exporter.Scrape(), "veltrane_sensor_value").size(), 2u);

    // The sensor of port 1 is unplugged: its value OID is gone.
    QJsonObject unit = VirtualUnit(address, "U", {4});
    QJsonArray ports = unit["ports"].toArray();
    ports.append(QJsonObject{{"index", 1}, {"table16", QJsonValue::Null}});
    unit["ports"] = ports;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{unit}}})));
    const std::string failed = exporter.Scrape();
    EXPECT_EQ(LinesStartingWith(failed, "veltrane_unit_error_code")[0],
              "veltrane_unit_error_code{unit=\"U\",address=\"" + address + "\"} 2");
    ASSERT_TRUE(ScansDone(exporter));
    const std::string page = exporter.Scrape();
    EXPECT_EQ(LinesStartingWith(page, "veltrane_sensor_value"), (std::vector<std::string>{Sample("U", address, 0, "4")}));
    EXPECT_EQ(LinesStartingWith(page, "veltrane_unit_up")[0], "veltrane_unit_up{unit=\"U\",address=\"" + address + "\"} 1");

    // Gone as well: no second scan within minutes.
    unit["ports"] = QJsonArray{QJsonObject{{"index", 0}, {"table16", QJsonValue::Null}}};
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{unit}}})));
    EXPECT_EQ(LinesStartingWith(exporter.Scrape(), "veltrane_unit_error_code")[0],
              "veltrane_unit_error_code{unit=\"U\",address=\"" + address + "\"} 2");
    EXPECT_EQ(exporter.ScansPending(), 0);
}

TEST(Exporter, ServesMetricsOverHttp)
{
    REQUIRE_PORT_161();
    const std::string address = UnitAddress(0);
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{VirtualUnit(address, "H", {12})}}})));
    CExporterConfig config;
    config.m_units = {ConfiguredUnit("H", address)};
    CExporter exporter(config);
    QString error;
    const QHostAddress listen(QString::fromStdString(UnitAddress(1)));
    ASSERT_TRUE(exporter.Listen(listen, 0, error)) << error.toStdString();
    exporter.Rescan();
    ASSERT_TRUE(ScansDone(exporter));

    // A second exporter on the same address and port says where it could not listen.
    CExporter second(config);
    EXPECT_FALSE(second.Listen(listen, exporter.ServerPort(), error));
    EXPECT_TRUE(error.startsWith(QString("cannot listen on %1:%2: ").arg(listen.toString()).arg(exporter.ServerPort())))
        << error.toStdString();

    QNetworkAccessManager manager;
    auto get = [&](const QString& path, int& status, QByteArray& type) {
        QNetworkReply* reply = manager.get(QNetworkRequest(
            QUrl(QString("http://%1:%2%3").arg(listen.toString()).arg(exporter.ServerPort()).arg(path))));
        WaitUntil([reply] { return reply->isFinished(); }, 20000);
        status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        type = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        return body.toStdString();
    };
    int status = 0;
    QByteArray type;
    const std::string page = get("/metrics", status, type);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(type, "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_EQ(LinesStartingWith(page, "veltrane_sensor_value"), (std::vector<std::string>{Sample("H", address, 0, "12")}));
    get("/nothing", status, type);
    EXPECT_EQ(status, 404);

    EXPECT_TRUE(exporter.Shutdown(5000));
    EXPECT_EQ(exporter.ServerPort(), 0);
}

TEST(Exporter, ReloadDropsTheScanOfARemovedUnitAndKeepsTheListOfAnUnchangedOne)
{
    REQUIRE_PORT_161();
    const std::string kept = UnitAddress(0), removed = UnitAddress(1), added = UnitAddress(2);
    UnitSimProcess sim;
    // Late answers, so that the scans are still running at the reload.
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(kept, "Kept", {4, 5}, {{"delayMs", 150}}), VirtualUnit(removed, "Removed", {6}, {{"delayMs", 150}}),
        VirtualUnit(added, "Added", {7}, {{"delayMs", 150}})}}})));
    CExporterConfig config;
    config.m_units = {ConfiguredUnit("Kept", kept), ConfiguredUnit("Removed", removed)};
    LogLines log;
    CExporter exporter(config, log.Function());
    exporter.Rescan();
    ASSERT_TRUE(ScansDone(exporter));

    // A scrape on its own thread, as over HTTP, meets the reload: its page is all old or all new.
    auto during = std::async(std::launch::async, [&exporter] { return exporter.Scrape(); });
    exporter.Rescan();
    config.m_units = {ConfiguredUnit("Kept", kept), ConfiguredUnit("Added", added)};
    const CExporter::ReloadCounts counts = exporter.Reload(config);
    const std::vector<std::string> keptValues{Sample("Kept", kept, 0, "4"), Sample("Kept", kept, 1, "5")};
    std::vector<std::string> oldValues = keptValues;
    oldValues.push_back(Sample("Removed", removed, 0, "6"));
    const std::string duringPage = during.get();
    const std::vector<std::string> duringValues = LinesStartingWith(duringPage, "veltrane_sensor_value");
    EXPECT_TRUE(duringValues == oldValues || duringValues == keptValues) << duringPage;
    EXPECT_EQ((std::vector<int>{counts.nKept, counts.nChanged, counts.nAdded, counts.nRemoved}),
              (std::vector<int>{1, 0, 1, 1}));
    std::string page = exporter.Scrape();
    EXPECT_EQ(page.find("Removed"), std::string::npos) << page;
    EXPECT_EQ(LinesStartingWith(page, "veltrane_sensor_value"), keptValues);
    EXPECT_EQ(LinesStartingWith(page, "veltrane_unit_up{unit=\"Added\"")[0],
              "veltrane_unit_up{unit=\"Added\",address=\"" + added + "\"} 1");

    ASSERT_TRUE(ScansDone(exporter));
    const std::string logText = log.All();
    const std::string scanned = "unit \"Removed\" (" + removed + "): scan found";
    EXPECT_EQ(logText.find(scanned), logText.rfind(scanned)) << "the late scan was logged\n" << logText;
    page = exporter.Scrape();
    EXPECT_EQ(page.find("Removed"), std::string::npos) << page;
    EXPECT_EQ(LinesStartingWith(page, "veltrane_sensor_value").size(), 3u) << page;
}

// A unit that does not answer holds a scan thread for its time-outs (a minute here), unless a
// reload removes it or the exporter ends: then its scan gives up at once, and says nothing.
TEST(Exporter, AReloadOrTheEndCutsShortTheScanOfASilentUnit)
{
    REQUIRE_PORT_161();
    const std::string gone = UnitAddress(0), stays = UnitAddress(1);
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(gone, "Gone", {1}, {{"silent", true}}), VirtualUnit(stays, "Stays", {1}, {{"silent", true}})}}})));
    CExporterConfig config;
    config.m_units = {ConfiguredUnit("Gone", gone), ConfiguredUnit("Stays", stays)};
    for (CExporterUnit& unit : config.m_units)
        unit.m_nTimeout = 60;
    LogLines log;
    CExporter exporter(config, log.Function());
    exporter.Rescan();
    ASSERT_EQ(exporter.ScansPending(), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // both scans wait for an answer
    config.m_units.erase(config.m_units.begin());
    exporter.Reload(config);
    EXPECT_TRUE(WaitUntil([&exporter] { return exporter.ScansPending() == 1; }, 5000)) << "the removed unit's scan ended";
    EXPECT_TRUE(exporter.Shutdown(5000)) << "the end cut the last scan short";
    EXPECT_EQ(log.All().find("scan failed"), std::string::npos) << log.All();
}
