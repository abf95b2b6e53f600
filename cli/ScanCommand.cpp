// veltrane-cli scan ADDRESS [-c COMMUNITY | --community-file FILE] [--oids]: the discovery scan of the Generate OID
// dialog, printed instead of listed.
#include "cli/CliSupport.h"
#include "cli/SecretOption.h"
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
    const cli::SecretOption community = cli::SecretOption::Community();
    const QCommandLineOption oidsOnly(QStringLiteral("oids"), QStringLiteral("Prints only the OIDs."));
    parser.addOptions(community.Options());
    parser.addOption(oidsOnly);
    QString address;
    if (const auto status = cli::ParseWithAddress(parser, args, address))
        return *status;
    std::string secret;
    if (const auto status = community.Take(parser, args, secret))
        return *status;

    const ScanResult scan = cli::ScanUnitAt(address.toStdString(), secret, args.first().toStdString() + ": ");
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
