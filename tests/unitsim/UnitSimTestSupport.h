#pragma once
#include <QString>
#include <QStringList>

// Runs a command-line program (snmpget, snmpwalk, the simulator) to its end.
struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};
ToolRun RunTool(const QString& program, const QStringList& args, int timeoutMs = 30000);

// The OEM prefix of this build with the rest of an OID, e.g. Oem("1.2.2.1.16.1.5.2").
QString Oem(const QString& rest);

// snmpget/snmpwalk arguments for SNMPv1 with numeric OIDs, one try of the given time-out
// (seconds).
QStringList SnmpArgs(const std::string& address, const QString& community = "public", const QString& timeout = "1");

#include <ostream>
// Readable failure messages for texts and lists of texts.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
