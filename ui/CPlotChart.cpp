#include "ui/CPlotChart.h"

#include "plot/CPlotReader.h"
#include "plot/PlotChart.h"
#include "plot/PlotTimeAxis.h"

#include <QCategoryAxis>
#include <QDateTime>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QScopedValueRollback>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

// Below this many points a line also marks each point, so one reading is not invisible.
constexpr std::size_t kMarkPointsBelow = 60;

// A value axis over lo..hi with a margin; readings that never go below zero keep zero as
// the axis's floor.
void SetValueRange(QValueAxis* axis, double lo, double hi)
{
    const double margin = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::abs(hi) * 0.05);
    axis->setRange(lo >= 0 && lo - margin < 0 ? 0 : lo - margin, hi + margin);
    axis->applyNiceNumbers();
}

} // namespace

bool CPlotChart::IsOnRightAxis(int series) const
{
    return series >= 0 && static_cast<std::size_t>(series) < m_onRight.size() && m_onRight[static_cast<std::size_t>(series)];
}

CPlotChart::CPlotChart(QGraphicsItem* parent) : QChart(parent)
{
    m_axisTime = new QCategoryAxis(this);
    m_axisTime->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    m_axisValue = new QValueAxis(this);
    addAxis(m_axisTime, Qt::AlignBottom);
    addAxis(m_axisValue, Qt::AlignLeft);
    m_axisRight = new QValueAxis(this);
    addAxis(m_axisRight, Qt::AlignRight);
    m_axisRight->setVisible(false);
    // Beside the chart, one entry a row: every name shows whole, "(right axis)" included (in a
    // row below, Qt Charts cuts each to its share of the width).
    legend()->setAlignment(Qt::AlignRight);
    legend()->setShowToolTips(true);
    connect(m_axisTime, &QValueAxis::rangeChanged, this, [this] {
        if (m_bSettingRange || m_bAxisUpdateQueued)
            return;
        // Zoomed by the view (drag, wheel): the ticks are rebuilt once the range has settled.
        m_bZoomed = true;
        m_bAxisUpdateQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_bAxisUpdateQueued = false;
            UpdateTimeAxis();
            emit ZoomChanged();
        });
    });
}

CPlotChart::~CPlotChart() = default;

