#include "exporter/CExporter.h"

#include "exporter/CMetricsText.h"
#include "exporter/CProcessCollector.h"
#include "exporter/CServerCollector.h"
#include "exporter/CUnitReader.h"
#include "oidgen/CSensorScan.h"
#include "oidgen/OidTemplates.h"
#include "snmp/CSnmpSession.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <utility>

namespace {

// What a client may give as X-Prometheus-Scrape-Timeout-Seconds: beyond a day is not a time-out.
constexpr double kLongestClientTimeout = 86400;

const char* const kLandingPage =
    "<!DOCTYPE html>\n<html><head><title>Veltrane exporter</title></head>\n"
    "<body><h1>Veltrane exporter</h1><p>The units' sensors: <a href=\"/metrics\">/metrics</a></p></body></html>\n";

CHttpServer::Response TextResponse(int status, const char* text)
{
    return CHttpServer::Response{status, "text/plain; charset=utf-8", text, {}, {}};
}

CHttpServer::Response MetricsResponse(std::shared_ptr<const std::string> page)
{
    return CHttpServer::Response{200, "text/plain; version=0.0.4; charset=utf-8", {}, {}, std::move(page)};
}

// The time a client allows its scrape, from X-Prometheus-Scrape-Timeout-Seconds ("2", "9.5");
// nothing for a missing or unusable value.
std::optional<std::chrono::duration<double>> ClientTimeout(const CHttpServer::Request& request)
{
    const std::string* text = request.Header("X-Prometheus-Scrape-Timeout-Seconds");
    if (!text || text->empty() || text->size() > 32)
        return std::nullopt;
    char* end = nullptr;
    const double seconds = std::strtod(text->c_str(), &end);
    if (end != text->c_str() + text->size() || !std::isfinite(seconds) || seconds <= 0 ||
        seconds > kLongestClientTimeout)
        return std::nullopt;
    return std::chrono::duration<double>(seconds);
}

struct ExportedSensor {
    std::string strOid;
    std::string strPort;        // "Port 3", as the Generate OID dialog shows it
    std::string strDescription;
    std::string strType;        // the unit's type code; empty when no scan found the OID
};
using SensorList = std::vector<ExportedSensor>;

// Asked of a unit whose sensor list is empty, so that up still tells whether it answers: the
// table-16 status at index 1 exists on units of 2 and 8 ports, counting from 0 or from 1.
std::string ProbeOid()
{
    return ExpandedOid(oidtpl::kTable16Status, 1);
}

} // namespace

// What the exporter knows of one unit; scans and scrapes meet here.
class CUnitState {
public:
    explicit CUnitState(CExporterUnit unit) : m_unit(std::move(unit))
    {
        auto sensors = std::make_shared<SensorList>();
        for (const std::string& oid : m_unit.m_oidList)
            sensors->push_back(ExportedSensor{oid, {}, {}, {}});
        m_pSensors = std::move(sensors);
    }

    const CExporterUnit m_unit;
    mutable std::mutex m_mutex; // guards everything below
    std::shared_ptr<const SensorList> m_pSensors;
    bool m_bScanOk = false;   // the last scan reached the unit
    bool m_bScanning = false;
    bool m_bRetired = false;  // no longer served since a reload: a late scan result is dropped
    CSensorScan* m_pScan = nullptr; // the scan running, which a reload or the end cuts short
    // The scrapes' SNMP session, kept open from one scrape to the next (none while a scrape
    // uses it); a reload that changes the unit makes a new state, and so a new session.
    std::unique_ptr<CSnmpSession> m_pSession;
    // When a scrape last asked for a scan because the unit no longer knew an OID of its list.
    std::optional<std::chrono::steady_clock::time_point> m_lastUnknownOidScan;
    int m_nLastErrorCode = -1; // of the last scrape, -1 before the first; for the log
};

