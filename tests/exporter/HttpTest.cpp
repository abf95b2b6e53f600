// The exporter's HTTP side as a hostile or careless client meets it: requests it must refuse,
// connections it must bound, clients that leave mid-scrape, and many requests that must cost
// the units one round of reads.
#include "ExporterTestSupport.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"
#include "exporter/CExporter.h"

#include <QHostAddress>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

// The status of an HTTP response ("HTTP/1.1 404 Not Found" gives 404), 0 for none.
int Status(const std::string& response)
{
    if (response.compare(0, 5, "HTTP/") != 0 || response.size() < 12)
        return 0;
    return std::atoi(response.c_str() + 9);
}

std::string Body(const std::string& response)
{
    const std::size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

std::string Get(const std::string& path, const std::string& headers = {})
{
    return "GET " + path + " HTTP/1.1\r\nHost: exporter\r\n" + headers + "Connection: close\r\n\r\n";
}

// One request from its own client; the whole response (the server closes after it).
std::string Exchange(const std::string& from, const std::string& to, std::uint16_t port, const std::string& request,
                     std::chrono::milliseconds timeout = 10s)
{
    RawClient client;
    if (!client.Connect(from, to, port) || !client.Send(request))
        return {};
    return client.Read(timeout);
}

struct Served {
    std::string strAddress;
    std::uint16_t nPort = 0;
};

// Starts exporter listening on a test address; the address and port.
testing::AssertionResult Listen(CExporter& exporter, Served& served, const CHttpServer::Limits& limits = {})
{
    served.strAddress = UnitAddress(20);
    QString error;
    if (!exporter.Listen(QHostAddress(QString::fromStdString(served.strAddress)), 0, error, limits))
        return testing::AssertionFailure() << error.toStdString();
    served.nPort = exporter.ServerPort();
    return testing::AssertionSuccess();
}

} // namespace

TEST(ExporterHttp, HostileRequestsGetTheirRefusalAndNeverAPage)
{
    CExporterConfig config; // no unit: the page is the exporter's own metric alone
    CExporter exporter(config);
    Served served;
    ASSERT_TRUE(Listen(exporter, served));
    const std::string from = UnitAddress(1);

    struct Row {
        const char* name;
        std::string request;
        int status;           // 0: closed without an answer
        const char* contains; // in the response, headers included; empty: anything
    };
    const std::string big(20000, 'a');
    const std::vector<Row> rows{
        {"metrics", Get("/metrics"), 200, "veltrane_scrape_duration_seconds"},
        {"metrics gzipped when asked", Get("/metrics", "Accept-Encoding: deflate, gzip;q=0.5\r\n"), 200,
         "Content-Encoding: gzip"},
        {"metrics, query ignored", Get("/metrics?debug=1"), 200, "veltrane_scrape_duration_seconds"},
        {"metrics, bad scrape time-out", Get("/metrics", "X-Prometheus-Scrape-Timeout-Seconds: nan\r\n"), 200,
         "veltrane_scrape_duration_seconds"},
        {"HEAD metrics: headers alone", "HEAD /metrics HTTP/1.1\r\nHost: e\r\nConnection: close\r\n\r\n", 200,
         "text/plain; version=0.0.4"},
        {"landing page links /metrics", Get("/"), 200, "<a href=\"/metrics\">"},
        {"healthy while serving", Get("/-/healthy"), 200, "OK"},
        {"not ready before the first scans", Get("/-/ready"), 503, ""},
        {"HEAD landing page", "HEAD / HTTP/1.1\r\nHost: e\r\nConnection: close\r\n\r\n", 200, ""},
        {"unknown path", Get("/metric"), 404, ""},
        {"path climbing out", Get("/../metrics"), 404, ""},
        {"POST", "POST /metrics HTTP/1.1\r\nHost: e\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", 405,
         "Allow: GET, HEAD"},
        {"PUT landing page", "PUT / HTTP/1.1\r\nHost: e\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", 405, ""},
        {"DELETE", "DELETE /metrics HTTP/1.1\r\nHost: e\r\nConnection: close\r\n\r\n", 405, ""},
        {"GET with a body", "GET /metrics HTTP/1.1\r\nHost: e\r\nContent-Length: 5\r\n\r\nhello", 413, ""},
        {"chunked body", "POST /metrics HTTP/1.1\r\nHost: e\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
         413, ""},
        {"header over the cap", Get("/metrics", "X-Filler: " + big + "\r\n"), 431, ""},
        {"request line over the cap", Get("/metrics?" + big), 414, ""},
        {"not HTTP at all", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 15), 0, ""},
        {"unknown HTTP version", "GET /metrics HTTP/7.1\r\nHost: e\r\n\r\n", 505, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string response = Exchange(from, served.strAddress, served.nPort, row.request);
        EXPECT_EQ(Status(response), row.status) << response.substr(0, 300);
        EXPECT_NE(response.find(row.contains), std::string::npos) << response.substr(0, 300);
        if (row.status != 200) {
            EXPECT_EQ(response.find("veltrane_"), std::string::npos);
        }
    }
    // HEAD gives the headers alone.
    EXPECT_EQ(Body(Exchange(from, served.strAddress, served.nPort, rows[4].request)), "");
    EXPECT_EQ(Status(Exchange(from, served.strAddress, served.nPort, Get("/metrics"))), 200) << "still serving";
    exporter.Rescan(); // no unit: the first scans end at once
    EXPECT_EQ(Status(Exchange(from, served.strAddress, served.nPort, Get("/-/ready"))), 200);
}