void CPlotChart::SetData(const CPlotReader& reader, const QStringList& columnNames)
{
    const CPlotDecimator& data = reader.Data();
    const int count = data.SeriesCount();
    m_clock = reader.Times().Clock();
    // Adding series and axes moves the ranges too; only the user's moves are zooms.
    const QScopedValueRollback<bool> settingRange(m_bSettingRange, true);
    m_names = plotchart::SeriesNames(reader, columnNames);
    while (static_cast<int>(m_series.size()) < count) {
        const int index = static_cast<int>(m_series.size());
        auto* series = new QLineSeries(this);
        // Ten colours apart, where the theme's own repeat after five.
        static const QColor kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                          "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};
        series->setColor(kColours[index % std::size(kColours)]);
        addSeries(series);
        series->attachAxis(m_axisTime);
        series->attachAxis(m_axisValue);
        m_onRight.push_back(false);
        connect(series, &QLineSeries::hovered, this,
                [this, index](const QPointF& point, bool state) { OnHovered(index, point, state); });
        for (QLegendMarker* marker : legend()->markers(series))
            connect(marker, &QLegendMarker::clicked, this, [this, index] { ToggleSeries(index); });
        m_series.push_back(series);
    }
    m_full.assign(static_cast<std::size_t>(count), {});
    m_summaries.assign(static_cast<std::size_t>(count), {});
    for (int i = 0; i < count; ++i) {
        const auto si = static_cast<std::size_t>(i);
        m_full[si] = data.Points(i);
        m_summaries[si] = data.Summary(i);
    }
    const std::vector<bool> right = plotchart::RightAxisSeries(m_summaries);
    double lo = 0, hi = 0, rightLo = 0, rightHi = 0;
    bool anyLeft = false, anyRight = false, any = false;
    double tFrom = 0, tTo = 0;
    for (int i = 0; i < count; ++i) {
        const auto si = static_cast<std::size_t>(i);
        if (right[si] != m_onRight[si]) {
            m_series[si]->detachAxis(right[si] ? m_axisValue : m_axisRight);
            m_series[si]->attachAxis(right[si] ? m_axisRight : m_axisValue);
            m_onRight[si] = right[si];
        }
        // Qt Charts shows series names as rich text: the file's text goes in escaped.
        m_series[si]->setName(right[si] ? QStringLiteral("%1 (right axis)").arg(m_names[i].toHtmlEscaped())
                                        : m_names[i].toHtmlEscaped());
        const CPlotSummary& s = m_summaries[si];
        if (s.count == 0)
            continue;
        double& axisLo = right[si] ? rightLo : lo;
        double& axisHi = right[si] ? rightHi : hi;
        bool& axisAny = right[si] ? anyRight : anyLeft;
        axisLo = axisAny ? std::min(axisLo, s.vMin) : s.vMin;
        axisHi = axisAny ? std::max(axisHi, s.vMax) : s.vMax;
        axisAny = true;
        tFrom = any ? std::min(tFrom, static_cast<double>(s.tFirst)) : static_cast<double>(s.tFirst);
        tTo = any ? std::max(tTo, static_cast<double>(s.tLast)) : static_cast<double>(s.tLast);
        any = true;
    }
    if (!any) {
        // Nothing yet (a run's file before its first line): the last minute, in local time as
        // the collection writes it.
        const QDateTime local = QDateTime::currentDateTime();
        const auto now = static_cast<double>(local.toSecsSinceEpoch() + local.offsetFromUtc());
        tFrom = now - 60;
        tTo = now;
        lo = 0;
        hi = 1;
    }
    if (tTo - tFrom < 10) { // one reading, or a few seconds: a short span around them
        tFrom -= 5;
        tTo += 5;
    }
    SetValueRange(m_axisValue, lo, hi);
    m_axisRight->setVisible(anyRight);
    if (anyRight)
        SetValueRange(m_axisRight, rightLo, rightHi);
    ShowPoints();
    m_fullFrom = tFrom;
    m_fullTo = tTo;
    if (!m_bZoomed)
        SetFullRange();
    else
        UpdateTimeAxis();

    m_strNamesNote = plotchart::NamesNote(reader);
    m_strSkipped = plotchart::SkippedText(reader.Count());
}

void CPlotChart::SetDetail(const CPlotDecimator& detail, std::int64_t from, std::int64_t to)
{
    m_detail.assign(m_full.size(), {});
    for (int i = 0; i < std::min(detail.SeriesCount(), SeriesCount()); ++i)
        m_detail[static_cast<std::size_t>(i)] = detail.Points(i);
    m_nDetailFrom = from;
    m_nDetailTo = to;
    m_bDetail = true;
    ShowPoints();
}

void CPlotChart::ClearDetail()
{
    if (!m_bDetail)
        return;
    m_bDetail = false;
    m_detail.clear();
    ShowPoints();
}

void CPlotChart::ShowPoints()
{
    m_points.resize(m_full.size());
    for (std::size_t si = 0; si < m_full.size(); ++si) {
        std::vector<CPlotPoint>& shown = m_points[si];
        const std::vector<CPlotPoint>& full = m_full[si];
        std::size_t marked = full.size();
        if (!m_bDetail || si >= m_detail.size()) {
            shown = full;
        } else {
            const auto inside = [this](const CPlotPoint& p) { return p.t >= m_nDetailFrom; };
            const auto after = [this](const CPlotPoint& p) { return p.t > m_nDetailTo; };
            shown.assign(full.begin(), std::find_if(full.begin(), full.end(), inside));
            shown.insert(shown.end(), m_detail[si].begin(), m_detail[si].end());
            shown.insert(shown.end(), std::find_if(full.begin(), full.end(), after), full.end());
            marked = m_detail[si].size();
        }
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(shown.size()));
        for (const CPlotPoint& p : shown)
            points.append(QPointF(static_cast<double>(p.t), p.v));
        m_series[si]->replace(points);
        m_series[si]->setPointsVisible(marked < kMarkPointsBelow);
    }
}

