// Many hosts holding connections open, by dripping a request or sending nothing, never keep a
// scrape from being answered: each attack row runs against a fresh server, over HTTP and HTTPS,
// from 200 loopback addresses of their own, while Prometheus's address is 127.0.0.1.
#include "ExporterTestSupport.h"
#include "common/TestSupport.h"
#include "exporter/CExporter.h"
#include "exporter/CWebConfig.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <gnutls/gnutls.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int kAttackers = 200;
constexpr unsigned kHeaderSeconds = 3;

// One attacker's connection: plain TCP, or TLS with the handshake done.
struct Attacker {
    int fd = -1;
    gnutls_session_t tls = nullptr;
    std::chrono::steady_clock::time_point start;

    ~Attacker()
    {
        if (tls)
            gnutls_deinit(tls);
        if (fd >= 0)
            ::close(fd);
    }
    bool Connect(const std::string& from, const std::string& to, std::uint16_t port, gnutls_certificate_credentials_t tlsCredentials)
    {
        start = std::chrono::steady_clock::now();
        if ((fd = ConnectFrom(from, to, port)) < 0)
            return false;
        if (!tlsCredentials)
            return true;
        gnutls_init(&tls, GNUTLS_CLIENT);
        gnutls_set_default_priority(tls);
        gnutls_credentials_set(tls, GNUTLS_CRD_CERTIFICATE, tlsCredentials);
        gnutls_transport_set_int(tls, fd);
        return gnutls_handshake(tls) == GNUTLS_E_SUCCESS;
    }
    void Drip(char byte)
    {
        if (tls)
            gnutls_record_send(tls, &byte, 1);
        else
            ::send(fd, &byte, 1, MSG_NOSIGNAL);
    }
    // True once the server has closed the connection.
    bool Closed()
    {
        pollfd one {fd, POLLIN, 0};
        char buffer[256];
        return ::poll(&one, 1, 0) == 1 && ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0;
    }
};

// A scrape from 127.0.0.1 with curl: the status and the seconds it took.
std::pair<int, double> Scrape(const QString& url, const QString& ca)
{
    QProcess curl;
    QStringList args{"-s", "-o", "/dev/null", "-m", "10", "--interface", "127.0.0.1", "-w", "%{http_code} %{time_total}"};
    if (!ca.isEmpty())
        args << "--cacert" << ca;
    curl.start("curl", args << url);
    curl.waitForFinished(20000);
    const QStringList out = QString::fromUtf8(curl.readAllStandardOutput()).split(' ');
    return {out.value(0).toInt(), out.value(1).toDouble()};
}

} // namespace

TEST(SlowClients, DrippingOrIdleConnectionsFromManyAddressesNeverDelayAScrape)
{
    if (QStandardPaths::findExecutable("curl").isEmpty())
        GTEST_SKIP() << "curl is not installed";
    const std::string address = UnitAddress(0);
    QTemporaryDir dir;
    TlsFiles files{dir.path()};
    bool skipped = false;
    const QString made = files.Make(QString::fromStdString(address), skipped);
    if (skipped)
        GTEST_SKIP() << made.toStdString();
    ASSERT_TRUE(made.isEmpty()) << made.toStdString();
    auto web = std::make_shared<CWebConfig>();
    QString error;
    QStringList warnings;
    ASSERT_TRUE(web->Parse("tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n",
                           dir.path().toStdString(), error, warnings))
        << error.toStdString();
    gnutls_certificate_credentials_t credentials = nullptr;
    gnutls_certificate_allocate_credentials(&credentials);

    struct Row {
        const char* name;
        bool https;
        bool drip; // else connected and silent
    };
    const Row rows[] = {
        {"slow headers", false, true},
        {"idle", false, false},
        {"slow headers after the TLS handshake", true, true},
        {"idle before the TLS handshake", true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CExporterConfig config; // no unit: the page costs nothing, any delay is the server's
        CExporter exporter(config);
        CHttpServer::Limits limits;
        limits.nHeaderSeconds = kHeaderSeconds;
        ASSERT_TRUE(exporter.Listen(QHostAddress(QString::fromStdString(address)), 0, error, limits,
                                    row.https ? web : nullptr))
            << error.toStdString();
        const QString url = QString(row.https ? "https://%1:%2/metrics" : "http://%1:%2/metrics")
                                .arg(QString::fromStdString(address))
                                .arg(exporter.ServerPort());
        const QString ca = row.https ? files.Path("ca.crt") : QString();
        double baseline = 0;
        for (int i = 0; i < 3; ++i) {
            const auto [status, seconds] = Scrape(url, ca);
            ASSERT_EQ(status, 200);
            baseline = std::max(baseline, seconds);
            std::this_thread::sleep_for(1100ms); // past the page's reuse: each scrape reads anew
        }

        std::vector<std::unique_ptr<Attacker>> attackers;
        for (int i = 0; i < kAttackers; ++i) {
            attackers.push_back(std::make_unique<Attacker>());
            ASSERT_TRUE(attackers.back()->Connect(UnitAddress(100 + i), address, exporter.ServerPort(),
                                                  row.https && row.drip ? credentials : nullptr))
                << i;
        }
        const std::string request = "GET /metrics HTTP/1.1\r\nHost: exporter\r\nX-Slow: ";
        for (int tick = 0; tick < 5; ++tick) {
            if (row.drip)
                for (auto& attacker : attackers)
                    attacker->Drip(request[tick % request.size()]);
            if (tick % 2 == 0) {
                const auto [status, seconds] = Scrape(url, ca);
                EXPECT_EQ(status, 200) << "tick " << tick;
                EXPECT_LT(seconds, baseline + 1.0) << "tick " << tick << ", " << baseline << " s without the attack";
            }
            std::this_thread::sleep_for(500ms);
        }
        // Every one is closed at its header deadline (the idle time-out is 30 s).
        const auto late = attackers.back()->start + std::chrono::seconds(kHeaderSeconds) + 1500ms;
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            for (auto& attacker : attackers)
                if (!attacker->Closed())
                    return false;
            return true;
        }, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(late - std::chrono::steady_clock::now()).count())))
            << "a connection outlived its header deadline";
        EXPECT_EQ(LinesStartingWith(exporter.Scrape(), "veltrane_exporter_http_header_deadline_closed_total"),
                  std::vector<std::string>{"veltrane_exporter_http_header_deadline_closed_total " +
                                           std::to_string(kAttackers)});
    }
    gnutls_certificate_free_credentials(credentials);
}
