// The data file's lines as the collector writes them (its format's one home), read back by the
// plot's parser: the same time as written and the same values in the same columns.
#include "collect/DataFileFormat.h"
#include "plot/PlotLines.h"

#include <gtest/gtest.h>

namespace {

struct RoundTrip {
    const char* what;
    std::vector<std::string> values;
};

TEST(DataFileRoundTrip, LinesOfTheFormatReadBackAsWritten)
{
    const RoundTrip cases[] = {
        {"one value", {"25"}},
        {"the demo unit's nine", {"25", "53", "18", "35", "0", "234", "0", "26", "22"}},
        {"negative and decimal", {"-5", "23.5"}},
        {"an empty value keeps its column", {"1", "", "3"}},
        {"a comma inside a value", {"1,5", "2"}},
    };
    // 2026-12-08 11:43:54 UTC and a moment in another season: whatever the zone, the line says
    // the local wall-clock time.
    for (const std::time_t when : {std::time_t {1796730234}, std::time_t {1780000000}}) {
        for (const RoundTrip& c : cases) {
            const std::string line = datafile::FormatLine(datafile::FormatTimeStamp(when), c.values);
            std::int64_t t = 0;
            std::vector<std::string_view> read;
            ASSERT_TRUE(plotlines::ParseDataLine(line, t, read)) << c.what << ": " << line;
            EXPECT_EQ(t, datafile::LocalWallClock(when)) << c.what;
            EXPECT_EQ(std::vector<std::string>(read.begin(), read.end()), c.values) << c.what;
            EXPECT_TRUE(datafile::StartsWithTimeStamp(line)) << c.what;
        }
    }
}

TEST(DataFileRoundTrip, NameAndStampShape)
{
    EXPECT_EQ(datafile::FileName("198.168.0.100"), "data198.168.0.100.txt");
    EXPECT_EQ(datafile::FormatLine("2026/12/08,  11:43:54,  ", {"25", "53"}), "2026/12/08,  11:43:54,  25,  53");
    EXPECT_EQ(datafile::FormatIsoWallClock(*datafile::WallClockSeconds(2026, 12, 8, 11, 43, 54)), "2026-12-08T11:43:54");
    EXPECT_FALSE(datafile::StartsWithTimeStamp("Error No 40 : The request timed-out."));
    EXPECT_FALSE(datafile::StartsWithTimeStamp("2026/12/08, 11:43:54,  25"));
}

} // namespace
