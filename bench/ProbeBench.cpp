// Probes an exporter as Prometheus does: GET /probe?target=T for every target of a file, CONCURRENCY
// at a time, each worker on a keep-alive connection of its own from a loopback address of its
// own (127.77.254.N). Prints the wall time, the probes answered (200) and refused, the units up,
// and the medians of a probe's time and of the unit's own request time as the probe reports it.
//   bench_probe ADDRESS PORT TARGETS-FILE CONCURRENCY [ROUNDS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Figures {
    std::vector<double> probeSeconds;
    std::vector<double> unitSeconds;
    int nOk = 0;
    int nRefused = 0;
    int nUp = 0;
};

int Connect(const std::string& from, const std::string& to, int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in remote {};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, to.c_str(), &remote.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// One response on fd: status and body (by Content-Length); status 0 when the connection broke.
int Exchange(int fd, const std::string& request, std::string& body)
{
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return 0;
    std::string in;
    char buffer[8192];
    std::size_t headerEnd = std::string::npos;
    std::size_t length = 0;
    while (true) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return 0;
        in.append(buffer, static_cast<std::size_t>(n));
        if (headerEnd == std::string::npos) {
            headerEnd = in.find("\r\n\r\n");
            if (headerEnd == std::string::npos)
                continue;
            const std::size_t at = in.find("Content-Length: ");
            length = at < headerEnd ? std::strtoul(in.c_str() + at + 16, nullptr, 10) : 0;
        }
        if (in.size() >= headerEnd + 4 + length)
            break;
    }
    body = in.substr(headerEnd + 4, length);
    return std::atoi(in.c_str() + 9);
}

double Value(const std::string& body, const std::string& metric)
{
    const std::size_t at = body.find("\n" + metric + "{");
    if (at == std::string::npos)
        return -1;
    const std::size_t end = body.find('\n', at + 1);
    const std::size_t blank = body.rfind(' ', end);
    return std::atof(body.c_str() + blank + 1);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_probe ADDRESS PORT TARGETS-FILE CONCURRENCY [ROUNDS]\n");
        return 2;
    }
    const std::string address = argv[1];
    const int port = std::atoi(argv[2]);
    std::vector<std::string> targets;
    std::ifstream file(argv[3]);
    for (std::string line; std::getline(file, line);)
        if (!line.empty())
            targets.push_back(line);
    const int concurrency = std::clamp(std::atoi(argv[4]), 1, 250);
    const int rounds = argc > 5 ? std::max(1, std::atoi(argv[5])) : 1;

    std::atomic<std::size_t> next {0};
    const std::size_t total = targets.size() * static_cast<std::size_t>(rounds);
    std::mutex mutex;
    Figures figures;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int w = 0; w < concurrency; ++w)
        workers.emplace_back([&, w] {
            const std::string from = "127.77.254." + std::to_string(w + 1);
            int fd = -1;
            Figures mine;
            for (std::size_t i = next++; i < total; i = next++) {
                if (fd < 0)
                    fd = Connect(from, address, port);
                const std::string request = "GET /probe?target=" + targets[i % targets.size()] +
                                            " HTTP/1.1\r\nHost: e\r\nX-Prometheus-Scrape-Timeout-Seconds: 10\r\n\r\n";
                std::string body;
                const auto sent = std::chrono::steady_clock::now();
                const int status = fd < 0 ? 0 : Exchange(fd, request, body);
                const std::chrono::duration<double> took = std::chrono::steady_clock::now() - sent;
                if (status == 200) {
                    ++mine.nOk;
                    mine.probeSeconds.push_back(took.count());
                    mine.unitSeconds.push_back(Value(body, "veltrane_unit_request_seconds"));
                    mine.nUp += Value(body, "veltrane_unit_up") == 1 ? 1 : 0;
                } else {
                    ++mine.nRefused;
                    if (status == 0 && fd >= 0) {
                        ::close(fd);
                        fd = -1;
                    }
                }
            }
            if (fd >= 0)
                ::close(fd);
            std::lock_guard lock(mutex);
            figures.nOk += mine.nOk;
            figures.nRefused += mine.nRefused;
            figures.nUp += mine.nUp;
            figures.probeSeconds.insert(figures.probeSeconds.end(), mine.probeSeconds.begin(), mine.probeSeconds.end());
            figures.unitSeconds.insert(figures.unitSeconds.end(), mine.unitSeconds.begin(), mine.unitSeconds.end());
        });
    for (std::thread& worker : workers)
        worker.join();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    std::printf("%.4f %d %d %d %.4f %.4f\n", wall.count(), figures.nOk, figures.nRefused, figures.nUp,
                Median(figures.probeSeconds), Median(figures.unitSeconds));
    return 0;
}
