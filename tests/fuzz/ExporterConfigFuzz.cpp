// libFuzzer target for the exporter's configuration reader: any bytes as CONFIG, loaded, then
// replaced by other bytes and loaded again as SIGHUP's reload does. The input is both files:
// the bytes before its first zero byte, then the bytes after it (none: the same file again).
// Whatever the bytes, a load ends; what it accepts keeps the bounds; loading the same bytes
// twice gives the same units; no text said about a file holds a community.
#include "exporter/CExporterConfig.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr const char* kConfig = "exporter.json";

void WriteConfig(const char* data, std::size_t size)
{
    FILE* file = std::fopen(kConfig, "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0)
        std::abort();
    // Readable by its owner only, as the reader asks of a file with communities.
    if (::chmod(kConfig, 0600) != 0)
        std::abort();
}

void Check(bool ok, const CExporterConfig& config, const QString& error, const QStringList& warnings)
{
    if (!ok && error.isEmpty())
        std::abort(); // a refusal says why
    if (!ok)
        return;
    if (config.m_units.size() > static_cast<std::size_t>(CExporterConfig::kMaxUnits) || config.m_nRescanMinutes < 0)
        std::abort();
    for (const CExporterUnit& unit : config.m_units) {
        if (unit.m_oidList.size() > static_cast<std::size_t>(CExporterConfig::kMaxOids) || unit.m_nTimeout < 1
            || unit.m_nRetries < 0 || (unit.m_bAllOnline && !unit.m_oidList.empty())
            || (!unit.m_bAllOnline && unit.m_oidList.empty()))
            std::abort();
        // Only communities long enough not to be found by chance in the texts.
        if (unit.m_strCommunity.size() >= 12) {
            const QByteArray community = QByteArray::fromStdString(unit.m_strCommunity);
            for (const QString& warning : warnings)
                if (warning.toUtf8().contains(community))
                    std::abort();
        }
    }
}

bool Load(CExporterConfig& config, QString& error, QStringList& warnings)
{
    const bool ok = config.Load(QString::fromLatin1(kConfig), error, warnings);
    Check(ok, config, error, warnings);
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const char* data = reinterpret_cast<const char*>(bytes);
    const void* zero = size > 0 ? std::memchr(data, 0, size) : nullptr;
    const std::size_t first = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - data) : size;

    WriteConfig(data, first);
    CExporterConfig config;
    QString error;
    QStringList warnings;
    const bool ok = Load(config, error, warnings);
    // The same bytes read again: the same verdict and the same units.
    CExporterConfig again;
    QString againError;
    QStringList againWarnings;
    if (Load(again, againError, againWarnings) != ok || again.m_units != config.m_units || againError != error
        || again.m_nRescanMinutes != config.m_nRescanMinutes)
        std::abort();

    // The reload: the file replaced by the second part, read into a new configuration; the one
    // in use stays as it was whatever the new file holds.
    const std::vector<CExporterUnit> before = config.m_units;
    if (zero)
        WriteConfig(data + first + 1, size - first - 1);
    CExporterConfig reloaded;
    QString reloadError;
    QStringList reloadWarnings;
    Load(reloaded, reloadError, reloadWarnings);
    if (config.m_units != before)
        std::abort();
    return 0;
}
