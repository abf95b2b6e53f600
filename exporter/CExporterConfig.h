#pragma once
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// One unit the exporter reads.
struct CExporterUnit {
    std::string m_strName;
    std::string m_strAddress;             // dotted IPv4
    std::string m_strCommunity;           // bytes as written; never shown anywhere
    bool m_bAllOnline = false;            // every sensor the discovery scan finds online
    std::vector<std::string> m_oidList;   // else these OIDs, in this order
    int m_nTimeout = 2;                   // seconds to wait for an answer, at least 1
    int m_nRetries = 2;                   // resends of the same request

    bool operator==(const CExporterUnit&) const = default;
};

// How an address that no unit of the configuration has is read when a probe names it: the
// community, and the time-out and resends of its requests.
struct CExporterAuth {
    std::string m_strCommunity; // bytes as written; never shown anywhere
    int m_nTimeout = 2;
    int m_nRetries = 2;

    bool operator==(const CExporterAuth&) const = default;
};

// A range of IPv4 addresses written "192.0.2.0/24".
struct CIpv4Range {
    std::uint32_t nNetwork = 0; // host order, the bits past the prefix zero
    int nPrefix = 32;

    bool Contains(std::uint32_t address) const;
    bool operator==(const CIpv4Range&) const = default;
    // The address of a canonical dotted text, in host order.
    static std::optional<std::uint32_t> Address(const std::string& dotted);
};

// The exporter's configuration file, a JSON object:
//   {"timeout": 2, "retries": 2, "rescanMinutes": 60,
//    "units": [{"name": "Server room", "address": "192.0.2.10", "community": "public",
//               "sensors": "all online"},
//              {"name": "Lab", "address": "192.0.2.11", "community": "lab",
//               "oids": [".1.3.6.1.4.1.32473.1.2.2.1.16.1.3.0"], "timeout": 1, "retries": 0}]}
// "timeout" and "retries" apply to every unit unless the unit sets its own; "rescanMinutes" is
// how often the discovery scan runs again (0: only at start and on SIGHUP).
//
// A probe (GET /probe?target=...) reads one configured unit. Addresses no unit has can be probed
// only inside "probeTargets", and only with "&auth=NAME" of an entry of "auths", whose community
// is used (never one from the request):
//   "probeTargets": ["192.0.2.0/24"],
//   "auths": {"site": {"community": "public", "timeout": 1, "retries": 1}}
// With probeTargets, "units" may be empty or left out.
class CExporterConfig {
public:
    // Bounds that keep a hostile or mistaken file from driving unbounded work.
    static constexpr qint64 kMaxFileBytes = 16 << 20; // 10,000 units with their OIDs take a few MiB
    static constexpr int kMaxUnits = 16384;
    static constexpr int kMaxOids = 512;
    static constexpr int kMaxProbeRanges = 256;
    static constexpr int kMaxAuths = 256;

    // Reads and checks the file: a regular file, not writable or readable by every user (it
    // holds communities); readable by its group is accepted when that group is the process's
    // own (a service reading root:veltrane 0640) and gives a warning for any other group. False with error naming the
    // file and the key at fault. No error or warning ever contains a community. The path is
    // escaped text (platform::EscapedText), so that one that is not UTF-8 opens as typed.
    bool Load(const QString& path, QString& error, QStringList& warnings);
    // Checks a document; errors name the key ("units[2].address: ...").
    bool Parse(const QByteArray& json, QString& error);

    // The range that holds address (canonical dotted text), or null.
    const CIpv4Range* ProbeRangeOf(const std::string& address) const;

    std::vector<CExporterUnit> m_units;
    int m_nRescanMinutes = 60;
    std::vector<CIpv4Range> m_probeTargets;
    std::map<std::string, CExporterAuth> m_auths; // by name
};
