// A real Prometheus server scrapes veltrane-cli serve; the series read back through its query
// API carry the virtual units' values, and the units that cannot answer are down.
#include "ExporterTestSupport.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <map>

using namespace testsupport;

namespace {

// Prometheus on address:9090 with its own data folder, scraping target every interval.
class PrometheusServer : public PrometheusProcess {
public:
    // jobs: further scrape_configs entries (YAML, each starting "  - job_name: ").
    bool Start(const QString& address, const QString& target, const QString& interval = "2s",
               const QString& timeout = "2s", const QString& jobs = {})
    {
        return PrometheusProcess::Start(address + ":9090",
                                        QString("global:\n  scrape_interval: %2\n  scrape_timeout: %3\n"
                                                "scrape_configs:\n  - job_name: veltrane\n    static_configs:\n"
                                                "      - targets: ['%1']\n")
                                                .arg(target, interval, timeout) +
                                            jobs);
    }
};

// unit name -> (port label -> value text) of the veltrane_sensor_value series.
std::map<QString, std::map<QString, QString>> Values(const QJsonArray& series)
{
    std::map<QString, std::map<QString, QString>> values;
    for (const QJsonValue& one : series) {
        const QJsonObject labels = one["metric"].toObject();
        values[labels["unit"].toString()][labels["port"].toString()] = one["value"].toArray().at(1).toString();
    }
    return values;
}

} // namespace

TEST(Prometheus, ScrapesUnitValuesAndMarksSilentAndRefusingUnitsDown)
{
    REQUIRE_PORT_161();
    if (PrometheusServer::Program().isEmpty())
        GTEST_SKIP() << "prometheus is not installed (Debian package prometheus)";

    // Three answering units, one silent, one that refuses the community.
    QJsonArray simUnits;
    QJsonArray configUnits;
    for (int i = 0; i < 5; ++i) {
        const std::string name = "unit" + std::to_string(i);
        QJsonObject faults;
        if (i == 3)
            faults = {{"silent", true}};
        if (i == 4)
            faults = {{"wrongCommunity", "noAccess"}};
        simUnits.append(VirtualUnit(UnitAddress(i), name, {10 + i, 20 + i}, faults, i == 4 ? "other" : "public"));
        configUnits.append(QJsonObject{{"name", QString::fromStdString(name)},
                                       {"address", QString::fromStdString(UnitAddress(i))},
                                       {"community", "public"},
                                       {"sensors", "all online"}});
    }
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", simUnits}})));
    ServeProcess serve;
    const QString listen = QString::fromStdString(UnitAddress(10));
    // A silent unit costs its own one-second time-out, within Prometheus's two-second limit.
    ASSERT_TRUE(serve.Start(QJsonObject{{"timeout", 1}, {"retries", 0}, {"units", configUnits}}, listen + ":9811"))
        << serve.Log().toStdString();

    PrometheusServer prometheus;
    ASSERT_TRUE(prometheus.Start(listen, listen + ":9811")) << prometheus.Output().toStdString();

    // Until Prometheus has stored a scrape made after the scans.
    std::map<QString, std::map<QString, QString>> values;
    const bool arrived = WaitUntil(
        [&] {
            values = Values(prometheus.Query("veltrane_sensor_value"));
            return values.size() == 3 && values["unit2"].size() == 2;
        },
        90000);
    ASSERT_TRUE(arrived) << prometheus.Output().toStdString() << serve.Log().toStdString();
    for (int i = 0; i < 3; ++i) {
        const QString unit = QString("unit%1").arg(i);
        EXPECT_EQ(values[unit]["Port 1"], QString::number(10 + i)) << unit.toStdString();
        EXPECT_EQ(values[unit]["Port 2"], QString::number(20 + i)) << unit.toStdString();
    }

    std::map<QString, QString> up;
    std::map<QString, QString> errors;
    for (const QJsonValue& one : prometheus.Query("veltrane_unit_up"))
        up[one["metric"]["unit"].toString()] = one["value"].toArray().at(1).toString();
    for (const QJsonValue& one : prometheus.Query("veltrane_unit_error_code"))
        errors[one["metric"]["unit"].toString()] = one["value"].toArray().at(1).toString();
    EXPECT_EQ(up, (std::map<QString, QString>{{"unit0", "1"}, {"unit1", "1"}, {"unit2", "1"}, {"unit3", "0"}, {"unit4", "0"}}));
    EXPECT_EQ(errors["unit3"], "40");
    EXPECT_EQ(errors["unit4"], "6");
    // Prometheus's own view of the target: every scrape succeeded, its pages gzipped (it always
    // asks for gzip) and read whole.
    const QJsonArray target = prometheus.Query("up{job=\"veltrane\"}");
    ASSERT_EQ(target.size(), 1);
    EXPECT_EQ(target[0]["value"].toArray().at(1).toString(), "1");
    const QJsonArray took = prometheus.Query("scrape_duration_seconds{job=\"veltrane\"}");
    ASSERT_EQ(took.size(), 1);
    EXPECT_GT(took[0]["value"].toArray().at(1).toString().toDouble(), 0);

    EXPECT_TRUE(serve.Signal(SIGTERM)) << serve.Log().toStdString();
}

