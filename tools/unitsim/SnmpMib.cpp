#include "tools/unitsim/SnmpMib.h"

#include "tools/unitsim/DescriptionError.h"

#include <QStringList>

#include <algorithm>
#include <map>

namespace unitsim {
namespace {

using Oid = SnmpMib::Oid;
using Variable = SnmpMib::Variable;
using AsnType = SnmpMib::AsnType;
using Table = SnmpMib::Table;

// The unit's private MIB, below the enterprise prefix, as the vendor catalogues it.
// Port tables: <table>.1.<column>.<port>; table 18 holds the type of the table-17 sensor.
const Oid kTable16Entry = {1, 2, 2, 1, 16, 1};
const Oid kTable17Entry = {1, 2, 2, 1, 17, 1};
const Oid kTable18Entry = {1, 2, 2, 1, 18, 1};
constexpr std::uint32_t kPortDescription = 1, kPortValue = 3, kPortStatus = 5, kPortType = 9;
// Numbering base: 0 = indexes from 0, anything else = from 1.
const Oid kNumberingBase = {1, 2, 2, 1, 101, 0};
// Sub-table families: 19.<family>.1.0 is the entry count, 19.<family>.2.1.<column>.<index> the
// entries. Sensor arrays: 19.33.<array>.1.0 is the presence probe, 19.33.<array>.2.1.<column>.<index>
// the entries.
constexpr std::uint32_t kFamilies[] = {30, 26, 27, 28, 32};
constexpr std::uint32_t kFamilyDescription = 2, kFamilyStatus = 5, kFamilyValue = 13;
constexpr std::uint32_t kArrayFamily = 33;
constexpr std::uint32_t kArrayDescription = 2, kArrayValue = 3, kArrayStatus = 5;

Oid Under(const Oid& base, std::initializer_list<std::uint32_t> rest)
{
    Oid name = SnmpMib::OemPrefix();
    name.insert(name.end(), base.begin(), base.end());
    name.insert(name.end(), rest);
    return name;
}

Oid FamilyOid(std::uint32_t family, std::initializer_list<std::uint32_t> rest)
{
    return Under({1, 2, 2, 1, 19, family}, rest);
}

Oid ArrayOid(std::uint32_t array, std::initializer_list<std::uint32_t> rest)
{
    return Under({1, 2, 2, 1, 19, kArrayFamily, array}, rest);
}

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

// The description's name of each column of a table, by column number.
using ColumnKeys = std::map<std::uint32_t, const char*>;

QStringList Keys(const ColumnKeys& keys, std::initializer_list<const char*> more)
{
    QStringList list;
    for (const auto& [column, k] : keys)
        list << k;
    for (const char* k : more)
        list << k;
    return list;
}

// A table with default rows at indexes [first, first + count): status 0, empty description, value 0.
Table NewTable(const Oid& entry, std::vector<std::pair<std::uint32_t, Variable>> columns, std::int64_t first,
               std::int64_t count)
{
    Table t;
    t.entry = entry;
    t.columns = std::move(columns);
    std::sort(t.columns.begin(), t.columns.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    t.first = first;
    t.last = first + std::max<std::int64_t>(count, 0) - 1;
    return t;
}

} // namespace

const Oid& SnmpMib::OemPrefix()
{
    static const Oid prefix = {1, 3, 6, 1, 4, 1, VELTRANE_ENTERPRISE_NUMBER};
    return prefix;
}

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


void SnmpMib::Set(const Oid& name, Variable variable)
{
    m_variables.insert_or_assign(name, std::move(variable));
}

SnmpMib SnmpMib::FromUnit(const UnitDescription& unit)
{
    SnmpMib mib;
    const JsonReader& json = unit.json;

    // System group, so that a plain snmpwalk shows what the unit is.
    mib.Set({1, 3, 6, 1, 2, 1, 1, 1, 0}, Text("Veltrane virtual unit"));
    mib.Set({1, 3, 6, 1, 2, 1, 1, 3, 0}, Variable{AsnType::TimeTicks, SimValue::Number(0), true});
    mib.Set({1, 3, 6, 1, 2, 1, 1, 5, 0}, Text(unit.name.toUtf8()));

    const int portCount = json.Int("portCount", 8);
    if (portCount != 2 && portCount != 8)
        json.Fail("portCount", QString("must be 2 or 8, not %1").arg(portCount));
    std::optional<int> numbering;
    if (json.Has("numbering") && !json.IsNull("numbering"))
        numbering = json.Int("numbering");
    const int first = (numbering && *numbering != 0) ? 1 : 0;
    if (numbering)
        mib.Set(Under(kNumberingBase, {}), Integer(*numbering));

    // Lists the described rows of table t (keys names its columns in t's column order) as
    // variables, each object with "index"; null in place of an object removes the row.
    auto listRow = [&mib](Table& t, const ColumnKeys& keys, std::int64_t index, const std::optional<JsonReader>& row) {
        t.listed.insert(index);
        if (!row)
            return;
        row->RejectUnknownKeys(Keys(keys, {"index"}));
        for (const auto& [column, fallback] : t.columns) {
            if (const auto v = Column(*row, keys.at(column), fallback)) {
                Oid name = t.entry;
                name.push_back(column);
                name.push_back(static_cast<std::uint32_t>(index));
                mib.Set(name, *v);
            }
        }
    };
    auto addTable = [&](Table t, const JsonReader& owner, const ColumnKeys& keys) {
        if (owner.Has("entries")) {
            const QJsonArray list = owner.Array("entries");
            for (int k = 0; k < list.size(); ++k) {
                const JsonReader entry = owner.Element("entries", list, k);
                listRow(t, keys, entry.Int("index", std::nullopt, 0, 1000000), entry);
            }
        }
        mib.m_tables.push_back(std::move(t));
    };

    // Ports: tables 16 and 17 at every port index; table 18 holds the table-17 sensor's type.
    const ColumnKeys portKeys = {{kPortDescription, "description"}, {kPortValue, "value"}, {kPortStatus, "status"}};
    const ColumnKeys typeKeys = {{kPortType, "type"}};
    Table table16 = NewTable(Under(kTable16Entry, {}),
                             {{kPortDescription, Text("")}, {kPortValue, Integer(0)}, {kPortStatus, Integer(0)}},
                             first, portCount);
    Table table17 = NewTable(Under(kTable17Entry, {}),
                             {{kPortDescription, Text("")}, {kPortValue, Integer(0)}, {kPortStatus, Integer(0)}},
                             first, portCount);
    Table table18 = NewTable(Under(kTable18Entry, {}), {{kPortType, Integer(0)}}, first, portCount);
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
            if (port.Has("table16"))
                listRow(table16, portKeys, index,
                        port.IsNull("table16") ? std::nullopt : std::optional(port.Child("table16")));
            if (port.Has("table17")) {
                std::optional<JsonReader> row;
                if (!port.IsNull("table17")) {
                    row = port.Child("table17");
                    row->RejectUnknownKeys({"status", "description", "value", "type"});
                }
                // The row's own keys are checked above; each table takes the columns it holds.
                const auto only = [&row](const QStringList& keys) -> std::optional<JsonReader> {
                    if (!row)
                        return std::nullopt;
                    QJsonObject part;
                    for (const QString& key : keys)
                        if (row->Has(key))
                            part.insert(key, row->Object().value(key));
                    return JsonReader(part, row->Path());
                };
                listRow(table17, portKeys, index, only({"status", "description", "value"}));
                listRow(table18, typeKeys, index, only({"type"}));
            }
        }
    }
    for (Table* t : {&table16, &table17, &table18})
        mib.m_tables.push_back(std::move(*t));

