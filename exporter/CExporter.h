#pragma once
#include "exporter/CExporterConfig.h"

#include <QHostAddress>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QHttpServer;
class CUnitState;

// Serves the sensors of many units to Prometheus: GET /metrics reads every unit at once (one
// SNMP GET each, the collection's request) and answers with the values in the text exposition
// format. Each unit's sensor list comes from its configured OIDs or from the discovery scan,
// which runs at start, every rescanMinutes, on Rescan() and when a unit no longer knows an OID
// of its scanned list, in the background: a scrape always
// uses the last list a scan completed. Labels come from the scan (port label, description,
// sensor type); OIDs a scan did not find keep empty ones.
//
// Metrics: veltrane_sensor_value, veltrane_unit_up, veltrane_unit_request_seconds,
// veltrane_unit_error_code, veltrane_unit_sensors, veltrane_unit_scan_success and
// veltrane_scrape_duration_seconds. No community ever appears in a page or a log line.
//
// Reload() switches to another configuration while serving: a scrape or scan in flight
// finishes on the units it started with, and a scan of a unit that is gone is cut short and
// its result dropped.
class CExporter : public QObject {
    Q_OBJECT
public:
    using LogFunction = std::function<void(const std::string& line)>;

    // Scans that may run at once; a scan of a dead unit holds its thread for its time-outs.
    static constexpr int kScanThreads = 8;
    // A unit reading all online sensors that answers noSuchName (a sensor gone since its scan)
    // is scanned again at once, and again after this many minutes if it still does.
    static constexpr int kUnknownOidRescanMinutes = 5;

    explicit CExporter(const CExporterConfig& config, LogFunction log = {}, QObject* parent = nullptr);
    ~CExporter() override;

    // Listens for HTTP on address:port (port 0: any free port). False with error naming both.
    bool Listen(const QHostAddress& address, quint16 port, QString& error);
    quint16 ServerPort() const;

    // What Reload() did, by unit name: kept (the same in every field), changed, added, removed.
    struct ReloadCounts {
        int nKept = 0;
        int nChanged = 0;
        int nAdded = 0;
        int nRemoved = 0;
    };
    // Serves config's units from the next scrape on: units the same in every field keep their
    // sensor list and state, the others start afresh; rescanMinutes follows config. Then scans
    // every unit again, as Rescan() does. The listening address stays.
    ReloadCounts Reload(const CExporterConfig& config);

    // Starts the discovery scan of every unit that is not being scanned already, and the
    // schedule of the next ones.
    void Rescan();
    // Scans queued or running.
    int ScansPending() const;

    // One scrape on the calling thread: reads every unit and returns the page.
    std::string Scrape();

    // Stops listening, waits for a scrape in progress, drops queued scans, cuts running ones short
    // (their reads give up within a quarter second) and waits up to waitMs for them. False when
    // some scan was still running (it is then left behind).
    bool Shutdown(int waitMs);

private:
    // Queues a scan of the unit unless one is queued or running.
    void StartScan(const std::shared_ptr<CUnitState>& unit);
    void ScanUnit(CUnitState& unit);
    void Log(const std::string& line) const;
    // The units now served; scans and scrapes hold their own references, so a reload never
    // frees a unit under them.
    std::vector<std::shared_ptr<CUnitState>> Units() const;

    mutable std::mutex m_unitsMutex; // guards m_units (scrapes run on their own thread)
    std::vector<std::shared_ptr<CUnitState>> m_units;
    int m_nRescanMinutes = 60;
    LogFunction m_log;
    std::unique_ptr<QHttpServer> m_pServer;
    QThreadPool m_scanPool;
    QThreadPool m_scrapePool; // one thread: scrapes never overlap
    QTimer m_rescanTimer;
    std::atomic<int> m_nScansPending {0};
    std::atomic<bool> m_bStopping {false};
};