TEST(Prometheus, ScrapesOverHttpsWithClientCertificateAndPassword)
{
    REQUIRE_PORT_161();
    if (PrometheusServer::Program().isEmpty())
        GTEST_SKIP() << "prometheus is not installed (Debian package prometheus)";
    const QString listen = QString::fromStdString(UnitAddress(10));
    QTemporaryDir dir;
    TlsFiles tls{dir.path()};
    bool skipped = false;
    const QString made = tls.Make(listen, skipped);
    if (skipped)
        GTEST_SKIP() << made.toStdString();
    ASSERT_TRUE(made.isEmpty()) << made.toStdString();

    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{VirtualUnit(UnitAddress(0), "unit0", {41, 42})}}})));
    ServeProcess serve;
    const QJsonObject unit{{"name", "unit0"}, {"address", QString::fromStdString(UnitAddress(0))},
                           {"community", "public"}, {"sensors", "all online"}};
    ASSERT_TRUE(serve.Start(QJsonObject{{"timeout", 1}, {"retries", 0}, {"units", QJsonArray{unit}}}, listen + ":9811",
                            {"--web.config.file", tls.Path("web.yml")}))
        << serve.Log().toStdString();

    // The job "veltrane" scrapes plain HTTP and fails; "tls" has everything; "wrong-password"
    // has the certificate but not the password; "no-certificate" the password only.
    QFile wrong(tls.Path("wrong-password"));
    ASSERT_TRUE(wrong.open(QIODevice::WriteOnly));
    wrong.write("scrape-secreT");
    wrong.close();
    const auto job = [&](const QString& name, const QString& passwordFile, bool certificate) {
        return QString("  - job_name: %1\n    scheme: https\n    tls_config:\n      ca_file: %2\n%3"
                       "    basic_auth:\n      username: prometheus\n      password_file: %4\n"
                       "    static_configs:\n      - targets: ['%5:9811']\n")
            .arg(name, tls.Path("ca.crt"),
                 certificate ? QString("      cert_file: %1\n      key_file: %2\n")
                                   .arg(tls.Path("client.crt"), tls.Path("client.key"))
                             : QString(),
                 passwordFile, listen);
    };
    PrometheusServer prometheus;
    ASSERT_TRUE(prometheus.Start(listen, listen + ":9811", "2s", "2s",
                                 job("tls", tls.Path("password"), true) +
                                     job("wrong-password", tls.Path("wrong-password"), true) +
                                     job("no-certificate", tls.Path("password"), false)))
        << prometheus.Output().toStdString();

    std::map<QString, std::map<QString, QString>> values;
    const bool arrived = WaitUntil(
        [&] {
            values = Values(prometheus.Query("veltrane_sensor_value{job=\"tls\"}"));
            return values["unit0"].size() == 2;
        },
        90000);
    ASSERT_TRUE(arrived) << prometheus.Output().toStdString() << serve.Log().toStdString();
    EXPECT_EQ(values["unit0"]["Port 1"], "41");
    EXPECT_EQ(values["unit0"]["Port 2"], "42");

    std::map<QString, QString> up;
    const bool all = WaitUntil(
        [&] {
            up.clear();
            for (const QJsonValue& one : prometheus.Query("up"))
                up[one["metric"]["job"].toString()] = one["value"].toArray().at(1).toString();
            return up.size() == 4;
        },
        30000);
    ASSERT_TRUE(all) << prometheus.Output().toStdString();
    EXPECT_EQ(up, (std::map<QString, QString>{{"tls", "1"}, {"wrong-password", "0"}, {"no-certificate", "0"}, {"veltrane", "0"}}));
    EXPECT_TRUE(Values(prometheus.Query("veltrane_sensor_value{job!=\"tls\"}")).empty());

    EXPECT_TRUE(serve.Signal(SIGTERM)) << serve.Log().toStdString();
}

