// Download benchmarks; they print figures and assert nothing.
//   bench_report_download report [folder]        report writing: record lines per second for a
//                                          32,767-record report, against a plain formatting
//                                          loop of the same lines in the same run
//   bench_report_download unit ADDRESS FOLDER     a whole download of the unit at ADDRESS (loopback)
#include "download/CDatalogReport.h"
#include "download/CDownloadDriver.h"
#include "download/IDownloadEvents.h"
#include "download/getdata.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Prints what the download says, as the command line would.
class PrintingView : public IDownloadEvents {
public:
    void AddStatusLine(const std::string& text, bool) override { std::fputs(("  | " + text).c_str(), stdout); }
    void Message(const std::string& text) override
    {
        std::printf("  | [box] %s%s", text.c_str(), !text.empty() && text.back() == '\n' ? "" : "\n");
    }
};

int BenchReport(const std::string& folder)
{
    constexpr int kRecords = 32767;
    constexpr int kReps = 10;
    status_block s;
    s.sensor_type = 5;
    s.unit_time = 1250764507;
    s.newest_time = 1250764200;
    s.record_count = kRecords;
    s.width = 4;
    s.interval = 1;
    s.capacity = kRecords;
    s.zone_index = 35;
    std::strcpy(s.unit_of_measure, "V");
    auto sample = [](int i) { return (i * 37) % 2001 - 1000; };

    // The baseline: the same record lines from ready calendar fields, one snprintf each.
    std::string baseText;
    auto t0 = Clock::now();
    for (int rep = 0; rep < kReps; ++rep) {
        baseText.clear();
        char line[64];
        for (int i = 0; i < kRecords; ++i) {
            const int v = sample(i);
            const int a = v < 0 ? -v : v;
            const int n = std::snprintf(line, sizeof line, "%02d/%02d/%04d %02d:%02d:%02d, %s%d.%d\n", 20, 8, 2009, 10,
                                        i % 60, 0, v < 0 ? "-" : "", a / 10, a % 10);
            baseText.append(line, static_cast<size_t>(n));
        }
    }
    const double baseRate = double(kRecords) * kReps / Seconds(t0);

    CDatalogReport report;
    std::printf("report writing, %d records of sensor type 5 (tenths), %d times each:\n", kRecords, kReps);
    std::printf("  %-34s %12.0f lines/s\n", "baseline: snprintf of ready fields", baseRate);
    for (bool local : {false, true}) {
        report.m_bLocalZone = local;
        t0 = Clock::now();
        size_t bytes = 0;
        for (int rep = 0; rep < kReps; ++rep)
            bytes += report.FormatReport("192.0.2.20", s, sample, kRecords).size();
        const double rate = double(kRecords) * kReps / Seconds(t0);
        std::printf("  %-34s %12.0f lines/s  (%.2f x baseline, %zu bytes per report)\n",
                    local ? "built, unit's zone (row 35)" : "built, UTC", rate, baseRate / rate, bytes / kReps);
    }
    report.m_bLocalZone = true;
    const std::string path = folder + "/bench-report.txt";
    t0 = Clock::now();
    for (int rep = 0; rep < kReps; ++rep)
        report.WriteReport(path, "192.0.2.20", s, sample, kRecords, false);
    const double rate = double(kRecords) * kReps / Seconds(t0);
    std::printf("  %-34s %12.0f lines/s  (%.2f x baseline; target at least 1,000,000)\n",
                "written to disk (replace + fdatasync)", rate, baseRate / rate);
    std::remove(path.c_str());
    return 0;
}

int BenchUnit(const std::string& address, const std::string& folder)
{
    getdata client;
    CDatalogReport report;
    PrintingView view;
    CDownloadDriver driver(client, report, view);
    DownloadSettings settings {address, "public", folder, true, false};
    std::printf("whole download of the unit at %s:\n", address.c_str());
    const auto t0 = Clock::now();
    const DownloadResult result = driver.Run(settings);
    const double seconds = Seconds(t0);
    std::printf("  %.3f s, %d pairs asked, %d reports written, %llu requests sent%s\n", seconds, result.pairsAsked,
                result.reportsWritten, static_cast<unsigned long long>(client.requests_sent()),
                result.stopped ? " (stopped)" : "");
    return result.stopped ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "report")
        return BenchReport(argc > 2 ? argv[2] : "/tmp");
    if (mode == "unit" && argc == 4) {
        // Benchmarks talk to loopback units only.
        getdata::restrict_to_loopback();
        return BenchUnit(argv[2], argv[3]);
    }
    std::fprintf(stderr, "usage: %s report [FOLDER] | unit ADDRESS FOLDER\n", argv[0]);
    return 2;
}
