// veltrane-plot-render [--size WxH] [--zone ZONE] -o OUT.png [--] FILE
//
// Draws the chart of a data file or a report into a PNG without a display, as the plot window
// shows it, and prints the chart's text alternative and what was skipped. It is the program
// behind `veltrane-cli plot`: Qt Charts needs Widgets, which the command-line tool does not
// link, so the tool runs this one.
//
// Exit status as veltrane-cli's: 0 written; 1 bad usage; 3 the file could not be read or the
// picture not written.
#include "platform/FolderSync.h"
#include "platform/TextBytes.h"
#include "platform/WriteAll.h"
#include "plot/CPlotReader.h"
#include "ui/CPlotChart.h"

#include <QApplication>
#include <QBuffer>
#include <QChartView>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitFileError = 3;

int Usage()
{
    std::fprintf(stderr, "usage: veltrane-plot-render [--size WxH] [--zone ZONE] -o OUT.png [--] FILE\n");
    return kExitUsage;
}

// A new file beside path, created with mode 0666 under the umask as any picture a program
// writes; its name is not taken by anyone else. The descriptor, or -1 with errno set.
int CreateBeside(const std::string& path, std::string& temporary)
{
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", static_cast<long>(::getpid()), attempt);
        temporary = path + suffix;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Replaces the regular file at path (bytes) in one step, or creates it: the picture goes to a
// new file beside it, reaches the disk, then takes its name, and the folder is synced so that
// the name stays. A FIFO or device is never opened. 0 on success, else an errno value.
int ReplaceFile(const std::string& path, const QByteArray& bytes)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return EEXIST;
    std::string temporary;
    const int fd = CreateBeside(path, temporary);
    if (fd < 0)
        return errno;
    int err = 0;
    if (!platform::WriteAll(fd, bytes.toStdString()) || ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(temporary.c_str());
        return err;
    }
    return platform::SyncFolderOf(path);
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
    if (const int err = ReplaceFile(outBytes, png)) {
        std::fprintf(stderr, "veltrane-plot-render: %s: %s\n", outBytes.c_str(),
                     err == EEXIST ? "not a regular file" : std::strerror(err));
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
