// veltrane-cli export FILE -o OUT.csv: a data file or a report as a spreadsheet (RFC 4180 CSV),
// its columns named from the data file's column sidecar.
#include "cli/CliSupport.h"
#include "plot/CsvExport.h"
#include "plot/LineTimes.h"

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
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The data file or report to export."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The CSV file to write (replaced in one step)."),
                                    QStringLiteral("OUT.csv"));
    parser.addOption(output);
    parser.addOption(cli::ZoneOption());
    if (const auto status = cli::Parse(parser, args, 1))
        return *status;
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
