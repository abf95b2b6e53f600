// Zone conversion against an independent oracle: the C library's localtime_r under a POSIX TZ
// string that states each row's rule, plus worked examples.
#include "UtcTime.h"
#include "download/ZoneTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace {

constexpr std::int64_t kHour = 3600;


std::string Clock(int minutes)
{
    const char* sign = minutes < 0 ? "-" : "";
    const int m = std::abs(minutes);
    return std::string(sign) + std::to_string(m / 60) + ":" + std::to_string(m % 60);
}

std::string Rule(const DstRule& r, int localMinutes)
{
    return "M" + std::to_string(r.month) + "." + std::to_string(r.week) + "." + std::to_string(r.weekday) + "/" +
           Clock(localMinutes);
}

// The POSIX TZ string of a row. Its offset is minutes west, like the table's. A rule's time is
// local time then in force: standard time for the start, daylight time for the end. Local-flag
// rules already state exactly that; UTC rules are moved into local time.
std::string PosixTz(const TimeZoneEntry& zone)
{
    std::string tz = "STD" + Clock(zone.offset);
    if (!zone.rules)
        return tz;
    const DstRulePair& p = *zone.rules;
    const bool local = p.start.localFlag == 1;
    tz += "DST," + Rule(p.start, p.start.minutes - (local ? 0 : zone.offset)) + "," +
          Rule(p.end, p.end.minutes - (local ? 0 : zone.offset - 60));
    return tz;
}

class TzScope {
public:
    explicit TzScope(const std::string& tz)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        setenv("TZ", tz.c_str(), 1);
        tzset();
    }
    ~TzScope()
    {
        if (m_old)
            setenv("TZ", m_old->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> m_old;
};

std::tm Oracle(std::int64_t t)
{
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm {};
    localtime_r(&tt, &tm);
    return tm;
}

// Empty when the fields agree, else a description of the difference.
std::string Compare(std::int64_t t, int z)
{
    const std::tm want = Oracle(t);
    const ZoneFields got = zone_localtime(t, z);
    if (got.day == want.tm_mday && got.month == want.tm_mon + 1 && got.year == want.tm_year + 1900 &&
        got.hour == want.tm_hour && got.minute == want.tm_min && got.second == want.tm_sec)
        return {};
    char text[160];
    std::snprintf(text, sizeof text, "t=%lld: got %02d/%02d/%lld %02d:%02d:%02d, want %02d/%02d/%d %02d:%02d:%02d",
                  static_cast<long long>(t), got.day, got.month, static_cast<long long>(got.year), got.hour,
                  got.minute, got.second, want.tm_mday, want.tm_mon + 1, want.tm_year + 1900, want.tm_hour,
                  want.tm_min, want.tm_sec);
    return text;
}

} // namespace

// Every row, every hour of 2000 to 2037, and one second either side of every transition that
// the oracle shows (found by bisection between the hours where its daylight flag changes).
TEST(ZoneTime, EveryRowAgreesWithPosixRulesEveryHourAndAroundEveryTransition)
{
    const std::int64_t from = Utc(2000, 1, 1, 0, 0, 0);
    const std::int64_t to = Utc(2038, 1, 1, 0, 0, 0);
    for (int z = 0; z < kZoneCount; ++z) {
        const TimeZoneEntry& zone = *zone_entry(z);
        const TzScope tz(PosixTz(zone));
        ZoneClock clock(z);
        int failures = 0;
        int transitions = 0;
        int lastDst = Oracle(from).tm_isdst;
        for (std::int64_t t = from; t < to && failures < 3; t += kHour) {
            std::string diff = Compare(t, z);
            // A clock kept across the whole walk (its cached year moves along) agrees too.
            const ZoneFields kept = clock(t), fresh = zone_localtime(t, z);
            if (diff.empty() && (kept.hour != fresh.hour || kept.day != fresh.day || kept.year != fresh.year))
                diff = "kept clock differs at t=" + std::to_string(t);
            const int dst = Oracle(t).tm_isdst;
            if (dst != lastDst) {
                ++transitions;
                std::int64_t lo = t - kHour, hi = t; // lo has the old flag, hi the new one
                while (hi - lo > 1) {
                    const std::int64_t mid = lo + (hi - lo) / 2;
                    (Oracle(mid).tm_isdst == lastDst ? lo : hi) = mid;
                }
                for (std::int64_t probe : {lo, hi, hi + 1})
                    if (diff.empty())
                        diff = Compare(probe, z);
                lastDst = dst;
            }
            if (!diff.empty()) {
                ++failures;
                ADD_FAILURE() << "row " << z << " (" << PosixTz(zone) << ") " << diff;
            }
        }
        // Rows with rules change twice a year; rows without never.
        EXPECT_EQ(transitions, zone.rules ? 2 * 38 : 0) << "row " << z;
    }
}

