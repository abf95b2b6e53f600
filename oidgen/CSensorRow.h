#pragma once
#include <string>

// One sensor the discovery scan found: the OID it contributes to the OID list and what the
// Generate OID dialog shows for it. Rows are owned by the scan (CSensorScan::m_rows); list
// items only point at them.
class CSensorRow {
public:
    // Image indexes of the row icons; the list's image list holds three pictures, so
    // kNoIcon selects none.
    static constexpr int kIconThermometer = 0;
    static constexpr int kIconCloud = 1;
    static constexpr int kIconArrows = 2;
    static constexpr int kNoIcon = 3;

    // "Port %d" with the port counted from 1, or "Port %d.%d" (array, entry) for a
    // sensor-array row (type 13 with an array number).
    std::string FormatPortLabel(bool bZeroBasedPorts) const;
    // "Online" or "Offline".
    std::string FormatStatusLabel() const;
    // The image for m_nType: 1 and 13 thermometer, 3 cloud, 8 arrows, anything else none.
    int IconIndex() const;
    // The sensor type's name ("temperature", "humidity", "4-20ma", ...); empty when the type is
    // not known (a sub-table row, or a failed type read). Sensor arrays are temperature probes.
    std::string TypeName() const;

    std::string m_strOid;          // value OID to collect; never read during the scan
    std::string m_strDescription;  // as the unit returned it; empty when that read failed
    int m_nPort = 0;               // index put in place of $[PORT] (port or entry index)
    int m_nArray = 0;              // array 1 to 8 of a sensor-array row, else 0
    int m_nType = 0;               // 1 table 16, the unit's type for table 17 (0 when that
                                   // read failed), 13 sensor array, 0 sub-table family
    bool m_bOnline = true;
};
