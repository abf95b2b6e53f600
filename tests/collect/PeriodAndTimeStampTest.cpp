// Period bounds, the period text and the time stamp of a data line.
#include "collect/CCollector.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

TEST(CollectPeriod, IntervalIsBoundedToOneSecondAndThirtyTwoBitMilliseconds)
{
    const struct {
        std::int32_t period;
        long long ms;
    } cases[] = {
        {1, 1000},
        {5, 5000},
        {0, 1000},                // never a busy loop
        {-7, 1000},
        {2147483, 2147483000LL},  // the largest whose milliseconds fit 32 bits
        {2147484, 2147483000LL},  // would wrap to a negative interval
        {INT32_MAX, 2147483000LL},
        {INT32_MIN, 1000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CCollector::CollectInterval(c.period).count(), c.ms) << "period " << c.period;

    QTimer timer;
    timer.start(CCollector::CollectInterval(INT32_MAX));
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 2147483000);
}

TEST(CollectPeriod, TextIsReadAsDecimalAndSaturates)
{
    const struct {
        const char* text;
        std::int32_t period;
    } cases[] = {
        {"5", 5},           {"0005", 5},        {"0", 0},
        {"12ab", 12},       {"", 0},            {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX}, {"99999999999999999999", INT32_MAX}, {"-3", -3},
        {"-99999999999", INT32_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CCollector::PeriodFromText(QString::fromLatin1(c.text)), c.period) << '"' << c.text << '"';
}

// Under a zone five hours east of UTC the stamp must show UTC plus five hours: local time,
// not UTC, with two blanks behind each comma and behind the time's comma.
TEST(CollectTimeStamp, IsLocalTimeInTheLineFormat)
{
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "VLT-5", 1);
    tzset();
    std::string stamp, expected[2];
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::time_t before = std::time(nullptr);
        stamp = CCollector::FormatTimeStamp();
        const std::time_t after = std::time(nullptr);
        int i = 0;
        for (std::time_t t : {before, after}) {
            t += 5 * 3600;
            std::tm utc {};
            gmtime_r(&t, &utc);
            char text[64];
            std::snprintf(text, sizeof text, "%04d/%02d/%02d,  %02d:%02d:%02d,  ", utc.tm_year + 1900, utc.tm_mon + 1,
                          utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
            expected[i++] = text;
        }
        if (stamp == expected[0] || stamp == expected[1])
            break;
    }
    if (oldTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    EXPECT_TRUE(stamp == expected[0] || stamp == expected[1]) << stamp;
    EXPECT_EQ(stamp.size(), 24u);
}

} // namespace
