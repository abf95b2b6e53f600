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

} // namespace

bool CExporterConfig::Parse(const QByteArray& json, QString& error)
{
    m_units.clear();
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
        RejectUnknownKeys(top, "", {"units", "timeout", "retries", "rescanMinutes"});
        const int timeout = Int(top, "", "timeout", 2, 1, 60);
        const int retries = Int(top, "", "retries", 2, 0, 10);
        m_nRescanMinutes = Int(top, "", "rescanMinutes", 60, 0, 7 * 24 * 60);
        const QJsonValue units = top.value("units");
        if (!units.isArray() || units.toArray().isEmpty() || units.toArray().size() > kMaxUnits)
            Fail("units", QString("must be a list of 1 to %1 units").arg(kMaxUnits));
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
