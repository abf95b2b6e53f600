#pragma once
#include "exporter/CMetricsText.h"
#include "exporter/UnitReading.h"

#include <string>

// The exporter's metrics, the same on every page (/metrics with all units, /probe with one):
// veltrane_sensor_value, veltrane_unit_up, veltrane_unit_request_seconds,
// veltrane_unit_error_code, veltrane_unit_sensors, veltrane_unit_scan_success (labels unit and
// address) and veltrane_scrape_duration_seconds. No community ever appears in a page.
class CMetricsWriter {
public:
    CMetricsWriter();
    // The samples of one unit's reading.
    void Add(const UnitReading& reading);
    // The page, ending with the time the scrape or probe took.
    std::string Text(double scrapeSeconds);
    // The page itself, for the exporter's own collectors on /metrics (process, HTTP server).
    CMetricsText& Page() { return m_page; }

private:
    CMetricsText m_page;
};
