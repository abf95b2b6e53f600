// veltrane-cli download: the window's Download (the same driver, client and report files),
// with its status lines on standard output, its messages on standard error and a progress bar
// on a terminal.
#include "cli/CliSupport.h"
#include "cli/SecretOption.h"
#include "cli/SignalWatcher.h"
#include "download/CDatalogReport.h"
#include "download/CDownloadDriver.h"
#include "download/IDownloadEvents.h"
#include "download/getdata.h"
#include "plot/OpenMetricsExport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The download's front end on a terminal: status lines on standard output, messages on
// standard error, a progress bar on a terminal. Events come from the download's thread; its end
// is handed to the main thread's event loop.
class CTerminalDownload : public IDownloadEvents {
public:
    explicit CTerminalDownload(std::string prefix)
        : m_strPrefix(std::move(prefix)), m_bProgressBar(::isatty(STDERR_FILENO) == 1)
    {
    }

    void AddStatusLine(const std::string& text, bool) override
    {
        ClearProgress();
        cli::PrintOut(cli::Printable(WithoutLineEnd(text)));
    }
    void Message(const std::string& text) override
    {
        ClearProgress();
        cli::PrintErr(m_strPrefix + cli::Printable(WithoutLineEnd(text)));
    }
    void Progress(int pairsDone, int pairCount, int records, int recordCount) override
    {
        if (!m_bProgressBar || pairCount <= 0)
            return;
        constexpr int kWidth = 32;
        const double part = recordCount > 0 ? static_cast<double>(records) / recordCount : 0.0;
        const int filled = static_cast<int>((pairsDone + part) * kWidth / pairCount);
        std::string bar(static_cast<std::size_t>(std::clamp(filled, 0, kWidth)), '#');
        bar.resize(kWidth, '-');
        std::fprintf(stderr, "\r[%s] %d/%d channels", bar.c_str(), pairsDone, pairCount);
        std::fflush(stderr);
        m_bProgressShown = true;
    }
    void ProgressEnded() override { ClearProgress(); }
    void ChannelDone(const ChannelOutcome& outcome) override
    {
        if (outcome.kind == ChannelOutcome::Kind::ReportWritten)
            m_written.emplace_back(outcome.port, outcome.channel);
    }
    void Finished(const DownloadResult& result) override
    {
        m_result = result; // read once the driver's thread has been joined
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    }

    DownloadResult m_result;
    std::vector<std::pair<int, int>> m_written; // port index, channel of each report written

private:
    static std::string WithoutLineEnd(std::string text)
    {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }
    void ClearProgress()
    {
        if (m_bProgressShown.exchange(false)) {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
        }
    }

    const std::string m_strPrefix;
    const bool m_bProgressBar;
    std::atomic<bool> m_bProgressShown {false};
};

// "port 2 channel 1, port 4 channel 0" (ports numbered from 1, as every message shows them).
QString PairList(const std::vector<std::pair<int, int>>& pairs)
{
    QStringList names;
    for (const auto& [port, channel] : pairs)
        names << QStringLiteral("port %1 channel %2").arg(port + 1).arg(channel);
    return names.join(QStringLiteral(", "));
}

// Success only when every port and channel got the unit's answer: a report, or its own "no
// datalog", "offline" or "no records". Of the other endings the lowest status wins, and the
// ones the status lines do not already make plain are said once more on standard error, so a
// log of a cron job shows why the status is not 0.
static_assert(CDownloadDriver::kHaltStatus == cli::kExitNoSocket, "the driver's halt is the CLI's status 255");

int ExitStatusOf(const QStringList& args, const DownloadResult& result)
{
    if (result.halted)
        return CDownloadDriver::kHaltStatus; // cli::kExitNoSocket
    if (result.stopped)
        return cli::kExitNoUnit; // "No system reply !", "Wrong password !" or the firmware line said why
    if (result.reportsFailed > 0)
        return cli::kExitFileError; // each file error has been shown
    if (result.cancelled)
        return cli::Fail(args,
                         QStringLiteral("interrupted before every channel was asked; the reports written are whole"),
                         cli::kExitInterrupted);
    if (!result.pairsFailed.empty())
        return cli::Fail(args,
                         QStringLiteral("no answer from the unit for %1 of %2 channels (%3): no report for them")
                             .arg(result.pairsFailed.size())
                             .arg(result.pairsAsked)
                             .arg(PairList(result.pairsFailed)),
                         cli::kExitChannelsFailed);
    return cli::kExitDone;
}

} // namespace

