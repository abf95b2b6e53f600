#pragma once
#include "collect/DataFileFormat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The line formats the plot reads, one line at a time, without its line end ("\n", with or
// without a "\r" before it). Every field is checked: a line that does not match is rejected
// whole, never half read.
namespace plotlines {

// The files' wall-clock seconds, from the data file's format (collect/DataFileFormat.h).
using datafile::FormatWallClock;
using datafile::WallClockSeconds;

// A data file line: "YYYY/MM/DD,  HH:MM:SS,  v1,  v2…" (datafile::FormatLine). The blanks
// after each comma may be any number of blanks or tabs, but at least one: a comma inside a
// value ("1,5") does not cut it. values receives the value texts unchanged, empty ones included, so every value keeps
// its column.
bool ParseDataLine(std::string_view line, std::int64_t& t, std::vector<std::string_view>& values);

// A report's record line: "DD/MM/YYYY HH:MM:SS, v" (v whole or with one decimal).
bool ParseReportRecord(std::string_view line, std::int64_t& t, std::string_view& value);

// The report's header lines, each recognised by its start; what they carry for the plot.
enum class HeaderLine { None, Start, Description, Port, AverageValue, Other };
// Returns which header line this is; for Description, Port and AverageValue, text receives
// the description, the port number's text or the unit of measure.
HeaderLine ParseReportHeader(std::string_view line, std::string_view& text);

// A value text as a number: optional blanks around a decimal number (sign, digits, point,
// exponent) that is finite. Hex strings, words, "nan" and "inf" are not numbers.
std::optional<double> ParseNumber(std::string_view text);

} // namespace plotlines
