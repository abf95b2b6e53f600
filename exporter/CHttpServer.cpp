#include "exporter/CHttpServer.h"

#include "exporter/CConnectionGuard.h"
#include "exporter/Gzip.h"
#include "exporter/CPasswordCheck.h"
#include "exporter/CWebConfig.h"

#include <gnutls/gnutls.h>
#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <strings.h>
#include <thread>

namespace {

// How long Stop waits for answered requests to leave their suspension before closing.
constexpr auto kStopWait = std::chrono::milliseconds(500);

enum class Stage {
    Received,  // the headers are in; the rest of the request is awaited
    Checking,  // suspended while its password is checked
    Checked,   // its password was checked (passed tells how); handled when libmicrohttpd calls back
    Handling,  // the handler runs; an answer given meanwhile is sent when it returns
    Suspended, // waiting for its answer
    Resumed,   // answered while suspended; sent when libmicrohttpd calls back
    Answered,  // handed to libmicrohttpd
    Ended,     // libmicrohttpd reported the end: nothing may touch the connection any more
};

const char* const kRealm = "Basic realm=\"veltrane\"";

CHttpServer::Response Unauthorized()
{
    return CHttpServer::Response{MHD_HTTP_UNAUTHORIZED, "text/plain; charset=utf-8",
                                 "A user name and password are needed.\n", {{MHD_HTTP_HEADER_WWW_AUTHENTICATE, kRealm}}, {}};
}

// True when the connection may go on: its client certificate chains to the trusted CA (or,
// where one is only checked if given, it sent none).
bool ClientCertificateAccepted(MHD_Connection* connection, CWebConfig::ClientAuth mode)
{
    if (mode == CWebConfig::ClientAuth::kNone)
        return true;
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
    if (!info || !info->tls_session)
        return false;
    auto session = static_cast<gnutls_session_t>(info->tls_session);
    unsigned int listSize = 0;
    if (gnutls_certificate_get_peers(session, &listSize) == nullptr || listSize == 0)
        return mode == CWebConfig::ClientAuth::kVerifyIfGiven;
    unsigned int status = 0;
    return gnutls_certificate_verify_peers2(session, &status) == GNUTLS_E_SUCCESS && status == 0;
}

} // namespace

struct CHttpServer::Exchange : CHttpServer::Reply {
    Exchange(CHttpServer& server, MHD_Connection* connection) : server(server), pConnection(connection) {}

    void Send(Response answer) override
    {
        server.Encode(answer, bGzip); // before the lock: a large page takes a while
        std::lock_guard lock(mutex);
        if (response || stage == Stage::Ended || stage == Stage::Answered)
            return;
        response = std::make_unique<Response>(std::move(answer));
        if (stage == Stage::Suspended || stage == Stage::Checking) {
            // A suspended request cannot end before it is resumed (Stop resumes every one before
            // it closes anything), so the connection is still there.
            stage = Stage::Resumed;
            MHD_resume_connection(pConnection);
            server.Wake(); // the loop polls again, and libmicrohttpd takes the request up
        }
    }

    // The password check's result: handled when libmicrohttpd calls back.
    void Checked(bool passed)
    {
        std::lock_guard lock(mutex);
        if (stage != Stage::Checking)
            return; // answered by Stop, or the client left
        bPassed = passed;
        stage = Stage::Checked;
        MHD_resume_connection(pConnection);
        server.Wake(); // the loop polls again, and libmicrohttpd takes the request up
    }

    CHttpServer& server;
    std::mutex mutex; // guards everything below
    MHD_Connection* pConnection;
    Stage stage = Stage::Received;
    std::unique_ptr<Response> response;
    bool bPassed = false; // once Checked
    bool bGzip = false;   // the client takes gzip; set before anyone holds the exchange
};

struct CHttpServer::Callbacks {
    static void Queue(CHttpServer& server, MHD_Connection* connection, const Response& answer)
    {
        if (answer.nStatus >= 100 && static_cast<std::size_t>(answer.nStatus) < server.m_requests.size())
            ++server.m_requests[static_cast<std::size_t>(answer.nStatus)];
        MHD_Response* response = nullptr;
        if (answer.pSharedBody) {
            auto* hold = new std::shared_ptr<const std::string>(answer.pSharedBody);
            response = MHD_create_response_from_buffer_with_free_callback_cls(
                (*hold)->size(), const_cast<char*>((*hold)->data()),
                [](void* cls) { delete static_cast<std::shared_ptr<const std::string>*>(cls); }, hold);
            if (!response)
                delete hold;
        } else {
            response = MHD_create_response_from_buffer(answer.strBody.size(), const_cast<char*>(answer.strBody.data()),
                                                       MHD_RESPMEM_MUST_COPY);
        }
        if (!response)
            return; // out of memory: libmicrohttpd closes the connection
        if (!answer.strContentType.empty())
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.strContentType.c_str());
        for (const auto& [name, value] : answer.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        MHD_queue_response(connection, static_cast<unsigned>(answer.nStatus), response);
        MHD_destroy_response(response);
    }

