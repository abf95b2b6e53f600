// The plot window on real files: names, text alternative, skipped lines, legend, read-out,
// zoom, a file that grows while shown, and files it refuses.
#include "common/TestSupport.h"

#include "platform/MessageBox.h"
#include "plot/PlotLines.h"
#include "ui/CPlotChart.h"
#include "ui/CPlotWindow.h"

#include <QChartView>
#include <QFile>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::WaitUntil;

namespace {

class PlotWindowTest : public ::testing::Test {
protected:
    QString Write(const char* name, const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
    {
        QFile file(m_dir.path() + QLatin1Char('/') + QLatin1String(name));
        EXPECT_TRUE(file.open(mode));
        file.write(bytes);
        return file.fileName();
    }
    QTemporaryDir m_dir;
};

TEST_F(PlotWindowTest, NamesSummaryAndSkippedLines)
{
    const QString path = Write("data127.0.0.2.txt", "2026/12/08,  05:00:00,  21,  45,  7\r\n"
                                                    "junk\r\n"
                                                    "2026/12/08,  05:01:40,  23,  Online,  8\r\n");
    CPlotWindow window(path, {QStringLiteral("Port 1 Server <b>room</b>"), QStringLiteral("Port 2 Humidity")}, false);
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.IsLoaded(); }));
    CPlotChart* chart = window.Chart();
    ASSERT_EQ(chart->SeriesCount(), 3);
    EXPECT_EQ(chart->SeriesName(0), QStringLiteral("Port 1 Server <b>room</b>"));
    EXPECT_EQ(chart->Series(0)->name(), QStringLiteral("Port 1 Server &lt;b&gt;room&lt;/b&gt;")) << "legends read rich text";
    EXPECT_EQ(chart->SeriesName(2), QStringLiteral("Column 3"));
    EXPECT_EQ(window.ChartView()->accessibleDescription(),
              QStringLiteral("Port 1 Server <b>room</b>: 2 values from 2026/12/08 05:00:00 to 2026/12/08 05:01:40; "
                             "minimum 21, maximum 23, latest 23 (2026/12/08 05:01:40).\n"
                             "Port 2 Humidity: 1 value from 2026/12/08 05:00:00 to 2026/12/08 05:00:00; "
                             "minimum 45, maximum 45, latest 45 (2026/12/08 05:00:00).\n"
                             "Column 3: 2 values from 2026/12/08 05:00:00 to 2026/12/08 05:01:40; "
                             "minimum 7, maximum 8, latest 8 (2026/12/08 05:01:40)."));
    EXPECT_EQ(window.SkippedText(), QStringLiteral("3 lines read: 1 line not in a known format skipped; "
                                                   "1 value that is not a number left out."));

    // The read-out names the nearest point; the legend hides and shows a line.
    const double t0 = static_cast<double>(*plotlines::WallClockSeconds(2026, 12, 8, 5, 0, 0));
    EXPECT_EQ(chart->ReadOut(0, t0 + 60), QStringLiteral("Port 1 Server <b>room</b>: 2026/12/08 05:01:40  23"));
    EXPECT_EQ(chart->ReadOut(0, t0 - 100), QStringLiteral("Port 1 Server <b>room</b>: 2026/12/08 05:00:00  21"));
    QLegendMarker* marker = chart->legend()->markers(chart->Series(1)).value(0);
    ASSERT_TRUE(marker);
    emit marker->clicked();
    EXPECT_FALSE(chart->Series(1)->isVisible());
    EXPECT_LT(marker->labelBrush().color().alphaF(), 0.5) << "the entry stays, dimmed, to show the line again";
    emit marker->clicked();
    EXPECT_TRUE(chart->Series(1)->isVisible());
    EXPECT_EQ(marker->labelBrush().color().alphaF(), 1.0);

    // Zoom: the wheel narrows the time shown around the pointer; Reset Zoom shows it all.
    const double before = chart->ShownTo() - chart->ShownFrom();
    chart->ZoomTime(0.5, t0 + 50);
    EXPECT_NEAR(chart->ShownTo() - chart->ShownFrom(), before / 2, 1e-6);
    EXPECT_TRUE(chart->IsZoomed());
    chart->ResetZoom();
    EXPECT_NEAR(chart->ShownTo() - chart->ShownFrom(), before, 1e-6);
}

TEST_F(PlotWindowTest, LiveWindowGainsTheLinesWrittenToItsFile)
{
    const QString path = Write("data127.0.0.2.txt", "2026/12/08,  05:00:00,  21\r\n");
    CPlotWindow window(path, {}, true);
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.IsLoaded(); }));
    EXPECT_EQ(window.Chart()->Series(0)->count(), 1);
    Write("data127.0.0.2.txt", "2026/12/08,  05:00:10,  22\r\n", QIODevice::Append);
    ASSERT_TRUE(WaitUntil([&] { return window.Chart()->Series(0)->count() == 2; }, 5000));
    EXPECT_TRUE(window.ChartView()->accessibleDescription().contains(QStringLiteral("latest 22")));
    // A new run overwrote the file: the window starts over.
    Write("data127.0.0.2.txt", "2026/12/09,  01:00:00,  5\r\n");
    ASSERT_TRUE(WaitUntil([&] { return window.Chart()->Series(0)->count() == 1; }, 5000));
    EXPECT_TRUE(window.ChartView()->accessibleDescription().contains(QStringLiteral("latest 5")));
}

TEST_F(PlotWindowTest, ReportSeriesNamedBySensorAndUnit)
{
    const QString path = Write("192.0.2.20_p3_4-20ma.txt", "Data download from system.\n"
                                                           "Sensor port : 3\n"
                                                           "Sensor description : Loop\n"
                                                           "Average value : 7.3 mA\n"
                                                           "20/08/2009 10:10:00, 23.5\n"
                                                           "20/08/2009 10:20:00, -1.5\n\n");
    CPlotWindow window(path, {QStringLiteral("not used for reports")}, false);
    ASSERT_TRUE(WaitUntil([&] { return window.IsLoaded(); }));
    ASSERT_EQ(window.Chart()->SeriesCount(), 1);
    EXPECT_EQ(window.Chart()->SeriesName(0), QStringLiteral("Loop (mA)"));
    EXPECT_TRUE(window.ChartView()->accessibleDescription().contains(QStringLiteral("minimum -1.5, maximum 23.5")));
}

TEST_F(PlotWindowTest, FilesThatCannotBePlottedAreSaidSo)
{
    QStringList messages;
    platform::SetMessageBoxHandler([&](const QString&, const QString& text) { messages << text; });
    EXPECT_EQ(CPlotWindow::Open(m_dir.path() + QStringLiteral("/missing.txt"), {}, true, nullptr), nullptr);
    EXPECT_EQ(CPlotWindow::Open(m_dir.path(), {}, true, nullptr), nullptr);
    platform::SetMessageBoxHandler([](const QString&, const QString& text) {
        ADD_FAILURE() << "unexpected message box: " << text.toStdString();
    });
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("missing.txt"))) << messages[0].toStdString();
}

} // namespace
