// veltrane-cli export FILE -o OUT.csv: a data file or a report as a spreadsheet (RFC 4180 CSV),
// its columns named from the data file's column sidecar; with --format openmetrics, data files
// and reports as history for Prometheus (plot/OpenMetricsExport.h).
#include "cli/CliSupport.h"
#include "plot/CsvExport.h"
#include "plot/LineTimes.h"
#include "plot/OpenMetricsExport.h"

#include <QCommandLineParser>

#include <cstring>

int RunExport(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a data file or a datalog report as CSV (RFC 4180) for a spreadsheet: a header row,\n"
        "then one row per line with its time in ISO 8601 (local time, as the file wrote it, with its\n"
        "UTC offset) and one\n"
        "column per sensor, named from the data file's column sidecar (data<ADDRESS>.columns);\n"
        "a cell is empty where that line's run did not read the sensor. The file is read as it\n"
        "streams by, in bounded memory; OUT is replaced in one step once it is whole."));
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The data file or report to export (openmetrics: one or more)."),
                                 QStringLiteral("FILE..."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The file to write (replaced in one step)."), QStringLiteral("OUT"));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("csv (the default), or openmetrics: OpenMetrics 1.0 with a time stamp on\n"
                                                   "every sample, the series veltrane-cli serve gives the same sensors, for\n"
                                                   "promtool tsdb create-blocks-from openmetrics."),
                                    QStringLiteral("FORMAT"), QStringLiteral("csv"));
    const QCommandLineOption unit(QStringLiteral("unit"),
                                  QStringLiteral("openmetrics: the unit label, as the exporter's configuration names the\n"
                                                 "unit (needed for data files; a report's default is its system name)."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("openmetrics: the address label of data files not named data<ADDRESS>.txt."),
                                     QStringLiteral("ADDRESS"));
    const QCommandLineOption oneBased(QStringLiteral("one-based"),
                                      QStringLiteral("openmetrics: the unit numbers its ports from 1 (reports' OIDs)."));
    parser.addOptions({output, format, unit, address, oneBased, cli::ZoneOption()});
    // openmetrics takes any number of files: count them before the strict parse.
    QCommandLineParser counting;
    counting.addOptions({output, format, unit, address, oneBased, cli::ZoneOption()});
    const bool many = counting.parse(args) && counting.value(format) == QLatin1String("openmetrics");
    if (const auto status = cli::Parse(parser, args, many ? std::max<int>(1, static_cast<int>(counting.positionalArguments().size())) : 1))
        return *status;
    if (parser.value(format) != QLatin1String("csv") && parser.value(format) != QLatin1String("openmetrics"))
        return cli::Fail(args, QStringLiteral("--format must be csv or openmetrics"), cli::kExitUsage);
    const QString file = parser.positionalArguments().at(0);
    if (!parser.isSet(output) || parser.value(output).isEmpty())
        return cli::Fail(args, QStringLiteral("-o OUT.csv is required (see --help)"), cli::kExitUsage);
    for (const QString& path : {file, parser.value(output)})
        if (path.contains(QChar(0)))
            return cli::Fail(args, QStringLiteral("a path holds a zero byte"), cli::kExitUsage);

    QByteArray zone;
    if (const auto status = cli::TakeZone(parser, args, zone))
        return *status;
    const std::string out = cli::Bytes(parser.value(output));
    if (many) {
        openmetrics::Options options;
        options.unit = cli::Bytes(parser.value(unit));
        options.address = cli::Bytes(parser.value(address));
        options.zone = zone;
        options.oneBased = parser.isSet(oneBased);
        std::vector<QString> files;
        for (const QString& f : parser.positionalArguments()) {
            if (f.contains(QChar(0)))
                return cli::Fail(args, QStringLiteral("a path holds a zero byte"), cli::kExitUsage);
            files.push_back(f);
        }
        return cli::WriteOpenMetrics(args, files, out, options);
    }
    const csvexport::Result result = csvexport::Export(file, out, nullptr, zone);
    if (!result.ok) {
        const std::string which = result.inputFailed ? cli::Bytes(file) : out;
        return cli::Fail(args,
                         QStringLiteral("%1: %2").arg(QString::fromStdString(cli::Printable(which)),
                                                      QString::fromLocal8Bit(std::strerror(result.error))),
                         cli::kExitFileError);
    }
    std::string summary = cli::Printable(out) + ": " + std::to_string(result.rows) + " rows, "
        + std::to_string(result.columns) + " value columns";
    if (result.skipped > 0)
        summary += "; " + std::to_string(result.skipped) + " lines of no known format left out";
    if (result.unnamedValues > 0)
        summary += "; " + std::to_string(result.unnamedValues) + " values without a column name (\"Column n\")";
    cli::PrintOut(summary);
    if (const std::string note = AssumedZoneNote(QByteArray::fromStdString(result.assumedZone)); !note.empty())
        cli::PrintOut(note);
    return cli::kExitDone;
}
