#pragma once
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

class CPasswordCheck;
class CWebConfig;

struct MHD_Daemon;
struct MHD_Connection;
struct sockaddr;

// A small HTTP server over libmicrohttpd that bounds what clients can take: connections at once
// and per client address, the time a connection may sit idle, and the memory of one request
// (request line and headers). A request with a body is refused (413) before the handler sees
// it. Everything else goes to the handler, on the server's own thread, which answers at once
// or later, from any thread, through the request's Reply.
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
        unsigned nConnections = 64;            // open connections at once
        unsigned nPerAddress = 8;              // open connections from one client address
        unsigned nIdleSeconds = 30;            // a connection that sends nothing is closed after
        std::size_t nRequestBytes = 16 * 1024; // request line and headers of one request
    };

    struct Request {
        std::string strMethod;
        std::string strPath; // without the query
        std::vector<std::pair<std::string, std::string>> headers;
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

    // Listens on address (IPv4 or IPv6; port 0: any free port). False with error (errno's text,
    // or what TLS could not use).
    bool Listen(const sockaddr* address, std::string& error);
    std::uint16_t Port() const;

    // Answers every request still waiting with last, then closes the listening socket and every
    // connection. Requests that come meanwhile get last too.
    void Stop(const Response& last);

    struct Exchange;  // one request, private to the server's code
    struct Callbacks; // libmicrohttpd's entry points, private to the server's code

private:
    Handler m_handler;
    const Limits m_limits;
    const std::shared_ptr<const CWebConfig> m_pWeb;
    MHD_Daemon* m_pDaemon = nullptr;
    int m_nListenSocket = -1;
    std::mutex m_mutex; // guards the two below
    std::set<std::shared_ptr<Exchange>> m_live; // requests not ended yet
    std::unique_ptr<Response> m_pLast;          // set by Stop: the answer to everything from then on
    std::atomic<int> m_nSuspended {0};

    std::unique_ptr<CPasswordCheck> m_pPasswords; // with basic_auth_users
};
