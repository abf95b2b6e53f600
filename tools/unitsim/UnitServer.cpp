#include "tools/unitsim/UnitServer.h"

#include "tools/unitsim/RequestLog.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTimer>
#include <QUdpSocket>

namespace unitsim {

UnitServer::UnitServer(std::vector<LoadedUnit> units, RequestLog* log, QObject* parent)
    : QObject(parent), m_units(std::move(units)), m_pLog(log)
{
    m_clock.start();
}

UnitServer::~UnitServer() = default;

bool UnitServer::Bind(QString& error)
{
    for (auto& unit : m_units) {
        for (auto& protocol : unit.protocols) {
            auto* socket = new QUdpSocket(this);
            const QHostAddress address(unit.description.address);
            if (!socket->bind(address, protocol->Port())) {
                error = QString("cannot listen on %1 udp/%2 (%3): %4")
                            .arg(unit.description.address)
                            .arg(protocol->Port())
                            .arg(protocol->Name(), socket->errorString());
                return false;
            }
            m_endpoints.push_back(Endpoint{&unit, protocol.get(), socket});
            const Endpoint endpoint = m_endpoints.back();
            connect(socket, &QUdpSocket::readyRead, this, [this, endpoint] { OnReadable(endpoint); });
        }
    }
    return true;
}

QStringList UnitServer::Endpoints() const
{
    QStringList lines;
    for (const auto& e : m_endpoints)
        lines << QString("%1 %2 udp/%3").arg(e.unit->description.address, e.protocol->Name()).arg(e.protocol->Port());
    return lines;
}

void UnitServer::OnReadable(const Endpoint& endpoint)
{
    const UnitFaults& faults = endpoint.unit->description.faults;
    while (endpoint.socket->hasPendingDatagrams()) {
        const QNetworkDatagram request = endpoint.socket->receiveDatagram();
        if (!request.isValid())
            continue;
        const double seconds = m_clock.nsecsElapsed() / 1e9;
        ProtocolReply reply = endpoint.protocol->Handle(request.data(), seconds);
        if (m_pLog)
            m_pLog->Write(endpoint.unit->description.address, endpoint.protocol->Name(), reply.logText);

        if (faults.bSilent || (reply.datagrams.isEmpty() && reply.otherPortDatagrams.isEmpty()))
            continue;
        if (faults.dDropShare > 0 && QRandomGenerator::global()->generateDouble() < faults.dDropShare)
            continue;

        QUdpSocket* socket = endpoint.socket;
        const QHostAddress to = request.senderAddress();
        const quint16 port = static_cast<quint16>(request.senderPort());
        QUdpSocket* other = reply.otherPortDatagrams.isEmpty() ? nullptr : OtherPortSocket(endpoint);
        auto send = [socket, other, to, port, datagrams = reply.datagrams, others = reply.otherPortDatagrams] {
            for (const QByteArray& d : others)
                other->writeDatagram(d, to, port);
            for (const QByteArray& d : datagrams)
                socket->writeDatagram(d, to, port);
        };
        if (faults.nDelayMs + reply.delayMs > 0)
            QTimer::singleShot(faults.nDelayMs + reply.delayMs, socket, send);
        else
            send();
    }
}

QUdpSocket* UnitServer::OtherPortSocket(const Endpoint& endpoint)
{
    QUdpSocket*& other = m_otherPortSockets[endpoint.socket];
    if (!other) {
        other = new QUdpSocket(this);
        other->bind(QHostAddress(endpoint.unit->description.address), 0);
    }
    return other;
}

} // namespace unitsim
