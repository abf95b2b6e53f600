// The line formats: data lines, report records and headers, value texts, wall-clock times.
#include "plot/PlotLines.h"

#include <gtest/gtest.h>

using namespace plotlines;

namespace {

std::int64_t At(int y, int mo, int d, int h, int mi, int s)
{
    return *WallClockSeconds(y, mo, d, h, mi, s);
}

TEST(PlotLines, WallClockTimesRoundTripAndRefuseImpossibleDates)
{
    EXPECT_EQ(At(1970, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(At(2009, 8, 20, 14, 5, 9), 1250777109);
    EXPECT_EQ(FormatWallClock(1250777109), "2009/08/20 14:05:09");
    EXPECT_EQ(FormatWallClock(At(1969, 12, 31, 23, 59, 59)), "1969/12/31 23:59:59");
    EXPECT_EQ(FormatWallClock(At(2024, 2, 29, 0, 0, 0)), "2024/02/29 00:00:00");
    for (auto bad : {WallClockSeconds(2023, 2, 29, 0, 0, 0), WallClockSeconds(1900, 2, 29, 0, 0, 0),
                     WallClockSeconds(2009, 13, 1, 0, 0, 0), WallClockSeconds(2009, 0, 1, 0, 0, 0),
                     WallClockSeconds(2009, 4, 31, 0, 0, 0), WallClockSeconds(2009, 1, 1, 24, 0, 0),
                     WallClockSeconds(2009, 1, 1, 0, 60, 0), WallClockSeconds(2009, 1, 1, 0, 0, 60)})
        EXPECT_FALSE(bad);
}

TEST(PlotLines, DataLinesKeepEveryValueInItsColumn)
{
    struct Case {
        const char* line;
        bool ok;
        std::vector<std::string_view> values;
    };
    const Case cases[] = {
        {"2009/08/20,  14:05:09,  23,  45,  1", true, {"23", "45", "1"}},
        {"2009/08/20,  14:05:09,  23", true, {"23"}},
        {"2009/08/20, 14:05:09,\t23,\t-4.5", true, {"23", "-4.5"}},
        {"2009/08/20,  14:05:09,  23,  ,  1", true, {"23", "", "1"}},     // empty value keeps its place
        {"2009/08/20,  14:05:09,  1,5,  7", true, {"1,5", "7"}},          // a comma inside a value
        {"2009/08/20,  14:05:09,  23,  ", true, {"23", ""}},
        {"2009/08/20,14:05:09,  23", false, {}},                          // no blank after the date
        {"2009/8/20,  14:05:09,  23", false, {}},
        {"2009/02/30,  14:05:09,  23", false, {}},
        {"2009/08/20,  25:05:09,  23", false, {}},
        {"2009/08/20,  14:05:09", false, {}},                             // cut after the time
        {"2009/08/20,  14:05", false, {}},
        {"20/08/2009 14:05:09, 23", false, {}},                           // a report record
        {"", false, {}},
    };
    for (const Case& c : cases) {
        std::int64_t t = 0;
        std::vector<std::string_view> values;
        EXPECT_EQ(ParseDataLine(c.line, t, values), c.ok) << c.line;
        if (c.ok) {
            EXPECT_EQ(t, At(2009, 8, 20, 14, 5, 9)) << c.line;
            EXPECT_EQ(values, c.values) << c.line;
        }
    }
}

TEST(PlotLines, ReportRecordsAndHeaders)
{
    std::int64_t t = 0;
    std::string_view value;
    ASSERT_TRUE(ParseReportRecord("20/08/2009 10:30:00, 23", t, value));
    EXPECT_EQ(t, At(2009, 8, 20, 10, 30, 0));
    EXPECT_EQ(value, "23");
    ASSERT_TRUE(ParseReportRecord("01/12/2026 00:00:05, -1.5", t, value));
    EXPECT_EQ(FormatWallClock(t), "2026/12/01 00:00:05");
    EXPECT_EQ(value, "-1.5");
    for (const char* bad : {"2009/08/20 10:30:00, 23", "31/02/2009 10:30:00, 1", "20/08/2009 10:30:00 23",
                            "20/08/2009, 10:30:00, 23", "20/08/09 10:30:00, 23"})
        EXPECT_FALSE(ParseReportRecord(bad, t, value)) << bad;

    struct Header {
        const char* line;
        HeaderLine kind;
        std::string_view text;
    };
    const Header headers[] = {
        {"Data download from system.", HeaderLine::Start, "system."},
        {"system address: 192.0.2.20", HeaderLine::Other, ""},
        {"System name : Lab <b>1</b>", HeaderLine::Other, "Lab <b>1</b>"},
        {"Sensor port : 3", HeaderLine::Port, "3"},
        {"Sensor description : Server room", HeaderLine::Description, "Server room"},
        {"Current system time (UTC) Coordinated Universal Time : 20/08/2009 10:31:00", HeaderLine::Other,
         "system time (UTC) Coordinated Universal Time : 20/08/2009 10:31:00"},
        {"Average high value : 23.5 mA", HeaderLine::Other, "23.5 mA"},
        {"Average value : 7.3 mA", HeaderLine::AverageValue, "mA"},
        {"Average value : 21.0 Deg. F", HeaderLine::AverageValue, "Deg. F"},
        {"Average value : 21.0", HeaderLine::AverageValue, ""},
        {"hello", HeaderLine::None, ""},
    };
    for (const Header& h : headers) {
        std::string_view text;
        EXPECT_EQ(ParseReportHeader(h.line, text), h.kind) << h.line;
        if (h.kind != HeaderLine::Other) {
            EXPECT_EQ(text, h.text) << h.line;
        }
    }
}

TEST(PlotLines, OnlyDecimalNumbersAreValues)
{
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"23", 23.0}, {" -4.5 ", -4.5}, {"0.7", 0.7}, {"1e3", 1000.0}, {".5", 0.5}, {"-0", 0.0},
        {"", std::nullopt}, {"  ", std::nullopt}, {"nan", std::nullopt}, {"inf", std::nullopt},
        {"-inf", std::nullopt}, {"-nan", std::nullopt}, {"1e999", std::nullopt}, {"+5", std::nullopt},
        {"0x1A", std::nullopt}, {"0a 1b ", std::nullopt}, {"12abc", std::nullopt}, {"1,5", std::nullopt},
        {"Online", std::nullopt}, {".1.3.6.1", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ParseNumber(text), expected) << '"' << text << '"';
}

} // namespace

#include "plot/PlotTimeAxis.h"

namespace {

TEST(PlotTimeAxis, UnitFitsTheSpanAndLabelsReadAsWritten)
{
    const std::int64_t t0 = *WallClockSeconds(2026, 12, 7, 23, 59, 50);
    struct Case {
        std::int64_t span;
        const char* unit;
        std::int64_t step;
        const char* first;
        const char* second;
    };
    const Case cases[] = {
        {40, "seconds", 10, "12/07 23:59:50", "12/08 00:00:00"},
        {4000, "minutes", 600, "12/08 00:00", "00:10"},
        {2 * 86400, "hours", 12 * 3600, "12/08 00:00", "12:00"},
        {5 * 86400, "days", 86400, "2026/12/08", "2026/12/09"},
        {40 * 86400, "weeks", 7 * 86400, "2026/12/14", "2026/12/21"}, // Mondays
        {300 * 86400, "months", 2 * 2629746, "2027/01", "2027/03"},
        {20LL * 365 * 86400, "years", 60 * 2629746, "2030", "2035"},
    };
    for (const Case& c : cases) {
        const plottime::Axis axis = plottime::TimeAxis(t0, t0 + c.span, 8);
        EXPECT_EQ(axis.unit, c.unit) << c.span;
        EXPECT_EQ(axis.step, c.step) << c.span;
        ASSERT_GE(axis.ticks.size(), 2u) << c.span;
        EXPECT_LE(axis.ticks.size(), 8u) << c.span;
        EXPECT_EQ(axis.ticks[0].label, c.first) << c.span;
        EXPECT_EQ(axis.ticks[1].label, c.second) << c.span;
        EXPECT_GE(axis.ticks.front().t, t0);
        EXPECT_LE(axis.ticks.back().t, t0 + c.span);
    }
}

} // namespace
