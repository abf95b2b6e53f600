// veltrane-cli: the dispatcher. The first argument names a subcommand (Subcommands.def), which
// parses the rest itself.
#include "cli/CliSupport.h"
#include "cli/Subcommands.h"
#include "snmp/CSnmpSession.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veltrane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELTRANE_VERSION));
    // Before any worker can start a session.
    CSnmpSession::InitLibrary();
    return cli::RunMain(cli::ArgumentsFromBytes(argc, argv));
}
