// The plot reader on real files: both kinds, malformed and partial lines, live growth,
// files that are not regular, and a million lines in bounded memory.
#include "plot/CPlotReader.h"
#include "plot/PlotLines.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>

namespace {

using Kind = CPlotReader::Kind;

class PlotReader : public ::testing::Test {
protected:
    QString Path(const char* name) const { return m_dir.path() + QLatin1Char('/') + QLatin1String(name); }
    QString Write(const char* name, const std::string& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
    {
        QFile file(Path(name));
        EXPECT_TRUE(file.open(mode));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return file.fileName();
    }
    static std::int64_t At(int y, int mo, int d, int h, int mi, int s)
    {
        return *plotlines::WallClockSeconds(y, mo, d, h, mi, s);
    }
    QTemporaryDir m_dir;
};

TEST_F(PlotReader, DataFileColumnsWithMalformedAndPartialLinesCounted)
{
    const QString path = Write("data127.0.0.2.txt",
                               "2026/12/08,  05:00:00,  21,  45,  1\r\n"
                               "garbage\r\n"
                               "2026/12/08,  05:00:10,  22,  Online,  0\r\n"  // a text is left out
                               "\r\n"
                               "20/08/2009 10:30:00, 23\r\n"                   // a report line here
                               "2026/12/08,  05:00:20,  23,  47,  1,  9\r\n"   // one column more
                               "2026/12/08,  05:00:3");                         // still being written
    CPlotReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
    EXPECT_EQ(reader.FileKind(), Kind::DataFile);
    const CPlotReader::Counters& c = reader.Count();
    EXPECT_EQ(c.lines, 6);
    EXPECT_EQ(c.malformed, 2);
    EXPECT_EQ(c.notNumbers, 1);
    EXPECT_EQ(c.partial, 1);
    EXPECT_EQ(c.points, 9);
    ASSERT_EQ(reader.Data().SeriesCount(), 4);
    const std::int64_t t0 = At(2026, 12, 8, 5, 0, 0);
    EXPECT_EQ(reader.Data().Points(0), (std::vector<CPlotPoint> {{t0, 21}, {t0 + 10, 22}, {t0 + 20, 23}}));
    EXPECT_EQ(reader.Data().Points(1), (std::vector<CPlotPoint> {{t0, 45}, {t0 + 20, 47}}));
    EXPECT_EQ(reader.Data().Points(3), (std::vector<CPlotPoint> {{t0 + 20, 9}}));
    const CPlotSummary& s = reader.Data().Summary(0);
    EXPECT_EQ(s.count, 3);
    EXPECT_EQ(s.tFirst, t0);
    EXPECT_EQ(s.tLast, t0 + 20);
    EXPECT_EQ(s.vMin, 21);
    EXPECT_EQ(s.vMax, 23);
    EXPECT_EQ(s.latest, (CPlotPoint {t0 + 20, 23}));

    // The live view: the partial line ends and one more arrives.
    Write("data127.0.0.2.txt", "0,  24,  48,  0\r\n2026/12/08,  05:00:40,  25,  49,  1\r\n", QIODevice::Append);
    EXPECT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
    EXPECT_FALSE(reader.TakeRestarted());
    EXPECT_EQ(reader.Count().partial, 0);
    EXPECT_EQ(reader.Count().lines, 8);
    EXPECT_EQ(reader.Data().Summary(0).latest, (CPlotPoint {t0 + 40, 25}));
    EXPECT_EQ(reader.Data().Points(0).size(), 5u);

    // Overwritten by a new run: read again from the start.
    Write("data127.0.0.2.txt", "2026/12/09,  01:00:00,  7\r\n");
    EXPECT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
    EXPECT_TRUE(reader.TakeRestarted());
    EXPECT_EQ(reader.Count().lines, 1);
    EXPECT_EQ(reader.Data().Points(0), (std::vector<CPlotPoint> {{At(2026, 12, 9, 1, 0, 0), 7}}));
}

TEST_F(PlotReader, ReportRecordsAsWrittenOneSeriesPerSensor)
{
    const std::string header = "Data download from system.\n"
                               "system address: 192.0.2.20\n"
                               "System name : Lab\n"
                               "Sensor port : 3\n"
                               "Sensor description : Loop <i>A</i>\n"
                               "Current system time (UTC) Coordinated Universal Time : 20/08/2009 10:31:00\n"
                               "Average high value : 23.5 mA\n"
                               "Average low value : -1.5 mA\n"
                               "Instantaneous high value : 23.5 mA\n"
                               "Instantaneous low value : -1.5 mA\n"
                               "Average value : 7.3 mA\n";
    const QString path = Write("192.0.2.20_p3_4-20ma.txt",
                               header + "20/08/2009 10:10:00, 23.5\n20/08/2009 10:20:00, -1.5\n"
                                        "20/08/2009 10:30:00, 0.0\n20/08/2009 10:40:0\n\n"
                                        // appended: the same sensor again, then another one
                                        + header + "20/08/2009 10:40:00, 1.0\n\n"
                                        + "Data download from system.\nSensor port : 3\nSensor description : B\n"
                                          "Average value : 2.0 mA\n20/08/2009 10:40:00, 2.5\n2009/08/20,  1:2:3,  4\n");
    CPlotReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.Read(7), CPlotReader::Status::More); // slices of any size read the same
    while (reader.Read(7) == CPlotReader::Status::More) {}
    EXPECT_EQ(reader.FileKind(), Kind::Report);
    EXPECT_EQ(reader.Count().malformed, 2);
    EXPECT_EQ(reader.Count().partial, 0);
    ASSERT_EQ(reader.ReportSeriesInfo().size(), 2u);
    EXPECT_EQ(reader.ReportSeriesInfo()[0].description, "Loop <i>A</i>");
    EXPECT_EQ(reader.ReportSeriesInfo()[0].unit, "mA");
    EXPECT_EQ(reader.ReportSeriesInfo()[0].port, "3");
    EXPECT_EQ(reader.ReportSeriesInfo()[1].description, "B");
    const std::int64_t t = At(2009, 8, 20, 10, 10, 0);
    EXPECT_EQ(reader.Data().Points(0),
              (std::vector<CPlotPoint> {{t, 23.5}, {t + 600, -1.5}, {t + 1200, 0.0}, {t + 1800, 1.0}}));
    EXPECT_EQ(reader.Data().Points(1), (std::vector<CPlotPoint> {{t + 1800, 2.5}}));
}

TEST_F(PlotReader, RefusesWhatIsNotARegularFileAndSkipsOverlongLines)
{
    CPlotReader reader;
    EXPECT_FALSE(reader.Open(Path("missing.txt")));
    EXPECT_EQ(reader.Error(), ENOENT);
    EXPECT_FALSE(reader.Open(m_dir.path()));
    EXPECT_EQ(reader.Error(), EISDIR);
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("fifo")).constData(), 0600), 0);
    EXPECT_FALSE(reader.Open(Path("fifo"))); // returns at once: no writer is waited for
    EXPECT_EQ(reader.Error(), EINVAL);
    Write("ok.txt", "2026/12/08,  05:00:00,  1\r\n");
    EXPECT_FALSE(reader.Open(Path("ok.txt") + QChar(0) + QStringLiteral("x")));
    EXPECT_EQ(reader.Error(), EINVAL);

    std::string huge(CPlotReader::kMaxLineLength + 10, '7');
    const QString path = Write("long.txt", "2026/12/08,  05:00:00,  " + huge + "\r\n2026/12/08,  05:00:01,  1\r\n"
                                              + std::string(CPlotReader::kMaxLineLength * 2, 'x'));
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
    EXPECT_EQ(reader.Count().malformed, 1);
    EXPECT_EQ(reader.Count().partial, 1);
    EXPECT_EQ(reader.Count().points, 1);
}

