#include "exporter/CMetricsWriter.h"

#include "oidgen/SensorSeries.h"

#include <optional>

CMetricsWriter::CMetricsWriter()
{
    m_page.Gauge(sensorseries::kMetric, sensorseries::kHelp);
    m_page.Gauge("veltrane_unit_up", "1 when the unit answered this scrape's request, else 0.");
    m_page.Gauge("veltrane_unit_request_seconds", "Time from the unit's request to its answer or to giving up.");
    m_page.Gauge("veltrane_unit_error_code",
                 "0 when the unit answered; else the read's error: 40 time-out, 41 still silent at the scrape's "
                 "deadline, 42 still being scanned at the probe's deadline, 6 no access (wrong community), 2 "
                 "unknown OID, other codes as the SNMP session reports them.");
    m_page.Gauge("veltrane_unit_sensors", "Sensors in the unit's current list.");
    m_page.Gauge("veltrane_unit_scan_success", "1 when the unit's last discovery scan reached it, else 0.");
    m_page.Gauge("veltrane_scrape_duration_seconds", "Time this scrape took.");
}

void CMetricsWriter::Add(const UnitReading& reading)
{
    const CExporterUnit& unit = *reading.pUnit;
    const CUnitReader::Result& result = reading.result;
    const SensorList& sensors = *reading.pSensors;
    // The unit's labels are escaped once for its samples.
    const std::string unitLabels = CMetricsText::LabelText({{sensorseries::kUnit, unit.m_strName}, {sensorseries::kAddress, unit.m_strAddress}});
    const bool up = result.bAnswered;
    if (up && result.values.size() == sensors.size()) {
        for (std::size_t k = 0; k < sensors.size(); ++k) {
            const std::optional<double> value = CMetricsText::Number(result.values[k]);
            if (!value)
                continue;
            const ExportedSensor& s = sensors[k];
            m_page.SampleWithLabelText(sensorseries::kMetric,
                                       unitLabels + ','
                                           + CMetricsText::LabelText({{sensorseries::kPort, s.strPort},
                                                                      {sensorseries::kDescription, s.strDescription},
                                                                      {sensorseries::kType, s.strType},
                                                                      {sensorseries::kOid, s.strOid}}),
                                       *value);
        }
    }
    m_page.SampleWithLabelText("veltrane_unit_up", unitLabels, up ? 1 : 0);
    m_page.SampleWithLabelText("veltrane_unit_request_seconds", unitLabels, result.dSeconds);
    m_page.SampleWithLabelText("veltrane_unit_error_code", unitLabels, result.nErrorCode);
    m_page.SampleWithLabelText("veltrane_unit_sensors", unitLabels, static_cast<double>(sensors.size()));
    m_page.SampleWithLabelText("veltrane_unit_scan_success", unitLabels, reading.bScanOk ? 1 : 0);
}

std::string CMetricsWriter::Text(double scrapeSeconds)
{
    m_page.Sample("veltrane_scrape_duration_seconds", {}, scrapeSeconds);
    return m_page.Text();
}
