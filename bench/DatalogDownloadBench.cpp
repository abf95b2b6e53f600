// A full datalog download of a unit's 16 channels through getdata, against the floor of the
// same number of round trips (a 24-byte request, a 1169-byte reply) between two plain UDP
// sockets on loopback, measured in the same run.
// Usage: bench_datalog_download <unit address> <password> [runs]. Prints figures; asserts nothing.
#include "download/getdata.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Seconds for `trips` request/reply round trips between two blocking UDP sockets.
double Floor(const std::string& address, std::uint64_t trips)
{
    sockaddr_in server{};
    server.sin_family = AF_INET;
    inet_pton(AF_INET, address.c_str(), &server.sin_addr);
    const int serverSock = socket(AF_INET, SOCK_DGRAM, 0);
    socklen_t length = sizeof server;
    bind(serverSock, reinterpret_cast<sockaddr*>(&server), sizeof server);
    getsockname(serverSock, reinterpret_cast<sockaddr*>(&server), &length);
    std::thread responder([serverSock] {
        std::uint8_t request[1500];
        const std::vector<std::uint8_t> reply(1169, 1);
        for (;;) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(serverSock, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from),
                                       &fromLength);
            if (n == 1)
                return;
            sendto(serverSock, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
        }
    });
    const int clientSock = socket(AF_INET, SOCK_DGRAM, 0);
    const std::uint8_t request[24] = {3};
    std::uint8_t reply[1500];
    const auto start = Clock::now();
    for (std::uint64_t i = 0; i < trips; ++i) {
        sendto(clientSock, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&server), sizeof server);
        recv(clientSock, reply, sizeof reply, 0);
    }
    const double seconds = Seconds(start);
    sendto(clientSock, request, 1, 0, reinterpret_cast<sockaddr*>(&server), sizeof server);
    responder.join();
    close(clientSock);
    close(serverSock);
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <unit address> <password> [runs]\n", argv[0]);
        return 2;
    }
    const std::string address = argv[1];
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    if ((ntohl(inet_addr(address.c_str())) >> 24) != 127) {
        std::fprintf(stderr, "loopback units only\n");
        return 2;
    }
    getdata client;
    std::vector<double> downloads, floors;
    std::uint64_t trips = 0;
    long records = 0;
    for (int run = 0; run < runs; ++run) {
        const std::uint64_t before = client.requests_sent();
        records = 0;
        const auto start = Clock::now();
        for (int port = 0; port < 8; ++port) {
            for (int channel = 0; channel < 2; ++channel) {
                if (client.fetch(address, argv[2], port, channel) != 0) {
                    std::fprintf(stderr, "port %d channel %d failed: %d\n", port, channel, client.last_error());
                    return 1;
                }
                records += client.sample_count();
            }
        }
        downloads.push_back(Seconds(start));
        trips = client.requests_sent() - before;
        floors.push_back(Floor(address, trips));
        std::printf("run %d: download %.3f s, %llu round trips, floor %.3f s, ratio %.2f\n", run + 1,
                    downloads.back(), static_cast<unsigned long long>(trips), floors.back(),
                    downloads.back() / floors.back());
    }
    const double download = Median(downloads), floor = Median(floors);
    const double bestDownload = *std::min_element(downloads.begin(), downloads.end());
    const double bestFloor = *std::min_element(floors.begin(), floors.end());
    std::printf("datalog download: 16 channels, %ld records of 4 bytes\n", records);
    std::printf("  download   %8.3f s (median of %d)\n", download, runs);
    std::printf("  round trips %7llu (%llu requests per channel)\n", static_cast<unsigned long long>(trips),
                static_cast<unsigned long long>(trips / 16));
    std::printf("  floor      %8.3f s (%llu plain UDP round trips, 24 -> 1169 bytes)\n", floor,
                static_cast<unsigned long long>(trips));
    std::printf("  ratio      %8.2f x the floor, medians (target: within 1.5)\n", download / floor);
    std::printf("  best runs  %8.3f s against %.3f s: %.2f x\n", bestDownload, bestFloor, bestDownload / bestFloor);
    return 0;
}