CExporter::CExporter(const CExporterConfig& config, LogFunction log, QObject* parent)
    : QObject(parent), m_nRescanMinutes(config.m_nRescanMinutes), m_log(std::move(log))
{
    for (const CExporterUnit& unit : config.m_units)
        m_units.push_back(std::make_shared<CUnitState>(unit));
    m_scanPool.setMaxThreadCount(kScanThreads);
    m_rescanTimer.setSingleShot(true);
    connect(&m_rescanTimer, &QTimer::timeout, this, &CExporter::Rescan);
}

CExporter::~CExporter()
{
    Shutdown(0);
}

void CExporter::Log(const std::string& line) const
{
    if (m_log)
        m_log(line);
}

bool CExporter::Listen(const QHostAddress& address, quint16 port, QString& error, const CHttpServer::Limits& limits,
                       std::shared_ptr<const CWebConfig> web)
{
    const QString where = QString(address.protocol() == QAbstractSocket::IPv6Protocol ? "[%1]:%2" : "%1:%2")
                              .arg(address.toString())
                              .arg(port);
    sockaddr_storage socketAddress {};
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* six = reinterpret_cast<sockaddr_in6*>(&socketAddress);
        six->sin6_family = AF_INET6;
        six->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::copy(std::begin(bytes.c), std::end(bytes.c), six->sin6_addr.s6_addr);
    } else if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* four = reinterpret_cast<sockaddr_in*>(&socketAddress);
        four->sin_family = AF_INET;
        four->sin_port = htons(port);
        four->sin_addr.s_addr = htonl(address.toIPv4Address());
    } else {
        error = "cannot listen on " + where + ": not an IPv4 or IPv6 address";
        return false;
    }
    std::string why;
    if (!Server(limits, std::move(web)).Listen(reinterpret_cast<const sockaddr*>(&socketAddress), why)) {
        error = "cannot listen on " + where + ": " + QString::fromStdString(why);
        return false;
    }
    return true;
}

bool CExporter::ListenOn(int fd, QString& error, const CHttpServer::Limits& limits,
                         std::shared_ptr<const CWebConfig> web)
{
    std::string why;
    if (!Server(limits, std::move(web)).Adopt(fd, why)) {
        error = "cannot serve the socket from systemd: " + QString::fromStdString(why);
        return false;
    }
    return true;
}

CHttpServer& CExporter::Server(const CHttpServer::Limits& limits, std::shared_ptr<const CWebConfig> web)
{
    if (!m_pServer) {
        m_pServer = std::make_unique<CHttpServer>(
            [this](const CHttpServer::Request& request, const std::shared_ptr<CHttpServer::Reply>& reply) {
                OnRequest(request, reply);
            },
            limits, std::move(web));
        m_scrapeThread = std::thread(&CExporter::ScrapeLoop, this);
    }
    return *m_pServer;
}

std::vector<std::string> CExporter::ServerAddresses() const
{
    return m_pServer ? m_pServer->Addresses() : std::vector<std::string>{};
}

quint16 CExporter::ServerPort() const
{
    return m_pServer ? m_pServer->Port() : 0;
}

