#include "collect/ColumnsSidecar.h"

#include "collect/DataFileFormat.h"
#include "platform/CEscaped.h"
#include "platform/RegularFile.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace datafile {

namespace {

void AppendEscaped(std::string& out, std::string_view field)
{
    platform::AppendCEscaped(out, field.substr(0, kMaxFieldLength));
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A field back from its escaped form; false for a broken escape or a field too long.
bool Unescape(std::string_view in, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (out.size() >= kMaxFieldLength)
            return false;
        const char c = in[i];
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false; // written escaped, so a raw one means the line is not ours
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= in.size())
            return false;
        switch (in[i]) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        case 'x': {
            const int hi = i + 2 < in.size() ? HexDigit(in[i + 1]) : -1;
            const int lo = i + 2 < in.size() ? HexDigit(in[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return true;
}

std::vector<std::string_view> SplitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos || fields.size() > 8)
            return fields;
        start = tab + 1;
    }
}

// Decimal digits, at most 18 of them.
bool ParseOffset(std::string_view text, std::int64_t& offset)
{
    if (text.empty() || text.size() > 18)
        return false;
    std::int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    offset = v;
    return true;
}

// "YYYY/MM/DD HH:MM:SS", strictly.
bool ParseStart(std::string_view text, std::int64_t& t)
{
    static constexpr std::string_view kShape = "0000/00/00 00:00:00";
    if (text.size() != kShape.size())
        return false;
    for (std::size_t i = 0; i < kShape.size(); ++i)
        if (kShape[i] == '0' ? !(text[i] >= '0' && text[i] <= '9') : text[i] != kShape[i])
            return false;
    const auto number = [&](std::size_t at, std::size_t n) {
        int v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v = v * 10 + (text[at + i] - '0');
        return v;
    };
    const auto seconds = WallClockSeconds(number(0, 4), number(5, 2), number(8, 2), number(11, 2), number(14, 2),
                                          number(17, 2));
    if (!seconds)
        return false;
    t = *seconds;
    return true;
}

// An IANA zone name: letters, digits and "/_+-", at most 64 bytes, or empty.
bool ParseZone(std::string_view text, std::string& zone)
{
    if (text.size() > 64)
        return false;
    for (const char c : text)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '_'
              || c == '+' || c == '-'))
            return false;
    zone.assign(text);
    return true;
}

// "+HH:MM" or "-HH:MM", at most 18 hours; or empty.
bool ParseUtcOffset(std::string_view text, std::optional<int>& offset)
{
    if (text.empty())
        return true;
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':')
        return false;
    for (const std::size_t i : {1, 2, 4, 5})
        if (text[i] < '0' || text[i] > '9')
            return false;
    const int hours = (text[1] - '0') * 10 + (text[2] - '0'), minutes = (text[4] - '0') * 10 + (text[5] - '0');
    if (hours > 18 || minutes > 59)
        return false;
    offset = (text[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    return true;
}

} // namespace

std::string FormatUtcOffset(int seconds)
{
    char text[16];
    const int a = seconds < 0 ? -seconds : seconds;
    std::snprintf(text, sizeof text, "%c%02d:%02d", seconds < 0 ? '-' : '+', a / 3600 % 100, a / 60 % 60);
    return text;
}

std::string SidecarPath(std::string_view dataPath)
{
    std::string path(dataPath);
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (path.size() - nameStart > kNameSuffix.size() && path.ends_with(kNameSuffix))
        path.resize(path.size() - kNameSuffix.size());
    path += kSidecarSuffix;
    return path;
}

std::string SidecarHeader()
{
    return std::string(kSidecarMagic) + "\n";
}

