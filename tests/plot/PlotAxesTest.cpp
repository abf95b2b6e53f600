// The chart puts series of another size than the rest against a second value axis.
#include "plot/PlotChart.h"

#include <gtest/gtest.h>

namespace {

TEST(PlotAxes, SeriesOfAnotherSizeGoRight)
{
    struct Case {
        const char* what;
        std::vector<double> maxima;
        std::vector<bool> right;
    };
    const Case cases[] = {
        {"alike", {25, 53, 18}, {false, false, false}},
        {"the demo unit's current loop", {25, 53, 0, 234, 22}, {false, false, false, true, false}},
        {"the few large ones go right, whichever side", {0.5, 900, 1000}, {true, false, false}},
        {"a steady spread has no gap to split at", {1, 2, 4, 8, 16, 32}, {false, false, false, false, false, false}},
    };
    for (const Case& c : cases) {
        std::vector<CPlotSummary> summaries;
        for (const double v : c.maxima)
            summaries.push_back({1, 0, 0, 0, v, {}});
        EXPECT_EQ(plotchart::RightAxisSeries(summaries), c.right) << c.what;
    }
}

} // namespace
