#include "cli/CliSupport.h"

#include "plot/LineTimes.h"
#include "plot/OpenMetricsExport.h"

#include <QTimeZone>
#include <cstring>
#include "platform/CEscaped.h"
#include "platform/Ipv4Address.h"
#include "platform/TextBytes.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace cli {

QString ExitStatusHelp()
{
    return QStringLiteral("Exit status:\n"
                          "  0  done (download: every channel answered, with a report or the unit's\n"
                          "     own \"no datalog\", \"offline\" or \"no records\")\n"
                          "  1  bad usage: an option, argument or address was wrong\n"
                          "  2  the unit did not answer, or refused the community or password\n"
                          "     (download: also a unit whose firmware is too old)\n"
                          "  3  a file could not be read or written\n"
                          "  4  download: interrupted by SIGINT or SIGTERM before every channel was asked\n"
                          "  5  download: some channels got no answer from the unit (no report for them)\n"
                          "  255  download: no network socket could be made\n"
                          "Of 2 to 5, when several apply, the lowest is given.\n");
}

QString ProgramName()
{
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return name.isEmpty() ? QStringLiteral("veltrane-cli") : name;
}

void PrintHelp(const QCommandLineParser& parser, const QString& usageName)
{
    // The parser's usage line names the program as it was started (its whole path); users know
    // it by its name, and a subcommand's name belongs there too.
    QString text = parser.helpText();
    const QString started = QStringLiteral("Usage: ") + QCoreApplication::arguments().value(0);
    if (text.startsWith(started))
        text.replace(0, started.size(), QStringLiteral("Usage: ") + usageName);
    PrintOut((text + QLatin1Char('\n') + ExitStatusHelp()).toStdString());
}

int Fail(const QStringList& args, const QString& text, int status)
{
    const QString who = args.isEmpty() ? ProgramName() : args.first();
    PrintErr((who + QStringLiteral(": ") + text).toStdString());
    return status;
}

std::optional<int> Parse(QCommandLineParser& parser, const QStringList& args, int positionals)
{
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    parser.addOption(help);
    if (!parser.parse(args))
        return Fail(args, parser.errorText() + QStringLiteral(" (see --help)"), kExitUsage);
    if (parser.isSet(help)) {
        PrintHelp(parser, args.value(0, ProgramName()));
        return kExitDone;
    }
    const QStringList given = parser.positionalArguments();
    if (given.size() < positionals)
        return Fail(args, QStringLiteral("missing argument (see --help)"), kExitUsage);
    if (given.size() > positionals)
        return Fail(args, QStringLiteral("unexpected argument \"%1\" (see --help)").arg(given.at(positionals)),
                    kExitUsage);
    return std::nullopt;
}

std::optional<int> ParseWithAddress(QCommandLineParser& parser, const QStringList& args, QString& address)
{
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("The unit's dotted IPv4 address."));
    if (const auto status = Parse(parser, args, 1))
        return status;
    const QString given = parser.positionalArguments().at(0);
    const std::optional<std::string> canonical = platform::CanonicalIPv4Address(Bytes(given));
    if (!canonical)
        return Fail(args, NotAnAddress(given), kExitUsage);
    // The unit is asked at the address as read here, in its one spelling, whatever the network
    // code would make of the typed text.
    address = QString::fromStdString(*canonical);
    return std::nullopt;
}

QString NotAnAddress(const QString& text)
{
    return QStringLiteral("\"%1\" is not a dotted IPv4 address").arg(text);
}

QStringList ArgumentsFromBytes(int argc, const char* const* argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(platform::EscapedText(argv[i]));
    return arguments;
}

std::string Bytes(const QString& argument)
{
    return platform::EscapedBytes(argument);
}

std::string Printable(const std::string& bytes)
{
    std::string out;
    out.reserve(bytes.size());
    platform::AppendCEscaped(out, bytes);
    return out;
}

void PrintOut(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void PrintErr(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

QCommandLineOption ZoneOption()
{
    return QCommandLineOption(QStringLiteral("zone"),
                              QStringLiteral("The time zone (IANA name, e.g. Europe/Berlin) of data-file lines whose\n"
                                             "column sidecar names none (older files); default: this machine's."),
                              QStringLiteral("ZONE"));
}

std::optional<int> TakeZone(const QCommandLineParser& parser, const QStringList& args, QByteArray& zone)
{
    zone = parser.value(ZoneOption()).toUtf8();
    if (!zone.isEmpty() && !QTimeZone::isTimeZoneIdAvailable(zone))
        return Fail(args, QStringLiteral("--zone: no time zone named \"%1\"").arg(parser.value(ZoneOption())), kExitUsage);
    return std::nullopt;
}

int WriteOpenMetrics(const QStringList& args, const std::vector<QString>& files, const std::string& out,
                     const openmetrics::Options& options)
{
    const openmetrics::Result result = openmetrics::Export(files, out, options);
    if (!result.problem.empty())
        return Fail(args, QString::fromStdString(Printable(result.problem)), kExitUsage);
    if (!result.ok)
        return Fail(args,
                    QStringLiteral("%1: %2").arg(QString::fromStdString(Printable(result.failedPath)),
                                                 QString::fromLocal8Bit(std::strerror(result.error))),
                    kExitFileError);
    std::string summary = Printable(out) + ": " + std::to_string(result.samples) + " samples of "
        + std::to_string(result.series) + " series";
    if (result.outOfOrder > 0)
        summary += "; " + std::to_string(result.outOfOrder) + " not after their series' last (repeated or set back) left out";
    if (result.notNumbers > 0)
        summary += "; " + std::to_string(result.notNumbers) + " values that are not numbers left out";
    if (result.unnamed > 0)
        summary += "; " + std::to_string(result.unnamed) + " values no column sidecar names left out";
    PrintOut(summary);
    if (const std::string note = AssumedZoneNote(QByteArray::fromStdString(result.assumedZone)); !note.empty())
        PrintOut(note);
    return kExitDone;
}

} // namespace cli
