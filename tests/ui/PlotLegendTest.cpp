// The legend of the demo unit's nine sensors, laid out as veltrane-cli plot draws its picture
// (1000 x 600): every entry shows its whole name, "(right axis)" included.
#include "collect/ColumnsSidecar.h"
#include "plot/CPlotReader.h"
#include "ui/CPlotChart.h"

#include <QApplication>
#include <QChartView>
#include <QFile>
#include <QGraphicsTextItem>
#include <QLegend>
#include <QLineSeries>
#include <QTemporaryDir>
#include <QTextDocument>
#include <gtest/gtest.h>

namespace {

void DrawnTexts(QGraphicsItem* item, QStringList& texts)
{
    if (auto* text = dynamic_cast<QGraphicsTextItem*>(item))
        texts << text->document()->toPlainText();
    for (QGraphicsItem* child : item->childItems())
        DrawnTexts(child, texts);
}

TEST(PlotLegend, TheDemoUnitsNineNamesShowWhole)
{
    const std::pair<const char*, const char*> sensors[] = {
        {"Port 1", "Server room temperature"}, {"Port 2", "Server room humidity"}, {"Port 3", "Rack 2 inlet"},
        {"Port 3", "Rack 2 airflow"}, {"Port 4", "Door contact"}, {"Port 1", "UPS input voltage"},
        {"Port 1", "Water under floor"}, {"Port 1.1", "Rack 1 top"}, {"Port 1.2", "Rack 1 bottom"}};
    QTemporaryDir dir;
    const QString data = dir.filePath("data127.0.0.2.txt");
    datafile::ColumnsRecord record {0, 0, {}};
    for (std::size_t i = 0; i < std::size(sensors); ++i)
        record.columns.push_back({sensors[i].first, sensors[i].second, "", ".1." + std::to_string(i)});
    record.zone = "UTC";
    QFile sidecar(QString::fromStdString(datafile::SidecarPath(data.toStdString())));
    ASSERT_TRUE(sidecar.open(QIODevice::WriteOnly));
    sidecar.write(QByteArray::fromStdString(datafile::AddRecord("", record)));
    sidecar.close();
    QFile file(data);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (int minute = 0; minute < 30; ++minute)
        file.write(QString("2026/12/08,  11:%1:00,  22,  45,  19,  35,  0,  230,  0,  27,  21\r\n")
                       .arg(minute, 2, 10, QChar('0'))
                       .toUtf8());
    file.close();

    CPlotReader reader;
    ASSERT_TRUE(reader.Open(data));
    ASSERT_EQ(reader.Read(), CPlotReader::Status::AtEnd);
    auto* chart = new CPlotChart();
    QChartView view(chart);
    view.resize(1000, 600);
    chart->SetData(reader);
    view.show();
    QApplication::processEvents();
    chart->SetData(reader);
    QApplication::processEvents();

    QStringList drawn;
    DrawnTexts(chart->legend(), drawn);
    ASSERT_EQ(chart->SeriesCount(), 9);
    bool anyRight = false;
    for (int i = 0; i < chart->SeriesCount(); ++i) {
        const QString whole = chart->SeriesName(i) + (chart->IsOnRightAxis(i) ? " (right axis)" : "");
        anyRight = anyRight || chart->IsOnRightAxis(i);
        EXPECT_TRUE(drawn.contains(whole)) << whole.toStdString() << " among " << drawn.join(" | ").toStdString();
    }
    EXPECT_TRUE(anyRight) << "the picture has a right axis whose mark must show";
    EXPECT_TRUE(view.rect().contains(chart->legend()->geometry().toRect())) << "the legend lies within the picture";
}

} // namespace
