#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Ticks of a time axis at round times, in the unit of time that fits the span shown: seconds,
// minutes, hours, days, weeks, months or years. The plot's times are instants; a Clock reads
// them back as the local times the file wrote, so labels read exactly as the file's lines do.
namespace plottime {

// The offsets (seconds east of UTC) a file's lines had, from instant to instant: local time =
// instant + offset. Without steps every offset is 0 (the time as written is the instant).
class Clock {
public:
    static constexpr std::size_t kMaxSteps = 4096;
    // The offset from instant on; steps come in time order (an earlier one is not kept).
    void Add(std::int64_t instant, int offset);
    std::int64_t Local(std::int64_t instant) const;
    // The first instant that reads local; false for a local time the clock skipped.
    bool Instant(std::int64_t local, std::int64_t& instant) const;
    bool operator==(const Clock&) const = default;

private:
    std::vector<std::pair<std::int64_t, int>> m_steps;
};

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
// The same for instants from..to, ticks at round local times of clock.
Axis TimeAxis(std::int64_t from, std::int64_t to, int maxTicks, const Clock& clock);

} // namespace plottime
