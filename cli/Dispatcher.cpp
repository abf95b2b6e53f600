#include "cli/CliSupport.h"
#include "cli/Subcommands.h"
#include "platform/MessageBox.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace cli {

int RunMain(const QStringList& arguments)
{
    QString description = QStringLiteral(
        "Collects data from networked environmental monitoring units without a window.\n\nCommands:\n");
    for (const CSubcommand& command : kSubcommands)
        description += QStringLiteral("  %1  %2\n").arg(QString::fromLatin1(command.name), -10).arg(
            QString::fromLatin1(command.summary));
    description += QStringLiteral("\n'%1 COMMAND --help' describes a command.").arg(ProgramName());

    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to run."),
                                 QStringLiteral("COMMAND [ARGUMENTS...]"));
    const QStringList noName {ProgramName()};
    if (!parser.parse(arguments))
        return Fail(noName, parser.errorText() + QStringLiteral(" (see --help)"), kExitUsage);
    if (parser.isSet(help)) {
        PrintHelp(parser, ProgramName());
        return kExitDone;
    }
    if (parser.isSet(version)) {
        PrintOut(QStringLiteral("%1 %2").arg(ProgramName(), QCoreApplication::applicationVersion()).toStdString());
        return kExitDone;
    }
    QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return Fail(noName, QStringLiteral("no command given (see --help)"), kExitUsage);
    const QString name = rest.takeFirst();
    for (const CSubcommand& command : kSubcommands) {
        if (name != QLatin1String(command.name))
            continue;
        const QString who = ProgramName() + QLatin1Char(' ') + name;
        // What the window shows in message boxes becomes a line on standard error.
        platform::SetMessageBoxPresenter([who](const QString&, const QString& text) {
            PrintErr((who + QStringLiteral(": ") + text).toStdString());
        });
        return command.run(QStringList {who} + rest);
    }
    return Fail(noName, QStringLiteral("unknown command \"%1\" (see --help)").arg(name), kExitUsage);
}

} // namespace cli
