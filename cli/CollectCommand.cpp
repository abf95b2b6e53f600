// veltrane-cli collect: a collection run as the window's Start makes it (the same collector,
// data file and lock), ended by SIGINT or SIGTERM instead of Stop.
#include "cli/CliSupport.h"
#include "cli/SecretOption.h"
#include "cli/SignalWatcher.h"
#include "cli/UnitScan.h"
#include "collect/CCollector.h"
#include "collect/ColumnsSidecar.h"
#include "collect/ICollectorEvents.h"
#include "platform/SmallFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <optional>

#include <string>
#include <vector>

namespace {

// An OID list file: at most this many bytes (a few thousand OIDs).
constexpr std::size_t kMaxOidFileSize = 1 << 20;

// A collection on a terminal: data lines on standard output (unless quiet), failed reads and
// writes on standard error. All events arrive on the main thread.
class CTerminalCollector : public ICollectorEvents {
public:
    CTerminalCollector(std::string prefix, bool quiet, int fileChoice)
        : m_strPrefix(std::move(prefix)), m_bQuiet(quiet), m_nFileChoice(fileChoice)
    {
    }

    void RunStarted(const RunStart& start) override
    {
        Status(start.message);
        if (!start.columnsNotSaved.isEmpty())
            Error(start.columnsNotSaved);
    }
    void LineWritten(const CollectedLine& line, bool) override { Data(line); }
    void WriteFailed(const CollectedLine& line, const QString& error, bool) override
    {
        Data(line);
        Error(error);
        m_bWriteFailed = true;
    }
    void LineAfterStop(const CollectedLine& line) override { Data(line); }
    void ReadFailed(const ReadFailure& failure) override { Error(failure.message); }
    void RunEnded(RunEnd why) override
    {
        m_end = why;
        if (why == RunEnd::Stopped)
            Status(QStringLiteral("Ready..."));
    }
    // No one to ask: the options decide, and without one the run does not start.
    int AskExistingFile(QString& fileName) override
    {
        m_strExistingFile = fileName;
        return m_nFileChoice;
    }

    QString m_strExistingFile; // the data file that existed, once asked
    std::optional<RunEnd> m_end;
    bool m_bWriteFailed = false;

private:
    void Data(const CollectedLine& line) const
    {
        if (!m_bQuiet)
            cli::PrintOut(cli::Printable(line.text.toStdString()));
    }
    void Error(const QString& text) const { cli::PrintErr(m_strPrefix + cli::Printable(text.toStdString())); }
    // What the window shows as its status text.
    void Status(const QString& text) const
    {
        if (!m_bQuiet)
            cli::PrintErr(m_strPrefix + text.toStdString());
    }

