// Real Prometheus servers probe veltrane-cli serve unit by unit with the shipped configurations
// (contrib/prometheus-*.yml, the ones docs/exporter.md shows): the units discovered from
// /targets, and the scale-out over agents that send their shards to a central Prometheus.
#include "ExporterTestSupport.h"
#include "common/TestSupport.h"
#include "common/UnitSimProcess.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <set>

using namespace testsupport;

namespace {

// The shipped file with short intervals, so that the test waits seconds, not minutes.
QString Shipped(const QString& name, std::vector<std::pair<QString, QString>> replaced)
{
    replaced.insert(replaced.end(), {{"scrape_interval: 30s", "scrape_interval: 1s"},
                                     {"scrape_timeout: 10s", "scrape_timeout: 1s"},
                                     {"refresh_interval: 1m", "refresh_interval: 1s"}});
    return SourceFile("contrib/" + name, replaced);
}

QJsonObject ConfigUnit(int i)
{
    return QJsonObject{{"name", QString("unit%1").arg(i)}, {"address", QString::fromStdString(UnitAddress(i))},
                       {"community", "public"}, {"sensors", "all online"}};
}

// label value -> value text of each series of query.
std::map<QString, QString> ByLabel(const QJsonArray& series, const QString& label)
{
    std::map<QString, QString> values;
    for (const QJsonValue& one : series)
        values[one["metric"][label].toString()] = one["value"].toArray().at(1).toString();
    return values;
}

} // namespace

TEST(ProbePrometheus, DiscoversTheUnitsFromTargetsAndProbesEachAsATargetOfItsOwn)
{
    REQUIRE_PORT_161();
    if (PrometheusProcess::Program().isEmpty())
        GTEST_SKIP() << "prometheus is not installed (Debian package prometheus)";
    QJsonArray simUnits;
    for (int i = 0; i < 4; ++i)
        simUnits.append(VirtualUnit(UnitAddress(i), "unit" + std::to_string(i), {10 + i},
                                    i == 2 ? QJsonObject{{"silent", true}} : QJsonObject{}));
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", simUnits}})));
    const QString host = QString::fromStdString(UnitAddress(10));
    // One second per read: a silent unit ends its own wait inside the probe's 1.5 s.
    QJsonObject config{{"timeout", 1}, {"retries", 0}, {"units", QJsonArray{ConfigUnit(0), ConfigUnit(1), ConfigUnit(2)}}};
    ServeProcess serve;
    ASSERT_TRUE(serve.Start(config, host + ":9811")) << serve.Log().toStdString();

    PrometheusProcess prometheus;
    const QString yml = Shipped("prometheus-probe.yml", {{"127.0.0.1:9811", host + ":9811"},
                                                          {"scrape_interval: 30s", "scrape_interval: 2s"},
                                                          {"scrape_timeout: 10s", "scrape_timeout: 2s"}});
    ASSERT_TRUE(prometheus.Start(host + ":9090", yml)) << prometheus.Output().toStdString();

    std::map<QString, QString> up;
    std::map<QString, QString> unitUp;
    const bool three = WaitUntil(
        [&] {
            up = ByLabel(prometheus.Query("up{job=\"veltrane-units\"}"), "unit");
            unitUp = ByLabel(prometheus.Query("veltrane_unit_up"), "unit");
            return up.size() == 3 && unitUp == std::map<QString, QString>{{"unit0", "1"}, {"unit1", "1"}, {"unit2", "0"}};
        },
        60000);
    ASSERT_TRUE(three) << prometheus.Output().toStdString() << serve.Log().toStdString();
    // Every probe answered, the silent unit's too: its own up says it is down, with the time-out.
    EXPECT_EQ(up, (std::map<QString, QString>{{"unit0", "1"}, {"unit1", "1"}, {"unit2", "1"}}));
    EXPECT_EQ(ByLabel(prometheus.Query("veltrane_unit_error_code{unit=\"unit2\"}"), "unit")["unit2"], "40");
    EXPECT_EQ(ByLabel(prometheus.Query("veltrane_sensor_value"), "unit"),
              (std::map<QString, QString>{{"unit0", "10"}, {"unit1", "11"}}));
    const QJsonArray instance = prometheus.Query("up{unit=\"unit1\"}");
    ASSERT_EQ(instance.size(), 1);
    EXPECT_EQ(instance[0]["metric"]["instance"].toString().toStdString(), UnitAddress(1));
    EXPECT_EQ(instance[0]["metric"]["address"].toString().toStdString(), UnitAddress(1));

    config["units"] = QJsonArray{ConfigUnit(0), ConfigUnit(1), ConfigUnit(2), ConfigUnit(3)};
    ASSERT_TRUE(serve.WriteConfig(QJsonDocument(config).toJson()));
    ASSERT_TRUE(serve.Signal(SIGHUP));
    const bool fourth = WaitUntil(
        [&] {
            return ByLabel(prometheus.Query("veltrane_unit_up"), "unit")["unit3"] == "1" &&
                   prometheus.Query("up{job=\"veltrane-units\"}").size() == 4;
        },
        60000);
    EXPECT_TRUE(fourth) << prometheus.Output().toStdString() << serve.Log().toStdString();
    EXPECT_TRUE(serve.Signal(SIGTERM)) << serve.Log().toStdString();
}

