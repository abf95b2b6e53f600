#include "plot/OpenMetricsExport.h"

#include "collect/ColumnsSidecar.h"
#include "collect/DataFileFormat.h"
#include "download/ReportHeader.h"
#include "oidgen/SensorSeries.h"
#include "oidgen/CSensorRow.h"
#include "oidgen/OidTemplates.h"
#include "platform/RegularFile.h"
#include "platform/TextBytes.h"
#include "platform/CWholeFile.h"
#include "plot/LineTimes.h"
#include "plot/PlotLines.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace openmetrics {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
constexpr std::size_t kMaxLineLength = 64 * 1024;
constexpr std::size_t kOutBuffer = 256 * 1024;
constexpr std::size_t kMaxSeries = 100000;   // in the whole file
constexpr std::size_t kMaxSourceSeries = 1024; // of one input (a crafted report could name millions)

// A label value as the exposition formats write it: invalid UTF-8 replaced, \ " and line feed
// escaped (as the exporter's page does).
void AppendLabelValue(std::string& out, const std::string& bytes)
{
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const std::string text =
        ascii ? bytes : QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
}

std::string LabelText(const std::vector<std::pair<const char*, std::string>>& labels)
{
    std::string text;
    for (const auto& [name, value] : labels) {
        if (!text.empty())
            text += ',';
        text += name;
        text += "=\"";
        AppendLabelValue(text, value);
        text += '"';
    }
    return text;
}

// One input: its lines, parsed as they come, one line of samples at a time.
class CSource {
public:
    struct Sample {
        int series; // this source's series
        double value;
    };

    CSource(const QString& path, const Options& options, Result& result)
        : m_options(options), m_result(result), m_times(options.zone)
    {
        m_path = platform::EscapedBytes(path);
        for (const auto& [p, channel] : options.channels)
            if (p == path)
                m_channel = channel;
        // The download's name for a report: <address>_p<n>_<type>.txt.
        const std::string name = platform::EscapedBytes(QFileInfo(path).fileName());
        const std::size_t p = name.find("_p");
        if (p != std::string::npos) {
            const std::size_t u = name.find('_', p + 2);
            if (u != std::string::npos && name.ends_with(".txt"))
                m_reportType = name.substr(u + 1, name.size() - u - 5);
        }
        if (name.starts_with(datafile::kNamePrefix) && name.ends_with(datafile::kNameSuffix))
            m_fileAddress = name.substr(datafile::kNamePrefix.size(),
                                        name.size() - datafile::kNamePrefix.size() - datafile::kNameSuffix.size());
    }
    ~CSource()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    int Open()
    {
        if (m_path.empty())
            return EINVAL;
        const platform::OpenedFile opened = platform::OpenRegularFile(m_path);
        if (opened.fd < 0)
            return opened.Errno();
        m_fd = opened.fd;
        m_map = datafile::CColumnMap(datafile::ReadSidecar(datafile::SidecarPath(m_path)));
        m_times.SetRecords(m_map.Contents().records);
        m_buffer.resize(kChunk);
        return 0;
    }

    // Moves to the next line with samples; false at the end (or an error, set in Error()).
    bool Next()
    {
        m_samples.clear();
        std::string_view line;
        while (NextLine(line)) {
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (!line.empty() && TakeLine(line) && !m_samples.empty())
                return true;
            m_samples.clear();
        }
        return false;
    }
    std::int64_t Time() const { return m_nTime; }
    const std::vector<Sample>& Samples() const { return m_samples; }
    // The label text of a series of this source.
    const std::string& Labels(int series) const { return m_labels[static_cast<std::size_t>(series)]; }
    int Error() const { return m_nError; }
    const std::string& Path() const { return m_path; }
    const CLineTimes& Times() const { return m_times; }

private:
    enum class Kind { Unknown, Data, Report };

