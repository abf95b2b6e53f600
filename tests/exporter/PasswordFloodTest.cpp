// Wrong passwords in a flood cost their bcrypt checks off the HTTP server's thread, and the
// scraper that already passed is answered while they are still being checked.
#include "ExporterTestSupport.h"
#include "exporter/CHttpServer.h"
#include "exporter/CWebConfig.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A connection from its own loopback address that has sent one request for the page.
std::unique_ptr<RawClient> Ask(const std::string& from, const std::string& to, std::uint16_t port,
                               const std::string& authorization)
{
    auto client = std::make_unique<RawClient>();
    if (!client->Connect(from, to, port)
        || !client->Send("GET /metrics HTTP/1.1\r\nHost: x\r\nAuthorization: " + authorization + "\r\n\r\n"))
        return nullptr;
    return client;
}

} // namespace

TEST(PasswordFlood, ScraperThatPassedIsAnsweredWhileWrongPasswordsWaitForTheirChecks)
{
    if (QStandardPaths::findExecutable("htpasswd").isEmpty())
        GTEST_SKIP() << "htpasswd (apache2-utils) is not installed";
    // Cost 12: each check takes a noticeable time, so 12 of them on two threads queue up.
    QProcess htpasswd;
    htpasswd.start("htpasswd", {"-nbBC", "12", "", "right"});
    ASSERT_TRUE(htpasswd.waitForFinished(30000));
    const std::string hash = htpasswd.readAllStandardOutput().trimmed().mid(1).toStdString();
    auto web = std::make_shared<CWebConfig>();
    QString error;
    QStringList warnings;
    ASSERT_TRUE(web->Parse("basic_auth_users:\n  prometheus: " + hash + "\n", "", error, warnings)) << error.toStdString();

    CHttpServer server([](const CHttpServer::Request&, const std::shared_ptr<CHttpServer::Reply>& reply) {
        reply->Send(CHttpServer::Response{200, "text/plain", "page\n", {}, {}});
    }, CHttpServer::Limits(), web);
    const std::string address = UnitAddress(10);
    sockaddr_in listen {};
    listen.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &listen.sin_addr);
    std::string why;
    ASSERT_TRUE(server.Listen(reinterpret_cast<const sockaddr*>(&listen), why)) << why;
    const std::string right = "Basic cHJvbWV0aGV1czpyaWdodA=="; // prometheus:right
    const std::string wrong = "Basic cHJvbWV0aGV1czp3cm9uZw=="; // prometheus:wrong

    const auto first = Ask(UnitAddress(1), address, server.Port(), right);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->PeekStatus(30000), 200);

    // Twelve wrong passwords from three addresses, then the scraper again.
    std::vector<std::unique_ptr<RawClient>> flood;
    for (int i = 0; i < 12; ++i) {
        flood.push_back(Ask(UnitAddress(2 + i % 3), address, server.Port(), wrong));
        ASSERT_TRUE(flood.back());
    }
    const auto scraper = Ask(UnitAddress(1), address, server.Port(), right);
    ASSERT_TRUE(scraper);
    ASSERT_EQ(scraper->PeekStatus(30000), 200);
    int stillWaiting = 0;
    for (const auto& client : flood)
        stillWaiting += client->PeekStatus(0) == 0 ? 1 : 0;
    EXPECT_GT(stillWaiting, 0) << "the scraper waited behind every wrong password's check";
    for (const auto& client : flood)
        EXPECT_EQ(client->PeekStatus(60000), 401);
}
