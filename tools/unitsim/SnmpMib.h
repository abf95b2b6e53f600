#pragma once
#include "tools/unitsim/SimValue.h"
#include "tools/unitsim/UnitDescription.h"

#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace unitsim {

// The variables one unit's SNMP agent holds: the system group and the private MIB below
// .1.3.6.1.4.1.<enterprise number>, in OID order (so GETNEXT walks work), plus the OIDs the
// description wants answered with an error-status. The OIDs are the unit's own catalogue
// (SnmpMib.cpp), written apart from the program's templates so that a wrong template there
// shows up as a failed test instead of being mirrored here.
//
// Rows nobody described (the defaults of a counted table) are not stored: a table knows its
// index range and answers them on demand, so a family that claims 2,147,483,647 entries costs
// no more memory than one that claims 2.
//
// Unit keys read here (see the description help of veltrane-unitsim --help):
//   "portCount": 2 or 8 (default 8)      "numbering": any number, or absent (no ".1.2.2.1.101.0")
//   "ports": [{"index", "table16": {...} | null, "table17": {...} | null}]
//   "families": {"30": {"count", "entries": [{"index", "status", "description", "value"}]}, ...}
//   "arrays": [{"array", "entryCount", "probe", "entries": [...]}]
//   "faults": {"wrongCommunity": "noAccess" | "silence", "errors": [{"oid", "status"}]}
class SnmpMib {
public:
    using Oid = std::vector<std::uint32_t>;
    enum class AsnType { Integer, OctetString, TimeTicks };
    struct Variable {
        AsnType type;
        SimValue value;
        bool bUptime = false; // TimeTicks since the simulator started
    };
    using Binding = std::pair<Oid, Variable>;
    enum class WrongCommunity { NoAccess, Silence };

    // Throws DescriptionError for a bad key.
    static SnmpMib FromUnit(const UnitDescription& unit);

    std::optional<Variable> Find(const Oid& name) const;
    // The first variable after name in OID order, or nullopt at the end of the MIB.
    std::optional<Binding> Next(const Oid& name) const;
    // The error-status the description gives name, or 0.
    int ErrorStatusFor(const Oid& name) const;
    WrongCommunity GetWrongCommunity() const { return m_wrongCommunity; }

    // ".1.3.6.1" <-> {1, 3, 6, 1}; nullopt for a text that is not a dotted OID.
    static std::optional<Oid> ParseOid(const QString& dotted);
    static QString FormatOid(const Oid& name);
    // .1.3.6.1.4.1.<enterprise number>
    static const Oid& OemPrefix();

    // A table whose rows are entry.<column>.<index>. Indexes first to last (inclusive) that are
    // not listed have every column at its default; listed rows are ordinary variables.
    struct Table {
        Oid entry;
        std::vector<std::pair<std::uint32_t, Variable>> columns; // ascending column numbers
        std::int64_t first = 0;
        std::int64_t last = -1;
        std::set<std::int64_t> listed;
    };

private:
    void Set(const Oid& name, Variable variable);
    std::optional<Oid> NextInTable(const Table& table, const Oid& name) const;

    std::map<Oid, Variable> m_variables;
    std::vector<Table> m_tables;
    std::map<Oid, int> m_errors;
    WrongCommunity m_wrongCommunity = WrongCommunity::NoAccess;
};

} // namespace unitsim