    // Sub-table families.
    const ColumnKeys familyKeys = {
        {kFamilyDescription, "description"}, {kFamilyStatus, "status"}, {kFamilyValue, "value"}};
    const ColumnKeys arrayKeys = {{kArrayDescription, "description"}, {kArrayStatus, "status"}, {kArrayValue, "value"}};
    if (json.Has("families")) {
        const JsonReader families = json.Child("families");
        for (const QString& key : families.Object().keys()) {
            bool ok = false;
            const std::uint32_t family = key.toUInt(&ok);
            if (!ok || std::find(std::begin(kFamilies), std::end(kFamilies), family) == std::end(kFamilies))
                families.Fail(key, "is not a family (families are \"30\", \"26\", \"27\", \"28\" and \"32\")");
            const JsonReader f = families.Child(key);
            f.RejectUnknownKeys({"count", "entries"});
            const int listed = f.Has("entries") ? static_cast<int>(f.Array("entries").size()) : 0;
            const int count = f.Int("count", listed);
            mib.Set(FamilyOid(family, {1, 0}), Integer(count));
            addTable(NewTable(FamilyOid(family, {2, 1}),
                              {{kFamilyDescription, Text("")}, {kFamilyStatus, Integer(0)}, {kFamilyValue, Integer(0)}},
                              first, count),
                     f, familyKeys);
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
            const auto number = static_cast<std::uint32_t>(array);
            if (!a.IsNull("probe"))
                mib.Set(ArrayOid(number, {1, 0}), *Column(a, "probe", Integer(entryCount)));
            addTable(NewTable(ArrayOid(number, {2, 1}),
                              {{kArrayDescription, Text("")}, {kArrayStatus, Integer(0)}, {kArrayValue, Integer(0)}},
                              first, entryCount),
                     a, arrayKeys);
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
            const auto name = ParseOid(FormatOid(OemPrefix()) + "." + (relative.startsWith('.') ? relative.mid(1) : relative));
            if (!name)
                e.Fail("oid", QString("\"%1\" is not a dotted OID below the vendor prefix").arg(relative));
            mib.m_errors[*name] = e.Int("status", std::nullopt, 1, 18);
        }
    }
    return mib;
}

