// A data file written across a clock change, one line a minute for three hours, as the collector
// writes it in each zone: its lines read back as the instants they were taken at, the plot's
// points in time order with axis labels in the file's local time, the CSV with each line's offset;
// and the same file with a sidecar that names no zone, read in the zone given.
#include "collect/ColumnsSidecar.h"
#include "collect/DataFileFormat.h"
#include "plot/CPlotReader.h"
#include "plot/CsvExport.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

void Write(const QString& path, const std::string& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::int64_t Wall(const QDateTime& at)
{
    const QDate d = at.date();
    const QTime t = at.time();
    return *datafile::WallClockSeconds(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

TEST(LineTimes, LinesAcrossClockChangesAreTheirInstants)
{
    struct Case {
        const char* zone;
        int month; // the change looked for from the start of this month of 2026
    };
    const Case cases[] = {
        {"Europe/Berlin", 3}, {"Europe/Berlin", 10}, {"America/New_York", 3}, {"America/New_York", 11},
        {"Australia/Sydney", 4}, {"Australia/Sydney", 10}, {"UTC", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " month " + std::to_string(c.month));
        const QTimeZone zone(c.zone);
        ASSERT_TRUE(zone.isValid());
        const QTimeZone::OffsetData change = zone.nextTransition(QDateTime(QDate(2026, c.month, 1), QTime(0, 0), Qt::UTC));
        const std::int64_t at = change.atUtc.isValid() ? change.atUtc.toSecsSinceEpoch()
                                                        : QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC).toSecsSinceEpoch();
        QTemporaryDir dir;
        const QString data = dir.filePath(QStringLiteral("data127.0.0.9.txt"));
        std::string lines;
        std::vector<std::int64_t> instants;
        std::vector<std::string> csvTimes;
        for (int i = 0; i <= 180; ++i) {
            const std::int64_t instant = at - 90 * 60 + i * 60;
            const QDateTime local = QDateTime::fromSecsSinceEpoch(instant, Qt::UTC).toTimeZone(zone);
            lines += datafile::FormatLine(local.toString(QStringLiteral("yyyy/MM/dd,  HH:mm:ss,  ")).toStdString(),
                                          {std::to_string(i)})
                + "\r\n";
            instants.push_back(instant);
            csvTimes.push_back(datafile::FormatIsoWallClock(Wall(local)) + datafile::FormatUtcOffset(local.offsetFromUtc()));
        }
        Write(data, lines);
        const QDateTime start = QDateTime::fromSecsSinceEpoch(instants.front(), Qt::UTC).toTimeZone(zone);
        datafile::ColumnsRecord record {Wall(start), 0, {{"Port 1", "Room", "temperature", ".1.1"}}};
        record.zone = c.zone;
        record.utcOffset = start.offsetFromUtc();
        const std::string sidecar = datafile::AddRecord("", record);
        ASSERT_NE(sidecar.find(std::string("\t") + c.zone + "\t"), std::string::npos) << sidecar;
        Write(QString::fromStdString(datafile::SidecarPath(data.toStdString())), sidecar);

        // The plot: one point per line at its instant, in time order, whatever the machine's zone.
        CPlotReader reader;
        reader.SetFallbackZone("Asia/Kolkata");
        ASSERT_TRUE(reader.Open(data));
        ASSERT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
        const std::vector<CPlotPoint> points = reader.Data().Points(0);
        ASSERT_EQ(points.size(), instants.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            EXPECT_EQ(points[i].t, instants[i]) << "line " << i;
            EXPECT_EQ(points[i].v, static_cast<double>(i));
        }
        EXPECT_TRUE(reader.Times().Assumed().isEmpty());
        // The axis: ticks in time order, each labelled with the local time the file wrote then.
        const plottime::Axis axis = plottime::TimeAxis(instants.front(), instants.back(), 12, reader.Times().Clock());
        ASSERT_GE(axis.ticks.size(), 3u);
        for (std::size_t i = 0; i < axis.ticks.size(); ++i) {
            const std::string local = datafile::FormatWallClock(reader.Times().Clock().Local(axis.ticks[i].t));
            EXPECT_TRUE(local.find(axis.ticks[i].label.substr(axis.ticks[i].label.size() - 5)) != std::string::npos)
                << axis.ticks[i].label << " at " << local;
            if (i > 0) {
                EXPECT_GT(axis.ticks[i].t, axis.ticks[i - 1].t);
            }
        }

        // The CSV: each row the local time as written with the offset of its instant.
        const std::string out = dir.filePath(QStringLiteral("out.csv")).toStdString();
        ASSERT_TRUE(csvexport::Export(data, out, nullptr, "Asia/Kolkata").ok);
        QFile csv(QString::fromStdString(out));
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
        EXPECT_EQ(csv.readLine(), QByteArray("time (ISO 8601 local time as written with its UTC offset),Port 1 Room\r\n"));
        for (std::size_t i = 0; i < csvTimes.size(); ++i)
            EXPECT_EQ(csv.readLine().toStdString(), csvTimes[i] + "," + std::to_string(i) + "\r\n");

        // An older sidecar without the zone still names the column; the zone given times the lines.
        Write(QString::fromStdString(datafile::SidecarPath(data.toStdString())),
              "veltrane-columns\t1\nrun\t" + datafile::FormatWallClock(Wall(start)) + "\t0\ncolumn\tPort 1\tRoom\t\t.1.1\nend\n");
        CPlotReader old;
        old.SetFallbackZone(c.zone);
        ASSERT_TRUE(old.Open(data));
        ASSERT_EQ(old.Read(), CPlotReader::Status::AtEnd);
        EXPECT_EQ(old.Columns().Name(0), "Port 1 Room");
        EXPECT_EQ(old.Times().Assumed(), QByteArray(c.zone));
        ASSERT_EQ(old.Data().Points(0).size(), instants.size());
        for (std::size_t i = 0; i < instants.size(); ++i)
            EXPECT_EQ(old.Data().Points(0)[i].t, instants[i]) << "line " << i;
    }
}

} // namespace
