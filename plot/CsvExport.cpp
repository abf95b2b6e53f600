#include "plot/CsvExport.h"

#include "collect/ColumnsSidecar.h"
#include "collect/DataFileFormat.h"
#include "download/ReportHeader.h"
#include "platform/CWholeFile.h"
#include "platform/RegularFile.h"
#include "platform/TextBytes.h"
#include "plot/LineTimes.h"
#include "plot/PlotLines.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <vector>

namespace csvexport {

namespace {

constexpr std::size_t kMaxLineLength = 64 * 1024;
constexpr std::size_t kChunk = 256 * 1024;
constexpr std::size_t kOutBuffer = 256 * 1024;
constexpr const char* kDataTime = "time (ISO 8601 local time as written with its UTC offset)";
constexpr const char* kReportTime = "time (ISO 8601 as written in the report with its UTC offset)";

// Reads a regular file line by line (without line ends) through one buffer. Lines longer than
// kMaxLineLength are dropped and counted.
class CLineSource {
public:
    ~CLineSource()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Open(const std::string& path)
    {
        if (path.empty())
            return EINVAL;
        const platform::OpenedFile opened = platform::OpenRegularFile(path);
        m_fd = opened.fd;
        return opened.Errno();
    }
    // Calls line(text, offset) for every line from the start; returns 0 or an errno value.
    int ForEachLine(const std::function<bool(std::string_view, std::int64_t)>& line, std::int64_t& tooLong)
    {
        std::vector<char> buffer(kChunk);
        std::string carry;
        bool skipping = false;
        std::int64_t offset = 0, lineStart = 0;
        for (;;) {
            const ssize_t n = ::pread(m_fd, buffer.data(), buffer.size(), offset);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return errno;
            if (n == 0)
                break;
            const char* p = buffer.data();
            const char* const end = p + n;
            while (p < end) {
                const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
                const char* stop = nl ? nl : end;
                const auto piece = static_cast<std::size_t>(stop - p);
                if (!skipping && carry.size() + piece > kMaxLineLength) {
                    skipping = true;
                    carry.clear();
                }
                if (!skipping) {
                    if (!nl)
                        carry.append(p, piece);
                    else if (carry.empty()) {
                        if (!line(std::string_view(p, piece), lineStart))
                            return ECANCELED;
                    } else {
                        carry.append(p, piece);
                        if (!line(carry, lineStart))
                            return ECANCELED;
                        carry.clear();
                    }
                }
                if (!nl)
                    break;
                if (skipping) {
                    skipping = false;
                    ++tooLong;
                }
                p = nl + 1;
                lineStart = offset + (p - buffer.data());
            }
            offset += n;
        }
        // The last line may lack its line end (a run still writing): it is taken as it is.
        if (!skipping && !carry.empty() && !line(carry, lineStart))
            return ECANCELED;
        return 0;
    }

private:
    int m_fd = -1;
};

// The output, written whole or not at all, in pieces of kOutBuffer.
class COutput {
public:
    int Open(const std::string& out)
    {
        if (!m_file.Open(out, false))
            return m_file.Error();
        m_buffer.reserve(kOutBuffer);
        return 0;
    }
    std::string& Buffer() { return m_buffer; }
    bool FlushIfFull() { return m_buffer.size() < kOutBuffer || Flush(); }
    bool Flush()
    {
        if (!m_file.Write(m_buffer)) {
            errno = m_file.Error();
            return false;
        }
        m_buffer.clear();
        return true;
    }
    int Commit() { return m_file.Commit(m_buffer) ? 0 : m_file.Error(); }

private:
    CWholeFile m_file;
    std::string m_buffer;
};

bool LooksLikeFormula(std::string_view text)
{
    return !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@')
        && !plotlines::ParseNumber(text);
}

void AppendSafeField(std::string& row, std::string_view field)
{
    if (LooksLikeFormula(field))
        AppendField(row, "'" + std::string(field));
    else
        AppendField(row, field);
}

// A report's series: its sensor as the header lines name it.
struct ReportSeries {
    std::string description, unit, port;
    bool operator==(const ReportSeries&) const = default;
    std::string Name() const
    {
        std::string name = description.empty() ? "Sensor port " + port : description;
        return unit.empty() ? name : name + " (" + unit + ")";
    }
};

} // namespace

void AppendField(std::string& row, std::string_view field)
{
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        row += field;
        return;
    }
    row += '"';
    for (const char c : field) {
        if (c == '"')
            row += '"';
        row += c;
    }
    row += '"';
}