    static MHD_Result CollectHeader(void* cls, MHD_ValueKind, const char* key, const char* value)
    {
        static_cast<Request*>(cls)->headers.emplace_back(key ? key : "", value ? value : "");
        return MHD_YES;
    }

    static MHD_Result CollectArgument(void* cls, MHD_ValueKind, const char* key, std::size_t keySize, const char* value,
                                      std::size_t valueSize)
    {
        static_cast<Request*>(cls)->query.emplace_back(std::string(key ? key : "", key ? keySize : 0),
                                                       std::string(value ? value : "", value ? valueSize : 0));
        return MHD_YES;
    }

    // Called first when the headers are in, then once the request is complete (answering
    // before that would make libmicrohttpd close the connection), then after each resume.
    static MHD_Result OnAccess(void* cls, MHD_Connection* connection, const char* url, const char* method,
                               const char*, const char*, std::size_t* uploadDataSize, void** state)
    {
        auto& server = *static_cast<CHttpServer*>(cls);
        if (!*state) {
            server.m_pGuard->HeadersIn(SocketContext(connection));
            // No request of a connection without the client certificate asked for is handled:
            // the connection closes without an answer.
            if (server.m_pWeb && server.m_pWeb->HasTls() &&
                !ClientCertificateAccepted(connection, server.m_pWeb->TlsSettings().clientAuth))
                return MHD_NO;
            auto exchange = std::make_shared<Exchange>(server, connection);
            const char* encodings =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT_ENCODING);
            exchange->bGzip = encodings && gzip::Accepted(encodings);
            *state = new std::shared_ptr<Exchange>(exchange); // freed by OnCompleted
            {
                std::lock_guard lock(server.m_mutex);
                server.m_live.insert(exchange);
            }
            const char* length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            const bool body =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING) ||
                (length && std::strcmp(length, "0") != 0);
            if (body) {
                // Refused before a byte of it is read; the connection closes after the answer.
                exchange->stage = Stage::Answered;
                Queue(server, connection, Response{MHD_HTTP_CONTENT_TOO_LARGE, "text/plain; charset=utf-8",
                                           "Requests with a body are refused.\n", {}, {}});
            }
            return MHD_YES;
        }

        auto& exchange = **static_cast<std::shared_ptr<Exchange>*>(*state);
        *uploadDataSize = 0; // a body is never read: a request with one was answered at once
        {
            std::lock_guard lock(exchange.mutex);
            if (exchange.stage == Stage::Resumed) {
                --server.m_nSuspended;
                exchange.stage = Stage::Answered;
                Queue(server, connection, *exchange.response);
                return MHD_YES;
            }
            if (exchange.stage == Stage::Checked) {
                --server.m_nSuspended;
                if (!exchange.bPassed) {
                    exchange.stage = Stage::Answered;
                    Queue(server, connection, Unauthorized());
                    return MHD_YES;
                }
            } else if (exchange.stage != Stage::Received) {
                return MHD_YES;
            } else if (server.m_pWeb && server.m_pWeb->RequiresAuth()) {
                bool stopping = false;
                {
                    std::lock_guard lock(server.m_mutex);
                    stopping = server.m_pLast != nullptr;
                }
                if (!stopping) {
                    const char* value = nullptr;
                    std::size_t size = 0;
                    if (MHD_lookup_connection_value_n(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION,
                                                      std::strlen(MHD_HTTP_HEADER_AUTHORIZATION), &value,
                                                      &size) != MHD_YES ||
                        !value) {
                        exchange.stage = Stage::Answered;
                        Queue(server, connection, Unauthorized());
                        return MHD_YES;
                    }
                    const std::shared_ptr<Exchange> holder = *static_cast<std::shared_ptr<Exchange>*>(*state);
                    // A check queued cannot report before the request is suspended: it waits
                    // for the exchange's mutex, held here.
                    switch (server.m_pPasswords->Check(std::string(value, size),
                                                       [holder](bool passed) { holder->Checked(passed); })) {
                    case CPasswordCheck::Outcome::kQueued:
                        exchange.stage = Stage::Checking;
                        ++server.m_nSuspended;
                        MHD_suspend_connection(connection);
                        return MHD_YES;
                    case CPasswordCheck::Outcome::kStopped:
                        exchange.stage = Stage::Answered;
                        Queue(server, connection, Response{MHD_HTTP_SERVICE_UNAVAILABLE, "text/plain; charset=utf-8",
                                                   "Stopping.\n", {}, {}});
                        return MHD_YES;
                    case CPasswordCheck::Outcome::kPassed:
                        break;
                    }
                }
            }
            exchange.stage = Stage::Handling;
        }

        std::unique_ptr<Response> last;
        {
            std::lock_guard lock(server.m_mutex);
            if (server.m_pLast)
                last = std::make_unique<Response>(*server.m_pLast);
        }
        if (last) {
            exchange.Send(std::move(*last));
        } else {
            Request request;
            request.strMethod = method ? method : "";
            request.strPath = url ? url : "";
            MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectHeader, &request);
            MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, CollectArgument, &request);
            server.m_handler(request, *static_cast<std::shared_ptr<Exchange>*>(*state));
        }

        std::lock_guard lock(exchange.mutex);
        if (exchange.response) {
            exchange.stage = Stage::Answered;
            Queue(server, connection, *exchange.response);
        } else {
            exchange.stage = Stage::Suspended;
            ++server.m_nSuspended;
            MHD_suspend_connection(connection);
        }
        return MHD_YES;
    }

    static void OnCompleted(void* cls, MHD_Connection* connection, void** state, MHD_RequestTerminationCode toe)
    {
        auto& server = *static_cast<CHttpServer*>(cls);
        if (toe == MHD_REQUEST_TERMINATED_COMPLETED_OK)
            server.m_pGuard->Answered(SocketContext(connection), CConnectionGuard::Clock::now());
        auto* holder = static_cast<std::shared_ptr<Exchange>*>(*state);
        if (!holder)
            return;
        {
            std::lock_guard lock((*holder)->mutex);
            const Stage stage = (*holder)->stage;
            if (stage == Stage::Suspended || stage == Stage::Resumed || stage == Stage::Checking ||
                stage == Stage::Checked)
                --server.m_nSuspended;
            (*holder)->stage = Stage::Ended;
            (*holder)->pConnection = nullptr;
        }
        {
            std::lock_guard lock(server.m_mutex);
            server.m_live.erase(*holder);
        }
        delete holder;
        *state = nullptr;
    }

    static void* SocketContext(MHD_Connection* connection)
    {
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? info->socket_context : nullptr;
    }

    static MHD_Result OnAccept(void* cls, const sockaddr* address, socklen_t)
    {
        return static_cast<CHttpServer*>(cls)->m_pGuard->Admit(address) ? MHD_YES : MHD_NO;
    }

    static void OnConnection(void* cls, MHD_Connection* connection, void** context, MHD_ConnectionNotificationCode code)
    {
        CConnectionGuard& guard = *static_cast<CHttpServer*>(cls)->m_pGuard;
        if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
            guard.Closed(*context);
            *context = nullptr;
            return;
        }
        const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        const MHD_ConnectionInfo* address = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        if (fd && address)
            *context = guard.Started(fd->connect_fd, address->client_addr, CConnectionGuard::Clock::now());
    }

    static void Discard(void*, const char*, va_list) {}
};

