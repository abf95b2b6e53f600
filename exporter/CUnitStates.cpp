#include "exporter/CUnitStates.h"

#include "oidgen/CSensorScan.h"
#include "platform/Ipv4Address.h"
#include "oidgen/OidTemplates.h"
#include "snmp/CSnmpSession.h"

#include <algorithm>
#include <map>
#include <utility>

namespace {

// Asked of a unit whose sensor list is empty, so that up still tells whether it answers: the
// table-16 status at index 1 exists on units of 2 and 8 ports, counting from 0 or from 1.
std::string ProbeOid()
{
    return ExpandedOid(oidtpl::kTable16Status, 1);
}

std::string Who(const CExporterUnit& unit)
{
    return "unit \"" + unit.m_strName + "\" (" + unit.m_strAddress + ")";
}

// The probe rules of a configuration, without its units.
CExporterConfig ProbeRules(const CExporterConfig& config)
{
    CExporterConfig rules;
    rules.m_nRescanMinutes = config.m_nRescanMinutes;
    rules.m_probeTargets = config.m_probeTargets;
    rules.m_auths = config.m_auths;
    return rules;
}

} // namespace

CUnitState::CUnitState(CExporterUnit unit, bool configured) : m_unit(std::move(unit)), m_bConfigured(configured)
{
    m_bHasList = !m_unit.m_oidList.empty();
    auto sensors = std::make_shared<SensorList>();
    for (const std::string& oid : m_unit.m_oidList)
        sensors->push_back(ExportedSensor{oid, {}, {}, {}});
    m_pSensors = std::move(sensors);
}

CUnitStates::CUnitStates(const CExporterConfig& config, LogFunction log, std::function<void()> listChanged,
                         QObject* parent)
    : QObject(parent), m_nRescanMinutes(config.m_nRescanMinutes), m_log(std::move(log)),
      m_listChanged(std::move(listChanged))
{
    for (const CExporterUnit& unit : config.m_units) {
        m_units.push_back(std::make_shared<CUnitState>(unit));
        m_byName[unit.m_strName] = m_units.back();
        m_byAddress[unit.m_strAddress] = m_units.back();
    }
    m_probeRules = ProbeRules(config);
    m_scanPool.setMaxThreadCount(kScanThreads);
    m_rescanTimer.setSingleShot(true);
    connect(&m_rescanTimer, &QTimer::timeout, this, &CUnitStates::Rescan);
}

CUnitStates::~CUnitStates()
{
    Shutdown(0);
}

void CUnitStates::Log(const std::string& line) const
{
    if (m_log)
        m_log(line);
}

void CUnitStates::ListChanged() const
{
    if (m_listChanged)
        m_listChanged();
}

std::vector<CUnitStates::Unit> CUnitStates::Units() const
{
    std::lock_guard lock(m_unitsMutex);
    return m_units;
}

CUnitStates::ReloadCounts CUnitStates::Reload(const CExporterConfig& config)
{
    ReloadCounts counts;
    if (m_bStopping)
        return counts;
    std::map<std::string, Unit> old;
    for (const auto& unit : Units())
        old.emplace(unit->m_unit.m_strName, unit);
    std::vector<Unit> units;
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
    for (const auto& [name, unit] : old)
        Retire(*unit);
    {
        std::lock_guard lock(m_unitsMutex);
        m_units = std::move(units);
        m_byName.clear();
        m_byAddress.clear();
        for (const Unit& unit : m_units) {
            m_byName[unit->m_unit.m_strName] = unit;
            m_byAddress[unit->m_unit.m_strAddress] = unit;
        }
        // The targets probed start afresh: their auth or range may have changed.
        for (const auto& [key, unit] : m_probed)
            Retire(*unit);
        m_probed.clear();
        m_probeRules = ProbeRules(config);
    }
    ListChanged(); // the next request sees the new units
    m_nRescanMinutes = config.m_nRescanMinutes;
    Rescan();
    return counts;
}

void CUnitStates::Rescan()
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

void CUnitStates::StartScan(const Unit& state)
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
            state->m_lastScanEnd = std::chrono::steady_clock::now();
        }
        state->m_scanEnded.notify_all();
        ScanEnded();
    });
}

