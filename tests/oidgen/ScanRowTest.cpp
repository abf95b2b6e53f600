// Row presentation and the reading of numbers from value texts.
#include "oidgen/CSensorRow.h"
#include "oidgen/CSensorScan.h"

#include <gtest/gtest.h>

#include <climits>

TEST(SensorRow, PortLabelCountsFromOneAndArrayRowsShowArrayFirst)
{
    struct Case {
        int type, port, array;
        bool zeroBased;
        const char* label;
    };
    const Case cases[] = {
        {1, 0, 0, true, "Port 1"},   {1, 3, 0, true, "Port 4"},   {1, 3, 0, false, "Port 3"},
        {0, 7, 0, true, "Port 8"},   {5, 8, 0, false, "Port 8"},  {13, 0, 1, true, "Port 1.1"},
        {13, 3, 8, true, "Port 8.4"}, {13, 8, 2, false, "Port 2.8"}
    };
    for (const Case& c : cases) {
        CSensorRow row;
        row.m_nType = c.type;
        row.m_nPort = c.port;
        row.m_nArray = c.array;
        EXPECT_EQ(row.FormatPortLabel(c.zeroBased), c.label);
    }
}

TEST(SensorRow, StatusLabelAndIcon)
{
    CSensorRow row;
    EXPECT_EQ(row.FormatStatusLabel(), "Online");
    row.m_bOnline = false;
    EXPECT_EQ(row.FormatStatusLabel(), "Offline");

    const std::pair<int, int> icons[] = {{1, 0}, {13, 0}, {3, 1}, {8, 2}, {5, 3}, {0, 3}, {2, 3}, {-1, 3}, {255, 3}};
    for (const auto& [type, icon] : icons) {
        row.m_nType = type;
        EXPECT_EQ(row.IconIndex(), icon) << "type " << type;
    }
}

TEST(SensorScan, ValueNumberReadsLeadingBlanksSignAndDigits)
{
    const std::pair<const char*, int> cases[] = {
        {"1", 1},           {"0", 0},          {"  -3x", -3},       {"+7", 7},          {"\t 12 34", 12},
        {"abc", 0},         {"", 0},           {"-", 0},            {"0x10", 0},        {"2147483647", INT_MAX},
        {"99999999999", INT_MAX}, {"-2147483648", INT_MIN}, {"-99999999999", INT_MIN}, {" +-1", 0},
    };
    for (const auto& [text, number] : cases)
        EXPECT_EQ(CSensorScan::ValueNumber(text), number) << '"' << text << '"';
}

TEST(SensorScan, FreshScanStartsZeroBasedWithoutSubTables)
{
    const CSensorScan scan;
    EXPECT_TRUE(scan.m_bZeroBasedPorts);
    EXPECT_FALSE(scan.m_bHasSubTables);
    EXPECT_EQ(scan.m_nSensorCount, 0);
    EXPECT_EQ(scan.m_nPortCount, 0);
    EXPECT_TRUE(scan.m_rows.empty());
}
