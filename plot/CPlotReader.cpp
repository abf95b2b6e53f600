#include "plot/CPlotReader.h"

#include "download/ReportHeader.h"
#include "platform/TextBytes.h"
#include "plot/PlotLines.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using plotlines::HeaderLine;

CPlotReader::CPlotReader(int maxBuckets) : m_data(maxBuckets) {}

CPlotReader::~CPlotReader()
{
    Close();
}

bool CPlotReader::Open(const QString& path)
{
    Close();
    m_strPath = path;
    m_pathBytes = platform::EscapedBytes(path);
    m_nError = 0;
    Restart();
    m_bRestarted = false;
    if (path.isEmpty() || m_pathBytes.find('\0') != std::string::npos) {
        m_nError = path.isEmpty() ? ENOENT : EINVAL;
        return false;
    }
    // O_NONBLOCK: opening a FIFO or a device must never hang the window.
    int fd;
    do
        fd = ::open(m_pathBytes.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_nError = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_nError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_sidecarPath = datafile::SidecarPath(m_pathBytes);
    LoadSidecar();
    return true;
}

CPlotReader::SidecarStamp CPlotReader::StampOfSidecar() const
{
    SidecarStamp stamp;
    struct stat st {};
    if (m_sidecarPath.empty() || ::stat(m_sidecarPath.c_str(), &st) != 0)
        return stamp;
    stamp.present = true;
    stamp.size = st.st_size;
    stamp.mtime = st.st_mtim.tv_sec;
    stamp.mtimeNs = st.st_mtim.tv_nsec;
    stamp.inode = static_cast<std::int64_t>(st.st_ino);
    return stamp;
}

bool CPlotReader::SidecarChanged() const
{
    return StampOfSidecar() != m_sidecarStamp;
}

void CPlotReader::LoadSidecar()
{
    m_sidecarStamp = StampOfSidecar();
    m_columns = datafile::CColumnMap(m_sidecarPath.empty() ? datafile::Sidecar() : datafile::ReadSidecar(m_sidecarPath));
    m_times = CLineTimes(m_fallbackZone);
    m_times.SetRecords(m_columns.Contents().records);
}

void CPlotReader::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CPlotReader::Restart()
{
    m_nOffset = 0;
    m_nLineStart = 0;
    m_index.Clear();
    m_carry.clear();
    m_bSkipping = false;
    m_kind = Kind::Unknown;
    m_counters = Counters();
    m_data.Clear();
    m_reportSeries.clear();
    m_header = ReportSeries();
    m_nReportSeries = kUnresolved;
    m_bRestarted = true;
    m_times = CLineTimes(m_fallbackZone);
    if (m_fd >= 0)
        LoadSidecar();
}

bool CPlotReader::TakeRestarted()
{
    const bool restarted = m_bRestarted;
    m_bRestarted = false;
    return restarted;
}

bool CPlotReader::ReplacedOrShrunk() const
{
    struct stat mine {};
    struct stat named {};
    if (::fstat(m_fd, &mine) != 0)
        return false;
    if (mine.st_size < m_nOffset)
        return true; // emptied (Overwrite) or cut
    return ::stat(m_pathBytes.c_str(), &named) == 0 && S_ISREG(named.st_mode)
        && (named.st_ino != mine.st_ino || named.st_dev != mine.st_dev);
}

CPlotReader::Status CPlotReader::Read(std::int64_t maxBytes)
{
    if (m_fd < 0)
        return Status::Failed;
    if (!m_bRange && ReplacedOrShrunk()) {
        const QString path = m_strPath;
        if (!Open(path))
            return Status::Failed;
        m_bRestarted = true;
    } else if (!m_bRange && m_kind != Kind::Report && SidecarChanged()) {
        Restart(); // a run started with another list, or the names were mended: all named anew
    }
    if (m_buffer.empty())
        m_buffer.resize(static_cast<std::size_t>(kReadChunk));
    std::int64_t taken = 0;
    for (;;) {
        std::int64_t want = kReadChunk;
        if (m_bRange) {
            while (m_nSpan < m_spans.size() && m_nOffset >= m_spans[m_nSpan].end)
                if (++m_nSpan < m_spans.size())
                    EnterSpan();
            if (m_nSpan >= m_spans.size())
                break;
            want = std::min(want, m_spans[m_nSpan].end - m_nOffset);
        }
        if (maxBytes >= 0) {
            if (taken >= maxBytes)
                return Status::More;
            want = std::min(want, maxBytes - taken);
        }
        const ssize_t n = ::pread(m_fd, m_buffer.data(), static_cast<std::size_t>(want), m_nOffset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_nError = errno;
            return Status::Failed;
        }
        if (n == 0)
            break;
        TakeChunk(m_buffer.data(), static_cast<std::size_t>(n), m_nOffset);
        m_nOffset += n;
        taken += n;
    }
    m_counters.partial = (!m_carry.empty() || m_bSkipping) ? 1 : 0;
    return Status::AtEnd;
}

std::unique_ptr<CPlotReader> CPlotReader::RangeReader(std::int64_t from, std::int64_t to) const
{
    if (m_fd < 0)
        return nullptr;
    auto range = std::make_unique<CPlotReader>(m_data.MaxBuckets());
    range->m_fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (range->m_fd < 0)
        return nullptr;
    range->m_strPath = m_strPath;
    range->m_pathBytes = m_pathBytes;
    range->m_bRange = true;
    range->m_nFrom = from;
    range->m_nTo = to;
    range->m_kind = m_kind;
    range->m_reportSeries = m_reportSeries;
    range->m_columns = m_columns;
    range->m_times = m_times;
    // Only what this reader has taken: a line still being written is not in the index yet.
    range->m_spans = m_index.SpansFor(from, to, m_nOffset);
    if (!range->m_spans.empty())
        range->EnterSpan();
    return range;
}

void CPlotReader::EnterSpan()
{
    const CPlotIndex::Span& span = m_spans[m_nSpan];
    m_nOffset = m_nLineStart = span.begin;
    m_carry.clear();
    m_bSkipping = false;
    m_nReportSeries = span.series;
    // The header the whole-file reader had at the span's first record is that series' own: a
    // header line within the span that changes one field then finds the same series it did.
    m_header = span.series >= 0 && static_cast<std::size_t>(span.series) < m_reportSeries.size()
                   ? m_reportSeries[static_cast<std::size_t>(span.series)]
                   : ReportSeries();
    m_columns.SetRecord(span.series); // for a data file, the run of the span's first line
    m_times.StartAt(span.begin, span.series, span.tMin);
}

void CPlotReader::TakeChunk(const char* data, std::size_t size, std::int64_t at)
{
    const char* p = data;
    const char* const end = data + size;
    while (p < end) {
        const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* stop = nl ? nl : end;
        const auto piece = static_cast<std::size_t>(stop - p);
        if (!m_bSkipping) {
            if (m_carry.size() + piece > kMaxLineLength) {
                m_bSkipping = true; // too long to be ours: drop it up to its line end
                m_carry.clear();
            } else if (!nl) {
                m_carry.append(p, piece);
            } else if (m_carry.empty()) {
                ParseLine(std::string_view(p, piece));
            } else {
                m_carry.append(p, piece);
                ParseLine(m_carry);
                m_carry.clear();
            }
        }
        if (!nl)
            break;
        if (m_bSkipping) {
            m_bSkipping = false;
            ++m_counters.lines;
            ++m_counters.malformed;
        }
        p = nl + 1;
        m_nLineStart = at + (p - data);
    }
    m_counters.partial = (!m_carry.empty() || m_bSkipping) ? 1 : 0;
}

void CPlotReader::ParseLine(std::string_view line)
{
    ++m_counters.lines;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.empty())
        return; // reports end with an empty line; an empty line carries nothing either way
    if (m_kind == Kind::DataFile) {
        ParseDataLine(line);
    } else if (m_kind == Kind::Report) {
        ParseReportLine(line);
    } else {
        std::int64_t t;
        std::string_view text;
        if (plotlines::ParseDataLine(line, t, m_values)) {
            m_kind = Kind::DataFile;
            ParseDataLine(line);
        } else if (plotlines::ParseReportRecord(line, t, text)
                   || plotlines::ParseReportHeader(line, text) != HeaderLine::None) {
            m_kind = Kind::Report;
            ParseReportLine(line);
        } else {
            ++m_counters.malformed;
        }
    }
}

