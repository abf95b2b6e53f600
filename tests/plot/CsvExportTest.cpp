// The spreadsheet export: a data file collected over two OID lists, read back by Python's csv
// module as a spreadsheet would; reports as time and value; fields that need quoting or that a
// spreadsheet would take for a formula.
#include "collect/ColumnsSidecar.h"
#include "collect/DataFileFormat.h"
#include "plot/CsvExport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void Write(const QString& path, const std::string& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// The CSV as Python's csv module reads it: one JSON array per row.
QStringList PythonRows(const QString& csv)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QStringLiteral("import csv, json, sys\n"
                                                       "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                                       "    for row in csv.reader(f, strict=True):\n"
                                                       "        print(json.dumps(row))\n"),
                  csv});
    EXPECT_TRUE(python.waitForFinished(30000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QString::fromUtf8(python.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

TEST(CsvExport, TwoListsReadBackByPythonsCsvModule)
{
    QTemporaryDir dir;
    const std::string data = QFile::encodeName(dir.filePath(QStringLiteral("data127.0.0.9.txt"))).toStdString();
    const std::int64_t t0 = *datafile::WallClockSeconds(2026, 12, 8, 11, 43, 54);
    const datafile::Column room {"Port 1", "Server room, \"north\"", "temperature", ".1.1"};
    const datafile::Column hum {"Port 2", "Humidity", "humidity", ".1.2"};
    const datafile::Column amps {"", "=HYPERLINK(\"x\")", "4-20ma", ".1.3"}; // a formula, kept as text
    std::string lines = "2026/12/08,  11:40:00,  1,  2\r\n"; // before any record: Column 1, Column 2
    const std::int64_t first = static_cast<std::int64_t>(lines.size());
    lines += "2026/12/08,  11:43:54,  23,  45\r\n2026/12/08,  11:44:04,  24,  46\r\n";
    const std::int64_t second = static_cast<std::int64_t>(lines.size());
    lines += "2026/12/08,  11:44:04,  47,  230,  Online\r\n"; // the same second, another list
    Write(QString::fromStdString(data), lines + "junk\r\n");
    std::string sidecar = datafile::AddRecord("", {t0, first, {room, hum}});
    sidecar = datafile::AddRecord(sidecar, {t0 + 10, second, {hum, amps}});
    Write(QString::fromStdString(datafile::SidecarPath(data)), sidecar);

    const std::string out = QFile::encodeName(dir.filePath(QStringLiteral("out.csv"))).toStdString();
    const csvexport::Result result = csvexport::Export(QString::fromStdString(data), out, nullptr, "UTC");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.rows, 4);
    EXPECT_EQ(result.skipped, 1);
    EXPECT_EQ(result.unnamedValues, 3) << "the line before any record, and Online past the second list";
    const QStringList rows = PythonRows(QString::fromStdString(out));
    const QStringList expected = {
        R"j(["time (ISO 8601 local time as written with its UTC offset)", "Column 1", "Column 2", "Port 1 Server room, \"north\"", "Port 2 Humidity", "'=HYPERLINK(\"x\")", "Column 3"])j",
        R"j(["2026-12-08T11:40:00+00:00", "1", "2", "", "", "", ""])j",
        R"j(["2026-12-08T11:43:54+00:00", "", "", "23", "45", "", ""])j",
        R"j(["2026-12-08T11:44:04+00:00", "", "", "24", "46", "", ""])j",
        R"j(["2026-12-08T11:44:04+00:00", "", "", "", "47", "230", "Online"])j",
    };
    EXPECT_EQ(rows, expected);

    // Without its sidecar every column is "Column n".
    ASSERT_TRUE(QFile::remove(QString::fromStdString(datafile::SidecarPath(data))));
    const csvexport::Result bare = csvexport::Export(QString::fromStdString(data), out, nullptr, "UTC");
    EXPECT_EQ(bare.unnamedValues, 9);
    EXPECT_EQ(PythonRows(QString::fromStdString(out)).value(0),
              R"j(["time (ISO 8601 local time as written with its UTC offset)", "Column 1", "Column 2", "Column 3"])j");
}

TEST(CsvExport, ReportsAsTimeAndValueAndTheCommandLine)
{
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("127.0.0.9_p1_temperature.txt"));
    Write(report, "Data download from unit address: 127.0.0.9\r\nSensor description : Tank\r\nSensor port : 1\r\n"
                  "Average value : 21.5 C\r\n08/12/2026 11:00:00, 21.5\r\n08/12/2026 11:10:00, -0.5\r\n\r\n");
    const QString out = dir.filePath(QStringLiteral("report.csv"));
    QProcess cli;
    cli.start(QStringLiteral(VELTRANE_CLI), {QStringLiteral("export"), report, QStringLiteral("-o"), out});
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(cli.readAllStandardOutput()), out + QStringLiteral(": 2 rows, 1 value columns\n"));
    EXPECT_EQ(PythonRows(out), (QStringList {R"j(["time (ISO 8601 as written in the report with its UTC offset)", "Tank (C)"])j",
                                             R"j(["2026-12-08T11:00:00+00:00", "21.5"])j", R"j(["2026-12-08T11:10:00+00:00", "-0.5"])j"}));

    // Files it refuses: exit status 3, and an older output stays as it was.
    Write(out, "old");
    for (const QString& input : {dir.filePath(QStringLiteral("missing.txt")), dir.path()}) {
        cli.start(QStringLiteral(VELTRANE_CLI), {QStringLiteral("export"), input, QStringLiteral("-o"), out});
        ASSERT_TRUE(cli.waitForFinished(30000));
        EXPECT_EQ(cli.exitCode(), 3) << input.toStdString();
    }
    QFile old(out);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old"));
    cli.start(QStringLiteral(VELTRANE_CLI), {QStringLiteral("export"), report});
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 1) << "-o is required";
}

} // namespace
