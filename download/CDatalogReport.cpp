#include "download/CDatalogReport.h"

#include "download/IDownloadEvents.h"
#include "download/ReportHeader.h"
#include "platform/CWholeFile.h"
#include "download/ZoneTime.h"
#include "download/getdata.h"
#include "platform/OneLine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kSystem = "system";

constexpr const char* kTypeNames[18] = {
    "",       "temperature", "4-20ma", "humidity", "water", "atod",    "security", "",       "airflow",
    "",       "airflow",     "",       "drycontact", "",    "voltage", "relay",    "motion", "",
};

// Appends printf-formatted text to out.
template <typename... Args>
void Append(std::string& out, const char* format, Args... args)
{
    char line[256];
    const int n = std::snprintf(line, sizeof line, format, args...);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof line) {
        out.append(line, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), format, args...);
    big.resize(static_cast<size_t>(n));
    out += big;
}

// A value in tenths as "<sign><whole>.<tenth>": -5 is -0.5, 235 is 23.5.
void AppendTenths(std::string& out, long long v)
{
    const unsigned long long a = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    Append(out, "%s%llu.%llu", v < 0 ? "-" : "", a / 10, a % 10);
}

void AppendValue(std::string& out, long long v, bool tenths)
{
    if (tenths)
        AppendTenths(out, v);
    else
        Append(out, "%lld", v);
}

// Decimal digits of a, right-aligned to end at end; returns where they begin.
char* Digits(char* end, unsigned long long a)
{
    do {
        *--end = static_cast<char>('0' + a % 10);
        a /= 10;
    } while (a != 0);
    return end;
}

void Two(char* at, int v)
{
    at[0] = static_cast<char>('0' + v / 10 % 10);
    at[1] = static_cast<char>('0' + v % 10);
}

// "%02d/%02d/%04d %02d:%02d:%02d, " and the value, then "\n": a report has up to 32,767 of
// these lines, so they are put together by hand rather than through printf.
void AppendRecordLine(std::string& out, const ZoneFields& f, long long v, bool tenths)
{
    if (f.year < 0 || f.year > 9999) {
        Append(out, "%02d/%02d/%04lld %02d:%02d:%02d, ", f.day, f.month, static_cast<long long>(f.year), f.hour,
               f.minute, f.second);
    } else {
        char stamp[21] = "dd/mm/yyyy hh:mm:ss,";
        Two(stamp, f.day);
        Two(stamp + 3, f.month);
        Two(stamp + 6, static_cast<int>(f.year / 100));
        Two(stamp + 8, static_cast<int>(f.year % 100));
        Two(stamp + 11, f.hour);
        Two(stamp + 14, f.minute);
        Two(stamp + 17, f.second);
        stamp[20] = ' ';
        out.append(stamp, 21);
    }
    const unsigned long long a = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    char text[32];
    char* const end = text + sizeof text;
    char* p = end;
    *--p = '\n';
    if (tenths) {
        *--p = static_cast<char>('0' + a % 10);
        *--p = '.';
        p = Digits(p, a / 10);
    } else {
        p = Digits(p, a);
    }
    if (v < 0)
        *--p = '-';
    out.append(p, static_cast<size_t>(end - p));
}

// A summary line: "<label> : <value> <unit>\n" (label a reportheader:: prefix, " : " included).
void AppendSummary(std::string& out, std::string_view label, int v, bool tenths, const char* unit)
{
    out += label;
    AppendValue(out, v, tenths);
    Append(out, " %s\n", unit);
}

} // namespace

const char* CDatalogReport::SensorTypeName(int type)
{
    return type >= 0 && type < 18 ? kTypeNames[type] : "";
}

bool CDatalogReport::InTenths(int type)
{
    return type == 2 || type == 5;
}

int CDatalogReport::BuildFileName(char* dest, int room, const getdata& data)
{
    return BuildFileName(dest, room, data.address_text(), data.port_index(), data.status().sensor_type);
}

int CDatalogReport::BuildFileName(char* dest, int room, const std::string& address, int portIndex, int sensorType)
{
    if (!dest || room <= 0)
        return -1;
    std::memset(dest, 0, static_cast<size_t>(room));
    std::snprintf(dest, static_cast<size_t>(room), "%s_", address.c_str());
    size_t len = std::strlen(dest);
    if (len + 1 >= static_cast<size_t>(room))
        return -1;

    char part[64];
    std::snprintf(part, sizeof part, "p%d_%s", portIndex + 1, SensorTypeName(sensorType));
    if (len + std::strlen(part) >= static_cast<size_t>(room))
        return -1;
    std::strcat(dest, part);
    len += std::strlen(part);

    if (len + 4 >= static_cast<size_t>(room))
        return -1;
    std::strcat(dest, ".txt");
    return static_cast<int>(len + 4);
}

