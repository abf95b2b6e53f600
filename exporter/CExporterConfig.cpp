#include "exporter/CExporterConfig.h"

#include "platform/Ipv4Address.h"
#include "platform/SmallFile.h"
#include "platform/TextBytes.h"
#include "snmp/CSnmpSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>

namespace {

struct Problem {
    QString text;
};

[[noreturn]] void Fail(const QString& key, const QString& problem)
{
    throw Problem{key + ": " + problem};
}

void RejectUnknownKeys(const QJsonObject& object, const QString& path, const QStringList& known)
{
    for (const QString& key : object.keys())
        if (!known.contains(key))
            Fail(path + key, "unknown key (known: " + known.join(", ") + ")");
}

int Int(const QJsonObject& object, const QString& path, const QString& key, int fallback, int min, int max)
{
    if (!object.contains(key))
        return fallback;
    const QJsonValue value = object.value(key);
    const double d = value.toDouble(std::nan(""));
    if (!value.isDouble() || d != std::floor(d) || d < min || d > max)
        Fail(path + key, QString("must be a whole number from %1 to %2").arg(min).arg(max));
    return static_cast<int>(d);
}

// A required text of 1 to maxBytes bytes; the text itself never goes into an error.
std::string Text(const QJsonObject& object, const QString& path, const QString& key, int maxBytes)
{
    if (!object.contains(key))
        Fail(path + key, "missing");
    if (!object.value(key).isString())
        Fail(path + key, "must be a text");
    const QByteArray bytes = object.value(key).toString().toUtf8();
    if (bytes.isEmpty() || bytes.size() > maxBytes)
        Fail(path + key, QString("must have 1 to %1 bytes").arg(maxBytes));
    return bytes.toStdString();
}

CExporterUnit ReadUnit(const QJsonObject& object, const QString& path, int timeout, int retries)
{
    RejectUnknownKeys(object, path, {"name", "address", "community", "sensors", "oids", "timeout", "retries"});
    CExporterUnit unit;
    unit.m_strName = Text(object, path, "name", 128);
    // Read as the window and veltrane-cli read an address ("010.0.0.5" is 10.0.0.5), and kept
    // in its canonical spelling: that is what is asked, labelled and compared for duplicates.
    const std::optional<std::string> address = platform::CanonicalIPv4Address(Text(object, path, "address", 64));
    if (!address)
        Fail(path + "address", "must be a dotted IPv4 address such as 192.0.2.10");
    unit.m_strAddress = *address;
    unit.m_strCommunity = Text(object, path, "community", 255);
    unit.m_nTimeout = Int(object, path, "timeout", timeout, 1, 60);
    unit.m_nRetries = Int(object, path, "retries", retries, 0, 10);

    const bool hasSensors = object.contains("sensors");
    const bool hasOids = object.contains("oids");
    if (hasSensors == hasOids)
        Fail(path + "sensors", "give either \"sensors\": \"all online\" or an \"oids\" list, not both");
    if (hasSensors) {
        if (object.value("sensors") != QJsonValue("all online"))
            Fail(path + "sensors", "the only choice is \"all online\"");
        unit.m_bAllOnline = true;
        return unit;
    }
    const QJsonValue oids = object.value("oids");
    if (!oids.isArray() || oids.toArray().isEmpty() || oids.toArray().size() > CExporterConfig::kMaxOids)
        Fail(path + "oids", QString("must be a list of 1 to %1 OIDs").arg(CExporterConfig::kMaxOids));
    const QJsonArray list = oids.toArray();
    for (int i = 0; i < list.size(); ++i) {
        const QString key = QString("%1oids[%2]").arg(path).arg(i);
        const std::string oid = list.at(i).toString().toStdString();
        if (!list.at(i).isString() || !CSnmpSession::IsValidOid(oid))
            Fail(key, "must be a numeric OID such as .1.3.6.1.4.1.32473.1.2.2.1.16.1.3.0");
        for (std::size_t j = 0; j < unit.m_oidList.size(); ++j)
            if (unit.m_oidList[j] == oid)
                Fail(key, QString("the same OID as oids[%1]").arg(j));
        unit.m_oidList.push_back(oid);
    }
    return unit;
}

// "192.0.2.0/24": a canonical-or-not dotted address and a prefix of 0 to 32 bits.
CIpv4Range ReadRange(const QJsonValue& value, const QString& key)
{
    const std::string text = value.toString().toStdString();
    const std::size_t slash = text.find('/');
    const auto fail = [&key] {
        Fail(key, "must be an IPv4 range such as 192.0.2.0/24");
    };
    if (!value.isString() || slash == std::string::npos || text.size() > 64)
        fail();
    const std::optional<std::string> address = platform::CanonicalIPv4Address(text.substr(0, slash));
    const std::string bits = text.substr(slash + 1);
    if (!address || bits.empty() || bits.size() > 2 || bits.find_first_not_of("0123456789") != std::string::npos)
        fail();
    CIpv4Range range;
    range.nPrefix = std::stoi(bits);
    if (range.nPrefix > 32)
        fail();
    const std::uint32_t mask = range.nPrefix == 0 ? 0 : ~std::uint32_t{0} << (32 - range.nPrefix);
    range.nNetwork = *CIpv4Range::Address(*address) & mask;
    return range;
}

// Auth names travel in URLs and log lines: plain ASCII without anything to escape.
bool IsAuthName(const QString& name)
{
    if (name.isEmpty() || name.size() > 64)
        return false;
    for (const QChar c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != '_' && c != '-' && c != '.')
            return false;
    return true;
}

} // namespace