TEST(ZoneTime, WorkedExamples)
{
    struct Case {
        int zone;
        std::int64_t t;
        int day, month, year, hour, minute, second;
    };
    const std::int64_t s2009 = Utc(2009, 4, 5, 7, 0, 0);   // row 35's start
    const std::int64_t e2009 = Utc(2009, 10, 25, 6, 0, 0); // row 35's end
    const Case cases[] = {
        {35, Utc(2009, 7, 1, 12, 0, 0), 1, 7, 2009, 8, 0, 0},
        {35, Utc(2009, 1, 1, 12, 0, 0), 1, 1, 2009, 7, 0, 0},
        {35, s2009 - 1, 5, 4, 2009, 1, 59, 59},
        {35, s2009, 5, 4, 2009, 3, 0, 0},
        {35, e2009 - 1, 25, 10, 2009, 1, 59, 59},
        {35, e2009, 25, 10, 2009, 1, 0, 0},
        // Row 15: UTC rules, no hour taken off the end.
        {15, Utc(2009, 10, 25, 2, 30, 0), 25, 10, 2009, 4, 30, 0},
        {15, Utc(2009, 10, 25, 3, 0, 0), 25, 10, 2009, 4, 0, 0},
        {15, Utc(2009, 3, 29, 1, 59, 59), 29, 3, 2009, 2, 59, 59},
        {15, Utc(2009, 3, 29, 2, 0, 0), 29, 3, 2009, 4, 0, 0},
        // Row 38: daylight time across the new year.
        {38, Utc(2009, 1, 1, 0, 0, 0), 1, 1, 2009, 11, 0, 0},
        {38, Utc(2009, 7, 1, 0, 0, 0), 1, 7, 2009, 10, 0, 0},
        // Rows without rules never shift.
        {22, Utc(2009, 7, 1, 0, 0, 0), 1, 7, 2009, 5, 30, 0},
        {22, Utc(2009, 12, 31, 20, 0, 0), 1, 1, 2010, 1, 30, 0},
        {0, Utc(2009, 7, 1, 0, 0, 0), 1, 7, 2009, 0, 0, 0},
        // Indexes the table does not have: UTC.
        {42, Utc(2009, 7, 1, 12, 0, 0), 1, 7, 2009, 12, 0, 0},
        {255, Utc(2009, 7, 1, 12, 0, 0), 1, 7, 2009, 12, 0, 0},
        {-1, 0, 1, 1, 1970, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const ZoneFields f = zone_localtime(c.t, c.zone);
        EXPECT_EQ((std::vector<std::int64_t> {f.day, f.month, f.year, f.hour, f.minute, f.second}),
                  (std::vector<std::int64_t> {c.day, c.month, c.year, c.hour, c.minute, c.second}))
            << "zone " << c.zone << " t " << c.t;
    }
}

TEST(ZoneTime, TransitionsAndYearStarts)
{
    EXPECT_EQ(year_start(1970), 0);
    EXPECT_EQ(year_start(2000), 946684800);
    EXPECT_EQ(year_start(1901), Utc(1901, 1, 1, 0, 0, 0));
    EXPECT_EQ(year_start(2038), Utc(2038, 1, 1, 0, 0, 0));
    // Week 5 in a month whose last Sunday is the 31st gives the 31st, never the next month.
    const DstRule lastSundayOct {2, 0, 0, 5, 10, 0};
    EXPECT_EQ(dst_transition(year_start(2010), 2010, lastSundayOct, 0), Utc(2010, 10, 31, 0, 0, 0));
    const DstRule lastSundayMar {2, 0, 0, 5, 3, 60};
    EXPECT_EQ(dst_transition(year_start(2013), 2013, lastSundayMar, 0), Utc(2013, 3, 31, 1, 0, 0));
    // February of a leap year, and the bias.
    const DstRule lastSundayFeb {2, 0, 0, 5, 2, 0};
    EXPECT_EQ(dst_transition(year_start(2004), 2004, lastSundayFeb, 300), Utc(2004, 2, 29, 5, 0, 0));
    // Row 35's transitions of 2009.
    const TimeZoneEntry& eastern = *zone_entry(35);
    EXPECT_EQ(dst_transition(year_start(2009), 2009, eastern.rules->start, 300), Utc(2009, 4, 5, 7, 0, 0));
    EXPECT_EQ(dst_transition(year_start(2009), 2009, eastern.rules->end, 300) - 3600, Utc(2009, 10, 25, 6, 0, 0));
}

TEST(ZoneTime, NamesOfKnownAndUnknownRows)
{
    EXPECT_EQ(zone_name(0), "(UTC) Coordinated Universal Time");
    EXPECT_EQ(zone_name(41), "(GMT+12:00, DST observed) Auckland, Wellington");
    EXPECT_EQ(zone_name(42), "(UTC) Unknown time zone index 42 of the unit");
    EXPECT_EQ(zone_name(255), "(UTC) Unknown time zone index 255 of the unit");
    EXPECT_EQ(zone_entry(42), nullptr);
}
