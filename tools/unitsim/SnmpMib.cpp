#include "tools/unitsim/SnmpMib.h"

#include "oidgen/OidTemplates.h"
#include "tools/unitsim/DescriptionError.h"

#include <QStringList>

#include <algorithm>
#include <set>

namespace unitsim {
namespace {

using Variable = SnmpMib::Variable;
using AsnType = SnmpMib::AsnType;

Variable Integer(int n)
{
    return Variable{AsnType::Integer, SimValue::Number(n)};
}

Variable Text(const QByteArray& text)
{
    return Variable{AsnType::OctetString, SimValue::Text(text)};
}

// A column of a row: absent from the object keeps the default, null removes the variable,
// a number or wave is an INTEGER and a text an OCTET STRING.
std::optional<Variable> Column(const JsonReader& row, const QString& key, const Variable& fallback)
{
    if (!row.Has(key))
        return fallback;
    if (row.IsNull(key))
        return std::nullopt;
    SimValue v = SimValue::FromJson(row.Object().value(key), row.KeyPath(key));
    return Variable{v.IsText() ? AsnType::OctetString : AsnType::Integer, v};
}

struct ColumnSpec {
    const char* key;
    std::string templ; // OID template with $[PORT] (and $[ARRAY])
    Variable fallback;
};

// One row of a table: every column at index (and array), defaults unless the row object
// (may be null: no row at all) says otherwise.
template <typename SetFn>
void AddRow(const std::optional<JsonReader>& row, const std::vector<ColumnSpec>& columns, int index, int array,
            SetFn set)
{
    for (const auto& column : columns) {
        std::optional<Variable> v = column.fallback;
        if (row)
            v = Column(*row, column.key, column.fallback);
        if (v)
            set(ExpandedOid(column.templ, index, array), *v);
    }
}

QStringList Keys(const std::vector<ColumnSpec>& columns, std::initializer_list<const char*> more)
{
    QStringList keys;
    for (const auto& c : columns)
        keys << c.key;
    for (const char* k : more)
        keys << k;
    return keys;
}

// Rows of a table whose default rows are indexes [first, first + count), overridden by the
// listed objects (each with "index"; null in place of a table object removes the row).
template <typename SetFn>
void AddTable(const JsonReader& owner, const QString& listKey, const std::vector<ColumnSpec>& columns, int first,
              int count, int array, bool listedMustBeInRange, SetFn set)
{
    std::map<int, std::optional<JsonReader>> rows;
    for (int i = first; i < first + count; ++i)
        rows.emplace(i, std::nullopt);
    if (owner.Has(listKey)) {
        const QJsonArray list = owner.Array(listKey);
        for (int k = 0; k < list.size(); ++k) {
            const JsonReader entry = owner.Element(listKey, list, k);
            entry.RejectUnknownKeys(Keys(columns, {"index"}));
            const int index = entry.Int("index", std::nullopt, 0, 1000000);
            if (listedMustBeInRange && (index < first || index >= first + count))
                entry.Fail("index", QString("%1 is outside the indexes %2 to %3 this unit numbers")
                                        .arg(index)
                                        .arg(first)
                                        .arg(first + count - 1));
            rows[index] = entry;
        }
    }
    for (const auto& [index, row] : rows)
        AddRow(row, columns, index, array, set);
}

} // namespace

std::optional<SnmpMib::Oid> SnmpMib::ParseOid(const QString& dotted)
{
    QString text = dotted.trimmed();
    if (text.startsWith('.'))
        text.remove(0, 1);
    if (text.isEmpty())
        return std::nullopt;
    Oid name;
    for (const QString& part : text.split('.')) {
        bool ok = false;
        const qulonglong n = part.toULongLong(&ok, 10);
        if (!ok || n > 0xFFFFFFFFull || part.startsWith('+') || part.startsWith('-'))
            return std::nullopt;
        name.push_back(static_cast<std::uint32_t>(n));
    }
    return name;
}

QString SnmpMib::FormatOid(const Oid& name)
{
    QString text;
    for (auto n : name)
        text += '.' + QString::number(n);
    return text;
}

void SnmpMib::Set(const std::string& dotted, Variable variable)
{
    m_variables.insert_or_assign(*ParseOid(QString::fromStdString(dotted)), std::move(variable));
}

SnmpMib SnmpMib::FromUnit(const UnitDescription& unit)
{
    SnmpMib mib;
    const JsonReader& json = unit.json;
    auto set = [&mib](const std::string& oid, const Variable& v) { mib.Set(oid, v); };

    // System group, so that a plain snmpwalk shows what the unit is.
    mib.Set(".1.3.6.1.2.1.1.1.0", Text("Veltrane virtual unit"));
    mib.Set(".1.3.6.1.2.1.1.3.0", Variable{AsnType::TimeTicks, SimValue::Number(0), true});
    mib.Set(".1.3.6.1.2.1.1.5.0", Text(unit.name.toUtf8()));

    const int portCount = json.Int("portCount", 8);
    if (portCount != 2 && portCount != 8)
        json.Fail("portCount", QString("must be 2 or 8, not %1").arg(portCount));
    std::optional<int> numbering;
    if (json.Has("numbering") && !json.IsNull("numbering"))
        numbering = json.Int("numbering");
    const int first = (numbering && *numbering != 0) ? 1 : 0;
    if (numbering)
        mib.Set(ExpandedOid(oidtpl::kNumberingBase), Integer(*numbering));

    // Ports: tables 16 and 17 at every port index; table 18 holds the table-17 sensor's type.
    const std::vector<ColumnSpec> table16 = {
        {"status", oidtpl::kTable16Status, Integer(0)},
        {"description", oidtpl::kTable16Description, Text("")},
        {"value", oidtpl::kTable16Value, Integer(0)},
    };
    const std::vector<ColumnSpec> table17 = {
        {"status", oidtpl::kTable17Status, Integer(0)},
        {"description", oidtpl::kTable17Description, Text("")},
        {"value", oidtpl::kTable17Value, Integer(0)},
        {"type", oidtpl::kTable17Type, Integer(0)},
    };
    std::map<int, JsonReader> ports;
    if (json.Has("ports")) {
        const QJsonArray list = json.Array("ports");
        for (int k = 0; k < list.size(); ++k) {
            const JsonReader port = json.Element("ports", list, k);
            port.RejectUnknownKeys({"index", "table16", "table17"});
            const int index = port.Int("index", std::nullopt, 0, 1000000);
            if (index < first || index >= first + portCount)
                port.Fail("index", QString("%1 is outside the ports %2 to %3 of this unit (portCount %4, numbering %5)")
                                       .arg(index)
                                       .arg(first)
                                       .arg(first + portCount - 1)
                                       .arg(portCount)
                                       .arg(first));
            ports.insert_or_assign(index, port);
        }
    }
    for (int p = first; p < first + portCount; ++p) {
        const auto it = ports.find(p);
        for (const auto& [key, columns] : {std::pair{"table16", &table16}, std::pair{"table17", &table17}}) {
            std::optional<JsonReader> row;
            if (it != ports.end() && it->second.Has(key)) {
                if (it->second.IsNull(key))
                    continue; // no row of this table at the port
                row = it->second.Child(key);
                row->RejectUnknownKeys(Keys(*columns, {}));
            }
            AddRow(row, *columns, p, -1, set);
        }
    }

    // Sub-table families.
    if (json.Has("families")) {
        const JsonReader families = json.Child("families");
        for (const QString& key : families.Object().keys()) {
            bool ok = false;
            const int family = key.toInt(&ok);
            if (!ok || std::find(std::begin(oidtpl::kSubTableFamilies), std::end(oidtpl::kSubTableFamilies),
                                 family) == std::end(oidtpl::kSubTableFamilies))
                families.Fail(key, "is not a family (families are \"30\", \"26\", \"27\", \"28\" and \"32\")");
            const JsonReader f = families.Child(key);
            f.RejectUnknownKeys({"count", "entries"});
            const oidtpl::SubTableTemplates t = oidtpl::SubTable(family);
            const int listed = f.Has("entries") ? static_cast<int>(f.Array("entries").size()) : 0;
            const int count = f.Int("count", listed);
            mib.Set(ExpandedOid(t.count), Integer(count));
            const std::vector<ColumnSpec> columns = {
                {"status", t.status, Integer(0)},
                {"description", t.description, Text("")},
                {"value", t.value, Integer(0)},
            };
            AddTable(f, "entries", columns, first, std::max(count, 0), -1, false, set);
        }
    }

    // Sensor arrays (family 33).
    if (json.Has("arrays")) {
        const QJsonArray list = json.Array("arrays");
        std::set<int> seen;
        for (int k = 0; k < list.size(); ++k) {
            const JsonReader a = json.Element("arrays", list, k);
            a.RejectUnknownKeys({"array", "entryCount", "probe", "entries"});
            const int array = a.Int("array", std::nullopt, 1, 8);
            if (!seen.insert(array).second)
                a.Fail("array", QString("array %1 is described twice").arg(array));
            const int entryCount = a.Int("entryCount", 8, 0, 64);
            if (!a.IsNull("probe"))
                mib.Set(ExpandedOid(oidtpl::kArrayProbe, -1, array),
                        *Column(a, "probe", Integer(entryCount)));
            const std::vector<ColumnSpec> columns = {
                {"status", oidtpl::kArrayStatus, Integer(0)},
                {"description", oidtpl::kArrayDescription, Text("")},
                {"value", oidtpl::kArrayValue, Integer(0)},
            };
            AddTable(a, "entries", columns, first, entryCount, array, false, set);
        }
    }

    // Faults of the SNMP agent.
    const JsonReader& faults = unit.faultsJson;
    mib.m_wrongCommunity = faults.Choice("wrongCommunity", {"noAccess", "silence"}, "noAccess") == "silence"
                               ? WrongCommunity::Silence
                               : WrongCommunity::NoAccess;
    if (faults.Has("errors")) {
        const QJsonArray list = faults.Array("errors");
        for (int k = 0; k < list.size(); ++k) {
            const JsonReader e = faults.Element("errors", list, k);
            e.RejectUnknownKeys({"oid", "status"});
            const QString relative = e.String("oid");
            const auto name = ParseOid(QString::fromStdString(oidtpl::OemPrefix()) + "." +
                                       (relative.startsWith('.') ? relative.mid(1) : relative));
            if (!name)
                e.Fail("oid", QString("\"%1\" is not a dotted OID below the vendor prefix").arg(relative));
            mib.m_errors[*name] = e.Int("status", std::nullopt, 1, 18);
        }
    }
    return mib;
}

const SnmpMib::Variable* SnmpMib::Find(const Oid& name) const
{
    const auto it = m_variables.find(name);
    return it == m_variables.end() ? nullptr : &it->second;
}

const std::pair<const SnmpMib::Oid, SnmpMib::Variable>* SnmpMib::Next(const Oid& name) const
{
    const auto it = m_variables.upper_bound(name);
    return it == m_variables.end() ? nullptr : &*it;
}

int SnmpMib::ErrorStatusFor(const Oid& name) const
{
    const auto it = m_errors.find(name);
    return it == m_errors.end() ? 0 : it->second;
}

} // namespace unitsim