TEST(ExporterHttp, ConnectionHogsAreBoundedWhileAWellBehavedClientIsServed)
{
    CExporterConfig config;
    CExporter exporter(config);
    Served served;
    CHttpServer::Limits limits;
    limits.nConnections = 6;
    limits.nPerAddress = 3;
    limits.nIdleSeconds = 2;
    ASSERT_TRUE(Listen(exporter, served, limits));
    const std::string hogAddress = UnitAddress(2);
    const std::string goodAddress = UnitAddress(3);

    // Connections that never finish their request, as many as one address may hold.
    std::vector<std::unique_ptr<RawClient>> hogs;
    auto hog = [&](const std::string& from) {
        auto client = std::make_unique<RawClient>();
        EXPECT_TRUE(client->Connect(from, served.strAddress, served.nPort));
        client->Send("GET /metrics HTTP/1.1\r\n");
        hogs.push_back(std::move(client));
    };
    for (int i = 0; i < 3; ++i)
        hog(hogAddress);
    std::this_thread::sleep_for(200ms);

    // One more from the same address is closed at once, unanswered.
    RawClient over;
    ASSERT_TRUE(over.Connect(hogAddress, served.strAddress, served.nPort));
    over.Send(Get("/metrics"));
    bool closed = false;
    EXPECT_EQ(over.Read(1500ms, &closed), "");
    EXPECT_TRUE(closed);

    // Another client is served meanwhile, and a header over the cap is refused.
    EXPECT_EQ(Status(Exchange(goodAddress, served.strAddress, served.nPort, Get("/metrics"))), 200);
    EXPECT_EQ(Status(Exchange(goodAddress, served.strAddress, served.nPort,
                              Get("/metrics", "X-Filler: " + std::string(40000, 'b') + "\r\n"))),
              431);

    // Hogs from a second address fill the server: a third address is closed at once ...
    for (int i = 0; i < 3; ++i)
        hog(UnitAddress(4));
    std::this_thread::sleep_for(200ms);
    RawClient refused;
    ASSERT_TRUE(refused.Connect(UnitAddress(5), served.strAddress, served.nPort));
    refused.Send(Get("/metrics"));
    EXPECT_EQ(refused.Read(1000ms, &closed), "");
    EXPECT_TRUE(closed);

    // ... until the idle time-out closes the hogs, and then it is served.
    for (auto& client : hogs) {
        client->Read(4s, &closed);
        EXPECT_TRUE(closed) << "an idle connection stays open";
    }
    EXPECT_EQ(Status(Exchange(UnitAddress(5), served.strAddress, served.nPort, Get("/metrics"))), 200);
    const std::string page = exporter.Scrape();
    for (const char* cap : {"address", "connections"})
        EXPECT_EQ(LinesStartingWith(page, "veltrane_exporter_http_connections_refused_total{cap=\"" + std::string(cap)),
                  std::vector<std::string>{"veltrane_exporter_http_connections_refused_total{cap=\"" + std::string(cap) +
                                           "\"} 1"});
    EXPECT_EQ(Status(Exchange(goodAddress, served.strAddress, served.nPort, Get("/metrics"))), 200);
}

