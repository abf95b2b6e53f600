// veltrane-plot-render [--size WxH] -o OUT.png [--] FILE
//
// Draws the chart of a data file or a report into a PNG without a display, as the plot window
// shows it, and prints the chart's text alternative and what was skipped. It is the program
// behind `veltrane-cli plot`: Qt Charts needs Widgets, which the command-line tool does not
// link, so the tool runs this one.
//
// Exit status as veltrane-cli's: 0 written; 1 bad usage; 3 the file could not be read or the
// picture not written.
#include "plot/CPlotReader.h"
#include "ui/CPlotChart.h"

#include <QApplication>
#include <QChartView>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitFileError = 3;

int Usage()
{
    std::fprintf(stderr, "usage: veltrane-plot-render [--size WxH] -o OUT.png [--] FILE\n");
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    // No display is used or needed, whatever the environment says.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's notes about the missing desktop (no runtime folder, no window manager) are no news
    // here; this program says what went wrong itself.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "veltrane-plot-render: %s\n", qPrintable(text));
    });
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments().mid(1);
    QString file, out;
    QSize size(1000, 600);
    bool positional = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!positional && a == QLatin1String("--")) {
            positional = true;
        } else if (!positional && (a == QLatin1String("-o") || a == QLatin1String("--output")) && i + 1 < args.size()) {
            out = args[++i];
        } else if (!positional && a == QLatin1String("--size") && i + 1 < args.size()) {
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("^([0-9]{1,5})x([0-9]{1,5})$")).match(args[++i]);
            const int w = m.hasMatch() ? m.captured(1).toInt() : 0;
            const int h = m.hasMatch() ? m.captured(2).toInt() : 0;
            if (w < 200 || h < 150 || w > 8000 || h > 8000)
                return Usage();
            size = QSize(w, h);
        } else if (file.isEmpty() && (positional || !a.startsWith(QLatin1Char('-')))) {
            file = a;
        } else {
            return Usage();
        }
    }
    if (file.isEmpty() || out.isEmpty() || out.contains(QChar(0)))
        return Usage();

    CPlotReader reader;
    if (!reader.Open(file) || reader.Read() != CPlotReader::Status::AtEnd) {
        std::fprintf(stderr, "veltrane-plot-render: %s: %s\n", qPrintable(file), std::strerror(reader.Error()));
        return kExitFileError;
    }
    // The picture replaces a regular file only, in one step; a FIFO or device is never opened.
    const QFileInfo target(out);
    if (target.exists() && !target.isFile()) {
        std::fprintf(stderr, "veltrane-plot-render: %s: not a regular file\n", qPrintable(out));
        return kExitFileError;
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

    QSaveFile picture(out);
    if (!picture.open(QIODevice::WriteOnly) || !view.grab().save(&picture, "PNG") || !picture.commit()) {
        std::fprintf(stderr, "veltrane-plot-render: %s: %s\n", qPrintable(out), qPrintable(picture.errorString()));
        return kExitFileError;
    }
    std::printf("%s\n", qPrintable(chart->TextAlternative()));
    if (!chart->SkippedText().isEmpty())
        std::printf("%s\n", qPrintable(chart->SkippedText()));
    return 0;
}