std::string FormatRecord(const ColumnsRecord& record)
{
    std::string out = "run\t" + FormatWallClock(record.start);
    const bool zoned = !record.zone.empty() || record.utcOffset;
    if (record.offset >= 0 || zoned)
        out += "\t" + (record.offset >= 0 ? std::to_string(record.offset) : std::string());
    if (zoned) {
        std::string zone;
        out += "\t" + (ParseZone(record.zone, zone) ? zone : std::string());
        out += "\t" + (record.utcOffset ? FormatUtcOffset(*record.utcOffset) : std::string());
    }
    out += "\n";
    for (std::size_t i = 0; i < record.columns.size() && i < kMaxColumns; ++i) {
        const Column& c = record.columns[i];
        out += "column";
        for (const std::string* field : {&c.port, &c.description, &c.type, &c.oid}) {
            out += '\t';
            AppendEscaped(out, *field);
        }
        out += '\n';
    }
    out += "end\n";
    return out;
}

std::string AddRecord(std::string_view existing, const ColumnsRecord& record)
{
    std::string out;
    if (!existing.starts_with(kSidecarMagic)) {
        out = SidecarHeader(); // a new sidecar, or one whose start was lost: the old text still follows
        if (!existing.empty())
            out += "\n";
    }
    out += existing;
    if (!out.empty() && out.back() != '\n')
        out += '\n'; // a record cut short before: it stays dropped, this one stands on its own
    out += FormatRecord(record);
    return out;
}

Sidecar ParseSidecar(std::string_view bytes)
{
    Sidecar sidecar;
    sidecar.found = true;
    if (static_cast<std::int64_t>(bytes.size()) > kMaxFileSize)
        bytes = bytes.substr(0, static_cast<std::size_t>(kMaxFileSize));
    bool inRecord = false;
    bool recordSound = false;
    bool magicSeen = false;
    ColumnsRecord record;
    std::size_t pos = 0;
    std::string field;
    while (pos < bytes.size()) {
        std::size_t nl = bytes.find('\n', pos);
        const bool ended = nl != std::string_view::npos;
        if (!ended)
            nl = bytes.size();
        std::string_view line = bytes.substr(pos, nl - pos);
        pos = nl + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!ended) {
            // A last line without its line end was cut short: nothing of it is used.
            if (inRecord || !line.empty())
                ++sidecar.dropped;
            inRecord = false;
            break;
        }
        if (line.empty())
            continue;
        if (!magicSeen && line == kSidecarMagic) {
            magicSeen = true;
            continue;
        }
        const std::vector<std::string_view> fields = SplitTabs(line);
        if (fields[0] == "run") {
            if (inRecord)
                ++sidecar.dropped; // the last one never ended
            inRecord = true;
            record = ColumnsRecord();
            // Older sidecars end at the offset; the zone and the UTC offset follow it.
            recordSound = (fields.size() == 2
                           || (fields.size() == 3 && ParseOffset(fields[2], record.offset))
                           || (fields.size() == 5 && (fields[2].empty() || ParseOffset(fields[2], record.offset))
                               && ParseZone(fields[3], record.zone) && ParseUtcOffset(fields[4], record.utcOffset)))
                && ParseStart(fields[1], record.start);
        } else if (fields[0] == "column" && inRecord) {
            if (fields.size() != 5 || record.columns.size() >= kMaxColumns) {
                recordSound = false;
                continue;
            }
            Column c;
            std::string* targets[] = {&c.port, &c.description, &c.type, &c.oid};
            for (std::size_t i = 0; i < 4; ++i)
                if (!Unescape(fields[i + 1], *targets[i]))
                    recordSound = false;
            record.columns.push_back(std::move(c));
        } else if (fields[0] == "end" && inRecord && fields.size() == 1) {
            inRecord = false;
            if (recordSound && sidecar.records.size() < kMaxRecords)
                sidecar.records.push_back(std::move(record));
            else
                ++sidecar.dropped;
        } else {
            // A line of no record (or of an unknown kind) spoils the record it is in.
            if (inRecord)
                recordSound = false;
            else
                ++sidecar.dropped;
        }
    }
    if (inRecord)
        ++sidecar.dropped;
    return sidecar;
}