    bool NextLine(std::string_view& line)
    {
        for (;;) {
            if (m_nPos < m_nFill) {
                const char* p = m_buffer.data() + m_nPos;
                const auto* nl = static_cast<const char*>(std::memchr(p, '\n', m_nFill - m_nPos));
                const std::size_t piece = nl ? static_cast<std::size_t>(nl - p) : m_nFill - m_nPos;
                m_nLineStart = m_nNextLineStart;
                if (nl) {
                    m_nPos += piece + 1;
                    m_nNextLineStart = m_nOffset - static_cast<std::int64_t>(m_nFill - m_nPos);
                    if (m_bSkipping) {
                        m_bSkipping = false;
                        m_carry.clear();
                        continue;
                    }
                    if (m_carry.empty()) {
                        line = std::string_view(p, piece);
                    } else {
                        m_carry.append(p, piece);
                        m_line.swap(m_carry);
                        m_carry.clear();
                        line = m_line;
                    }
                    return true;
                }
                m_nPos = m_nFill;
                if (!m_bSkipping && m_carry.size() + piece <= kMaxLineLength)
                    m_carry.append(p, piece);
                else
                    m_bSkipping = true, m_carry.clear();
            }
            if (m_bEnd)
                return false;
            const ssize_t n = ::pread(m_fd, m_buffer.data(), m_buffer.size(), m_nOffset);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_nError = n < 0 ? errno : 0;
                m_bEnd = true;
                // A last line without its line end (a run still writing) is taken as it is.
                if (!m_carry.empty() && !m_bSkipping) {
                    m_line.swap(m_carry);
                    m_carry.clear();
                    line = m_line;
                    m_nLineStart = m_nNextLineStart;
                    return true;
                }
                return false;
            }
            m_nOffset += n;
            m_nFill = static_cast<std::size_t>(n);
            m_nPos = 0;
        }
    }

    bool Number(std::string_view text, double& value)
    {
        const std::optional<double> v = plotlines::ParseNumber(text);
        if (!v) {
            ++m_result.notNumbers;
            return false;
        }
        value = *v;
        return true;
    }

    bool TakeLine(std::string_view line)
    {
        std::int64_t t;
        if (m_kind != Kind::Report && plotlines::ParseDataLine(line, t, m_values)) {
            m_kind = Kind::Data;
            m_map.Resolve(t, m_nLineStart, m_values.size(), m_seriesOf);
            m_nTime = m_times.DataLine(m_map.Record(), t);
            for (std::size_t i = 0; i < m_values.size(); ++i) {
                const int s = m_seriesOf[i];
                if (s < 0 || !m_map.IsNamed(s) || m_map.SeriesColumn(s).oid.empty()) {
                    ++m_result.unnamed;
                    continue;
                }
                double v;
                if (!Number(m_values[i], v))
                    continue;
                if (const int series = DataSeries(s); series >= 0)
                    m_samples.push_back({series, v});
                else
                    ++m_result.unnamed;
            }
            return true;
        }
        if (m_kind == Kind::Data)
            return false;
        std::string_view text;
        if (plotlines::ParseReportRecord(line, t, text)) {
            m_kind = Kind::Report;
            m_nTime = m_times.ReportLine(t);
            double v;
            if (!Number(text, v))
                return true;
            if (const int series = ReportSeries(); series >= 0)
                m_samples.push_back({series, v});
            else
                ++m_result.unnamed;
            return true;
        }
        const plotlines::HeaderLine h = plotlines::ParseReportHeader(line, text);
        if (h == plotlines::HeaderLine::None)
            return false;
        m_kind = Kind::Report;
        if (h == plotlines::HeaderLine::Start)
            m_header = {};
        else if (h == plotlines::HeaderLine::Description)
            m_header.description.assign(text);
        else if (h == plotlines::HeaderLine::Port)
            m_header.port.assign(text);
        else if (line.starts_with(reportheader::kSystemName))
            m_header.system.assign(line.substr(reportheader::kSystemName.size()));
        else if (line.starts_with(reportheader::kCurrentTime))
            m_times.ReportHeader(line.substr(reportheader::kCurrentTime.size()), m_nLineStart);
        else if (const std::size_t a = line.find(reportheader::kAddress); a != std::string_view::npos && h == plotlines::HeaderLine::Other
                 && line.find(reportheader::kLabelEnd) == std::string_view::npos)
            m_header.address.assign(line.substr(a + reportheader::kAddress.size()));
        m_nReportSeries = -1;
        return false;
    }

    int AddSeries(std::string key, std::vector<std::pair<const char*, std::string>> labels)
    {
        const auto it = m_seriesByKey.find(key);
        if (it != m_seriesByKey.end())
            return it->second;
        if (m_labels.size() >= kMaxSourceSeries)
            return -1;
        const int index = static_cast<int>(m_labels.size());
        m_labels.push_back(LabelText(labels));
        m_seriesByKey.emplace(std::move(key), index);
        return index;
    }

    std::string Unit(const std::string& own)
    {
        if (!m_options.unit.empty())
            return m_options.unit;
        if (own.empty() && m_result.problem.empty())
            m_result.problem = m_path + ": the file does not name its unit: give --unit NAME (as the exporter's configuration names it)";
        return own;
    }

    int DataSeries(int s)
    {
        if (static_cast<std::size_t>(s) < m_dataSeries.size() && m_dataSeries[static_cast<std::size_t>(s)] >= 0)
            return m_dataSeries[static_cast<std::size_t>(s)];
        const datafile::Column& c = m_map.SeriesColumn(s);
        const std::string address = !m_options.address.empty() ? m_options.address : m_fileAddress;
        if (address.empty() && m_result.problem.empty())
            m_result.problem = m_path + ": the file's name does not carry the unit's address: give --address ADDRESS";
        const int index = AddSeries("oid:" + c.oid,
                                    {{sensorseries::kUnit, Unit({})}, {sensorseries::kAddress, address},
                                     {sensorseries::kPort, c.port}, {sensorseries::kDescription, c.description},
                                     {sensorseries::kType, TypeCode(c.oid, c.type)}, {sensorseries::kOid, c.oid}});
        if (index < 0)
            return -1;
        if (m_dataSeries.size() <= static_cast<std::size_t>(s))
            m_dataSeries.resize(static_cast<std::size_t>(s) + 1, -1);
        return m_dataSeries[static_cast<std::size_t>(s)] = index;
    }

    int ReportSeries()
    {
        if (m_nReportSeries >= 0)
            return m_nReportSeries;
        int portNumber = 0;
        std::from_chars(m_header.port.data(), m_header.port.data() + m_header.port.size(), portNumber);
        // Without the download's channel, a temperature is the port's table-16 sensor.
        const int channel = m_channel >= 0 ? m_channel : (m_reportType == "temperature" ? 0 : 1);
        const TiedSensor tied = TieChannel(portNumber - 1, channel, m_options.oneBased);
        const std::string type = channel == 0 ? "1" : TypeCode(tied.oid, m_reportType);
        const std::string address = m_header.address.empty() ? m_options.address : m_header.address;
        return m_nReportSeries = AddSeries(
                   m_header.port + '\n' + m_header.description + '\n' + m_header.system + '\n' + address,
                   {{sensorseries::kUnit, Unit(m_header.system)}, {sensorseries::kAddress, address},
                    {sensorseries::kPort, tied.port}, {sensorseries::kDescription, m_header.description},
                    {sensorseries::kType, type}, {sensorseries::kOid, tied.oid}});
    }

    const Options& m_options;
    Result& m_result;
    std::string m_path;
    int m_fd = -1;
    int m_nError = 0;
    std::vector<char> m_buffer;
    std::size_t m_nFill = 0, m_nPos = 0;
    std::int64_t m_nOffset = 0, m_nLineStart = 0, m_nNextLineStart = 0;
    bool m_bEnd = false, m_bSkipping = false;
    std::string m_carry, m_line;
    Kind m_kind = Kind::Unknown;
    datafile::CColumnMap m_map;
    CLineTimes m_times;
    std::vector<std::string_view> m_values;
    std::vector<int> m_seriesOf;
    std::vector<int> m_dataSeries; // the map's series -> this source's
    struct Header {
        std::string port, description, system, address;
    } m_header;
    int m_nReportSeries = -1;
    int m_channel = -1;
    std::string m_reportType, m_fileAddress;
    std::vector<std::string> m_labels;
    std::unordered_map<std::string, int> m_seriesByKey;
    std::int64_t m_nTime = 0;
    std::vector<Sample> m_samples;
};

} // namespace

