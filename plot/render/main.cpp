// veltrane-plot-render FILE -o OUT.png [--size WxH]
//
// Draws the chart of a data file or a report into a PNG without a display, the way the plot
// window shows it, and prints the chart's text alternative and what was skipped. It is the one
// program behind `veltrane-cli plot`: Qt Charts needs Widgets, which the command-line tool does
// not link, so the tool runs this one (on Qt's offscreen platform).
//
// Exit status: 0 written; 1 the file could not be read or the picture not written; 2 usage.
#include "plot/CPlotReader.h"
#include "ui/CPlotChart.h"

#include <QApplication>
#include <QFileInfo>
#include <QChartView>
#include <QRegularExpression>

#include <cstdio>
#include <cstring>

namespace {

void Usage()
{
    std::fprintf(stderr, "usage: veltrane-plot-render FILE -o OUT.png [--size WxH]\n");
}

} // namespace

int main(int argc, char** argv)
{
    // No display is used or needed, whatever the environment says.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments().mid(1);
    QString file, out;
    QSize size(1000, 600);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if ((a == QLatin1String("-o") || a == QLatin1String("--output")) && i + 1 < args.size()) {
            out = args[++i];
        } else if (a == QLatin1String("--size") && i + 1 < args.size()) {
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("^([0-9]{2,5})x([0-9]{2,5})$")).match(args[++i]);
            const int w = m.hasMatch() ? m.captured(1).toInt() : 0;
            const int h = m.hasMatch() ? m.captured(2).toInt() : 0;
            if (w < 200 || h < 150 || w > 8000 || h > 8000) {
                std::fprintf(stderr, "veltrane-plot-render: --size must be WxH, 200x150 to 8000x8000\n");
                return 2;
            }
            size = QSize(w, h);
        } else if (file.isEmpty() && !a.startsWith(QLatin1Char('-'))) {
            file = a;
        } else {
            Usage();
            return 2;
        }
    }
    if (file.isEmpty() || out.isEmpty()) {
        Usage();
        return 2;
    }

    CPlotReader reader;
    if (!reader.Open(file) || reader.Read() != CPlotReader::Status::AtEnd) {
        std::fprintf(stderr, "veltrane-plot-render: %s: %s\n", qPrintable(file), std::strerror(reader.Error()));
        return 1;
    }
    auto* chart = new CPlotChart();
    QChartView view(chart); // owns the chart; lays it out and draws it as the window does
    view.setRenderHint(QPainter::Antialiasing);
    view.resize(size);
    chart->setTitle(QFileInfo(file).fileName().toHtmlEscaped());
    chart->SetData(reader);
    view.show();
    QApplication::processEvents();
    chart->SetData(reader); // again, now that the plot area is laid out: the ticks fit its width
    QApplication::processEvents();
    if (!view.grab().save(out, "PNG")) {
        std::fprintf(stderr, "veltrane-plot-render: %s: cannot write the picture\n", qPrintable(out));
        return 1;
    }
    std::printf("%s\n", qPrintable(chart->TextAlternative()));
    if (!chart->SkippedText().isEmpty())
        std::printf("%s\n", qPrintable(chart->SkippedText()));
    return 0;
}