TEST(ExporterHttp, ClientsLeavingDuringAScrapeOfASilentUnitLeaveTheOthersServed)
{
    REQUIRE_PORT_161();
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(UnitAddress(0), "Live", {7}), VirtualUnit(UnitAddress(1), "Silent", {1}, {{"silent", true}})}}})));
    CExporterConfig config;
    config.m_units = {ConfiguredUnit("Live", UnitAddress(0)), ConfiguredUnit("Silent", UnitAddress(1))};
    config.m_units[1].m_nTimeout = 2;
    config.m_units[1].m_nRetries = 1; // four seconds of silence per scrape
    config.m_units[1].m_bAllOnline = false;
    config.m_units[1].m_oidList = {ValueOid(0)};
    CExporter exporter(config);
    Served served;
    ASSERT_TRUE(Listen(exporter, served));
    exporter.Rescan();
    ASSERT_TRUE(WaitUntil([&] { return exporter.ScansPending() == 0; }, 30000));

    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        // Clients that give up while the scrape waits for the silent unit ...
        for (int i = 0; i < 3; ++i) {
            RawClient leaving;
            ASSERT_TRUE(leaving.Connect(UnitAddress(2), served.strAddress, served.nPort));
            leaving.Send(Get("/metrics"));
            std::this_thread::sleep_for(100ms);
        }
        // ... while one that allows a second gets the page within it: the silent unit is
        // reported at the deadline, the live one with its value.
        const auto start = std::chrono::steady_clock::now();
        const std::string response = Exchange(UnitAddress(3), served.strAddress, served.nPort,
                                              Get("/metrics", "X-Prometheus-Scrape-Timeout-Seconds: 1\r\n"));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
        EXPECT_EQ(Status(response), 200) << response;
        const std::string page = Body(response);
        EXPECT_EQ(LinesStartingWith(page, "veltrane_unit_error_code{unit=\"Silent\""),
                  std::vector<std::string>{"veltrane_unit_error_code{unit=\"Silent\",address=\"" + UnitAddress(1) +
                                           "\"} 41"});
        EXPECT_EQ(LinesStartingWith(page, "veltrane_unit_up{unit=\"Live\"").size(), 1u);
        EXPECT_NE(page.find("veltrane_unit_up{unit=\"Live\",address=\"" + UnitAddress(0) + "\"} 1"), std::string::npos);
        std::this_thread::sleep_for(1100ms); // past the reuse of the last page: the next round scrapes again
    }
    EXPECT_TRUE(exporter.Shutdown(3000));
}

TEST(ExporterHttp, ConcurrentAndPipelinedRequestsCostTheUnitOneRound)
{
    REQUIRE_PORT_161();
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(UnitAddress(0), "Slow", {5, 6}, {{"delayMs", 400}})}}})));
    CExporterConfig config;
    config.m_units = {ConfiguredUnit("Slow", UnitAddress(0))};
    CExporter exporter(config);
    Served served;
    ASSERT_TRUE(Listen(exporter, served));
    exporter.Rescan();
    ASSERT_TRUE(WaitUntil([&] { return exporter.ScansPending() == 0; }, 30000));
    sim.ClearLog();

    // Four clients at once, and a fifth that sends three requests in one go.
    std::vector<std::future<std::string>> answers;
    for (int i = 0; i < 4; ++i)
        answers.push_back(std::async(std::launch::async, [&served, i] {
            return Exchange(UnitAddress(2 + i), served.strAddress, served.nPort, Get("/metrics"));
        }));
    RawClient pipelined;
    ASSERT_TRUE(pipelined.Connect(UnitAddress(7), served.strAddress, served.nPort));
    const std::string keep = "GET /metrics HTTP/1.1\r\nHost: e\r\n\r\n";
    pipelined.Send(keep + keep + Get("/metrics"));
    const std::string three = pipelined.Read(10s);

    for (auto& answer : answers)
        EXPECT_EQ(Status(answer.get()), 200);
    int pages = 0;
    for (std::size_t at = three.find("HTTP/1.1 200"); at != std::string::npos; at = three.find("HTTP/1.1 200", at + 1))
        ++pages;
    EXPECT_EQ(pages, 3) << three;

    int reads = 0;
    for (const QStringList& oids : sim.Requests())
        reads += oids.contains(QString::fromStdString(ValueOid(0))) ? 1 : 0;
    EXPECT_EQ(reads, 1) << sim.LogLines().join('\n').toStdString();
}