TEST(Prometheus, ScrapeTimeoutShorterThanASilentUnitsLeavesTheExporterUp)
{
    REQUIRE_PORT_161();
    if (PrometheusServer::Program().isEmpty())
        GTEST_SKIP() << "prometheus is not installed (Debian package prometheus)";

    // Two answering units and one silent one whose read would outlast every scrape's time-out.
    QJsonArray simUnits;
    QJsonArray configUnits;
    for (int i = 0; i < 3; ++i) {
        const std::string name = "unit" + std::to_string(i);
        simUnits.append(VirtualUnit(UnitAddress(i), name, {30 + i}, i == 2 ? QJsonObject{{"silent", true}} : QJsonObject{}));
        QJsonObject unit{{"name", QString::fromStdString(name)}, {"address", QString::fromStdString(UnitAddress(i))},
                         {"community", "public"}, {"sensors", "all online"}};
        if (i == 2) {
            unit["timeout"] = 2;
            unit["retries"] = 1;
        }
        configUnits.append(unit);
    }
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", simUnits}})));
    ServeProcess serve;
    const QString listen = QString::fromStdString(UnitAddress(10));
    ASSERT_TRUE(serve.Start(QJsonObject{{"timeout", 1}, {"retries", 0}, {"units", configUnits}}, listen + ":9811"))
        << serve.Log().toStdString();

    PrometheusServer prometheus;
    ASSERT_TRUE(prometheus.Start(listen, listen + ":9811", "1s", "500ms")) << prometheus.Output().toStdString();

    // At least 20 scrapes stored, every one of them a success.
    const QString scrapes = "count_over_time(up{job=\"veltrane\"}[10m])";
    const bool enough = WaitUntil(
        [&] {
            const QJsonArray count = prometheus.Query(scrapes);
            return count.size() == 1 && count[0]["value"].toArray().at(1).toString().toInt() >= 20;
        },
        90000);
    ASSERT_TRUE(enough) << prometheus.Output().toStdString() << serve.Log().toStdString();
    const QJsonArray worst = prometheus.Query("min_over_time(up{job=\"veltrane\"}[10m])");
    ASSERT_EQ(worst.size(), 1);
    EXPECT_EQ(worst[0]["value"].toArray().at(1).toString(), "1") << "a scrape failed";

    std::map<QString, std::map<QString, QString>> values = Values(prometheus.Query("veltrane_sensor_value"));
    EXPECT_EQ(values["unit0"]["Port 1"], "30");
    EXPECT_EQ(values["unit1"]["Port 1"], "31");
    std::map<QString, QString> errors;
    for (const QJsonValue& one : prometheus.Query("veltrane_unit_error_code"))
        errors[one["metric"]["unit"].toString()] = one["value"].toArray().at(1).toString();
    EXPECT_EQ(errors, (std::map<QString, QString>{{"unit0", "0"}, {"unit1", "0"}, {"unit2", "41"}}));

    EXPECT_TRUE(serve.Signal(SIGTERM)) << serve.Log().toStdString();
}

namespace {

// label name -> value of a page's sample line "name{a="x",b="y"} value".
std::map<QString, QString> LabelsOfLine(const std::string& line)
{
    std::map<QString, QString> labels;
    const std::size_t open = line.find('{'), close = line.rfind('}');
    std::string text = line.substr(open + 1, close - open - 1);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t eq = text.find("=\"", at);
        std::string value;
        std::size_t i = eq + 2;
        for (; i < text.size() && text[i] != '"'; ++i)
            value += text[i] == '\\' ? text[++i] : text[i];
        labels[QString::fromStdString(text.substr(at, eq - at))] = QString::fromStdString(value);
        at = i + 2; // past the quote and the comma
    }
    return labels;
}

} // namespace

