#pragma once
#include "exporter/CExporterConfig.h"
#include "exporter/CUnitReader.h"

#include <memory>
#include <string>
#include <vector>

// One sensor of a unit's list, with the labels its samples carry.
struct ExportedSensor {
    std::string strOid;
    std::string strPort;        // "Port 3", as the Generate OID dialog shows it
    std::string strDescription;
    std::string strType;        // the unit's type code; empty when no scan found the OID
};
using SensorList = std::vector<ExportedSensor>;

// What one read of a unit gave, with the list it was read with: what a page shows of the unit.
struct UnitReading {
    std::shared_ptr<const CExporterUnit> pUnit;
    std::shared_ptr<const SensorList> pSensors; // result.values has one text per sensor when answered
    bool bScanOk = false;                       // the unit's last discovery scan reached it
    CUnitReader::Result result;
};