bool CIpv4Range::Contains(std::uint32_t address) const
{
    const std::uint32_t mask = nPrefix == 0 ? 0 : ~std::uint32_t{0} << (32 - nPrefix);
    return (address & mask) == nNetwork;
}

std::optional<std::uint32_t> CIpv4Range::Address(const std::string& dotted)
{
    const std::optional<std::string> canonical = platform::CanonicalIPv4Address(dotted);
    if (!canonical)
        return std::nullopt;
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int field = 0; field < 4; ++field) {
        const std::size_t dot = canonical->find('.', at);
        address = address << 8 | static_cast<std::uint32_t>(std::stoi(canonical->substr(at, dot - at)));
        at = dot + 1;
    }
    return address;
}

const CIpv4Range* CExporterConfig::ProbeRangeOf(const std::string& address) const
{
    const std::optional<std::uint32_t> number = CIpv4Range::Address(address);
    if (!number)
        return nullptr;
    for (const CIpv4Range& range : m_probeTargets)
        if (range.Contains(*number))
            return &range;
    return nullptr;
}

bool CExporterConfig::Parse(const QByteArray& json, QString& error)
{
    m_units.clear();
    m_probeTargets.clear();
    m_auths.clear();
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QString("not valid JSON at byte %1: %2").arg(parseError.offset).arg(parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        error = "must be a JSON object with a \"units\" list";
        return false;
    }
    try {
        const QJsonObject top = document.object();
        RejectUnknownKeys(top, "", {"units", "timeout", "retries", "rescanMinutes", "probeTargets", "auths"});
        const int timeout = Int(top, "", "timeout", 2, 1, 60);
        const int retries = Int(top, "", "retries", 2, 0, 10);
        m_nRescanMinutes = Int(top, "", "rescanMinutes", 60, 0, 7 * 24 * 60);
        if (top.contains("probeTargets")) {
            const QJsonValue ranges = top.value("probeTargets");
            if (!ranges.isArray() || ranges.toArray().isEmpty() || ranges.toArray().size() > kMaxProbeRanges)
                Fail("probeTargets", QString("must be a list of 1 to %1 IPv4 ranges").arg(kMaxProbeRanges));
            const QJsonArray list = ranges.toArray();
            for (int i = 0; i < list.size(); ++i)
                m_probeTargets.push_back(ReadRange(list.at(i), QString("probeTargets[%1]").arg(i)));
        }
        if (top.contains("auths")) {
            const QJsonValue auths = top.value("auths");
            if (!auths.isObject() || auths.toObject().size() > kMaxAuths)
                Fail("auths", QString("must be an object of at most %1 named entries").arg(kMaxAuths));
            const QJsonObject entries = auths.toObject();
            for (const QString& name : entries.keys()) {
                if (!IsAuthName(name))
                    Fail("auths", "names are 1 to 64 letters, digits, '_', '-' or '.'");
                const QString path = "auths." + name + ".";
                if (!entries.value(name).isObject())
                    Fail(path.chopped(1), "must be an object");
                const QJsonObject entry = entries.value(name).toObject();
                RejectUnknownKeys(entry, path, {"community", "timeout", "retries"});
                CExporterAuth auth;
                auth.m_strCommunity = Text(entry, path, "community", 255);
                auth.m_nTimeout = Int(entry, path, "timeout", timeout, 1, 60);
                auth.m_nRetries = Int(entry, path, "retries", retries, 0, 10);
                m_auths.emplace(name.toStdString(), auth);
            }
        }
        // With ranges to probe, the units may all come from the probes.
        const int fewest = m_probeTargets.empty() ? 1 : 0;
        const QJsonValue units = fewest == 0 && !top.contains("units") ? QJsonValue(QJsonArray()) : top.value("units");
        if (!units.isArray() || units.toArray().size() < fewest || units.toArray().size() > kMaxUnits)
            Fail("units", QString("must be a list of %1 to %2 units").arg(fewest).arg(kMaxUnits));
        std::map<std::string, int> names;
        std::map<std::string, int> addresses;
        const QJsonArray list = units.toArray();
        for (int i = 0; i < list.size(); ++i) {
            const QString path = QString("units[%1].").arg(i);
            if (!list.at(i).isObject())
                Fail(path.chopped(1), "must be an object");
            m_units.push_back(ReadUnit(list.at(i).toObject(), path, timeout, retries));
            const CExporterUnit& unit = m_units.back();
            if (const auto [it, added] = names.emplace(unit.m_strName, i); !added)
                Fail(path + "name", QString("the same name as units[%1]").arg(it->second));
            if (const auto [it, added] = addresses.emplace(unit.m_strAddress, i); !added)
                Fail(path + "address", QString("the same address as units[%1]").arg(it->second));
        }
    } catch (const Problem& problem) {
        m_units.clear();
        m_probeTargets.clear();
        m_auths.clear();
        error = problem.text;
        return false;
    }
    return true;
}