const std::string* CHttpServer::Request::Header(const std::string& name) const
{
    for (const auto& [key, value] : headers)
        if (::strcasecmp(key.c_str(), name.c_str()) == 0)
            return &value;
    return nullptr;
}

CHttpServer::CHttpServer(Handler handler, Limits limits, std::shared_ptr<const CWebConfig> web)
    : m_handler(std::move(handler)), m_limits(limits), m_pWeb(std::move(web)),
      m_pGuard(std::make_unique<CConnectionGuard>(
          limits.nConnections, limits.nPerAddress, std::chrono::seconds(limits.nHeaderSeconds),
          // A kept-alive connection: silent, the idle time-out closes it; dripping, this does.
          std::chrono::seconds(limits.nIdleSeconds + limits.nHeaderSeconds)))
{
    m_nWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CHttpServer::~CHttpServer()
{
    Stop(Response{MHD_HTTP_SERVICE_UNAVAILABLE, "text/plain; charset=utf-8", "Stopping.\n", {}, {}});
    if (m_nWake >= 0)
        ::close(m_nWake);
}

bool CHttpServer::Listen(const sockaddr* address, std::string& error)
{
    const bool v6 = address->sa_family == AF_INET6;
    const socklen_t size = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    const int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (v6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd, address, size) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    return Adopt(fd, error);
}

bool CHttpServer::Adopt(int fd, std::string& error)
{
    sockaddr_storage address {};
    socklen_t size = sizeof address;
    if (m_nWake < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        error = m_nWake < 0 ? "cannot make an eventfd" : std::strerror(errno);
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // Polled by the server's own loop (epoll), which also closes the connections past their
    // header deadline: libmicrohttpd's own time-out counts from a connection's last byte.
    unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
    if (address.ss_family == AF_INET6)
        flags |= MHD_USE_IPv6;
    // The TLS settings, when there are any; libmicrohttpd reads them at start (m_pWeb keeps them).
    std::vector<MHD_OptionItem> tls;
    std::string priorities;
    if (m_pWeb && m_pWeb->HasTls()) {
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
            error = "this system's libmicrohttpd has no TLS";
            ::close(fd);
            return false;
        }
        const CWebConfig::Tls& settings = m_pWeb->TlsSettings();
        priorities = settings.GnuTlsPriorities();
        flags |= MHD_USE_TLS;
        tls.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(settings.keyPem.c_str())});
        tls.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(settings.certPem.c_str())});
        tls.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, priorities.data()});
        if (settings.clientAuth != CWebConfig::ClientAuth::kNone)
            tls.push_back({MHD_OPTION_HTTPS_MEM_TRUST, 0, const_cast<char*>(settings.clientCaPem.c_str())});
    }
    tls.push_back({MHD_OPTION_END, 0, nullptr});
    // The caps are the guard's, across all listeners; libmicrohttpd's own one is never reached
    // (reaching it would leave connections waiting unaccepted instead of closed and counted).
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, 0, &Callbacks::OnAccept, this, &Callbacks::OnAccess, this, MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_LIMIT, m_limits.nConnections + 1, MHD_OPTION_CONNECTION_TIMEOUT, m_limits.nIdleSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, m_limits.nRequestBytes, MHD_OPTION_NOTIFY_COMPLETED,
        &Callbacks::OnCompleted, this, MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::OnConnection, this,
        MHD_OPTION_EXTERNAL_LOGGER, &Callbacks::Discard, nullptr, MHD_OPTION_ARRAY, tls.data(), MHD_OPTION_END);
    if (!daemon) {
        error = m_pWeb && m_pWeb->HasTls()
                    ? "the HTTPS server could not start (the certificate, the key or the TLS versions were not usable)"
                    : "the HTTP server could not start";
        ::close(fd);
        return false;
    }
    {
        std::lock_guard lock(m_listenMutex);
        m_listeners.push_back(Listener{fd, daemon});
    }
    if (!m_pPasswords && m_pWeb && m_pWeb->RequiresAuth())
        m_pPasswords = std::make_unique<CPasswordCheck>(m_pWeb);
    if (m_loop.joinable())
        Wake();
    else
        m_loop = std::thread(&CHttpServer::Loop, this);
    return true;
}

