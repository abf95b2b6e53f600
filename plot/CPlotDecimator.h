#pragma once
#include <cstdint>
#include <vector>

// One point of a plotted series. t counts seconds of the time as written in the file, read as
// if it were UTC: no time zone or daylight-saving rule moves it, so two files written in
// different zones plot exactly as their lines read.
struct CPlotPoint {
    std::int64_t t = 0;
    double v = 0;
    bool operator==(const CPlotPoint&) const = default;
};

// What one series holds over everything added, exact (not decimated).
struct CPlotSummary {
    std::int64_t count = 0;
    std::int64_t tFirst = 0; // earliest time
    std::int64_t tLast = 0;  // latest time
    double vMin = 0;
    double vMax = 0;
    CPlotPoint latest;       // the point added last (the file's last line)
};

// Keeps series of any length in bounded memory: time is cut into at most maxBuckets equal
// buckets (one per pixel column of a wide chart) and each bucket keeps, per series, only its
// minimum and maximum with their times, so a one-line spike stays visible. The bucket width
// starts at one second, the file's resolution, and doubles (neighbours merged) whenever the
// span would need more buckets; short files therefore keep every point.
class CPlotDecimator {
public:
    static constexpr int kDefaultBuckets = 4096;

    explicit CPlotDecimator(int maxBuckets = kDefaultBuckets);

    // series counts from 0; the caller bounds it (each series costs maxBuckets cells).
    void Add(int series, std::int64_t t, double v);
    void Clear();

    int SeriesCount() const { return static_cast<int>(m_series.size()); }
    // The series' points in time order: per bucket its minimum and maximum, earlier first (one
    // point when the bucket saw one value).
    std::vector<CPlotPoint> Points(int series) const;
    const CPlotSummary& Summary(int series) const { return m_series[static_cast<std::size_t>(series)].summary; }
    std::int64_t BucketWidth() const { return m_nWidth; }
    int BucketCount() const { return m_nCount; }
    int MaxBuckets() const { return m_nMaxBuckets; }

private:
    struct Cell {
        std::int64_t tMin = 0;
        std::int64_t tMax = 0;
        double vMin = 0;
        double vMax = 0;
        std::uint32_t n = 0;
    };
    struct Series {
        std::vector<Cell> cells; // m_nCount cells, bucket m_nBase first
        CPlotSummary summary;
    };
    static void Merge(Cell& into, const Cell& from);
    // Halves the resolution: bucket i becomes floor(i / 2).
    void Coarsen();
    // Makes bucket index idx (at the current width) part of the covered range.
    void Cover(std::int64_t& idx, std::int64_t t);

    const int m_nMaxBuckets;
    std::int64_t m_nWidth = 1; // seconds per bucket
    std::int64_t m_nBase = 0;  // index of the first bucket (time / width, rounded down)
    int m_nCount = 0;          // buckets covered
    std::vector<Series> m_series;
};
