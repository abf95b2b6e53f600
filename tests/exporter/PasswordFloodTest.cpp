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

// A connection from its own loopback address that has sent one request.
struct Client {
    int fd = -1;
    ~Client()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool Ask(const std::string& from, const std::string& to, std::uint16_t port, const std::string& authorization)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local {};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
        sockaddr_in remote {};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(port);
        ::inet_pton(AF_INET, to.c_str(), &remote.sin_addr);
        const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\nAuthorization: " + authorization + "\r\n\r\n";
        return fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
               ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0 &&
               ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
    }
    // The status line's code once an answer is there within waitMs, else 0.
    int Status(int waitMs)
    {
        pollfd one {fd, POLLIN, 0};
        if (::poll(&one, 1, waitMs) <= 0)
            return 0;
        char buffer[64] = {};
        if (::recv(fd, buffer, sizeof buffer - 1, MSG_PEEK) < 12)
            return 0;
        return std::atoi(buffer + 9);
    }
};

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
        reply->Send(CHttpServer::Response{200, "text/plain", "page\n", {}});
    }, CHttpServer::Limits(), web);
    const std::string address = UnitAddress(10);
    sockaddr_in listen {};
    listen.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &listen.sin_addr);
    std::string why;
    ASSERT_TRUE(server.Listen(reinterpret_cast<const sockaddr*>(&listen), why)) << why;
    const std::string right = "Basic cHJvbWV0aGV1czpyaWdodA=="; // prometheus:right
    const std::string wrong = "Basic cHJvbWV0aGV1czp3cm9uZw=="; // prometheus:wrong

    Client first;
    ASSERT_TRUE(first.Ask(UnitAddress(1), address, server.Port(), right));
    ASSERT_EQ(first.Status(30000), 200);

    // Twelve wrong passwords from three addresses, then the scraper again.
    std::vector<std::unique_ptr<Client>> flood;
    for (int i = 0; i < 12; ++i) {
        flood.push_back(std::make_unique<Client>());
        ASSERT_TRUE(flood.back()->Ask(UnitAddress(2 + i % 3), address, server.Port(), wrong));
    }
    Client scraper;
    ASSERT_TRUE(scraper.Ask(UnitAddress(1), address, server.Port(), right));
    ASSERT_EQ(scraper.Status(30000), 200);
    int stillWaiting = 0;
    for (const auto& client : flood)
        stillWaiting += client->Status(0) == 0 ? 1 : 0;
    EXPECT_GT(stillWaiting, 0) << "the scraper waited behind every wrong password's check";
    for (const auto& client : flood)
        EXPECT_EQ(client->Status(60000), 401);
}
