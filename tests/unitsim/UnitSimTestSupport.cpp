#include "UnitSimTestSupport.h"

#include "tools/unitsim/SnmpMib.h"

#include <QProcess>

ToolRun RunTool(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess process;
    process.start(program, args);
    ToolRun run;
    if (!process.waitForStarted(10000)) {
        run.err = program + " did not start: " + process.errorString();
        return run;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString Oem(const QString& rest)
{
    return unitsim::SnmpMib::FormatOid(unitsim::SnmpMib::OemPrefix()) + "." + rest;
}

QStringList SnmpArgs(const std::string& address, const QString& community, const QString& timeout)
{
    return {"-v1", "-c", community, "-On", "-t", timeout, "-r", "0", QString::fromStdString(address)};
}
