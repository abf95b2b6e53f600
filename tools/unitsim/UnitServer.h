#pragma once
#include "tools/unitsim/UnitDescription.h"

#include <QElapsedTimer>
#include <QObject>

#include <map>
#include <vector>

class QUdpSocket;

namespace unitsim {

class RequestLog;

// Serves every protocol of every unit on its own address and port, and applies the faults
// that all protocols share: a silent unit, a delay, a share of dropped requests.
class UnitServer : public QObject {
    Q_OBJECT
public:
    UnitServer(std::vector<LoadedUnit> units, RequestLog* log, QObject* parent = nullptr);
    ~UnitServer() override;

    // Binds every socket. False with error naming the address and port that failed.
    bool Bind(QString& error);
    // One line per socket, "127.0.0.2 snmp udp/161", for the start-up report.
    QStringList Endpoints() const;

private:
    struct Endpoint {
        LoadedUnit* unit;
        IUnitProtocol* protocol;
        QUdpSocket* socket;
    };
    void OnReadable(const Endpoint& endpoint);
    // A second socket on the endpoint's address, for replies from another source port.
    QUdpSocket* OtherPortSocket(const Endpoint& endpoint);

    std::vector<LoadedUnit> m_units;
    std::vector<Endpoint> m_endpoints;
    std::map<QUdpSocket*, QUdpSocket*> m_otherPortSockets;
    RequestLog* m_pLog;
    QElapsedTimer m_clock;
};

} // namespace unitsim
