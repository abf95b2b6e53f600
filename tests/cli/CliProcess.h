#pragma once
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// veltrane-cli run as a process of its own. Run() waits for it to end; Start() leaves it
// running for the test to signal.
struct CliResult {
    int status = -1;
    QByteArray out;
    QByteArray err;
    QStringList OutLines() const;
};

CliResult RunCli(const QStringList& args, int timeoutMs = 60000);
