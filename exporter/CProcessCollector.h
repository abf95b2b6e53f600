#pragma once
class CMetricsText;

// The process_* metrics every Prometheus exporter has, from /proc/self and the open-file
// limit: process_cpu_seconds_total, process_resident_memory_bytes,
// process_virtual_memory_bytes, process_open_fds, process_max_fds and
// process_start_time_seconds. A value that cannot be read is left out.
class CProcessCollector {
public:
    static void Collect(CMetricsText& page);
};
