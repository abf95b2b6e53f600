#pragma once
#include "exporter/CHttpServer.h"

class CMetricsText;

// The exporter's own metrics: veltrane_exporter_build_info{version}, and what its HTTP side did
// (answers by status code, connections refused at a cap, closed at the header deadline, open).
class CServerCollector {
public:
    // counts: null without an HTTP server.
    static void Collect(CMetricsText& page, const CHttpServer::Counts* counts);
};
