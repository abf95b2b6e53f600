#include "plot/PlotLines.h"

#include "download/ReportHeader.h"

#include <charconv>
#include <cmath>

namespace plotlines {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Exactly n digits at pos, then pos moves past them.
bool Digits(std::string_view s, std::size_t& pos, std::size_t n, int& out)
{
    if (s.size() < pos + n)
        return false;
    int v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = s[pos + i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    pos += n;
    return true;
}

bool Char(std::string_view s, std::size_t& pos, char c)
{
    if (pos >= s.size() || s[pos] != c)
        return false;
    ++pos;
    return true;
}

// One or more blanks (at least one when required).
bool Blanks(std::string_view s, std::size_t& pos, bool required)
{
    const std::size_t start = pos;
    while (pos < s.size() && IsBlank(s[pos]))
        ++pos;
    return !required || pos > start;
}

bool Time(std::string_view s, std::size_t& pos, int& h, int& m, int& sec)
{
    return Digits(s, pos, 2, h) && Char(s, pos, ':') && Digits(s, pos, 2, m) && Char(s, pos, ':')
        && Digits(s, pos, 2, sec);
}

bool StartsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

} // namespace

bool ParseDataLine(std::string_view line, std::int64_t& t, std::vector<std::string_view>& values)
{
    std::size_t pos = 0;
    int y, mo, d, h, mi, s;
    if (!(Digits(line, pos, 4, y) && Char(line, pos, '/') && Digits(line, pos, 2, mo) && Char(line, pos, '/')
          && Digits(line, pos, 2, d) && Char(line, pos, ',') && Blanks(line, pos, true)
          && Time(line, pos, h, mi, s) && Char(line, pos, ',') && Blanks(line, pos, true)))
        return false;
    const std::optional<std::int64_t> seconds = WallClockSeconds(y, mo, d, h, mi, s);
    if (!seconds)
        return false;
    t = *seconds;
    values.clear();
    std::size_t start = pos;
    for (std::size_t i = pos; i < line.size(); ++i) {
        if (line[i] != ',' || i + 1 >= line.size() || !IsBlank(line[i + 1]))
            continue;
        values.push_back(line.substr(start, i - start));
        std::size_t next = i + 1;
        Blanks(line, next, true);
        start = next;
        i = next - 1;
    }
    values.push_back(line.substr(start));
    return true;
}

bool ParseReportRecord(std::string_view line, std::int64_t& t, std::string_view& value)
{
    std::size_t pos = 0;
    int y, mo, d, h, mi, s;
    if (!(Digits(line, pos, 2, d) && Char(line, pos, '/') && Digits(line, pos, 2, mo) && Char(line, pos, '/')
          && Digits(line, pos, 4, y) && Blanks(line, pos, true) && Time(line, pos, h, mi, s)
          && Char(line, pos, ',')))
        return false;
    const std::optional<std::int64_t> seconds = WallClockSeconds(y, mo, d, h, mi, s);
    if (!seconds)
        return false;
    t = *seconds;
    value = TrimBlanks(line.substr(pos));
    return true;
}

HeaderLine ParseReportHeader(std::string_view line, std::string_view& text)
{
    struct Prefix {
        std::string_view start;
        HeaderLine kind;
    };
    static constexpr Prefix kPrefixes[] = {
        {reportheader::kStart, HeaderLine::Start},
        {reportheader::kDescription, HeaderLine::Description},
        {reportheader::kPort, HeaderLine::Port},
        {reportheader::kAverage, HeaderLine::AverageValue},
        {reportheader::kSystemName, HeaderLine::Other},
        {reportheader::kCurrentTime, HeaderLine::Other},
        {reportheader::kAverageHigh, HeaderLine::Other},
        {reportheader::kAverageLow, HeaderLine::Other},
        {reportheader::kInstantHigh, HeaderLine::Other},
        {reportheader::kInstantLow, HeaderLine::Other},
    };
    for (const Prefix& p : kPrefixes) {
        if (!StartsWith(line, p.start))
            continue;
        text = line.substr(p.start.size());
        if (p.kind == HeaderLine::AverageValue) {
            // "%0.1f %s": the unit of measure follows the number and one blank.
            const std::size_t blank = text.find(' ');
            text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
        }
        return p.kind;
    }
    // "<who> address: <address>"
    if (line.find(reportheader::kAddress) != std::string_view::npos
        && line.find(reportheader::kLabelEnd) == std::string_view::npos) {
        text = {};
        return HeaderLine::Other;
    }
    return HeaderLine::None;
}

std::optional<double> ParseNumber(std::string_view text)
{
    text = TrimBlanks(text);
    if (text.empty())
        return std::nullopt;
    const char first = text.front();
    if (!(first == '-' || first == '.' || (first >= '0' && first <= '9')))
        return std::nullopt; // "inf", "nan" and "+1" are not value texts a unit sends
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

} // namespace plotlines
