#pragma once
#include "exporter/CExporterConfig.h"
#include "exporter/CUnitReader.h"
#include "exporter/UnitReading.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CSensorScan;
class CSnmpSession;

// What the exporter knows of one unit; scans and reads meet here.
class CUnitState {
public:
    // configured: a unit of the configuration; else an address a probe named, with an auth.
    explicit CUnitState(CExporterUnit unit, bool configured = true);

    const CExporterUnit m_unit;
    const bool m_bConfigured;
    mutable std::mutex m_mutex; // guards everything below
    std::shared_ptr<const SensorList> m_pSensors;
    bool m_bScanOk = false;   // the last scan reached the unit
    bool m_bScanning = false;
    bool m_bRetired = false;  // no longer served since a reload: a late scan result is dropped
    CSensorScan* m_pScan = nullptr; // the scan running, which a reload or the end cuts short
    // The reads' SNMP session, kept open from one read to the next (none while a read uses
    // it); a reload that changes the unit makes a new state, and so a new session.
    std::unique_ptr<CSnmpSession> m_pSession;
    // When a read last asked for a scan because the unit no longer knew an OID of its list.
    std::optional<std::chrono::steady_clock::time_point> m_lastUnknownOidScan;
    int m_nLastErrorCode = -1; // of the last read, -1 before the first; for the log
    // A list to read: the configured OIDs, or the one of a scan that reached the unit.
    bool m_bHasList = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastScanEnd;
    std::chrono::steady_clock::time_point m_lastProbe; // of a target probed without configuration
    std::condition_variable m_scanEnded; // with m_mutex: probes waiting for a first list
};

// The units served, each with its sensor list: the discovery scan runs at start, every
// rescanMinutes, on Rescan() and when a unit no longer knows an OID of its scanned list, in the
// background on up to kScanThreads threads; a read always uses the last list a scan completed.
// Labels come from the scan (port label, description, sensor type); OIDs a scan did not find
// keep empty ones.
//
// Reload() switches to another configuration: a read or scan in flight finishes on the units
// it started with, and a scan of a unit that is gone is cut short and its result dropped.
class CUnitStates : public QObject {
    Q_OBJECT
public:
    using LogFunction = std::function<void(const std::string& line)>;
    using Unit = std::shared_ptr<CUnitState>;

    // Scans that may run at once, each with at most one request in flight: the bound on the
    // scans' requests out at a time. A scan of a dead unit holds its thread for its time-outs.
    static constexpr int kScanThreads = 128;
    // A unit reading all online sensors that answers noSuchName (a sensor gone since its scan)
    // is scanned again at once, and again after this many minutes if it still does.
    static constexpr int kUnknownOidRescanMinutes = 5;

    // listChanged is called (from any thread) whenever a sensor list or the set of units changed.
    CUnitStates(const CExporterConfig& config, LogFunction log, std::function<void()> listChanged,
                QObject* parent = nullptr);
    ~CUnitStates() override;

    // The configured units now served; reads and scans hold their own references, so a reload
    // never frees a unit under them.
    std::vector<Unit> Units() const;

    // What Reload() did, by unit name: kept (the same in every field), changed, added, removed.
    struct ReloadCounts {
        int nKept = 0;
        int nChanged = 0;
        int nAdded = 0;
        int nRemoved = 0;
    };
    // Serves config's units from the next read on: units the same in every field keep their
    // sensor list and state, the others start afresh; rescanMinutes follows config. Then scans
    // every unit again, as Rescan() does.
    ReloadCounts Reload(const CExporterConfig& config);
    // Starts the discovery scan of every unit that is not being scanned already, and the
    // schedule of the next ones.
    void Rescan();
    // Scans queued or running.
    int ScansPending() const;
    // Whether the scans started first (at the start or by the first Rescan) have all ended.
    bool FirstScansEnded() const { return m_bFirstScansEnded; }

    // A probe's error code when the unit's first scan had not ended by the probe's deadline.
    static constexpr int kScanPendingErrorCode = 42;
    // Addresses probed that no configured unit has, each with its list and session: at most
    // this many (the one probed longest ago goes first), and each forgotten when no probe
    // named it for kProbedTargetAge.
    static constexpr std::size_t kMaxProbedTargets = 1024;
    static constexpr std::chrono::minutes kProbedTargetAge {60};
    // A probe of a unit without a list scans it, but not again this soon after a scan failed
    // (a dead unit would be scanned at every probe); it is then read as it is.
    static constexpr std::chrono::seconds kFailedScanPause {60};

    // The unit a probe names: a configured unit's address or name (addresses first), or, with
    // auth, an address inside probeTargets, read with that auth's community. Null with the one
    // line why a probe cannot have it.
    struct Target {
        Unit unit;
        std::string strError;
    };
    Target FindTarget(const std::string& target, const std::string* auth);
    // Probes unit on the calling thread: a unit without a list is scanned first, within the
    // deadline (else its reading gives kScanPendingErrorCode, and the scan goes on for the next
    // probe); a target's list older than rescanMinutes is scanned again in the background.
    UnitReading Probe(const Unit& unit, CUnitReader::Deadline& deadline);
    // Targets probed that no configured unit has.
    std::size_t ProbedTargets() const;

    // Reads units at once on the calling thread (see CUnitReader::Read), one reading per unit in
    // the same order, and logs the units that start failing or answer again.
    std::vector<UnitReading> Read(const std::vector<Unit>& units, CUnitReader::Deadline* deadline);

    // Starts no scan from now on, drops queued scans, cuts running ones short (their reads give
    // up within a quarter second) and waits up to waitMs for them. False when some scan was
    // still running (it is then left behind).
    bool Shutdown(int waitMs);

private:
    // Queues a scan of the unit unless one is queued or running.
    void StartScan(const Unit& unit);
    void ScanEnded(); // of m_nScansPending's; the last of the first round ends FirstScansEnded
    void ScanUnit(CUnitState& unit);
    void Log(const std::string& line) const;
    void ListChanged() const;

    // Drops the probed targets that no probe named for kProbedTargetAge, and the one named
    // longest ago while there are kMaxProbedTargets; with m_unitsMutex held.
    void ForgetProbedTargets();
    static void Retire(CUnitState& unit);

    mutable std::mutex m_unitsMutex; // guards the five below
    std::vector<Unit> m_units;
    std::map<std::string, Unit> m_byName;
    std::map<std::string, Unit> m_byAddress;
    std::map<std::string, Unit> m_probed; // by address and auth
    CExporterConfig m_probeRules;         // the configuration's probeTargets and auths (no units)
    int m_nRescanMinutes = 60;
    LogFunction m_log;
    std::function<void()> m_listChanged;
    CUnitReader::Watch m_watch; // of every read's deadline
    QThreadPool m_scanPool;
    QTimer m_rescanTimer;
    std::atomic<int> m_nScansPending {0};
    std::atomic<bool> m_bFirstScansEnded {false};
    std::atomic<bool> m_bStopping {false};
};
