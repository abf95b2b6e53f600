#pragma once
#include "oidgen/ScanResult.h"

#include <string>

namespace cli {

// The discovery scan of the Generate OID dialog, run on the calling thread. Its message boxes
// become lines on standard error, after messagePrefix, as they come.
ScanResult ScanUnitAt(const std::string& address, const std::string& community, const std::string& messagePrefix);

} // namespace cli
