#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <sys/socket.h>

// What the HTTP server's connections may take, across all its listening sockets: connections
// at once and from one client address (one over either is refused at accept, closed at once
// and counted), and a deadline for a request's line and headers, whatever the client drips:
// from the connection's start (a TLS handshake included) for its first request, and from the
// answer before for the next one on a kept-alive connection. A connection past its deadline
// is shut down (libmicrohttpd then closes it) and counted.
//
// Used on the server's loop thread only (libmicrohttpd's callbacks run there); the counts may
// be read from any thread.
class CConnectionGuard {
public:
    using Clock = std::chrono::steady_clock;

    // header: for the first request's line and headers; keptAlive: for a next request's.
    CConnectionGuard(unsigned connections, unsigned perAddress, Clock::duration header, Clock::duration keptAlive);

    // True when a connection from address may be taken in; else counts the refusal.
    bool Admit(const sockaddr* address);
    // A connection taken in: its token, which the calls below are given.
    void* Started(int fd, const sockaddr* address, Clock::time_point now);
    // Its request's headers are all in: no deadline while the request is handled and answered.
    void HeadersIn(void* token);
    // Its answer has gone and it is kept alive: the next request's headers are due.
    void Answered(void* token, Clock::time_point now);
    void Closed(void* token);
    // Shuts down the connections past their deadline; the next deadline, if any.
    std::optional<Clock::time_point> Sweep(Clock::time_point now);

    std::uint64_t RefusedAtConnectionCap() const { return m_nRefusedAll; }
    std::uint64_t RefusedAtAddressCap() const { return m_nRefusedAddress; }
    std::uint64_t ClosedAtHeaderDeadline() const { return m_nClosedLate; }
    unsigned Open() const { return m_nOpen; }

private:
    struct Entry;
    using Deadlines = std::multimap<Clock::time_point, Entry*>;
    struct Entry {
        int fd;
        std::string strAddress; // the address's bytes (an IPv4-mapped one as IPv4)
        std::optional<Deadlines::iterator> deadline;
        std::list<Entry>::iterator self;
    };
    static std::string AddressKey(const sockaddr* address);
    void SetDeadline(Entry& entry, std::optional<Clock::time_point> when);

    const unsigned m_nConnections;
    const unsigned m_nPerAddress;
    const Clock::duration m_header;
    const Clock::duration m_keptAlive;
    std::list<Entry> m_entries;
    std::map<std::string, unsigned> m_perAddress;
    Deadlines m_deadlines;
    std::atomic<std::uint64_t> m_nRefusedAll {0};
    std::atomic<std::uint64_t> m_nRefusedAddress {0};
    std::atomic<std::uint64_t> m_nClosedLate {0};
    std::atomic<unsigned> m_nOpen {0};
};