void CPlotReader::AddValue(int series, std::int64_t t, std::string_view text)
{
    if (m_bRange && (t < m_nFrom || t > m_nTo))
        return;
    const std::optional<double> v = plotlines::ParseNumber(text);
    if (!v) {
        ++m_counters.notNumbers;
    } else if (series < 0 || series >= kMaxSeries) {
        ++m_counters.extraColumns;
    } else {
        m_data.Add(series, t, *v);
        ++m_counters.points;
    }
}

void CPlotReader::ParseDataLine(std::string_view line)
{
    std::int64_t t;
    if (!plotlines::ParseDataLine(line, t, m_values)) {
        ++m_counters.malformed;
        return;
    }
    const std::int64_t unnamedBefore = m_columns.UnnamedValues();
    m_columns.Resolve(t, m_nLineStart, m_values.size(), m_seriesOf);
    m_counters.unnamedValues += m_columns.UnnamedValues() - unnamedBefore;
    t = m_times.DataLine(m_columns.Record(), t);
    if (!m_bRange)
        m_index.Add(m_nLineStart, t, m_columns.Record());
    for (std::size_t i = 0; i < m_values.size(); ++i)
        AddValue(m_seriesOf[i], t, m_values[i]);
}

int CPlotReader::ReportSeriesIndex()
{
    if (m_nReportSeries != kUnresolved)
        return m_nReportSeries;
    for (std::size_t i = 0; i < m_reportSeries.size(); ++i) {
        const ReportSeries& s = m_reportSeries[i];
        if (s.description == m_header.description && s.unit == m_header.unit && s.port == m_header.port)
            return m_nReportSeries = static_cast<int>(i);
    }
    // A range reader only finds the series its whole-file reader named.
    if (m_bRange || m_reportSeries.size() >= static_cast<std::size_t>(kMaxSeries))
        return m_nReportSeries = -1;
    m_reportSeries.push_back(m_header);
    return m_nReportSeries = static_cast<int>(m_reportSeries.size() - 1);
}

void CPlotReader::ParseReportLine(std::string_view line)
{
    std::int64_t t;
    std::string_view text;
    if (plotlines::ParseReportRecord(line, t, text)) {
        const int series = ReportSeriesIndex();
        t = m_times.ReportLine(t);
        if (!m_bRange)
            m_index.Add(m_nLineStart, t, series);
        AddValue(series, t, text);
        return;
    }
    const HeaderLine kind = plotlines::ParseReportHeader(line, text);
    if (kind == HeaderLine::None) {
        ++m_counters.malformed;
        return;
    }
    if (kind == HeaderLine::Other) {
        if (line.starts_with(reportheader::kCurrentTime) && !m_bRange)
            m_times.ReportHeader(line.substr(reportheader::kCurrentTime.size()), m_nLineStart);
        return;
    }
    // A header line that names the sensor: the records that follow may be another series.
    if (kind == HeaderLine::Start)
        m_header = ReportSeries();
    else
        (kind == HeaderLine::Description ? m_header.description : kind == HeaderLine::Port ? m_header.port : m_header.unit)
            .assign(text);
    m_nReportSeries = kUnresolved;
}
