// Reading a large data file: for a plot, and exporting it to CSV. Modes, each run in its own
// process so that its peak memory is its own:
//   --make FILE LINES   writes a data file of LINES lines of 8 columns, one a minute, and a
//                       column sidecar that names them in two runs (the list changes halfway)
//   --baseline FILE     reads the file and counts its lines, nothing more
//   --plot FILE         reads it into plot series as the plot window does
//   --zoom FILE         then reads one hour at full resolution, as a zoomed window does, at
//                       20 places through the file (mean time and bytes per zoom)
//   --export FILE OUT   writes it as CSV, as `veltrane-cli export` does
//   --openmetrics FILE OUT  writes it as OpenMetrics, as `export --format openmetrics` does
// Prints the elapsed time and the peak resident memory; it asserts nothing.
#include "collect/ColumnsSidecar.h"
#include "collect/DataFileFormat.h"
#include "plot/CPlotReader.h"
#include "plot/CsvExport.h"
#include "plot/OpenMetricsExport.h"

#include <QString>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

long PeakKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int Make(const char* path, long lines)
{
    FILE* out = std::fopen(path, "wb");
    if (!out)
        return 1;
    const std::int64_t t0 = *datafile::WallClockSeconds(2025, 1, 1, 0, 0, 0);
    long half = 0;
    for (long i = 0; i < lines; ++i) {
        if (i == lines / 2)
            half = std::ftell(out);
        const std::string stamp = datafile::FormatWallClock(t0 + 60LL * i);
        std::fprintf(out, "%.10s,  %s,  %ld,  %ld,  %ld.%ld,  %ld,  1,  -2,  300,  %ld\r\n", stamp.c_str(),
                     stamp.c_str() + 11, 15 + i % 20, 40 + i % 9, i % 30, i % 10, i % 2, i % 1000);
    }
    if (std::fclose(out) != 0)
        return 1;
    datafile::ColumnsRecord first {t0, 0, {}}, second {t0 + 60LL * (lines / 2), half, {}};
    for (int c = 0; c < 8; ++c) {
        first.columns.push_back({"Port " + std::to_string(c + 1), "Sensor " + std::to_string(c + 1), "temperature",
                                 ".1.3.6.1.4.1.32473.1.2.2.1.16.1.3." + std::to_string(c)});
        // The second list reads the same sensors in the other order, and one more in place of the first.
        second.columns.push_back({"Port " + std::to_string(8 - c), c == 7 ? "Spare probe" : "Sensor " + std::to_string(8 - c),
                                  "temperature", ".1.3.6.1.4.1.32473.1.2.2.1.16.1.3." + std::to_string(c == 7 ? 9 : 7 - c)});
    }
    FILE* sidecar = std::fopen(datafile::SidecarPath(path).c_str(), "wb");
    if (!sidecar)
        return 1;
    const std::string text = datafile::AddRecord(datafile::AddRecord("", first), second);
    std::fwrite(text.data(), 1, text.size(), sidecar);
    return std::fclose(sidecar) == 0 ? 0 : 1;
}

int Zoom(const CPlotReader& reader)
{
    constexpr int kZooms = 20;
    const CPlotSummary& all = reader.Data().Summary(0);
    long long bytes = 0, points = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kZooms; ++i) {
        const std::int64_t from = all.tFirst + (all.tLast - all.tFirst) * i / kZooms;
        const std::unique_ptr<CPlotReader> range = reader.RangeReader(from, from + 3600);
        if (!range || range->Read() != CPlotReader::Status::AtEnd)
            return 1;
        for (const CPlotIndex::Span& span : range->Spans())
            bytes += span.end - span.begin;
        points += static_cast<long long>(range->Data().Points(0).size());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("zoom to one hour, full detail: %.3f ms and %lld bytes read per zoom, %lld points of column 1\n",
                seconds * 1000 / kZooms, bytes / kZooms, points / kZooms);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--make") == 0)
        return Make(argv[2], std::atol(argv[3]));
    if (argc < 3)
        return 2;
    const std::string mode = argv[1];
    const auto start = std::chrono::steady_clock::now();
    long long lines = 0, values = 0, kept = 0;
    if (argc == 3 && mode == "--baseline") {
        const int fd = ::open(argv[2], O_RDONLY);
        if (fd < 0)
            return 1;
        std::vector<char> buffer(CPlotReader::kReadChunk);
        ssize_t n;
        while ((n = ::read(fd, buffer.data(), buffer.size())) > 0)
            for (ssize_t i = 0; i < n; ++i)
                lines += buffer[static_cast<std::size_t>(i)] == '\n';
        ::close(fd);
    } else if (argc == 3 && (mode == "--plot" || mode == "--zoom")) {
        CPlotReader reader;
        if (!reader.Open(QString::fromLocal8Bit(argv[2])) || reader.Read() != CPlotReader::Status::AtEnd)
            return 1;
        if (mode == "--zoom")
            return Zoom(reader);
        lines = reader.Count().lines;
        values = reader.Count().points;
        for (int s = 0; s < reader.Data().SeriesCount(); ++s)
            kept += static_cast<long long>(reader.Data().Points(s).size());
    } else if (argc == 4 && mode == "--export") {
        const csvexport::Result result = csvexport::Export(QString::fromLocal8Bit(argv[2]), argv[3]);
        if (!result.ok)
            return 1;
        lines = result.rows;
        values = result.rows * result.columns;
    } else if (argc == 4 && mode == "--openmetrics") {
        openmetrics::Options options;
        options.unit = "Bench unit";
        const openmetrics::Result result = openmetrics::Export({QString::fromLocal8Bit(argv[2])}, argv[3], options);
        if (!result.ok)
            return 1;
        lines = result.samples / 8;
        values = result.samples;
    } else {
        return 2;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-10s %9lld lines %9lld values %6lld points kept  %7.3f s  peak %7.1f MB\n", argv[1] + 2, lines,
                values, kept, seconds, static_cast<double>(PeakKiB()) / 1024.0);
    return 0;
}
