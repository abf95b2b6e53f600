#pragma once
#include "tools/unitsim/IUnitProtocol.h"
#include "tools/unitsim/JsonReader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace unitsim {

// Faults every protocol of a unit shares.
struct UnitFaults {
    bool bSilent = false;     // "silent": never answers
    int nDelayMs = 0;         // "delayMs": every answer leaves this late
    double dDropShare = 0;    // "dropShare": this share (0 to 1) of requests gets no answer
};

// The parts of a unit that do not belong to one protocol.
struct UnitDescription {
    QString address;       // "address": dotted IPv4 the unit listens on
    QByteArray community;  // "community": SNMP community, also the unit's password
    QString name;          // "name": shown on start-up only
    UnitFaults faults;     // "faults"
    JsonReader json;       // the whole unit object, for the protocols' own keys
    JsonReader faultsJson; // its "faults" object (empty when absent)
};

// A protocol as the loader knows it: the keys it reads and how to build it for one unit.
struct ProtocolModule {
    QString name;
    QStringList unitKeys;  // keys of a unit object that belong to this protocol
    QStringList faultKeys; // keys of its "faults" object that belong to this protocol
    // Builds the protocol for a unit; throws DescriptionError for a bad key of its own.
    std::function<std::unique_ptr<IUnitProtocol>(const UnitDescription&)> create;
};

struct LoadedUnit {
    UnitDescription description;
    std::vector<std::unique_ptr<IUnitProtocol>> protocols;
};

// Parses a whole description ({"units": [...]}); throws DescriptionError.
std::vector<LoadedUnit> ParseDescription(const QByteArray& jsonText, const std::vector<ProtocolModule>& modules);

// Reads and parses a description file. On failure returns false and sets error to one line
// that names the file, the key and what is wrong.
bool LoadDescriptionFile(const QString& path, const std::vector<ProtocolModule>& modules,
                         std::vector<LoadedUnit>& units, QString& error);

} // namespace unitsim
