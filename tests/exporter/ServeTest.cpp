// veltrane-cli serve as a service manager runs it: the page over HTTP, SIGHUP, SIGTERM, and the
// refusals at start with their exit statuses.
#include "ExporterTestSupport.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <sys/stat.h>

using namespace testsupport;

namespace {

const char* kSecret = "s3cr3t-community";

QJsonObject ConfigUnit(const char* name, const std::string& address, const std::string& community)
{
    return QJsonObject{{"name", name}, {"address", QString::fromStdString(address)},
                       {"community", QString::fromStdString(community)}, {"sensors", "all online"}};
}

QJsonObject Config(const QJsonArray& units)
{
    return QJsonObject{{"timeout", 1}, {"retries", 0}, {"units", units}};
}

QJsonObject Config(const std::string& address, const std::string& community)
{
    return Config(QJsonArray{ConfigUnit("Rack", address, community)});
}

// The unit's lines of a metric on the page, e.g. {"veltrane_unit_up{...} 1"}.
std::vector<std::string> UnitLines(const std::string& page, const char* metric, const char* unit)
{
    return LinesStartingWith(page, std::string(metric) + "{unit=\"" + unit + "\"");
}

int Count(const QString& text, const QString& what)
{
    return static_cast<int>(text.count(what));
}

// The virtual unit "Rack" at address with two sensors, served and scanned once.
testing::AssertionResult ServeRack(UnitSimProcess& sim, ServeProcess& serve, const std::string& address)
{
    if (const auto started = Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
            VirtualUnit(address, "Rack", {21, 22}, {}, kSecret)}}})); !started)
        return started;
    if (!serve.Start(Config(address, kSecret), QString::fromStdString(UnitAddress(1)) + ":9811",
                     {"--web.listen-address", "[::1]:9813"}) ||
        !WaitUntil([&serve] { return serve.Log().contains("scan found"); }))
        return testing::AssertionFailure() << serve.Log().toStdString();
    return testing::AssertionSuccess();
}

} // namespace

TEST(Serve, ServesUntilSigtermAndScansAgainOnSighup)
{
    REQUIRE_PORT_161();
    const std::string address = UnitAddress(0);
    UnitSimProcess sim;
    ServeProcess serve;
    ASSERT_TRUE(ServeRack(sim, serve, address));

    int status = 0;
    const std::string page = HttpGet(serve.Url(), status);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(LinesStartingWith(page, "veltrane_sensor_value").size(), 2u) << page;
    EXPECT_EQ(LinesStartingWith(page, "veltrane_unit_up{unit=\"Rack\",address=\"" + address + "\"} 1").size(), 1u);
    HttpGet("http://[::1]:9813/metrics", status);
    EXPECT_EQ(status, 200) << "the second --web.listen-address";

    ASSERT_TRUE(serve.Signal(SIGHUP));
    EXPECT_TRUE(WaitUntil([&serve] { return Count(serve.Log(), "scan found") == 2; })) << serve.Log().toStdString();
    EXPECT_TRUE(serve.Log().contains("SIGHUP: serving 1 units (0 added, 0 changed, 0 removed, 1 kept); scanning"));

    EXPECT_TRUE(serve.Signal(SIGTERM)) << serve.Log().toStdString();
    EXPECT_TRUE(serve.Log().endsWith("stopped\n")) << serve.Log().toStdString();
    EXPECT_FALSE(serve.Log().contains(kSecret));
}

TEST(Serve, SigtermDoesNotWaitForAScanOfADeadUnit)
{
    REQUIRE_PORT_161();
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(UnitAddress(0), "Dead", {1}, {{"silent", true}})}}})));
    ServeProcess serve;
    QJsonObject config = Config(UnitAddress(0), "public");
    config["timeout"] = 20; // the scan's first read alone would wait 20 s
    ASSERT_TRUE(serve.Start(config, QString::fromStdString(UnitAddress(1)) + ":9811")) << serve.Log().toStdString();
    ASSERT_TRUE(WaitUntil([&sim] { return !sim.LogLines().isEmpty(); })) << "the scan never asked";
    EXPECT_TRUE(serve.Signal(SIGTERM)) << serve.Log().toStdString();
    // The scan gives up its read at once: nothing is left behind, and it reports no failure.
    EXPECT_TRUE(serve.Log().endsWith("stopped\n")) << serve.Log().toStdString();
    EXPECT_FALSE(serve.Log().contains("scan failed")) << serve.Log().toStdString();
}

