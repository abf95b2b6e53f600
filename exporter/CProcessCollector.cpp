#include "exporter/CProcessCollector.h"

#include "exporter/CMetricsText.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

// The fields of /proc/self/stat after the command's name (which may hold spaces and
// parentheses), numbered as proc(5) numbers them from field 3 on.
std::vector<unsigned long long> StatFields()
{
    char buffer[4096];
    const int fd = ::open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return {};
    const std::string text(buffer, static_cast<std::size_t>(n));
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size())
        return {};
    std::vector<unsigned long long> fields;
    const char* at = text.c_str() + close + 2;
    fields.push_back(0); // field 3 is the state letter
    while (*at && *at != ' ')
        ++at;
    while (*at == ' ' && fields.size() < 64) {
        char* end = nullptr;
        fields.push_back(std::strtoull(at + 1, &end, 10));
        at = end;
    }
    return fields;
}

} // namespace

void CProcessCollector::Collect(CMetricsText& page)
{
    const std::vector<unsigned long long> stat = StatFields(); // stat[i] is field i + 3
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    page.Counter("process_cpu_seconds_total", "Total user and system CPU time spent in seconds.");
    page.Gauge("process_resident_memory_bytes", "Resident memory size in bytes.");
    page.Gauge("process_virtual_memory_bytes", "Virtual memory size in bytes.");
    page.Gauge("process_open_fds", "Number of open file descriptors.");
    page.Gauge("process_max_fds", "Maximum number of open file descriptors.");
    page.Gauge("process_start_time_seconds", "Start time of the process since unix epoch in seconds.");
    if (stat.size() > 21 && ticks > 0) {
        page.Sample("process_cpu_seconds_total", {}, static_cast<double>(stat[14 - 3] + stat[15 - 3]) / ticks);
        page.Sample("process_virtual_memory_bytes", {}, static_cast<double>(stat[23 - 3]));
        page.Sample("process_resident_memory_bytes", {},
                    static_cast<double>(stat[24 - 3]) * static_cast<double>(::sysconf(_SC_PAGESIZE)));
        // Field 22 counts from the boot: now less the time since the boot gives the boot's time
        // (the service cannot read /proc/stat, where the boot time is written).
        timespec now {}, boot {};
        if (::clock_gettime(CLOCK_REALTIME, &now) == 0 && ::clock_gettime(CLOCK_BOOTTIME, &boot) == 0) {
            const double booted = (now.tv_sec - boot.tv_sec) + (now.tv_nsec - boot.tv_nsec) / 1e9;
            page.Sample("process_start_time_seconds", {}, booted + static_cast<double>(stat[22 - 3]) / ticks);
        }
    }
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        unsigned long count = 0;
        while (::readdir(fds) && count < (1ul << 24))
            ++count;
        ::closedir(fds);
        page.Sample("process_open_fds", {}, static_cast<double>(count - 3)); // ".", ".." and the one opendir holds
    }
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0)
        page.Sample("process_max_fds", {}, limit.rlim_cur == RLIM_INFINITY ? 0 : static_cast<double>(limit.rlim_cur));
}
