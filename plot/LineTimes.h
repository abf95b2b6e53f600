#pragma once
#include "collect/ColumnsSidecar.h"
#include "plot/PlotTimeAxis.h"

#include <QByteArray>
#include <QTimeZone>

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

// One zone's local times and the instants they stand for: an IANA zone of the system's database
// (a data file's sidecar names the collecting machine's) or a row of the units' fixed table (a
// report's). Offsets are seconds east of UTC; a local time is read as if UTC (the files'
// wall-clock seconds). Lookups keep the stretch between two transitions they last fell in, so a
// file's lines cost two comparisons each away from a transition.
class CZoneClock {
public:
    CZoneClock() = default; // UTC
    explicit CZoneClock(const QTimeZone& zone);
    static CZoneClock UnitZone(int z); // a report's zone, from the units' table

    int OffsetAt(std::int64_t instant);
    // The instant that reads local. In the repeated hour (two instants read it) the earlier one
    // that is not before notBefore; a time the clock skipped is taken as if the change had not
    // come yet.
    std::int64_t Instant(std::int64_t local, std::int64_t notBefore);

private:
    struct Stretch {
        std::int64_t from = 1, to = 0; // [from, to) of instants
        int offset = 0;
    };
    Stretch Lookup(std::int64_t instant) const;

    enum class Kind { Fixed, Iana, Unit } m_kind = Kind::Fixed;
    QTimeZone m_zone;
    int m_nUnitZone = 0;
    int m_nFixed = 0;
    Stretch m_cache[2];
    int m_nNext = 0;
};

// The instants of a file's lines. A data file's line is in the zone of its run's sidecar record;
// a record without one (an older sidecar), or a line before the first record, is in the fallback
// zone (the one given, else the machine's), and Assumed() then names it for a note. Within a run
// the times only go forward, so in the repeated hour of an autumn change a line that steps back
// by the shift is the second pass through that hour. A report's lines are in the zone its
// "Current ... time" line names (UTC, or the unit's zone from the table).
//
// Clock() collects, for the plot's axis, the offsets the lines had, so that their instants read
// back as the local times the file wrote.
class CLineTimes {
public:
    // fallback: an IANA name; empty for the machine's zone.
    explicit CLineTimes(const QByteArray& fallback = {});

    void SetRecords(const std::vector<datafile::ColumnsRecord>& records);
    // The instant of a data line of local time t in record (-1: before the first).
    std::int64_t DataLine(int record, std::int64_t t);

    // A report's "Current <who> time <zone> : ..." line (the text after "Current "), read at
    // byte offset of the file.
    void ReportHeader(std::string_view text, std::int64_t offset);
    std::int64_t ReportLine(std::int64_t t);

    // A reader that starts inside the file: the lines from offset, none of them before notBefore.
    void StartAt(std::int64_t offset, int record, std::int64_t notBefore);

    // The offset (seconds east) of the last line resolved.
    int LastOffset() const { return m_nLastOffset; }
    // The fallback zone's name when some line was resolved in it, else empty.
    QByteArray Assumed() const { return m_bAssumed ? m_fallbackId : QByteArray(); }
    const plottime::Clock& Clock() const { return m_clock; }

private:
    std::int64_t Resolve(CZoneClock& zone, std::int64_t t);

    QByteArray m_fallbackId;
    CZoneClock m_fallback;
    std::vector<CZoneClock> m_recordZones;        // per record: its own, or the fallback
    std::vector<std::int64_t> m_recordStarts;      // per record: its start's instant, if known
    std::vector<bool> m_recordZoned;
    std::vector<std::pair<std::int64_t, int>> m_reportZones; // from byte offset on: table row
    CZoneClock m_report;
    int m_nRecord = -2;
    std::int64_t m_nNotBefore = INT64_MIN;
    int m_nLastOffset = 0;
    bool m_bAssumed = false;
    plottime::Clock m_clock;
};

// The note that says so when lines were taken in the fallback zone; empty when none were.
std::string AssumedZoneNote(const QByteArray& zone);
