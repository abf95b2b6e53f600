#pragma once
#include <cstdint>
#include <vector>

// Where in the file each stretch of time lies, so that a zoomed view reads only the stretches
// that can hold its range instead of the whole file. Each stretch keeps its first byte, the
// earliest and latest time of its lines and the report series its first line went to. Lines out
// of time order only widen their stretch's times (a range then reads more, never less).
// Bounded like the decimator: at most kMaxStretches; when full, neighbours merge and new
// stretches grow twice as long.
class CPlotIndex {
public:
    static constexpr int kMaxStretches = 4096;
    static constexpr std::int64_t kFirstStride = 4096; // bytes

    struct Stretch {
        std::int64_t begin = 0;
        std::int64_t tMin = 0;
        std::int64_t tMax = 0;
        int series = 0;
    };
    // Bytes [begin, end) to read; series as for Stretch.
    struct Span {
        std::int64_t begin = 0;
        std::int64_t end = 0;
        int series = 0;
        std::int64_t tMin = 0; // the earliest time of its first stretch
        bool operator==(const Span&) const = default;
    };

    // A line timed t starts at byte lineBegin; lines must come in file order.
    void Add(std::int64_t lineBegin, std::int64_t t, int series);
    void Clear();

    // The byte ranges of [0, end) that hold every line timed from..to, neighbours joined.
    std::vector<Span> SpansFor(std::int64_t from, std::int64_t to, std::int64_t end) const;
    int Count() const { return static_cast<int>(m_stretches.size()); }

private:
    std::vector<Stretch> m_stretches;
    std::int64_t m_nStride = kFirstStride;
};
