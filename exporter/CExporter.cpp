#include "exporter/CExporter.h"

#include "exporter/CMetricsWriter.h"
#include "exporter/CProcessCollector.h"
#include "exporter/CServerCollector.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <utility>

namespace {

// What a client may give as X-Prometheus-Scrape-Timeout-Seconds: beyond a day is not a time-out.
constexpr double kLongestClientTimeout = 86400;

const char* const kLandingPage =
    "<!DOCTYPE html>\n<html><head><title>Veltrane exporter</title></head>\n"
    "<body><h1>Veltrane exporter</h1><p>The units' sensors: <a href=\"/metrics\">/metrics</a></p>\n"
    "<p>One unit: /probe?target=NAME or ADDRESS; the units for Prometheus's service discovery: "
    "<a href=\"/targets\">/targets</a></p></body></html>\n";

CHttpServer::Response TextResponse(int status, const char* text)
{
    return CHttpServer::Response{status, "text/plain; charset=utf-8", text, {}, {}};
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

CUnitReader::Clock::time_point After(std::chrono::duration<double> time)
{
    return CUnitReader::Clock::now() + std::chrono::duration_cast<CUnitReader::Clock::duration>(time);
}

// The one target and the auth (if any) of a probe's query; else the one line why not.
struct ProbeQuery {
    std::string strTarget;
    std::optional<std::string> auth;
    std::string strError;
};

ProbeQuery ParseProbeQuery(const std::vector<std::pair<std::string, std::string>>& query)
{
    ProbeQuery parsed;
    int targets = 0;
    int auths = 0;
    for (const auto& [name, value] : query) {
        if (name == "target") {
            ++targets;
            parsed.strTarget = value;
        } else if (name == "auth") {
            ++auths;
            parsed.auth = value;
        } else {
            parsed.strError = "unknown parameter: a probe takes target and auth only";
            return parsed;
        }
    }
    if (targets == 0 || parsed.strTarget.empty())
        parsed.strError = "missing parameter target";
    else if (targets > 1)
        parsed.strError = "parameter target given more than once";
    else if (auths > 1)
        parsed.strError = "parameter auth given more than once";
    return parsed;
}

CHttpServer::Response BadRequest(const std::string& why)
{
    return CHttpServer::Response{400, "text/plain; charset=utf-8", why + "\n", {}, {}};
}

} // namespace

CExporter::CExporter(const CExporterConfig& config, LogFunction log, QObject* parent)
    : QObject(parent), m_units(config, std::move(log), [this] { m_scrapes.Invalidate(); })
{
    SetProbeLimits(m_probeLimits);
}

void CExporter::SetProbeLimits(const ProbeLimits& limits)
{
    m_probeLimits = limits;
    const int threads = static_cast<int>(std::clamp<std::size_t>(limits.nMaxInFlight, 1, 4096));
    m_pProbes = std::make_unique<CScrapeMerger>(threads, std::chrono::milliseconds(0), limits.nMaxInFlight);
}

CExporter::~CExporter()
{
    Shutdown(0);
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

// One server for every listening socket, so the caps hold across them all.
CHttpServer& CExporter::Server(const CHttpServer::Limits& limits, std::shared_ptr<const CWebConfig> web)
{
    if (!m_pServer)
        m_pServer = std::make_unique<CHttpServer>(
            [this](const CHttpServer::Request& request, const std::shared_ptr<CHttpServer::Reply>& reply) {
                OnRequest(request, reply);
            },
            limits, std::move(web));
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
    const std::string& path = request.strPath;
    // Health (serving at all) and readiness (the first scans ended), as Prometheus's own are.
    const bool healthy = path == "/-/healthy", ready = path == "/-/ready";
    if (path != "/metrics" && path != "/" && path != "/probe" && path != "/targets" && !healthy && !ready) {
        reply->Send(TextResponse(404, "Not found: the units' sensors are at /metrics, one unit's at "
                                      "/probe?target=..., the units at /targets.\n"));
        return;
    }
    if (request.strMethod != "GET" && request.strMethod != "HEAD") {
        CHttpServer::Response response = TextResponse(405, "Only GET and HEAD are served.\n");
        response.headers.emplace_back("Allow", "GET, HEAD");
        reply->Send(std::move(response));
        return;
    }
    if (healthy || ready) {
        const bool yes = healthy || m_units.FirstScansEnded();
        reply->Send(TextResponse(yes ? 200 : 503, yes ? "OK\n" : "The first scans have not ended.\n"));
    } else if (path == "/metrics")
        OnMetrics(request, reply);
    else if (path == "/probe")
        OnProbe(request, reply);
    else if (path == "/targets")
        reply->Send(Targets());
    else
        reply->Send(CHttpServer::Response{200, "text/html; charset=utf-8", kLandingPage, {}, {}});
}

void CExporter::OnMetrics(const CHttpServer::Request& request, const std::shared_ptr<CHttpServer::Reply>& reply)
{
    std::optional<CUnitReader::Clock::time_point> until;
    if (const auto timeout = ClientTimeout(request)) {
        // Keep a margin for the page to travel, but never more than a quarter of the time.
        const auto margin = std::min<std::chrono::duration<double>>(kScrapeTimeoutMargin, *timeout / 4);
        until = After(*timeout - margin);
    }
    const auto outcome =
        m_scrapes.Join({}, reply, until, [this](CUnitReader::Deadline& deadline) { return Scrape(&deadline); });
    if (outcome == CScrapeMerger::Outcome::kStopping)
        reply->Send(TextResponse(503, "The exporter is stopping.\n"));
}

void CExporter::OnProbe(const CHttpServer::Request& request, const std::shared_ptr<CHttpServer::Reply>& reply)
{
    const ProbeQuery query = ParseProbeQuery(request.query);
    if (!query.strError.empty()) {
        reply->Send(BadRequest(query.strError));
        return;
    }
    const CUnitStates::Target target = m_units.FindTarget(query.strTarget, query.auth ? &*query.auth : nullptr);
    if (!target.unit) {
        reply->Send(BadRequest(target.strError));
        return;
    }
    const CExporterUnit& unit = target.unit->m_unit;
    // Without a limit of the client's, the unit ends its own wait (and gives its own error code).
    std::chrono::duration<double> allowed = std::chrono::seconds(unit.m_nTimeout * (unit.m_nRetries + 1)) +
                                            CUnitReader::kDeadlineSlack;
    if (const auto timeout = ClientTimeout(request))
        allowed = std::max(*timeout - m_probeLimits.timeoutOffset, *timeout / 2); // never the whole offset of a short one
    const CUnitStates::Unit state = target.unit;
    const auto started = std::chrono::steady_clock::now();
    // Keyed by the state: a reload that changes the unit makes another read.
    const std::string key = std::to_string(reinterpret_cast<std::uintptr_t>(state.get()));
    const auto outcome = m_pProbes->Join(key, reply, After(allowed), [this, state, started](CUnitReader::Deadline& deadline) {
        CMetricsWriter page;
        page.Add(m_units.Probe(state, deadline));
        return page.Text(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    });
    if (outcome == CScrapeMerger::Outcome::kBusy)
        reply->Send(TextResponse(503, "Too many probes in flight; try again later.\n"));
    else if (outcome == CScrapeMerger::Outcome::kStopping)
        reply->Send(TextResponse(503, "The exporter is stopping.\n"));
}

CHttpServer::Response CExporter::Targets() const
{
    QJsonArray groups;
    for (const CUnitStates::Unit& unit : m_units.Units()) {
        const QString address = QString::fromStdString(unit->m_unit.m_strAddress);
        groups.append(QJsonObject{
            {"targets", QJsonArray{address}},
            {"labels", QJsonObject{{"unit", QString::fromUtf8(unit->m_unit.m_strName.data(),
                                                              static_cast<qsizetype>(unit->m_unit.m_strName.size()))},
                                   {"address", address}}}});
    }
    return CHttpServer::Response{200, "application/json", QJsonDocument(groups).toJson(QJsonDocument::Compact).toStdString(),
                                 {}, {}};
}

unsigned long CExporter::DescriptorsNeeded(const CExporterConfig& config, const CHttpServer::Limits& limits)
{
    constexpr unsigned long kMargin = 64; // standard streams, the listening socket, libraries' own
    const unsigned long probed = config.m_probeTargets.empty() ? 0 : CUnitStates::kMaxProbedTargets;
    return config.m_units.size() + probed + kScanThreads + limits.nConnections + kMargin;
}

CExporter::ReloadCounts CExporter::Reload(const CExporterConfig& config)
{
    return m_units.Reload(config);
}

void CExporter::Rescan()
{
    m_units.Rescan();
}

int CExporter::ScansPending() const
{
    return m_units.ScansPending();
}

std::string CExporter::Scrape(CUnitReader::Deadline* deadline)
{
    const auto start = std::chrono::steady_clock::now();
    // The whole scrape works on the units served when it began, even if a reload comes meanwhile.
    const std::vector<UnitReading> readings = m_units.Read(m_units.Units(), deadline);
    CMetricsWriter page;
    for (const UnitReading& reading : readings)
        page.Add(reading);
    CProcessCollector::Collect(page.Page());
    const CHttpServer::Counts counts = m_pServer ? m_pServer->GetCounts() : CHttpServer::Counts();
    CServerCollector::Collect(page.Page(), m_pServer ? &counts : nullptr);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return page.Text(took.count());
}

bool CExporter::Shutdown(int waitMs)
{
    // The scrape in flight ends within a wait slice and answers the requests waiting for it.
    m_scrapes.Stop();
    m_pProbes->Stop();
    if (m_pServer)
        m_pServer->Stop(TextResponse(503, "The exporter is stopping.\n"));
    const bool done = m_units.Shutdown(waitMs);
    m_pServer.reset();
    return done;
}
