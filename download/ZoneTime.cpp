#include "download/ZoneTime.h"

#include <cstdio>

namespace {

// The rule pairs, as the units' firmware defines them (A: first Sunday of April, B: at noon,
// F: shared by Atlantic Time and Santiago), kept as they are: a unit reports by them.
constexpr DstRulePair kPairA {{2, 1, 0, 1, 4, 120}, {2, 1, 0, 5, 10, 120}};
constexpr DstRulePair kPairB {{2, 1, 0, 1, 4, 720}, {2, 1, 0, 5, 10, 720}};
constexpr DstRulePair kPairC {{2, 0, 0, 5, 3, 60}, {2, 0, 0, 5, 10, 120}};
constexpr DstRulePair kPairD {{2, 0, 0, 5, 3, 120}, {2, 0, 0, 5, 10, 180}};
constexpr DstRulePair kPairE {{2, 0, 0, 5, 3, 180}, {2, 0, 0, 5, 10, 240}};
constexpr DstRulePair kPairF {{2, 1, 0, 2, 10, 0}, {2, 1, 0, 2, 3, 0}};
constexpr DstRulePair kPairG {{2, 1, 0, 1, 10, 120}, {2, 1, 0, 5, 3, 180}};
constexpr DstRulePair kPairH {{2, 1, 0, 5, 10, 120}, {2, 1, 0, 5, 3, 180}};
constexpr DstRulePair kPairI {{2, 1, 0, 1, 10, 120}, {2, 1, 0, 3, 3, 180}};

constexpr TimeZoneEntry kZones[kZoneCount] = {
    {"(UTC) Coordinated Universal Time", 0, nullptr},
    {"(GMT-12:00) International Date Line West", 720, nullptr},
    {"(GMT-11:00) Midway Island, Samoa", 660, nullptr},
    {"(GMT-10:00) Hawaii", 600, nullptr},
    {"(GMT-09:00, DST observed) Alaska", 540, &kPairA},
    {"(GMT-08:00, DST observed) Pacific Time (US & Canada), Tijuana", 480, &kPairA},
    {"(GMT-07:00) Arizona", 420, nullptr},
    {"(GMT-06:00) Central America", 360, nullptr},
    {"(GMT-05:00) Indiana(East), Bogota, Lima, Quito", 300, nullptr},
    {"(GMT-04:00) Caracas, La Paz", 240, nullptr},
    {"(GMT-03:30, DST observed) Newfoundland", 210, &kPairB},
    {"(GMT-03:00) Brasilia, Buenos Aires, Georgetown", 180, nullptr},
    {"(GMT-02:00) Mid-Atlantic", 120, nullptr},
    {"(GMT-01:00) Azores", 60, nullptr},
    {"(GMT, DST observed) Greenwich Mean Time, London", 0, &kPairC},
    {"(GMT+01:00, DST observed) Amsterdam, Berlin, Paris, Rome, Stockholm, Vienna", -60, &kPairD},
    {"(GMT+02:00, DST observed) Athens, Bucharest, Cairo, Helsinki, Istanbul", -120, &kPairE},
    {"(GMT+03:00) Baghdad, Kuwait, Moscow, St. Petersburg", -180, nullptr},
    {"(GMT+03:30) Tehran", -210, nullptr},
    {"(GMT+04:00) Abu Dhabi", -240, nullptr},
    {"(GMT+04:30) Kabul", -270, nullptr},
    {"(GMT+05:00) Islamabad", -300, nullptr},
    {"(GMT+05:30) Chennai, New Delhi", -330, nullptr},
    {"(GMT+06:00) Astana, Dhaka, Sri Jayawardenepura", -360, nullptr},
    {"(GMT+06:30) Rangoon", -390, nullptr},
    {"(GMT+07:00) Bangkok, Hanoi, Jakarta", -420, nullptr},
    {"(GMT+08:00) Beijing, Hong Kong, Kuala Lumpur, Perth, Singapore", -480, nullptr},
    {"(GMT+09:00) Osaka, Seoul, Tokyo", -540, nullptr},
    {"(GMT+09:30) Darwin", -570, nullptr},
    {"(GMT+10:00) Brisbane, Guam", -600, nullptr},
    {"(GMT+11:00) Magadan", -660, nullptr},
    {"(GMT+12:00) Fiji, Kamchatka", -720, nullptr},
    {"(GMT+13:00) Nuku'alofa", -780, nullptr},
    {"(GMT-07:00, DST observed) Mountain Time (US & Canada)", 420, &kPairA},
    {"(GMT-06:00, DST observed) Central Time (US & Canada)", 360, &kPairA},
    {"(GMT-05:00, DST observed) Eastern Time (US & Canada)", 300, &kPairA},
    {"(GMT-04:00, DST observed) Atlantic Time (Canada), Santiago", 240, &kPairF},
    {"(GMT+09:30, DST observed) Adelaide", -570, &kPairG},
    {"(GMT+10:00, DST observed) Canberra, Melbourne, Sydney", -600, &kPairH},
    {"(GMT+10:00, DST observed) Hobart", -600, &kPairG},
    {"(GMT+02:00) Harare, Pretoria, Jerusalem", -120, nullptr},
    {"(GMT+12:00, DST observed) Auckland, Wellington", -720, &kPairI},
};

constexpr std::int64_t kDay = 86400;

bool IsLeap(std::int64_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(std::int64_t y, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(y) ? 29 : kDays[month - 1];
}

// Division rounding towards minus infinity, for times before 1970.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

const TimeZoneEntry* zone_entry(int z)
{
    return z >= 0 && z < kZoneCount ? &kZones[z] : nullptr;
}

std::string zone_name(int z)
{
    if (const TimeZoneEntry* entry = zone_entry(z))
        return entry->name;
    // The unit names a zone this program does not know: its times are shown in UTC, and
    // the name says so rather than pass for one of the table.
    char text[80];
    std::snprintf(text, sizeof text, "(UTC) Unknown time zone index %d of the unit", z);
    return text;
}

std::int64_t year_start(std::int64_t Y)
{
    const std::int64_t y = Y - 1;
    return (365 * y + FloorDiv(y, 4) - FloorDiv(y, 100) + FloorDiv(y, 400) - 719162) * kDay;
}

std::int64_t dst_transition(std::int64_t Y0, std::int64_t Y, const DstRule& rule, int b)
{
    // The table's rules are all well formed; anything else is clamped rather than read
    // outside the month table.
    const int month = rule.month < 1 ? 1 : rule.month > 12 ? 12 : rule.month;

    std::int64_t d = Y0;
    for (int m = 1; m < month; ++m)
        d += kDay * DaysInMonth(Y, m);

    // Weekday of the month's first day by Zeller's congruence (0 = Sunday).
    const std::int64_t m1 = (month + 9) % 12 + 1;
    const std::int64_t yy0 = month <= 2 ? Y - 1 : Y;
    const std::int64_t c = yy0 / 100;
    const std::int64_t yy = yy0 % 100;
    std::int64_t dow = ((26 * m1 - 2) / 10 + 1 + yy + yy / 4 + c / 4 - 2 * c) % 7;
    if (dow < 0)
        dow += 7;

    std::int64_t k = rule.weekday - dow;
    if (k < 0)
        k += 7;
    // Week 5 stops at the last such weekday: never past the end of the month.
    const int days = DaysInMonth(Y, month);
    for (int i = 1; i < rule.week; ++i) {
        if (k + 7 >= days)
            break;
        k += 7;
    }
    return d + k * kDay + (static_cast<std::int64_t>(b) + rule.minutes) * 60;
}

ZoneFields utc_fields(std::int64_t t)
{
    // Days to civil date (proleptic Gregorian), eras of 400 years from 0000-03-01.
    const std::int64_t days = FloorDiv(t, kDay);
    const std::int64_t secs = t - days * kDay;
    const std::int64_t z = days + 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return {day, month, year, static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
            static_cast<int>(secs % 60)};
}

ZoneFields zone_localtime(std::int64_t t, int z)
{
    return ZoneClock(z)(t);
}

ZoneClock::ZoneClock(int z, bool utc) : m_pEntry(utc ? nullptr : zone_entry(z)) {}

ZoneFields ZoneClock::operator()(std::int64_t t)
{
    if (!m_pEntry)
        return utc_fields(t);
    const std::int64_t B = m_pEntry->offset;
    std::int64_t O = B;
    if (const DstRulePair* pair = m_pEntry->rules) {
        // The year of t in the zone's standard time decides which transitions apply.
        const std::int64_t standard = t - B * 60;
        if (standard < m_nFrom || standard >= m_nTo) {
            const std::int64_t Y = utc_fields(standard).year;
            const std::int64_t Y0 = year_start(Y);
            m_nFrom = Y0;
            m_nTo = year_start(Y + 1);
            const bool local = pair->start.localFlag == 1;
            const int b = local ? static_cast<int>(B) : 0;
            m_nStart = dst_transition(Y0, Y, pair->start, b);
            // A local end time is read in daylight time, an hour ahead of the standard time
            // the rule's arithmetic uses; a UTC end time is the instant itself.
            m_nEnd = dst_transition(Y0, Y, pair->end, b) - (local ? 3600 : 0);
        }
        const std::int64_t S = m_nStart;
        const std::int64_t E = m_nEnd;
        const bool daylight = S <= E ? (S <= t && t < E) : (t >= S || t < E);
        if (daylight)
            O = B - 60;
    }
    return utc_fields(t - O * 60);
}
