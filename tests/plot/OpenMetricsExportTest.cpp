// A data file across the autumn change and a report, as OpenMetrics: every sample at its
// instant, in time order, the labels serve gives; accepted by promtool's checker and turned
// into blocks by promtool tsdb create-blocks-from openmetrics.
#include "plot/OpenMetricsExport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

int RunTool(const QString& program, const QStringList& args, const QString& input, QString& output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!input.isEmpty())
        p.setStandardInputFile(input);
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000));
    output = QString::fromUtf8(p.readAll());
    return p.exitCode();
}

TEST(OpenMetricsExport, InstantsInOrderWithServesLabelsAndPromtoolTakesThem)
{
    if (QStandardPaths::findExecutable("promtool").isEmpty())
        GTEST_SKIP() << "promtool (Debian's prometheus) is not installed";
    QTemporaryDir dir;
    const QString data = dir.filePath("data127.0.0.9.txt"), report = dir.filePath("127.0.0.9_p3_humidity.txt");
    Write(data, "2026/10/25,  02:30:00,  21,  45\r\n2026/10/25,  02:59:00,  22,  46\r\n2026/10/25,  02:00:00,  23,  x\r\n");
    Write(dir.filePath("data127.0.0.9.columns"),
          "veltrane-columns\t1\nrun\t2026/10/25 02:30:00\t0\tEurope/Berlin\t+02:00\n"
          "column\tPort 1\tServer room\ttemperature\t.1.3.6.1.4.1.32473.1.2.2.1.16.1.3.0\n"
          "column\tPort 2\tHum \"x\"\thumidity\t.1.3.6.1.4.1.32473.1.2.2.1.17.1.3.1\nend\n");
    // A report appended twice: the second copy's records are not written again.
    const QByteArray one = "Data download from system.\r\nsystem address: 127.0.0.9\r\nSystem name : Lab\r\n"
                           "Sensor port : 3\r\nSensor description : Tank\r\n"
                           "Current system time (UTC) Coordinated Universal Time : 25/10/2026 03:00:00\r\n"
                           "Average value : 21.5 C\r\n25/10/2026 00:10:00, 21.5\r\n25/10/2026 00:20:00, -0.5\r\n\r\n";
    Write(report, one + one);
    const std::string out = dir.filePath("out.om").toStdString();
    openmetrics::Options options;
    options.unit = "Lab";
    const openmetrics::Result result = openmetrics::Export({data, report}, out, options);
    ASSERT_TRUE(result.ok) << result.error << result.problem;
    EXPECT_EQ(result.samples, 7);
    EXPECT_EQ(result.outOfOrder, 2);
    EXPECT_EQ(result.notNumbers, 1);
    QFile file(QString::fromStdString(out));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString tank = R"(veltrane_sensor_value{unit="Lab",address="127.0.0.9",port="Port 3",description="Tank",type="3",oid=".1.3.6.1.4.1.32473.1.2.2.1.17.1.3.2"} )";
    const QString room = R"(veltrane_sensor_value{unit="Lab",address="127.0.0.9",port="Port 1",description="Server room",type="1",oid=".1.3.6.1.4.1.32473.1.2.2.1.16.1.3.0"} )";
    const QString hum = R"(veltrane_sensor_value{unit="Lab",address="127.0.0.9",port="Port 2",description="Hum \"x\"",type="3",oid=".1.3.6.1.4.1.32473.1.2.2.1.17.1.3.1"} )";
    // 02:30 and 02:59 CEST are 00:30 and 00:59 UTC; the 02:00 after them is 01:00 UTC (CET).
    const QStringList expected = {
        "# TYPE veltrane_sensor_value gauge",
        "# HELP veltrane_sensor_value Sensor value as the unit reads it; values that are not numbers are left out.",
        tank + "21.5 1792887000", tank + "-0.5 1792887600", room + "21 1792888200", hum + "45 1792888200",
        room + "22 1792889940", hum + "46 1792889940", room + "23 1792890000", "# EOF"};
    EXPECT_EQ(QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts), expected);

    QString output;
    EXPECT_EQ(RunTool("promtool", {"check", "metrics"}, QString::fromStdString(out), output), 0) << output.toStdString();
    EXPECT_EQ(RunTool("promtool", {"tsdb", "create-blocks-from", "openmetrics", QString::fromStdString(out), dir.filePath("blocks")},
                  {}, output),
              0)
        << output.toStdString();
    EXPECT_TRUE(output.contains("1792887000000  1792890000001")) << output.toStdString();

    // A data file names no unit: without one the export refuses, and writes nothing.
    const openmetrics::Result refused = openmetrics::Export({data}, dir.filePath("none.om").toStdString(), {});
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.problem.find("--unit"), std::string::npos);
    EXPECT_FALSE(QFile::exists(dir.filePath("none.om")));
}

} // namespace
