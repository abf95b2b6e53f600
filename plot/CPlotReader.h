#pragma once
#include "collect/ColumnsSidecar.h"
#include "plot/CPlotDecimator.h"
#include "plot/CPlotIndex.h"
#include "plot/LineTimes.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Reads a collection data file or a datalog report into plot series, as a stream: one bounded
// buffer, each line parsed and dropped, the points kept by a CPlotDecimator. The file's kind
// is that of its first line that matches a known format; lines of the other kind or of no
// known format are skipped and counted.
//
// Data file: one series per sensor, named from the column sidecar beside the file (the record of
// the run each line belongs to), "Column n" for lines no record covers. A sidecar that changes
// (a new run started) makes the file be read again from the start.
// Report: one series per sensor description and unit of measure found in its headers (a file
// the download appended to several times holds one report after the other), values as written
// (tenths already shown as decimals).
//
// Live files: Read again after the file grew to take the new lines; a line not yet ended is
// kept back (counted as partial) until its line end arrives. A file that shrank or was
// replaced is read again from the start.
//
// Zoomed views: while reading, the reader notes where each stretch of time lies (CPlotIndex);
// RangeReader then makes a reader of only the stretches that can hold a range of time, which
// keeps the values of that range in a decimator of its own (the same bucket budget for the
// range alone, so a short range shows every value).
//
// Times: each line's local time becomes the instant it was taken (CLineTimes: the zone of the
// line's sidecar record, else the fallback zone; a report's own zone), so points and ranges are
// instants and Times().Clock() reads them back as the file wrote them.
//
// Files are outside input: only regular files are opened, without blocking; a path with a zero
// byte is refused; a line longer than kMaxLineLength is skipped; at most kMaxSeries series.
class CPlotReader {
public:
    enum class Kind { Unknown, DataFile, Report };
    enum class Status { More, AtEnd, Failed };

    struct Counters {
        std::int64_t lines = 0;      // lines ended so far (empty ones included)
        std::int64_t points = 0;     // values plotted
        std::int64_t malformed = 0;  // lines of no known format, of the other kind, or too long
        std::int64_t notNumbers = 0; // values left out because they are not numbers
        std::int64_t extraColumns = 0; // values past kMaxSeries columns, left out
        int partial = 0;             // 1 while the file ends in a line without its line end
        std::int64_t unnamedValues = 0; // data-file values no sidecar record names
    };

    struct ReportSeries {
        std::string description; // as written (bytes of the file)
        std::string unit;
        std::string port;
    };

    static constexpr std::size_t kMaxLineLength = 64 * 1024;
    static constexpr int kMaxSeries = 64;
    static constexpr std::int64_t kReadChunk = 256 * 1024;

    explicit CPlotReader(int maxBuckets = CPlotDecimator::kDefaultBuckets);
    ~CPlotReader();
    CPlotReader(const CPlotReader&) = delete;
    CPlotReader& operator=(const CPlotReader&) = delete;

    // Opens path for reading: its bytes as platform::EscapedBytes gives them, so a path that is
    // not UTF-8 opens too. False with Error() set (an errno value) when the path holds a zero
    // byte (EINVAL), the file cannot be opened, or it is not a regular file (EISDIR for a
    // folder, EINVAL otherwise).
    bool Open(const QString& path);
    // The zone (IANA name) of lines no sidecar record gives one; empty: the machine's. Takes
    // effect at the next Open.
    void SetFallbackZone(const QByteArray& zone) { m_fallbackZone = zone; }
    const CLineTimes& Times() const { return m_times; }
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    int Error() const { return m_nError; }
    const QString& Path() const { return m_strPath; }

    // Reads at most maxBytes more (all that is there for a negative maxBytes). More: the file
    // holds more to read; AtEnd: everything read; Failed: a read error (Error() set).
    // Before reading, a file that shrank or was replaced under its name starts over.
    Status Read(std::int64_t maxBytes = -1);
    // True when Read restarted from the start since the last call (the caller redraws all).
    bool TakeRestarted();

    Kind FileKind() const { return m_kind; }
    const Counters& Count() const { return m_counters; }
    const CPlotDecimator& Data() const { return m_data; }
    // One entry per report series, in the order of their series numbers.
    const std::vector<ReportSeries>& ReportSeriesInfo() const { return m_reportSeries; }
    // A data file's series: names and sensors from the sidecar (what it read of it, too).
    const datafile::CColumnMap& Columns() const { return m_columns; }
    // Bytes read and taken so far.
    std::int64_t Offset() const { return m_nOffset; }

    // A reader of the values timed from..to (seconds, both included) in what this reader has
    // read so far: it reads only the spans of the file that the index says can hold them, from
    // its own descriptor of the same file, so it may run on another thread while this one goes
    // on. Null when this reader is not open.
    std::unique_ptr<CPlotReader> RangeReader(std::int64_t from, std::int64_t to) const;
    // For a range reader: the byte ranges it reads and the times it keeps.
    const std::vector<CPlotIndex::Span>& Spans() const { return m_spans; }
    std::int64_t RangeFrom() const { return m_nFrom; }
    std::int64_t RangeTo() const { return m_nTo; }

    // Feeds one line (without its line end) as if read from the file. Public for tests.
    void ParseLine(std::string_view line);

private:
    void Restart();
    bool ReplacedOrShrunk() const;
    // data is the file's bytes from offset at.
    void TakeChunk(const char* data, std::size_t size, std::int64_t at);
    // A range reader moves to the start of its next span.
    void EnterSpan();
    // A value text into series (-1: past the last series kept), or counted as left out.
    void AddValue(int series, std::int64_t t, std::string_view text);
    void ParseDataLine(std::string_view line);
    void ParseReportLine(std::string_view line);
    int ReportSeriesIndex();

    QString m_strPath;
    std::string m_pathBytes; // what is opened and looked at
    int m_fd = -1;
    int m_nError = 0;
    std::int64_t m_nOffset = 0;
    std::int64_t m_nLineStart = 0; // offset of the line being read
    bool m_bRestarted = false;
    std::string m_carry;      // the start of a line not yet ended
    bool m_bSkipping = false; // inside a line longer than kMaxLineLength
    std::vector<char> m_buffer;
    Kind m_kind = Kind::Unknown;
    Counters m_counters;
    CPlotDecimator m_data;
    CPlotIndex m_index;
    // A range reader: the time kept and the spans to read, the current one first.
    bool m_bRange = false;
    std::int64_t m_nFrom = 0;
    std::int64_t m_nTo = 0;
    std::vector<CPlotIndex::Span> m_spans;
    std::size_t m_nSpan = 0;
    // Report state: the header being read and the series it selects.
    std::vector<ReportSeries> m_reportSeries;
    ReportSeries m_header;
    static constexpr int kUnresolved = -2; // the header changed: look its series up (-1: none)
    int m_nReportSeries = kUnresolved;
    std::vector<std::string_view> m_values; // scratch for data lines
    // Data file: the sidecar's path, what it held when read, and its identity then.
    bool SidecarChanged() const;
    void LoadSidecar();
    std::string m_sidecarPath;
    datafile::CColumnMap m_columns;
    struct SidecarStamp {
        bool present = false;
        std::int64_t size = 0, mtime = 0, mtimeNs = 0, inode = 0;
        bool operator==(const SidecarStamp&) const = default;
    };
    SidecarStamp StampOfSidecar() const;
    SidecarStamp m_sidecarStamp;
    QByteArray m_fallbackZone;
    CLineTimes m_times;
    std::vector<int> m_seriesOf; // scratch: the series of each value of a line
};