TEST(Serve, RefusalsAtStartNameWhatIsWrong)
{
    QTemporaryDir dir;
    const QString good = dir.filePath("good.json");
    const QString open = dir.filePath("open.json");
    const QString bad = dir.filePath("bad.json");
    const QByteArray unit = R"({"name": "A", "address": "127.0.0.2", "community": "s3cr3t-community", )";
    const std::pair<QString, QByteArray> files[] = {
        {good, R"({"units": [)" + unit + R"("sensors": "all online"}]})"},
        {open, R"({"units": [)" + unit + R"("sensors": "all online"}]})"},
        {bad, R"({"units": [)" + unit + R"("sensors": "all online", "rescan": 5}]})"},
    };
    for (const auto& [path, json] : files) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(json);
        file.close();
        ::chmod(path.toLocal8Bit().constData(), path == open ? 0644 : 0600);
    }
    struct Case {
        QStringList args;
        int status;
        QString message;
    };
    const Case cases[] = {
        {{bad}, 1, "veltrane-cli serve: " + bad + ": units[0].rescan: unknown key"},
        {{open}, 1, "veltrane-cli serve: " + open + ": readable or writable by other users (mode 0644)"},
        {{dir.filePath("none.json")}, 3, "veltrane-cli serve: " + dir.filePath("none.json") + ": No such file"},
        {{"--listen", "localhost:9811", good}, 1, "veltrane-cli serve: --listen \"localhost:9811\" is not ADDRESS:PORT"},
        {{"--listen", "127.0.0.1:65536", good}, 1, "--listen \"127.0.0.1:65536\" is not ADDRESS:PORT"},
        {{}, 1, "veltrane-cli serve:"},
    };
    for (const Case& c : cases) {
        QProcess process;
        process.start(VELTRANE_CLI, QStringList{"serve"} + c.args);
        ASSERT_TRUE(process.waitForFinished(20000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), c.status) << c.args.join(' ').toStdString() << ": " << err.toStdString();
        EXPECT_TRUE(err.contains(c.message)) << err.toStdString();
        EXPECT_FALSE(err.contains("s3cr3t")) << err.toStdString();
    }
}

TEST(Serve, SighupReadsTheConfigAgain)
{
    REQUIRE_PORT_161();
    const std::string keep = UnitAddress(0), gone = UnitAddress(1), changed = UnitAddress(2), added = UnitAddress(3);
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(keep, "Keep", {21}, {}, kSecret), VirtualUnit(gone, "Gone", {31}),
        VirtualUnit(changed, "Changed", {41}, {}, "new-community"), VirtualUnit(added, "Added", {51})}}})));
    ServeProcess serve;
    ASSERT_TRUE(serve.Start(Config(QJsonArray{ConfigUnit("Keep", keep, kSecret), ConfigUnit("Gone", gone, "public"),
                                              ConfigUnit("Changed", changed, "old-community")}),
                            QString::fromStdString(UnitAddress(4)) + ":9811"));
    ASSERT_TRUE(WaitUntil([&serve] { return Count(serve.Log(), "scan f") == 3; })) << serve.Log().toStdString();
    int status = 0;
    std::string page = HttpGet(serve.Url(), status);
    ASSERT_EQ(UnitLines(page, "veltrane_unit_up", "Changed").size(), 1u) << page;
    EXPECT_TRUE(UnitLines(page, "veltrane_unit_up", "Changed")[0].ends_with(" 0")) << "refused the old community";

    ASSERT_TRUE(serve.WriteConfig(QJsonDocument(Config(QJsonArray{
        ConfigUnit("Keep", keep, kSecret), ConfigUnit("Changed", changed, "new-community"),
        ConfigUnit("Added", added, "public")})).toJson()));
    ASSERT_TRUE(serve.Signal(SIGHUP));
    ASSERT_TRUE(WaitUntil([&serve] {
        return serve.Log().contains("SIGHUP: serving 3 units (1 added, 1 changed, 1 removed, 1 kept)");
    })) << serve.Log().toStdString();

    // The next scrape: every unit of the new file answers, the removed one is gone, and the
    // kept unit still has its sensor while its new scan runs.
    page = HttpGet(serve.Url(), status);
    EXPECT_EQ(page.find("Gone"), std::string::npos) << page;
    for (const char* unit : {"Keep", "Changed", "Added"})
        EXPECT_EQ(UnitLines(page, "veltrane_unit_up", unit), (std::vector<std::string>{
            "veltrane_unit_up{unit=\"" + std::string(unit) + "\",address=\"" +
            (unit[0] == 'K' ? keep : unit[0] == 'C' ? changed : added) + "\"} 1"})) << page;
    EXPECT_EQ(UnitLines(page, "veltrane_sensor_value", "Keep").size(), 1u) << page;

    ASSERT_TRUE(WaitUntil([&serve] { return Count(serve.Log(), "scan found") == 5; })) << serve.Log().toStdString();
    page = HttpGet(serve.Url(), status);
    for (const char* unit : {"Keep", "Changed", "Added"})
        EXPECT_EQ(UnitLines(page, "veltrane_sensor_value", unit).size(), 1u) << unit << "\n" << page;
    EXPECT_FALSE(serve.Log().contains("-community") || serve.Log().contains(kSecret)) << serve.Log().toStdString();
}