void CUnitStates::ScanEnded()
{
    if (--m_nScansPending == 0)
        m_bFirstScansEnded = true;
}

int CUnitStates::ScansPending() const
{
    return m_nScansPending;
}

void CUnitStates::ScanUnit(CUnitState& state)
{
    const CExporterUnit& unit = state.m_unit;
    const std::string who = Who(unit);
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
        state.m_bHasList = true;
    }
    // A page kept for reuse was read with the old list: the next request reads anew.
    ListChanged();
    std::string line = who + ": scan found " + std::to_string(found.rows.size()) + " sensor" +
                       (found.rows.size() == 1 ? "" : "s") + " online, reading " +
                       std::to_string(sensors->size());
    if (!found.messages.empty())
        line += " (a description or type could not be read)";
    Log(line);
}

std::vector<UnitReading> CUnitStates::Read(const std::vector<Unit>& units, CUnitReader::Deadline* deadline)
{
    std::vector<UnitReading> readings(units.size());
    std::vector<CUnitReader::Request> requests;
    requests.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        CUnitState& unit = *units[i];
        std::lock_guard lock(unit.m_mutex);
        readings[i].pUnit = std::shared_ptr<const CExporterUnit>(units[i], &unit.m_unit);
        readings[i].pSensors = unit.m_pSensors;
        readings[i].bScanOk = unit.m_bScanOk;
        CUnitReader::Request request{unit.m_unit.m_strAddress, unit.m_unit.m_strCommunity, unit.m_unit.m_nTimeout,
                                     unit.m_unit.m_nRetries, {}, std::move(unit.m_pSession)};
        for (const ExportedSensor& sensor : *unit.m_pSensors)
            request.oids.push_back(sensor.strOid);
        if (request.oids.empty())
            request.oids.push_back(ProbeOid());
        requests.push_back(std::move(request));
    }

    std::vector<CUnitReader::Result> results = CUnitReader::Read(requests, deadline, &m_watch);
    for (std::size_t i = 0; i < units.size(); ++i) {
        CUnitState& unit = *units[i];
        const CUnitReader::Result& result = results[i];
        // The log says when a unit starts failing or answers again, not at every read.
        bool changed = false;
        bool rescan = false;
        {
            std::lock_guard lock(unit.m_mutex);
            if (!unit.m_pSession && !unit.m_bRetired)
                unit.m_pSession = std::move(requests[i].pSession);
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
            Log(Who(unit.m_unit) + ": " +
                (result.bAnswered ? std::string("answers")
                                  : "read failed: Error No " + std::to_string(result.nErrorCode) + " : " +
                                        result.strError));
        readings[i].result = std::move(results[i]);
    }
    return readings;
}

void CUnitStates::Retire(CUnitState& unit)
{
    std::lock_guard lock(unit.m_mutex);
    unit.m_bRetired = true;
    unit.m_pSession.reset(); // its socket goes now, not when the last scan of it ends
    if (unit.m_pScan)
        unit.m_pScan->Abandon(); // a dead unit's scan would hold a scan thread for its time-outs
}

CUnitStates::Target CUnitStates::FindTarget(const std::string& target, const std::string* auth)
{
    const std::optional<std::string> address = platform::CanonicalIPv4Address(target);
    std::lock_guard lock(m_unitsMutex);
    if (address) {
        if (const auto it = m_byAddress.find(*address); it != m_byAddress.end())
            return {it->second, {}};
    } else if (const auto it = m_byName.find(target); it != m_byName.end()) {
        return {it->second, {}};
    }
    if (!auth)
        return {nullptr, m_probeRules.m_probeTargets.empty()
                             ? "target is not a configured unit's name or address"
                             : "target is not a configured unit's name or address (other addresses need auth)"};
    const auto rule = m_probeRules.m_auths.find(*auth);
    if (rule == m_probeRules.m_auths.end())
        return {nullptr, "auth names no entry of the configuration's auths"};
    if (!address)
        return {nullptr, "target is neither a configured unit nor an IPv4 address"};
    if (m_probeRules.m_probeTargets.empty())
        return {nullptr, "target is not a configured unit, and the configuration has no probeTargets"};
    if (!m_probeRules.ProbeRangeOf(*address))
        return {nullptr, "target is outside the configuration's probeTargets"};

    const std::string key = *address + '\0' + *auth;
    const auto now = std::chrono::steady_clock::now();
    auto it = m_probed.find(key);
    if (it == m_probed.end()) {
        ForgetProbedTargets();
        CExporterUnit unit;
        unit.m_strName = *address;
        unit.m_strAddress = *address;
        unit.m_strCommunity = rule->second.m_strCommunity;
        unit.m_nTimeout = rule->second.m_nTimeout;
        unit.m_nRetries = rule->second.m_nRetries;
        unit.m_bAllOnline = true;
        it = m_probed.emplace(key, std::make_shared<CUnitState>(unit, false)).first;
    }
    std::lock_guard unitLock(it->second->m_mutex);
    it->second->m_lastProbe = now;
    return {it->second, {}};
}