bool CExporterConfig::Load(const QString& escapedPath, QString& error, QStringList& warnings)
{
    // The path as it was typed; shown readable.
    const std::string native = platform::EscapedBytes(escapedPath);
    const QString path = platform::TextFromBytes(native);
    const platform::RegularFile file = platform::ReadRegularFile(native, static_cast<std::size_t>(kMaxFileBytes));
    const struct stat& info = file.info;
    switch (file.failure) {
    case platform::FileFailure::None:
        break;
    case platform::FileFailure::ZeroByte:
        error = path + ": " + QString::fromLocal8Bit(std::strerror(EINVAL));
        return false;
    case platform::FileFailure::System:
        error = path + ": " + QString::fromLocal8Bit(std::strerror(file.error));
        return false;
    case platform::FileFailure::NotRegular:
        error = path + ": not a regular file";
        return false;
    case platform::FileFailure::TooLarge:
        error = path + QString(": larger than %1 bytes").arg(kMaxFileBytes);
        return false;
    }
    if (info.st_mode & (S_IROTH | S_IWOTH | S_IWGRP)) {
        error = path + ": readable or writable by other users (mode " + platform::ModeText(info.st_mode) +
                "), yet it holds SNMP communities; chmod 600 (or 640 for a group) " + path;
        return false;
    }
    const QByteArray bytes = QByteArray::fromStdString(file.bytes);
    // Group-readable is how a service reads a file that root keeps (root:veltrane 0640): fine
    // when the group is the process's own; any other group's members are told about.
    if ((info.st_mode & S_IRGRP) && info.st_gid != ::getegid())
        warnings << path + ": readable by its group (mode " + platform::ModeText(info.st_mode) +
                        "), which is not this process's group; every member can read the SNMP communities";
    if (!Parse(bytes, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}
