// veltrane-cli scan ADDRESS [-c COMMUNITY] [--oids]: the discovery scan of the Generate OID
// dialog, printed instead of listed.
#include "cli/CliSupport.h"
#include "cli/UnitScan.h"

#include <QCommandLineParser>

int RunScan(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Scans the unit at ADDRESS over SNMPv1 and prints one line per online sensor: port label,\n"
        "description and OID, separated by tabs (control characters in descriptions as \\t, \\n,\n"
        "\\xHH), then the status text. With --oids it prints only the OIDs that Generate OID would\n"
        "take, one per line, ready for 'collect --oids FILE'; the status text then goes to\n"
        "standard error."));
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("The unit's dotted IPv4 address."));
    const QCommandLineOption community = cli::CommunityOption();
    const QCommandLineOption oidsOnly(QStringLiteral("oids"), QStringLiteral("Prints only the OIDs."));
    parser.addOptions({community, oidsOnly});
    if (const auto status = cli::Parse(parser, args, 1))
        return *status;
    const QString address = parser.positionalArguments().at(0);
    if (!cli::IsIPv4Address(address))
        return cli::Fail(args, cli::NotAnAddress(address), cli::kExitUsage);

    const cli::ScanResult scan = cli::ScanUnitAt(address.toStdString(), cli::Bytes(parser.value(community)),
                                                 args.first().toStdString() + ": ");
    if (parser.isSet(oidsOnly)) {
        for (const std::string& oid : scan.Oids())
            cli::PrintOut(oid);
        cli::PrintErr(scan.status);
    } else {
        for (const auto& row : scan.rows)
            cli::PrintOut(row.label + '\t' + cli::Printable(row.description) + '\t' + row.oid);
        cli::PrintOut(scan.status);
    }
    return scan.answered ? cli::kExitDone : cli::kExitNoUnit;
}
