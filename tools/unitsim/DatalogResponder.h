#pragma once
#include "tools/unitsim/DatalogDescription.h"
#include "tools/unitsim/IUnitProtocol.h"
#include "tools/unitsim/UnitDescription.h"

namespace unitsim {

// A unit's datalog side on UDP port 811: status requests (command 2, answered with 132 bytes)
// and datalog requests (command 3, answered with the records asked for), each request carrying
// the password, which is checked every time.
//
// Request, 24 bytes: command, port index, channel, first ring index (LE 16), count (LE 16),
// password (16 bytes), one spare byte.
// Status reply, 132 bytes: 4 (or an error byte), port index, sensor type, unit time (BE 32),
// newest record time (BE 32), write index (BE 16), record count (BE 16), width, interval,
// capacity (BE 16), instant high, instant low, average low, average high (LE 16 each),
// 16 spare bytes, description (36), system name (36), unit of measure (16), zone index.
// Datalog reply, count x width + 23 bytes: 1 (or an error byte), port index, channel, first
// ring index (LE 16), count (LE 16), 16 spare bytes, the samples little-endian.
//
// Written from those layouts alone; it shares no code with the program's client.
class DatalogResponder : public IUnitProtocol {
public:
    static constexpr quint16 kPort = 811;

    explicit DatalogResponder(DatalogUnit unit);

    QString Name() const override { return QStringLiteral("datalog"); }
    quint16 Port() const override { return kPort; }
    ProtocolReply Handle(const QByteArray& request, double secondsSinceStart) override;

    // The loader's view: the unit key "datalog"; a unit without it does not listen on 811.
    static ProtocolModule Module();

private:
    QByteArray StatusReply(int port, int channel) const;
    QByteArray DatalogReply(int port, int channel, int first, int count) const;
    QByteArray ErrorReply(int errorByte, int port, qsizetype length) const;
    const DatalogChannel* Find(int port, int channel, int& errorByte) const;
    void ApplyFaults(ProtocolReply& reply, QString& logText);

    DatalogUnit m_unit;
    int m_nFaultedRequests = 0;
};

} // namespace unitsim
