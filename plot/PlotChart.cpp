#include "plot/PlotChart.h"

#include "collect/ColumnsSidecar.h"
#include "platform/TextBytes.h"
#include "plot/PlotLines.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace plotchart {

namespace {

constexpr int kMaxNameLength = 120;

// A text from a file, safe to show: control characters become blanks, and it is bounded.
QString PlainName(const std::string& bytes)
{
    QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(std::min<std::size_t>(bytes.size(), 4 * kMaxNameLength)));
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char(' ');
    text = text.simplified();
    if (text.size() > kMaxNameLength)
        text = text.left(kMaxNameLength - 1) + QChar(0x2026);
    return text;
}

QString ReportSeriesName(const CPlotReader::ReportSeries& s)
{
    QString name = PlainName(s.description);
    if (name.isEmpty())
        name = QStringLiteral("Sensor port %1").arg(PlainName(s.port));
    const QString unit = PlainName(s.unit);
    return unit.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, unit);
}

QString Plural(std::int64_t n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

QStringList SeriesNames(const CPlotReader& reader, const QStringList& columnNames)
{
    QStringList names;
    const int count = reader.Data().SeriesCount();
    for (int i = 0; i < count; ++i) {
        QString name;
        if (reader.FileKind() == CPlotReader::Kind::Report
            && i < static_cast<int>(reader.ReportSeriesInfo().size()))
            name = ReportSeriesName(reader.ReportSeriesInfo()[static_cast<std::size_t>(i)]);
        else if (reader.FileKind() == CPlotReader::Kind::DataFile && i < static_cast<int>(reader.Columns().SeriesCount())) {
            const int column = reader.Columns().UnnamedIndex(i);
            if (column < 0)
                name = PlainName(reader.Columns().Name(i));
            else if (column < columnNames.size() && !columnNames[column].trimmed().isEmpty())
                name = PlainName(columnNames[column].toStdString());
            else
                name = QStringLiteral("Column %1").arg(column + 1);
        }
        if (name.isEmpty())
            name = QStringLiteral("Column %1").arg(i + 1);
        names.append(name);
    }
    return names;
}

std::vector<bool> RightAxisSeries(const std::vector<CPlotSummary>& summaries)
{
    std::vector<bool> right(summaries.size(), false);
    // Each series' size: its largest value, however signed. All-zero series fit either axis.
    std::vector<std::pair<double, std::size_t>> sizes;
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        const double size = std::max(std::abs(summaries[i].vMin), std::abs(summaries[i].vMax));
        if (summaries[i].count > 0 && size > 0)
            sizes.emplace_back(std::log10(size), i);
    }
    if (sizes.size() < 2)
        return right;
    std::sort(sizes.begin(), sizes.end());
    if (sizes.back().first - sizes.front().first < std::log10(kAxisSplitRatio))
        return right;
    std::size_t cut = 0; // the gap after sizes[cut]
    for (std::size_t k = 0; k + 1 < sizes.size(); ++k)
        if (sizes[k + 1].first - sizes[k].first > sizes[cut + 1].first - sizes[cut].first)
            cut = k;
    if (sizes[cut + 1].first - sizes[cut].first < std::log10(kAxisGapRatio))
        return right;
    const std::size_t small = cut + 1, large = sizes.size() - small;
    const bool largeRight = large <= small;
    for (std::size_t k = 0; k < sizes.size(); ++k)
        if ((k > cut) == largeRight)
            right[sizes[k].second] = true;
    return right;
}

