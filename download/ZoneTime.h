#pragma once
#include <cstdint>
#include <string>

// The units' time zones. A unit names its zone by an index into a fixed table of 42 rows; the
// table and its nine daylight-saving rule pairs below are the program's whole knowledge of
// zones (no time-zone service of the system is asked, so a report reads the same on every
// machine). Times are seconds since 1970-01-01 00:00 UTC; they are taken as 64-bit values so
// that no arithmetic here can overflow, whatever a unit sends.

// One daylight-saving transition in week/weekday/month form (POSIX TZ's Mm.w.d).
struct DstRule {
    int kind;      // 2: week/weekday/month, the only kind in the table
    int localFlag; // 1: the time of day is local standard time; 0: it is UTC
    int weekday;   // 0 = Sunday .. 6 = Saturday
    int week;      // 1..4: first to fourth such weekday of the month; 5: the last one
    int month;     // 1..12
    int minutes;   // time of day of the transition, minutes after midnight
};

// A start and an end rule; both carry the same local flag.
struct DstRulePair {
    DstRule start;
    DstRule end;
};

struct TimeZoneEntry {
    const char* name;
    int offset;               // minutes, local standard time = UTC - offset (east is negative)
    const DstRulePair* rules; // null: standard time all year
};

// Calendar fields of a time, as gmtime gives them but with month 1..12 and a four-digit year.
struct ZoneFields {
    int day;
    int month;
    std::int64_t year;
    int hour;
    int minute;
    int second;
};

constexpr int kZoneCount = 42;

// Row z of the table, or null for an index the table does not have (a unit's byte is 0..255).
const TimeZoneEntry* zone_entry(int z);

// The zone's name as the report shows it. An index outside the table gets a name that says so;
// zone_localtime shows such a zone's times in UTC.
std::string zone_name(int z);

// Seconds since 1970 of 1 January of year Y, 00:00 UTC (proleptic Gregorian calendar).
std::int64_t year_start(std::int64_t Y);

// The instant of one transition of rule in year Y, whose start is Y0, with bias b minutes
// added to the rule's time of day (the zone's offset for local-time rules, else 0).
std::int64_t dst_transition(std::int64_t Y0, std::int64_t Y, const DstRule& rule, int b);

// The calendar fields of t read as UTC.
ZoneFields utc_fields(std::int64_t t);

// The wall-clock fields of t in zone z, daylight-saving time included. Keeps no state.
ZoneFields zone_localtime(std::int64_t t, int z);

// zone_localtime for many times of one zone (a report's records): each year's transitions are
// worked out once, not per time. UTC when utc is set (or for a zone the table does not have).
class ZoneClock {
public:
    explicit ZoneClock(int z, bool utc = false);
    ZoneFields operator()(std::int64_t t);

private:
    const TimeZoneEntry* m_pEntry;
    // The standard-time year whose transitions are held: [m_nFrom, m_nTo) in standard time.
    std::int64_t m_nFrom = 1;
    std::int64_t m_nTo = 0;
    std::int64_t m_nStart = 0;
    std::int64_t m_nEnd = 0;
};