void CExporter::OnRequest(const CHttpServer::Request& request, const std::shared_ptr<CHttpServer::Reply>& reply)
{
    const bool metrics = request.strPath == "/metrics";
    // Health (serving at all) and readiness (the first scans ended), as Prometheus's own are.
    const bool healthy = request.strPath == "/-/healthy", ready = request.strPath == "/-/ready";
    if (!metrics && !healthy && !ready && request.strPath != "/") {
        reply->Send(TextResponse(404, "Not found: the units' sensors are at /metrics.\n"));
        return;
    }
    if (request.strMethod != "GET" && request.strMethod != "HEAD") {
        CHttpServer::Response response = TextResponse(405, "Only GET and HEAD are served.\n");
        response.headers.emplace_back("Allow", "GET, HEAD");
        reply->Send(std::move(response));
        return;
    }
    if (healthy || ready) {
        const bool yes = healthy || m_bFirstScansEnded;
        reply->Send(TextResponse(yes ? 200 : 503, yes ? "OK\n" : "The first scans have not ended.\n"));
        return;
    }
    if (!metrics) {
        reply->Send(CHttpServer::Response{200, "text/html; charset=utf-8", kLandingPage, {}, {}});
        return;
    }
    Waiting waiting{reply, std::nullopt};
    if (const auto timeout = ClientTimeout(request)) {
        // Keep a margin for the page to travel, but never more than a quarter of the time.
        const auto margin = std::min<std::chrono::duration<double>>(kScrapeTimeoutMargin, *timeout / 4);
        waiting.until = CUnitReader::Clock::now() +
                        std::chrono::duration_cast<CUnitReader::Clock::duration>(*timeout - margin);
    }
    std::lock_guard lock(m_scrapeMutex);
    if (m_bScrapeLoopEnds) {
        reply->Send(TextResponse(503, "The exporter is stopping.\n"));
        return;
    }
    if (!m_pScrapeDeadline && m_pLastPage && CUnitReader::Clock::now() - m_lastPageEnd < kPageReuse) {
        reply->Send(MetricsResponse(m_pLastPage));
        return;
    }
    if (m_pScrapeDeadline && waiting.until)
        m_pScrapeDeadline->BringForward(*waiting.until);
    m_waiting.push_back(std::move(waiting));
    m_scrapeWanted.notify_one();
}

void CExporter::ScrapeLoop()
{
    std::unique_lock lock(m_scrapeMutex);
    while (true) {
        m_scrapeWanted.wait(lock, [this] { return m_bScrapeLoopEnds || !m_waiting.empty(); });
        if (m_bScrapeLoopEnds)
            return;
        CUnitReader::Deadline deadline;
        for (const Waiting& waiting : m_waiting)
            if (waiting.until)
                deadline.BringForward(*waiting.until);
        m_pScrapeDeadline = &deadline;
        const std::uint64_t listChanges = m_nListChanges;
        lock.unlock();
        auto page = std::make_shared<const std::string>(Scrape(&deadline));
        lock.lock();
        m_pScrapeDeadline = nullptr;
        // A scan that ended or a reload during the scrape may have changed a list it read.
        m_pLastPage = m_nListChanges == listChanges ? page : nullptr;
        m_lastPageEnd = CUnitReader::Clock::now();
        const std::vector<Waiting> answered = std::exchange(m_waiting, {});
        lock.unlock();
        const CHttpServer::Response response = MetricsResponse(page);
        for (const Waiting& waiting : answered)
            waiting.reply->Send(response); // nothing happens for a client that left
        lock.lock();
    }
}

unsigned long CExporter::DescriptorsNeeded(const CExporterConfig& config, const CHttpServer::Limits& limits)
{
    constexpr unsigned long kMargin = 64; // standard streams, the listening socket, libraries' own
    return config.m_units.size() + kScanThreads + limits.nConnections + kMargin;
}

std::vector<std::shared_ptr<CUnitState>> CExporter::Units() const
{
    std::lock_guard lock(m_unitsMutex);
    return m_units;
}

