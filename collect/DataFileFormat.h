#pragma once
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The collection data file's format, in one place for everything that writes or reads it: the
// collector, the main window, the plot, the spreadsheet export and the command line.
//
// A data file is named "data" + the unit's address + ".txt". Each line is a time stamp, the
// value texts of one read and a line end:
//     2026/12/08,  11:43:54,  25,  53,  18\r\n
// The time is the local time of the machine as the line was taken, in whole seconds; nothing in
// the file says which zone that was. Free of Qt and of widgets.
namespace datafile {

inline constexpr std::string_view kNamePrefix = "data";
inline constexpr std::string_view kNameSuffix = ".txt";
// strftime's format of the time stamp that starts every line, separators included.
inline constexpr const char* kTimeStampFormat = "%Y/%m/%d,  %H:%M:%S,  ";
// Between two values, and at the end of a line.
inline constexpr std::string_view kSeparator = ",  ";
inline constexpr std::string_view kLineEnd = "\r\n";

// "data<address>.txt": the file name alone, bytes as the address is typed.
std::string FileName(std::string_view address);
// The time stamp of a line taken at t, in the machine's local time.
std::string FormatTimeStamp(std::time_t t);
// The time stamp for now.
std::string TimeStampNow();
// A whole line without its line end: the stamp, then the values joined by kSeparator. Values go
// unchanged, so one that holds the separator itself no longer splits as one value.
std::string FormatLine(std::string_view timeStamp, const std::vector<std::string>& values);
// True when text starts with a time stamp in the file's form (status lines and data lines tell
// themselves apart by it).
bool StartsWithTimeStamp(std::string_view text);

// Seconds from 1970-01-01 00:00:00 of a calendar date and time taken as they read (as if UTC);
// nothing for a date or time that does not exist (February 30, 24:00, second 60). The files'
// times are compared and plotted in these terms: as written, with no zone rule moving them.
std::optional<std::int64_t> WallClockSeconds(int year, int month, int day, int hour, int minute, int second);
// The inverse, formatted "YYYY/MM/DD HH:MM:SS".
std::string FormatWallClock(std::int64_t t);
// The same moment in ISO 8601 without a zone: "YYYY-MM-DDTHH:MM:SS".
std::string FormatIsoWallClock(std::int64_t t);
// The local time t as wall-clock seconds (what a line taken at t says).
std::int64_t LocalWallClock(std::time_t t);
// The machine's zone as its IANA name ("Europe/Berlin"): TZ when it names one, else the zone
// /etc/localtime links to; empty when neither says (TZ set to a rule such as "CET-1CEST").
std::string MachineZone();
// Seconds east of UTC of the machine's local time at t.
int LocalUtcOffset(std::time_t t);

} // namespace datafile