QString TextAlternative(const QStringList& names, const std::vector<CPlotSummary>& summaries,
                        const std::vector<bool>& onRight, const plottime::Clock& clock)
{
    QStringList lines;
    for (std::size_t i = 0; i < summaries.size() && i < static_cast<std::size_t>(names.size()); ++i) {
        const CPlotSummary& s = summaries[i];
        const QString& seriesName = names[static_cast<qsizetype>(i)];
        if (s.count == 0) {
            lines << QStringLiteral("%1: no values.").arg(seriesName);
            continue;
        }
        const bool right = i < onRight.size() && onRight[i];
        const QString name = right ? seriesName + QStringLiteral(" (right axis)") : seriesName;
        lines << QStringLiteral("%1: %2 from %3 to %4; minimum %5, maximum %6, latest %7 (%8).")
                     .arg(name, Plural(s.count, "value", "values"), FormatTime(static_cast<double>(clock.Local(s.tFirst))),
                          FormatTime(static_cast<double>(clock.Local(s.tLast))), FormatValue(s.vMin), FormatValue(s.vMax),
                          FormatValue(s.latest.v), FormatTime(static_cast<double>(clock.Local(s.latest.t))));
    }
    if (lines.isEmpty())
        return QStringLiteral("No values to plot.");
    return lines.join(QLatin1Char('\n'));
}

QString ReadOut(const QString& name, const std::vector<CPlotPoint>& points, double x,
                const plottime::Clock& clock)
{
    if (points.empty())
        return QString();
    auto it = std::lower_bound(points.begin(), points.end(), x,
                               [](const CPlotPoint& p, double t) { return static_cast<double>(p.t) < t; });
    if (it == points.end() || (it != points.begin() && x - static_cast<double>((it - 1)->t) < static_cast<double>(it->t) - x))
        --it;
    return QStringLiteral("%1: %2  %3").arg(name, FormatTime(static_cast<double>(clock.Local(it->t))), FormatValue(it->v));
}

QString SkippedText(const CPlotReader::Counters& c)
{
    QStringList skipped;
    if (c.malformed > 0)
        skipped << Plural(c.malformed, "line", "lines") + QStringLiteral(" not in a known format skipped");
    if (c.partial > 0)
        skipped << QStringLiteral("the last line is not complete yet");
    if (c.notNumbers > 0)
        skipped << Plural(c.notNumbers, "value", "values")
                + QLatin1String(c.notNumbers == 1 ? " that is not a number left out" : " that are not numbers left out");
    if (c.extraColumns > 0)
        skipped << Plural(c.extraColumns, "value", "values")
                + QStringLiteral(" past column %1 left out").arg(CPlotReader::kMaxSeries);
    return skipped.isEmpty() ? QString()
                             : Plural(c.lines, "line", "lines") + QStringLiteral(" read: ") + skipped.join(QStringLiteral("; "))
            + QLatin1Char('.');
}

QString NamesNote(const CPlotReader& reader)
{
    if (reader.FileKind() != CPlotReader::Kind::DataFile)
        return QString();
    const datafile::Sidecar& sidecar = reader.Columns().Contents();
    const QString name = platform::TextFromBytes(datafile::SidecarPath(platform::EscapedBytes(QFileInfo(reader.Path()).fileName())));
    const std::int64_t unnamed = reader.Count().unnamedValues;
    QStringList parts;
    if (sidecar.error != 0)
        parts << QStringLiteral("%1 could not be read (%2)").arg(name, QString::fromLocal8Bit(std::strerror(sidecar.error)));
    else if (!sidecar.found && unnamed > 0)
        parts << QStringLiteral("no %1 beside the file names the columns").arg(name);
    if (sidecar.dropped > 0)
        parts << QStringLiteral("%1 in %2 left out").arg(Plural(sidecar.dropped, "damaged entry", "damaged entries"), name);
    if (unnamed > 0)
        parts << Plural(unnamed, "value", "values") + QStringLiteral(" without a column name (\"Column n\")");
    if (parts.isEmpty())
        return QString();
    QString text = parts.join(QStringLiteral("; ")) + QLatin1Char('.');
    text[0] = text[0].toUpper();
    return text;
}

QString FormatValue(double v)
{
    return QString::number(v, 'g', 12);
}

QString FormatTime(double t)
{
    return QString::fromStdString(plotlines::FormatWallClock(static_cast<std::int64_t>(std::floor(t))));
}

} // namespace plotchart
