// The column sidecar's text: records written and read back, and what a damaged sidecar leaves
// (only whole, sound records; the rest counted).
#include "collect/ColumnsSidecar.h"
#include "collect/DataFileFormat.h"

#include <gtest/gtest.h>

namespace {

using datafile::Column;
using datafile::ColumnsRecord;

const std::int64_t kStart = *datafile::WallClockSeconds(2026, 12, 8, 11, 43, 54);

ColumnsRecord Record()
{
    return {kStart, 120,
            {{"Port 1", "Server room\ttemperature\r\n\\ \x01", "temperature", ".1.3.6.1.4.1.32473.1.2.2.1.16.1.3.0"},
             {"", "", "", ".1.3.6.1.4.1.32473.1.2.2.1.17.1.3.1"}}};
}

TEST(ColumnsSidecar, RecordsReadBackAsWritten)
{
    const std::string once = datafile::AddRecord("", Record());
    EXPECT_EQ(once.substr(0, once.find('\n', once.find('\n') + 1) + 1), "veltrane-columns\t1\nrun\t2026/12/08 11:43:54\t120\n");
    EXPECT_NE(once.find("Server room\\ttemperature\\r\\n\\\\ \\x01"), std::string::npos) << once;
    ColumnsRecord second = Record();
    second.start += 60;
    second.offset = -1;
    second.columns.pop_back();
    const datafile::Sidecar read = datafile::ParseSidecar(datafile::AddRecord(once, second));
    EXPECT_EQ(read.dropped, 0);
    ASSERT_EQ(read.records.size(), 2u);
    EXPECT_EQ(read.records[0], Record());
    EXPECT_EQ(read.records[1], second);
    EXPECT_EQ(datafile::SidecarPath("/d/data127.0.0.1.txt"), "/d/data127.0.0.1.columns");
    EXPECT_EQ(datafile::SidecarPath("/d.txt/run"), "/d.txt/run.columns");
}

TEST(ColumnsSidecar, DamagedRecordsAreLeftOutAndCounted)
{
    const std::string good = "run\t2026/12/08 11:43:54\ncolumn\tPort 1\tA\ttemperature\t.1.2\nend\n";
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t records;
        int dropped;
    };
    const Case cases[] = {
        {"sound", "veltrane-columns\t1\n" + good, 1, 0},
        {"no header line is no harm", good, 1, 0},
        {"cut short before its end", good + "run\t2026/12/08 11:50:00\ncolumn\tPort 2\tB\t\t.1.3\n", 1, 1},
        {"last line without its line end", good + "run\t2026/12/08 11:50:00\ncolumn\tPort 2\tB\t\t.1.3\nend", 1, 1},
        {"a date that does not exist", "run\t2026/02/30 11:43:54\nend\n" + good, 1, 1},
        {"a column with a field missing", "run\t2026/12/08 11:43:54\ncolumn\tPort 1\tA\t.1.2\nend\n" + good, 1, 1},
        {"a broken escape", "run\t2026/12/08 11:43:54\ncolumn\tP\\q\tA\t\t.1.2\nend\n" + good, 1, 1},
        {"a raw control byte", std::string("run\t2026/12/08 11:43:54\ncolumn\tP\x01\tA\t\t.1.2\nend\n") + good, 1, 1},
        {"an offset that is not a number", "run\t2026/12/08 11:43:54\t-1\nend\n" + good, 1, 1},
        {"a stray line", "hello\n" + good, 1, 1},
        {"binary junk", std::string("\0\xff\n\n\x7f\n", 6) + good, 1, 2},
    };
    for (const Case& c : cases) {
        const datafile::Sidecar read = datafile::ParseSidecar(c.bytes);
        EXPECT_EQ(read.records.size(), c.records) << c.what;
        EXPECT_EQ(read.dropped, c.dropped) << c.what;
    }
}

