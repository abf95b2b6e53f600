#pragma once
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// Data files (with their column sidecars) and datalog reports as one OpenMetrics 1.0 file for
// `promtool tsdb create-blocks-from openmetrics`: the family veltrane_sensor_value of
// oidgen/SensorSeries.h with the labels `veltrane-cli serve` gives the same sensor, a time
// stamp (seconds) on every sample, the family's samples in time order, and "# EOF" at the end.
//
// Labels: unit from Options::unit, else a report's "System name"; address from the report, or
// from the data file's name (data<address>.txt), else Options::address. A data file's port,
// description and OID are its sidecar's, the type code the one the scan gives that OID (table 16:
// 1, sensor arrays: 13, sub-tables: 0, table 17: the code of the type's name). A report names
// port and description; its OID follows from the port and the channel as the unit ties them
// (TieChannel), the type from the file name the download gave it (<address>_p<n>_<type>.txt).
//
// Streams: each input is read once through one bounded buffer and the inputs are merged by
// time, so memory does not grow with them. A value that is not a number, a column no sidecar
// names, and a sample not after the last one written (a report appended again, a clock set
// back) are left out and counted. Written beside out, renamed over it once whole.
namespace openmetrics {

struct Options {
    std::string unit;    // the unit label; required for data files
    std::string address; // for data files whose name does not carry it
    QByteArray zone;     // zone of data-file lines whose sidecar names none (empty: the machine's)
    bool oneBased = false; // the unit numbers its ports from 1
    // For reports whose channel is known (a download): path -> channel 0 or 1.
    std::vector<std::pair<QString, int>> channels;
};

struct Result {
    bool ok = false;
    int error = 0;
    std::string failedPath; // the input or output the error is about
    std::string problem;    // a label the inputs cannot give (no unit, no address)
    std::int64_t samples = 0;
    std::int64_t series = 0;
    std::int64_t notNumbers = 0;
    std::int64_t unnamed = 0;  // data-file values no sidecar record names
    std::int64_t outOfOrder = 0; // samples not after the last written
    std::string assumedZone;
};

// The OID and port label of a datalog's port index (0-7) and channel: channel 0 is the port's
// table-16 sensor, channel 1 its table-17 sensor, at the unit's numbering.
struct TiedSensor {
    std::string port;
    std::string oid;
};
TiedSensor TieChannel(int portIndex, int channel, bool oneBased);
// The type code the scan gives the sensor of oid with the type named typeName.
std::string TypeCode(const std::string& oid, const std::string& typeName);

Result Export(const std::vector<QString>& inputs, const std::string& out, const Options& options);

} // namespace openmetrics
