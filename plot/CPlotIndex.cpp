#include "plot/CPlotIndex.h"

#include <algorithm>

void CPlotIndex::Clear()
{
    m_stretches.clear();
    m_nStride = kFirstStride;
}

void CPlotIndex::Add(std::int64_t lineBegin, std::int64_t t, int series)
{
    if (!m_stretches.empty() && lineBegin - m_stretches.back().begin < m_nStride) {
        Stretch& last = m_stretches.back();
        last.tMin = std::min(last.tMin, t);
        last.tMax = std::max(last.tMax, t);
        return;
    }
    if (m_stretches.size() >= static_cast<std::size_t>(kMaxStretches)) {
        // Full: pairs merge (the first keeps its start and series), and stretches get longer.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < m_stretches.size(); i += 2) {
            Stretch merged = m_stretches[i];
            if (i + 1 < m_stretches.size()) {
                merged.tMin = std::min(merged.tMin, m_stretches[i + 1].tMin);
                merged.tMax = std::max(merged.tMax, m_stretches[i + 1].tMax);
            }
            m_stretches[kept++] = merged;
        }
        m_stretches.resize(kept);
        m_nStride *= 2;
    }
    m_stretches.push_back({lineBegin, t, t, series});
}

std::vector<CPlotIndex::Span> CPlotIndex::SpansFor(std::int64_t from, std::int64_t to, std::int64_t end) const
{
    std::vector<Span> spans;
    for (std::size_t i = 0; i < m_stretches.size(); ++i) {
        const Stretch& s = m_stretches[i];
        if (s.tMax < from || s.tMin > to || s.begin >= end)
            continue;
        const std::int64_t stop = std::min(end, i + 1 < m_stretches.size() ? m_stretches[i + 1].begin : end);
        if (!spans.empty() && spans.back().end == s.begin)
            spans.back().end = stop;
        else
            spans.push_back({s.begin, stop, s.series, s.tMin});
    }
    return spans;
}