CExporter::ReloadCounts CExporter::Reload(const CExporterConfig& config)
{
    ReloadCounts counts;
    if (m_bStopping)
        return counts;
    std::map<std::string, std::shared_ptr<CUnitState>> old;
    for (const auto& unit : Units())
        old.emplace(unit->m_unit.m_strName, unit);
    std::vector<std::shared_ptr<CUnitState>> units;
    for (const CExporterUnit& unit : config.m_units) {
        const auto it = old.find(unit.m_strName);
        if (it == old.end()) {
            ++counts.nAdded;
        } else if (it->second->m_unit == unit) {
            ++counts.nKept;
            units.push_back(it->second);
            old.erase(it);
            continue;
        } else {
            ++counts.nChanged;
        }
        units.push_back(std::make_shared<CUnitState>(unit));
    }
    counts.nRemoved = static_cast<int>(old.size()) - counts.nChanged;
    for (const auto& [name, unit] : old) {
        std::lock_guard lock(unit->m_mutex);
        unit->m_bRetired = true;
        unit->m_pSession.reset(); // its socket goes now, not when the last scan of it ends
        if (unit->m_pScan)
            unit->m_pScan->Abandon(); // a dead unit's scan would hold a scan thread for its time-outs
    }
    {
        std::lock_guard lock(m_unitsMutex);
        m_units = std::move(units);
    }
    {
        std::lock_guard lock(m_scrapeMutex);
        m_pLastPage.reset(); // the next request sees the new units
        ++m_nListChanges;
    }
    m_nRescanMinutes = config.m_nRescanMinutes;
    Rescan();
    return counts;
}

void CExporter::Rescan()
{
    if (m_bStopping)
        return;
    ++m_nScansPending; // held while the scans start: the first round ends after all of them
    for (const auto& unit : Units())
        StartScan(unit);
    ScanEnded();
    if (m_nRescanMinutes > 0)
        m_rescanTimer.start(std::chrono::minutes(m_nRescanMinutes));
    else
        m_rescanTimer.stop();
}

void CExporter::StartScan(const std::shared_ptr<CUnitState>& state)
{
    {
        std::lock_guard lock(state->m_mutex);
        if (state->m_bScanning || state->m_bRetired || m_bStopping)
            return;
        state->m_bScanning = true;
    }
    ++m_nScansPending;
    // The task owns its unit: a reload may drop the unit from m_units while it waits or runs.
    m_scanPool.start([this, state] {
        bool retired = false;
        {
            std::lock_guard lock(state->m_mutex);
            retired = state->m_bRetired;
        }
        if (!m_bStopping && !retired)
            ScanUnit(*state);
        {
            std::lock_guard lock(state->m_mutex);
            state->m_bScanning = false;
        }
        ScanEnded();
    });
}

void CExporter::ScanEnded()
{
    if (--m_nScansPending == 0)
        m_bFirstScansEnded = true;
}

int CExporter::ScansPending() const
{
    return m_nScansPending;
}

void CExporter::ScanUnit(CUnitState& state)
{
    const CExporterUnit& unit = state.m_unit;
    const std::string who = "unit \"" + unit.m_strName + "\" (" + unit.m_strAddress + ")";
    CSensorScan scan;
    scan.m_strIpAddress = unit.m_strAddress;
    scan.m_strCommunity = unit.m_strCommunity;
    // The unit's own bound, as for its reads: a dead unit holds a scan thread no longer.
    scan.m_nTimeout = unit.m_nTimeout;
    scan.m_nRetries = unit.m_nRetries;
    {
        std::lock_guard lock(state.m_mutex);
        if (state.m_bRetired || m_bStopping)
            return;
        state.m_pScan = &scan;
    }
    const ScanResult found = scan.Scan();
    {
        std::lock_guard lock(state.m_mutex);
        state.m_pScan = nullptr;
    }

    // A unit that did not answer told nothing about its sensors: the last good list stays.
    if (!found.answered) {
        {
            std::lock_guard lock(state.m_mutex);
            if (state.m_bRetired || m_bStopping)
                return;
            state.m_bScanOk = false;
        }
        const std::string why = found.messages.empty() ? found.status : found.messages.front();
        Log(who + ": scan failed: " + why + " The last sensor list stays.");
        return;
    }

    auto sensors = std::make_shared<SensorList>();
    auto labelled = [](const ScanResult::Row& row) {
        return ExportedSensor{row.oid, row.label, row.description, std::to_string(row.typeCode)};
    };
    if (unit.m_bAllOnline) {
        // Every row the scan listed, as the Generate OID dialog ticks them all.
        for (const ScanResult::Row& row : found.rows)
            sensors->push_back(labelled(row));
    } else {
        for (const std::string& oid : unit.m_oidList) {
            ExportedSensor sensor{oid, {}, {}, {}};
            for (const ScanResult::Row& row : found.rows)
                if (row.oid == oid)
                    sensor = labelled(row);
            sensors->push_back(sensor);
        }
    }
    if (m_bStopping)
        return;
    {
        std::lock_guard lock(state.m_mutex);
        if (state.m_bRetired)
            return;
        state.m_pSensors = sensors;
        state.m_bScanOk = true;
    }
    {
        // A page kept for reuse was read with the old list: the next request reads anew.
        std::lock_guard lock(m_scrapeMutex);
        m_pLastPage.reset();
        ++m_nListChanges;
    }
    std::string line = who + ": scan found " + std::to_string(found.rows.size()) + " sensor" +
                       (found.rows.size() == 1 ? "" : "s") + " online, reading " +
                       std::to_string(sensors->size());
    if (!found.messages.empty())
        line += " (a description or type could not be read)";
    Log(line);
}