std::optional<SnmpMib::Variable> SnmpMib::Find(const Oid& name) const
{
    if (const auto it = m_variables.find(name); it != m_variables.end())
        return it->second;
    for (const Table& t : m_tables) {
        const std::size_t n = t.entry.size();
        if (name.size() != n + 2 || !std::equal(t.entry.begin(), t.entry.end(), name.begin()))
            continue;
        const std::int64_t index = name[n + 1];
        if (index < t.first || index > t.last || t.listed.count(index))
            continue;
        for (const auto& [column, fallback] : t.columns)
            if (column == name[n])
                return fallback;
    }
    return std::nullopt;
}

// The first default row's OID of the table after name; the listed rows are variables already.
std::optional<SnmpMib::Oid> SnmpMib::NextInTable(const Table& t, const Oid& name) const
{
    const auto unlistedFrom = [&t](std::int64_t from) -> std::optional<std::int64_t> {
        for (std::int64_t i = std::max(from, t.first); i <= t.last; ++i)
            if (!t.listed.count(i))
                return i;
        return std::nullopt; // at most listed.size() + 1 steps
    };
    const std::size_t n = t.entry.size();
    const bool below = name.size() >= n && std::equal(t.entry.begin(), t.entry.end(), name.begin());
    if (!below && !std::lexicographical_compare(name.begin(), name.end(), t.entry.begin(), t.entry.end()))
        return std::nullopt; // name comes after the whole table
    for (const auto& column : t.columns) {
        std::int64_t from = t.first;
        if (below && name.size() > n) {
            if (column.first < name[n])
                continue;
            if (column.first == name[n] && name.size() > n + 1)
                from = std::int64_t(name[n + 1]) + 1; // entry.column.index and anything below it
        }
        if (const auto index = unlistedFrom(from)) {
            Oid next = t.entry;
            next.push_back(column.first);
            next.push_back(static_cast<std::uint32_t>(*index));
            return next;
        }
    }
    return std::nullopt;
}

std::optional<SnmpMib::Binding> SnmpMib::Next(const Oid& name) const
{
    std::optional<Binding> best;
    if (const auto it = m_variables.upper_bound(name); it != m_variables.end())
        best = *it;
    for (const Table& t : m_tables) {
        const auto next = NextInTable(t, name);
        if (next && (!best || *next < best->first))
            best = Binding{*next, *Find(*next)};
    }
    return best;
}

int SnmpMib::ErrorStatusFor(const Oid& name) const
{
    const auto it = m_errors.find(name);
    return it == m_errors.end() ? 0 : it->second;
}

} // namespace unitsim