    const std::string m_strPrefix;
    const bool m_bQuiet;
    const int m_nFileChoice;
};

// Reads an OID list: one OID per line (dotted numbers, as scan --oids prints them); blank lines
// and lines starting with '#' are skipped. Only a regular file is read, without blocking.
bool ReadOidFile(const QString& path, std::vector<std::string>& oids, QString& error)
{
    const platform::RegularFile file = platform::ReadRegularFile(path.toLocal8Bit().toStdString(), kMaxOidFileSize);
    switch (file.failure) {
    case platform::FileFailure::None:
        break;
    case platform::FileFailure::NotRegular:
        error = QStringLiteral("the OID file \"%1\" is not a regular file").arg(path);
        return false;
    case platform::FileFailure::TooLarge:
        error = QStringLiteral("the OID file \"%1\" is larger than %2 bytes").arg(path).arg(kMaxOidFileSize);
        return false;
    case platform::FileFailure::ZeroByte:
    case platform::FileFailure::System:
        error = QStringLiteral("cannot read the OID file \"%1\": %2")
                    .arg(path, QString::fromLocal8Bit(strerror(file.failure == platform::FileFailure::System ? file.error : EINVAL)));
        return false;
    }
    const QByteArray bytes = QByteArray::fromStdString(file.bytes);

    static const QRegularExpression oid(QStringLiteral("^\\.?\\d+(\\.\\d+)*$"));
    int number = 0;
    for (const QByteArray& raw : bytes.split('\n')) {
        ++number;
        const QString line = QString::fromLatin1(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (!oid.match(line).hasMatch()) {
            error = QStringLiteral("%1:%2: not an OID: \"%3\"").arg(path).arg(number).arg(
                QString::fromStdString(cli::Printable(raw.toStdString())));
            return false;
        }
        oids.push_back(line.toStdString());
    }
    if (oids.empty()) {
        error = QStringLiteral("the OID file \"%1\" lists no OID").arg(path);
        return false;
    }
    return true;
}

} // namespace

int RunCollect(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads the OIDs from the unit at ADDRESS every PERIOD seconds and appends one line per read\n"
        "to data<ADDRESS>.txt in FOLDER, exactly as the window's Start does, until SIGINT or\n"
        "SIGTERM, which close the file cleanly. The lines also go to standard output; status texts\n"
        "and failed reads or writes are lines on standard error, and the run goes on. An existing\n"
        "data file needs --append or --overwrite; a file another program holds locked is refused."));
    const cli::SecretOption community = cli::SecretOption::Community();
    // No short form: -p is download's password.
    const QCommandLineOption period(QStringLiteral("period"),
                                    QStringLiteral("Seconds between reads, 1 to %1.").arg(CCollector::kMaxPeriod),
                                    QStringLiteral("N"));
    const QCommandLineOption folder({QStringLiteral("f"), QStringLiteral("folder")},
                                    QStringLiteral("The folder of the data file (it must exist)."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption oidFile({QStringLiteral("o"), QStringLiteral("oids")},
                                     QStringLiteral("The OIDs to read, one per line (as 'scan --oids' prints them)."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption allOnline(QStringLiteral("all-online"),
                                       QStringLiteral("Scans the unit first and reads every online sensor."));
    const QCommandLineOption append({QStringLiteral("a"), QStringLiteral("append")},
                                    QStringLiteral("Continues an existing data file (Save Continuously)."));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"), QStringLiteral("Replaces an existing data file."));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("Prints only failures (for services)."));
    parser.addOptions(community.Options());
    parser.addOptions({period, folder, oidFile, allOnline, append, overwrite, quiet});
    QString address;
    if (const auto status = cli::ParseWithAddress(parser, args, address))
        return *status;
    std::string secret;
    if (const auto status = community.Take(parser, args, secret))
        return *status;
    if (!parser.isSet(period))
        return cli::Fail(args, QStringLiteral("--period is required (see --help)"), cli::kExitUsage);
    bool numeric = false;
    const int seconds = parser.value(period).toInt(&numeric);
    if (!numeric || seconds < CCollector::kMinPeriod || seconds > CCollector::kMaxPeriod)
        return cli::Fail(args,
                         QStringLiteral("--period \"%1\" is not a number of seconds from %2 to %3")
                             .arg(parser.value(period))
                             .arg(CCollector::kMinPeriod)
                             .arg(CCollector::kMaxPeriod),
                         cli::kExitUsage);
    if (!parser.isSet(folder) || parser.value(folder).isEmpty())
        return cli::Fail(args, QStringLiteral("--folder is required (see --help)"), cli::kExitUsage);
    if (parser.isSet(oidFile) == parser.isSet(allOnline))
        return cli::Fail(args, QStringLiteral("give either --oids FILE or --all-online (see --help)"), cli::kExitUsage);
    if (parser.isSet(append) && parser.isSet(overwrite))
        return cli::Fail(args, QStringLiteral("--append and --overwrite exclude each other"), cli::kExitUsage);

    const std::string prefix = args.first().toStdString() + ": ";
    std::vector<std::string> oids;
    std::vector<datafile::Column> columns; // for the sidecar: with --oids, the OIDs alone
    if (parser.isSet(oidFile)) {
        QString error;
        if (!ReadOidFile(parser.value(oidFile), oids, error))
            return cli::Fail(args, error, cli::kExitUsage);
    } else {
        const ScanResult scan = cli::ScanUnitAt(address.toStdString(), secret, prefix);
        oids = scan.Oids();
        if (scan.ticked)
            for (const ScanResult::Row& row : scan.rows)
                columns.push_back({row.label, row.description, row.type, row.oid});
        if (!scan.answered || oids.empty())
            return cli::Fail(args, QString::fromStdString(scan.status), cli::kExitNoUnit);
        if (!parser.isSet(quiet))
            cli::PrintErr(prefix + scan.status);
    }

    const int choice = parser.isSet(append)      ? ICollectorEvents::kSaveContinuously
                       : parser.isSet(overwrite) ? ICollectorEvents::kOverwrite
                                                 : ICollectorEvents::kCancel;
    CTerminalCollector view(prefix, parser.isSet(quiet), choice);
    // Before the first read, so that a signal during it is not lost.
    cli::SignalWatcher watcher;
    if (!watcher.Install())
        return cli::Fail(args, QStringLiteral("cannot watch for SIGINT and SIGTERM"), cli::kExitFileError);
    CCollector collector(&view);
    collector.SetOidList(oids);
    collector.SetColumns(columns);
    collector.SetAgent(address);
    collector.SetCommunity(secret);
    collector.SetPeriod(seconds);
    collector.SetFolder(cli::Bytes(parser.value(folder)));
    collector.StartRun();
    if (!collector.IsRunActive()) {
        if (view.m_end == ICollectorEvents::RunEnd::Cancelled)
            return cli::Fail(args,
                             QStringLiteral("%1/%2 exists: add --append to continue it or --overwrite to replace it")
                                 .arg(parser.value(folder), view.m_strExistingFile),
                             cli::kExitUsage);
        return cli::kExitFileError; // the file error is already on standard error
    }

    QObject::connect(&watcher, &cli::SignalWatcher::Received, [&collector] {
        collector.StopRun();
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    return view.m_bWriteFailed ? cli::kExitFileError : cli::kExitDone;
}
