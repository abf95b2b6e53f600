#pragma once
#include "tools/unitsim/IUnitProtocol.h"
#include "tools/unitsim/SnmpMib.h"
#include "tools/unitsim/UnitDescription.h"

namespace unitsim {

// A unit's SNMPv1 agent on UDP port 161: answers GET and GETNEXT from its MIB the way these
// units do (noSuchName with the failing binding's index; a wrong community answered with
// noAccess, or not at all). Messages are parsed and built with net-snmp's library.
class SnmpResponder : public IUnitProtocol {
public:
    static constexpr quint16 kPort = 161;

    SnmpResponder(QByteArray community, SnmpMib mib);

    QString Name() const override { return QStringLiteral("snmp"); }
    quint16 Port() const override { return kPort; }
    ProtocolReply Handle(const QByteArray& request, double secondsSinceStart) override;

    // The loader's view of this protocol: its keys and its factory.
    static ProtocolModule Module();

private:
    QByteArray m_community;
    SnmpMib m_mib;
};

} // namespace unitsim
