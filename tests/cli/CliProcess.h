#pragma once
#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// veltrane-cli run as a process of its own, with this process's environment less
// $CREDENTIALS_DIRECTORY, plus more.
struct CliResult {
    int status = -1;
    QByteArray out;
    QByteArray err;
    QStringList OutLines() const;
};

// Waits for it to end.
CliResult RunCli(const QStringList& args, int timeoutMs = 60000, const QProcessEnvironment& more = {});
// Leaves it running for the test to watch or signal; Finished() collects it.
void StartCli(QProcess& process, const QStringList& args, const QProcessEnvironment& more = {});
CliResult Finished(QProcess& process);
