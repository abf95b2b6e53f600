// The report writer's own files read back: every record line a point, every header line known.
#include "download/CDatalogReport.h"
#include "download/getdata.h"
#include "plot/CPlotReader.h"
#include "plot/PlotLines.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>

namespace {

status_block Status(int type, const char* description, const char* unit, std::int32_t newest, int zone)
{
    status_block s;
    s.port = 2;
    s.sensor_type = static_cast<std::uint8_t>(type);
    s.unit_time = newest + 300;
    s.newest_time = newest;
    s.record_count = 3;
    s.width = 2;
    s.interval = 10;
    s.capacity = 1000;
    std::strcpy(s.description, description);
    std::strcpy(s.system_name, "Lab : unit");
    std::strcpy(s.unit_of_measure, unit);
    s.zone_index = static_cast<std::uint8_t>(zone);
    return s;
}

TEST(ReportWriterRoundTrip, RecordsAtTheirInstantsInEitherZone)
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/192.0.2.20_p3_atod.txt";
    const std::int32_t newest = static_cast<std::int32_t>(*plotlines::WallClockSeconds(2009, 7, 1, 12, 0, 0));
    CDatalogReport report;
    const auto samples = [](int i) { return std::vector<int> {235, -15, 0}.at(static_cast<std::size_t>(i)); };
    ASSERT_EQ(report.WriteReport(path, "192.0.2.20", Status(5, "Tank level", "V", newest, 0), samples, 3, false), 0);
    // Appended: the same channel in Eastern Time, then another sensor of the same type.
    report.m_bLocalZone = true;
    ASSERT_EQ(report.WriteReport(path, "192.0.2.20", Status(5, "Tank level", "V", newest, 35), samples, 3, true), 0);
    ASSERT_EQ(report.WriteReport(path, "192.0.2.20", Status(5, "Inlet", "V", newest, 0), samples, 3, true), 0);

    CPlotReader reader;
    ASSERT_TRUE(reader.Open(QString::fromStdString(path)));
    ASSERT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
    EXPECT_EQ(reader.FileKind(), CPlotReader::Kind::Report);
    EXPECT_EQ(reader.Count().malformed, 0);
    EXPECT_EQ(reader.Count().notNumbers, 0);
    EXPECT_EQ(reader.Count().partial, 0);
    EXPECT_EQ(reader.Count().points, 9);
    ASSERT_EQ(reader.ReportSeriesInfo().size(), 2u);
    EXPECT_EQ(reader.ReportSeriesInfo()[0].description, "Tank level");
    EXPECT_EQ(reader.ReportSeriesInfo()[0].unit, "V");
    EXPECT_EQ(reader.ReportSeriesInfo()[1].description, "Inlet");
    // Tenths shown as decimals; the records in UTC and in Eastern Time are the same instants.
    const std::int64_t t = newest;
    EXPECT_EQ(reader.Data().Points(0), (std::vector<CPlotPoint> {{t - 1200, 23.5}, {t - 600, -1.5}, {t, 0.0}}));
    EXPECT_EQ(reader.Data().Points(1), (std::vector<CPlotPoint> {{t - 1200, 23.5}, {t - 600, -1.5}, {t, 0.0}}));
}

} // namespace
