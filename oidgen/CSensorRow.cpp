#include "oidgen/CSensorRow.h"

#include <cstdio>
#include <iterator>

std::string CSensorRow::FormatPortLabel(bool bZeroBasedPorts) const
{
    const int shown = bZeroBasedPorts ? m_nPort + 1 : m_nPort;
    char label[48];
    // Sensor-array rows (type 13 with their array number) show array and entry. A table-17
    // sensor may report type 13 too; it has no array, and "Port 0.n" would name no port.
    if (m_nType == 13 && m_nArray != 0)
        std::snprintf(label, sizeof label, "Port %d.%d", m_nArray, shown);
    else
        std::snprintf(label, sizeof label, "Port %d", shown);
    return label;
}

std::string CSensorRow::FormatStatusLabel() const
{
    return m_bOnline ? "Online" : "Offline";
}

int CSensorRow::IconIndex() const
{
    switch (m_nType) {
    case 1:
    case 13:
        return kIconThermometer;
    case 3:
        return kIconCloud;
    case 8:
        return kIconArrows;
    default:
        return kNoIcon;
    }
}

std::string CSensorRow::TypeName() const
{
    // The unit's type numbers, named as its datalog reports name them.
    static constexpr const char* kNames[] = {
        "",       "temperature", "4-20ma", "humidity", "water", "atod",    "security", "",       "airflow",
        "",       "airflow",     "",       "drycontact", "temperature", "voltage", "relay", "motion",
    };
    return m_nType >= 0 && m_nType < static_cast<int>(std::size(kNames)) ? kNames[m_nType] : "";
}
