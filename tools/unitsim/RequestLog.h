#pragma once
#include <QFile>
#include <QString>

namespace unitsim {

// One line per request a unit received, written at once (tests read the file while the
// simulator runs): "<unit address> <protocol> <request>", e.g.
//   127.0.0.2 snmp GET .1.3.6.1.4.1.32473.1.2.2.1.16.1.5.2
// Dropped and unanswered requests are logged too: the line records what arrived.
class RequestLog {
public:
    // Truncates or creates the file; false with error set when it cannot be written.
    bool Open(const QString& path, QString& error);
    bool IsOpen() const { return m_file.isOpen(); }
    void Write(const QString& address, const QString& protocol, const QString& text);

private:
    QFile m_file;
};

} // namespace unitsim
