// veltrane-cli plot FILE -o OUT.png [--size WxH]: the plot window's chart as a picture.
//
// Qt Charts draws with Widgets, which this program does not link; the chart comes from the
// renderer veltrane-plot-render, installed beside it (in libexec), run on Qt's offscreen
// platform, in place of this program (exec), so that its output and exit status are this
// program's. It prints the chart's text alternative and what was skipped.
#include "cli/CliSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The renderer, at the same place relative to this program in the build tree and installed.
QString RendererPath()
{
    return QFileInfo(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                     + QStringLiteral(VELTRANE_PLOT_RENDER_FROM_BIN))
        .absoluteFilePath();
}

} // namespace

int RunPlot(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Draws the chart of a data file or a datalog report into a PNG picture, as the window's\n"
        "plot shows it, without a display. Prints the chart's summary (each series' first and last\n"
        "time, minimum, maximum and latest value) and the count of lines it skipped."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The data file or report to plot."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The PNG file to write (replaced in one step)."),
                                    QStringLiteral("OUT.png"));
    const QCommandLineOption size(QStringLiteral("size"),
                                  QStringLiteral("The picture's size in pixels, 200x150 to 8000x8000 (default 1000x600)."),
                                  QStringLiteral("WxH"), QStringLiteral("1000x600"));
    parser.addOptions({output, size, cli::ZoneOption()});
    if (const auto status = cli::Parse(parser, args, 1))
        return *status;
    const QString file = parser.positionalArguments().at(0);
    if (!parser.isSet(output) || parser.value(output).isEmpty())
        return cli::Fail(args, QStringLiteral("-o OUT.png is required (see --help)"), cli::kExitUsage);
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^([0-9]{1,5})x([0-9]{1,5})$")).match(parser.value(size));
    if (!m.hasMatch() || m.captured(1).toInt() < 200 || m.captured(2).toInt() < 150 || m.captured(1).toInt() > 8000
        || m.captured(2).toInt() > 8000)
        return cli::Fail(args, QStringLiteral("--size must be WxH, 200x150 to 8000x8000"), cli::kExitUsage);
    for (const QString& path : {file, parser.value(output)})
        if (path.contains(QChar(0)))
            return cli::Fail(args, QStringLiteral("a path holds a zero byte"), cli::kExitUsage);
    QByteArray zone;
    if (const auto status = cli::TakeZone(parser, args, zone))
        return *status;

    const QString renderer = RendererPath();
    if (!QFileInfo(renderer).isExecutable())
        return cli::Fail(args, QStringLiteral("the chart renderer %1 is missing").arg(renderer), cli::kExitFileError);
    // The paths go on as the bytes that were typed.
    std::vector<std::string> argument = {QFile::encodeName(renderer).toStdString(), "--size",
                                         cli::Bytes(parser.value(size)), "-o", cli::Bytes(parser.value(output)), "--",
                                         cli::Bytes(file)};
    if (!zone.isEmpty())
        argument.insert(argument.begin() + 1, {"--zone", zone.toStdString()});
    std::vector<char*> argv;
    for (std::string& a : argument)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::fflush(stdout);
    std::fflush(stderr);
    ::execv(argv[0], argv.data());
    return cli::Fail(args, QStringLiteral("the chart renderer failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))),
                     cli::kExitFileError);
}
