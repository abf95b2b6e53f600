#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The column sidecar: beside a data file, what its columns are. The data file holds only times
// and values; which value is which sensor is known while the OID list is in memory. The sidecar
// keeps it, one record per run start, so a file collected over several OID lists stays readable.
//
// data198.168.0.100.columns beside data198.168.0.100.txt (any other data file name: ".columns"
// in place of ".txt", or added). Text, one field set per line, fields split by a tab:
//
//     veltrane-columns	1
//     run	2026/12/08 11:43:54	1234	Europe/Berlin	+01:00
//     column	Port 1	Server room temperature	temperature	.1.3.6.1.4.1.32473.1.2.2.1.16.1.3.0
//     column	Port 2	Server room humidity	humidity	.1.3.6.1.4.1.32473.1.2.2.1.16.1.3.1
//     end
//
// A record holds the run's start (the local time as the data file writes it, and the data file's
// size then, where its first line goes; then the collecting machine's zone, its IANA name, and
// its UTC offset at the start, which older sidecars lack) and per column, in the file's order, its port label,
// description, sensor type and OID, as the Generate OID dialog showed them; a field not known is
// empty. A record covers the lines from its start to the next record's: from its byte offset
// when it has one (a run started within the second of the last one's line still splits right),
// else from its time. The offset may be left out by hand; the time may not. Tabs, line ends, backslashes and other control bytes in a field are written
// as \t, \n, \r, \\ and \xHH; other bytes (the unit's own) go unchanged.
//
// The sidecar is outside input when read: it is bounded (kMaxFileSize, kMaxColumns per record,
// kMaxFieldLength), and a record that is not whole and sound is dropped and counted, never half
// used. Free of Qt and widgets.
namespace datafile {

inline constexpr std::string_view kSidecarMagic = "veltrane-columns\t1";
inline constexpr std::string_view kSidecarSuffix = ".columns";

struct Column {
    std::string port;        // "Port 1"
    std::string description; // as the unit gave it
    std::string type;        // "temperature", "humidity", ... or empty
    std::string oid;
    bool operator==(const Column&) const = default;
};

struct ColumnsRecord {
    std::int64_t start = 0; // wall-clock seconds as written (WallClockSeconds)
    std::int64_t offset = -1; // the data file's size at the start, -1 when not known
    std::vector<Column> columns;
    std::string zone;         // the machine's zone ("Europe/Berlin"), empty when not known
    std::optional<int> utcOffset; // seconds east of UTC at the start, when known
    bool operator==(const ColumnsRecord&) const = default;
};

struct Sidecar {
    std::vector<ColumnsRecord> records; // in file order
    int dropped = 0;   // records or stray lines that were not sound, left out
    bool found = false; // the file was there and read
    int error = 0;     // why it could not be read (errno), 0 when read or simply absent
};

inline constexpr std::int64_t kMaxFileSize = 4 << 20;
inline constexpr std::size_t kMaxColumns = 1024;
inline constexpr std::size_t kMaxFieldLength = 1024;
inline constexpr std::size_t kMaxRecords = 10000;

// The sidecar's path for the data file at dataPath (bytes).
std::string SidecarPath(std::string_view dataPath);

// "+01:00": seconds east of UTC as a record writes them.
std::string FormatUtcOffset(int seconds);

// The sidecar's first line, with its line end.
std::string SidecarHeader();
// One record as it goes into the file, "run" to "end", with line ends.
std::string FormatRecord(const ColumnsRecord& record);
// Reads a sidecar's bytes.
Sidecar ParseSidecar(std::string_view bytes);
// Reads the sidecar at path (bytes): a regular file only, opened without blocking, at most
// kMaxFileSize. A missing file is found = false with error 0.
Sidecar ReadSidecar(const std::string& path);
// The sidecar's bytes as they are, with the same checks; 0, or an errno value. A missing file
// gives 0 and no bytes.
int ReadSidecarBytes(const std::string& path, std::string& bytes);

// The bytes a sidecar should hold once record is added to the one that holds existing: appended
// (after the header when existing is empty or not a sidecar's start).
std::string AddRecord(std::string_view existing, const ColumnsRecord& record);

// The name a plot or a spreadsheet gives a column: "Port 1 Server room temperature", the OID
// when only that is known, else "Column n" (n from 1).
std::string ColumnName(const Column& column, std::size_t index);
std::string UnnamedColumn(std::size_t index);

// Which series (one per sensor, across records) each value of a line belongs to. Lines are fed
// in file order; a line timed t belongs to the last record whose start is not after t, and the
// record in use never moves back (after a clock set back, a run's lines stay its own). Lines
// before the first record, and values past a record's columns, go to "Column n" series.
// A sensor with the same OID (or, without one, the same name) in two records is one series.
class CColumnMap {
public:
    explicit CColumnMap(Sidecar sidecar = {});

    // The series of each of count values of a line timed t that starts at byte offset of the
    // data file; new series are made as met. Values past kMaxColumns get -1.
    void Resolve(std::int64_t t, std::int64_t offset, std::size_t count, std::vector<int>& series);
    // Back to the start of the file, keeping the series made so far.
    void Rewind() { m_nRecord = -1; }
    // The record in use (-1: before the first); a reader that starts inside the file sets it.
    int Record() const { return m_nRecord; }
    void SetRecord(int record) { m_nRecord = record; }

    std::size_t SeriesCount() const { return m_series.size(); }
    const std::string& Name(int series) const { return m_series[static_cast<std::size_t>(series)].name; }
    // The sensor's column, when a record named it (type and OID for a header or a panel).
    const Column& SeriesColumn(int series) const { return m_series[static_cast<std::size_t>(series)].column; }
    bool IsNamed(int series) const { return m_series[static_cast<std::size_t>(series)].named; }
    // For a "Column n" series, n - 1; else -1.
    int UnnamedIndex(int series) const { return m_series[static_cast<std::size_t>(series)].unnamedIndex; }
    // Values of lines that had no record (or past its columns), for the "Column n" note.
    std::int64_t UnnamedValues() const { return m_nUnnamed; }
    const Sidecar& Contents() const { return m_sidecar; }

private:
    struct Series {
        std::string key;
        std::string name;
        Column column;
        bool named = false;
        int unnamedIndex = -1;
    };
    int SeriesFor(const std::string& key, const std::string& name, const Column* column);

    Sidecar m_sidecar;
    std::vector<Series> m_series;
    // Per record, the series of each column, made on first use.
    std::vector<std::vector<int>> m_recordSeries;
    std::vector<int> m_unnamedSeries; // "Column n" series by n - 1
    int m_nRecord = -1;
    std::int64_t m_nUnnamed = 0;
};

} // namespace datafile