void CHttpServer::Encode(Response& response, bool gzip)
{
    const std::string& body = response.pSharedBody ? *response.pSharedBody : response.strBody;
    if (body.size() < kGzipFrom)
        return;
    response.headers.emplace_back(MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING);
    if (!gzip)
        return;
    std::shared_ptr<const std::string> packed;
    if (response.pSharedBody) {
        // The page every waiting client gets is compressed once, for all of them.
        std::lock_guard lock(m_gzipMutex);
        if (m_gzipSource.lock() != response.pSharedBody) {
            m_pGzipped = std::make_shared<const std::string>(gzip::Compress(body));
            m_gzipSource = response.pSharedBody;
        }
        packed = m_pGzipped;
    } else {
        packed = std::make_shared<const std::string>(gzip::Compress(body));
    }
    if (packed->empty())
        return; // zlib failed: the body goes as it is
    response.pSharedBody = std::move(packed);
    response.strBody.clear();
    response.headers.emplace_back(MHD_HTTP_HEADER_CONTENT_ENCODING, "gzip");
}

void CHttpServer::Wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_nWake, &one, sizeof one);
}

void CHttpServer::Loop()
{
    using Clock = CConnectionGuard::Clock;
    std::vector<pollfd> polled;
    std::vector<MHD_Daemon*> daemons;
    std::optional<Clock::time_point> nextDeadline;
    while (!m_bLoopEnds) {
        {
            std::lock_guard lock(m_listenMutex);
            daemons.clear();
            for (const Listener& listener : m_listeners)
                daemons.push_back(listener.daemon);
        }
        polled.assign(1, pollfd{m_nWake, POLLIN, 0});
        long long waitMs = 1000;
        for (MHD_Daemon* daemon : daemons) {
            if (const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_EPOLL_FD))
                polled.push_back(pollfd{info->epoll_fd, POLLIN, 0});
            MHD_UNSIGNED_LONG_LONG timeout = 0;
            if (MHD_get_timeout(daemon, &timeout) == MHD_YES)
                waitMs = std::min<long long>(waitMs, static_cast<long long>(timeout));
        }
        if (nextDeadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*nextDeadline - Clock::now()).count();
            waitMs = std::clamp<long long>(left, 0, waitMs);
        }
        ::poll(polled.data(), polled.size(), static_cast<int>(waitMs));
        if (polled[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(m_nWake, &count, sizeof count);
        }
        for (MHD_Daemon* daemon : daemons)
            MHD_run(daemon);
        nextDeadline = m_pGuard->Sweep(Clock::now());
    }
}