TEST(ProbePrometheus, TwoAgentsSendTheirShardsToACentralPrometheusEachUnitOnce)
{
    REQUIRE_PORT_161();
    if (PrometheusProcess::Program().isEmpty())
        GTEST_SKIP() << "prometheus is not installed (Debian package prometheus)";
    constexpr int kUnits = 6;
    QJsonArray simUnits;
    QJsonArray configUnits;
    for (int i = 0; i < kUnits; ++i) {
        simUnits.append(VirtualUnit(UnitAddress(i), "unit" + std::to_string(i), {100 + i, 200 + i}));
        configUnits.append(ConfigUnit(i));
    }
    UnitSimProcess sim;
    ASSERT_TRUE(Started(sim, sim.Start(QJsonObject{{"units", simUnits}})));
    const QJsonObject config{{"timeout", 1}, {"retries", 0}, {"units", configUnits}};
    const QString central = QString::fromStdString(UnitAddress(20));
    PrometheusProcess centralServer;
    ASSERT_TRUE(centralServer.Start(central + ":9090", "global:\n  scrape_interval: 15s\n")) << centralServer.Output().toStdString();

    // Two replicas with the same configuration, an agent beside each with its shard.
    ServeProcess replicas[2];
    PrometheusProcess agents[2];
    for (int shard = 0; shard < 2; ++shard) {
        const QString host = QString::fromStdString(UnitAddress(10 + shard));
        ASSERT_TRUE(replicas[shard].Start(config, host + ":9811")) << replicas[shard].Log().toStdString();
        const QString yml = Shipped("prometheus-agent-shard.yml", {{"127.0.0.1:9811", host + ":9811"},
                                                                    {"127.0.0.1:9090", central + ":9090"},
                                                                    {"regex: 0", QString("regex: %1").arg(shard)},
                                                                    {"shard: \"0\"", QString("shard: \"%1\"").arg(shard)}});
        ASSERT_TRUE(agents[shard].Start(host + ":9090", yml, true)) << agents[shard].Output().toStdString();
    }

    // Every unit's two values at the central Prometheus, each series once, from one shard.
    QJsonArray series;
    const bool all = WaitUntil(
        [&] {
            series = centralServer.Query("veltrane_sensor_value");
            return series.size() >= 2 * kUnits;
        },
        90000);
    ASSERT_TRUE(all) << centralServer.Output().toStdString() << agents[0].Output().toStdString();
    std::map<QString, std::set<QString>> shardsOfUnit;
    std::map<QString, int> seriesOfUnit;
    for (const QJsonValue& one : series) {
        const QJsonObject labels = one["metric"].toObject();
        shardsOfUnit[labels["unit"].toString()].insert(labels["shard"].toString());
        ++seriesOfUnit[labels["unit"].toString()];
        const int i = labels["unit"].toString().mid(4).toInt();
        const QString value = one["value"].toArray().at(1).toString();
        EXPECT_TRUE(value == QString::number(100 + i) || value == QString::number(200 + i)) << value.toStdString();
    }
    ASSERT_EQ(seriesOfUnit.size(), static_cast<std::size_t>(kUnits));
    for (const auto& [unit, count] : seriesOfUnit) {
        EXPECT_EQ(count, 2) << unit.toStdString();
        EXPECT_EQ(shardsOfUnit[unit].size(), 1u) << unit.toStdString();
    }

    // Each replica read only the units of its shard: a replica logs a unit's first answer.
    for (int i = 0; i < kUnits; ++i) {
        const QString answers = QString("unit \"unit%1\" (%2): answers").arg(i).arg(QString::fromStdString(UnitAddress(i)));
        const QString shard = *shardsOfUnit[QString("unit%1").arg(i)].begin();
        EXPECT_EQ(replicas[0].Log().contains(answers), shard == "0") << answers.toStdString();
        EXPECT_EQ(replicas[1].Log().contains(answers), shard == "1") << answers.toStdString();
    }
    for (ServeProcess& replica : replicas)
        EXPECT_TRUE(replica.Signal(SIGTERM)) << replica.Log().toStdString();
}