TiedSensor TieChannel(int portIndex, int channel, bool oneBased)
{
    const int index = oneBased ? portIndex + 1 : portIndex;
    return {"Port " + std::to_string(portIndex + 1),
            ExpandedOid(channel == 0 ? oidtpl::kTable16Value : oidtpl::kTable17Value, index)};
}

std::string TypeCode(const std::string& oid, const std::string& typeName)
{
    const std::string prefix = oidtpl::OemPrefix() + ".1.2.2.1.";
    if (!oid.starts_with(prefix))
        return "0";
    const std::string_view rest = std::string_view(oid).substr(prefix.size());
    if (rest.starts_with("16.1.3."))
        return "1";
    if (rest.starts_with("19.33."))
        return "13";
    if (rest.starts_with("19."))
        return "0";
    // Table 17: the unit's type, known here by its name ("airflow" names 8 and 10: 8).
    CSensorRow row;
    for (row.m_nType = 1; row.m_nType <= 16; ++row.m_nType)
        if (!typeName.empty() && row.TypeName() == typeName && row.m_nType != 13)
            return std::to_string(row.m_nType);
    return "0";
}

Result Export(const std::vector<QString>& inputs, const std::string& out, const Options& options)
{
    Result result;
    std::vector<std::unique_ptr<CSource>> sources;
    for (const QString& input : inputs) {
        sources.push_back(std::make_unique<CSource>(input, options, result));
        if ((result.error = sources.back()->Open()) != 0) {
            result.failedPath = sources.back()->Path();
            return result;
        }
    }
    if (out.empty() || out.find('\0') != std::string::npos) {
        result.error = EINVAL;
        result.failedPath = out;
        return result;
    }
    // Written beside the old file and put in place whole, or not at all.
    CWholeFile file;
    if (!file.Open(out, false)) {
        result.error = file.Error() ? file.Error() : EINVAL;
        result.failedPath = out;
        return result;
    }
    std::string buffer = std::string("# TYPE ") + sensorseries::kMetric + " gauge\n# HELP " + sensorseries::kMetric + ' '
        + sensorseries::kHelp + '\n';
    buffer.reserve(kOutBuffer + kMaxLineLength);
    bool writeFailed = false;
    const auto flush = [&] {
        if (!writeFailed && !file.Write(buffer))
            writeFailed = true;
        buffer.clear();
    };

    // Each series' last time, by its labels; per source, its series' index into them.
    std::unordered_map<std::string, std::size_t> seriesIndex;
    std::vector<std::int64_t> last;
    std::vector<std::vector<std::size_t>> global(sources.size());
    std::vector<bool> more(sources.size());
    for (std::size_t i = 0; i < sources.size(); ++i)
        more[i] = sources[i]->Next();
    std::int64_t familyLast = INT64_MIN;
    char number[64];
    for (;;) {
        std::size_t pick = sources.size();
        for (std::size_t i = 0; i < sources.size(); ++i)
            if (more[i] && (pick == sources.size() || sources[i]->Time() < sources[pick]->Time()))
                pick = i;
        if (pick == sources.size())
            break;
        CSource& source = *sources[pick];
        const std::int64_t t = source.Time();
        for (const CSource::Sample& sample : source.Samples()) {
            std::vector<std::size_t>& map = global[pick];
            while (map.size() <= static_cast<std::size_t>(sample.series)) {
                const std::string& labels = source.Labels(static_cast<int>(map.size()));
                auto [it, added] = seriesIndex.emplace(labels, last.size());
                if (added && last.size() < kMaxSeries)
                    last.push_back(INT64_MIN);
                map.push_back(it->second);
            }
            const std::size_t g = map[static_cast<std::size_t>(sample.series)];
            if (g >= last.size() || t <= last[g] || t < familyLast) {
                ++result.outOfOrder;
                continue;
            }
            last[g] = familyLast = t;
            buffer += sensorseries::kMetric;
            buffer += '{';
            buffer += source.Labels(sample.series);
            buffer += "} ";
            const auto [end, ec] = std::to_chars(number, number + sizeof number, sample.value);
            buffer.append(number, ec == std::errc() ? end : number);
            buffer += ' ';
            const auto [stop, ok] = std::to_chars(number, number + sizeof number, t);
            buffer.append(number, ok == std::errc() ? stop : number);
            buffer += '\n';
            ++result.samples;
        }
        if (buffer.size() >= kOutBuffer)
            flush();
        more[pick] = source.Next();
        if (!more[pick] && source.Error() != 0) {
            result.error = source.Error();
            result.failedPath = source.Path();
            break;
        }
    }
    buffer += "# EOF\n";
    flush();
    for (const auto& s : sources)
        if (!s->Times().Assumed().isEmpty())
            result.assumedZone = s->Times().Assumed().toStdString();
    result.series = static_cast<std::int64_t>(last.size());
    if (result.error == 0 && result.problem.empty() && (writeFailed || !file.Commit())) {
        result.error = file.Error() ? file.Error() : EIO;
        result.failedPath = out;
    }
    if (result.error != 0 || !result.problem.empty())
        return result; // the file left unwritten is dropped with it
    result.ok = true;
    return result;
}

} // namespace openmetrics
