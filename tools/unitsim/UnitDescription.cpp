#include "tools/unitsim/UnitDescription.h"

#include "tools/unitsim/DescriptionError.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonParseError>

#include <set>

namespace unitsim {
namespace {

const QStringList kCommonUnitKeys = {"address", "community", "name", "faults"};
const QStringList kCommonFaultKeys = {"silent", "delayMs", "dropShare"};

QString LineAndColumn(const QByteArray& text, int offset)
{
    int line = 1, column = 1;
    for (int i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return QString("line %1, column %2").arg(line).arg(column);
}

UnitDescription ReadCommon(const JsonReader& unit, const std::vector<ProtocolModule>& modules)
{
    QStringList unitKeys = kCommonUnitKeys;
    QStringList faultKeys = kCommonFaultKeys;
    for (const auto& module : modules) {
        unitKeys += module.unitKeys;
        faultKeys += module.faultKeys;
    }
    unit.RejectUnknownKeys(unitKeys);

    const QString address = unit.String("address");
    QHostAddress parsed;
    if (!parsed.setAddress(address) || parsed.protocol() != QAbstractSocket::IPv4Protocol ||
        address.count('.') != 3)
        unit.Fail("address", QString("\"%1\" is not a dotted IPv4 address").arg(address));

    JsonReader faults(QJsonObject(), unit.KeyPath("faults"));
    if (unit.Has("faults"))
        faults = unit.Child("faults");
    faults.RejectUnknownKeys(faultKeys);

    UnitDescription d{address,
                      unit.String("community", QString("public")).toUtf8(),
                      unit.String("name", QString()),
                      UnitFaults{faults.Bool("silent", false), faults.Int("delayMs", 0, 0, 600000),
                                 faults.Double("dropShare", 0.0, 0.0, 1.0)},
                      unit,
                      faults};
    return d;
}

} // namespace

std::vector<LoadedUnit> ParseDescription(const QByteArray& jsonText, const std::vector<ProtocolModule>& modules)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(jsonText, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw DescriptionError("(file)", QString("is not valid JSON: %1 at %2")
                                             .arg(parseError.errorString(), LineAndColumn(jsonText, parseError.offset)));
    if (!doc.isObject())
        throw DescriptionError("(file)", "must hold one object: {\"units\": [...]}");
    const JsonReader root(doc.object(), QString());
    root.RejectUnknownKeys({"units"});
    const QJsonArray list = root.Array("units");
    if (list.isEmpty())
        root.Fail("units", "must name at least one unit");

    std::vector<LoadedUnit> units;
    std::set<QString> addresses;
    for (int i = 0; i < list.size(); ++i) {
        const JsonReader unit = root.Element("units", list, i);
        LoadedUnit loaded{ReadCommon(unit, modules), {}};
        if (!addresses.insert(loaded.description.address).second)
            unit.Fail("address", QString("%1 is the address of an earlier unit already").arg(loaded.description.address));
        for (const auto& module : modules)
            if (auto protocol = module.create(loaded.description)) // null: the unit does not speak it
                loaded.protocols.push_back(std::move(protocol));
        units.push_back(std::move(loaded));
    }
    return units;
}

bool LoadDescriptionFile(const QString& path, const std::vector<ProtocolModule>& modules,
                         std::vector<LoadedUnit>& units, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QString("%1: cannot read the description: %2").arg(path, file.errorString());
        return false;
    }
    try {
        units = ParseDescription(file.readAll(), modules);
    } catch (const DescriptionError& e) {
        error = QString("%1: %2: %3").arg(path, e.Key(), e.Problem());
        return false;
    }
    return true;
}

} // namespace unitsim
