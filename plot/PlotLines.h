#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The line formats the plot reads, one line at a time, without its line end ("\n", with or
// without a "\r" before it). Every field is checked: a line that does not match is rejected
// whole, never half read.
namespace plotlines {

// Seconds from 1970-01-01 00:00:00 of a calendar date and time taken as UTC; nothing for a
// date or time that does not exist (February 30, 24:00, second 60).
std::optional<std::int64_t> WallClockSeconds(int year, int month, int day, int hour, int minute, int second);
// The inverse, formatted "YYYY/MM/DD HH:MM:SS".
std::string FormatWallClock(std::int64_t t);

// A data file line: "YYYY/MM/DD,  HH:MM:SS,  v1,  v2…". The blanks after each comma may be
// any number of blanks or tabs, but at least one: a comma inside a value ("1,5") does not cut
// it. values receives the value texts unchanged, empty ones included, so every value keeps
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
