#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

namespace unitsim {

// What a protocol makes of one request datagram.
struct ProtocolReply {
    // One line for the request log naming the request (for SNMP: the PDU type and the OIDs).
    QString logText;
    // Datagrams to send back to the sender, in order; none means the unit stays silent.
    QList<QByteArray> datagrams;
    // Sent before those, from another source port of the unit's address.
    QList<QByteArray> otherPortDatagrams;
    // On top of the unit's own delay.
    int delayMs = 0;
};

// One protocol a unit speaks on one UDP port (SNMP on 161; the datalog protocol on 811 slots
// in beside it). The server owns the socket, the request log and the faults that every
// protocol shares (silence, delay, dropped requests); a protocol only turns bytes into bytes.
class IUnitProtocol {
public:
    virtual ~IUnitProtocol() = default;
    virtual QString Name() const = 0;
    virtual quint16 Port() const = 0;
    // secondsSinceStart drives the moving values.
    virtual ProtocolReply Handle(const QByteArray& request, double secondsSinceStart) = 0;
};

} // namespace unitsim
