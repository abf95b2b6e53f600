#pragma once
#include <string_view>

// The header lines of a datalog report, written by CDatalogReport::FormatReport and read back by
// the plot reader (plotlines::ParseReportHeader), which knows a line by how it begins. A report:
//
//   Data download from system.
//   system address: 192.168.0.100
//   System name : <the unit's name>
//   Sensor port : 3
//   Sensor description : <the sensor's description>
//   Current system time GMT+01:00 : 08/12/2026 13:55:00
//   Average high value : 23.5 C          (and Average low, Instantaneous high and low)
//   Average value : 22.1 C
//   08/12/2026 13:45:00, 22.0            (the records, oldest first)
//
// Texts only: no Qt, no library, so both sides use it whatever they link.
namespace reportheader {

inline constexpr std::string_view kStart = "Data download from ";      // then "<who>."
inline constexpr std::string_view kAddress = " address: ";             // "<who> address: <address>"
inline constexpr std::string_view kSystemName = "System name : ";
inline constexpr std::string_view kPort = "Sensor port : ";            // ports from 1
inline constexpr std::string_view kDescription = "Sensor description : ";
inline constexpr std::string_view kCurrentTime = "Current ";           // "<who> time <zone> : <date time>"
inline constexpr std::string_view kAverageHigh = "Average high value : ";
inline constexpr std::string_view kAverageLow = "Average low value : ";
inline constexpr std::string_view kInstantHigh = "Instantaneous high value : ";
inline constexpr std::string_view kInstantLow = "Instantaneous low value : ";
inline constexpr std::string_view kAverage = "Average value : ";       // "%0.1f <unit>"
inline constexpr std::string_view kLabelEnd = " : ";                   // between a label and its value

} // namespace reportheader