std::uint16_t CHttpServer::Port() const
{
    std::lock_guard lock(m_listenMutex);
    sockaddr_storage address {};
    socklen_t size = sizeof address;
    if (m_listeners.empty() ||
        ::getsockname(m_listeners.front().fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

std::vector<std::string> CHttpServer::Addresses() const
{
    std::lock_guard lock(m_listenMutex);
    std::vector<std::string> addresses;
    for (const Listener& listener : m_listeners) {
        sockaddr_storage address {};
        socklen_t size = sizeof address;
        char text[INET6_ADDRSTRLEN] = {};
        if (::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            continue;
        if (address.ss_family == AF_INET6) {
            const auto& six = *reinterpret_cast<const sockaddr_in6*>(&address);
            ::inet_ntop(AF_INET6, &six.sin6_addr, text, sizeof text);
            addresses.push_back("[" + std::string(text) + "]:" + std::to_string(ntohs(six.sin6_port)));
        } else if (address.ss_family == AF_INET) {
            const auto& four = *reinterpret_cast<const sockaddr_in*>(&address);
            ::inet_ntop(AF_INET, &four.sin_addr, text, sizeof text);
            addresses.push_back(std::string(text) + ":" + std::to_string(ntohs(four.sin_port)));
        }
    }
    return addresses;
}

CHttpServer::Counts CHttpServer::GetCounts() const
{
    Counts counts;
    for (std::size_t code = 0; code < m_requests.size(); ++code)
        if (const std::uint64_t n = m_requests[code])
            counts.requests.emplace_back(static_cast<int>(code), n);
    counts.nRefusedAtConnectionCap = m_pGuard->RefusedAtConnectionCap();
    counts.nRefusedAtAddressCap = m_pGuard->RefusedAtAddressCap();
    counts.nClosedAtHeaderDeadline = m_pGuard->ClosedAtHeaderDeadline();
    counts.nOpen = m_pGuard->Open();
    return counts;
}

void CHttpServer::Stop(const Response& last)
{
    if (!m_loop.joinable())
        return;
    std::set<std::shared_ptr<Exchange>> live;
    {
        std::lock_guard lock(m_mutex);
        if (!m_pLast)
            m_pLast = std::make_unique<Response>(last);
        live = m_live;
    }
    for (const auto& exchange : live)
        exchange->Send(last);
    // No password thread may resume a connection of a stopped daemon: they end first (a check
    // running finishes; the requests it would answer already have last).
    if (m_pPasswords)
        m_pPasswords->Stop();
    // libmicrohttpd must not be stopped with a request still suspended: the loop lets the
    // resumed ones leave their suspension first.
    const auto until = std::chrono::steady_clock::now() + kStopWait;
    while (m_nSuspended > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    m_bLoopEnds = true;
    Wake();
    m_loop.join();
    if (m_nSuspended > 0)
        return; // left unstopped rather than stopped against its rules; the process is ending
    std::lock_guard lock(m_listenMutex);
    for (const Listener& listener : m_listeners) {
        MHD_stop_daemon(listener.daemon);
        // libmicrohttpd does not close a listening socket it was given.
        ::close(listener.fd);
    }
    m_listeners.clear();
}
