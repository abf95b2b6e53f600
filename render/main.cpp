// veltrane-plot-render [--size WxH] [--zone ZONE] -o OUT.png [--] FILE
//
// Draws the chart of a data file or a report into a PNG without a display, as the plot window
// shows it, and prints the chart's text alternative and what was skipped. It is the program
// behind `veltrane-cli plot`: Qt Charts needs Widgets, which the command-line tool does not
// link, so the tool runs this one.
//
// Exit status as veltrane-cli's: 0 written; 1 bad usage; 3 the file could not be read or the
// picture not written.
#include "platform/CWholeFile.h"
#include "platform/TextBytes.h"
#include "plot/CPlotReader.h"
#include "ui/CPlotChart.h"

#include <QApplication>
#include <QBuffer>
#include <QChartView>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitFileError = 3;

int Usage()
{
    std::fprintf(stderr, "usage: veltrane-plot-render [--size WxH] [--zone ZONE] -o OUT.png [--] FILE\n");
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
    // Qt is given the program's name only: it would take options of its own (-platform,
    // -style=, -reverse, ...) from anywhere among the arguments, swallowing a path spelled
    // like one.
    static char programName[] = "veltrane-plot-render";
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : programName, nullptr};
    QApplication application(qtArgc, qtArgv);
    // Paths are the bytes that were typed (Qt's own decoding would change what is not UTF-8).
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(platform::EscapedText(argv[i]));
    QString file, out;
    QByteArray zone;
    QSize size(1000, 600);
    bool positional = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!positional && a == QLatin1String("--")) {
            positional = true;
        } else if (!positional && (a == QLatin1String("-o") || a == QLatin1String("--output")) && i + 1 < args.size()) {
            out = args[++i];
        } else if (!positional && a == QLatin1String("--zone") && i + 1 < args.size()) {
            zone = args[++i].toUtf8();
            if (!QTimeZone::isTimeZoneIdAvailable(zone))
                return Usage();
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

    const std::string fileBytes = platform::EscapedBytes(file), outBytes = platform::EscapedBytes(out);
    CPlotReader reader;
    reader.SetFallbackZone(zone);
    if (!reader.Open(file) || reader.Read() != CPlotReader::Status::AtEnd) {
        std::fprintf(stderr, "veltrane-plot-render: %s: %s\n", fileBytes.c_str(), std::strerror(reader.Error()));
        return kExitFileError;
    }
    auto* chart = new CPlotChart();
    QChartView view(chart); // owns the chart; lays it out and draws it as the window does
    view.setRenderHint(QPainter::Antialiasing);
    view.resize(size);
    chart->setTitle(platform::ShownPath(QFileInfo(file).fileName()).toHtmlEscaped());
    chart->SetData(reader);
    view.show();
    QApplication::processEvents();
    chart->SetData(reader); // again, now that the plot area is laid out: the ticks fit its width
    QApplication::processEvents();

    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !view.grab().save(&buffer, "PNG")) {
        std::fprintf(stderr, "veltrane-plot-render: %s: the picture could not be made\n", outBytes.c_str());
        return kExitFileError;
    }
    // As any program's new picture: mode 0666 under the umask, also when it replaces one.
    CWholeFile picture;
    if (!picture.Open(outBytes, false, CWholeFile::kNewFileMode, CWholeFile::ModeRule::Always)
        || !picture.Commit(std::string_view(png.constData(), static_cast<std::size_t>(png.size())))) {
        std::fprintf(stderr, "veltrane-plot-render: %s: %s\n", outBytes.c_str(),
                     picture.NotRegular() ? "not a regular file" : picture.ErrorText().c_str());
        return kExitFileError;
    }
    std::printf("%s\n", qPrintable(chart->TextAlternative()));
    if (!chart->SkippedText().isEmpty())
        std::printf("%s\n", qPrintable(chart->SkippedText()));
    if (!chart->NamesNote().isEmpty())
        std::printf("%s\n", qPrintable(chart->NamesNote()));
    if (const std::string note = AssumedZoneNote(reader.Times().Assumed()); !note.empty())
        std::printf("%s\n", note.c_str());
    return 0;
}