void CUnitStates::ForgetProbedTargets()
{
    const auto now = std::chrono::steady_clock::now();
    auto oldest = m_probed.end();
    std::chrono::steady_clock::time_point oldestProbe;
    for (auto it = m_probed.begin(); it != m_probed.end();) {
        std::chrono::steady_clock::time_point probed;
        {
            std::lock_guard lock(it->second->m_mutex);
            probed = it->second->m_lastProbe;
        }
        if (now - probed > kProbedTargetAge) {
            Retire(*it->second);
            it = m_probed.erase(it);
            continue;
        }
        if (oldest == m_probed.end() || probed < oldestProbe) {
            oldest = it;
            oldestProbe = probed;
        }
        ++it;
    }
    if (m_probed.size() >= kMaxProbedTargets && oldest != m_probed.end()) {
        Retire(*oldest->second);
        m_probed.erase(oldest);
    }
}

std::size_t CUnitStates::ProbedTargets() const
{
    std::lock_guard lock(m_unitsMutex);
    return m_probed.size();
}

UnitReading CUnitStates::Probe(const Unit& unit, CUnitReader::Deadline& deadline)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    bool scan = false;
    bool waitForList = false;
    {
        std::lock_guard lock(unit->m_mutex);
        const bool failedLately = unit->m_lastScanEnd && start - *unit->m_lastScanEnd < kFailedScanPause;
        if (!unit->m_bHasList) {
            waitForList = unit->m_bScanning || !failedLately;
            scan = !unit->m_bScanning && !failedLately;
        } else if (!unit->m_bConfigured && m_nRescanMinutes > 0 && unit->m_lastScanEnd &&
                   start - *unit->m_lastScanEnd > std::chrono::minutes(m_nRescanMinutes)) {
            scan = true; // in the background: this probe reads the list it has
        }
    }
    if (scan)
        StartScan(unit);
    if (waitForList) {
        std::unique_lock lock(unit->m_mutex);
        // In slices, so that a deadline brought forward (another probe, the end) is seen.
        while (unit->m_bScanning && !m_bStopping) {
            const auto at = deadline.At();
            if (Clock::now() >= at)
                break;
            unit->m_scanEnded.wait_until(lock, std::min(at, Clock::now() + std::chrono::milliseconds(20)));
        }
        if (unit->m_bScanning) {
            UnitReading reading;
            reading.pUnit = std::shared_ptr<const CExporterUnit>(unit, &unit->m_unit);
            reading.pSensors = unit->m_pSensors;
            reading.bScanOk = unit->m_bScanOk;
            reading.result.nErrorCode = kScanPendingErrorCode;
            reading.result.strError = "The unit was still being scanned at the probe's deadline.";
            reading.result.dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
            return reading;
        }
    }
    return std::move(Read({unit}, &deadline).front());
}

bool CUnitStates::Shutdown(int waitMs)
{
    m_bStopping = true;
    m_rescanTimer.stop();
    m_scanPool.clear();
    std::vector<Unit> units = Units();
    {
        std::lock_guard lock(m_unitsMutex);
        for (const auto& [key, unit] : m_probed)
            units.push_back(unit);
    }
    for (const auto& unit : units) {
        std::lock_guard lock(unit->m_mutex);
        if (unit->m_pScan)
            unit->m_pScan->Abandon();
    }
    return m_scanPool.waitForDone(waitMs);
}
