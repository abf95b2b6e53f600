#include "exporter/CServerCollector.h"

#include "exporter/CMetricsText.h"

#include <string>

void CServerCollector::Collect(CMetricsText& page, const CHttpServer::Counts* counts)
{
    page.Gauge("veltrane_exporter_build_info", "1, with the exporter's version as a label.");
    page.Sample("veltrane_exporter_build_info", {{"version", VELTRANE_VERSION}}, 1);
    if (!counts)
        return;
    page.Counter("veltrane_exporter_http_requests_total", "HTTP answers the exporter gave, by status code (not those libmicrohttpd gives itself: 400, 414, 431, 505).");
    for (const auto& [code, count] : counts->requests)
        page.Sample("veltrane_exporter_http_requests_total", {{"code", std::to_string(code)}}, static_cast<double>(count));
    page.Counter("veltrane_exporter_http_connections_refused_total",
                 "Connections closed at once when taken in: at the cap of all connections (cap=\"connections\") "
                 "or of one client address (cap=\"address\").");
    page.Sample("veltrane_exporter_http_connections_refused_total", {{"cap", "connections"}},
                static_cast<double>(counts->nRefusedAtConnectionCap));
    page.Sample("veltrane_exporter_http_connections_refused_total", {{"cap", "address"}},
                static_cast<double>(counts->nRefusedAtAddressCap));
    page.Counter("veltrane_exporter_http_header_deadline_closed_total",
                 "Connections closed because their request line and headers were not in by the deadline.");
    page.Sample("veltrane_exporter_http_header_deadline_closed_total", {},
                static_cast<double>(counts->nClosedAtHeaderDeadline));
    page.Gauge("veltrane_exporter_http_connections", "HTTP connections open.");
    page.Sample("veltrane_exporter_http_connections", {}, counts->nOpen);
}