TEST(ColumnsSidecar, LinesTakeTheirRunsNamesAndUnnamedOnesAreColumnN)
{
    datafile::Sidecar sidecar;
    sidecar.records = {{kStart, 100, {{"Port 1", "Room", "temperature", ".1"}, {"Port 2", "Hum", "humidity", ".2"}}},
                       {kStart, 200, {{"Port 2", "Hum", "humidity", ".2"}, {"", "", "", ".3"}}}};
    datafile::CColumnMap map(sidecar);
    std::vector<int> series;
    std::vector<std::string> names;
    const auto namesOf = [&](std::int64_t t, std::int64_t offset, std::size_t count) {
        map.Resolve(t, offset, count, series);
        names.clear();
        for (const int s : series)
            names.push_back(map.Name(s));
        return names;
    };
    // Before the first run, then both runs started within the same second: the offsets split them.
    EXPECT_EQ(namesOf(kStart - 10, 0, 2), (std::vector<std::string> {"Column 1", "Column 2"}));
    EXPECT_EQ(namesOf(kStart, 100, 3), (std::vector<std::string> {"Port 1 Room", "Port 2 Hum", "Column 3"}));
    EXPECT_EQ(namesOf(kStart, 200, 2), (std::vector<std::string> {"Port 2 Hum", ".3"}));
    EXPECT_EQ(map.SeriesCount(), 6u) << "one series per sensor: Port 2 Hum is one series in both runs";
    EXPECT_EQ(map.UnnamedValues(), 3);
}

} // namespace

namespace {

// The run's zone: written and read back; a run line whose zone or offset is not one is left out.
TEST(ColumnsSidecar, RunZoneReadsBackAndOnlyASoundOneCounts)
{
    struct Case {
        std::string run;
        bool sound;
        std::string zone;
        std::optional<int> offset;
    };
    const Case cases[] = {
        {"run\t2026/10/25 02:30:00\t0\tEurope/Berlin\t+02:00", true, "Europe/Berlin", 7200},
        {"run\t2026/10/25 02:30:00\t\tAmerica/New_York\t-04:00", true, "America/New_York", -14400},
        {"run\t2026/10/25 02:30:00\t0\t\t+05:30", true, "", 19800},
        {"run\t2026/10/25 02:30:00\t0", true, "", std::nullopt}, // written before zones
        {"run\t2026/10/25 02:30:00\t0\tEurope/Berlin", false, "", std::nullopt},
        {"run\t2026/10/25 02:30:00\t0\tEurope Berlin\t+02:00", false, "", std::nullopt},
        {"run\t2026/10/25 02:30:00\t0\tUTC\t+2:00", false, "", std::nullopt},
        {"run\t2026/10/25 02:30:00\t0\tUTC\t+19:00", false, "", std::nullopt},
    };
    for (const Case& c : cases) {
        const datafile::Sidecar s = datafile::ParseSidecar("veltrane-columns\t1\n" + c.run + "\ncolumn\t\t\t\t.1.1\nend\n");
        ASSERT_EQ(s.records.size(), c.sound ? 1u : 0u) << c.run;
        if (!c.sound)
            continue;
        EXPECT_EQ(s.records[0].zone, c.zone) << c.run;
        EXPECT_EQ(s.records[0].utcOffset, c.offset) << c.run;
        EXPECT_EQ(datafile::FormatRecord(s.records[0]).substr(0, c.run.size() + 1), c.run + "\n")
            << "written as read, save the empty size";
    }
}

// The machine's zone: TZ when it names a zone of the database, else none.
TEST(ColumnsSidecar, MachineZoneFromTz)
{
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    const std::pair<const char*, const char*> cases[] = {
        {"Europe/Berlin", "Europe/Berlin"}, {":America/New_York", "America/New_York"},
        {"/usr/share/zoneinfo/Australia/Sydney", "Australia/Sydney"}, {"CET-1CEST", ""}, {"../../etc/passwd", ""},
    };
    for (const auto& [tz, zone] : cases) {
        ::setenv("TZ", tz, 1);
        EXPECT_EQ(datafile::MachineZone(), zone) << tz;
    }
    if (before)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
}

} // namespace