void CPlotChart::SetFullRange()
{
    m_bZoomed = false;
    const QScopedValueRollback<bool> settingRange(m_bSettingRange, true);
    m_axisTime->setRange(m_fullFrom, m_fullTo);
    UpdateTimeAxis();
}

void CPlotChart::ResetZoom()
{
    {
        const QScopedValueRollback<bool> settingRange(m_bSettingRange, true);
        zoomReset();
        SetFullRange();
    }
    ClearDetail();
    emit ZoomChanged();
}

double CPlotChart::ShownFrom() const
{
    return m_axisTime->min();
}

double CPlotChart::ShownTo() const
{
    return m_axisTime->max();
}

void CPlotChart::ZoomTime(double factor, double centre)
{
    const double from = m_axisTime->min();
    const double to = m_axisTime->max();
    double newFrom = centre - (centre - from) * factor;
    double newTo = centre + (to - centre) * factor;
    if (newTo - newFrom < 10) // finer than the files' seconds shows nothing more
        return;
    m_bZoomed = true;
    const QScopedValueRollback<bool> settingRange(m_bSettingRange, true);
    m_axisTime->setRange(newFrom, newTo);
    UpdateTimeAxis();
    emit ZoomChanged();
}

void CPlotChart::UpdateTimeAxis()
{
    const double from = m_axisTime->min();
    const double to = m_axisTime->max();
    const int width = static_cast<int>(plotArea().width());
    const int maxTicks = std::clamp(width > 0 ? width / 110 : 8, 2, 12);
    const plottime::Axis axis = plottime::TimeAxis(static_cast<std::int64_t>(std::ceil(from)),
                                                   static_cast<std::int64_t>(std::floor(to)), maxTicks, m_clock);
    const QScopedValueRollback<bool> settingRange(m_bSettingRange, true);
    for (const QString& label : m_axisTime->categoriesLabels())
        m_axisTime->remove(label);
    m_axisTime->setStartValue(from);
    // A label at the very right end would be cut by the chart's edge.
    const double lastLabel = to - (to - from) * 0.04;
    for (const plottime::Tick& tick : axis.ticks)
        if (static_cast<double>(tick.t) <= lastLabel || axis.ticks.size() < 3)
            m_axisTime->append(QString::fromStdString(tick.label), static_cast<double>(tick.t));
    m_axisTime->setRange(from, to);
    // The title names the whole stretch shown, dates included, since the ticks may not.
    m_axisTime->setTitleText(QStringLiteral("%1 to %2, time as written (%3)")
                                 .arg(plotchart::FormatTime(static_cast<double>(m_clock.Local(static_cast<std::int64_t>(from)))),
                                      plotchart::FormatTime(static_cast<double>(m_clock.Local(static_cast<std::int64_t>(to)))), QString::fromStdString(axis.unit)));
}

void CPlotChart::ToggleSeries(int series)
{
    QLineSeries* s = Series(series);
    s->setVisible(!s->isVisible());
    // The legend keeps the entry, dimmed while its line is hidden, so it can be clicked back.
    for (QLegendMarker* marker : legend()->markers(s)) {
        marker->setVisible(true);
        QColor colour = marker->labelBrush().color();
        colour.setAlphaF(s->isVisible() ? 1.0 : 0.4);
        marker->setLabelBrush(colour);
    }
}

QString CPlotChart::ReadOut(int series, double x) const
{
    if (series < 0 || series >= SeriesCount())
        return QString();
    return plotchart::ReadOut(m_names[series], m_points[static_cast<std::size_t>(series)], x, m_clock);
}

void CPlotChart::OnHovered(int series, const QPointF& point, bool state)
{
    emit ReadOutChanged(state ? ReadOut(series, point.x()) : QString());
}

QString CPlotChart::TextAlternative() const
{
    return plotchart::TextAlternative(m_names, m_summaries, m_onRight, m_clock);
}
