#pragma once
#include "exporter/CExporterConfig.h"
#include "exporter/CHttpServer.h"
#include "exporter/CUnitReader.h"

#include <QHostAddress>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CUnitState;
class CWebConfig;

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
// veltrane_scrape_duration_seconds, then CProcessCollector's and CServerCollector's. No community
// ever appears in a page or a log line.
//
// HTTP: GET or HEAD on /metrics, on / (a page that links to /metrics), /-/healthy (200) and
// /-/ready (200 once the first scans ended, 503 before), 404 or 405 for the rest, with the bounds of CHttpServer. At most one scrape runs at a time: requests that come
// while it runs wait for it and all get its page. A scrape ends by its deadline: the slowest
// unit's time-out x (resends + 1) from the sends and a little, brought forward to Prometheus's
// X-Prometheus-Scrape-Timeout-Seconds (less a margin) of any request waiting for it; a unit
// still silent then reads as down with error code 41.
//
// Reload() switches to another configuration while serving: a scrape or scan in flight
// finishes on the units it started with, and a scan of a unit that is gone is cut short and
// its result dropped.
class CExporter : public QObject {
    Q_OBJECT
public:
    using LogFunction = std::function<void(const std::string& line)>;

    // Scans that may run at once, each with at most one request in flight: the bound on the
    // scans' requests out at a time. A scan of a dead unit holds its thread for its time-outs.
    static constexpr int kScanThreads = 128;
    // Kept from the time Prometheus allows a scrape, for the page to travel.
    static constexpr std::chrono::milliseconds kScrapeTimeoutMargin {250};
    // A request that comes this soon after a scrape ended gets its page: pipelined requests and
    // clients in a loop cost the units no more than a round a second.
    static constexpr std::chrono::milliseconds kPageReuse {1000};

    // A unit reading all online sensors that answers noSuchName (a sensor gone since its scan)
    // is scanned again at once, and again after this many minutes if it still does.
    static constexpr int kUnknownOidRescanMinutes = 5;

    explicit CExporter(const CExporterConfig& config, LogFunction log = {}, QObject* parent = nullptr);
    ~CExporter() override;

    // Listens for HTTP on address:port (port 0: any free port), over TLS and with users when web
    // says so; called again, on one more address (the first call's limits and web hold for
    // all). False with error naming both.
    bool Listen(const QHostAddress& address, quint16 port, QString& error,
                const CHttpServer::Limits& limits = CHttpServer::Limits(),
                std::shared_ptr<const CWebConfig> web = nullptr);
    // The same on a socket already listening (from systemd), which the exporter closes.
    bool ListenOn(int fd, QString& error, const CHttpServer::Limits& limits = CHttpServer::Limits(),
                  std::shared_ptr<const CWebConfig> web = nullptr);
    quint16 ServerPort() const;
    std::vector<std::string> ServerAddresses() const;

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

    // One scrape on the calling thread: reads every unit and returns the page. With a deadline
    // (see CUnitReader::Read), the units still silent at it are cut short.
    std::string Scrape(CUnitReader::Deadline* deadline = nullptr);

    // Descriptors that serving config needs at most: a socket per unit in a scrape, per scan
    // thread and per HTTP connection, and a margin for the rest.
    static unsigned long DescriptorsNeeded(const CExporterConfig& config, const CHttpServer::Limits& limits);

    // Answers no new scrape, cuts the scrape in flight short (its page still goes to the
    // requests waiting for it), stops the HTTP server, drops queued scans, cuts running ones
    // short (their reads give up within a quarter second) and waits up to waitMs for them.
    // False when some scan was still running (it is then left behind).
    bool Shutdown(int waitMs);

private:
    // Queues a scan of the unit unless one is queued or running.
    void StartScan(const std::shared_ptr<CUnitState>& unit);
    void ScanUnit(CUnitState& unit);
    void ScanEnded(); // of m_nScansPending's; the last of the first round makes /-/ready 200
    void Log(const std::string& line) const;
    CHttpServer& Server(const CHttpServer::Limits& limits, std::shared_ptr<const CWebConfig> web);
    void OnRequest(const CHttpServer::Request& request, const std::shared_ptr<CHttpServer::Reply>& reply);
    // The scrape thread: one scrape at a time, for every request waiting when it ends.
    void ScrapeLoop();
    // The units now served; scans and scrapes hold their own references, so a reload never
    // frees a unit under them.
    std::vector<std::shared_ptr<CUnitState>> Units() const;

    mutable std::mutex m_unitsMutex; // guards m_units (scrapes run on their own thread)
    std::vector<std::shared_ptr<CUnitState>> m_units;
    int m_nRescanMinutes = 60;
    LogFunction m_log;
    std::unique_ptr<CHttpServer> m_pServer;
    QThreadPool m_scanPool;

    struct Waiting {
        std::shared_ptr<CHttpServer::Reply> reply;
        std::optional<CUnitReader::Clock::time_point> until; // from the client's scrape time-out
    };
    std::mutex m_scrapeMutex; // guards the six below
    std::condition_variable m_scrapeWanted;
    std::vector<Waiting> m_waiting;
    CUnitReader::Deadline* m_pScrapeDeadline = nullptr; // of the scrape running for m_waiting
    bool m_bScrapeLoopEnds = false;
    std::shared_ptr<const std::string> m_pLastPage; // of the last scrape; reset by a reload
    // Sensor lists changed (scans, reloads) so far: a page read across a change is not kept.
    std::uint64_t m_nListChanges = 0;
    CUnitReader::Clock::time_point m_lastPageEnd;
    std::thread m_scrapeThread;
    QTimer m_rescanTimer;
    std::atomic<int> m_nScansPending {0};
    std::atomic<bool> m_bStopping {false};
    std::atomic<bool> m_bFirstScansEnded {false};
};
