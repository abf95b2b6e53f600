#include "collect/DataFileFormat.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace datafile {

namespace {

// Howard Hinnant's days-from-civil: days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153u * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
    long long year;
    unsigned month, day;
    int hour, minute, second;
};

// civil-from-days, the inverse of DaysFromCivil.
Civil FromSeconds(std::int64_t t)
{
    std::int64_t days = t / 86400;
    std::int64_t rest = t % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
    return {static_cast<long long>(y), m, d, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
            static_cast<int>(rest % 60)};
}

// "YYYY<date>MM<date>DD<between>HH:MM:SS", digit by digit: an export writes one per line, and
// snprintf was most of its time. Years beyond four digits keep the printf form.
std::string FormatCivil(std::int64_t t, char date, char between)
{
    const Civil c = FromSeconds(t);
    if (c.year < 0 || c.year > 9999) {
        char text[48];
        std::snprintf(text, sizeof text, "%04lld%c%02u%c%02u%c%02d:%02d:%02d", c.year, date, c.month, date, c.day,
                      between, c.hour, c.minute, c.second);
        return text;
    }
    char text[19];
    const auto put = [&text](std::size_t at, unsigned value, std::size_t width) {
        for (std::size_t i = width; i-- > 0; value /= 10)
            text[at + i] = static_cast<char>('0' + value % 10);
    };
    put(0, static_cast<unsigned>(c.year), 4);
    put(5, c.month, 2);
    put(8, c.day, 2);
    put(11, static_cast<unsigned>(c.hour), 2);
    put(14, static_cast<unsigned>(c.minute), 2);
    put(17, static_cast<unsigned>(c.second), 2);
    text[4] = text[7] = date;
    text[10] = between;
    text[13] = text[16] = ':';
    return std::string(text, sizeof text);
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::string FileName(std::string_view address)
{
    std::string name(kNamePrefix);
    name += address;
    name += kNameSuffix;
    return name;
}

std::string FormatTimeStamp(std::time_t t)
{
    std::tm local {};
    localtime_r(&t, &local);
    char text[64];
    const size_t n = std::strftime(text, sizeof text, kTimeStampFormat, &local);
    return std::string(text, n);
}

std::string TimeStampNow()
{
    return FormatTimeStamp(std::time(nullptr));
}

std::string FormatLine(std::string_view timeStamp, const std::vector<std::string>& values)
{
    std::string line(timeStamp);
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            line += kSeparator;
        line += values[i];
    }
    return line;
}

bool StartsWithTimeStamp(std::string_view text)
{
    // "YYYY/MM/DD,  HH:MM:SS,  ": digits where the format puts them, its separators elsewhere.
    static constexpr std::string_view kShape = "0000/00/00,  00:00:00,  ";
    if (text.size() < kShape.size())
        return false;
    for (size_t i = 0; i < kShape.size(); ++i)
        if (kShape[i] == '0' ? !IsDigit(text[i]) : text[i] != kShape[i])
            return false;
    return true;
}

std::optional<std::int64_t> WallClockSeconds(int year, int month, int day, int hour, int minute, int second)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59 || hour < 0 || minute < 0
        || second < 0)
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0))
        return std::nullopt;
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string FormatWallClock(std::int64_t t)
{
    return FormatCivil(t, '/', ' ');
}

std::string FormatIsoWallClock(std::int64_t t)
{
    return FormatCivil(t, '-', 'T');
}

std::int64_t LocalWallClock(std::time_t t)
{
    std::tm local {};
    localtime_r(&t, &local);
    // A leap second reads as the second before it.
    return WallClockSeconds(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                            std::min(local.tm_sec, 59))
        .value_or(0);
}

namespace {

constexpr std::string_view kZoneInfo = "/usr/share/zoneinfo/";

// name when it is an IANA zone of the system's database, else empty.
std::string KnownZone(std::string_view name)
{
    if (name.empty() || name.size() > 64 || name.front() == '/' || name.find("..") != std::string_view::npos)
        return {};
    for (const char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '_'
              || c == '+' || c == '-'))
            return {};
    struct stat st {};
    const std::string path = std::string(kZoneInfo) + std::string(name);
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? std::string(name) : std::string();
}

// "/usr/share/zoneinfo/Europe/Berlin" (or ".../posix/...", "../usr/share/zoneinfo/...") as its name.
std::string ZoneOfPath(std::string_view path)
{
    const std::size_t at = path.find("zoneinfo/");
    if (at == std::string_view::npos)
        return {};
    std::string_view name = path.substr(at + 9);
    for (const std::string_view tree : {"posix/", "right/"})
        if (name.starts_with(tree))
            name.remove_prefix(tree.size());
    return KnownZone(name);
}

} // namespace

std::string MachineZone()
{
    if (const char* tz = std::getenv("TZ"); tz && *tz) {
        std::string_view name(tz);
        if (name.front() == ':')
            name.remove_prefix(1);
        if (name.starts_with("/"))
            return ZoneOfPath(name);
        return KnownZone(name);
    }
    char link[PATH_MAX];
    const ssize_t n = ::readlink("/etc/localtime", link, sizeof link - 1);
    if (n > 0)
        return ZoneOfPath(std::string_view(link, static_cast<std::size_t>(n)));
    return {};
}

int LocalUtcOffset(std::time_t t)
{
    std::tm local {};
    localtime_r(&t, &local);
    return static_cast<int>(local.tm_gmtoff);
}

} // namespace datafile
