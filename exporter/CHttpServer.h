#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class CConnectionGuard;
class CPasswordCheck;
class CWebConfig;

struct MHD_Daemon;
struct MHD_Connection;
struct sockaddr;

// A small HTTP server over libmicrohttpd that bounds what clients can take: connections at once
// and per client address (one over either is closed at once), the time for a request's line
// and headers whatever the client drips (from the connection's start, a TLS handshake
// included), the time a kept-alive connection may sit idle, and the memory of one request
// (request line and headers). A request with a body is refused (413) before the handler sees
// it. Everything else goes to the handler, on the server's own thread, which answers at once
// or later, from any thread, through the request's Reply; a body goes gzipped to a client that
// asks (Accept-Encoding), a shared one compressed once for all. One thread polls every connection of
// every listening socket (epoll), so thousands of connections cost little.
//
// A request answered later is suspended meanwhile (libmicrohttpd then neither reads nor writes
// its socket). Its Reply stays valid for as long as anyone holds it; once libmicrohttpd reports
// the request ended (answered, or the client gone), Send does nothing, so no answer is ever
// handed to a connection that no longer exists.
//
// With a web configuration (CWebConfig) it speaks HTTPS only (GnuTLS, the configuration's
// certificate, key and versions), and with client_auth_type RequireAndVerifyClientCert closes
// every connection whose client certificate is missing or does not chain to client_ca_file
// before a request of it is handled. With basic_auth_users every request needs a user and
// password: a request without them gets 401 at once; the others wait suspended while
// CPasswordCheck checks them on threads of its own, so a flood of wrong passwords never holds
// libmicrohttpd's thread.
class CHttpServer {
public:
    struct Limits {
        unsigned nConnections = 4096;          // open connections at once, of all listening sockets
        unsigned nPerAddress = 8;              // open connections from one client address
        unsigned nHeaderSeconds = 10;          // for the request line and headers, from the start
        unsigned nIdleSeconds = 30;            // a connection that sends nothing is closed after
        std::size_t nRequestBytes = 16 * 1024; // request line and headers of one request
    };

    // What the server did so far, for its own metrics.
    struct Counts {
        std::vector<std::pair<int, std::uint64_t>> requests; // answers by status code (Queue counts them), in code order
        std::uint64_t nRefusedAtConnectionCap = 0;
        std::uint64_t nRefusedAtAddressCap = 0;
        std::uint64_t nClosedAtHeaderDeadline = 0;
        unsigned nOpen = 0; // connections open now
    };

    struct Request {
        std::string strMethod;
        std::string strPath; // without the query
        std::vector<std::pair<std::string, std::string>> headers;
        // The query's parameters, decoded, in order, repeats kept (a name without "=" has an
        // empty value); bytes as sent, zero bytes included.
        std::vector<std::pair<std::string, std::string>> query;
        // The first header of that name (case-insensitive), or null.
        const std::string* Header(const std::string& name) const;
    };

    struct Response {
        int nStatus = 200;
        std::string strContentType;
        std::string strBody;
        std::vector<std::pair<std::string, std::string>> headers;
        // Instead of strBody, a large body that many answers share (a page of thousands of
        // units): each answer holds it until sent, and nothing copies it.
        std::shared_ptr<const std::string> pSharedBody;
    };

    // A request's answer, sent once; later Sends and Sends after the client left do nothing.
    class Reply {
    public:
        virtual ~Reply() = default;
        virtual void Send(Response response) = 0;
    };

    using Handler = std::function<void(const Request& request, const std::shared_ptr<Reply>& reply)>;

    // web: null, or the configuration (TLS, users) the server keeps for as long as it runs.
    CHttpServer(Handler handler, Limits limits, std::shared_ptr<const CWebConfig> web = nullptr);
    ~CHttpServer();
    CHttpServer(const CHttpServer&) = delete;
    CHttpServer& operator=(const CHttpServer&) = delete;

    // Listens on address (IPv4 or IPv6; port 0: any free port), besides the sockets it listens
    // on already. False with error (errno's text, or what TLS could not use).
    bool Listen(const sockaddr* address, std::string& error);
    // Serves a socket already bound and listening (one from systemd); the server closes it.
    bool Adopt(int fd, std::string& error);
    // The first listening socket's port; every one's address, as "127.0.0.1:9811" or "[::1]:9811".
    std::uint16_t Port() const;
    std::vector<std::string> Addresses() const;
    Counts GetCounts() const;

    // Answers every request still waiting with last, then closes the listening socket and every
    // connection. Requests that come meanwhile get last too.
    void Stop(const Response& last);

    struct Exchange;  // one request, private to the server's code
    struct Callbacks; // libmicrohttpd's entry points, private to the server's code

private:
    struct Listener {
        int fd;
        MHD_Daemon* daemon;
    };
    // The server's thread: polls every listener's connections, and closes those past their
    // header deadline, until m_bLoopEnds.
    void Loop();
    void Wake();
    // Answers of kGzipFrom bytes or more vary by Accept-Encoding; gzip: compressed.
    void Encode(Response& response, bool gzip);
    static constexpr std::size_t kGzipFrom = 256;

    Handler m_handler;
    const Limits m_limits;
    const std::shared_ptr<const CWebConfig> m_pWeb;
    mutable std::mutex m_listenMutex; // guards m_listeners
    std::vector<Listener> m_listeners;
    int m_nWake = -1; // eventfd: the loop looks at m_listeners and m_bLoopEnds again
    std::atomic<bool> m_bLoopEnds {false};
    std::thread m_loop;
    std::unique_ptr<CConnectionGuard> m_pGuard; // used on the loop's thread
    std::array<std::atomic<std::uint64_t>, 600> m_requests {}; // answers by status code (Queue counts them)
    std::mutex m_mutex; // guards the two below
    std::set<std::shared_ptr<Exchange>> m_live; // requests not ended yet
    std::unique_ptr<Response> m_pLast;          // set by Stop: the answer to everything from then on
    std::atomic<int> m_nSuspended {0};

    std::unique_ptr<CPasswordCheck> m_pPasswords; // with basic_auth_users
    std::mutex m_gzipMutex; // guards the two below: the last shared body compressed
    std::weak_ptr<const std::string> m_gzipSource;
    std::shared_ptr<const std::string> m_pGzipped;
};
