// veltrane-cli serve as a service manager runs it: the page over HTTP, SIGHUP, SIGTERM, and the
// refusals at start with their exit statuses.
#include "ExporterTestSupport.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QFile>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

using namespace testsupport;

namespace {

const char* kSecret = "s3cr3t-community";

QJsonObject Config(const std::string& address, const std::string& community)
{
    return QJsonObject{{"timeout", 1}, {"retries", 0},
                       {"units", QJsonArray{QJsonObject{{"name", "Rack"},
                                                        {"address", QString::fromStdString(address)},
                                                        {"community", QString::fromStdString(community)},
                                                        {"sensors", "all online"}}}}};
}

int Count(const QString& text, const QString& what)
{
    return static_cast<int>(text.count(what));
}

} // namespace

TEST(Serve, ServesUntilSigtermAndScansAgainOnSighup)
{
    REQUIRE_PORT_161();
    const std::string address = UnitAddress(0);
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{VirtualUnit(address, "Rack", {21, 22}, {}, kSecret)}}})));
    ServeProcess serve;
    ASSERT_TRUE(serve.Start(Config(address, kSecret), QString::fromStdString(UnitAddress(1)) + ":9811")) << serve.Log().toStdString();
    ASSERT_TRUE(WaitUntil([&serve] { return serve.Log().contains("scan found"); })) << serve.Log().toStdString();

    int status = 0;
    const std::string page = HttpGet(serve.Url(), status);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(LinesStartingWith(page, "veltrane_sensor_value").size(), 2u) << page;
    EXPECT_EQ(LinesStartingWith(page, "veltrane_unit_up{unit=\"Rack\",address=\"" + address + "\"} 1").size(), 1u);

    ASSERT_TRUE(serve.Signal(SIGHUP));
    EXPECT_TRUE(WaitUntil([&serve] { return Count(serve.Log(), "scan found") == 2; })) << serve.Log().toStdString();
    EXPECT_TRUE(serve.Log().contains("SIGHUP: scanning the units again"));

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
    EXPECT_TRUE(serve.Log().contains("stopped (a scan still waiting for its unit was left)")) << serve.Log().toStdString();
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
