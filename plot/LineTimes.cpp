#include "plot/LineTimes.h"

#include "collect/DataFileFormat.h"
#include "download/ReportHeader.h"
#include "download/ZoneTime.h"

#include <QDateTime>

#include <algorithm>

namespace {

constexpr std::int64_t kDay = 86400;
constexpr std::size_t kMaxReportZones = 65536;

std::int64_t UnitWallClock(std::int64_t instant, int z)
{
    const ZoneFields f = zone_localtime(instant, z);
    return datafile::WallClockSeconds(static_cast<int>(f.year), f.month, f.day, f.hour, f.minute, f.second)
        .value_or(instant);
}

} // namespace

CZoneClock::CZoneClock(const QTimeZone& zone) : m_kind(zone.isValid() ? Kind::Iana : Kind::Fixed), m_zone(zone) {}

CZoneClock CZoneClock::UnitZone(int z)
{
    CZoneClock clock;
    const TimeZoneEntry* entry = zone_entry(z);
    if (!entry)
        return clock; // shown in UTC
    clock.m_nFixed = -entry->offset * 60;
    if (entry->rules) {
        clock.m_kind = Kind::Unit;
        clock.m_nUnitZone = z;
    }
    return clock;
}

CZoneClock::Stretch CZoneClock::Lookup(std::int64_t instant) const
{
    Stretch s;
    if (m_kind == Kind::Unit) {
        // The table's rules change twice a year at most: a day either side holds one offset
        // when both ends and the middle agree.
        s.offset = static_cast<int>(UnitWallClock(instant, m_nUnitZone) - instant);
        const std::int64_t step = 3600;
        s.from = s.to = instant;
        while (s.from - step > instant - 40 * kDay
               && UnitWallClock(s.from - step, m_nUnitZone) - (s.from - step) == s.offset)
            s.from -= step;
        while (s.to + step < instant + 40 * kDay && UnitWallClock(s.to + step, m_nUnitZone) - (s.to + step) == s.offset)
            s.to += step;
        s.to += 1;
        return s;
    }
    const QDateTime at = QDateTime::fromSecsSinceEpoch(instant, Qt::UTC);
    s.offset = m_zone.offsetFromUtc(at);
    const QTimeZone::OffsetData before = m_zone.previousTransition(at.addSecs(1));
    const QTimeZone::OffsetData after = m_zone.nextTransition(at);
    s.from = before.atUtc.isValid() ? before.atUtc.toSecsSinceEpoch() : INT64_MIN;
    s.to = after.atUtc.isValid() ? after.atUtc.toSecsSinceEpoch() : INT64_MAX;
    if (s.from > instant || s.to <= instant)
        s.from = s.to = instant, s.to += 1; // a database that disagrees with itself: this second only
    return s;
}

int CZoneClock::OffsetAt(std::int64_t instant)
{
    if (m_kind == Kind::Fixed)
        return m_nFixed;
    for (const Stretch& s : m_cache)
        if (instant >= s.from && instant < s.to)
            return s.offset;
    Stretch& slot = m_cache[m_nNext];
    m_nNext ^= 1;
    slot = Lookup(instant);
    return slot.offset;
}

std::int64_t CZoneClock::Instant(std::int64_t local, std::int64_t notBefore)
{
    // The offsets in force a day before and after bound the candidates: within a day of a time
    // the zone changes at most once.
    const int early = OffsetAt(local - kDay), late = OffsetAt(local + kDay);
    const std::int64_t first = local - early;
    if (early == late)
        return first;
    const std::int64_t second = local - late;
    const bool firstReads = OffsetAt(first) == early, secondReads = OffsetAt(second) == late;
    if (firstReads && secondReads) {
        const std::int64_t lo = std::min(first, second), hi = std::max(first, second);
        return lo >= notBefore ? lo : hi; // the repeated hour
    }
    if (secondReads)
        return second;
    return first;
}

CLineTimes::CLineTimes(const QByteArray& fallback)
    : m_fallbackId(fallback.isEmpty() ? QTimeZone::systemTimeZoneId() : fallback)
    , m_fallback(QTimeZone(m_fallbackId))
{
}

void CLineTimes::SetRecords(const std::vector<datafile::ColumnsRecord>& records)
{
    m_recordZones.clear();
    m_recordStarts.clear();
    m_recordZoned.clear();
    for (const datafile::ColumnsRecord& r : records) {
        const QTimeZone zone(QByteArray::fromStdString(r.zone));
        const bool zoned = !r.zone.empty() && zone.isValid();
        m_recordZones.push_back(zoned ? CZoneClock(zone) : m_fallback);
        m_recordZoned.push_back(zoned);
        // The start's own offset says which pass of a repeated hour the run began in.
        m_recordStarts.push_back(r.utcOffset ? r.start - *r.utcOffset : INT64_MIN);
    }
    m_nRecord = -2;
}

std::int64_t CLineTimes::Resolve(CZoneClock& zone, std::int64_t t)
{
    const std::int64_t instant = zone.Instant(t, m_nNotBefore);
    m_nNotBefore = std::max(m_nNotBefore, instant);
    m_nLastOffset = static_cast<int>(t - instant);
    m_clock.Add(instant, m_nLastOffset);
    return instant;
}

std::int64_t CLineTimes::DataLine(int record, std::int64_t t)
{
    if (record != m_nRecord) {
        m_nRecord = record;
        m_nNotBefore = record >= 0 && static_cast<std::size_t>(record) < m_recordStarts.size()
                           ? m_recordStarts[static_cast<std::size_t>(record)]
                           : INT64_MIN;
    }
    if (record >= 0 && static_cast<std::size_t>(record) < m_recordZones.size()) {
        if (!m_recordZoned[static_cast<std::size_t>(record)])
            m_bAssumed = true;
        return Resolve(m_recordZones[static_cast<std::size_t>(record)], t);
    }
    m_bAssumed = true;
    return Resolve(m_fallback, t);
}

void CLineTimes::ReportHeader(std::string_view text, std::int64_t offset)
{
    // "<who> time <zone> : <date> <time>"
    const std::size_t time = text.find(" time ");
    const std::size_t end = text.rfind(reportheader::kLabelEnd);
    int z = 0;
    if (time != std::string_view::npos && end != std::string_view::npos && end > time + 6) {
        const std::string_view name = text.substr(time + 6, end - time - 6);
        for (int i = 0; i < kZoneCount; ++i)
            if (zone_name(i) == name)
                z = i;
    }
    m_report = CZoneClock::UnitZone(z);
    m_nNotBefore = INT64_MIN;
    if (m_reportZones.size() < kMaxReportZones && (m_reportZones.empty() || m_reportZones.back().first < offset))
        m_reportZones.emplace_back(offset, z);
}

std::int64_t CLineTimes::ReportLine(std::int64_t t)
{
    return Resolve(m_report, t);
}

void CLineTimes::StartAt(std::int64_t offset, int record, std::int64_t notBefore)
{
    m_nRecord = record;
    m_nNotBefore = notBefore;
    auto it = std::upper_bound(m_reportZones.begin(), m_reportZones.end(), offset,
                               [](std::int64_t at, const std::pair<std::int64_t, int>& z) { return at < z.first; });
    m_report = CZoneClock::UnitZone(it == m_reportZones.begin() ? 0 : std::prev(it)->second);
}

std::string AssumedZoneNote(const QByteArray& zone)
{
    if (zone.isEmpty())
        return {};
    return "Lines whose column sidecar names no time zone are taken as local time of " + zone.toStdString()
        + " (--zone names another).";
}
