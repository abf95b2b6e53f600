#include "plot/CPlotDecimator.h"

#include <algorithm>

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

CPlotDecimator::CPlotDecimator(int maxBuckets) : m_nMaxBuckets(std::max(2, maxBuckets)) {}

void CPlotDecimator::Clear()
{
    m_nWidth = 1;
    m_nBase = 0;
    m_nCount = 0;
    m_series.clear();
}

void CPlotDecimator::Merge(Cell& into, const Cell& from)
{
    if (from.n == 0)
        return;
    if (into.n == 0) {
        into = from;
        return;
    }
    // Ties keep the earlier time, so a flat stretch plots from its start.
    if (from.vMin < into.vMin || (from.vMin == into.vMin && from.tMin < into.tMin)) {
        into.vMin = from.vMin;
        into.tMin = from.tMin;
    }
    if (from.vMax > into.vMax || (from.vMax == into.vMax && from.tMax < into.tMax)) {
        into.vMax = from.vMax;
        into.tMax = from.tMax;
    }
    into.n = from.n > UINT32_MAX - into.n ? UINT32_MAX : into.n + from.n;
}

void CPlotDecimator::Coarsen()
{
    const std::int64_t newBase = FloorDiv(m_nBase, 2);
    const int newCount = static_cast<int>(FloorDiv(m_nBase + m_nCount - 1, 2) - newBase + 1);
    for (Series& s : m_series) {
        std::vector<Cell> merged(static_cast<std::size_t>(newCount));
        for (int i = 0; i < m_nCount; ++i)
            Merge(merged[static_cast<std::size_t>(FloorDiv(m_nBase + i, 2) - newBase)], s.cells[static_cast<std::size_t>(i)]);
        s.cells = std::move(merged);
    }
    m_nBase = newBase;
    m_nCount = newCount;
    m_nWidth *= 2;
}

void CPlotDecimator::Cover(std::int64_t& idx, std::int64_t t)
{
    if (m_nCount == 0) {
        m_nBase = idx;
        m_nCount = 1;
        for (Series& s : m_series)
            s.cells.assign(1, Cell());
        return;
    }
    for (;;) {
        const std::int64_t lo = std::min(m_nBase, idx);
        const std::int64_t hi = std::max(m_nBase + m_nCount - 1, idx);
        if (hi - lo + 1 <= m_nMaxBuckets)
            break;
        Coarsen();
        idx = FloorDiv(t, m_nWidth);
    }
    if (idx < m_nBase) {
        const auto grow = static_cast<std::size_t>(m_nBase - idx);
        for (Series& s : m_series)
            s.cells.insert(s.cells.begin(), grow, Cell());
        m_nBase = idx;
        m_nCount += static_cast<int>(grow);
    } else if (idx >= m_nBase + m_nCount) {
        m_nCount = static_cast<int>(idx - m_nBase + 1);
        for (Series& s : m_series)
            s.cells.resize(static_cast<std::size_t>(m_nCount));
    }
}

void CPlotDecimator::Add(int series, std::int64_t t, double v)
{
    if (series < 0)
        return;
    while (SeriesCount() <= series) {
        m_series.emplace_back();
        m_series.back().cells.resize(static_cast<std::size_t>(m_nCount));
    }
    std::int64_t idx = FloorDiv(t, m_nWidth);
    Cover(idx, t);
    Series& s = m_series[static_cast<std::size_t>(series)];
    Merge(s.cells[static_cast<std::size_t>(idx - m_nBase)], Cell {t, t, v, v, 1});

    CPlotSummary& sum = s.summary;
    if (sum.count == 0) {
        sum.tFirst = sum.tLast = t;
        sum.vMin = sum.vMax = v;
    } else {
        sum.tFirst = std::min(sum.tFirst, t);
        sum.tLast = std::max(sum.tLast, t);
        sum.vMin = std::min(sum.vMin, v);
        sum.vMax = std::max(sum.vMax, v);
    }
    ++sum.count;
    sum.latest = {t, v};
}

std::vector<CPlotPoint> CPlotDecimator::Points(int series) const
{
    std::vector<CPlotPoint> points;
    if (series < 0 || series >= SeriesCount())
        return points;
    for (const Cell& c : m_series[static_cast<std::size_t>(series)].cells) {
        if (c.n == 0)
            continue;
        if (c.n == 1 || (c.tMin == c.tMax && c.vMin == c.vMax)) {
            points.push_back({c.tMin, c.vMin});
        } else if (c.tMin <= c.tMax) {
            points.push_back({c.tMin, c.vMin});
            points.push_back({c.tMax, c.vMax});
        } else {
            points.push_back({c.tMax, c.vMax});
            points.push_back({c.tMin, c.vMin});
        }
    }
    return points;
}