int RunDownload(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Downloads the datalogs of every sensor channel of the unit at ADDRESS (UDP port 811) into\n"
        "one report file per channel in FOLDER, exactly as the window's Download does. Status lines\n"
        "go to standard output, messages to standard error, and a progress bar to a terminal.\n"
        "Reports are appended to existing files unless --overwrite is given; --overwrite replaces\n"
        "each report by a new file under its name (see the man page). SIGINT or SIGTERM end the\n"
        "download between channels; a report is written whole or not at all.\n"
        "\n"
        "The exit status is 0 only when every port and channel answered: with a report, or with the\n"
        "unit's own \"no datalog\", \"offline\" or \"no records\". An interrupted download ends with 4,\n"
        "one in which some channels got no answer (no report for them) with 5."));
    const cli::SecretOption password = cli::SecretOption::Password();
    const QCommandLineOption folder({QStringLiteral("f"), QStringLiteral("folder")},
                                    QStringLiteral("The folder of the reports (it must exist)."), QStringLiteral("DIR"));
    const QCommandLineOption localZone(QStringLiteral("local-zone"),
                                       QStringLiteral("Times in the unit's own time zone instead of UTC."));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"),
                                       QStringLiteral("Replaces existing reports instead of appending to them."));
    const QCommandLineOption openMetrics(QStringLiteral("openmetrics"),
                                         QStringLiteral("Also writes the reports of this download as one OpenMetrics file (see\n"
                                                        "export --format openmetrics), for promtool tsdb create-blocks-from."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption unit(QStringLiteral("unit"),
                                  QStringLiteral("With --openmetrics: the unit label, as the exporter's configuration names\n"
                                                 "the unit (default: the unit's system name)."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption oneBased(QStringLiteral("one-based"),
                                      QStringLiteral("With --openmetrics: the unit numbers its ports from 1."));
    parser.addOptions(password.Options());
    parser.addOptions({folder, localZone, overwrite, openMetrics, unit, oneBased});
    QString address;
    if (const auto status = cli::ParseWithAddress(parser, args, address))
        return *status;
    std::string secret;
    if (const auto status = password.Take(parser, args, secret))
        return *status;
    const QString dir = parser.value(folder);
    if (dir.isEmpty())
        return cli::Fail(args, QStringLiteral("--folder is required (see --help)"), cli::kExitUsage);
    // The folder is never created; a missing one is said before the unit is asked anything.
    struct stat st {};
    if (::stat(cli::Bytes(dir).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return cli::Fail(args, QStringLiteral("the folder \"%1\" does not exist").arg(dir), cli::kExitFileError);

    DownloadSettings settings;
    settings.ipAddress = address.toStdString();
    settings.password = secret;
    settings.folder = cli::Bytes(dir);
    settings.overwrite = parser.isSet(overwrite);

    CTerminalDownload view(args.first().toStdString() + ": ");
    getdata client;
    CDatalogReport report;
    report.m_bLocalZone = parser.isSet(localZone);
    cli::SignalWatcher watcher;
    if (!watcher.Install())
        return cli::Fail(args, QStringLiteral("cannot watch for SIGINT and SIGTERM"), cli::kExitFileError);
    CDownloadDriver driver(client, report, view);
    QObject::connect(&watcher, &cli::SignalWatcher::Received, [&driver] { driver.Cancel(); });

    // On the driver's own thread, so that the main thread's loop sees a signal and cancels the
    // download while it waits for the unit; Finished ends the loop.
    driver.Start(std::move(settings));
    QCoreApplication::exec();
    driver.Wait();

    const int status = ExitStatusOf(args, view.m_result);
    if (!parser.isSet(openMetrics) || view.m_result.halted)
        return status;
    // The reports this download wrote, each with its channel: the OIDs follow from port and
    // channel. A report's file is named <address>_p<port>_<type>.txt.
    openmetrics::Options options;
    options.unit = cli::Bytes(parser.value(unit));
    options.oneBased = parser.isSet(oneBased);
    std::vector<QString> files;
    const QDir reports(dir);
    for (const auto& [port, channel] : view.m_written) {
        const QString prefix = QStringLiteral("%1_p%2_").arg(address).arg(port + 1);
        for (const QString& name : reports.entryList({prefix + QStringLiteral("*.txt")}, QDir::Files)) {
            const QString path = reports.filePath(name);
            if (std::find(files.begin(), files.end(), path) != files.end())
                continue;
            files.push_back(path);
            options.channels.emplace_back(path, channel);
        }
    }
    const int written = cli::WriteOpenMetrics(args, files, cli::Bytes(parser.value(openMetrics)), options);
    return status != cli::kExitDone ? status : written;
}
