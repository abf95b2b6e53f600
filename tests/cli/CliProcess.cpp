#include "CliProcess.h"

#include <gtest/gtest.h>

QStringList CliResult::OutLines() const
{
    return QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

CliResult RunCli(const QStringList& args, int timeoutMs)
{
    QProcess process;
    process.start(QStringLiteral(VELTRANE_CLI), args);
    CliResult result;
    if (!process.waitForFinished(timeoutMs)) {
        ADD_FAILURE() << "veltrane-cli " << args.join(' ').toStdString() << " did not end";
        process.kill();
        process.waitForFinished();
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}