int ReadSidecarBytes(const std::string& path, std::string& bytes)
{
    if (path.empty())
        return EINVAL;
    platform::RegularFile file = platform::ReadRegularFile(path, static_cast<std::size_t>(kMaxFileSize));
    bytes = std::move(file.bytes);
    switch (file.failure) {
    case platform::FileFailure::None:
        return 0;
    case platform::FileFailure::System:
        return file.error == ENOENT ? 0 : file.error;
    case platform::FileFailure::TooLarge:
        return EFBIG;
    case platform::FileFailure::ZeroByte:
    case platform::FileFailure::NotRegular:
        break;
    }
    return EINVAL;
}

Sidecar ReadSidecar(const std::string& path)
{
    std::string bytes;
    const int err = ReadSidecarBytes(path, bytes);
    if (err != 0 || bytes.empty()) {
        Sidecar none;
        none.error = err;
        // An empty file is there, but names nothing.
        none.found = err == 0 && ::access(path.c_str(), F_OK) == 0;
        return none;
    }
    return ParseSidecar(bytes);
}

std::string UnnamedColumn(std::size_t index)
{
    return "Column " + std::to_string(index + 1);
}

std::string ColumnName(const Column& column, std::size_t index)
{
    std::string name = column.port;
    if (!column.description.empty())
        name += (name.empty() ? "" : " ") + column.description;
    if (name.empty())
        name = column.oid;
    return name.empty() ? UnnamedColumn(index) : name;
}

CColumnMap::CColumnMap(Sidecar sidecar) : m_sidecar(std::move(sidecar))
{
    m_recordSeries.resize(m_sidecar.records.size());
}

int CColumnMap::SeriesFor(const std::string& key, const std::string& name, const Column* column)
{
    for (std::size_t i = 0; i < m_series.size(); ++i)
        if (m_series[i].key == key)
            return static_cast<int>(i);
    Series s;
    s.key = key;
    s.name = name;
    if (column) {
        s.column = *column;
        s.named = true;
    }
    m_series.push_back(std::move(s));
    return static_cast<int>(m_series.size() - 1);
}

void CColumnMap::Resolve(std::int64_t t, std::int64_t offset, std::size_t count, std::vector<int>& series)
{
    const auto& records = m_sidecar.records;
    const auto reached = [&](const ColumnsRecord& next) {
        return next.offset >= 0 ? offset >= next.offset : next.start <= t;
    };
    while (m_nRecord + 1 < static_cast<int>(records.size()) && reached(records[static_cast<std::size_t>(m_nRecord + 1)]))
        ++m_nRecord;
    series.resize(count);
    const std::vector<Column>* columns =
        m_nRecord >= 0 ? &records[static_cast<std::size_t>(m_nRecord)].columns : nullptr;
    std::vector<int>* cache = m_nRecord >= 0 ? &m_recordSeries[static_cast<std::size_t>(m_nRecord)] : nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        if (i >= kMaxColumns) {
            series[i] = -1; // past any sensible line: left out, and counted by the caller
            continue;
        }
        if (columns && i < columns->size()) {
            if (cache->size() <= i) {
                const std::size_t from = cache->size();
                for (std::size_t j = from; j < columns->size(); ++j) {
                    const Column& c = (*columns)[j];
                    const std::string name = ColumnName(c, j);
                    cache->push_back(SeriesFor(c.oid.empty() ? "name:" + name : "oid:" + c.oid, name, &c));
                }
            }
            series[i] = (*cache)[i];
            continue;
        }
        ++m_nUnnamed;
        while (m_unnamedSeries.size() <= i) {
            const std::size_t n = m_unnamedSeries.size();
            const int made = SeriesFor("column:" + std::to_string(n + 1), UnnamedColumn(n), nullptr);
            m_series[static_cast<std::size_t>(made)].unnamedIndex = static_cast<int>(n);
            m_unnamedSeries.push_back(made);
        }
        series[i] = m_unnamedSeries[i];
    }
}

} // namespace datafile
