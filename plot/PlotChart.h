#pragma once
#include "plot/CPlotDecimator.h"
#include "plot/CPlotReader.h"
#include "plot/PlotTimeAxis.h"

#include <QString>
#include <QStringList>

#include <vector>

// What the chart of a data file or a report works out without a toolkit: the series' names,
// which of them go on the right value axis, the chart as text, a point's read-out and the notes
// under the chart. The window's chart (ui/CPlotChart) draws from these.
namespace plotchart {

// The series' names, as plain text. Data-file series are named from the file's column sidecar;
// a column no sidecar record names takes columnNames' entry (sensors the caller knows), or
// "Column N". Report series by description and unit.
QStringList SeriesNames(const CPlotReader& reader, const QStringList& columnNames);

// Which series go on the right axis, from the largest value (by size) of each: split at the
// widest gap in order of size when the largest is more than kAxisSplitRatio times the
// smallest and the gap alone is a factor of kAxisGapRatio; the group with fewer series goes
// right. Series that are all zero, or have no values, stay left.
std::vector<bool> RightAxisSeries(const std::vector<CPlotSummary>& summaries);
constexpr double kAxisSplitRatio = 8;
constexpr double kAxisGapRatio = 3;

// The chart as text: each series' name, first and last time, minimum, maximum and latest
// value; or that there is nothing to plot. Times read as clock gives them back (as written).
QString TextAlternative(const QStringList& names, const std::vector<CPlotSummary>& summaries,
                        const std::vector<bool>& onRight, const plottime::Clock& clock = {});
// "<name>: <time>  <value>" for the point nearest to instant x (seconds), its time as written;
// empty without points.
QString ReadOut(const QString& name, const std::vector<CPlotPoint>& points, double x,
                const plottime::Clock& clock = {});
// What was skipped and why, for under the chart; empty when nothing was.
QString SkippedText(const CPlotReader::Counters& count);
// Which columns of a data file have no name and why (no sidecar, entries of it damaged);
// empty when every value is named, and for a report.
QString NamesNote(const CPlotReader& reader);

// The value and time texts as the chart shows them.
QString FormatValue(double v);
QString FormatTime(double t);

} // namespace plotchart