Result Export(const QString& path, const std::string& out, const std::atomic<bool>* cancel, const QByteArray& zone)
{
    Result result;
    const std::string in = platform::EscapedBytes(path);
    CLineSource source;
    if ((result.error = source.Open(in)) != 0) {
        result.inputFailed = true;
        return result;
    }
    const auto cancelled = [cancel] { return cancel && cancel->load(); };

    // Pass 1: the kind of file and its columns.
    enum class Kind { Unknown, Data, Report } kind = Kind::Unknown;
    datafile::CColumnMap map(datafile::ReadSidecar(datafile::SidecarPath(in)));
    CLineTimes times(zone);
    times.SetRecords(map.Contents().records);
    std::vector<ReportSeries> reportSeries;
    ReportSeries header;
    int current = -1; // the report series of the records that follow
    std::vector<int> series;
    std::vector<std::string_view> values;
    std::int64_t tooLong = 0;
    const auto reportLine = [&](std::string_view line, bool firstPass, std::int64_t& t, std::string_view& value) {
        if (plotlines::ParseReportRecord(line, t, value)) {
            if (current < 0) {
                std::size_t i = 0;
                while (i < reportSeries.size() && !(reportSeries[i] == header))
                    ++i;
                if (i == reportSeries.size() && firstPass && i < datafile::kMaxColumns)
                    reportSeries.push_back(header);
                current = i < reportSeries.size() ? static_cast<int>(i) : -2;
            }
            return current >= 0 ? 1 : 0;
        }
        std::string_view text;
        const plotlines::HeaderLine h = plotlines::ParseReportHeader(line, text);
        if (h == plotlines::HeaderLine::None)
            return -1;
        if (h == plotlines::HeaderLine::Other && !firstPass && line.starts_with(reportheader::kCurrentTime))
            times.ReportHeader(line.substr(reportheader::kCurrentTime.size()), 0);
        if (h == plotlines::HeaderLine::Start)
            header = ReportSeries();
        else if (h != plotlines::HeaderLine::Other)
            (h == plotlines::HeaderLine::Description ? header.description
             : h == plotlines::HeaderLine::Port      ? header.port
                                                     : header.unit)
                .assign(text);
        if (h != plotlines::HeaderLine::Other)
            current = -1;
        return 0;
    };
    std::int64_t skipped = 0;
    int err = source.ForEachLine(
        [&](std::string_view line, std::int64_t offset) {
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (line.empty())
                return !cancelled();
            std::int64_t t;
            std::string_view value;
            if (kind != Kind::Report && plotlines::ParseDataLine(line, t, values)) {
                kind = Kind::Data;
                map.Resolve(t, offset, values.size(), series);
            } else if (kind != Kind::Data && reportLine(line, true, t, value) >= 0) {
                kind = Kind::Report;
            } else {
                ++skipped;
            }
            return !cancelled();
        },
        tooLong);
    if (err != 0) {
        result.error = err;
        result.inputFailed = err != ECANCELED;
        return result;
    }

    COutput output;
    if ((result.error = output.Open(out)) != 0)
        return result;
    std::string& row = output.Buffer();
    std::vector<std::string> names;
    if (kind == Kind::Report)
        for (const ReportSeries& s : reportSeries)
            names.push_back(s.Name());
    else
        for (std::size_t i = 0; i < map.SeriesCount(); ++i)
            names.push_back(map.Name(static_cast<int>(i)));
    AppendField(row, kind == Kind::Report ? kReportTime : kDataTime);
    for (const std::string& name : names) {
        row += ',';
        AppendSafeField(row, name);
    }
    row += "\r\n";
    result.columns = static_cast<std::int64_t>(names.size());
    const std::int64_t unnamedBefore = map.UnnamedValues();

    // Pass 2: the rows.
    map.Rewind();
    header = ReportSeries();
    current = -1;
    std::vector<std::string_view> cells(names.size());
    bool writeFailed = false;
    err = source.ForEachLine(
        [&](std::string_view line, std::int64_t offset) {
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            std::int64_t t;
            std::string_view value;
            bool any = false;
            std::fill(cells.begin(), cells.end(), std::string_view());
            std::int64_t instant = 0;
            if (line.empty()) {
            } else if (kind == Kind::Data && plotlines::ParseDataLine(line, t, values)) {
                map.Resolve(t, offset, values.size(), series);
                instant = times.DataLine(map.Record(), t);
                for (std::size_t i = 0; i < values.size(); ++i)
                    if (series[i] >= 0 && static_cast<std::size_t>(series[i]) < cells.size())
                        cells[static_cast<std::size_t>(series[i])] = values[i];
                any = true;
            } else if (kind == Kind::Report && reportLine(line, false, t, value) == 1) {
                cells[static_cast<std::size_t>(current)] = value;
                instant = times.ReportLine(t);
                any = true;
            }
            if (any) {
                row += datafile::FormatIsoWallClock(t);
                row += datafile::FormatUtcOffset(static_cast<int>(t - instant));
                for (const std::string_view cell : cells) {
                    row += ',';
                    AppendSafeField(row, cell);
                }
                row += "\r\n";
                ++result.rows;
                if (!output.FlushIfFull()) {
                    writeFailed = true;
                    return false;
                }
            }
            return !cancelled();
        },
        tooLong);
    if (writeFailed) {
        result.error = errno ? errno : EIO;
        return result;
    }
    if (err != 0) {
        result.error = err;
        result.inputFailed = err != ECANCELED;
        return result;
    }
    if ((result.error = output.Commit()) != 0)
        return result;
    result.ok = true;
    result.skipped = skipped + tooLong / 2; // each pass counted the long lines
    result.unnamedValues = map.UnnamedValues() - unnamedBefore;
    result.assumedZone = times.Assumed().toStdString();
    return result;
}

} // namespace csvexport
