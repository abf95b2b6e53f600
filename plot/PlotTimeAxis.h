#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Ticks of a time axis at round times, in the unit of time that fits the span shown: seconds,
// minutes, hours, days, weeks, months or years. Times are the plot's wall-clock seconds (see
// CPlotPoint), so labels read exactly as the file's lines do.
namespace plottime {

struct Tick {
    std::int64_t t = 0;
    std::string label;
};

struct Axis {
    std::string unit;        // "seconds", "minutes", "hours", "days", "weeks", "months", "years"
    std::int64_t step = 0;   // seconds between ticks (months and years: their average length)
    std::vector<Tick> ticks; // within [from, to], ascending, labels unique
};

// At most maxTicks ticks (at least 2 are asked for) over [from, to]. Labels: "HH:MM:SS" for
// steps under a minute, "HH:MM" under a day, each with "MM/DD " in front where the date
// changes (and on the first tick); "YYYY/MM/DD" for days and weeks; "YYYY/MM" for months;
// "YYYY" for years.
Axis TimeAxis(std::int64_t from, std::int64_t to, int maxTicks);

} // namespace plottime
