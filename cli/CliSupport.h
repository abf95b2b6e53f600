#pragma once
#include "cli/ExitStatus.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>
#include <string>

namespace openmetrics {
struct Options;
}

// What every subcommand of veltrane-cli shares: exit statuses (cli/ExitStatus.h), option
// parsing, the reading of addresses and output that is safe for a terminal.
namespace cli {

// The whole program: runs the subcommand that arguments (the program's own) name, or the
// program's --help and --version. Returns the exit status.
int RunMain(const QStringList& arguments);

// The text of --help's exit-status section.
QString ExitStatusHelp();

// "veltrane-cli" (or the executable's name).
QString ProgramName();

// Parses args (args[0] names the subcommand, e.g. "veltrane-cli scan") with parser, to which
// the subcommand has added its description, options and positional arguments; --help is added
// here. Exactly `positionals` positional arguments are accepted. Returns nothing when the
// subcommand should go on; else the status it ends with: kExitDone after printing --help,
// kExitUsage after a message that names the wrong option or argument.
std::optional<int> Parse(QCommandLineParser& parser, const QStringList& args, int positionals);

// Parse for the subcommands whose one argument is a unit's ADDRESS: adds that argument, parses,
// and refuses (kExitUsage, before anything is sent) a text that platform::CanonicalIPv4Address
// does not read as an address, the way the window's address control reads it: four decimal
// fields, leading zeros decimal. address receives it in its canonical spelling ("192.168.1.10"
// for "192.168.001.010"), which is what the unit is asked at.
std::optional<int> ParseWithAddress(QCommandLineParser& parser, const QStringList& args, QString& address);

// Prints the parser's help with usageName ("veltrane-cli scan") in its usage line, then the
// exit statuses.
void PrintHelp(const QCommandLineParser& parser, const QString& usageName);

// Prints "<program> <subcommand>: <text>" on standard error and returns status.
int Fail(const QStringList& args, const QString& text, int status);

// The error text for an address that ParseWithAddress refuses.
QString NotAnAddress(const QString& text);

// The program's arguments as texts from which Bytes gives back every byte (platform::EscapedText:
// Qt's own decoding would put U+FFFD in place of bytes that are not UTF-8).
QStringList ArgumentsFromBytes(int argc, const char* const* argv);

// An argument as the bytes that were typed (communities, passwords and folders go out
// unchanged).
std::string Bytes(const QString& argument);

// Bytes from a unit (descriptions, values) made safe for a terminal: control characters and
// the backslash as C escapes (\t, \n, \r, \\, \xHH); everything else unchanged.
std::string Printable(const std::string& bytes);

// --zone ZONE: the IANA time zone of data-file lines whose column sidecar names none.
QCommandLineOption ZoneOption();
// The zone given (empty: the machine's), or the status to end with when it names no zone.
std::optional<int> TakeZone(const QCommandLineParser& parser, const QStringList& args, QByteArray& zone);

// Writes files as OpenMetrics into out (plot/OpenMetricsExport.h) and prints what it wrote;
// the exit status (3 when a file could not be read or written, 1 when a label is missing).
int WriteOpenMetrics(const QStringList& args, const std::vector<QString>& files, const std::string& out,
                     const openmetrics::Options& options);

// Writes text and a line feed to standard output or error, flushed.
void PrintOut(const std::string& text);
void PrintErr(const std::string& text);

} // namespace cli