TEST_F(PlotReader, ZoomedRangeReadsOnlyItsStretchesAtFullResolution)
{
    // 3000 lines ten seconds apart; line 2000 is out of order (five seconds after the first).
    const std::int64_t t0 = At(2026, 12, 8, 0, 0, 0);
    constexpr int kLines = 3000;
    std::string text;
    std::vector<CPlotPoint> samples;
    for (int i = 0; i < kLines; ++i) {
        const std::int64_t t = i == 2000 ? t0 + 5 : t0 + 10LL * i;
        const std::string stamp = plotlines::FormatWallClock(t);
        text += stamp.substr(0, 10) + ",  " + stamp.substr(11) + ",  " + std::to_string(i) + "\r\n";
        samples.push_back({t, static_cast<double>(i)});
    }
    std::sort(samples.begin(), samples.end(), [](const CPlotPoint& a, const CPlotPoint& b) { return a.t < b.t; });
    CPlotReader reader(64);
    ASSERT_TRUE(reader.Open(Write("data127.0.0.2.txt", text)));
    ASSERT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
    EXPECT_LE(reader.Data().Points(0).size(), 128u) << "the whole file is decimated";

    const struct {
        int first, last; // lines of the range, in time order
        bool fromStart;  // may read from the file's first byte
    } cases[] = {{0, 49, true}, {1500, 1549, false}, {2950, 2999, false}, {700, 700, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const std::unique_ptr<CPlotReader> range = reader.RangeReader(samples[c.first].t, samples[c.last].t);
        ASSERT_TRUE(range);
        ASSERT_FALSE(range->Spans().empty());
        EXPECT_EQ(range->Spans().front().begin > 0, !c.fromStart);
        std::int64_t bytes = 0;
        for (const CPlotIndex::Span& span : range->Spans())
            bytes += span.end - span.begin;
        EXPECT_LE(bytes, 4 * CPlotIndex::kFirstStride) << "of " << text.size();
        ASSERT_EQ(range->Read(), CPlotReader::Status::AtEnd);
        EXPECT_EQ(range->Data().Points(0),
                  std::vector<CPlotPoint>(samples.begin() + c.first, samples.begin() + c.last + 1));
    }
    EXPECT_TRUE(reader.RangeReader(t0 - 100, t0 - 1)->Spans().empty());
}

TEST_F(PlotReader, ZoomedRangeOfAnAppendedReportKeepsEachRecordsSensor)
{
    // Two reports one after the other, the same times, sensor A's values 0/1 and B's 10/11.
    std::string text;
    const std::int64_t t0 = At(2009, 8, 20, 0, 0, 0);
    for (const int sensor : {0, 1}) {
        text += std::string("Data download from system.\nSensor port : 1\nSensor description : ") + "AB"[sensor]
            + "\nAverage value : 2.0 mA\n";
        for (int i = 0; i < 500; ++i) {
            const std::string stamp = plotlines::FormatWallClock(t0 + 60LL * i);
            text += stamp.substr(8, 2) + "/" + stamp.substr(5, 2) + "/" + stamp.substr(0, 4) + stamp.substr(10) + ", "
                + std::to_string(10 * sensor + i % 2) + "\n";
        }
    }
    CPlotReader reader(64);
    ASSERT_TRUE(reader.Open(Write("192.0.2.20_p1_4-20ma.txt", text)));
    ASSERT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
    ASSERT_EQ(reader.ReportSeriesInfo().size(), 2u);
    const std::unique_ptr<CPlotReader> range = reader.RangeReader(t0 + 60 * 400, t0 + 60 * 401);
    ASSERT_EQ(range->Read(), CPlotReader::Status::AtEnd);
    EXPECT_EQ(range->Spans().size(), 2u) << "a stretch of each report, without the header of the second";
    EXPECT_EQ(range->Data().Points(0), (std::vector<CPlotPoint> {{t0 + 60 * 400, 0}, {t0 + 60 * 401, 1}}));
    EXPECT_EQ(range->Data().Points(1), (std::vector<CPlotPoint> {{t0 + 60 * 400, 10}, {t0 + 60 * 401, 11}}));
}

// Found by fuzzing: a header line inside a stretch that changes one field of the sensor's
// header (here "Average value", which names the unit, with no new "Data download" before it)
// left a zoomed reader, which starts at the stretch with no header, on no series: the range
// lost the records after it. It now starts with the series' own header.
TEST_F(PlotReader, ZoomedRangeKeepsRecordsAfterAHeaderLineWithinAStretch)
{
    const std::int64_t t0 = At(2009, 8, 20, 10, 0, 0);
    const struct {
        const char* between;
        int kept; // of the 4 records
    } cases[] = {
        {"Average value : 7.0 C\n", 4},                  // the same unit: the same series
        {"Instantaneous low value : 1 C\n", 4},          // names nothing
        {"Sensor port : 1\n", 4},                        // the same port
        {"Average value : 7.0 F\n", 4},                  // another unit: a series of its own
    };
    for (const auto& c : cases) {
        const std::string text = std::string("Data download from system.\nSensor port : 1\nSensor description : Room\n")
            + "Average value : 2.0 C\n20/08/2009 10:00:00, 1\n20/08/2009 10:10:00, 2\n" + c.between
            + "20/08/2009 10:20:00, 3\n20/08/2009 10:30:00, 4\n\n";
        CPlotReader reader;
        ASSERT_TRUE(reader.Open(Write("r.txt", text)));
        ASSERT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
        ASSERT_EQ(reader.Count().points, 4) << c.between;
        const std::unique_ptr<CPlotReader> range = reader.RangeReader(t0, t0 + 1800);
        ASSERT_EQ(range->Read(), CPlotReader::Status::AtEnd);
        EXPECT_EQ(range->Count().points, c.kept) << c.between;
        for (std::size_t series = 0; series < reader.ReportSeriesInfo().size(); ++series)
            EXPECT_EQ(range->Data().Points(static_cast<int>(series)), reader.Data().Points(static_cast<int>(series)))
                << c.between << " series " << series;
    }
}

TEST_F(PlotReader, MillionLinesKeepBoundedPointsAndTheirSpike)
{
    // Eight columns, one line a minute for almost two years; column 3 has one spike.
    std::string text;
    const QString path = Path("big.txt");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const std::int64_t t0 = At(2025, 1, 1, 0, 0, 0);
    constexpr int kLines = 1000000;
    for (int i = 0; i < kLines; ++i) {
        const std::string stamp = plotlines::FormatWallClock(t0 + 60LL * i);
        char line[160];
        const int n = std::snprintf(line, sizeof line, "%.10s,  %s,  %d,  %d,  %d,  1,  2,  3,  4,  5\r\n",
                                    stamp.c_str(), stamp.c_str() + 11, i % 50, -(i % 7),
                                    i == 654321 ? 999 : 20);
        text.append(line, static_cast<std::size_t>(n));
        if (text.size() > (1 << 20)) {
            file.write(text.data(), static_cast<qint64>(text.size()));
            text.clear();
        }
    }
    file.write(text.data(), static_cast<qint64>(text.size()));
    file.close();

    CPlotReader reader(2048);
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
    EXPECT_EQ(reader.Count().lines, kLines);
    EXPECT_EQ(reader.Count().points, 8LL * kLines);
    EXPECT_EQ(reader.Count().malformed, 0);
    EXPECT_LE(reader.Data().BucketCount(), 2048);
    for (int s = 0; s < 8; ++s)
        EXPECT_LE(reader.Data().Points(s).size(), 2u * 2048u);
    const std::vector<CPlotPoint> third = reader.Data().Points(2);
    EXPECT_TRUE(std::any_of(third.begin(), third.end(),
                            [&](const CPlotPoint& p) { return p.v == 999 && p.t == t0 + 60LL * 654321; }));
    EXPECT_EQ(reader.Data().Summary(2).vMax, 999);
    EXPECT_EQ(reader.Data().Summary(0).tLast, t0 + 60LL * (kLines - 1));
}

} // namespace