TEST(Serve, ConfigFailingItsChecksOnSighupKeepsTheUnitsServed)
{
    REQUIRE_PORT_161();
    const std::string address = UnitAddress(0);
    UnitSimProcess sim;
    ServeProcess serve;
    ASSERT_TRUE(ServeRack(sim, serve, address));

    QJsonObject unknownKey = Config(address, kSecret);
    unknownKey["rescan"] = 5;
    struct Case {
        QByteArray bytes;
        int mode;
        QString message;
    };
    const Case cases[] = {
        {R"({"units": [)", 0600, "not valid JSON at byte"},
        {QJsonDocument(Config(UnitAddress(2), kSecret)).toJson(), 0644, "readable or writable by other users (mode 0644)"},
        {QJsonDocument(unknownKey).toJson(), 0600, "rescan: unknown key"},
    };
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(serve.WriteConfig(cases[i].bytes, cases[i].mode));
        ASSERT_TRUE(serve.Signal(SIGHUP));
        const QString line = "SIGHUP: " + serve.ConfigPath() + ": ";
        ASSERT_TRUE(WaitUntil([&serve, i] { return Count(serve.Log(), "still serving the units loaded before") == i + 1; }))
            << serve.Log().toStdString();
        EXPECT_TRUE(serve.Log().contains(line + cases[i].message)) << serve.Log().toStdString();
        int status = 0;
        const std::string page = HttpGet(serve.Url(), status);
        EXPECT_EQ(UnitLines(page, "veltrane_unit_up", "Rack"),
                  (std::vector<std::string>{"veltrane_unit_up{unit=\"Rack\",address=\"" + address + "\"} 1"}));
        EXPECT_EQ(UnitLines(page, "veltrane_sensor_value", "Rack").size(), 2u) << page;
    }
    EXPECT_FALSE(serve.Log().contains(kSecret));
}

TEST(Serve, SigtermDuringAScrapeOfSilentUnitsEndsWithinTwoSeconds)
{
    REQUIRE_PORT_161();
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{
        VirtualUnit(UnitAddress(0), "Dead", {1}, {{"silent", true}}),
        VirtualUnit(UnitAddress(2), "Mute", {1}, {{"silent", true}})}}})));
    ServeProcess serve;
    QJsonObject config = Config(QJsonArray{ConfigUnit("Dead", UnitAddress(0), "public"),
                                           ConfigUnit("Mute", UnitAddress(2), "public")});
    config["timeout"] = 10; // each read waits 10 s
    config["retries"] = 1;
    ASSERT_TRUE(serve.Start(config, QString::fromStdString(UnitAddress(1)) + ":9811")) << serve.Log().toStdString();

    // A scrape under way (its read of each unit waits in vain), and the scans as well.
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(serve.Url()))));
    // Two scans and the scrape's two reads.
    ASSERT_TRUE(WaitUntil([&sim] { return sim.LogLines().size() >= 4; })) << "the scrape never asked";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(serve.Signal(SIGTERM)) << serve.Log().toStdString();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2)) << serve.Log().toStdString();
    // The client waiting got an answer rather than a dropped connection.
    EXPECT_TRUE(WaitUntil([&reply] { return reply->isFinished(); }, 5000));
    EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    EXPECT_TRUE(serve.Log().endsWith("stopped\n")) << serve.Log().toStdString();
}

TEST(Serve, TakesItsListeningSocketsFromSystemd)
{
    if (QStandardPaths::findExecutable("systemd-socket-activate").isEmpty())
        GTEST_SKIP() << "systemd-socket-activate (Debian package systemd) is not installed";
    ServeProcess files; // for its configuration file alone
    ASSERT_TRUE(files.WriteConfig(QJsonDocument(Config(UnitAddress(0), "public")).toJson()));
    const QString address = QString::fromStdString(UnitAddress(1));
    // systemd-socket-activate listens as a socket unit does, and starts serve, handing it both
    // sockets, when the first client comes.
    QProcess activate;
    activate.start("systemd-socket-activate", {"-l", address + ":9811", "-l", "[::1]:9814", VELTRANE_CLI, "serve",
                                               "--web.systemd-socket", files.ConfigPath()});
    QString log;
    ASSERT_TRUE(WaitUntil([&] { return (log += activate.readAllStandardError()).count("Listening on") == 2; }))
        << log.toStdString();
    int status = 0;
    const std::string page = HttpGet("http://" + address + ":9811/metrics", status);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(UnitLines(page, "veltrane_unit_up", "Rack").size(), 1u) << page;
    HttpGet("http://[::1]:9814/metrics", status);
    EXPECT_EQ(status, 200);
    log += activate.readAllStandardError();
    EXPECT_TRUE(log.contains("serving 1 units at http://" + address + ":9811/metrics, http://[::1]:9814/metrics "
                             "(sockets from systemd)"))
        << log.toStdString();
    ::kill(static_cast<pid_t>(activate.processId()), SIGTERM); // serve itself: the activator execs it
    ASSERT_TRUE(activate.waitForFinished(10000));
    EXPECT_EQ(activate.exitCode(), 0) << (log + activate.readAllStandardError()).toStdString();
}
