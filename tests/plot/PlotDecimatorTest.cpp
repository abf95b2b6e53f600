// The decimator: exact while the span fits, per-bucket minimum and maximum beyond, any order.
#include "plot/CPlotDecimator.h"

#include <gtest/gtest.h>

namespace {

TEST(PlotDecimator, KeepsMinimumAndMaximumPerBucketInTimeOrder)
{
    CPlotDecimator d(4);
    d.Add(0, 0, 5);
    d.Add(0, 1, 9);
    d.Add(0, 2, 1);
    d.Add(0, 3, 4);
    EXPECT_EQ(d.BucketWidth(), 1);
    EXPECT_EQ(d.Points(0).size(), 4u);
    d.Add(0, 4, 3); // five seconds no longer fit four one-second buckets
    EXPECT_EQ(d.BucketWidth(), 2);
    EXPECT_EQ(d.Points(0), (std::vector<CPlotPoint> {{0, 5}, {1, 9}, {2, 1}, {3, 4}, {4, 3}}));
    d.Add(0, 7, 0);
    d.Add(0, 6, 8);
    EXPECT_EQ(d.BucketCount(), 4);
    // [0,1]: min 5 at 0, max 9 at 1; [2,3]: min 1 at 2, max 4 at 3; [6,7]: max 8 at 6 before min 0 at 7.
    EXPECT_EQ(d.Points(0), (std::vector<CPlotPoint> {{0, 5}, {1, 9}, {2, 1}, {3, 4}, {4, 3}, {6, 8}, {7, 0}}));
    EXPECT_EQ(d.Summary(0).latest, (CPlotPoint {6, 8}));
}

TEST(PlotDecimator, EarlierTimesAndLaterSeriesFitTheSameBuckets)
{
    CPlotDecimator d(8);
    d.Add(1, 100, 1);
    d.Add(0, 90, 2);   // before the first bucket: the range grows to the left
    d.Add(0, -50, 3);  // before 1970
    EXPECT_LE(d.BucketCount(), 8);
    EXPECT_EQ(d.SeriesCount(), 2);
    EXPECT_EQ(d.Points(0), (std::vector<CPlotPoint> {{-50, 3}, {90, 2}}));
    EXPECT_EQ(d.Points(1), (std::vector<CPlotPoint> {{100, 1}}));
    EXPECT_EQ(d.Summary(0).tFirst, -50);
    EXPECT_EQ(d.Summary(0).tLast, 90);
    for (std::int64_t t = 0; t < 100000; t += 7)
        d.Add(2, t, static_cast<double>(t % 13));
    EXPECT_LE(d.BucketCount(), 8);
    EXPECT_LE(d.Points(2).size(), 16u);
    EXPECT_EQ(d.Summary(2).vMax, 12);
}

} // namespace
