// The exposition page: which value texts are numbers, label values from hostile bytes, and
// families kept in one piece.
#include "ExporterTestSupport.h"
#include "exporter/CMetricsText.h"

#include <gtest/gtest.h>

TEST(MetricsText, OnlyPlainNumbersAreValues)
{
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"23", 23},       {"-40", -40},     {"+7", 7},          {"21.5", 21.5},    {"1e3", 1000},
        {"0", 0},         {"4294967295", 4294967295.0},         {"", std::nullopt}, {"abc", std::nullopt},
        {"0f41", std::nullopt},              {" 23", std::nullopt}, {"23 ", std::nullopt}, {"1,5", std::nullopt},
        {"nan", std::nullopt}, {"inf", std::nullopt}, {"-inf", std::nullopt}, {"1e999", std::nullopt},
        {"+-1", std::nullopt}, {"+", std::nullopt}, {"0x10", std::nullopt}, {"01 FF ", std::nullopt},
        {"192.168.0.1", std::nullopt},       {".1.3.6.1", std::nullopt},
    };
    for (const auto& [text, number] : cases)
        EXPECT_EQ(CMetricsText::Number(text), number) << '"' << text << '"';
}

TEST(MetricsText, LabelValuesAreEscapedAndValidUtf8)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Rack 2 inlet", "Rack 2 inlet"},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"C:\\temp", "C:\\\\temp"},
        {"two\nlines", "two\\nlines"},
        {"Temp\xc3\xa9rature", "Temp\xc3\xa9rature"},
        {"bad \xff byte", "bad \xef\xbf\xbd byte"},
        {"cut \xc3", "cut \xef\xbf\xbd"},
    };
    for (const auto& [bytes, escaped] : cases)
        EXPECT_EQ(CMetricsText::EscapeLabelValue(bytes), escaped);
}

TEST(MetricsText, FamiliesStayInOnePieceAndPromtoolAcceptsThePage)
{
    CMetricsText page;
    page.Gauge("veltrane_first", "First.");
    page.Gauge("veltrane_second", "Second.");
    page.Sample("veltrane_second", {{"unit", "x"}}, 1);
    page.Sample("veltrane_first", {{"unit", "x"}, {"description", "odd \"\\\n\xff"}}, 2.5);
    page.Sample("veltrane_second", {{"unit", "y"}}, 0);
    page.Sample("veltrane_first", {}, -3);
    EXPECT_EQ(page.Text(), "# HELP veltrane_first First.\n# TYPE veltrane_first gauge\n"
                           "veltrane_first{unit=\"x\",description=\"odd \\\"\\\\\\n\xef\xbf\xbd\"} 2.5\n"
                           "veltrane_first -3\n"
                           "# HELP veltrane_second Second.\n# TYPE veltrane_second gauge\n"
                           "veltrane_second{unit=\"x\"} 1\nveltrane_second{unit=\"y\"} 0\n");
    bool skipped = false;
    EXPECT_EQ(PromtoolProblems(page.Text(), skipped), "");
    if (skipped)
        GTEST_SKIP() << "promtool is not installed (Debian package prometheus)";
}
