#pragma once

// The series a sensor's values are under, live or from its history: `veltrane-cli serve`'s page
// and the OpenMetrics file of `veltrane-cli export --format openmetrics` name them alike, so a
// backfilled history and the live scrapes are one series in Prometheus. Texts only: no Qt, no
// library, so both sides use it whatever they link.
namespace sensorseries {

inline constexpr const char* kMetric = "veltrane_sensor_value";
inline constexpr const char* kHelp = "Sensor value as the unit reads it; values that are not numbers are left out.";

// The labels, in the order both write them.
inline constexpr const char* kUnit = "unit";           // the unit's name in the exporter's configuration
inline constexpr const char* kAddress = "address";     // its dotted IPv4 address
inline constexpr const char* kPort = "port";           // "Port 1", as the Generate OID dialog shows it
inline constexpr const char* kDescription = "description";
inline constexpr const char* kType = "type";           // the unit's sensor type code, decimal
inline constexpr const char* kOid = "oid";

} // namespace sensorseries
