#pragma once
#include "tools/unitsim/SimValue.h"
#include "tools/unitsim/UnitDescription.h"

#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace unitsim {

// The variables one unit's SNMP agent holds: the system group and the private MIB under the
// OEM prefix the program was built with, in OID order (so GETNEXT walks work), plus the OIDs
// the description wants answered with an error-status.
//
// Unit keys read here (see units/README-format in the tool's usage text):
//   "portCount": 2 or 8 (default 8)      "numbering": 0, 1 or absent (no ".1.2.2.1.101.0")
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
    enum class WrongCommunity { NoAccess, Silence };

    // Throws DescriptionError for a bad key.
    static SnmpMib FromUnit(const UnitDescription& unit);

    const Variable* Find(const Oid& name) const;
    // The first variable after name in OID order, or null at the end of the MIB.
    const std::pair<const Oid, Variable>* Next(const Oid& name) const;
    // The error-status the description gives name, or 0.
    int ErrorStatusFor(const Oid& name) const;
    WrongCommunity GetWrongCommunity() const { return m_wrongCommunity; }

    // ".1.3.6.1" <-> {1, 3, 6, 1}; nullopt for a text that is not a dotted OID.
    static std::optional<Oid> ParseOid(const QString& dotted);
    static QString FormatOid(const Oid& name);

    const std::map<Oid, Variable>& Variables() const { return m_variables; }

private:
    void Set(const std::string& dotted, Variable variable);

    std::map<Oid, Variable> m_variables;
    std::map<Oid, int> m_errors;
    WrongCommunity m_wrongCommunity = WrongCommunity::NoAccess;
};

} // namespace unitsim
