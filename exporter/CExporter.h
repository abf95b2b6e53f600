#pragma once
#include "exporter/CExporterConfig.h"
#include "exporter/CHttpServer.h"
#include "exporter/CScrapeMerger.h"
#include "exporter/CUnitReader.h"
#include "exporter/CUnitStates.h"

#include <QHostAddress>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class CWebConfig;

// Serves the sensors of many units to Prometheus: GET /metrics reads every unit at once (one
// SNMP GET each, the collection's request) and answers with the values in the text exposition
// format (CMetricsWriter). The units, their sensor lists and scans are CUnitStates'.
//
// GET /probe?target=T reads one unit (CUnitStates::FindTarget names the units a probe may
// have) and answers with the same metrics for it alone; probes of one target that come at the
// same time share one read. Its deadline is X-Prometheus-Scrape-Timeout-Seconds less the
// timeout offset, or the unit's own time-out x (resends + 1) without it. GET /targets lists
// the configured units in Prometheus's HTTP service discovery format (JSON), each with labels
// unit and address.
//
// HTTP: GET or HEAD on /metrics, /probe, /targets, / (a page that links to them), /-/healthy
// (200) and /-/ready (200 once the first scans ended, 503 before), 404 or 405 for the rest, 400 for a probe that names no unit it may have, 503 for the probes past
// the cap on probes in flight, with the bounds of CHttpServer. At most one scrape runs at a time (CScrapeMerger):
// requests that come while it runs wait for it and all get its page. A scrape ends by its
// deadline: the slowest unit's time-out x (resends + 1) from the sends and a little, brought
// forward to Prometheus's X-Prometheus-Scrape-Timeout-Seconds (less a margin) of any request
// waiting for it; a unit still silent then reads as down with error code 41.
//
// /metrics ends with the exporter's own: CProcessCollector's and CServerCollector's metrics.
class CExporter : public QObject {
    Q_OBJECT
public:
    using LogFunction = CUnitStates::LogFunction;
    using ReloadCounts = CUnitStates::ReloadCounts;

    static constexpr int kScanThreads = CUnitStates::kScanThreads;
    // Kept from the time Prometheus allows a scrape, for the page to travel.
    static constexpr std::chrono::milliseconds kScrapeTimeoutMargin {250};
    // A request that comes this soon after a scrape ended gets its page: pipelined requests and
    // clients in a loop cost the units no more than a round a second.
    static constexpr std::chrono::milliseconds kPageReuse {1000};

    struct ProbeLimits {
        std::chrono::duration<double> timeoutOffset {0.5}; // kept from Prometheus's scrape time-out
        std::size_t nMaxInFlight = 50;                     // probes waiting at once; more get 503
    };

    explicit CExporter(const CExporterConfig& config, LogFunction log = {}, QObject* parent = nullptr);
    // Before Listen: the probes' deadline and cap.
    void SetProbeLimits(const ProbeLimits& limits);
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

    // See CUnitStates: the units from the next request on, and their scans.
    ReloadCounts Reload(const CExporterConfig& config);
    void Rescan();
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
    CHttpServer& Server(const CHttpServer::Limits& limits, std::shared_ptr<const CWebConfig> web);
    void OnRequest(const CHttpServer::Request& request, const std::shared_ptr<CHttpServer::Reply>& reply);
    void OnMetrics(const CHttpServer::Request& request, const std::shared_ptr<CHttpServer::Reply>& reply);
    void OnProbe(const CHttpServer::Request& request, const std::shared_ptr<CHttpServer::Reply>& reply);
    CHttpServer::Response Targets() const;

    // Declared before m_units: scans tell it of changed lists until they end.
    CScrapeMerger m_scrapes {1, kPageReuse};
    ProbeLimits m_probeLimits;
    std::unique_ptr<CScrapeMerger> m_pProbes;
    CUnitStates m_units;
    std::unique_ptr<CHttpServer> m_pServer;
};
