#pragma once
#include <cstdint>
#include <ctime>

// Seconds since 1970 of a UTC calendar time, by the C library (independent of the zone code).
inline std::int64_t Utc(int y, int mo, int d, int h, int mi, int s)
{
    std::tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return timegm(&tm);
}
