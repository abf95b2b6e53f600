// The plot window names series from the column sidecar, falls back to "Column n" with a counted
// note when it is missing or damaged, and draws series of another size against a second axis.
#include "common/TestSupport.h"

#include "collect/ColumnsSidecar.h"
#include "collect/DataFileFormat.h"
#include "plot/LineTimes.h"
#include "ui/CPlotChart.h"
#include "ui/CPlotWindow.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

using testsupport::WaitUntil;

namespace {

// The demo unit's nine columns; the current loop near 230 is of another size than the rest.
const char kDemoLine[] = "2026/12/08,  11:43:54,  25,  53,  18,  35,  0,  234,  0,  26,  22\r\n";

class PlotColumns : public ::testing::Test {
protected:
    QString Data() const { return m_dir.filePath(QStringLiteral("data127.0.0.3.txt")); }
    QString Sidecar() const { return m_dir.filePath(QStringLiteral("data127.0.0.3.columns")); }
    void Write(const QString& path, const std::string& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    std::unique_ptr<CPlotWindow> Open()
    {
        auto window = std::make_unique<CPlotWindow>(Data(), QStringList {}, false);
        EXPECT_TRUE(WaitUntil([&] { return window->IsLoaded(); }));
        return window;
    }
    QTemporaryDir m_dir;
};

// Lines no sidecar record gives a zone are read in the machine's, and the note says so.
QString ZoneNote()
{
    return QLatin1Char(' ') + QString::fromStdString(AssumedZoneNote(QTimeZone::systemTimeZoneId()));
}

TEST_F(PlotColumns, SeriesNamedFromTheSidecarWithTheOddSizeOnTheRightAxis)
{
    Write(Data(), kDemoLine);
    datafile::ColumnsRecord record {*datafile::WallClockSeconds(2026, 12, 8, 11, 43, 0), 0, {}};
    for (int port = 1; port <= 9; ++port)
        record.columns.push_back({"Port " + std::to_string(port), port == 6 ? "Mains current" : "Room", "", ".1." + std::to_string(port)});
    record.zone = "UTC"; // a zone named: no note about the zone assumed
    Write(Sidecar(), datafile::AddRecord("", record));
    const auto window = Open();
    CPlotChart* chart = window->Chart();
    ASSERT_EQ(chart->SeriesCount(), 9);
    EXPECT_EQ(chart->SeriesName(0), QStringLiteral("Port 1 Room"));
    EXPECT_EQ(chart->SeriesName(5), QStringLiteral("Port 6 Mains current"));
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(chart->IsOnRightAxis(i), i == 5) << i;
    EXPECT_EQ(window->NamesText(), QString());
    EXPECT_TRUE(chart->TextAlternative().contains(QStringLiteral("Port 6 Mains current (right axis): 1 value")));
}

TEST_F(PlotColumns, MissingOrDamagedSidecarFallsBackToColumnNWithACountedNote)
{
    Write(Data(), kDemoLine);
    {
        const auto window = Open();
        EXPECT_EQ(window->Chart()->SeriesName(8), QStringLiteral("Column 9"));
        EXPECT_EQ(window->NamesText(), QStringLiteral("No data127.0.0.3.columns beside the file names the columns; "
                                                      "9 values without a column name (\"Column n\").")
                                           + ZoneNote());
    }
    Write(Sidecar(), "veltrane-columns\t1\nrun\t2026/12/08 11:43:00\ncolumn\tPort 1\tRoom\n");
    const auto window = Open();
    EXPECT_EQ(window->Chart()->SeriesName(0), QStringLiteral("Column 1"));
    EXPECT_EQ(window->NamesText(), QStringLiteral("1 damaged entry in data127.0.0.3.columns left out; "
                                                  "9 values without a column name (\"Column n\").")
                                       + ZoneNote());
}

} // namespace