// Two days of a virtual unit's datalog, downloaded into OpenMetrics, made into blocks by
// promtool and loaded by a real Prometheus: each record's value at its own time, under the
// series veltrane-cli serve gives the same sensor of the same unit.
TEST(Prometheus, BackfilledDatalogIsEachRecordAtItsTimeUnderServesSeries)
{
    REQUIRE_PORT_161();
    if (PrometheusServer::Program().isEmpty() || QStandardPaths::findExecutable("promtool").isEmpty())
        GTEST_SKIP() << "prometheus and promtool are not installed (Debian package prometheus)";
    QJsonObject unit = VirtualUnit(UnitAddress(0), "unit0", {21, 45});
    // Port 1's table-16 sensor also logs: channel 0, every 10 minutes for two days.
    const QJsonObject wave{{"base", 22}, {"amplitude", 3}, {"period", 144}};
    const QJsonObject channel{{"port", 0}, {"channel", 0}, {"sensorType", 1}, {"description", "unit0 sensor 0"},
                              {"systemName", "Lab unit"}, {"unitOfMeasure", "C"}, {"zone", 0}, {"interval", 10},
                              {"width", 2}, {"capacity", 1000}, {"writeIndex", 288},
                              {"records", QJsonObject{{"count", 288}, {"wave", wave}}}};
    unit["datalog"] = QJsonObject{{"channels", QJsonArray{channel}}};
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", QJsonArray{unit}}})));

    QTemporaryDir dir;
    const QString om = dir.filePath("unit0.om");
    QProcess cli;
    cli.setProcessChannelMode(QProcess::MergedChannels);
    cli.start(VELTRANE_CLI, {"download", QString::fromStdString(UnitAddress(0)), "-p", "public", "-f", dir.path(),
                             "--openmetrics", om, "--unit", "unit0"});
    ASSERT_TRUE(cli.waitForFinished(120000));
    const QString cliOutput = QString::fromUtf8(cli.readAll());
    ASSERT_EQ(cli.exitCode(), 0) << cliOutput.toStdString();

    // The report's records, as the download wrote them (UTC): the values to find.
    std::vector<std::pair<std::int64_t, QString>> records;
    const QStringList reports = QDir(dir.path()).entryList({"*_p1_temperature.txt"});
    ASSERT_EQ(reports.size(), 1) << cliOutput.toStdString();
    QFile report(dir.filePath(reports[0]));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    for (QString line : QString::fromUtf8(report.readAll()).split('\n')) {
        line = line.trimmed();
        const QDateTime at = QDateTime::fromString(line.section(", ", 0, 0), "dd/MM/yyyy HH:mm:ss");
        if (at.isValid() && line.count(", ") == 1)
            records.emplace_back(QDateTime(at.date(), at.time(), Qt::UTC).toSecsSinceEpoch(), line.section(", ", 1));
    }
    ASSERT_EQ(records.size(), 288u);

    QProcess promtool;
    promtool.setProcessChannelMode(QProcess::MergedChannels);
    PrometheusServer prometheus;
    promtool.start("promtool", {"tsdb", "create-blocks-from", "openmetrics", om, prometheus.DataFolder()});
    ASSERT_TRUE(promtool.waitForFinished(120000));
    ASSERT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString();

    // What serve reports for the same sensor of the same unit.
    ServeProcess serve;
    const QString listen = QString::fromStdString(UnitAddress(10));
    const QJsonObject configured{{"name", "unit0"}, {"address", QString::fromStdString(UnitAddress(0))},
                                 {"community", "public"}, {"sensors", "all online"}};
    ASSERT_TRUE(serve.Start(QJsonObject{{"timeout", 1}, {"retries", 0}, {"units", QJsonArray{configured}}}, listen + ":9811"))
        << serve.Log().toStdString();
    std::vector<std::string> lines;
    ASSERT_TRUE(WaitUntil([&] {
        int status = 0;
        lines = LinesStartingWith(HttpGet(serve.Url(), status), "veltrane_sensor_value{");
        return lines.size() == 2;
    }));
    std::map<QString, QString> served;
    for (const std::string& line : lines)
        if (LabelsOfLine(line)["port"] == "Port 1")
            served = LabelsOfLine(line);
    ASSERT_FALSE(served.empty());

    ASSERT_TRUE(prometheus.Start(listen, listen + ":9")) << prometheus.Output().toStdString();
    QJsonArray series;
    ASSERT_TRUE(WaitUntil([&] {
        series = prometheus.QueryRange("veltrane_sensor_value", records.front().first, records.back().first, 600);
        return !series.isEmpty();
    }, 60000)) << prometheus.Output().toStdString();
    ASSERT_EQ(series.size(), 1);
    std::map<QString, QString> stored;
    const QJsonObject metric = series[0].toObject()["metric"].toObject();
    for (auto it = metric.begin(); it != metric.end(); ++it)
        if (it.key() != "__name__")
            stored[it.key()] = it.value().toString();
    EXPECT_EQ(stored, served);
    const QJsonArray values = series[0].toObject()["values"].toArray();
    ASSERT_EQ(values.size(), static_cast<qsizetype>(records.size()));
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(static_cast<std::int64_t>(values[static_cast<qsizetype>(i)].toArray().at(0).toDouble()), records[i].first) << i;
        EXPECT_EQ(values[static_cast<qsizetype>(i)].toArray().at(1).toString(), records[i].second) << i;
    }
    EXPECT_TRUE(serve.Signal(SIGTERM)) << serve.Log().toStdString();
}
