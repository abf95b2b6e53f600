// The plot window on real files: names, text alternative, skipped lines, legend, read-out,
// zoom, a file that grows while shown, and files it refuses.
#include "common/QtPrinters.h"
#include "common/TestSupport.h"

#include "platform/MessageBox.h"
#include "plot/PlotLines.h"
#include "ui/CPlotChart.h"
#include "ui/CPlotWindow.h"

#include <QAccessible>
#include <QChartView>
#include <QFile>
#include <QLabel>
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
    // Labels whose text changes (read-out, lines skipped) are read with their text.
    for (QLabel* label : window.findChildren<QLabel*>())
        EXPECT_EQ(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name), label->text());

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

TEST_F(PlotWindowTest, ZoomShowsEveryValueOfItsRangeAndDropsLateResults)
{
    // 20000 lines ten seconds apart: the whole view keeps a minimum and maximum per 64 seconds.
    const std::int64_t t0 = *plotlines::WallClockSeconds(2026, 12, 8, 0, 0, 0);
    const auto line = [&](int i) {
        const std::string stamp = plotlines::FormatWallClock(t0 + 10LL * i);
        return QByteArray::fromStdString(stamp.substr(0, 10) + ",  " + stamp.substr(11) + ",  " + std::to_string(i)
                                         + "\r\n");
    };
    QByteArray text;
    constexpr int kLines = 20000;
    for (int i = 0; i < kLines; ++i)
        text += line(i);
    const QString path = Write("data127.0.0.2.txt", text);
    CPlotWindow window(path, {}, true);
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.IsLoaded(); }));
    QList<std::pair<std::int64_t, std::int64_t>> shown;
    QObject::connect(&window, &CPlotWindow::DetailShown, [&](std::int64_t from, std::int64_t to) { shown.append({from, to}); });
    const auto valuesIn = [&](double from, double to) {
        QList<double> values;
        for (const QPointF& p : window.Chart()->Series(0)->points())
            if (p.x() >= from && p.x() <= to)
                values.append(p.y());
        return values;
    };

    // The last 1000 seconds and as many after; meanwhile a read of the file's start, now late.
    const double last = static_cast<double>(t0 + 10LL * (kLines - 1));
    window.Chart()->ZoomTime(1000 / (window.Chart()->ShownTo() - window.Chart()->ShownFrom()), last);
    window.Chart()->ZoomTime(2, window.Chart()->ShownFrom());
    const double from = window.Chart()->ShownFrom(), to = window.Chart()->ShownTo();
    EXPECT_LT(valuesIn(from, to).size(), 60) << "decimated before the detail arrives";
    window.ShowDetail(static_cast<double>(t0), static_cast<double>(t0 + 1000));
    window.ShowDetail(from, to);
    ASSERT_TRUE(WaitUntil([&] { return !shown.isEmpty(); }));
    for (const auto& range : shown)
        EXPECT_GT(range.first, t0 + 1000) << "the late result was shown";
    QList<double> expected;
    for (int i = 0; i < kLines; ++i)
        if (static_cast<double>(t0 + 10LL * i) >= from && static_cast<double>(t0 + 10LL * i) <= to)
            expected.append(i);
    EXPECT_EQ(valuesIn(from, to), expected);

    // Lines written while zoomed join the detail; Reset Zoom shows the whole file again.
    Write("data127.0.0.2.txt", line(kLines) + line(kLines + 1), QIODevice::Append);
    expected << kLines << kLines + 1;
    ASSERT_TRUE(WaitUntil([&] { return valuesIn(from, to) == expected; }, 5000));
    window.Chart()->ResetZoom();
    EXPECT_FALSE(window.Chart()->HasDetail());
    EXPECT_LE(window.Chart()->Series(0)->count(), 2 * CPlotDecimator::kDefaultBuckets);
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