std::string CDatalogReport::FormatReport(const std::string& address, const status_block& s, const SampleFn& sample,
                                         int count)
{
    const int type = s.sensor_type;
    const bool tenths = InTenths(type);
    const int C = std::max(count, 0);

    double sum = 0.0;
    for (int i = 0; i < C; ++i)
        sum += sample(i);
    m_dAverage = C > 0 ? sum / C : 0.0;

    // Without the option every time is UTC and the zone shown is row 0's.
    const int zone = m_bLocalZone ? s.zone_index : 0;
    ZoneClock fields(zone, !m_bLocalZone);

    // The unit's texts each stay on their line: a line break in them would start lines that
    // read as records.
    const std::string systemName = platform::OneLine(s.system_name);
    const std::string description = platform::OneLine(s.description);
    const std::string unit = platform::OneLine(s.unit_of_measure);

    std::string out;
    out.reserve(1024 + static_cast<size_t>(C) * 32);
    out += reportheader::kStart;
    Append(out, "%s.\n", kSystem);
    out += kSystem;
    out += reportheader::kAddress;
    Append(out, "%s\n", address.c_str());
    out += reportheader::kSystemName;
    Append(out, "%s\n", systemName.c_str());
    out += reportheader::kPort;
    Append(out, "%d\n", s.port + 1);
    out += reportheader::kDescription;
    Append(out, "%s\n", description.c_str());

    const ZoneFields now = fields(s.unit_time);
    out += reportheader::kCurrentTime;
    Append(out, "%s time %s : %02d/%02d/%lld %02d:%02d:%02d\n", kSystem, zone_name(zone).c_str(), now.day,
           now.month, static_cast<long long>(now.year), now.hour, now.minute, now.second);

    AppendSummary(out, reportheader::kAverageHigh, s.average_high, tenths, unit.c_str());
    AppendSummary(out, reportheader::kAverageLow, s.average_low, tenths, unit.c_str());
    AppendSummary(out, reportheader::kInstantHigh, s.instant_high, tenths, unit.c_str());
    AppendSummary(out, reportheader::kInstantLow, s.instant_low, tenths, unit.c_str());
    out += reportheader::kAverage;
    Append(out, "%0.1f %s\n", tenths ? m_dAverage * 0.1 : m_dAverage, unit.c_str());

    // The newest record carries the newest time; each older one is an interval earlier.
    const long long interval = static_cast<long long>(s.interval) * 60;
    long long t = static_cast<long long>(s.newest_time) - static_cast<long long>(C - 1) * interval;
    for (int i = 0; i < C; ++i, t += interval) {
        AppendRecordLine(out, fields(t), sample(i), tenths);
    }
    out += '\n';
    return out;
}

int CDatalogReport::WriteReport(const std::string& path, const getdata& data, bool append)
{
    const int count = std::min<int>(data.status().record_count, data.sample_count());
    return WriteReport(path, data.address_text(), data.status(), [&data](int i) { return data.sample(i); }, count,
                       append);
}

int CDatalogReport::WriteReport(const std::string& path, const std::string& address, const status_block& status,
                                const SampleFn& sample, int count, bool append)
{
    if (path.empty()) {
        StatusLine("No file name to write data to !\n");
        return -1;
    }
    CWholeFile file;
    if (!file.Open(path, append)) {
        StatusLine("Can't open file:" + path + " to write data !\n");
        return -1;
    }
    const std::string text = FormatReport(address, status, sample, count);
    StatusLine("Saving data to \"" + path + "\" ...\n", true);
    if (!file.Commit(text)) {
        if (file.InPlace()) {
            StatusLine("Can't sync the folder of file:" + path + " (" + file.ErrorText() + ").\n");
            return -1;
        }
        StatusLine("Can't write data to file:" + path + " (" + file.ErrorText() + "), the file is left as it was.\n");
        return -1;
    }
    return 0;
}

void CDatalogReport::StatusLine(const std::string& text, bool isFileLink) const
{
    if (m_pDialog)
        m_pDialog->AddStatusLine(text, isFileLink);
}