std::string CExporter::Scrape(CUnitReader::Deadline* deadline)
{
    const auto start = std::chrono::steady_clock::now();
    struct Snapshot {
        std::shared_ptr<const SensorList> sensors;
        bool bScanOk;
    };
    // The whole scrape works on the units served when it began, even if a reload comes meanwhile.
    const std::vector<std::shared_ptr<CUnitState>> units = Units();
    std::vector<Snapshot> snapshots;
    std::vector<CUnitReader::Request> requests;
    snapshots.reserve(units.size());
    requests.reserve(units.size());
    for (const auto& unit : units) {
        std::lock_guard lock(unit->m_mutex);
        snapshots.push_back(Snapshot{unit->m_pSensors, unit->m_bScanOk});
        CUnitReader::Request request{unit->m_unit.m_strAddress, unit->m_unit.m_strCommunity, unit->m_unit.m_nTimeout,
                                     unit->m_unit.m_nRetries, {}, std::move(unit->m_pSession)};
        for (const ExportedSensor& sensor : *unit->m_pSensors)
            request.oids.push_back(sensor.strOid);
        if (request.oids.empty())
            request.oids.push_back(ProbeOid());
        requests.push_back(std::move(request));
    }

    const std::vector<CUnitReader::Result> results = CUnitReader::Read(requests, deadline);
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::lock_guard lock(units[i]->m_mutex);
        if (!units[i]->m_pSession && !units[i]->m_bRetired)
            units[i]->m_pSession = std::move(requests[i].pSession);
    }

    CMetricsText page;
    page.Gauge("veltrane_sensor_value", "Sensor value as the unit reads it; values that are not numbers are left out.");
    page.Gauge("veltrane_unit_up", "1 when the unit answered this scrape's request, else 0.");
    page.Gauge("veltrane_unit_request_seconds", "Time from the unit's request to its answer or to giving up.");
    page.Gauge("veltrane_unit_error_code",
               "0 when the unit answered; else the read's error: 40 time-out, 41 still silent at the scrape's "
               "deadline, 6 no access (wrong community), 2 unknown OID, other codes as the SNMP session reports "
               "them.");
    page.Gauge("veltrane_unit_sensors", "Sensors in the unit's current list.");
    page.Gauge("veltrane_unit_scan_success", "1 when the unit's last discovery scan reached it, else 0.");
    page.Gauge("veltrane_scrape_duration_seconds", "Time this scrape took.");

    for (std::size_t i = 0; i < units.size(); ++i) {
        CUnitState& unit = *units[i];
        const CUnitReader::Result& result = results[i];
        const SensorList& sensors = *snapshots[i].sensors;
        // The unit's labels are escaped once for its samples.
        const std::string unitLabels =
            CMetricsText::LabelText({{"unit", unit.m_unit.m_strName}, {"address", unit.m_unit.m_strAddress}});
        const bool up = result.bAnswered;
        if (up && result.values.size() == sensors.size()) {
            for (std::size_t k = 0; k < sensors.size(); ++k) {
                const std::optional<double> value = CMetricsText::Number(result.values[k]);
                if (!value)
                    continue;
                const ExportedSensor& s = sensors[k];
                page.SampleWithLabelText("veltrane_sensor_value",
                                         unitLabels + ','
                                             + CMetricsText::LabelText({{"port", s.strPort},
                                                                        {"description", s.strDescription},
                                                                        {"type", s.strType},
                                                                        {"oid", s.strOid}}),
                                         *value);
            }
        }
        page.SampleWithLabelText("veltrane_unit_up", unitLabels, up ? 1 : 0);
        page.SampleWithLabelText("veltrane_unit_request_seconds", unitLabels, result.dSeconds);
        page.SampleWithLabelText("veltrane_unit_error_code", unitLabels, result.nErrorCode);
        page.SampleWithLabelText("veltrane_unit_sensors", unitLabels, static_cast<double>(sensors.size()));
        page.SampleWithLabelText("veltrane_unit_scan_success", unitLabels, snapshots[i].bScanOk ? 1 : 0);

        // The log says when a unit starts failing or answers again, not at every scrape.
        bool changed = false;
        bool rescan = false;
        {
            std::lock_guard lock(unit.m_mutex);
            changed = unit.m_nLastErrorCode != result.nErrorCode;
            unit.m_nLastErrorCode = result.nErrorCode;
            // A sensor unplugged since the scan makes the unit answer noSuchName for the whole
            // list: scan it again at once rather than lose all its values until the next
            // scheduled scan, yet not more than once per kUnknownOidRescanMinutes.
            const auto now = std::chrono::steady_clock::now();
            if (unit.m_unit.m_bAllOnline && result.nErrorCode == CSnmpSession::kNoSuchName &&
                (!unit.m_lastUnknownOidScan ||
                 now - *unit.m_lastUnknownOidScan > std::chrono::minutes(kUnknownOidRescanMinutes))) {
                unit.m_lastUnknownOidScan = now;
                rescan = true;
            }
        }
        if (rescan)
            StartScan(units[i]);
        if (changed)
            Log("unit \"" + unit.m_unit.m_strName + "\" (" + unit.m_unit.m_strAddress + "): " +
                (up ? std::string("answers") : "read failed: Error No " + std::to_string(result.nErrorCode) + " : " +
                                                   result.strError));
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    page.Sample("veltrane_scrape_duration_seconds", {}, took.count());
    CProcessCollector::Collect(page);
    const CHttpServer::Counts counts = m_pServer ? m_pServer->GetCounts() : CHttpServer::Counts();
    CServerCollector::Collect(page, m_pServer ? &counts : nullptr);
    return page.Text();
}

bool CExporter::Shutdown(int waitMs)
{
    m_bStopping = true;
    m_rescanTimer.stop();
    {
        std::lock_guard lock(m_scrapeMutex);
        m_bScrapeLoopEnds = true;
        if (m_pScrapeDeadline)
            m_pScrapeDeadline->CutNow();
        m_scrapeWanted.notify_all();
    }
    // The scrape in flight ends within a wait slice and answers the requests waiting for it.
    if (m_scrapeThread.joinable())
        m_scrapeThread.join();
    if (m_pServer)
        m_pServer->Stop(TextResponse(503, "The exporter is stopping.\n"));
    m_scanPool.clear();
    for (const auto& unit : Units()) {
        std::lock_guard lock(unit->m_mutex);
        if (unit->m_pScan)
            unit->m_pScan->Abandon();
    }
    const bool done = m_scanPool.waitForDone(waitMs);
    m_pServer.reset();
    return done;
}
