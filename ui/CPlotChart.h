#pragma once
#include "plot/CPlotDecimator.h"
#include "plot/PlotTimeAxis.h"

#include <QChart>
#include <QStringList>

#include <vector>

class CPlotReader;
class QCategoryAxis;
class QLineSeries;
class QValueAxis;

// The chart of a data file or a report: one line per series against time, a time axis whose
// ticks fall on round times in the unit that fits the span shown, a legend whose entries hide
// and show their series, and the texts that go with it (summary for assistive technology,
// counts of skipped lines, read-out of a point), which plot/PlotChart.h works out. Widgets-free
// apart from Qt Charts' own graphics items, so the window and the off-screen renderer share it.
class CPlotChart : public QChart {
    Q_OBJECT
public:
    explicit CPlotChart(QGraphicsItem* parent = nullptr);
    ~CPlotChart() override;

    // Takes the reader's series. Data-file series are named from the file's column sidecar;
    // a column no sidecar record names takes columnNames' entry (sensors the caller knows), or
    // "Column N". Report series by description and unit. Keeps the zoom the user chose;
    // otherwise shows everything. Series whose values are of another size than the others (a
    // current near 230 beside temperatures near 20) are drawn against a second value axis on
    // the right, so each stays readable.
    void SetData(const CPlotReader& reader, const QStringList& columnNames = {});

    int SeriesCount() const { return static_cast<int>(m_series.size()); }
    // As read from the file (plain text; the legend gets it escaped).
    QString SeriesName(int series) const { return m_names.value(series); }
    QLineSeries* Series(int series) const { return m_series[static_cast<std::size_t>(series)]; }

    // The chart as text: each series' name, first and last time, minimum, maximum and latest
    // value; or that there is nothing to plot.
    QString TextAlternative() const;
    // What was skipped and why, for under the chart; empty when nothing was.
    QString SkippedText() const { return m_strSkipped; }
    // Which columns have no name and why (no sidecar, entries of it damaged); empty when every
    // value is named.
    QString NamesNote() const { return m_strNamesNote; }
    // True when the series is drawn against the right value axis (plotchart::RightAxisSeries).
    bool IsOnRightAxis(int series) const;
    // "<series>: <time>  <value>" for the point of series nearest to time x (seconds).
    QString ReadOut(int series, double x) const;

    // Zooms the time axis by factor (below 1 zooms in) keeping time centre in place.
    void ZoomTime(double factor, double centre);
    // Back to the whole file; the detail goes.
    void ResetZoom();
    // Shows detail's points for the times from..to in place of the whole file's decimated ones
    // (which still draw the rest), until the zoom is reset; new data keeps it.
    void SetDetail(const CPlotDecimator& detail, std::int64_t from, std::int64_t to);
    void ClearDetail();
    bool HasDetail() const { return m_bDetail; }
    bool IsZoomed() const { return m_bZoomed; }
    // The time range shown.
    double ShownFrom() const;
    double ShownTo() const;

signals:
    // A point's read-out under the pointer; empty when the pointer left the line.
    void ReadOutChanged(const QString& text);
    // The user zoomed (wheel, drag, keys) or reset the zoom.
    void ZoomChanged();

private:
    void OnHovered(int series, const QPointF& point, bool state);
    void ToggleSeries(int series);
    // Rebuilds the time axis's ticks for the range shown (after zoom or new data).
    void UpdateTimeAxis();
    void SetFullRange();
    // The series' points: the whole file's, with the detail in its range.
    void ShowPoints();

    QCategoryAxis* m_axisTime = nullptr;
    QValueAxis* m_axisValue = nullptr;
    QValueAxis* m_axisRight = nullptr;
    std::vector<bool> m_onRight;
    std::vector<QLineSeries*> m_series; // owned by the chart
    std::vector<std::vector<CPlotPoint>> m_full;   // the whole file, decimated
    std::vector<std::vector<CPlotPoint>> m_detail; // a zoomed range at full resolution
    std::vector<std::vector<CPlotPoint>> m_points; // as shown
    std::int64_t m_nDetailFrom = 0;
    std::int64_t m_nDetailTo = 0;
    bool m_bDetail = false;
    std::vector<CPlotSummary> m_summaries;
    plottime::Clock m_clock; // the reader's instants as the file wrote them
    QStringList m_names;
    QString m_strSkipped;
    QString m_strNamesNote;
    double m_fullFrom = 0;
    double m_fullTo = 1;
    bool m_bZoomed = false;
    bool m_bSettingRange = false;
    bool m_bAxisUpdateQueued = false;
};
