#include "CliProcess.h"

#include <gtest/gtest.h>

QStringList CliResult::OutLines() const
{
    return QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void StartCli(QProcess& process, const QStringList& args, const QProcessEnvironment& more)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("CREDENTIALS_DIRECTORY");
    for (const QString& name : more.keys())
        env.insert(name, more.value(name));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(VELTRANE_CLI), args);
}

CliResult Finished(QProcess& process)
{
    if (process.state() != QProcess::NotRunning) {
        ADD_FAILURE() << "veltrane-cli " << process.arguments().join(' ').toStdString() << " did not end";
        process.kill();
        process.waitForFinished();
    }
    CliResult result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

CliResult RunCli(const QStringList& args, int timeoutMs, const QProcessEnvironment& more)
{
    QProcess process;
    StartCli(process, args, more);
    process.waitForFinished(timeoutMs);
    return Finished(process);
}
