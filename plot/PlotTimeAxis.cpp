#include "plot/PlotTimeAxis.h"

#include "plot/PlotLines.h"

#include <algorithm>

namespace plottime {

namespace {

constexpr std::int64_t kMinute = 60;
constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kMonth = 2629746; // average Gregorian month
constexpr std::int64_t kYear = 31556952;

struct Step {
    std::int64_t seconds; // for months and years, the count of them in months
    const char* unit;
    bool months;
};

// Steps from the finest; the first that keeps the count of ticks within bounds is taken.
constexpr Step kSteps[] = {
    {1, "seconds", false}, {2, "seconds", false}, {5, "seconds", false}, {10, "seconds", false},
    {15, "seconds", false}, {30, "seconds", false}, {kMinute, "minutes", false},
    {2 * kMinute, "minutes", false}, {5 * kMinute, "minutes", false}, {10 * kMinute, "minutes", false},
    {15 * kMinute, "minutes", false}, {30 * kMinute, "minutes", false}, {kHour, "hours", false},
    {2 * kHour, "hours", false}, {3 * kHour, "hours", false}, {6 * kHour, "hours", false},
    {12 * kHour, "hours", false}, {kDay, "days", false}, {2 * kDay, "days", false},
    {7 * kDay, "weeks", false}, {14 * kDay, "weeks", false}, {1, "months", true}, {2, "months", true},
    {3, "months", true}, {6, "months", true}, {12, "years", true}, {24, "years", true},
    {60, "years", true}, {120, "years", true}, {240, "years", true}, {600, "years", true},
    {1200, "years", true}, {2400, "years", true}, {6000, "years", true}, {12000, "years", true},
};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Year and month (1-12) of a time, from its formatted text.
void YearMonth(std::int64_t t, std::int64_t& year, int& month)
{
    const std::string text = plotlines::FormatWallClock(t);
    const std::size_t slash = text.find('/');
    year = std::stoll(text.substr(0, slash));
    month = std::stoi(text.substr(slash + 1, 2));
}

std::int64_t MonthStart(std::int64_t monthIndex) // months since year 0
{
    const std::int64_t year = FloorDiv(monthIndex, 12);
    const int month = static_cast<int>(monthIndex - year * 12) + 1;
    // Years beyond what a 4-digit field shows are still counted right.
    return plotlines::WallClockSeconds(static_cast<int>(year), month, 1, 0, 0, 0).value_or(0);
}

std::string Label(std::int64_t t, const Step& step, const std::string& previousDate)
{
    const std::string text = plotlines::FormatWallClock(t); // "YYYY/MM/DD HH:MM:SS"
    const std::size_t space = text.find(' ');
    const std::string date = text.substr(0, space);
    const std::string time = text.substr(space + 1);
    if (step.months)
        return step.seconds >= 12 ? date.substr(0, date.find('/')) : date.substr(0, date.rfind('/'));
    if (step.seconds >= kDay)
        return date;
    std::string label = step.seconds < kMinute ? time : time.substr(0, 5);
    if (date != previousDate)
        label = date.substr(date.find('/') + 1) + " " + label;
    return label;
}

std::string DateOf(std::int64_t t)
{
    const std::string text = plotlines::FormatWallClock(t);
    return text.substr(0, text.find(' '));
}

} // namespace

Axis TimeAxis(std::int64_t from, std::int64_t to, int maxTicks)
{
    maxTicks = std::max(2, maxTicks);
    if (to < from)
        std::swap(from, to);
    const std::int64_t span = std::max<std::int64_t>(to - from, 1);
    const Step* chosen = &kSteps[std::size(kSteps) - 1];
    for (const Step& s : kSteps) {
        const std::int64_t length = s.months ? s.seconds * kMonth : s.seconds;
        if (span / length + 1 <= maxTicks) {
            chosen = &s;
            break;
        }
    }
    Axis axis;
    axis.unit = chosen->unit;
    axis.step = chosen->months ? chosen->seconds * kMonth : chosen->seconds;
    std::string previousDate;
    auto add = [&](std::int64_t t) {
        axis.ticks.push_back({t, Label(t, *chosen, previousDate)});
        previousDate = DateOf(t);
    };
    if (chosen->months) {
        std::int64_t year;
        int month;
        YearMonth(from, year, month);
        std::int64_t index = year * 12 + (month - 1);
        index = FloorDiv(index + chosen->seconds - 1, chosen->seconds) * chosen->seconds;
        for (std::int64_t t = MonthStart(index); t <= to && axis.ticks.size() < static_cast<std::size_t>(maxTicks) + 1;
             index += chosen->seconds, t = MonthStart(index))
            if (t >= from)
                add(t);
    } else {
        // Weeks start on Mondays (1970-01-01 was a Thursday).
        const std::int64_t shift = chosen->seconds % (7 * kDay) == 0 ? 4 * kDay : 0;
        std::int64_t t = FloorDiv(from - shift + chosen->seconds - 1, chosen->seconds) * chosen->seconds + shift;
        for (; t <= to; t += chosen->seconds)
            add(t);
    }
    return axis;
}

void Clock::Add(std::int64_t instant, int offset)
{
    if (!m_steps.empty() && (m_steps.back().second == offset || instant < m_steps.back().first))
        return;
    if (m_steps.size() >= kMaxSteps)
        m_steps.pop_back(); // a file that changes zones this often keeps its latest
    m_steps.emplace_back(instant, offset);
}

std::int64_t Clock::Local(std::int64_t instant) const
{
    if (m_steps.empty())
        return instant;
    auto it = std::upper_bound(m_steps.begin(), m_steps.end(), instant,
                               [](std::int64_t t, const std::pair<std::int64_t, int>& s) { return t < s.first; });
    return instant + (it == m_steps.begin() ? it->second : std::prev(it)->second);
}

bool Clock::Instant(std::int64_t local, std::int64_t& instant) const
{
    if (m_steps.empty()) {
        instant = local;
        return true;
    }
    for (std::size_t i = 0; i < m_steps.size(); ++i) {
        const std::int64_t t = local - m_steps[i].second;
        if ((i == 0 || t >= m_steps[i].first) && (i + 1 == m_steps.size() || t < m_steps[i + 1].first)) {
            instant = t;
            return true;
        }
    }
    return false;
}

Axis TimeAxis(std::int64_t from, std::int64_t to, int maxTicks, const Clock& clock)
{
    const Axis local = TimeAxis(clock.Local(from), clock.Local(to), maxTicks);
    Axis axis {local.unit, local.step, {}};
    for (const Tick& tick : local.ticks) {
        std::int64_t at = 0;
        if (clock.Instant(tick.t, at) && at >= std::min(from, to) && at <= std::max(from, to)
            && (axis.ticks.empty() || at > axis.ticks.back().t))
            axis.ticks.push_back({at, tick.label});
    }
    return axis;
}

} // namespace plottime
